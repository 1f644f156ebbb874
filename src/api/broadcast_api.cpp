// Exported broadcast functions: begin queues node IR scans of a hub, end
// sends them.
#include "frame/manager.h"
#include "hub/hub.h"

extern "C" SLD_ERROR sld_hub_broadcast_begin(int hub_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return manager->last_error;
    return hub->broadcast_begin();
}

extern "C" SLD_ERROR sld_hub_broadcast_end(int hub_id) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_HUB *hub = manager->get_hub(hub_id);
    if (hub == nullptr)
        return manager->last_error;
    return hub->broadcast_end();
}
