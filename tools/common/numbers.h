// Numbers and scan data as the user writes them, and captured bits as the
// tool prints them. Shared by the command line and batch files.
//
//   NUMBER  decimal, 0x hexadecimal or 0b binary (010 is ten)
//   DATA    hexadecimal digits with or without 0x, or 0b and binary
//           digits: one number whose bit j is the j-th bit shifted
#ifndef SLDTOOL_NUMBERS_H
#define SLDTOOL_NUMBERS_H

#include <cstdint>
#include <string>
#include <vector>

namespace sldtool {

// Longest data scan the tool makes, in bits.
const unsigned long MAX_SCAN_LENGTH = 1UL << 20;

// Parses a NUMBER no greater than max. On failure returns false and stores
// a message (without the value's name); *value is left alone.
bool parse_number(const std::string &text, uint64_t max, uint64_t *value, std::string *error);

// Parses the DATA of a scan of length bits: leading zeros are fine, set
// bits must lie below length. Stores (length + 7) / 8 bytes, scan bit j in
// bit j % 8 of byte j / 8.
bool parse_data(const std::string &text, unsigned long length, std::vector<uint8_t> *bits,
                std::string *error);

// The first length bits of a scan buffer as "0x" and (length + 3) / 4
// lower-case hex digits, most significant first; bits beyond length are
// ignored.
std::string format_hex_bits(const uint8_t *bits, unsigned long length);

// A number as "0x" and lower-case hex digits.
std::string hex(uint64_t value);

} // namespace sldtool

#endif
