// The string pool: every name handed to callers, and every table of names,
// is stored here once and kept until the manager goes, so the pointers stay
// valid until unload.
#include "frame/manager.h"

#include <cstring>

#include "frame/pooled_list.h"

char *ROZI_VUV_MANAGER::store_string(const char *text) {
    // A missing name is pooled as the empty string rather than read.
    if (text == nullptr)
        text = "";
    for (ROZI_VUV_POOLED_STRING *entry = string_pool; entry != nullptr; entry = entry->next) {
        if (std::strcmp(entry->text, text) == 0)
            return entry->text;
    }
    char *copy = pooled_list_add(string_pool, &ROZI_VUV_POOLED_STRING::text, text, std::strlen(text) + 1);
    if (copy == nullptr)
        last_error = SLD_NO_FREE_SLOT;
    return copy;
}

// Tables are kept for good because callers may hold them until unload. The
// strings in them are pooled, so equal tables hold equal pointers, and a
// table is stored once: reading an unchanged list again costs nothing.
// Hardware tables and device tables are pooled apart, since only the
// latter change in place.
static ROZI_VUV_POOLED_TABLE *string_pool_find_table(ROZI_VUV_POOLED_TABLE *entry, char *const *strings,
                                                     unsigned long count, bool device_table) {
    for (; entry != nullptr; entry = entry->next) {
        if (entry->device_table == device_table && entry->owner == nullptr && entry->count == count &&
            std::memcmp(entry->strings, strings, count * sizeof(char *)) == 0)
            return entry;
    }
    return nullptr;
}

static char **string_pool_add_table(ROZI_VUV_MANAGER *manager, char *const *strings, unsigned long count,
                                    bool device_table, const void *owner) {
    ROZI_VUV_POOLED_TABLE *entry = string_pool_find_table(manager->table_pool, strings, count, device_table);
    if (entry != nullptr) {
        entry->owner = owner;
        return entry->strings;
    }
    char **copy = pooled_list_add(manager->table_pool, &ROZI_VUV_POOLED_TABLE::strings, strings, count);
    if (copy == nullptr) {
        manager->last_error = SLD_NO_FREE_SLOT;
        return nullptr;
    }
    manager->table_pool->count = count;
    manager->table_pool->device_table = device_table;
    manager->table_pool->owner = owner;
    return copy;
}

char **ROZI_VUV_MANAGER::store_string_table(char *const *strings, unsigned long count) {
    return string_pool_add_table(this, strings, count, false, nullptr);
}

char **ROZI_VUV_MANAGER::claim_device_table(char *const *strings, unsigned long count, const void *owner) {
    return string_pool_add_table(this, strings, count, true, owner);
}

void ROZI_VUV_MANAGER::release_device_table(char **table, const void *owner) {
    for (ROZI_VUV_POOLED_TABLE *entry = table_pool; entry != nullptr; entry = entry->next) {
        if (entry->strings == table) {
            // Another object may have taken the table up since this one let go.
            if (entry->owner == owner)
                entry->owner = nullptr;
            return;
        }
    }
}
