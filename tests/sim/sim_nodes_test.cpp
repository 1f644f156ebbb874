// The node models as the host sees them through the hub and as the device
// side sees them through the control API.
#include "sim_helpers.h"

TEST_F(SimWorld, MemoryNodeAddressesWritesAndReadsWithAutoIncrement) {
    SCX_OPEN *h = open(1, 0);
    select(h, HUB_M, HUB_N, MEMORY, 1); // ADDRESS, 8 bits for depth 256
    EXPECT_EQ(0u, dr(h, 8, 254));
    EXPECT_EQ(254u, dr(h, 8, 254)) << "captures the address";
    select(h, HUB_M, HUB_N, MEMORY, 2); // WRITE
    dr(h, 32, 0x11111111);
    dr(h, 32, 0x22222222);
    dr(h, 32, 0x33333333); // wraps to address 0
    dr(h, 32, 0);
    dr(h, 32, 0xDEADBEEF);
    select(h, HUB_M, HUB_N, MEMORY, 1);
    dr(h, 8, 254);
    select(h, HUB_M, HUB_N, MEMORY, 3); // READ, from address 254
    EXPECT_EQ(0x11111111u, dr(h, 32, 0xFFFFFFFF));
    EXPECT_EQ(0x22222222u, dr(h, 32, 0xFFFFFFFF));
    EXPECT_EQ(0x33333333u, dr(h, 32, 0xFFFFFFFF));
    EXPECT_EQ(0u, dr(h, 32, 0xFFFFFFFF));
    EXPECT_EQ(0xDEADBEEFu, dr(h, 32, 0xFFFFFFFF));
    select(h, HUB_M, HUB_N, MEMORY, 1);
    dr(h, 8, 2);
    select(h, HUB_M, HUB_N, MEMORY, 3);
    EXPECT_EQ(0xDEADBEEFu, dr(h, 32, 0)) << "READ ignores the bits written";
    scx_close_device(h);
    if (!world().simulated())
        return;

    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, MEMORY, 254, &word));
    EXPECT_EQ(0x11111111u, word) << "the device side sees the same words";
    ASSERT_TRUE(scxsim::memory_poke(1, 0, MEMORY, 0, 0x5A5A));
    ASSERT_TRUE(scxsim::memory_peek(1, 0, MEMORY, 0, &word));
    EXPECT_EQ(0x5A5Au, word);
    EXPECT_FALSE(scxsim::memory_peek(1, 0, MEMORY, 256, &word));
    EXPECT_FALSE(scxsim::memory_poke(1, 0, MEMORY, 0, 1ull << 32)) << "wider than the word";
    EXPECT_FALSE(scxsim::memory_poke(1, 0, STREAM, 0, 1)) << "not a memory node";
}

TEST_F(SimWorld, MemoryAddressWidthFollowsTheDepth) {
    SCX_OPEN *h = open(2, 0); // 64 x 16: a 6-bit address, m = 6, n = 2
    select(h, 6, 2, 0, 1);
    dr(h, 6, 63);
    EXPECT_EQ(63u, dr(h, 8, 0)) << "8 bits through a 6-bit register";
    select(h, 6, 2, 0, 2);
    dr(h, 16, 0xBEEF);
    select(h, 6, 2, 0, 1);
    EXPECT_EQ(1u, dr(h, 6, 0)) << "the 8-bit scan loaded address 0, the write moved on";
    select(h, 6, 2, 0, 3);
    EXPECT_EQ(0xBEEFu, dr(h, 16, 0));
    scx_close_device(h);
}

TEST_F(SimWorld, StreamNodeCarriesBytesBothWays) {
    REQUIRE_SIMULATED();
    SCX_OPEN *h = open(1, 0);
    select(h, HUB_M, HUB_N, STREAM, 2); // STATUS
    EXPECT_EQ(64u << 8, dr(h, 16, 0)) << "nothing waiting, all room free";
    ASSERT_TRUE(scxsim::stream_send(1, 0, STREAM, {'o', 'k'}));
    EXPECT_EQ(2u | 64u << 8, dr(h, 16, 0));

    select(h, HUB_M, HUB_N, STREAM, 1); // DATA
    EXPECT_EQ(0x100u | 'o', dr(h, 9, 0x100 | 'h'));
    EXPECT_EQ(0x100u | 'k', dr(h, 9, 0x100 | 'i'));
    EXPECT_EQ(0u, dr(h, 9, 'x')) << "nothing to read; bit 8 clear sends nothing";
    EXPECT_EQ((std::vector<uint8_t>{'h', 'i'}), scxsim::stream_receive(1, 0, STREAM));
    EXPECT_TRUE(scxsim::stream_receive(1, 0, STREAM).empty());

    // A full host-to-device FIFO drops bytes; the status shows the room.
    for (int i = 0; i < 70; ++i)
        dr(h, 9, 0x100 | i);
    select(h, HUB_M, HUB_N, STREAM, 2);
    EXPECT_EQ(0u, dr(h, 16, 0));
    EXPECT_EQ(64u, scxsim::stream_receive(1, 0, STREAM).size());
    EXPECT_FALSE(scxsim::stream_send(1, 0, STREAM, std::vector<uint8_t>(65, 1))) << "more than fits";
    scx_close_device(h);
}

TEST_F(SimWorld, ProbeNodeCapturesProbesAndUpdatesSources) {
    REQUIRE_SIMULATED();
    SCX_OPEN *h = open(1, 0);
    ASSERT_TRUE(scxsim::probe_set(1, 0, PROBE, {0x78, 0x56, 0x34, 0x12}));
    EXPECT_FALSE(scxsim::probe_set(1, 0, PROBE, {0x78})) << "wrong size";
    select(h, HUB_M, HUB_N, PROBE, 1);
    EXPECT_EQ(0x12345678u, dr(h, 32, 0xFFFFFFFF));
    EXPECT_EQ(0x12345678u, dr(h, 32, 0)) << "PROBE does not update";
    select(h, HUB_M, HUB_N, PROBE, 2);
    EXPECT_EQ(0u, dr(h, 32, 0xA1B2C3D4));
    EXPECT_EQ((std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}), scxsim::source_get(1, 0, PROBE));
    EXPECT_EQ(0xA1B2C3D4u, dr(h, 32, 0xA1B2C3D4));
    scx_close_device(h);
}

TEST_F(SimWorld, ShiftNodeKeepsOneRegisterPerInstruction) {
    SCX_OPEN *h = open(1, 0);
    select(h, HUB_M, HUB_N, SHIFT, 1);
    dr(h, 8, 0xAB);
    select(h, HUB_M, HUB_N, SHIFT, 2);
    dr(h, 32, 0x01020304);
    select(h, HUB_M, HUB_N, SHIFT, 1);
    EXPECT_EQ(0xABu, dr(h, 8, 0));
    select(h, HUB_M, HUB_N, SHIFT, 2);
    EXPECT_EQ(0x01020304u, dr(h, 32, 0));
    select(h, HUB_M, HUB_N, SHIFT, 9); // not listed: bypass
    EXPECT_EQ(0xF0u << (1 + world().bypass_bits(1)), dr(h, 12, 0xF0));
    scx_close_device(h);
}

TEST_F(SimWorld, WideRegistersKeepEveryBit) {
    REQUIRE_SIMULATED();
    ASSERT_TRUE(scxsim::load_board_string(R"({"cables": [{"persistent_id": 7, "devices": [
        {"idcode": 1, "ir_length": 4, "hub": {"version": 0, "ir_width": 4, "nodes": [
          {"model": "shift", "registers": {"1": 200}}]}}]}]})",
                                          nullptr));
    SCX_OPEN *h = open(7, 0);
    select(h, 4, 1, 0, 1);
    std::vector<uint8_t> pattern(25), back(25, 0);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = uint8_t(i * 37 + 1);
    ASSERT_EQ(0u, scx_access_dr(h, 200, 0, 0, 200, pattern.data(), 0, 0, nullptr));
    ASSERT_EQ(0u, scx_access_dr(h, 200, 0, 0, 0, nullptr, 0, 200, back.data()));
    EXPECT_EQ(pattern, back);
    scx_close_device(h);
}
