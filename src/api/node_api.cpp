// Exported functions: what discovery found on a hub, and node ids.
#include <cstring>

#include "frame/manager.h"
#include "hub/hub.h"

extern "C" SLD_ERROR sld_hub_get_number_of_nodes(int hub_id, unsigned char *count) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (count == nullptr)
        return SLD_NULL_ARGUMENT;
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr) {
        *count = 0;
        return manager->last_error;
    }
    *count = hub->node_count;
    return SLD_OK;
}

extern "C" SLD_ERROR sld_hub_get_node_info(int hub_id, unsigned char node_index, SLD_NODE_INFO *info) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (info == nullptr)
        return SLD_NULL_ARGUMENT;
    std::memset(info, 0, sizeof *info);
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return manager->last_error;
    const SLD_NODE_INFO *found = hub->get_node_info(node_index);
    if (found == nullptr)
        return SLD_INVALID_NODE_INDEX;
    info->instance_id = found->instance_id;
    info->manufacturer_id = found->manufacturer_id;
    info->node_id = found->node_id;
    info->version = found->version;
    return SLD_OK;
}

extern "C" SLD_ERROR sld_node_open(int hub_id, unsigned char node_index, int *node_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (node_id == nullptr)
        return SLD_NULL_ARGUMENT;
    *node_id = -1;
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return manager->last_error;
    if (node_index >= hub->node_count)
        return SLD_INVALID_NODE_INDEX;
    const int id = manager->create_node(hub_id, node_index);
    *node_id = id;
    return id >= 0 ? SLD_OK : manager->last_error;
}

extern "C" SLD_ERROR sld_node_close(int node_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_CALL_LEVEL level(manager);
    return manager->close_node(node_id);
}
