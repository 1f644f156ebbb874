// Helpers for tests that drive a JTAG world through scx_ calls: the
// simulated one, or (for the tests that sim_openocd_test shares) the same
// board through OpenOCD (boundary_world.h).
#ifndef SIM_TEST_HELPERS_H
#define SIM_TEST_HELPERS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "boundary_world.h"
#include "scx/scx.h"
#include "scxsim.h"

// Ends the test as skipped where the world cannot produce its situation.
#define REQUIRE_SIMULATED()                                                                                  \
    do {                                                                                                     \
        if (!world().simulated())                                                                            \
            GTEST_SKIP() << "needs the simulated world's control API";                                       \
    } while (0)

// Every test starts from the default board with no faults or trace.
class SimWorld : public ::testing::Test {
  protected:
    void SetUp() override { world().reset(); }
    void TearDown() override {
        if (world().simulated())
            world().reset();
    }

    SCX_OPEN *open(unsigned long cable, unsigned long position) {
        SCX_OPEN *h = nullptr;
        EXPECT_EQ(0u, scx_open_device(world().chain(cable), position, &h, claims, 1, "test"));
        return h;
    }

    // One DR scan of up to 64 bits, writing and reading all of them.
    uint64_t dr(SCX_OPEN *h, unsigned length, uint64_t in) {
        uint8_t w[8], r[8] = {0};
        for (int i = 0; i < 8; ++i)
            w[i] = uint8_t(in >> (8 * i));
        EXPECT_EQ(0u, scx_access_dr(h, length, 0, 0, length, w, 0, length, r));
        uint64_t out = 0;
        for (int i = 0; i < 8; ++i)
            out |= uint64_t(r[i]) << (8 * i);
        return out;
    }

    void ir(SCX_OPEN *h, unsigned long instruction) {
        EXPECT_EQ(0u, scx_access_ir(h, instruction, nullptr, 0));
    }

    // Selects the IDCODE register: instruction 6 on the default board's
    // devices (the simulated world also selects it at start).
    void idcode(SCX_OPEN *h) { ir(h, 6); }

    // A virtual instruction scan on a hub of m instruction and n address bits.
    uint64_t vir(SCX_OPEN *h, unsigned m, unsigned n, uint64_t value, uint64_t address) {
        ir(h, 14);
        return dr(h, m + n, value | address << m);
    }

    // Selects node `index` with `instruction` and leaves IR 12 loaded.
    void select(SCX_OPEN *h, unsigned m, unsigned n, unsigned index, uint64_t instruction) {
        vir(h, m, n, instruction, index + 1);
        ir(h, 12);
    }

    static constexpr SCX_CLAIM claims[1] = {{0x300, 14}};
};

// The default board's hub on cable 1, position 0: m = 8, four nodes, n = 3.
const unsigned HUB_M = 8, HUB_N = 3;
const unsigned MEMORY = 0, STREAM = 1, PROBE = 2, SHIFT = 3;

#endif
