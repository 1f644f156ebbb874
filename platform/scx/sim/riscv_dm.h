// A RISC-V debug module (external debug support 0.13.2) over one hart:
// the registers a debugger reaches through the debug module interface.
// Every operation completes at once, so no access is ever busy.
//
// What it gives: dmcontrol (dmactive, haltreq, resumereq, ndmreset,
// ackhavereset, hartsel with 10 bits), dmstatus, abstractcs with two data
// registers and a two-word program buffer (no implicit ebreak), the
// "access register" abstract command (32-bit GPRs and CSRs, transfer,
// postexec), haltsum0, and system bus access of 8, 16 and
// 32 bits to the hart's RAM (read on address, read on data,
// autoincrement). What it lacks: hartreset, reset-halt requests, the
// other abstract commands (quick access, access memory), abstractauto,
// authentication, hart arrays and triggers; those read as absent.
#ifndef SCXSIM_RISCV_DM_H
#define SCXSIM_RISCV_DM_H

#include <cstdint>

#include "rv32_hart.h"

namespace scxsim {
namespace detail {

class RiscvDebugModule {
  public:
    RiscvDebugModule(uint32_t ram_base, uint32_t ram_size) : hart_(ram_base, ram_size) {}

    // One debug module interface access at a 7-bit address.
    uint32_t read(unsigned address);
    void write(unsigned address, uint32_t value);

    // Lets the hart run `count` instructions when it is running and out
    // of reset.
    void run(uint64_t count);

    Rv32Hart &hart() { return hart_; }

  private:
    void write_dmcontrol(uint32_t v);
    uint32_t dmstatus() const;
    void command(uint32_t v);
    void run_program_buffer();
    uint32_t sbcs() const;
    void write_sbcs(uint32_t v);
    bool sb_start(unsigned *size);
    void sb_read();
    void sb_write();
    void deactivate();

    Rv32Hart hart_;
    bool dmactive_ = false;
    bool haltreq_ = false;
    bool ndmreset_ = false;
    bool havereset_ = true;
    bool resumeack_ = false;
    uint32_t hartsel_ = 0;
    uint32_t data_[2] = {};
    uint32_t progbuf_[2] = {};
    uint32_t cmderr_ = 0;
    // System bus.
    uint32_t sbaddress_ = 0, sbdata_ = 0;
    uint32_t sbaccess_ = 2, sberror_ = 0;
    bool sbreadonaddr_ = false, sbreadondata_ = false, sbautoincrement_ = false;
};

} // namespace detail
} // namespace scxsim

#endif
