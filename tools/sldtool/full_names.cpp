// The only file of the tool that talks to the JTAG client library itself,
// through the boundary every such library provides.
#include "full_names.h"

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

// The chain of the last listed record with that persistent id, or null.
SCX_CHAIN *find_chain(unsigned long persistent_id) {
    unsigned long count = 0;
    if (scx_get_hardware(&count, nullptr, QUERY_TIMEOUT) != SCX_TOO_MANY_DEVICES || count == 0 ||
        count > MAX_RECORDS) {
        return nullptr;
    }
    std::vector<SCX_HARDWARE> records(count, SCX_HARDWARE());
    unsigned long fetched = count;
    SCX_ERROR result = scx_get_hardware(&fetched, records.data(), 0);
    if (result != SCX_NO_ERROR && result != SCX_PARTIAL_LIST) {
        return nullptr;
    }
    if (fetched > count) {
        fetched = count;
    }
    SCX_CHAIN *chain = nullptr;
    for (unsigned long i = 0; i < fetched; ++i) {
        const SCX_HARDWARE &record = records[i];
        if (record.persistent_id == persistent_id && !(record.flags & SKIPPED_RECORD_FLAGS)) {
            chain = record.chain;
        }
    }
    return chain;
}

} // namespace

bool hardware_full_name(unsigned long persistent_id, std::string *full_name) {
    SCX_CHAIN *chain = find_chain(persistent_id);
    if (chain == nullptr) {
        return false;
    }
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

} // namespace sldtool
