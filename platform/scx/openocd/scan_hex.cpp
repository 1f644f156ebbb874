#include "scan_hex.h"

#include <cstdio>

namespace scxopenocd {
namespace detail {

namespace {

const char DIGITS[] = "0123456789abcdef";

int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Bits first..first+3 of the written bits, as one digit's value.
unsigned nibble(const unsigned char *bits, unsigned long write_length, unsigned long first) {
    unsigned value = 0;
    for (unsigned k = 0; k < 4; ++k) {
        const unsigned long j = first + k;
        if (j < write_length && (bits[j / 8] >> (j % 8)) & 1) {
            value |= 1u << k;
        }
    }
    return value;
}

} // namespace

std::string hex_number(unsigned long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", value);
    return text;
}

std::string bits_to_hex(const unsigned char *bits, unsigned long write_length, unsigned long length) {
    const unsigned long digits = length == 0 ? 1 : (length + 3) / 4;
    std::string text(2 + digits, '0');
    text[1] = 'x';
    for (unsigned long d = 0; d < digits; ++d) {
        const unsigned long first = 4 * d;
        unsigned value = 0;
        if (first + 4 <= write_length && first % 8 == 0) {
            value = bits[first / 8] & 0xF;
        } else if (first + 4 <= write_length) {
            value = bits[first / 8] >> 4;
        } else if (first < write_length) {
            value = nibble(bits, write_length, first);
        }
        text[2 + digits - 1 - d] = DIGITS[value];
    }
    return text;
}

bool hex_to_bits(std::string_view hex, unsigned long length, unsigned char *out, unsigned long read_length) {
    const unsigned long bytes = (length + 7) / 8;
    if (read_length > length || hex.size() != 2 * bytes) {
        return false;
    }
    for (char c : hex) {
        if (digit_value(c) < 0) {
            return false;
        }
    }
    const unsigned long read_bytes = (read_length + 7) / 8;
    for (unsigned long i = 0; i < read_bytes; ++i) {
        const size_t at = size_t(2 * (bytes - 1 - i));
        out[i] = static_cast<unsigned char>(digit_value(hex[at]) << 4 | digit_value(hex[at + 1]));
    }
    if (read_length % 8 != 0) {
        out[read_bytes - 1] &= static_cast<unsigned char>((1u << (read_length % 8)) - 1);
    }
    return true;
}

} // namespace detail
} // namespace scxopenocd
