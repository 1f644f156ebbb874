// The lists behind the string pool and the table pool: each entry owns one
// array, entries go to the front, and all of them live until unload.
#ifndef SLD_FRAME_POOLED_LIST_H
#define SLD_FRAME_POOLED_LIST_H

#include <cstddef>
#include <cstring>

#include "frame/memory.h"

// Puts a new entry holding a copy of the n elements at source in front of
// head; returns the copy, or null when out of memory (nothing linked).
template <class Entry, class T>
T *pooled_list_add(Entry *&head, T *Entry::*owned, const T *source, std::size_t n) {
    Entry *entry = sld_new<Entry>();
    T *copy = entry != nullptr ? sld_new_array<T>(n) : nullptr;
    if (copy == nullptr) {
        sld_delete(entry);
        return nullptr;
    }
    std::memcpy(static_cast<void *>(copy), source, n * sizeof(T));
    entry->*owned = copy;
    entry->next = head;
    head = entry;
    return copy;
}

// Frees every entry and the array it owns; head ends null.
template <class Entry, class T> void pooled_list_free(Entry *&head, T *Entry::*owned) {
    while (head != nullptr) {
        Entry *next = head->next;
        sld_delete_array(head->*owned);
        sld_delete(head);
        head = next;
    }
}

#endif
