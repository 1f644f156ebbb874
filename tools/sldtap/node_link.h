// The node behind sldtap's TAP: its instruction and data scans and
// Run-Test/Idle clocks through the library, under the hub lock held for
// the whole connection or, when shared, taken for each data scan.
//
// What the TAP may assume:
// - Between connect() and disconnect() no other client's scan falls
//   between two of its calls (shared: within one scan_dr()).
// - A call that answers false has printed nothing; its message names the
//   library call and the status in words, and the TAP must not use any
//   bits it captured.
// What the TAP must give:
// - connect() before the first scan of a client, disconnect() after its
//   last; one thread.
// - load_ir() before the first scan_dr() of a client, so that a shared
//   scan can send the instruction again.
#ifndef SLDTAP_NODE_LINK_H
#define SLDTAP_NODE_LINK_H

#include <cstdint>
#include <string>
#include <vector>

namespace sldtap {

// What the link did, for the stats line.
struct LinkCounts {
    uint64_t ir_scans = 0;   // instructions loaded
    uint64_t dr_scans = 0;   // data scans
    uint64_t rti_calls = 0;  // sld_node_rti calls
    uint64_t rti_clocks = 0; // clocks they asked for
};

class NodeLink {
  public:
    // Milliseconds sldtap waits for the hub lock.
    static const unsigned long LOCK_TIMEOUT_MS = 5000;

    NodeLink(int node_id, bool share) : node_id_(node_id), share_(share) {}
    ~NodeLink() { disconnect(); }
    NodeLink(const NodeLink &) = delete;
    NodeLink &operator=(const NodeLink &) = delete;

    // A client connected: takes the hub lock unless shared. Every failing
    // call below leaves its message in *message: "call: NAME" and the
    // status in words.
    bool connect(std::string *message);
    // Releases the hub lock if held; failures go to standard error.
    void disconnect();
    // Loads the node's instruction.
    bool load_ir(unsigned long instruction, std::string *message);
    // One data scan of `bits` bits: shifts tdi in, captures into *tdo
    // ((bits + 7) / 8 bytes, bit j of the scan is bit j % 8 of byte j / 8).
    bool scan_dr(const std::vector<uint8_t> &tdi, unsigned long bits, std::vector<uint8_t> *tdo,
                 std::string *message);
    // Run-Test/Idle clocks.
    bool idle(unsigned long clocks, std::string *message);

    const LinkCounts &counts() const { return counts_; }

  private:
    int node_id_;
    bool share_;
    bool locked_ = false;
    bool has_ir_ = false;
    unsigned long ir_ = 0; // the instruction loaded last, sent again with each shared scan
    LinkCounts counts_;
};

} // namespace sldtap

#endif
