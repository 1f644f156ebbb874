// A hub behind device instructions 14 (virtual instruction register) and 12
// (virtual data register): node selection, the information readout,
// broadcast and force capture.
#ifndef SCXSIM_HUB_H
#define SCXSIM_HUB_H

#include <cstdint>
#include <vector>

#include "board.h"
#include "node.h"

namespace scxsim {
namespace detail {

class Hub {
  public:
    explicit Hub(const HubDesc &desc);

    unsigned ir_width() const { return desc_.ir_width; }
    unsigned address_width() const { return address_width_; }
    size_t node_count() const { return nodes_.size(); }
    Node *node(size_t index) { return index < nodes_.size() ? &nodes_[index] : nullptr; }

    // The virtual instruction register: m + n bits.
    unsigned vir_width() const { return desc_.ir_width + address_width_; }
    void vir_capture(uint8_t *bits);
    void vir_update(const uint8_t *bits);

    // The virtual data register of whatever the hub has selected.
    unsigned vdr_width() const;
    void vdr_capture(uint8_t *bits);
    void vdr_update(const uint8_t *bits);

    // Run-Test/Idle clocks reach every node, selected or not.
    void idle(uint64_t clocks);

  private:
    Node *selected_node();
    void hub_instruction(uint64_t value);

    HubDesc desc_;
    unsigned address_width_;
    std::vector<Node> nodes_;
    std::vector<uint32_t> info_words_; // hub word, then one per reported node
    unsigned long selected_ = 0;       // address: 0 is the hub itself
    uint64_t hub_ir_ = 0;              // last hub-addressed instruction
    size_t readout_ = 0;               // next nibble of the information readout
    bool broadcasting_ = false;
    std::vector<uint8_t> pending_set_;
    std::vector<uint64_t> pending_;
    bool forced_ = false; // a force-captured value waits for the next capture
    uint64_t forced_value_ = 0;
};

} // namespace detail
} // namespace scxsim

#endif
