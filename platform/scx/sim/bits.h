// Bit strings in scan-buffer order: bit j of a string is bit j % 8 of
// byte j / 8, and bit 0 is the first bit shifted.
#ifndef SCXSIM_BITS_H
#define SCXSIM_BITS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace scxsim {
namespace detail {

inline size_t bytes_for(size_t bits) {
    return (bits + 7) / 8;
}

// ORs n bits of src, from bit soff on, into dst from bit doff on. The
// destination bits must be 0 beforehand; no byte past either range is read
// or written.
inline void or_bits(uint8_t *dst, size_t doff, const uint8_t *src, size_t soff, size_t n) {
    while (n > 0) {
        const unsigned k = n < 8 ? unsigned(n) : 8u;
        const unsigned sb = unsigned(soff & 7);
        const uint8_t *s = src + (soff >> 3);
        unsigned v = unsigned(s[0]) >> sb;
        if (sb + k > 8)
            v |= unsigned(s[1]) << (8 - sb);
        v &= (1u << k) - 1;
        const unsigned db = unsigned(doff & 7);
        uint8_t *d = dst + (doff >> 3);
        d[0] = uint8_t(d[0] | (v << db));
        if (db + k > 8)
            d[1] = uint8_t(d[1] | (v >> (8 - db)));
        soff += k;
        doff += k;
        n -= k;
    }
}

// The low `bits` bits (at most 64) of a string as a number.
inline uint64_t get_u64(const uint8_t *src, unsigned bits) {
    uint64_t v = 0;
    const size_t n = bytes_for(bits);
    for (size_t i = 0; i < n; ++i)
        v |= uint64_t(src[i]) << (8 * i);
    if (bits < 64)
        v &= (uint64_t(1) << bits) - 1;
    return v;
}

// Stores the low `bits` bits (at most 64) of value as bytes_for(bits) bytes.
inline void put_u64(uint8_t *dst, unsigned bits, uint64_t value) {
    if (bits < 64)
        value &= (uint64_t(1) << bits) - 1;
    const size_t n = bytes_for(bits);
    for (size_t i = 0; i < n; ++i)
        dst[i] = uint8_t(value >> (8 * i));
}

inline uint64_t low_mask(unsigned bits) {
    return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
}

// Number of bits needed to write v (0 for 0).
inline unsigned bit_length(uint64_t v) {
    unsigned n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// One scan through a register of `width` bits that captured `cap`.
// `length` bits are shifted; the first in_bits of them come from `in`, the
// rest are 0. `reg` (bytes_for(width) bytes) receives the register after
// the shifts, `out` (bytes_for(out_bits) bytes) the first out_bits bits
// shifted out, with the unused bits of its last byte 0. A register passes
// its captured bits first and then the bits shifted in, delayed by width.
inline void shift_through(const uint8_t *cap, size_t width, size_t length, const uint8_t *in, size_t in_bits,
                          uint8_t *reg, uint8_t *out, size_t out_bits) {
    std::memset(reg, 0, bytes_for(width));
    if (out_bits > 0) {
        std::memset(out, 0, bytes_for(out_bits));
        or_bits(out, 0, cap, 0, out_bits < width ? out_bits : width);
        if (out_bits > width) {
            size_t n = out_bits - width;
            if (n > in_bits)
                n = in_bits;
            if (n > 0)
                or_bits(out, width, in, 0, n);
        }
    }
    if (length < width) {
        or_bits(reg, 0, cap, length, width - length);
        const size_t n = length < in_bits ? length : in_bits;
        if (n > 0)
            or_bits(reg, width - length, in, 0, n);
    } else {
        const size_t start = length - width;
        if (in_bits > start) {
            size_t n = in_bits - start;
            if (n > width)
                n = width;
            or_bits(reg, 0, in, start, n);
        }
    }
}

} // namespace detail
} // namespace scxsim

#endif
