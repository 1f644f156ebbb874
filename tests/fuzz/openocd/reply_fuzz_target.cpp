// libFuzzer entry for the OpenOCD backend's reply parsing: every input is
// taken as a reply (after a 3-byte header: scan length and read length),
// as a scan answer and as a scan_chain table. Nothing may crash, read or
// write out of bounds (AddressSanitizer), or break the parsers' promises:
// a refused input writes nothing, an accepted scan answer clears the bits
// past the read length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "chain_listing.h"
#include "reply.h"
#include "scan_hex.h"

using namespace scxopenocd::detail;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void scan_answer(std::string_view hex, unsigned long length, unsigned long read_length) {
    const size_t bytes = (read_length + 7) / 8;
    // Exactly the bytes the read length allows, so an overrun is caught.
    std::vector<unsigned char> out(bytes, 0xA5);
    const bool ok = hex_to_bits(hex, length, bytes ? out.data() : nullptr, read_length);
    if (!ok) {
        for (unsigned char b : out) {
            check(b == 0xA5);
        }
        return;
    }
    check(read_length <= length && hex.size() == 2 * ((length + 7) / 8));
    if (read_length % 8) {
        check((out.back() >> (read_length % 8)) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const unsigned long length = (unsigned long)(data[0] | data[1] << 8) + 1;
    const unsigned long read_length = length ? data[2] % (length + 2) : 0;
    const std::string_view text(reinterpret_cast<const char *>(data + 3), size - 3);

    Reply reply;
    reply.payload = "unchanged";
    if (parse_reply(text, "7", &reply)) {
        check(text.substr(0, 2) == "7 ");
        check(reply.kind == ReplyKind::done || reply.payload.size() <= MAX_ERROR_TEXT);
        if (reply.kind == ReplyKind::done) {
            scan_answer(reply.payload, length, read_length);
        }
    } else {
        check(reply.payload == "unchanged");
    }
    scan_answer(text, length, read_length);

    Listing listing = {Tap()};
    std::string error;
    if (parse_scan_chain(text, &listing, &error)) {
        check(listing.size() <= MAX_TAPS);
        for (const Tap &tap : listing) {
            check(!tap.usable || (name_is_safe(tap.name) && tap.ir_length >= 1 && tap.ir_length <= 64));
        }
    } else {
        check(listing.size() == 1 && !error.empty());
    }
    return 0;
}
