// The process-wide manager: one-time construction on first use, and the
// teardown of everything it owns when the library is unloaded.
#include "frame/manager.h"

#include "frame/memory.h"
#include "frame/pooled_list.h"
#include "hardware/hardware.h"

ROZI_VUV_MANAGER *ROZI_VUV_MANAGER::get_manager() {
    // Constructed once under the runtime's thread-safe static initialisation;
    // its destructor runs at unload or process exit.
    static ROZI_VUV_MANAGER s_manager;
    return &s_manager;
}

// Nothing here throws, so there is no partial construction to undo.
ROZI_VUV_MANAGER::ROZI_VUV_MANAGER() {
    hardware = nullptr;
    last_error = SLD_OK;
    mutex = thr_mutex_create();
    log_enabled.store(false);
    log_head.store(nullptr);
    log_tail = nullptr;
    string_pool = nullptr;
    table_pool = nullptr;
    held_hubs = 0;
    thr_thread_var_init(&held_hubs);
    held_hubs_live = true;
    free_hub_slot_floor = 0;
    free_node_slot_floor = 0;
    for (int i = 0; i < SLD_HUB_TABLE_SIZE; ++i) {
        hub_table[i].in_use = false;
        hub_table[i].hub = nullptr;
        hub_table[i].device = nullptr;
        hub_table[i].open_node_count = 0;
    }
    for (int i = 0; i < SLD_NODE_TABLE_SIZE; ++i) {
        node_table[i].hub_index = -1;
        node_table[i].node_index = SLD_NODE_INDEX_INVALID;
    }
}

ROZI_VUV_MANAGER::~ROZI_VUV_MANAGER() {
    // The destroying thread's held-hub elements only: other threads' lists
    // cannot be reached, and no lock is given back at the JTAG level.
    ROZI_VUV_LOCKED_HUB *held = static_cast<ROZI_VUV_LOCKED_HUB *>(thr_thread_var_get(&held_hubs));
    while (held != nullptr) {
        ROZI_VUV_LOCKED_HUB *next = held->next;
        sld_delete(held);
        held = next;
    }
    thr_thread_var_set(&held_hubs, nullptr);
    thr_thread_var_destroy(&held_hubs);
    held_hubs_live = false;

    // Destroys every device list and hub; they reach back through
    // get_manager() to clear the hub table while this object still exists.
    if (hardware)
        sld_delete(hardware);
    hardware = nullptr;

    pooled_list_free(string_pool, &ROZI_VUV_POOLED_STRING::text);
    pooled_list_free(table_pool, &ROZI_VUV_POOLED_TABLE::strings);

    clear_scx_log();

    thr_mutex_destroy(mutex);
    mutex = 0;
}
