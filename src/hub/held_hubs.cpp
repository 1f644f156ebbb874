// The calling thread's list of held hubs, kept in the manager's thread
// variable. Only the owning thread reads or changes its list, always under
// the library mutex.
#include <cstdio>
#include <cstdlib>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hub/hub.h"

static ROZI_VUV_LOCKED_HUB *held_hub_list_head(ROZI_VUV_MANAGER *manager) {
    if (!manager->held_hubs_live)
        return nullptr;
    return static_cast<ROZI_VUV_LOCKED_HUB *>(thr_thread_var_get(&manager->held_hubs));
}

bool ROZI_VUV_MANAGER::is_hub_locked(ROZI_VUV_HUB *hub) {
    for (ROZI_VUV_LOCKED_HUB *e = held_hub_list_head(this); e != nullptr; e = e->next)
        if (e->hub == hub)
            return true;
    return false;
}

bool ROZI_VUV_MANAGER::set_hub_locked(ROZI_VUV_HUB *hub) {
    ROZI_VUV_LOCKED_HUB *tail = nullptr;
    for (ROZI_VUV_LOCKED_HUB *e = held_hub_list_head(this); e != nullptr; e = e->next) {
        if (e->hub == hub)
            return true;
        tail = e;
    }
    ROZI_VUV_LOCKED_HUB *element = sld_new<ROZI_VUV_LOCKED_HUB>();
    if (element == nullptr)
        return false;
    element->hub = hub;
    element->next = nullptr;
    if (tail == nullptr)
        thr_thread_var_set(&held_hubs, element);
    else
        tail->next = element;
    return true;
}

void ROZI_VUV_MANAGER::set_hub_unlocked(ROZI_VUV_HUB *hub) {
    ROZI_VUV_LOCKED_HUB *head = held_hub_list_head(this);
    if (head == nullptr) {
        std::fprintf(stderr, "%s\n", "Invalid locking state");
        std::exit(-1);
    }
    ROZI_VUV_LOCKED_HUB *previous = nullptr;
    for (ROZI_VUV_LOCKED_HUB *e = head; e != nullptr; previous = e, e = e->next) {
        if (e->hub != hub)
            continue;
        if (previous == nullptr)
            thr_thread_var_set(&held_hubs, e->next);
        else
            previous->next = e->next;
        sld_delete(e);
        return;
    }
}
