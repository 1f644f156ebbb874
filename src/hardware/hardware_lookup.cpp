// Lookups in the hardware list by name and persistent id, the name table,
// device objects for an entry's chain, and the manager's entry points.
#include <cstring>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hardware/device.h"
#include "hardware/hardware.h"

// Where get_hardware_string_vec() gathers the names before the pool hands
// out its table; only touched under the library mutex.
static char *name_vec[SLD_NAME_TABLE_SIZE];

ROZI_VUV_HARDWARE_INFO *ROZI_VUV_HARDWARE::find_hardware_info(const char *name) {
    if (entries == nullptr) {
        build_hardware_list();
        if (entries == nullptr)
            return nullptr;
    }
    for (ROZI_VUV_HARDWARE_INFO *entry = entries; entry != nullptr; entry = entry->next_entry) {
        bool named = (entry->name != nullptr && std::strcmp(entry->name, name) == 0) ||
                     (entry->full_name != nullptr && std::strcmp(entry->full_name, name) == 0);
        if (!named)
            continue;
        SCX_HARDWARE record = {};
        if (scx_find_hardware(entry->full_name, &record, 5000) != SCX_NO_ERROR)
            continue;
        if (record.chain == entry->chain)
            return entry;
        // The server gave the hardware a new chain: this lookup fails, the
        // next one finds the entry on the new chain.
        entry->chain = record.chain;
    }
    return nullptr;
}

ROZI_VUV_DEVICE *ROZI_VUV_HARDWARE::find_device(const char *name) {
    ROZI_VUV_HARDWARE_INFO *entry = find_hardware_info(name);
    if (entry == nullptr || entry->device == nullptr)
        return nullptr;
    // A device object left on a chain that an earlier lookup found replaced
    // would read a dead chain for ever: it counts as none, so that callers
    // make a fresh one on the entry's current chain.
    if (entry->device->chain != entry->chain)
        return nullptr;
    return entry->device;
}

unsigned long ROZI_VUV_HARDWARE::find_persistent_id(const char *name) {
    ROZI_VUV_HARDWARE_INFO *entry = find_hardware_info(name);
    return entry != nullptr ? entry->persistent_id : 0;
}

char *ROZI_VUV_HARDWARE::find_hardware_name(unsigned long persistent_id) {
    for (ROZI_VUV_HARDWARE_INFO *entry = entries; entry != nullptr; entry = entry->next_entry) {
        if (entry->persistent_id == persistent_id)
            return entry->name;
    }
    return nullptr;
}

unsigned long ROZI_VUV_HARDWARE::get_name_count() const {
    return entry_count < SLD_NAME_TABLE_SIZE ? entry_count : SLD_NAME_TABLE_SIZE;
}

// The pooled table of the short names: the same table while the names are
// the same, and one a caller may keep until unload whatever changes later.
char **ROZI_VUV_HARDWARE::get_hardware_string_vec() {
    unsigned long i = 0;
    for (ROZI_VUV_HARDWARE_INFO *entry = entries; entry != nullptr && i < SLD_NAME_TABLE_SIZE;
         entry = entry->next_entry)
        name_vec[i++] = entry->name;
    if (i == 0)
        return nullptr;
    return ROZI_VUV_MANAGER::get_manager()->store_string_table(name_vec, i);
}

void ROZI_VUV_HARDWARE::prune_retired_devices(ROZI_VUV_HARDWARE_INFO *entry) {
    ROZI_VUV_DEVICE **link = &entry->retired_devices;
    while (*link != nullptr) {
        ROZI_VUV_DEVICE *device = *link;
        bool holds_hub = false;
        for (unsigned long p = 0; p < device->device_count && !holds_hub; ++p)
            holds_hub = device->hubs[p] != nullptr;
        if (holds_hub) {
            link = &device->retired_next;
        } else {
            *link = device->retired_next;
            if (entry->device != nullptr && entry->device->predecessor == device)
                entry->device->predecessor = nullptr;
            sld_delete(device);
        }
    }
}

ROZI_VUV_DEVICE *ROZI_VUV_HARDWARE::create_device(const char *name) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    manager->last_error = SLD_OK;
    ROZI_VUV_HARDWARE_INFO *entry = find_hardware_info(name);
    if (entry == nullptr) {
        // A list that could not be built for want of memory says so.
        if (manager->last_error != SLD_NO_FREE_SLOT)
            manager->last_error = SLD_HARDWARE_NOT_FOUND;
        return nullptr;
    }
    ROZI_VUV_DEVICE *device = sld_new<ROZI_VUV_DEVICE>(entry->chain);
    if (device == nullptr) {
        manager->last_error = SLD_NO_FREE_SLOT;
        return nullptr;
    }
    // The object replaced stays with the entry while it holds hubs. Only an
    // object on the same chain hands them on to the new one: handles opened
    // on a chain the server has since replaced stay where they are. An object
    // that never read its chain holds no hubs and passes on the predecessor
    // it was still to take over from.
    ROZI_VUV_DEVICE *replaced = entry->device;
    if (replaced != nullptr) {
        replaced->release_strings();
        if (replaced->chain == entry->chain)
            device->predecessor = replaced->predecessor != nullptr ? replaced->predecessor : replaced;
        replaced->predecessor = nullptr;
        replaced->retired_next = entry->retired_devices;
        entry->retired_devices = replaced;
    }
    entry->device = device;
    prune_retired_devices(entry);
    return device;
}

ROZI_VUV_HARDWARE *ROZI_VUV_MANAGER::get_hardware() {
    if (hardware == nullptr) {
        hardware = sld_new<ROZI_VUV_HARDWARE>();
        if (hardware == nullptr)
            last_error = SLD_NO_FREE_SLOT;
    }
    return hardware;
}

ROZI_VUV_DEVICE *ROZI_VUV_MANAGER::get_device(const char *hardware_name) {
    ROZI_VUV_HARDWARE *list = get_hardware();
    if (list == nullptr)
        return nullptr;
    ROZI_VUV_DEVICE *device = list->get_device(hardware_name);
    if (device == nullptr)
        device = list->create_device(hardware_name);
    return device;
}

ROZI_VUV_DEVICE *ROZI_VUV_MANAGER::create_device(const char *hardware_name) {
    ROZI_VUV_HARDWARE *list = get_hardware();
    return list != nullptr ? list->create_device(hardware_name) : nullptr;
}

unsigned long ROZI_VUV_MANAGER::find_persistent_id(const char *hardware_name) {
    ROZI_VUV_HARDWARE *list = get_hardware();
    if (list == nullptr)
        return 0;
    list->refresh();
    return list->find_persistent_id(hardware_name);
}

char *ROZI_VUV_MANAGER::find_hardware_name(unsigned long persistent_id) {
    ROZI_VUV_HARDWARE *list = get_hardware();
    if (list == nullptr)
        return nullptr;
    list->refresh();
    return list->find_hardware_name(persistent_id);
}
