// Exported node access functions. Each resolves the node id to its hub and
// node index under one level of the library mutex, then hands the work to
// the hub with the instruction cache enabled.
#include "frame/manager.h"
#include "hub/hub.h"

namespace {

// The node behind a node id, or the status that explains why there is none.
struct ROZI_VUV_ACCESS_NODE {
    ROZI_VUV_HUB *hub;
    unsigned char index;
    SLD_ERROR status;
};

ROZI_VUV_ACCESS_NODE resolve_access_node(ROZI_VUV_MANAGER *manager, int node_id) {
    ROZI_VUV_ACCESS_NODE ref = {nullptr, SLD_NODE_INDEX_INVALID, SLD_OK};
    ref.hub = manager->get_node_hub_owner(node_id);
    if (ref.hub == nullptr) {
        ref.status = manager->last_error;
        return ref;
    }
    ref.index = manager->get_node_hub_node_index(node_id);
    if (ref.index == SLD_NODE_INDEX_INVALID) {
        ref.hub = nullptr;
        ref.status = SLD_INVALID_NODE_ID;
    }
    return ref;
}

} // namespace

extern "C" SLD_ERROR sld_node_access_ir(int node_id, unsigned long instruction, unsigned long *capture,
                                        unsigned long delay) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_ACCESS_NODE node = resolve_access_node(manager, node_id);
    if (node.hub == nullptr)
        return node.status;
    return node.hub->access_ir(node.index, instruction, capture, delay, true);
}

extern "C" SLD_ERROR sld_node_access_dr(int node_id, unsigned long length, const unsigned char *write,
                                        unsigned char *read, unsigned long delay) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_ACCESS_NODE node = resolve_access_node(manager, node_id);
    if (node.hub == nullptr)
        return node.status;
    return node.hub->access_dr(node.index, length, write, read, delay, true);
}

// Records run in order until one whose kind is neither IR nor DR; the first
// failing record ends the batch and later records are not read.
extern "C" SLD_ERROR sld_node_batch_access(int node_id, const SLD_BATCH_ACCESS *records) {
    if (records == nullptr)
        return SLD_NULL_ARGUMENT;
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_ACCESS_NODE node = resolve_access_node(manager, node_id);
    if (node.hub == nullptr)
        return node.status;

    for (const SLD_BATCH_ACCESS *record = records;; ++record) {
        SLD_ERROR status;
        if (record->kind == SLD_BATCH_IR)
            status =
                node.hub->access_ir(node.index, record->write,
                                    reinterpret_cast<unsigned long *>(record->read), record->delay, true);
        else if (record->kind == SLD_BATCH_DR)
            status = node.hub->access_dr(
                node.index, record->length, reinterpret_cast<const unsigned char *>(record->write),
                reinterpret_cast<unsigned char *>(record->read), record->delay, true);
        else
            return SLD_OK;
        if (status != SLD_OK)
            return status;
    }
}

extern "C" SLD_ERROR sld_node_rti(int node_id, unsigned long count) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_ACCESS_NODE node = resolve_access_node(manager, node_id);
    if (node.hub == nullptr)
        return node.status;
    return node.hub->node_rti(count);
}

extern "C" SLD_ERROR sld_node_flush(int node_id) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_ACCESS_NODE node = resolve_access_node(manager, node_id);
    if (node.hub == nullptr)
        return node.status;
    return node.hub->node_flush();
}

extern "C" SLD_ERROR sld_node_delay(int node_id, unsigned long delay) {
    if (node_id < 0)
        return SLD_INVALID_NODE_ID;
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    ROZI_VUV_CALL_LEVEL level(manager);
    ROZI_VUV_ACCESS_NODE node = resolve_access_node(manager, node_id);
    if (node.hub == nullptr)
        return node.status;
    return node.hub->node_delay(delay);
}
