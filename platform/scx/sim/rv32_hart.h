// One RV32I hart with the Zicsr extension, machine mode only, and its own
// RAM: what a debug module halts, resumes, steps and reads. Time is counted
// in instructions: the hart runs only when its owner calls run(), so every
// simulated run is the same.
#ifndef SCXSIM_RV32_HART_H
#define SCXSIM_RV32_HART_H

#include <cstdint>
#include <vector>

namespace scxsim {
namespace detail {

// Why the hart entered debug mode (dcsr.cause).
enum class HaltCause : uint32_t { ebreak = 1, haltreq = 3, step = 4 };

class Rv32Hart {
  public:
    Rv32Hart(uint32_t ram_base, uint32_t ram_size);

    // Puts the hart in its reset state (pc at the RAM base, registers and
    // CSRs cleared, running); RAM keeps its contents.
    void reset();

    bool halted() const { return halted_; }
    // Enters debug mode with dpc at the next instruction.
    void halt(HaltCause cause);
    // Leaves debug mode at dpc. With dcsr.step set, runs one instruction
    // and halts again.
    void resume();
    // Runs up to `count` instructions; stops early when it halts.
    void run(uint64_t count);

    // Register access as the debug module's abstract commands see it:
    // GPRs 0-31 and CSRs by number. False for a CSR the hart lacks.
    uint32_t gpr(unsigned i) const { return x_[i & 31]; }
    void set_gpr(unsigned i, uint32_t v);
    bool read_csr(unsigned csr, uint32_t *v) const;
    bool write_csr(unsigned csr, uint32_t v);

    // Executes one instruction of the debug module's program buffer in
    // debug mode. Answers false for an exception (illegal instruction,
    // access fault, a jump), true otherwise; *ebreak is set by ebreak.
    bool execute_in_debug(uint32_t insn, bool *ebreak);

    // Bus access to RAM for the debug module's system bus; `size` is 1, 2
    // or 4 bytes. False outside RAM.
    bool bus_read(uint32_t address, unsigned size, uint32_t *v) const;
    bool bus_write(uint32_t address, unsigned size, uint32_t v);

    uint32_t ram_base() const { return base_; }
    uint32_t ram_size() const { return uint32_t(ram_.size()); }

  private:
    enum class Outcome { next, jumped, trap, ebreak };
    Outcome execute(uint32_t insn, uint32_t *next_pc, uint32_t *cause, uint32_t *tval);
    Outcome system(uint32_t insn, uint32_t *next_pc, uint32_t *cause);
    void take_trap(uint32_t cause, uint32_t tval);
    bool in_ram(uint32_t address, unsigned size) const;

    uint32_t base_;
    std::vector<uint8_t> ram_;
    uint32_t x_[32] = {};
    uint32_t pc_ = 0;
    bool halted_ = false;
    bool debug_ = false; // executing the program buffer
    uint64_t retired_ = 0;
    // CSRs
    uint32_t mstatus_ = 0, mie_ = 0, mtvec_ = 0, mscratch_ = 0, mepc_ = 0, mcause_ = 0, mtval_ = 0;
    uint32_t dcsr_ = 0, dpc_ = 0, dscratch0_ = 0, dscratch1_ = 0;
};

} // namespace detail
} // namespace scxsim

#endif
