#include "model.h"

void Model::clear() {
    for (ModelHubSlot &slot : slots)
        slot = ModelHubSlot{false, false, -1};
    for (ModelNodeSlot &node : nodes)
        node = ModelNodeSlot{-1, 255};
    hubs.clear();
}

int Model::lowest_free_hub_id() const {
    for (int id = 0; id < HUB_IDS; ++id)
        if (!slots[id].in_use)
            return id;
    return -1;
}

int Model::lowest_free_node_id() const {
    for (int id = 0; id < NODE_IDS; ++id)
        if (nodes[id].hub_id < 0)
            return id;
    return -1;
}

int Model::open_nodes(int hub_id) const {
    int count = 0;
    for (const ModelNodeSlot &node : nodes)
        count += node.hub_id == hub_id ? 1 : 0;
    return count;
}

int Model::held_count() const {
    int count = 0;
    for (const ModelHub &hub : hubs)
        count += hub.alive && hub.held ? 1 : 0;
    return count;
}

std::vector<int> Model::hub_ids_in_use() const {
    std::vector<int> ids;
    for (int id = 0; id < HUB_IDS; ++id)
        if (slots[id].in_use)
            ids.push_back(id);
    return ids;
}

std::vector<int> Model::node_ids_open() const {
    std::vector<int> ids;
    for (int id = 0; id < NODE_IDS; ++id)
        if (nodes[id].hub_id >= 0)
            ids.push_back(id);
    return ids;
}

SLD_ERROR Model::hub_refusal(int hub_id) const {
    if (hub_id < 0 || hub_id >= HUB_IDS || !slots[hub_id].in_use)
        return SLD_INVALID_HUB_ID;
    return slots[hub_id].live ? SLD_OK : SLD_STALE_ID;
}

ModelHub *Model::live_hub(int hub_id) {
    return hub_refusal(hub_id) == SLD_OK ? &hubs[static_cast<std::size_t>(slots[hub_id].hub)] : nullptr;
}

NodeTarget Model::node(int node_id) {
    if (node_id < 0 || node_id >= NODE_IDS || nodes[node_id].hub_id < 0)
        return NodeTarget{SLD_INVALID_NODE_ID, nullptr, 255};
    ModelHub *hub = live_hub(nodes[node_id].hub_id);
    if (hub == nullptr)
        return NodeTarget{SLD_STALE_ID, nullptr, 255};
    return NodeTarget{SLD_OK, hub, nodes[node_id].index};
}

int Model::alive_hub_with(SCX_OPEN *handle) const {
    for (std::size_t i = 0; i < hubs.size(); ++i)
        if (hubs[i].alive && hubs[i].handle == handle)
            return static_cast<int>(i);
    return -1;
}

bool Model::device_held_elsewhere(const ModelHub *hub, const std::string &device) const {
    for (const ModelHub &other : hubs)
        if (&other != hub && other.alive && other.held && other.device == device)
            return true;
    return false;
}

int Model::add_hub(const ModelHub &hub) {
    hubs.push_back(hub);
    return static_cast<int>(hubs.size()) - 1;
}

void Model::take_hub_id(int hub_id, int hub) {
    slots[hub_id] = ModelHubSlot{true, true, hub};
}

void Model::release_hub_id(int hub_id) {
    slots[hub_id] = ModelHubSlot{false, false, -1};
    settle();
}

void Model::take_node_id(int node_id, int hub_id, unsigned char index) {
    nodes[node_id] = ModelNodeSlot{hub_id, index};
}

void Model::release_node_id(int node_id) {
    nodes[node_id].hub_id = -1;
}

void Model::mark_stale(int hub_id) {
    slots[hub_id].live = false;
}

void Model::settle() {
    for (ModelHub &hub : hubs)
        hub.alive = false;
    for (const ModelHubSlot &slot : slots)
        if (slot.in_use && slot.live)
            hubs[static_cast<std::size_t>(slot.hub)].alive = true;
    for (ModelHub &hub : hubs) {
        if (hub.alive)
            continue;
        hub.held = false;
        hub.broadcasting = false;
    }
}
