// Scan bits in OpenOCD's hex form. A scan buffer holds bit j at bit j % 8
// of byte j / 8, bit 0 shifted first; OpenOCD writes and answers a field
// as one hex number, most significant digit first, whose bit 0 is the bit
// shifted first.
#ifndef SCXOPENOCD_SCAN_HEX_H
#define SCXOPENOCD_SCAN_HEX_H

#include <string>
#include <string_view>

namespace scxopenocd {
namespace detail {

// A number as OpenOCD must read it: "0x" and lower-case hex digits (a
// leading 0 would be octal there).
std::string hex_number(unsigned long long value);

// "0x" and (length + 3) / 4 hex digits (at least one) holding the first
// write_length bits of bits (null when write_length is 0); the bits from
// write_length to length are 0.
std::string bits_to_hex(const unsigned char *bits, unsigned long write_length, unsigned long length);

// Reads OpenOCD's answer to a drscan of `length` bits: exactly
// 2 * ((length + 7) / 8) hex digits, either case, nothing else. Writes the
// first read_length bits to out in (read_length + 7) / 8 bytes, the unused
// bits of the last byte 0, nothing beyond. Anything else answers false
// and writes nothing.
bool hex_to_bits(std::string_view hex, unsigned long length, unsigned char *out, unsigned long read_length);

} // namespace detail
} // namespace scxopenocd

#endif
