// Virtual instruction scan layout: instruction bits, then node address bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "hub/hub.h"

namespace {

// A hub with the given widths and no hardware: the null handle makes
// discovery stop at the device lock.
struct WidthHub {
    ROZI_VUV_HUB hub{nullptr};
    WidthHub(unsigned m, unsigned n) {
        hub.ir_width = static_cast<unsigned char>(m);
        hub.address_width = static_cast<unsigned char>(n);
    }
};

typedef std::vector<uint8_t> Bytes;

Bytes bytes_of(const unsigned char *scan, unsigned bits) {
    return Bytes(scan, scan + (bits + 7) / 8);
}

bool scan_bit(const unsigned char *scan, unsigned j) {
    return (scan[j / 8] >> (j % 8)) & 1;
}

} // namespace

TEST(Encoding, WorkedExamples) {
    struct Row {
        bool force;
        unsigned m, n;
        unsigned char index;
        unsigned long value;
        Bytes bytes;
    };
    const Row rows[] = {
        {false, 5, 2, 0, 0x1F, {0x3F}},
        {false, 5, 3, 2, 0x15, {0x75}},
        {false, 6, 3, 2, 0x2A, {0xEA, 0x00}},
        {false, 8, 3, 2, 0xA5, {0xA5, 0x03}},
        {false, 8, 3, 255, 1, {0x01, 0x00}},
        {false, 8, 3, 255, 2, {0x02, 0x00}},
        {false, 10, 7, 99, 0x2AB, {0xAB, 0x92, 0x01}},
        {false, 32, 8, 254, 0x89ABCDEF, {0xEF, 0xCD, 0xAB, 0x89, 0xFF}},
        {true, 8, 3, 2, 0, {0x1B, 0x00}},
        {true, 12, 5, 40, 0, {0x4B, 0x01, 0x00}},
        {true, 4, 2, 1, 0, {0x13}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "m=" << row.m << " n=" << row.n << " index=" << int(row.index));
        WidthHub h(row.m, row.n);
        unsigned char scan[SLD_SCAN_BUFFER_BYTES] = {};
        const unsigned length = row.force ? h.hub.assemble_hub_force_ir_capture_ir(row.index, scan)
                                          : h.hub.assemble_ir_with_sel_bits(row.index, row.value, scan);
        EXPECT_EQ(row.m + row.n, length);
        EXPECT_EQ(row.bytes, bytes_of(scan, length));
        EXPECT_EQ(Bytes(SLD_SCAN_BUFFER_BYTES - row.bytes.size(), 0),
                  Bytes(scan + row.bytes.size(), scan + SLD_SCAN_BUFFER_BYTES));
    }
}

// Every instruction width the hub word allows, every address width, and
// addresses including 0 (node index 255), against a bit-by-bit layout.
TEST(Encoding, AssembleAndDisassembleMatchBitLayoutForEveryWidth) {
    uint32_t state = 12345;
    for (unsigned m = 1; m <= 255; ++m) {
        for (unsigned n = 1; n <= 8; ++n) {
            WidthHub h(m, n);
            for (unsigned trial = 0; trial < 3; ++trial) {
                state = state * 1664525u + 1013904223u;
                const uint32_t value = m < 32 ? state & ((1u << m) - 1) : state;
                const unsigned address = trial == 0 ? 0 : 1 + (state >> 7) % ((1u << n) - 1);
                unsigned char scan[SLD_SCAN_BUFFER_BYTES] = {};
                ASSERT_EQ(m + n, h.hub.assemble_ir_with_sel_bits(static_cast<unsigned char>(address - 1),
                                                                 value, scan));
                for (unsigned j = 0; j < SLD_SCAN_BUFFER_BYTES * 8; ++j) {
                    bool expected = false;
                    if (j < m)
                        expected = j < 32 && ((value >> j) & 1);
                    else if (j < m + n)
                        expected = (address >> (j - m)) & 1;
                    ASSERT_EQ(expected, scan_bit(scan, j)) << "m=" << m << " n=" << n << " bit " << j;
                }
                unsigned long back = 0;
                h.hub.disassemble_ir_with_sel_bits(&back, scan);
                ASSERT_EQ(value, back) << "m=" << m << " n=" << n;
            }
        }
    }
}

TEST(Encoding, ValuesWiderThanTheFieldStayOutOfTheAddress) {
    WidthHub five(5, 3);
    unsigned char a[SLD_SCAN_BUFFER_BYTES] = {};
    five.hub.assemble_ir_with_sel_bits(0, 0xFF, a); // address 1
    EXPECT_EQ(Bytes({0x3F, 0x00}), bytes_of(a, 16));

    WidthHub eight(8, 3);
    unsigned char b[SLD_SCAN_BUFFER_BYTES] = {};
    eight.hub.assemble_ir_with_sel_bits(1, 0xFFFF, b); // address 2
    EXPECT_EQ(Bytes({0xFF, 0x02}), bytes_of(b, 16));

    // On a 40-bit instruction register bits 32-39 are sent as 0.
    WidthHub wide(40, 2);
    unsigned char c[SLD_SCAN_BUFFER_BYTES] = {};
    EXPECT_EQ(42u, wide.hub.assemble_ir_with_sel_bits(1, 0xFFFFFFFFUL, c));
    EXPECT_EQ(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02}), bytes_of(c, 42));
}

TEST(Encoding, DisassembleIgnoresAddressAndTrailingBits) {
    const unsigned widths[] = {3, 5, 8, 10, 16, 31, 32, 40, 255};
    for (unsigned m : widths) {
        WidthHub h(m, 8);
        unsigned char s[SLD_SCAN_BUFFER_BYTES];
        std::memset(s, 0xFF, sizeof s);
        unsigned long value = 0;
        h.hub.disassemble_ir_with_sel_bits(&value, s);
        EXPECT_EQ(m < 32 ? (1UL << m) - 1 : 0xFFFFFFFFUL, value) << "m=" << m;
    }
    WidthHub h(10, 7);
    unsigned char s[SLD_SCAN_BUFFER_BYTES] = {0xAB, 0x92, 0x01};
    unsigned long value = 0;
    h.hub.disassemble_ir_with_sel_bits(&value, s);
    EXPECT_EQ(0x2ABu, value);
}

TEST(Encoding, ForceCaptureWritesWholeInstructionBytesOfV) {
    // m = 0 writes nothing.
    WidthHub none(0, 1);
    unsigned char a[SLD_SCAN_BUFFER_BYTES] = {};
    EXPECT_EQ(1u, none.hub.assemble_hub_force_ir_capture_ir(200, a));
    EXPECT_EQ(Bytes(SLD_SCAN_BUFFER_BYTES, 0), Bytes(a, a + SLD_SCAN_BUFFER_BYTES));

    // m = 8: only byte 0, so the address field is 0 for every node index.
    WidthHub eight(8, 8);
    for (unsigned index = 0; index < 256; ++index) {
        unsigned char s[SLD_SCAN_BUFFER_BYTES] = {};
        eight.hub.assemble_hub_force_ir_capture_ir(static_cast<unsigned char>(index), s);
        ASSERT_EQ(Bytes({static_cast<uint8_t>(index * 8 + 11), 0}), bytes_of(s, 16)) << index;
    }

    // m = 40: V = 255 * 8 + 11 = 0x803; bytes 2-4 are 0.
    WidthHub wide(40, 8);
    unsigned char c[SLD_SCAN_BUFFER_BYTES] = {};
    EXPECT_EQ(48u, wide.hub.assemble_hub_force_ir_capture_ir(255, c));
    EXPECT_EQ(Bytes({0x03, 0x08, 0, 0, 0, 0}), bytes_of(c, 48));
}

// 8 x index + 11 must fit in m bits: the first node index that does not is
// 1 for m = 4, 3 for m = 5, 31 for m = 8 and 255 for no width (V <= 2051).
TEST(Encoding, ForceCaptureFitsUpToTheFirstIndexWhoseValueNeedsMoreThanM) {
    const struct {
        unsigned m;
        unsigned first_refused; // 256: none
    } rows[] = {{4, 1}, {5, 3}, {6, 7}, {8, 31}, {11, 255}, {12, 256}, {31, 256}, {32, 256}, {255, 256}};
    for (const auto &row : rows) {
        WidthHub h(row.m, 8);
        for (unsigned index = 0; index < 256; ++index)
            ASSERT_EQ(index < row.first_refused, h.hub.force_capture_fits(static_cast<unsigned char>(index)))
                << "m=" << row.m << " index " << index;
    }
}
