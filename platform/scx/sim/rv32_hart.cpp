// The RV32I + Zicsr hart: decode and execute, machine-mode traps, the
// debug-mode entry and exit, and the CSRs a debugger reads.
#include "rv32_hart.h"

namespace scxsim {
namespace detail {

namespace {

// Trap causes (mcause).
const uint32_t MISALIGNED_FETCH = 0, FETCH_FAULT = 1, ILLEGAL = 2, BREAKPOINT = 3, MISALIGNED_LOAD = 4,
               LOAD_FAULT = 5, MISALIGNED_STORE = 6, STORE_FAULT = 7, ECALL_M = 11;

// dcsr: debug version 4 (external debug support as in 0.13), machine mode.
const uint32_t DCSR_FIXED = 4u << 28 | 3u;
const uint32_t DCSR_EBREAKM = 1u << 15, DCSR_STEP = 1u << 2;
const uint32_t DCSR_WRITABLE = DCSR_EBREAKM | 1u << 11 | 1u << 10 | 1u << 9 | DCSR_STEP;
const uint32_t MSTATUS_MIE = 1u << 3, MSTATUS_MPIE = 1u << 7, MSTATUS_MPP = 3u << 11;
// RV32 (MXL 1) with I.
const uint32_t MISA = 0x40000100;

int32_t imm_i(uint32_t i) { return int32_t(i) >> 20; }
int32_t imm_s(uint32_t i) { return (int32_t(i) >> 25) * 32 | int32_t(i >> 7 & 0x1F); }
int32_t imm_b(uint32_t i) {
    return (int32_t(i) >> 31) * 4096 | int32_t((i >> 7 & 1) << 11 | (i >> 25 & 0x3F) << 5 | (i >> 8 & 0xF) << 1);
}
int32_t imm_j(uint32_t i) {
    return (int32_t(i) >> 31) * (1 << 20) |
           int32_t((i >> 12 & 0xFF) << 12 | (i >> 20 & 1) << 11 | (i >> 21 & 0x3FF) << 1);
}

bool branch_taken(unsigned funct3, uint32_t a, uint32_t b, bool *legal) {
    *legal = true;
    switch (funct3) {
    case 0: return a == b;
    case 1: return a != b;
    case 4: return int32_t(a) < int32_t(b);
    case 5: return int32_t(a) >= int32_t(b);
    case 6: return a < b;
    case 7: return a >= b;
    default: *legal = false; return false;
    }
}

// OP and OP-IMM arithmetic; `alt` is bit 30 of the instruction.
bool alu(unsigned funct3, bool alt, bool imm, uint32_t a, uint32_t b, uint32_t *out) {
    const unsigned sh = b & 31;
    switch (funct3) {
    case 0: *out = (alt && !imm) ? a - b : a + b; return !(alt && imm);
    case 1: *out = a << sh; return !alt;
    case 2: *out = int32_t(a) < int32_t(b); return !alt;
    case 3: *out = a < b; return !alt;
    case 4: *out = a ^ b; return !alt;
    case 5: *out = alt ? uint32_t(int32_t(a) >> sh) : a >> sh; return true;
    case 6: *out = a | b; return !alt;
    default: *out = a & b; return !alt;
    }
}

} // namespace

Rv32Hart::Rv32Hart(uint32_t ram_base, uint32_t ram_size) : base_(ram_base), ram_(ram_size, 0) {
    reset();
}

void Rv32Hart::reset() {
    for (uint32_t &r : x_)
        r = 0;
    pc_ = base_;
    halted_ = debug_ = false;
    retired_ = 0;
    mstatus_ = MSTATUS_MPP;
    mie_ = mtvec_ = mscratch_ = mepc_ = mcause_ = mtval_ = 0;
    dcsr_ = DCSR_FIXED;
    dpc_ = dscratch0_ = dscratch1_ = 0;
}

void Rv32Hart::set_gpr(unsigned i, uint32_t v) {
    if ((i & 31) != 0)
        x_[i & 31] = v;
}

void Rv32Hart::halt(HaltCause cause) {
    if (halted_)
        return;
    dpc_ = pc_;
    dcsr_ = (dcsr_ & ~(7u << 6)) | uint32_t(cause) << 6;
    halted_ = true;
}

void Rv32Hart::resume() {
    if (!halted_)
        return;
    pc_ = dpc_;
    halted_ = false;
    if (dcsr_ & DCSR_STEP) {
        run(1);
        halt(HaltCause::step); // no effect when the instruction was an ebreak
    }
}

void Rv32Hart::run(uint64_t count) {
    for (uint64_t n = 0; n < count && !halted_; ++n) {
        uint32_t insn = 0, next = pc_ + 4, cause = 0, tval = 0;
        if (pc_ & 3) {
            take_trap(MISALIGNED_FETCH, pc_);
            continue;
        }
        if (!bus_read(pc_, 4, &insn)) {
            take_trap(FETCH_FAULT, pc_);
            continue;
        }
        switch (execute(insn, &next, &cause, &tval)) {
        case Outcome::next:
        case Outcome::jumped:
            pc_ = next;
            ++retired_;
            break;
        case Outcome::trap:
            take_trap(cause, tval);
            break;
        case Outcome::ebreak:
            if (dcsr_ & DCSR_EBREAKM)
                halt(HaltCause::ebreak);
            else
                take_trap(BREAKPOINT, pc_);
            break;
        }
    }
}

void Rv32Hart::take_trap(uint32_t cause, uint32_t tval) {
    mepc_ = pc_;
    mcause_ = cause;
    mtval_ = tval;
    mstatus_ = (mstatus_ & ~(MSTATUS_MIE | MSTATUS_MPIE)) | ((mstatus_ & MSTATUS_MIE) ? MSTATUS_MPIE : 0);
    pc_ = mtvec_;
}

bool Rv32Hart::execute_in_debug(uint32_t insn, bool *ebreak) {
    *ebreak = false;
    const unsigned opcode = insn & 0x7F;
    // The program buffer runs in place: no transfer of control.
    if (opcode == 0x6F || opcode == 0x67 || opcode == 0x63 || opcode == 0x17)
        return false;
    debug_ = true;
    uint32_t next = 0, cause = 0, tval = 0;
    const Outcome o = execute(insn, &next, &cause, &tval);
    debug_ = false;
    *ebreak = o == Outcome::ebreak;
    return o == Outcome::next || o == Outcome::ebreak;
}

Rv32Hart::Outcome Rv32Hart::execute(uint32_t insn, uint32_t *next_pc, uint32_t *cause, uint32_t *tval) {
    const unsigned rd = insn >> 7 & 31, rs1 = insn >> 15 & 31, rs2 = insn >> 20 & 31;
    const unsigned funct3 = insn >> 12 & 7;
    const uint32_t a = x_[rs1], b = x_[rs2];
    *cause = ILLEGAL;
    *tval = insn;
    switch (insn & 0x7F) {
    case 0x37: // LUI
        set_gpr(rd, insn & 0xFFFFF000u);
        return Outcome::next;
    case 0x17: // AUIPC
        set_gpr(rd, pc_ + (insn & 0xFFFFF000u));
        return Outcome::next;
    case 0x6F: { // JAL
        const uint32_t target = pc_ + uint32_t(imm_j(insn));
        if (target & 3) {
            *cause = MISALIGNED_FETCH;
            *tval = target;
            return Outcome::trap;
        }
        set_gpr(rd, pc_ + 4);
        *next_pc = target;
        return Outcome::jumped;
    }
    case 0x67: { // JALR
        const uint32_t target = (a + uint32_t(imm_i(insn))) & ~1u;
        if (funct3 != 0)
            return Outcome::trap;
        if (target & 3) {
            *cause = MISALIGNED_FETCH;
            *tval = target;
            return Outcome::trap;
        }
        set_gpr(rd, pc_ + 4);
        *next_pc = target;
        return Outcome::jumped;
    }
    case 0x63: { // BRANCH
        bool legal;
        const bool taken = branch_taken(funct3, a, b, &legal);
        if (!legal)
            return Outcome::trap;
        if (!taken)
            return Outcome::next;
        const uint32_t target = pc_ + uint32_t(imm_b(insn));
        if (target & 3) {
            *cause = MISALIGNED_FETCH;
            *tval = target;
            return Outcome::trap;
        }
        *next_pc = target;
        return Outcome::jumped;
    }
    case 0x03: { // LOAD
        const unsigned size = 1u << (funct3 & 3);
        const uint32_t address = a + uint32_t(imm_i(insn));
        uint32_t v;
        if (funct3 == 3 || funct3 > 5)
            return Outcome::trap;
        *tval = address;
        if (address & (size - 1)) {
            *cause = MISALIGNED_LOAD;
            return Outcome::trap;
        }
        if (!bus_read(address, size, &v)) {
            *cause = LOAD_FAULT;
            return Outcome::trap;
        }
        if (funct3 == 0)
            v = uint32_t(int32_t(int8_t(v)));
        else if (funct3 == 1)
            v = uint32_t(int32_t(int16_t(v)));
        set_gpr(rd, v);
        return Outcome::next;
    }
    case 0x23: { // STORE
        const unsigned size = 1u << (funct3 & 3);
        const uint32_t address = a + uint32_t(imm_s(insn));
        if (funct3 > 2)
            return Outcome::trap;
        *tval = address;
        if (address & (size - 1)) {
            *cause = MISALIGNED_STORE;
            return Outcome::trap;
        }
        if (!bus_write(address, size, b)) {
            *cause = STORE_FAULT;
            return Outcome::trap;
        }
        return Outcome::next;
    }
    case 0x13: { // OP-IMM
        uint32_t v;
        const bool alt = (insn >> 30 & 1) && (funct3 == 1 || funct3 == 5);
        if ((funct3 == 1 || funct3 == 5) && (insn >> 25 & 0x5F) != 0)
            return Outcome::trap;
        if (!alu(funct3, alt, true, a, uint32_t(imm_i(insn)), &v))
            return Outcome::trap;
        set_gpr(rd, v);
        return Outcome::next;
    }
    case 0x33: { // OP
        uint32_t v;
        if ((insn >> 25 & 0x5F) != 0 || !alu(funct3, insn >> 30 & 1, false, a, b, &v))
            return Outcome::trap;
        set_gpr(rd, v);
        return Outcome::next;
    }
    case 0x0F: // FENCE, FENCE.I: memory is always coherent here
        return funct3 <= 1 ? Outcome::next : Outcome::trap;
    case 0x73:
        return system(insn, next_pc, cause);
    default:
        return Outcome::trap;
    }
}

Rv32Hart::Outcome Rv32Hart::system(uint32_t insn, uint32_t *next_pc, uint32_t *cause) {
    const unsigned rd = insn >> 7 & 31, rs1 = insn >> 15 & 31, funct3 = insn >> 12 & 7;
    const unsigned csr = insn >> 20;
    if (funct3 == 0) {
        switch (insn) {
        case 0x00000073: // ECALL
            *cause = ECALL_M;
            return Outcome::trap;
        case 0x00100073: // EBREAK
            return Outcome::ebreak;
        case 0x30200073: // MRET
            mstatus_ = (mstatus_ & ~MSTATUS_MIE) | ((mstatus_ & MSTATUS_MPIE) ? MSTATUS_MIE : 0) | MSTATUS_MPIE;
            *next_pc = mepc_;
            return Outcome::jumped;
        case 0x10500073: // WFI: no interrupts are modelled, so it waits for nothing
            return Outcome::next;
        default:
            return Outcome::trap;
        }
    }
    if (funct3 == 4)
        return Outcome::trap;
    // Debug CSRs exist only in debug mode.
    if (csr >= 0x7B0 && csr <= 0x7BF && !debug_)
        return Outcome::trap;
    const uint32_t operand = (funct3 & 4) ? rs1 : x_[rs1];
    const unsigned op = funct3 & 3; // 1 write, 2 set, 3 clear
    const bool writes = op == 1 || rs1 != 0;
    uint32_t old = 0;
    if (!read_csr(csr, &old))
        return Outcome::trap;
    if (writes) {
        const uint32_t v = op == 1 ? operand : op == 2 ? (old | operand) : (old & ~operand);
        if ((csr >> 10) == 3 || !write_csr(csr, v))
            return Outcome::trap; // read-only CSR
    }
    set_gpr(rd, old);
    return Outcome::next;
}

bool Rv32Hart::read_csr(unsigned csr, uint32_t *v) const {
    switch (csr) {
    case 0x300: *v = mstatus_; return true;
    case 0x301: *v = MISA; return true;
    case 0x304: *v = mie_; return true;
    case 0x305: *v = mtvec_; return true;
    case 0x340: *v = mscratch_; return true;
    case 0x341: *v = mepc_; return true;
    case 0x342: *v = mcause_; return true;
    case 0x343: *v = mtval_; return true;
    case 0x344: *v = 0; return true; // mip: no interrupts
    // Triggers: tselect 0 reads back, tdata1 type 0 = no trigger there.
    case 0x7A0: case 0x7A1: case 0x7A2: case 0x7A3: *v = 0; return true;
    case 0x7A4: *v = 1; return true; // tinfo: only type 0
    case 0x7B0: *v = dcsr_; return true;
    case 0x7B1: *v = dpc_; return true;
    case 0x7B2: *v = dscratch0_; return true;
    case 0x7B3: *v = dscratch1_; return true;
    // Cycles and retired instructions are the same count here.
    case 0xB00: case 0xB02: case 0xC00: case 0xC02: *v = uint32_t(retired_); return true;
    case 0xB80: case 0xB82: case 0xC80: case 0xC82: *v = uint32_t(retired_ >> 32); return true;
    case 0xF11: case 0xF12: case 0xF13: case 0xF14: *v = 0; return true;
    default: return false;
    }
}

bool Rv32Hart::write_csr(unsigned csr, uint32_t v) {
    switch (csr) {
    case 0x300: mstatus_ = (v & (MSTATUS_MIE | MSTATUS_MPIE)) | MSTATUS_MPP; return true;
    case 0x301: return true; // misa is fixed
    case 0x304: mie_ = v & 0x888; return true;
    case 0x305: mtvec_ = v & ~3u; return true;
    case 0x340: mscratch_ = v; return true;
    case 0x341: mepc_ = v & ~3u; return true;
    case 0x342: mcause_ = v; return true;
    case 0x343: mtval_ = v; return true;
    case 0x344: return true;
    case 0x7A0: case 0x7A1: case 0x7A2: case 0x7A3: return true; // no triggers to set
    case 0x7B0: dcsr_ = (dcsr_ & ~DCSR_WRITABLE) | (v & DCSR_WRITABLE); return true;
    case 0x7B1: dpc_ = v & ~3u; return true;
    case 0x7B2: dscratch0_ = v; return true;
    case 0x7B3: dscratch1_ = v; return true;
    case 0xB00: case 0xB02: retired_ = (retired_ & ~uint64_t(0xFFFFFFFF)) | v; return true;
    case 0xB80: case 0xB82: retired_ = (retired_ & 0xFFFFFFFF) | uint64_t(v) << 32; return true;
    default: return false;
    }
}

bool Rv32Hart::in_ram(uint32_t address, unsigned size) const {
    return address >= base_ && uint64_t(address - base_) + size <= ram_.size();
}

bool Rv32Hart::bus_read(uint32_t address, unsigned size, uint32_t *v) const {
    if (!in_ram(address, size))
        return false;
    uint32_t r = 0;
    for (unsigned i = 0; i < size; ++i)
        r |= uint32_t(ram_[address - base_ + i]) << (8 * i);
    *v = r;
    return true;
}

bool Rv32Hart::bus_write(uint32_t address, unsigned size, uint32_t v) {
    if (!in_ram(address, size))
        return false;
    for (unsigned i = 0; i < size; ++i)
        ram_[address - base_ + i] = uint8_t(v >> (8 * i));
    return true;
}

} // namespace detail
} // namespace scxsim
