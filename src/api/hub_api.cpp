// Exported functions that open and close hubs and hand out device handles.
#include "frame/manager.h"
#include "hardware/device.h"
#include "hardware/hardware.h"
#include "hub/hub.h"

extern "C" SLD_API SLD_ERROR sld_hub_open(const char *hardware_name, const char *device_string, int *hub_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (hardware_name == nullptr || device_string == nullptr || hub_id == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    int result = manager->create_hub(hardware_name, device_string);
    *hub_id = result;
    if (result >= 0)
        return SLD_OK;
    // Every failing step leaves its reason; never report a failure as success.
    return manager->last_error != SLD_OK ? manager->last_error : SLD_HUB_NOT_FOUND;
}

extern "C" SLD_API SLD_ERROR sld_hub_close(int hub_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    return manager->close_hub(hub_id);
}

extern "C" SLD_API SLD_ERROR sld_scx_device_open(const char *hardware_name, const char *device_string,
                                                 SCX_OPEN **handle) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (hardware_name == nullptr || device_string == nullptr || handle == nullptr)
        return SLD_NULL_ARGUMENT;
    // Held across the lookups too: a lookup may build the hardware list.
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HARDWARE *hardware = manager->get_hardware();
    if (hardware == nullptr)
        return manager->last_error;
    ROZI_VUV_DEVICE *device = hardware->get_device(hardware_name);
    if (device == nullptr)
        return manager->last_error == SLD_NO_FREE_SLOT ? SLD_NO_FREE_SLOT : SLD_HARDWARE_NOT_FOUND;
    SCX_OPEN *opened = device->create_scx_open_id(device_string);
    *handle = opened;
    if (opened != nullptr)
        return SLD_OK;
    return manager->last_error != SLD_OK ? manager->last_error : SLD_JTAG_ERROR;
}

extern "C" SLD_API SLD_ERROR sld_hub_get_scx_open_id(int hub_id, SCX_OPEN **handle) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (handle == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return SLD_DEVICE_NOT_FOUND;
    *handle = hub->open_handle;
    return SLD_OK;
}
