// Finding the node a scan command names (cable, device, node) and holding
// it open: hub id, node id and, when asked, the hub lock.
//
//   cable   short or full name
//   device  device string as listed, @N for chain position N, or the
//           device name when one device on the chain has it
//   node    node index, or id:N for the node whose node id is N when one
//           node of the hub has it
#ifndef SLDTOOL_TARGET_H
#define SLDTOOL_TARGET_H

#include <string>
#include <vector>

#include "cables.h"
#include "scan_log.h"

namespace sldtool {

// The node as the user named it.
struct NodeTarget {
    std::string cable;
    std::string device;
    std::string node;
};

// The device string of the cable's device named by wanted; throws a
// ToolError (exit_not_found) listing the devices when none or several fit.
std::string resolve_device(const Cable &cable, const std::string &wanted);

// A hub id and a node id on the named node, closed again by close() or,
// on the way out after a failure, by the destructor.
class OpenNode {
  public:
    // Finds the cable and the device; opens nothing yet.
    explicit OpenNode(const NodeTarget &wanted);
    ~OpenNode();
    OpenNode(const OpenNode &) = delete;
    OpenNode &operator=(const OpenNode &) = delete;

    // Opens the hub and finds and opens the node; the hub's discovery
    // scans go to the log as a step of their own.
    void open(ScanLog *log);
    // Closes the node id and hub id; throws on a failing status.
    void close();

    const Cable &cable() const { return cable_; }
    const std::string &device() const { return device_; }
    // Whether open() got as far as the node's index and the hub's node count.
    bool node_found() const { return node_found_; }
    int node_id() const { return node_id_; }
    int hub_id() const { return hub_id_; }
    unsigned index() const { return index_; }
    unsigned node_count() const { return node_count_; }
    // "SimCable-1 @1: ..." for log steps and messages.
    const std::string &where() const { return where_; }

  private:
    // The node index the user's name stands for, once the hub is open.
    unsigned find_index();
    // Closes what is open, reporting failures as warnings only.
    void close_quietly();

    Cable cable_;
    std::string device_;
    std::string wanted_node_;
    int hub_id_ = -1;
    int node_id_ = -1;
    unsigned index_ = 0;
    unsigned node_count_ = 0;
    bool node_found_ = false;
    std::string where_;
};

// The hub lock taken through a node id, released by release() or by the
// destructor.
class HubLock {
  public:
    HubLock(int node_id, unsigned long timeout);
    ~HubLock();
    HubLock(const HubLock &) = delete;
    HubLock &operator=(const HubLock &) = delete;

    // Releases the lock; throws on a failing status.
    void release();

  private:
    int node_id_;
    bool held_ = false;
};

} // namespace sldtool

#endif
