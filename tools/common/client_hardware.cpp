// The only file of the tool that talks to the JTAG client library itself,
// through the boundary every such library provides.
#include "client_hardware.h"

#include <vector>

#include "scx/scx.h"

namespace sldtool {

namespace {

const unsigned long QUERY_TIMEOUT = 10000;
const SCX_ERROR SCX_PARTIAL_LIST = 2;
const unsigned long SKIPPED_RECORD_FLAGS = 0x1 | 0x4;
// Longest name believed; anything longer is a broken answer.
const unsigned long MAX_NAME_LENGTH = 65536;
// Most records believed from one count query.
const unsigned long MAX_RECORDS = 65536;

// The hardware records the client lists, without the ones the library
// skips; empty when the client does not answer.
std::vector<SCX_HARDWARE> usable_records() {
    unsigned long count = 0;
    if (scx_get_hardware(&count, nullptr, QUERY_TIMEOUT) != SCX_TOO_MANY_DEVICES || count == 0 ||
        count > MAX_RECORDS) {
        return {};
    }
    std::vector<SCX_HARDWARE> records(count, SCX_HARDWARE());
    unsigned long fetched = count;
    SCX_ERROR result = scx_get_hardware(&fetched, records.data(), 0);
    if (result != SCX_NO_ERROR && result != SCX_PARTIAL_LIST) {
        return {};
    }
    records.resize(fetched < count ? fetched : count);
    std::vector<SCX_HARDWARE> usable;
    for (const SCX_HARDWARE &record : records) {
        if (!(record.flags & SKIPPED_RECORD_FLAGS)) {
            usable.push_back(record);
        }
    }
    return usable;
}

// The full name of the hardware on that chain; false when it has none.
bool full_name_of(SCX_CHAIN *chain, std::string *full_name) {
    unsigned long length = 0;
    SCX_ERROR result = scx_print_hardware_name(chain, nullptr, 0, true, &length);
    // A hardware without a name answers 33 instead of the size answer.
    if (result != SCX_TOO_MANY_DEVICES || length == 0 || length > MAX_NAME_LENGTH) {
        return false;
    }
    std::vector<char> buffer(length + 1, '\0');
    if (scx_print_hardware_name(chain, buffer.data(), length, true, nullptr) != SCX_NO_ERROR) {
        return false;
    }
    *full_name = buffer.data();
    return true;
}

} // namespace

std::vector<ClientHardware> client_hardware() {
    std::vector<ClientHardware> hardware;
    for (const SCX_HARDWARE &record : usable_records()) {
        ClientHardware entry;
        entry.persistent_id = record.persistent_id;
        entry.has_full_name = full_name_of(record.chain, &entry.full_name);
        hardware.push_back(entry);
    }
    return hardware;
}

bool hardware_full_name(unsigned long persistent_id, std::string *full_name) {
    bool found = false;
    // The last record of that id counts, as for the library.
    for (const ClientHardware &entry : client_hardware()) {
        if (entry.persistent_id == persistent_id) {
            found = entry.has_full_name;
            if (found) {
                *full_name = entry.full_name;
            }
        }
    }
    return found;
}

} // namespace sldtool
