// Exported hub lock functions: thin frames around ROZI_VUV_HUB::lock,
// lock_manual and unlock, reached through a hub id or a node id.
#include "frame/manager.h"
#include "hub/hub.h"

extern "C" SLD_ERROR sld_hub_lock(int hub_id, unsigned long timeout) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return SLD_DEVICE_NOT_FOUND;
    return hub->lock(timeout);
}

extern "C" SLD_ERROR sld_hub_unlock(int hub_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return SLD_DEVICE_NOT_FOUND;
    return hub->unlock();
}

extern "C" SLD_ERROR sld_node_lock(int node_id, unsigned long timeout) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_node_hub_owner(node_id);
    if (hub == nullptr)
        return manager->last_error;
    return hub->lock(timeout);
}

extern "C" SLD_ERROR sld_node_lock_manual(int node_id, unsigned long timeout) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_node_hub_owner(node_id);
    if (hub == nullptr)
        return manager->last_error;
    return hub->lock_manual(timeout);
}

extern "C" SLD_ERROR sld_node_unlock(int node_id) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_node_hub_owner(node_id);
    if (hub == nullptr)
        return manager->last_error;
    return hub->unlock();
}
