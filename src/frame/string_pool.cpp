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
char **ROZI_VUV_MANAGER::store_string_table(char *const *strings, unsigned long count) {
    for (ROZI_VUV_POOLED_TABLE *entry = table_pool; entry != nullptr; entry = entry->next) {
        if (entry->count == count && std::memcmp(entry->strings, strings, count * sizeof(char *)) == 0)
            return entry->strings;
    }
    char **copy = pooled_list_add(table_pool, &ROZI_VUV_POOLED_TABLE::strings, strings, count);
    if (copy == nullptr) {
        last_error = SLD_NO_FREE_SLOT;
        return nullptr;
    }
    table_pool->count = count;
    return copy;
}
