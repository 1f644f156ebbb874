// The debug transport module: dtmcs and dmi scans onto the debug module.
#include "riscv_dtm.h"

#include "bits.h"

namespace scxsim {
namespace detail {

namespace {

const uint64_t IDCODE = 0x01, DTMCS = 0x10, DMI = 0x11;
const unsigned ABITS = 7;
const unsigned DMI_WIDTH = ABITS + 34;
// dtmcs: version 1 (0.13), abits, dmistat 0, idle 0.
const uint32_t DTMCS_VALUE = 1 | ABITS << 4;
const uint64_t OP_READ = 1, OP_WRITE = 2;

} // namespace

RiscvDtm::RiscvDtm(const NodeDesc &desc) : idcode_(desc.idcode), dm_(desc.ram_base, desc.ram_size) {}

unsigned RiscvDtm::dr_width(uint64_t instruction) const {
    if (instruction == IDCODE || instruction == DTMCS)
        return 32;
    if (instruction == DMI)
        return DMI_WIDTH;
    return 1;
}

void RiscvDtm::dr_capture(uint64_t instruction, uint8_t *bits) const {
    if (instruction == IDCODE)
        put_u64(bits, 32, idcode_);
    else if (instruction == DTMCS)
        put_u64(bits, 32, DTMCS_VALUE);
    else if (instruction == DMI)
        put_u64(bits, DMI_WIDTH, uint64_t(address_) << 34 | uint64_t(data_) << 2); // op 0: success
}

void RiscvDtm::dr_update(uint64_t instruction, const uint8_t *bits) {
    if (instruction == DTMCS) {
        // dmireset and dmihardreset: nothing is ever pending or sticky.
    } else if (instruction == DMI) {
        const uint64_t v = get_u64(bits, DMI_WIDTH);
        const uint64_t op = v & 3;
        const unsigned address = unsigned(v >> 34);
        if (op == OP_READ) {
            address_ = address;
            data_ = dm_.read(address);
        } else if (op == OP_WRITE) {
            address_ = address;
            data_ = 0;
            dm_.write(address, uint32_t(v >> 2));
        }
    }
    dm_.run(INSTRUCTIONS_PER_SCAN);
}

} // namespace detail
} // namespace scxsim
