// The TAP state machine and the shift stage.
#include "tap.h"

namespace scxsim {
namespace detail {

namespace {

struct Transition {
    TapState on_low, on_high;
    const char *name;
};

using S = TapState;

// Indexed by TapState.
const Transition TRANSITIONS[] = {
    {S::run_test_idle, S::test_logic_reset, "Test-Logic-Reset"},
    {S::run_test_idle, S::select_dr_scan, "Run-Test/Idle"},
    {S::capture_dr, S::select_ir_scan, "Select-DR-Scan"},
    {S::shift_dr, S::exit1_dr, "Capture-DR"},
    {S::shift_dr, S::exit1_dr, "Shift-DR"},
    {S::pause_dr, S::update_dr, "Exit1-DR"},
    {S::pause_dr, S::exit2_dr, "Pause-DR"},
    {S::shift_dr, S::update_dr, "Exit2-DR"},
    {S::run_test_idle, S::select_dr_scan, "Update-DR"},
    {S::capture_ir, S::test_logic_reset, "Select-IR-Scan"},
    {S::shift_ir, S::exit1_ir, "Capture-IR"},
    {S::shift_ir, S::exit1_ir, "Shift-IR"},
    {S::pause_ir, S::update_ir, "Exit1-IR"},
    {S::pause_ir, S::exit2_ir, "Pause-IR"},
    {S::shift_ir, S::update_ir, "Exit2-IR"},
    {S::run_test_idle, S::select_dr_scan, "Update-IR"},
};

} // namespace

TapState tap_next(TapState state, bool tms) {
    const Transition &t = TRANSITIONS[static_cast<unsigned>(state)];
    return tms ? t.on_high : t.on_low;
}

const char *tap_state_name(TapState state) {
    return TRANSITIONS[static_cast<unsigned>(state)].name;
}

void ShiftStage::load(const uint8_t *bits, size_t width) {
    ring_.resize(width);
    for (size_t i = 0; i < width; ++i)
        ring_[i] = uint8_t((bits[i / 8] >> (i % 8)) & 1);
    head_ = 0;
}

void ShiftStage::store(uint8_t *bits) const {
    const size_t width = ring_.size();
    size_t at = head_;
    for (size_t i = 0; i < width; ++i) {
        bits[i / 8] = uint8_t(bits[i / 8] | ring_[at] << (i % 8));
        if (++at == width)
            at = 0;
    }
}

} // namespace detail
} // namespace scxsim
