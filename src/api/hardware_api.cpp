// Exported functions of the hardware list and the device lists.
#include "frame/manager.h"
#include "hardware/device.h"
#include "hardware/hardware.h"

// The status for "nothing found": running out of memory on the way says so.
static SLD_ERROR not_found_status(const ROZI_VUV_MANAGER *manager, SLD_ERROR otherwise) {
    return manager->last_error == SLD_NO_FREE_SLOT ? SLD_NO_FREE_SLOT : otherwise;
}

extern "C" SLD_API SLD_ERROR sld_get_hardware(unsigned long *count, char ***names) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (count == nullptr || names == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HARDWARE *hardware = manager->get_hardware();
    if (hardware == nullptr)
        return manager->last_error;
    hardware->refresh();
    // Only names actually in the table are counted.
    unsigned long listed = hardware->get_name_count();
    char **table = listed != 0 ? hardware->get_hardware_string_vec() : nullptr;
    if (listed != 0 && table == nullptr) {
        *count = 0;
        return SLD_NO_FREE_SLOT;
    }
    *count = listed;
    if (listed == 0)
        return not_found_status(manager, SLD_HARDWARE_NOT_FOUND);
    *names = table;
    return SLD_OK;
}

extern "C" SLD_API SLD_ERROR sld_get_hardware_name(unsigned long persistent_id, char **name) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (name == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    char *found = manager->find_hardware_name(persistent_id);
    *name = found;
    if (found != nullptr)
        return SLD_OK;
    return manager->last_error != SLD_OK ? manager->last_error : SLD_HARDWARE_NOT_FOUND;
}

extern "C" SLD_API SLD_ERROR sld_get_hardware_persistent_id(const char *name, unsigned long *persistent_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (name == nullptr || persistent_id == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    unsigned long id = manager->find_persistent_id(name);
    *persistent_id = id;
    if (id != 0)
        return SLD_OK;
    return not_found_status(manager, SLD_HARDWARE_NOT_FOUND);
}

extern "C" SLD_API SLD_ERROR sld_refresh_hardware(void) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HARDWARE *hardware = manager->get_hardware();
    if (hardware != nullptr)
        hardware->refresh();
    return not_found_status(manager, SLD_OK);
}

extern "C" SLD_API SLD_ERROR sld_get_device(const char *hardware_name, unsigned long *count,
                                            char ***devices) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (hardware_name == nullptr || count == nullptr || devices == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_DEVICE *device = manager->get_device(hardware_name);
    if (device == nullptr)
        return manager->last_error != SLD_OK ? manager->last_error : SLD_HARDWARE_NOT_FOUND;
    device->refresh();
    unsigned long n = device->get_device_count();
    *count = n;
    if (n == 0) {
        *devices = nullptr;
        return not_found_status(manager, SLD_DEVICE_NOT_FOUND);
    }
    *devices = device->get_device_string_vec();
    return SLD_OK;
}

extern "C" SLD_API SLD_ERROR sld_refresh_device(const char *hardware_name) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (hardware_name == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_DEVICE *device = manager->get_device(hardware_name);
    if (device != nullptr)
        device->refresh();
    return not_found_status(manager, SLD_OK);
}
