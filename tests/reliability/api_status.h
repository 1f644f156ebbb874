// The statuses each sld_ function may return: the values its description
// in sld.h lists, the translations of a failed JTAG call where it makes
// one, and SLD_NO_FREE_SLOT where it allocates.
#ifndef SLD_TESTS_RELIABILITY_API_STATUS_H
#define SLD_TESTS_RELIABILITY_API_STATUS_H

#include "sld.h"

enum class Api {
    get_version,
    get_hardware,
    get_hardware_name,
    get_hardware_persistent_id,
    refresh_hardware,
    get_device,
    refresh_device,
    hub_open,
    hub_close,
    scx_device_open,
    hub_get_scx_open_id,
    hub_get_number_of_nodes,
    hub_get_node_info,
    node_open,
    node_close,
    hub_lock,
    hub_unlock,
    node_lock,
    node_lock_manual,
    node_unlock,
    node_access_ir,
    node_access_dr,
    node_batch_access,
    node_rti,
    node_flush,
    node_delay,
    hub_broadcast_begin,
    hub_broadcast_end,
    count
};

const char *api_name(Api fn);

// Whether fn may return status at all.
bool status_documented(Api fn, SLD_ERROR status);

// Whether status is what a failed JTAG call translates into.
bool is_translated_status(SLD_ERROR status);

#endif
