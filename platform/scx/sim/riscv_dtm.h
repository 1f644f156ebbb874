// The node model `riscv`: a RISC-V JTAG debug transport module (external
// debug support 0.13.2) behind the node's instructions, in front of a
// debug module and its one RV32I hart.
//
// Node instructions: 0x01 IDCODE (32 bits), 0x10 dtmcs (32 bits), 0x11 dmi
// (41 bits: op in bits 0-1, data in 2-33, address in 34-40); every other
// instruction, 0x1f among them, selects a 1-bit bypass register. A dmi
// scan captures the outcome of the previous access; accesses never fail
// and are never busy (dtmcs.idle 0).
//
// Time: the hart runs INSTRUCTIONS_PER_SCAN instructions after every data
// scan of the node and INSTRUCTIONS_PER_IDLE_CLOCK per Run-Test/Idle clock
// of its device, and nothing else, so a run depends only on the scans.
#ifndef SCXSIM_RISCV_DTM_H
#define SCXSIM_RISCV_DTM_H

#include <cstdint>

#include "board.h"
#include "riscv_dm.h"

namespace scxsim {
namespace detail {

const uint64_t INSTRUCTIONS_PER_SCAN = 64;
const uint64_t INSTRUCTIONS_PER_IDLE_CLOCK = 1;

class RiscvDtm {
  public:
    explicit RiscvDtm(const NodeDesc &desc);

    unsigned dr_width(uint64_t instruction) const;
    // `bits` holds bytes_for(dr_width()) zeroed bytes.
    void dr_capture(uint64_t instruction, uint8_t *bits) const;
    void dr_update(uint64_t instruction, const uint8_t *bits);
    void idle(uint64_t clocks) { dm_.run(clocks * INSTRUCTIONS_PER_IDLE_CLOCK); }

  private:
    uint32_t idcode_;
    RiscvDebugModule dm_;
    // The outcome a dmi capture reports: the last access's address and data.
    unsigned address_ = 0;
    uint32_t data_ = 0;
};

} // namespace detail
} // namespace scxsim

#endif
