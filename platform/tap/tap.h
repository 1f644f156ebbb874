// The IEEE 1149.1 TAP controller's state machine, and the shift stage a
// TAP shifts its instruction or data register through.
#ifndef SCXSIM_TAP_H
#define SCXSIM_TAP_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace scxsim {
namespace detail {

enum class TapState : uint8_t {
    test_logic_reset,
    run_test_idle,
    select_dr_scan,
    capture_dr,
    shift_dr,
    exit1_dr,
    pause_dr,
    exit2_dr,
    update_dr,
    select_ir_scan,
    capture_ir,
    shift_ir,
    exit1_ir,
    pause_ir,
    exit2_ir,
    update_ir
};

// The state after a rising TCK edge with this TMS level.
TapState tap_next(TapState state, bool tms);
// "Test-Logic-Reset", "Run-Test/Idle", "Select-DR-Scan", "Shift-IR", ...
const char *tap_state_name(TapState state);

// A register of fixed width that shifts one bit per TCK in constant time:
// a ring whose head is bit 0 of the register.
class ShiftStage {
  public:
    // Loads `width` (at least 1) captured bits, bit 0 first.
    void load(const uint8_t *bits, size_t width);
    size_t width() const { return ring_.size(); }
    // Bit 0, the bit TDO presents.
    bool first() const { return ring_[head_] != 0; }
    // Bit 0 leaves; `in` becomes the top bit.
    void shift(bool in) {
        ring_[head_] = in;
        if (++head_ == ring_.size())
            head_ = 0;
    }
    // ORs the register's bits, bit 0 first, into bytes_for(width()) bytes.
    void store(uint8_t *bits) const;

  private:
    std::vector<uint8_t> ring_ = std::vector<uint8_t>(1, 0); // one byte per bit
    size_t head_ = 0;
};

} // namespace detail
} // namespace scxsim

#endif
