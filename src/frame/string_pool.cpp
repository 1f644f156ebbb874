// The string pool: every name handed to callers is stored here once and
// kept until the manager goes, so the pointers stay valid until unload.
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
