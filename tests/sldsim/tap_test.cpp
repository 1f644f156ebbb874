// The TAP controller of every simulated device, driven pin by pin: its 16
// states and their transitions, reset by TMS and by TRST, what
// Test-Logic-Reset does to the instruction and the hub, and when TDO changes.
#include <string>

#include "pin_jtag.h"
#include "scxsim.h"

namespace {

struct StateRow {
    const char *state;
    Bits path; // TMS levels from Test-Logic-Reset
    const char *on_low, *on_high;
};

const StateRow STATES[] = {
    {"Test-Logic-Reset", {}, "Run-Test/Idle", "Test-Logic-Reset"},
    {"Run-Test/Idle", {0}, "Run-Test/Idle", "Select-DR-Scan"},
    {"Select-DR-Scan", {0, 1}, "Capture-DR", "Select-IR-Scan"},
    {"Capture-DR", {0, 1, 0}, "Shift-DR", "Exit1-DR"},
    {"Shift-DR", {0, 1, 0, 0}, "Shift-DR", "Exit1-DR"},
    {"Exit1-DR", {0, 1, 0, 1}, "Pause-DR", "Update-DR"},
    {"Pause-DR", {0, 1, 0, 1, 0}, "Pause-DR", "Exit2-DR"},
    {"Exit2-DR", {0, 1, 0, 1, 0, 1}, "Shift-DR", "Update-DR"},
    {"Update-DR", {0, 1, 0, 1, 1}, "Run-Test/Idle", "Select-DR-Scan"},
    {"Select-IR-Scan", {0, 1, 1}, "Capture-IR", "Test-Logic-Reset"},
    {"Capture-IR", {0, 1, 1, 0}, "Shift-IR", "Exit1-IR"},
    {"Shift-IR", {0, 1, 1, 0, 0}, "Shift-IR", "Exit1-IR"},
    {"Exit1-IR", {0, 1, 1, 0, 1}, "Pause-IR", "Update-IR"},
    {"Pause-IR", {0, 1, 1, 0, 1, 0}, "Pause-IR", "Exit2-IR"},
    {"Exit2-IR", {0, 1, 1, 0, 1, 0, 1}, "Shift-IR", "Update-IR"},
    {"Update-IR", {0, 1, 1, 0, 1, 1}, "Run-Test/Idle", "Select-DR-Scan"},
};

class Tap : public ::testing::Test {
  protected:
    void SetUp() override { scxsim::reset(); }
    void TearDown() override { scxsim::reset(); }

    // From any state to the row's state, by way of Test-Logic-Reset.
    void go_to(const StateRow &row) {
        jtag.clock({1, 1, 1, 1, 1});
        jtag.clock(row.path);
        ASSERT_EQ(row.state, scxsim::tap_state(1, 0));
    }

    // The default board's cable 1: three devices; the one nearest TDO has
    // a 10-bit IR and the hub, the second an 8-bit IR, the third a 10-bit IR.
    Bits ir_for_device0(uint32_t instruction) {
        Bits b = to_bits(instruction, 10);
        b.insert(b.end(), 18, 1); // the others in BYPASS
        return b;
    }

    PinJtag jtag{1};
};

} // namespace

TEST_F(Tap, EveryStateGoesWhereTmsSends) {
    for (const StateRow &row : STATES)
        for (bool tms : {false, true}) {
            go_to(row);
            jtag.clock({tms});
            for (unsigned long position = 0; position < 3; ++position)
                EXPECT_EQ(tms ? row.on_high : row.on_low, scxsim::tap_state(1, position))
                    << "from " << row.state << " with TMS " << tms << ", device " << position;
        }
}

TEST_F(Tap, FiveClocksWithTmsHighResetFromAnyState) {
    for (const StateRow &row : STATES) {
        go_to(row);
        jtag.clock({1, 1, 1, 1, 1});
        EXPECT_EQ("Test-Logic-Reset", scxsim::tap_state(1, 0)) << "from " << row.state;
    }
}

TEST_F(Tap, ResetLoadsIdcodeAndLeavesTheHubSelected) {
    jtag.reset();
    // Select the shift node (address 4) with its 8-bit register and fill it.
    jtag.scan(true, ir_for_device0(14));
    jtag.scan(false, to_bits(1 | 4u << 8, 11 + 2)); // 11 VIR bits, 2 bypass bits
    jtag.scan(true, ir_for_device0(12));
    jtag.scan(false, to_bits(0xA5, 8 + 2));
    EXPECT_EQ(8u, scxsim::selected_dr_width(1, 0));

    jtag.clock({1, 1, 1, 1, 1, 0}); // by TMS
    EXPECT_EQ(32u, scxsim::selected_dr_width(1, 0)) << "IDCODE after Test-Logic-Reset";
    jtag.scan(true, ir_for_device0(12));
    EXPECT_EQ(0xA5u, from_bits(jtag.scan(false, Bits(8 + 2, 0)), 0, 8)) << "the hub kept its selection";

    // The same by TRST, which holds every TAP in Test-Logic-Reset.
    jtag.scan(true, ir_for_device0(14));
    const scxsim::PinStep trst[] = {scxsim::PinStep::reset(true, false)};
    ASSERT_TRUE(scxsim::drive_pins(1, trst, 1, nullptr));
    jtag.clock({0, 0});
    EXPECT_EQ("Test-Logic-Reset", scxsim::tap_state(1, 2));
    EXPECT_EQ(32u, scxsim::selected_dr_width(1, 0));
    const scxsim::PinStep release[] = {scxsim::PinStep::reset(false, true)}; // SRST does nothing
    ASSERT_TRUE(scxsim::drive_pins(1, release, 1, nullptr));
    jtag.clock({0});
    EXPECT_EQ("Run-Test/Idle", scxsim::tap_state(1, 2));
}

TEST_F(Tap, TdoChangesOnTheFallingEdgeAndIsHighOutsideShift) {
    jtag.reset();
    jtag.scan(true, Bits(28, 1)); // BYPASS everywhere: captures 0
    using scxsim::PinStep;
    const PinStep steps[] = {
        PinStep::drive(false, true, false),
        PinStep::drive(true, true, false), // Select-DR-Scan
        PinStep::drive(false, false, false),
        PinStep::drive(true, false, false), // Capture-DR
        PinStep::drive(false, false, false),
        PinStep::drive(true, false, false), // Shift-DR
        PinStep::sample(),                  // not yet presented
        PinStep::drive(false, false, false),
        PinStep::sample(), // bit 0 of the bypass
    };
    Bits tdo;
    ASSERT_TRUE(scxsim::drive_pins(1, steps, sizeof steps / sizeof steps[0], &tdo));
    EXPECT_EQ((Bits{1, 0}), tdo);
}

TEST_F(Tap, UnknownAndUnavailableCablesAreRefused) {
    const scxsim::PinStep s[] = {scxsim::PinStep::sample()};
    EXPECT_FALSE(scxsim::drive_pins(9, s, 1, nullptr));
    ASSERT_TRUE(scxsim::set_cable_flags(2, 1));
    EXPECT_FALSE(scxsim::drive_pins(2, s, 1, nullptr));
}
