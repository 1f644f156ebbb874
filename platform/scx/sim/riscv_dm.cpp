// The debug module's registers: run control, abstract register access with
// the program buffer, and system bus access.
#include "riscv_dm.h"

namespace scxsim {
namespace detail {

namespace {

// Debug module interface addresses.
const unsigned DATA0 = 0x04, DATA1 = 0x05, DMCONTROL = 0x10, DMSTATUS = 0x11, ABSTRACTCS = 0x16,
               COMMAND = 0x17, PROGBUF0 = 0x20, PROGBUF1 = 0x21, SBCS = 0x38, SBADDRESS0 = 0x39,
               SBDATA0 = 0x3C, HALTSUM0 = 0x40;

// abstractcs.cmderr values.
const uint32_t CMDERR_NOT_SUPPORTED = 2, CMDERR_EXCEPTION = 3, CMDERR_HALT_RESUME = 4;
// sbcs.sberror values.
const uint32_t SBERR_BAD_ADDRESS = 2, SBERR_ALIGNMENT = 3, SBERR_SIZE = 4;

const uint32_t HARTSEL_MASK = 0x3FF; // hartsello only: 10 bits of hart selection
const unsigned EBREAK = 0x00100073;

bool bit(uint32_t v, unsigned n) { return (v >> n) & 1; }

} // namespace

uint32_t RiscvDebugModule::read(unsigned address) {
    switch (address) {
    case DATA0: return data_[0];
    case DATA1: return data_[1];
    case DMCONTROL: return hartsel_ << 16 | uint32_t(ndmreset_) << 1 | uint32_t(dmactive_);
    case DMSTATUS: return dmstatus();
    case ABSTRACTCS: return 2u << 24 | cmderr_ << 8 | 2u; // progbufsize 2, datacount 2
    case PROGBUF0: return progbuf_[0];
    case PROGBUF1: return progbuf_[1];
    case SBCS: return sbcs();
    case SBADDRESS0: return sbaddress_;
    case SBDATA0: {
        const uint32_t v = sbdata_;
        if (sbreadondata_)
            sb_read();
        return v;
    }
    case HALTSUM0: return (hartsel_ >> 5) == 0 && hart_.halted() ? 1u : 0u;
    default: return 0; // absent registers read as 0
    }
}

void RiscvDebugModule::write(unsigned address, uint32_t value) {
    if (address == DMCONTROL) {
        write_dmcontrol(value);
        return;
    }
    if (!dmactive_)
        return; // an inactive module keeps its reset values
    switch (address) {
    case DATA0: data_[0] = value; break;
    case DATA1: data_[1] = value; break;
    case ABSTRACTCS: cmderr_ &= ~(value >> 8 & 7); break;
    case COMMAND: command(value); break;
    case PROGBUF0: progbuf_[0] = value; break;
    case PROGBUF1: progbuf_[1] = value; break;
    case SBCS: write_sbcs(value); break;
    case SBADDRESS0:
        sbaddress_ = value;
        if (sbreadonaddr_)
            sb_read();
        break;
    case SBDATA0:
        sbdata_ = value;
        sb_write();
        break;
    default: break;
    }
}

void RiscvDebugModule::run(uint64_t count) {
    if (!ndmreset_)
        hart_.run(count);
}

void RiscvDebugModule::deactivate() {
    // Leaving ndmreset lets the hart run from its reset state.
    dmactive_ = haltreq_ = ndmreset_ = false;
    hartsel_ = cmderr_ = 0;
    data_[0] = data_[1] = progbuf_[0] = progbuf_[1] = 0;
    sbaddress_ = sbdata_ = sberror_ = 0;
    sbaccess_ = 2;
    sbreadonaddr_ = sbreadondata_ = sbautoincrement_ = false;
}

void RiscvDebugModule::write_dmcontrol(uint32_t v) {
    if (!bit(v, 0)) {
        deactivate();
        return;
    }
    dmactive_ = true;
    hartsel_ = v >> 16 & HARTSEL_MASK;
    const bool ndmreset = bit(v, 1);
    if (ndmreset) {
        hart_.reset(); // held in reset until ndmreset is cleared
        havereset_ = true;
    }
    ndmreset_ = ndmreset;
    if (hartsel_ != 0)
        return; // no other hart exists
    if (bit(v, 28))
        havereset_ = false;
    haltreq_ = bit(v, 31);
    if (haltreq_ && !ndmreset_)
        hart_.halt(HaltCause::haltreq);
    if (bit(v, 30) && !haltreq_) {
        resumeack_ = false;
        if (hart_.halted()) {
            hart_.resume();
            resumeack_ = true;
        }
    }
}

uint32_t RiscvDebugModule::dmstatus() const {
    // Version 0.13, authenticated. No implicit ebreak (impebreak 0): with
    // two words of program buffer a debugger then finds the buffer too small
    // for memory access and uses the system bus, which needs no hart time.
    uint32_t v = 2 | 1u << 7;
    if (hartsel_ != 0)
        return v | 3u << 14; // allnonexistent, anynonexistent
    v |= hart_.halted() ? 3u << 8 : 3u << 10;
    if (resumeack_)
        v |= 3u << 16;
    if (havereset_)
        v |= 3u << 18;
    return v;
}

void RiscvDebugModule::command(uint32_t v) {
    if (cmderr_ != 0)
        return;
    const unsigned cmdtype = v >> 24, aarsize = v >> 20 & 7, regno = v & 0xFFFF;
    const bool postexec = bit(v, 18), transfer = bit(v, 17), write = bit(v, 16);
    if (cmdtype != 0) {
        cmderr_ = CMDERR_NOT_SUPPORTED;
        return;
    }
    if (hartsel_ != 0 || !hart_.halted()) {
        cmderr_ = CMDERR_HALT_RESUME;
        return;
    }
    if (transfer) {
        if (aarsize != 2) {
            cmderr_ = CMDERR_NOT_SUPPORTED;
            return;
        }
        if (regno >= 0x1000 && regno <= 0x101F) {
            if (write)
                hart_.set_gpr(regno - 0x1000, data_[0]);
            else
                data_[0] = hart_.gpr(regno - 0x1000);
        } else if (regno < 0x1000) {
            uint32_t r = 0;
            const bool ok = write ? hart_.write_csr(regno, data_[0]) : hart_.read_csr(regno, &r);
            if (!ok) {
                cmderr_ = CMDERR_EXCEPTION;
                return;
            }
            if (!write)
                data_[0] = r;
        } else {
            cmderr_ = CMDERR_EXCEPTION; // no floating point or other registers
            return;
        }
    }
    if (postexec)
        run_program_buffer();
}

// Runs the buffer until an ebreak; the end of the buffer also ends it.
void RiscvDebugModule::run_program_buffer() {
    const uint32_t words[3] = {progbuf_[0], progbuf_[1], EBREAK};
    for (uint32_t insn : words) {
        bool ebreak = false;
        if (!hart_.execute_in_debug(insn, &ebreak)) {
            cmderr_ = CMDERR_EXCEPTION;
            return;
        }
        if (ebreak)
            return;
    }
}

uint32_t RiscvDebugModule::sbcs() const {
    // sbversion 1, sbasize 32, 8/16/32-bit accesses.
    return 1u << 29 | uint32_t(sbreadonaddr_) << 20 | sbaccess_ << 17 | uint32_t(sbautoincrement_) << 16 |
           uint32_t(sbreadondata_) << 15 | sberror_ << 12 | 32u << 5 | 0x7u;
}

void RiscvDebugModule::write_sbcs(uint32_t v) {
    sbreadonaddr_ = bit(v, 20);
    sbaccess_ = v >> 17 & 7;
    sbautoincrement_ = bit(v, 16);
    sbreadondata_ = bit(v, 15);
    sberror_ &= ~(v >> 12 & 7);
}

// Whether a system bus access may start, setting sberror when it may not;
// *size is the access size in bytes.
bool RiscvDebugModule::sb_start(unsigned *size) {
    if (sberror_ != 0)
        return false; // no access starts until the error is cleared
    if (sbaccess_ > 2) {
        sberror_ = SBERR_SIZE;
        return false;
    }
    *size = 1u << sbaccess_;
    if (sbaddress_ & (*size - 1)) {
        sberror_ = SBERR_ALIGNMENT;
        return false;
    }
    return true;
}

void RiscvDebugModule::sb_read() {
    unsigned size;
    if (!sb_start(&size))
        return;
    if (!hart_.bus_read(sbaddress_, size, &sbdata_)) {
        sberror_ = SBERR_BAD_ADDRESS;
        return;
    }
    if (sbautoincrement_)
        sbaddress_ += size;
}

void RiscvDebugModule::sb_write() {
    unsigned size;
    if (!sb_start(&size))
        return;
    if (!hart_.bus_write(sbaddress_, size, sbdata_)) {
        sberror_ = SBERR_BAD_ADDRESS;
        return;
    }
    if (sbautoincrement_)
        sbaddress_ += size;
}

} // namespace detail
} // namespace scxsim
