// The device list of one chain: reading the chain under its lock, keeping
// records, device strings and per-position hubs in step with it.
#include <cstdio>
#include <cstring>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hardware/device.h"
#include "hub/hub.h"

ROZI_VUV_DEVICE::ROZI_VUV_DEVICE(SCX_CHAIN *chain_handle)
    : device_count(0), device_strings(nullptr), device_records(nullptr), hubs(nullptr), chain(chain_handle),
      retired_next(nullptr), predecessor(nullptr), read_buffer(nullptr), read_buffer_size(0) {}

ROZI_VUV_DEVICE::~ROZI_VUV_DEVICE() {
    // Hub ids opened through this object must not reach it once it is gone.
    ROZI_VUV_MANAGER::get_manager()->invalidate_hub_id(this);
    wipe();
    sld_delete_array(read_buffer);
}

SCX_DEVICE *ROZI_VUV_DEVICE::records_to_read(unsigned long n) {
    if (n > read_buffer_size) {
        SCX_DEVICE *bigger = sld_new_array<SCX_DEVICE>(n);
        if (bigger == nullptr) {
            ROZI_VUV_MANAGER::get_manager()->last_error = SLD_NO_FREE_SLOT;
            return nullptr;
        }
        sld_delete_array(read_buffer);
        read_buffer = bigger;
        read_buffer_size = n;
    }
    std::memset(static_cast<void *>(read_buffer), 0, n * sizeof(SCX_DEVICE));
    return read_buffer;
}

// Pooled copy of the device string of one position; null when out of memory.
char *ROZI_VUV_DEVICE::store_device_string(unsigned long position, const SCX_DEVICE &record) {
    char text[SLD_DEVICE_STRING_SIZE];
    std::snprintf(text, sizeof text, "@%d: %s (0x%08X)", static_cast<int>(position + 1),
                  record.name != nullptr ? record.name : "unknown device",
                  static_cast<unsigned int>(record.idcode));
    return ROZI_VUV_MANAGER::get_manager()->store_string(text);
}

void ROZI_VUV_DEVICE::destroy_hub_at(unsigned long position) {
    ROZI_VUV_HUB *hub = hubs[position];
    if (hub == nullptr)
        return;
    // Cleared first: the hub's destruction must not find itself here.
    hubs[position] = nullptr;
    sld_delete(hub);
}

// Judges the hubs of the replaced object by this object's fresh list, as a
// refresh of the old object would: a hub on an unchanged device moves here
// with its hub ids, one on a changed device or a chain of another length
// ends and its ids go stale.
void ROZI_VUV_DEVICE::take_over_hubs(ROZI_VUV_DEVICE *old) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    for (unsigned long p = 0; p < old->device_count; ++p) {
        ROZI_VUV_HUB *hub = old->hubs[p];
        if (hub == nullptr)
            continue;
        bool same = old->device_count == device_count && hubs[p] == nullptr &&
                    old->device_records[p].idcode == device_records[p].idcode;
        if (!same) {
            old->destroy_hub_at(p);
            continue;
        }
        old->hubs[p] = nullptr;
        hubs[p] = hub;
        manager->move_hub_ids(hub, old, this);
    }
}

void ROZI_VUV_DEVICE::release_strings() {
    ROZI_VUV_MANAGER::get_manager()->release_device_table(device_strings, this);
}

void ROZI_VUV_DEVICE::wipe() {
    // The table handed out keeps the strings it holds now.
    release_strings();
    if (hubs != nullptr) {
        for (unsigned long p = 0; p < device_count; ++p)
            destroy_hub_at(p);
    }
    sld_delete_array(hubs);
    sld_delete_array(device_records);
    hubs = nullptr;
    device_strings = nullptr;
    device_records = nullptr;
    device_count = 0;
}

// Brings the list in line with n fresh records read under the chain lock.
// false (last error SLD_NO_FREE_SLOT) when memory runs out; the caller
// then wipes the list, so a partial update never survives. A changed count
// hands out another table and leaves the old one as it was; the same count
// rewrites the strings of changed positions in the table this object owns,
// so that a caller holding it reads the chain as it is now.
bool ROZI_VUV_DEVICE::update_from_records(const SCX_DEVICE *records, unsigned long n) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (n != device_count) {
        SCX_DEVICE *new_records = nullptr;
        char **new_strings = nullptr;
        ROZI_VUV_HUB **new_hubs = nullptr;
        if (n != 0) {
            new_records = sld_new_array<SCX_DEVICE>(n);
            char **texts = sld_new_array<char *>(n);
            new_hubs = sld_new_array<ROZI_VUV_HUB *>(n);
            bool ok = new_records != nullptr && texts != nullptr && new_hubs != nullptr;
            for (unsigned long p = 0; ok && p < n; ++p) {
                new_records[p] = records[p];
                texts[p] = store_device_string(p, records[p]);
                ok = texts[p] != nullptr;
            }
            // Released first, so that the new table is never the old one.
            if (ok) {
                release_strings();
                ok = (new_strings = manager->claim_device_table(texts, n, this)) != nullptr;
            }
            sld_delete_array(texts);
            if (!ok) {
                sld_delete_array(new_records);
                sld_delete_array(new_hubs);
                manager->last_error = SLD_NO_FREE_SLOT;
                return false;
            }
        }
        wipe();
        device_records = new_records;
        device_strings = new_strings;
        hubs = new_hubs;
        device_count = n;
        return true;
    }

    // The same length: only positions whose IDCODE changed get a new
    // string. All of them are made before any is written, so a failure
    // leaves the table as it was.
    char **texts = nullptr;
    for (unsigned long p = 0; p < n; ++p) {
        if (records[p].idcode == device_records[p].idcode)
            continue;
        if (texts == nullptr && (texts = sld_new_array<char *>(n)) == nullptr) {
            manager->last_error = SLD_NO_FREE_SLOT;
            return false;
        }
        texts[p] = store_device_string(p, records[p]);
        if (texts[p] == nullptr) {
            sld_delete_array(texts);
            return false;
        }
    }
    if (texts == nullptr)
        return true; // nothing changed
    for (unsigned long p = 0; p < n; ++p) {
        if (records[p].idcode == device_records[p].idcode)
            continue;
        device_records[p] = records[p];
        destroy_hub_at(p);
        device_strings[p] = texts[p];
    }
    sld_delete_array(texts);
    return true;
}

bool ROZI_VUV_DEVICE::build_device_list(SCX_CHAIN *chain_handle) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);

    SCX_ERROR result = scx_lock_chain(chain_handle, 6000);
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        wipe();
        return false;
    }

    unsigned long n = 0;
    result = scx_scan_device_chain(chain_handle);
    if (result == SCX_NO_ERROR || result == 36)
        result = scx_read_device_chain(chain_handle, &n, nullptr, true);

    if (result == SCX_TOO_MANY_DEVICES && n > 0) {
        const unsigned long room = n;
        SCX_DEVICE *records = records_to_read(room);
        bool ok = false;
        if (records != nullptr) {
            result = scx_read_device_chain(chain_handle, &n, records, true);
            if (result != SCX_NO_ERROR) {
                manager->set_last_error_from_scx_error(result);
            } else {
                // Never believe more records than there was room for.
                if (n > room)
                    n = room;
                ok = update_from_records(records, n);
            }
        }
        if (!ok) {
            scx_unlock_chain(chain_handle);
            wipe();
            return false;
        }
        result = scx_unlock_chain(chain_handle);
        if (result != SCX_NO_ERROR) {
            manager->set_last_error_from_scx_error(result);
            wipe();
            return false;
        }
        if (predecessor != nullptr) {
            take_over_hubs(predecessor);
            predecessor = nullptr;
        }
        return true;
    }

    if (result != SCX_NO_ERROR) {
        if (result == 87)
            manager->last_error = SLD_DEVICE_NOT_FOUND;
        else
            manager->set_last_error_from_scx_error(result);
        scx_unlock_chain(chain_handle);
        wipe();
        return false;
    }

    // The count query answered "nothing new": the list stays as it is.
    result = scx_unlock_chain(chain_handle);
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        wipe();
        return false;
    }
    return true;
}

unsigned long ROZI_VUV_DEVICE::find_vec_index(const char *device_string) {
    if (device_count == 0) {
        build_device_list(chain);
        if (device_count == 0)
            return 0;
    }
    for (unsigned long p = 0; p < device_count; ++p) {
        if (std::strcmp(device_strings[p], device_string) == 0)
            return p;
    }
    return device_count;
}
