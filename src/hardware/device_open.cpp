// Opening devices of a chain: the shared hub of a position, raw handles for
// callers that drive a device themselves, and giving hub references back.
#include "frame/manager.h"
#include "frame/memory.h"
#include "hardware/device.h"
#include "hub/hub.h"

// What a hub client claims of the device: both hub instructions and the
// rest of the instruction and data space.
const SCX_CLAIM HUB_JTAG_CLAIMS[5] = {
    {0x300, 14}, {0x500, 12}, {0x101, 0}, {0x801, 0xFFFFFFFF}, {0x800, 0xFFFFFFFF},
};
const unsigned long HUB_JTAG_CLAIM_COUNT = 5;
const char HUB_APPLICATION_NAME[] = "SLD HUB CLIENT";
const char RAW_APPLICATION_NAME[] = "JTAG TCL COMMAND";

bool ROZI_VUV_DEVICE::open_position(unsigned long position, const char *application, SCX_OPEN **handle) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    SCX_ERROR result = scx_lock_chain(chain, 6000);
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        return false;
    }
    *handle = nullptr;
    result = scx_open_device(chain, position, handle, HUB_JTAG_CLAIMS, HUB_JTAG_CLAIM_COUNT, application);
    if (result == 38) {
        // The chain changed since it was last scanned: scan, then try once more.
        SCX_ERROR scan = scx_scan_device_chain(chain);
        if (scan != SCX_NO_ERROR && scan != 36) {
            manager->set_last_error_from_scx_error(scan);
            scx_unlock_chain(chain);
            return false;
        }
        *handle = nullptr;
        result = scx_open_device(chain, position, handle, HUB_JTAG_CLAIMS, HUB_JTAG_CLAIM_COUNT,
                                 HUB_APPLICATION_NAME);
    }
    if (result != SCX_NO_ERROR) {
        scx_unlock_chain(chain);
        manager->set_last_error_from_scx_error(result);
        return false;
    }
    return true;
}

ROZI_VUV_HUB *ROZI_VUV_DEVICE::create_hub(const char *device_string) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    unsigned long position = find_vec_index(device_string);
    if (position >= device_count || hubs == nullptr) {
        manager->last_error = SLD_DEVICE_NOT_FOUND;
        return nullptr;
    }
    if (hubs[position] != nullptr) {
        ++hubs[position]->ref_count;
        return hubs[position];
    }

    ROZI_VUV_CALL_LEVEL level(manager);
    SCX_OPEN *handle = nullptr;
    if (!open_position(position, HUB_APPLICATION_NAME, &handle))
        return nullptr;
    SCX_ERROR result = scx_unlock_chain(chain);
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        scx_close_device(handle);
        return nullptr;
    }
    ROZI_VUV_HUB *hub = sld_new<ROZI_VUV_HUB>(handle);
    if (hub == nullptr) {
        scx_close_device(handle);
        manager->last_error = SLD_NO_FREE_SLOT;
        return nullptr;
    }
    hub->ref_count = 1;
    hubs[position] = hub;
    return hub;
}

SCX_OPEN *ROZI_VUV_DEVICE::create_scx_open_id(const char *device_string) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    unsigned long position = find_vec_index(device_string);
    if (position >= device_count || hubs == nullptr) {
        manager->last_error = SLD_DEVICE_NOT_FOUND;
        return nullptr;
    }
    if (hubs[position] != nullptr) {
        // The hub owns the device while it is open; say why there is no handle.
        manager->last_error = SLD_ALREADY_LOCKED;
        return nullptr;
    }

    ROZI_VUV_CALL_LEVEL level(manager);
    SCX_OPEN *handle = nullptr;
    if (!open_position(position, RAW_APPLICATION_NAME, &handle))
        return nullptr;
    scx_unlock_chain(chain);
    return handle;
}

void ROZI_VUV_DEVICE::delete_hub(ROZI_VUV_HUB *hub) {
    if (--hub->ref_count != 0)
        return;
    if (device_count == 0)
        return;
    for (unsigned long p = 0; p < device_count; ++p) {
        if (hubs[p] == hub) {
            destroy_hub_at(p);
            return;
        }
    }
}
