// What the fuzzer knows about the default board: the names and device
// strings to pass (real ones, near misses and junk), the JSON of its cables
// and devices for hot-plug, and the answers the library gives on the
// untouched board, learned once at start.
#ifndef SLD_TESTS_FUZZ_CATALOG_H
#define SLD_TESTS_FUZZ_CATALOG_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sld.h"

struct CleanDeviceAnswer {
    SLD_ERROR status;
    unsigned long count;
};

struct Catalog {
    std::vector<std::string> names;   // hardware names to pass
    std::vector<std::string> devices; // device strings to pass
    std::vector<unsigned long> cable_ids;
    std::map<unsigned long, std::string> cable_json;
    std::vector<std::string> device_json;
    std::vector<std::string> new_cable_names;
    std::vector<unsigned long> idcodes;

    // Answers on the untouched board.
    std::vector<std::string> hardware;                              // sld_get_hardware
    std::map<std::string, unsigned long> persistent_ids;            // by name; absent: not found
    std::map<unsigned long, std::string> short_names;               // by persistent id
    std::map<std::string, CleanDeviceAnswer> device_answers;        // sld_get_device by name
    std::map<std::pair<std::string, std::string>, SLD_ERROR> opens; // sld_hub_open by name, device
};

// Reads the board and asks the library; the library and the simulator must
// be untouched. Leaves nothing open.
void build_catalog(Catalog *catalog);

#endif
