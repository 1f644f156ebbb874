// The operations of the fuzz driver that change the simulated world
// instead of calling the library: hot-plug, foreign locks, injected faults
// and failing allocations. After any of them the model stops predicting the
// outcome of JTAG traffic and checks only the documented statuses.
#include "driver.h"
#include "frame/memory.h"

namespace {

const SCX_ERROR FAULT_CODES[] = {0,  1,  2,  33, 34, 35, 36, 37,   38,          39,
                                 46, 47, 81, 86, 87, 88, 89, 1000, 0xFFFFFFFFUL};
const unsigned long FLAGS[] = {0, 1, 4, 5, 2, 8};
const unsigned FN_COUNT = static_cast<unsigned>(scxsim::Fn::flush) + 1;

} // namespace

void Driver::hot_plug() {
    HotPlug kind = static_cast<HotPlug>(in_.u8() % static_cast<uint8_t>(HotPlug::count));
    unsigned long cable = pick_cable();
    unsigned long position = in_.u8() % 4;
    uint8_t choice = in_.u8();
    const std::string &device = catalog_.device_json[choice % catalog_.device_json.size()];
    std::string error;
    dirty_ = true;
    switch (kind) {
    case HotPlug::remove_cable:
        scxsim::remove_cable(cable);
        break;
    case HotPlug::add_cable: {
        auto json = catalog_.cable_json.find(cable);
        if (json != catalog_.cable_json.end())
            scxsim::add_cable(json->second, &error);
        break;
    }
    case HotPlug::renew_chain_handle:
        scxsim::renew_chain_handle(cable);
        break;
    case HotPlug::set_flags:
        scxsim::set_cable_flags(cable, FLAGS[choice % (sizeof FLAGS / sizeof FLAGS[0])]);
        break;
    case HotPlug::set_name:
        scxsim::set_cable_name(cable, catalog_.new_cable_names[choice % catalog_.new_cable_names.size()]);
        break;
    case HotPlug::set_idcode:
        scxsim::set_idcode(cable, position, catalog_.idcodes[choice % catalog_.idcodes.size()]);
        break;
    case HotPlug::remove_device:
        scxsim::remove_device(cable, position);
        break;
    case HotPlug::insert_device:
        scxsim::insert_device(cable, position, device, &error);
        break;
    case HotPlug::replace_device:
        scxsim::replace_device(cable, position, device, &error);
        break;
    case HotPlug::foreign_lock_device:
        scxsim::foreign_lock_device(cable, position);
        break;
    case HotPlug::foreign_unlock_device:
        scxsim::foreign_unlock_device(cable, position);
        break;
    case HotPlug::foreign_lock_chain:
        scxsim::foreign_lock_chain(cable);
        break;
    case HotPlug::foreign_unlock_chain:
        scxsim::foreign_unlock_chain(cable);
        break;
    case HotPlug::count:
        break;
    }
    history_.back() += " hot-plug " + std::to_string(static_cast<int>(kind));
}

void Driver::fault() {
    FaultKind kind = static_cast<FaultKind>(in_.u8() % static_cast<uint8_t>(FaultKind::count));
    scxsim::Fn fn = static_cast<scxsim::Fn>(in_.u8() % FN_COUNT);
    unsigned long k = 1 + in_.u8() % 24;
    SCX_ERROR code = FAULT_CODES[in_.u8() % (sizeof FAULT_CODES / sizeof FAULT_CODES[0])];
    switch (kind) {
    case FaultKind::fail_call:
        armed_.push_back(Armed{fn, scxsim::call_count(fn) + k});
        scxsim::fail_call(fn, k, code);
        break;
    case FaultKind::fail_every:
        scxsim::fail_every(fn, code);
        dirty_ = true;
        if (fn == scxsim::Fn::any || fn == scxsim::Fn::close_device)
            close_may_have_failed_ = true;
        break;
    case FaultKind::clear:
        scxsim::clear_faults();
        armed_.clear();
        break;
    case FaultKind::fail_allocation:
        allocation_fails_at_ = static_cast<long>(1 + k * 2);
        sld_testing::fail_allocation_after(allocation_fails_at_);
        break;
    case FaultKind::count:
        break;
    }
    history_.back() += " fault " + std::to_string(static_cast<int>(kind)) + " " + scxsim::fn_name(fn) + " " +
                       std::to_string(k) + " " + std::to_string(code);
}
