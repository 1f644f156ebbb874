// A reference model of what the library's ids lead to: the hub table, the
// node table, the hub objects behind the hub ids, and per hub object
// whether the fuzzing thread holds its lock and whether it broadcasts.
#ifndef SLD_TESTS_FUZZ_MODEL_H
#define SLD_TESTS_FUZZ_MODEL_H

#include <cstddef>
#include <string>
#include <vector>

#include "scx/scx.h"
#include "sld.h"

struct ModelHub {
    SCX_OPEN *handle;   // the hub's device handle, its identity while alive
    std::string device; // cable and device string it was opened by
    unsigned node_count;
    std::vector<SLD_NODE_INFO> info;
    bool alive;
    bool held;
    bool broadcasting;
    bool queue_known; // queued holds exactly what the library has queued
    std::vector<bool> queued;
};

struct ModelHubSlot {
    bool in_use;
    bool live; // in use and its hub object not destroyed
    int hub;   // index into Model::hubs
};

struct ModelNodeSlot {
    int hub_id; // -1: free
    unsigned char index;
};

// Where a node id leads: a refusal status, or a live hub and node index.
struct NodeTarget {
    SLD_ERROR refusal;
    ModelHub *hub;
    unsigned char index;
};

class Model {
  public:
    static const int HUB_IDS = 128;
    static const int NODE_IDS = 512;

    Model() { clear(); }
    void clear();

    int lowest_free_hub_id() const;  // -1 when all are in use
    int lowest_free_node_id() const; // -1 when all are in use
    int open_nodes(int hub_id) const;
    int held_count() const;
    std::vector<int> hub_ids_in_use() const;
    std::vector<int> node_ids_open() const;

    // As the library's hub lookup: 3 for an id out of range or free, 12 for
    // a stale one, 0 for a live one.
    SLD_ERROR hub_refusal(int hub_id) const;
    ModelHub *live_hub(int hub_id);
    // As the node lookup of the node functions: 5 or 12, or the hub.
    NodeTarget node(int node_id);

    // Whether the thread holds the lock of another alive hub object on the
    // same device: the device lock of that object's handle then keeps every
    // other handle of the device out.
    bool device_held_elsewhere(const ModelHub *hub, const std::string &device) const;
    // The index of the alive hub object with that handle, or -1.
    int alive_hub_with(SCX_OPEN *handle) const;
    int add_hub(const ModelHub &hub);
    void take_hub_id(int hub_id, int hub);
    void release_hub_id(int hub_id);
    void take_node_id(int node_id, int hub_id, unsigned char index);
    void release_node_id(int node_id);
    void mark_stale(int hub_id);
    // A hub object with no live hub id left is destroyed: its hold and its
    // broadcast go with it.
    void settle();

    ModelHubSlot slots[HUB_IDS];
    ModelNodeSlot nodes[NODE_IDS];
    std::vector<ModelHub> hubs;
};

#endif
