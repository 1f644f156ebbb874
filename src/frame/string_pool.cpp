// The string pool: every name handed to callers, and every table of names,
// is stored here once and kept until the manager goes, so the pointers stay
// valid until unload.
#include "frame/manager.h"

#include <cstring>

#include "frame/memory.h"

char *ROZI_VUV_MANAGER::store_string(const char *text) {
    // A missing name is pooled as the empty string rather than read.
    if (text == nullptr)
        text = "";
    for (ROZI_VUV_POOLED_STRING *entry = string_pool; entry != nullptr; entry = entry->next) {
        if (std::strcmp(entry->text, text) == 0)
            return entry->text;
    }
    std::size_t size = std::strlen(text) + 1;
    ROZI_VUV_POOLED_STRING *entry = sld_new<ROZI_VUV_POOLED_STRING>();
    char *copy = entry != nullptr ? sld_new_array<char>(size) : nullptr;
    if (copy == nullptr) {
        sld_delete(entry);
        last_error = SLD_NO_FREE_SLOT;
        return nullptr;
    }
    std::memcpy(copy, text, size);
    entry->text = copy;
    entry->next = string_pool;
    string_pool = entry;
    return copy;
}

// Tables are kept for good because callers may hold them until unload. The
// strings in them are pooled, so equal tables hold equal pointers, and a
// table is stored once: reading an unchanged list again costs nothing.
char **ROZI_VUV_MANAGER::store_string_table(char *const *strings, unsigned long count) {
    const std::size_t bytes = count * sizeof(char *);
    for (ROZI_VUV_POOLED_TABLE *entry = table_pool; entry != nullptr; entry = entry->next) {
        if (entry->count == count && std::memcmp(entry->strings, strings, bytes) == 0)
            return entry->strings;
    }
    ROZI_VUV_POOLED_TABLE *entry = sld_new<ROZI_VUV_POOLED_TABLE>();
    char **copy = entry != nullptr ? sld_new_array<char *>(count) : nullptr;
    if (copy == nullptr) {
        sld_delete(entry);
        last_error = SLD_NO_FREE_SLOT;
        return nullptr;
    }
    std::memcpy(copy, strings, bytes);
    entry->strings = copy;
    entry->count = count;
    entry->next = table_pool;
    table_pool = entry;
    return copy;
}
