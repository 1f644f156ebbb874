// The hub and node handle tables: ids to objects, node id allocation, hub
// slot taking, and invalidation when hubs or device lists are destroyed.
// Ids are compared as unsigned values, so a negative id is out of range
// like a too large one and never indexes a table. No function allocates.
#include "frame/manager.h"

namespace {

bool frame_hub_id_in_range(int hub_id) {
    return static_cast<unsigned>(hub_id) < SLD_HUB_TABLE_SIZE;
}

bool frame_node_id_in_range(int node_id) {
    return static_cast<unsigned>(node_id) < SLD_NODE_TABLE_SIZE;
}

} // namespace

ROZI_VUV_HUB *ROZI_VUV_MANAGER::get_hub(int hub_id) {
    if (!frame_hub_id_in_range(hub_id)) {
        last_error = SLD_INVALID_HUB_ID;
        return nullptr;
    }
    const ROZI_VUV_HUB_SLOT &slot = hub_table[hub_id];
    if (slot.hub != nullptr && slot.device != nullptr)
        return slot.hub;
    last_error = slot.in_use ? SLD_STALE_ID : SLD_INVALID_HUB_ID;
    return nullptr;
}

int ROZI_VUV_MANAGER::take_hub_slot(ROZI_VUV_HUB *hub, ROZI_VUV_DEVICE *device) {
    for (int i = free_hub_slot_floor; i < SLD_HUB_TABLE_SIZE; ++i) {
        ROZI_VUV_HUB_SLOT &slot = hub_table[i];
        if (!slot.in_use) {
            slot.hub = hub;
            slot.device = device;
            slot.open_node_count = 0;
            slot.in_use = true;
            free_hub_slot_floor = i + 1;
            return i;
        }
    }
    free_hub_slot_floor = SLD_HUB_TABLE_SIZE;
    last_error = SLD_NO_FREE_SLOT;
    return -1;
}

void ROZI_VUV_MANAGER::free_hub_slot(int hub_id) {
    ROZI_VUV_HUB_SLOT &slot = hub_table[hub_id];
    slot.device = nullptr;
    slot.hub = nullptr;
    slot.open_node_count = 0;
    slot.in_use = false;
    if (hub_id < free_hub_slot_floor)
        free_hub_slot_floor = hub_id;
}

int ROZI_VUV_MANAGER::create_node(int hub_id, unsigned char node_index) {
    // Callers have found the hub id live; a slot not in use would break the
    // count invariant, so it is refused rather than counted.
    if (!frame_hub_id_in_range(hub_id) || !hub_table[hub_id].in_use) {
        last_error = SLD_INVALID_HUB_ID;
        return -1;
    }
    for (int i = free_node_slot_floor; i < SLD_NODE_TABLE_SIZE; ++i) {
        ROZI_VUV_NODE_SLOT &slot = node_table[i];
        if (slot.hub_index == -1) {
            slot.hub_index = hub_id;
            slot.node_index = node_index;
            ++hub_table[hub_id].open_node_count;
            free_node_slot_floor = i + 1;
            return i;
        }
    }
    free_node_slot_floor = SLD_NODE_TABLE_SIZE;
    last_error = SLD_NO_FREE_SLOT;
    return -1;
}

ROZI_VUV_HUB *ROZI_VUV_MANAGER::get_node_hub_owner(int node_id) {
    if (!frame_node_id_in_range(node_id) || node_table[node_id].hub_index == -1) {
        last_error = SLD_INVALID_NODE_ID;
        return nullptr;
    }
    return get_hub(node_table[node_id].hub_index);
}

unsigned char ROZI_VUV_MANAGER::get_node_hub_node_index(int node_id) {
    if (!frame_node_id_in_range(node_id) || node_table[node_id].hub_index == -1) {
        last_error = SLD_INVALID_NODE_ID;
        return SLD_NODE_INDEX_INVALID;
    }
    unsigned char index = node_table[node_id].node_index;
    if (index == SLD_NODE_INDEX_INVALID)
        last_error = SLD_STALE_ID;
    return index;
}

SLD_ERROR ROZI_VUV_MANAGER::close_node(int node_id) {
    if (!frame_node_id_in_range(node_id) || node_table[node_id].hub_index == -1)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_NODE_SLOT &slot = node_table[node_id];
    if (frame_hub_id_in_range(slot.hub_index))
        --hub_table[slot.hub_index].open_node_count;
    slot.hub_index = -1;
    if (node_id < free_node_slot_floor)
        free_node_slot_floor = node_id;
    return SLD_OK;
}

void ROZI_VUV_MANAGER::invalidate_node_id(int hub_id) {
    // -1 would match every free node slot; no real hub id is out of range.
    if (!frame_hub_id_in_range(hub_id))
        return;
    for (int i = 0; i < SLD_NODE_TABLE_SIZE; ++i) {
        if (node_table[i].hub_index == hub_id)
            node_table[i].node_index = SLD_NODE_INDEX_INVALID;
    }
}

void ROZI_VUV_MANAGER::invalidate_hub_id(ROZI_VUV_DEVICE *device) {
    if (device == nullptr)
        return;
    for (int i = 0; i < SLD_HUB_TABLE_SIZE; ++i) {
        if (hub_table[i].in_use && hub_table[i].device == device) {
            hub_table[i].device = nullptr;
            invalidate_node_id(i);
        }
    }
}

void ROZI_VUV_MANAGER::invalidate_hub_id(ROZI_VUV_HUB *hub) {
    if (hub == nullptr)
        return;
    for (int i = 0; i < SLD_HUB_TABLE_SIZE; ++i) {
        if (hub_table[i].in_use && hub_table[i].hub == hub) {
            hub_table[i].hub = nullptr;
            invalidate_node_id(i);
        }
    }
}

void ROZI_VUV_MANAGER::move_hub_ids(ROZI_VUV_HUB *hub, ROZI_VUV_DEVICE *from, ROZI_VUV_DEVICE *to) {
    for (ROZI_VUV_HUB_SLOT &slot : hub_table) {
        if (slot.in_use && slot.hub == hub && slot.device == from)
            slot.device = to;
    }
}
