#include "api_status.h"

#include <initializer_list>

namespace {

struct ApiStatuses {
    const char *name;
    std::initializer_list<int> listed; // named in the function's description
    bool translates;                   // passes on a translated JTAG failure
};

// Indexed by Api. SLD_NO_FREE_SLOT is listed where a call allocates.
const ApiStatuses API_STATUSES[] = {
    {"sld_get_version", {0, 100}, false},
    {"sld_get_hardware", {0, 1, 9, 100}, false},
    {"sld_get_hardware_name", {0, 1, 9, 100}, true},
    {"sld_get_hardware_persistent_id", {0, 1, 9, 100}, false},
    {"sld_refresh_hardware", {0, 9}, false},
    {"sld_get_device", {0, 1, 2, 9, 100}, true},
    {"sld_refresh_device", {0, 9, 100}, false},
    {"sld_hub_open", {0, 1, 2, 4, 8, 9, 100}, true},
    {"sld_hub_close", {0, 3, 10}, false},
    {"sld_scx_device_open", {0, 1, 2, 9, 60, 100}, true},
    {"sld_hub_get_scx_open_id", {0, 2, 100}, false},
    {"sld_hub_get_number_of_nodes", {0, 3, 12, 100}, false},
    {"sld_hub_get_node_info", {0, 3, 6, 12, 100}, false},
    {"sld_node_open", {0, 3, 6, 9, 12, 100}, false},
    {"sld_node_close", {0, 5}, false},
    {"sld_hub_lock", {0, 2, 9, 60}, true},
    {"sld_hub_unlock", {0, 2, 61}, true},
    {"sld_node_lock", {0, 5, 9, 12, 60}, true},
    {"sld_node_lock_manual", {0, 5, 9, 12, 60}, true},
    {"sld_node_unlock", {0, 5, 12, 61}, true},
    {"sld_node_access_ir", {0, 4, 5, 12, 50, 52}, true},
    {"sld_node_access_dr", {0, 5, 12}, true},
    {"sld_node_batch_access", {0, 4, 5, 12, 50, 52, 100}, true},
    {"sld_node_rti", {0, 5, 12}, true},
    {"sld_node_flush", {0, 5, 12, 61}, true},
    {"sld_node_delay", {0, 5, 12, 61}, true},
    {"sld_hub_broadcast_begin", {0, 3, 9, 12, 50}, false},
    {"sld_hub_broadcast_end", {0, 3, 12, 51}, true},
};

static_assert(sizeof API_STATUSES / sizeof API_STATUSES[0] == static_cast<unsigned>(Api::count),
              "one entry per function");

} // namespace

const char *api_name(Api fn) {
    return API_STATUSES[static_cast<int>(fn)].name;
}

bool is_translated_status(SLD_ERROR status) {
    switch (status) {
    case SLD_HARDWARE_NOT_FOUND:
    case SLD_DEVICE_NOT_FOUND:
    case SLD_JTAG_ERROR:
    case SLD_SERVER_ERROR:
    case SLD_STALE_ID:
    case SLD_ALREADY_LOCKED:
    case SLD_NOT_LOCKED:
    case SLD_SERVER_ERROR_70:
        return true;
    default:
        return false;
    }
}

bool status_documented(Api fn, SLD_ERROR status) {
    const ApiStatuses &entry = API_STATUSES[static_cast<int>(fn)];
    for (int listed : entry.listed)
        if (listed == status)
            return true;
    return entry.translates && is_translated_status(status);
}
