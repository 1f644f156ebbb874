// The nodes behind a hub: each model's data registers, selected by the
// node's current virtual instruction. A scan captures the selected register
// into a bit string, shifts it, and hands the result back as the update.
#ifndef SCXSIM_NODE_H
#define SCXSIM_NODE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "board.h"
#include "riscv_dtm.h"

namespace scxsim {
namespace detail {

// Widest node register: capture and update buffers of this many bytes
// live on the stack.
const unsigned MAX_REGISTER_BYTES = 512;

// A byte FIFO of fixed depth.
class Fifo {
  public:
    explicit Fifo(size_t depth = 0) : buf_(depth) {}
    size_t size() const { return count_; }
    size_t room() const { return buf_.size() - count_; }
    bool push(uint8_t b);
    bool pop(uint8_t *b);

  private:
    std::vector<uint8_t> buf_;
    size_t head_ = 0;
    size_t count_ = 0;
};

class Node {
  public:
    explicit Node(const NodeDesc &desc);

    const NodeDesc &desc() const { return desc_; }
    uint64_t instruction() const { return instruction_; }
    void load_instruction(uint64_t v) { instruction_ = v; }

    // Width of the data register the current instruction selects.
    unsigned dr_width() const;
    // Fills bytes_for(dr_width()) bytes, which must be zero beforehand.
    void dr_capture(uint8_t *bits);
    void dr_update(const uint8_t *bits);
    // Run-Test/Idle clocks of the node's device: time for a riscv node.
    void idle(uint64_t clocks);

    // The device side.
    bool memory_peek(unsigned long address, uint64_t *word) const;
    bool memory_poke(unsigned long address, uint64_t word);
    bool stream_send(const std::vector<uint8_t> &bytes);
    std::vector<uint8_t> stream_receive();
    bool probe_set(const std::vector<uint8_t> &bits);
    std::vector<uint8_t> source_get() const;

  private:
    // Index into desc_.registers of the shift register for the current
    // instruction, or -1.
    int shift_index() const;

    NodeDesc desc_;
    uint64_t instruction_ = 0;
    // memory
    std::vector<uint64_t> memory_;
    unsigned long address_ = 0;
    unsigned address_width_ = 1;
    // stream
    Fifo to_device_;
    Fifo to_host_;
    // probe
    std::vector<uint8_t> probe_;
    std::vector<uint8_t> source_;
    // shift, parallel to desc_.registers
    std::vector<std::vector<uint8_t>> shift_;
    // riscv
    std::unique_ptr<RiscvDtm> riscv_;
};

} // namespace detail
} // namespace scxsim

#endif
