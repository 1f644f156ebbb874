// Virtual instruction scans: an instruction value of ir_width (m) bits
// followed by a node address of address_width (n) bits, least significant
// bit first; scan bit j is bit j % 8 of byte j / 8. Instruction values are
// 32 bits wide: on hubs with m above 32 the higher instruction bits are 0.
#include "frame/manager.h"
#include "hub/hub.h"

// Byte i of a 32-bit value; 0 above byte 3.
static unsigned char encoding_value_byte(unsigned long value, unsigned i) {
    return i < 4 ? static_cast<unsigned char>((value >> (8 * i)) & 0xFF) : 0;
}

unsigned ROZI_VUV_HUB::assemble_ir_with_sel_bits(unsigned char index, unsigned long value,
                                                 unsigned char *scan) const {
    const unsigned m = ir_width;
    const unsigned n = address_width;
    const unsigned k = m / 8;
    const unsigned r = m % 8;
    // Node index 255 wraps to address 0, the hub itself.
    const unsigned address = (index + 1u) & 0xFF;

    for (unsigned i = 0; i < k; ++i)
        scan[i] |= encoding_value_byte(value, i);
    // The last r instruction bits share byte k with the address; keep a
    // value wider than m out of the address field.
    scan[k] |= encoding_value_byte(value, k) & ((1u << r) - 1);

    scan[k] |= static_cast<unsigned char>((address << r) & 0xFF);
    if (r + n > 8)
        scan[k + 1] |= static_cast<unsigned char>(address >> (8 - r));
    return m + n;
}

void ROZI_VUV_HUB::disassemble_ir_with_sel_bits(unsigned long *value, unsigned char *scan) const {
    const unsigned k = ir_width / 8;
    const unsigned r = ir_width % 8;

    scan[k] &= static_cast<unsigned char>((1u << r) - 1);
    const unsigned top = k < 3 ? k : 3;
    unsigned long word = 0;
    for (unsigned i = 0; i <= top; ++i)
        word |= static_cast<unsigned long>(scan[i]) << (8 * i);
    *value = word & 0xFFFFFFFFUL;
}

// The force-capture value of a node is a hub instruction: it must fit in
// m bits, or its high bits would address a node (or be lost) instead.
bool ROZI_VUV_HUB::force_capture_fits(unsigned char index) const {
    const unsigned long v = index * 8UL + 11;
    return ir_width >= 32 || v < (1UL << ir_width);
}

unsigned ROZI_VUV_HUB::assemble_hub_force_ir_capture_ir(unsigned char index, unsigned char *scan) const {
    // Without an address, and not masked: callers send it only when
    // force_capture_fits(index), so no bit of V reaches the address field.
    const unsigned long v = (index * 8UL + 11) & 0xFFFFFFFFUL;
    const unsigned bytes = (ir_width + 7u) / 8;
    for (unsigned i = 0; i < bytes; ++i)
        scan[i] |= encoding_value_byte(v, i);
    return ir_width + address_width;
}
