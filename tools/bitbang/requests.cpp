// Decoding remote_bitbang requests into pin steps.
#include "requests.h"

#include <cstdio>

namespace bitbang {

using scxsim::PinStep;

Decoded decode_requests(const char *data, size_t n, std::vector<PinStep> *steps) {
    Decoded d;
    for (; d.used < n; ++d.used) {
        const char c = data[d.used];
        const Request r = request_of(c);
        if (r == Request::drive) {
            const unsigned v = unsigned(c - '0');
            steps->push_back(PinStep::drive(v & 4, v & 2, v & 1));
        } else if (r == Request::sample) {
            steps->push_back(PinStep::sample());
        } else if (r == Request::reset) {
            const unsigned v = unsigned(c - 'r');
            steps->push_back(PinStep::reset(v & 2, v & 1));
        } else if (r != Request::light) { // no light to switch
            d.stop = r == Request::quit ? Stop::quit : Stop::bad_byte;
            ++d.used;
            break;
        }
    }
    return d;
}

std::string bad_byte_message(unsigned char byte) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "the client sent byte 0x%02X, which is not a remote_bitbang request; closing the connection", byte);
    return text;
}

} // namespace bitbang
