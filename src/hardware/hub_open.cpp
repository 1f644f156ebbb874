// Turning a hardware name and a device string into a hub id, and giving a
// hub id back.
#include "frame/manager.h"
#include "hardware/device.h"
#include "hardware/hardware.h"
#include "hub/hub.h"

int ROZI_VUV_MANAGER::create_hub(const char *hardware_name, const char *device_string) {
    ROZI_VUV_CALL_LEVEL level(this);
    ROZI_VUV_DEVICE *device = get_device(hardware_name);
    if (device == nullptr)
        return -1;
    ROZI_VUV_HUB *hub = device->create_hub(device_string);
    if (hub == nullptr) {
        // The chain may have changed under the old list: read it afresh.
        device = create_device(hardware_name);
        if (device == nullptr)
            return -1;
        hub = device->create_hub(device_string);
        if (hub == nullptr)
            return -1;
    }

    if (!hub->is_supported_hub_version()) {
        device->delete_hub(hub);
        last_error = SLD_UNSUPPORTED_HUB;
        return -3;
    }
    if (!hub->valid) {
        // Discovery that could not look (a lock or a scan failed, memory ran
        // out) leaves its reason; only a device that answered with a word
        // that is no hub, or none at all, is "no hub".
        SLD_ERROR reason = last_error != SLD_OK ? last_error : SLD_HUB_NOT_FOUND;
        device->delete_hub(hub);
        last_error = reason;
        return -1;
    }
    int hub_id = take_hub_slot(hub, device);
    if (hub_id < 0) {
        device->delete_hub(hub);
        last_error = SLD_NO_FREE_SLOT;
        return -1;
    }
    return hub_id;
}

SLD_ERROR ROZI_VUV_MANAGER::close_hub(int hub_id) {
    if (static_cast<unsigned>(hub_id) >= static_cast<unsigned>(SLD_HUB_TABLE_SIZE))
        return SLD_INVALID_HUB_ID;
    ROZI_VUV_HUB_SLOT &slot = hub_table[hub_id];
    if (!slot.in_use)
        return SLD_INVALID_HUB_ID;
    if (slot.open_node_count != 0)
        return SLD_HUB_HAS_OPEN_NODES;
    if (slot.device != nullptr && slot.hub != nullptr)
        slot.device->delete_hub(slot.hub);
    free_hub_slot(hub_id);
    return SLD_OK;
}
