// A device's TAP controller: the register actions of the IEEE 1149.1
// states on the device's own model (world.cpp), one TCK edge at a time.
// Captures and shifts happen on the rising edge, updates and TDO changes on
// the falling edge, as the standard has them.
#include <cstring>

#include "bits.h"
#include "world.h"

namespace scxsim {
namespace detail {

void Device::tck_rise(bool tms, bool tdi) {
    switch (tap_state_) {
    case TapState::capture_dr: {
        staged_ = selected_register();
        uint8_t bits[MAX_REGISTER_BYTES];
        const unsigned width = register_width(staged_);
        std::memset(bits, 0, bytes_for(width));
        capture_register(staged_, bits);
        stage_.load(bits, width);
        break;
    }
    case TapState::capture_ir: {
        uint8_t bits[4];
        put_u64(bits, 32, desc.ir_capture);
        stage_.load(bits, desc.ir_length);
        break;
    }
    case TapState::shift_dr:
    case TapState::shift_ir:
        stage_.shift(tdi);
        break;
    case TapState::run_test_idle:
        if (hub)
            hub->idle(1);
        break;
    default:
        break;
    }
    tap_state_ = tap_next(tap_state_, tms);
    if (tap_state_ == TapState::test_logic_reset)
        instruction = desc.idcode_instruction;
}

void Device::tck_fall() {
    if (tap_state_ == TapState::update_dr) {
        // Zeroed to the widest register: an scx_ call between capture and
        // update may have changed the selection and so the width.
        uint8_t bits[MAX_REGISTER_BYTES] = {};
        stage_.store(bits);
        update_register(staged_, bits);
    } else if (tap_state_ == TapState::update_ir) {
        uint8_t bits[4] = {};
        stage_.store(bits);
        instruction = uint32_t(get_u64(bits, desc.ir_length));
    }
    const bool shifting = tap_state_ == TapState::shift_dr || tap_state_ == TapState::shift_ir;
    tdo_ = shifting ? stage_.first() : true;
}

void Device::tap_reset() {
    tap_state_ = TapState::test_logic_reset;
    instruction = desc.idcode_instruction;
    tdo_ = true;
}

} // namespace detail
} // namespace scxsim
