// Scan-level behaviour of a device: IR loads, IDCODE and BYPASS, how
// lengths shorter or longer than the register behave, and bad scans.
#include <cstring>

#include "sim_helpers.h"

TEST_F(SimWorld, IdcodeIsSelectedAtStartAndByItsInstruction) {
    SCX_OPEN *a = open(1, 0), *cpld = open(1, 1), *b = open(2, 0);
    if (!world().simulated()) {
        // Over OpenOCD a device's instruction is unknown until one is loaded.
        EXPECT_EQ(40u, scx_access_dr(a, 32, 0, 0, 0, nullptr, 0, 0, nullptr));
        idcode(a);
        idcode(cpld);
    }
    EXPECT_EQ(0x020A10DDu, dr(a, 32, 0));
    EXPECT_EQ(0x0A1B2C3Du, dr(cpld, 32, 0));
    unsigned long captured = 0;
    EXPECT_EQ(0u, scx_access_ir(b, 6, &captured, 0));
    EXPECT_EQ(1u, captured); // IR capture value
    EXPECT_EQ(0x02B150DDu, dr(b, 32, 0xFFFFFFFF));
    for (SCX_OPEN *h : {a, cpld, b})
        EXPECT_EQ(0u, scx_close_device(h));
}

TEST_F(SimWorld, UnknownInstructionsSelectOneBitBypass) {
    SCX_OPEN *h = open(1, 1);
    const unsigned late = 1 + world().bypass_bits(1);
    ir(h, 0x55);
    // The bypass bit captures 0, then the bits shifted in come out one late.
    EXPECT_EQ(0xB4u << late, dr(h, 16, 0xB4));
    ir(h, 14); // no hub on this device
    EXPECT_EQ(0x1u << late, dr(h, 8, 0x1));
    EXPECT_EQ(46u, scx_access_ir(h, 0x100, nullptr, 0)) << "does not fit an 8-bit IR";
    scx_close_device(h);
}

TEST_F(SimWorld, ScansLongerThanTheRegisterPassTheWrittenBitsThrough) {
    SCX_OPEN *h = open(1, 0);
    idcode(h);
    // 40 bits through IDCODE: 32 captured bits, then the first 8 written.
    const uint64_t written = uint64_t(0xA5C3) << world().bypass_bits(1);
    EXPECT_EQ(0x020A10DDull | (written & 0xFF) << 32, dr(h, 40, 0xA5C3));
    scx_close_device(h);
}

TEST_F(SimWorld, ShortWriteAndReadLengths) {
    SCX_OPEN *h = open(1, 0);
    select(h, HUB_M, HUB_N, SHIFT, 2); // the 32-bit shift register
    // Only 12 bits written: the rest of the 32 shift in as 0, even though
    // the buffer holds more.
    uint8_t w[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 12, w, 0, 0, nullptr));
    // Only 5 bits read: one byte, the bits past 5 cleared, the next untouched.
    uint8_t r[2] = {0xEE, 0xEE};
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 5, r));
    EXPECT_EQ(0x1F, r[0]);
    EXPECT_EQ(0xEE, r[1]);
    EXPECT_EQ(0xFFFFFFFFu, dr(h, 32, 0x12345678));
    // A 16-bit scan of the 32-bit register keeps its top 16 bits moving down.
    EXPECT_EQ(0x5678u, dr(h, 16, 0xABCD));
    if (world().bypass_bits(1) == 0) {
        EXPECT_EQ(0xABCD1234u, dr(h, 32, 0));
    }
    scx_close_device(h);
}

TEST_F(SimWorld, ReadAndWriteBuffersMayBeTheSame) {
    SCX_OPEN *h = open(1, 0);
    select(h, HUB_M, HUB_N, SHIFT, 2);
    dr(h, 32, 0x11223344);
    uint8_t buf[4] = {0x88, 0x77, 0x66, 0x55};
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, buf, 0, 32, buf));
    EXPECT_EQ(0, std::memcmp(buf, "\x44\x33\x22\x11", 4));
    EXPECT_EQ(0x55667788u, dr(h, 32, 0));
    if (!world().simulated()) {
        scx_close_device(h);
        return;
    }
    std::vector<scxsim::Call> t = scxsim::trace();
    const scxsim::Call &aliased = t[t.size() - 2];
    EXPECT_EQ((std::vector<uint8_t>{0x88, 0x77, 0x66, 0x55}), aliased.written);
    EXPECT_EQ((std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}), aliased.read);
    scx_close_device(h);
}

TEST_F(SimWorld, BadScansAnswerErrorsAndTouchNothing) {
    SCX_OPEN *h = open(1, 0);
    idcode(h);
    uint8_t w[8] = {0}, r[8] = {0x5A};
    EXPECT_EQ(46u, scx_access_dr(h, 8, 0, 0, 9, w, 0, 0, nullptr)) << "write longer than scan";
    EXPECT_EQ(46u, scx_access_dr(h, 8, 0, 0, 0, nullptr, 0, 9, r)) << "read longer than scan";
    EXPECT_EQ(46u, scx_access_dr(h, 8, 0, 0, 8, nullptr, 0, 0, nullptr)) << "null write bits";
    EXPECT_EQ(46u, scx_access_dr(h, 8, 0, 0, 0, nullptr, 0, 8, nullptr)) << "null read bits";
    EXPECT_EQ(46u, scx_access_dr(h, 8, 1, 0, 8, w, 0, 8, r)) << "flags";
    EXPECT_EQ(46u, scx_access_dr(h, 8, 0, 1, 7, w, 0, 8, r)) << "write offset";
    EXPECT_EQ(46u, scx_access_dr(h, 8, 0, 0, 8, w, 2, 6, r)) << "read offset";
    EXPECT_EQ(46u, scx_access_ir(h, 6, nullptr, 4)) << "IR flags";
    EXPECT_EQ(0x5A, r[0]);
    EXPECT_EQ(0x020A10DDu, dr(h, 32, 0)) << "the device kept its instruction";

    ASSERT_EQ(0u, scx_close_device(h));
    EXPECT_EQ(87u, scx_access_dr(h, 8, 0, 0, 8, w, 0, 8, r)) << "closed handle";
    EXPECT_EQ(87u, scx_close_device(h));
    EXPECT_EQ(87u, scx_access_ir(nullptr, 6, nullptr, 0));
    EXPECT_EQ(87u, scx_lock(reinterpret_cast<SCX_OPEN *>(world().chain(1)), 0, SCX_PACK_STYLE_AUTO))
        << "a chain handle is not a device handle";
    EXPECT_EQ(87u, scx_run_test_idle(reinterpret_cast<SCX_OPEN *>(0x1234), 5));
    EXPECT_EQ(0x5A, r[0]);
}

TEST_F(SimWorld, AZeroLengthScanStillCapturesAndUpdates) {
    SCX_OPEN *h = open(1, 0);
    select(h, HUB_M, HUB_N, MEMORY, 1); // ADDRESS
    dr(h, 8, 0);
    select(h, HUB_M, HUB_N, MEMORY, 2); // WRITE: 0xCAFE at 0, 0x77 at 1
    dr(h, 32, 0xCAFE);
    dr(h, 32, 0x77);
    select(h, HUB_M, HUB_N, MEMORY, 1);
    dr(h, 8, 0);
    select(h, HUB_M, HUB_N, MEMORY, 2);
    ASSERT_EQ(0u, scx_access_dr(h, 0, 0, 0, 0, nullptr, 0, 0, nullptr));
    // The update stored what was captured and moved to the next address.
    EXPECT_EQ(0x77u, dr(h, 32, 0x99));
    select(h, HUB_M, HUB_N, MEMORY, 1);
    dr(h, 8, 0);
    select(h, HUB_M, HUB_N, MEMORY, 3); // READ
    EXPECT_EQ(0xCAFEu, dr(h, 32, 0));
    scx_close_device(h);
}
