// Building the hardware list: enumerating the JTAG hardware, matching the
// records to entries by persistent id, naming new entries and sweeping out
// the hardware that is gone.
#include <cstdio>
#include <cstring>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hardware/device.h"
#include "hardware/hardware.h"

const char UNKNOWN_CHAIN_HARDWARE[] = "unknown chain hardware";
// Longer than any name a server gives a cable; a larger length is corrupt.
const unsigned long SLD_LONGEST_HARDWARE_NAME = 65535;

ROZI_VUV_HARDWARE::ROZI_VUV_HARDWARE() : entry_count(0), entries(nullptr) {}

ROZI_VUV_HARDWARE::~ROZI_VUV_HARDWARE() {
    while (entries != nullptr) {
        ROZI_VUV_HARDWARE_INFO *entry = entries;
        entries = entry->next_entry;
        destroy_entry(entry);
    }
    entry_count = 0;
}

// Frees an unlinked entry with its device objects, current and replaced;
// their hub ids become stale.
void ROZI_VUV_HARDWARE::destroy_entry(ROZI_VUV_HARDWARE_INFO *entry) {
    if (entry->device != nullptr)
        sld_delete(entry->device);
    while (entry->retired_devices != nullptr) {
        ROZI_VUV_DEVICE *device = entry->retired_devices;
        entry->retired_devices = device->retired_next;
        sld_delete(device);
    }
    sld_delete(entry);
}

bool ROZI_VUV_HARDWARE::create_hardware_name(char **destination, const SCX_HARDWARE *record, bool long_name) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    unsigned long length = 0;
    SCX_ERROR result = scx_print_hardware_name(record->chain, nullptr, 0, long_name, &length);
    const char *text = UNKNOWN_CHAIN_HARDWARE;
    char *buffer = nullptr;
    if (result == 33) {
        // The server knows no name for this hardware.
    } else if (result != SCX_TOO_MANY_DEVICES) {
        std::fprintf(stderr, "%s\n", "scx_error == SCX_TOO_MANY_DEVICES");
    } else if (length == 0) {
        std::fprintf(stderr, "%s\n", "name_len > 0");
    } else if (length > SLD_LONGEST_HARDWARE_NAME) {
        // No server names a cable like that: a corrupt length, not a name.
    } else {
        buffer = sld_new_array<char>(length + 1);
        if (buffer == nullptr) {
            manager->last_error = SLD_NO_FREE_SLOT;
            return false;
        }
        result = scx_print_hardware_name(record->chain, buffer, length, long_name, nullptr);
        if (result == SCX_NO_ERROR)
            text = buffer;
        else
            std::fprintf(stderr, "%s\n", "scx_error == SCX_NO_ERROR");
    }
    char *pooled = manager->store_string(text);
    sld_delete_array(buffer);
    if (pooled == nullptr) {
        manager->last_error = SLD_NO_FREE_SLOT;
        return false;
    }
    *destination = pooled;
    return true;
}

// Whether an entry's names must be made (again) from the record matched to
// it: it has none yet, or its short name no longer begins with the
// record's name. A record without a name leaves existing names alone.
bool ROZI_VUV_HARDWARE::names_changed(const ROZI_VUV_HARDWARE_INFO *entry) {
    if (entry->name == nullptr || entry->full_name == nullptr)
        return true;
    const char *reported = entry->pending_record->name;
    if (reported == nullptr)
        return false;
    return std::strncmp(entry->name, reported, std::strlen(reported)) != 0;
}

// Matches the fetched records to entries; new hardware is appended at the
// tail. false (last error SLD_NO_FREE_SLOT) when an entry cannot be made.
// The entry with that persistent id, searched from start to the end of the
// list and then from the head up to start.
ROZI_VUV_HARDWARE_INFO *ROZI_VUV_HARDWARE::find_from(ROZI_VUV_HARDWARE_INFO *start,
                                                     unsigned long persistent_id) {
    for (ROZI_VUV_HARDWARE_INFO *entry = start; entry != nullptr; entry = entry->next_entry)
        if (entry->persistent_id == persistent_id)
            return entry;
    for (ROZI_VUV_HARDWARE_INFO *entry = entries; entry != start; entry = entry->next_entry)
        if (entry->persistent_id == persistent_id)
            return entry;
    return nullptr;
}

bool ROZI_VUV_HARDWARE::match_records(const SCX_HARDWARE *records, unsigned long n) {
    ROZI_VUV_HARDWARE_INFO *cursor = entries;
    ROZI_VUV_HARDWARE_INFO **tail = &entries;
    while (*tail != nullptr)
        tail = &(*tail)->next_entry;
    for (unsigned long i = 0; i < n; ++i) {
        const SCX_HARDWARE *record = &records[i];
        if ((record->flags & 0x5) != 0)
            continue;
        // Persistent ids are unique in the list, so the search may start after
        // the last match and wrap around: servers list hardware in a stable
        // order, which keeps a build linear in the number of records.
        ROZI_VUV_HARDWARE_INFO *entry = find_from(cursor, record->persistent_id);
        if (entry == nullptr) {
            entry = sld_new<ROZI_VUV_HARDWARE_INFO>();
            if (entry == nullptr) {
                ROZI_VUV_MANAGER::get_manager()->last_error = SLD_NO_FREE_SLOT;
                return false;
            }
            entry->persistent_id = record->persistent_id;
            entry->chain = record->chain;
            *tail = entry;
            tail = &entry->next_entry;
        }
        entry->present = true;
        entry->pending_record = record;
        cursor = entry->next_entry;
    }
    return true;
}

bool ROZI_VUV_HARDWARE::build_hardware_list() {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    for (ROZI_VUV_HARDWARE_INFO *entry = entries; entry != nullptr; entry = entry->next_entry)
        entry->present = false;

    bool ok = false;
    SCX_HARDWARE *records = nullptr;
    unsigned long n = 0;
    SCX_ERROR result = scx_get_hardware(&n, nullptr, 10000);
    if (result != SCX_TOO_MANY_DEVICES) {
        manager->set_last_error_from_scx_error(result);
    } else if ((records = sld_new_array<SCX_HARDWARE>(n)) == nullptr) {
        manager->last_error = SLD_NO_FREE_SLOT;
    } else {
        const unsigned long room = n;
        result = scx_get_hardware(&n, records, 0);
        if (result == SCX_NO_ERROR || result == 2) {
            // Never believe more records than there was room for.
            if (n > room)
                n = room;
            ok = match_records(records, n);
        } else {
            manager->set_last_error_from_scx_error(result);
        }
    }

    if (!ok) {
        for (ROZI_VUV_HARDWARE_INFO *entry = entries; entry != nullptr; entry = entry->next_entry)
            entry->present = false;
    }
    if (!sweep())
        ok = false;
    sld_delete_array(records);
    return ok;
}

// Keeps and names the entries seen by this build and removes the others.
// false when a name cannot be stored: then every entry goes, as after a
// failed enumeration.
bool ROZI_VUV_HARDWARE::sweep() {
    entry_count = 0;
    bool named = true;
    ROZI_VUV_HARDWARE_INFO **link = &entries;
    while (*link != nullptr) {
        ROZI_VUV_HARDWARE_INFO *entry = *link;
        if (entry->present) {
            if (names_changed(entry)) {
                named = create_hardware_name(&entry->name, entry->pending_record, false) &&
                        create_hardware_name(&entry->full_name, entry->pending_record, true);
                if (!named)
                    break;
            }
            entry->pending_record = nullptr;
            ++entry_count;
            link = &entry->next_entry;
        } else {
            *link = entry->next_entry;
            destroy_entry(entry);
        }
    }
    if (named)
        return true;

    while (entries != nullptr) {
        ROZI_VUV_HARDWARE_INFO *entry = entries;
        entries = entry->next_entry;
        destroy_entry(entry);
    }
    entry_count = 0;
    ROZI_VUV_MANAGER::get_manager()->last_error = SLD_NO_FREE_SLOT;
    return false;
}
