// Finding the node a scan command names (cable, device, node index) and
// holding it open: hub id, node id and, when asked, the hub lock.
#ifndef SLDTOOL_TARGET_H
#define SLDTOOL_TARGET_H

#include <string>

#include "scan_log.h"

namespace sldtool {

// The node as the user named it.
struct NodeTarget {
    std::string cable;  // short or full hardware name
    std::string device; // device string, or @N for chain position N
    std::string node;   // node index, a number
};

// The short name of the hardware named by short or full name; throws a
// ToolError (exit_not_found) listing the cables when there is none.
std::string resolve_cable(const std::string &name);

// The device string of the cable's device named by wanted; throws a ToolError
// (exit_not_found) listing the devices when there is none.
std::string resolve_device(const std::string &cable, const std::string &wanted);

// A hub id and a node id on the named node, closed again by close() or,
// on the way out after a failure, by the destructor.
class OpenNode {
  public:
    OpenNode(const NodeTarget &wanted, ScanLog *log);
    ~OpenNode();
    OpenNode(const OpenNode &) = delete;
    OpenNode &operator=(const OpenNode &) = delete;

    // Closes the node id and hub id; throws on a failing status.
    void close();

    int node_id() const { return node_id_; }
    unsigned index() const { return index_; }
    unsigned node_count() const { return node_count_; }
    // "SimCable-1 @1: ..." for log steps and messages.
    const std::string &where() const { return where_; }

  private:
    // Closes what is open, reporting failures as warnings only.
    void close_quietly();

    int hub_id_ = -1;
    int node_id_ = -1;
    unsigned index_ = 0;
    unsigned node_count_ = 0;
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
