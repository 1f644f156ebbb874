// The simulated world: cables with their chains of devices, the registry of
// chain and device handles, locks, and the recorder. One mutex guards it
// all; lock waits use its condition variable.
#ifndef SCXSIM_WORLD_H
#define SCXSIM_WORLD_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "board.h"
#include "core/answer_codes.h"
#include "hub.h"
#include "record.h"
#include "scx/scx.h"
#include "tap.h"

namespace scxsim {
namespace detail {

// Owner of a device lock held by the foreign client; handle tokens are
// never this small.
const uintptr_t FOREIGN_OWNER = 1;
// A cable flag: the hardware is unavailable and its calls answer 88.
const unsigned long FLAG_UNAVAILABLE = 0x1;
const size_t MAX_OPEN_HANDLES = 1024;
// Time-outs from this many milliseconds on wait for ever.
const unsigned long FOREVER_MS = 0x7FFFFFFFUL;
const unsigned long NO_WAIT_LIMIT = ~0UL;

// The scx_ answers the simulator gives.
using namespace scx::codes;

class Cable;

// A device on a chain, with two fronts over one model of its registers:
// whole scans (ir_scan, dr_scan: the scx_ functions) and a TAP controller
// clocked pin by pin (device_tap.cpp). Both select, capture and update
// registers through the members below.
class Device {
  public:
    enum class Status { attached, removed, cable_gone };
    enum class DataRegister { bypass, idcode, vir, vdr };

    Device(const DeviceDesc &desc, const char *name, Cable *cable);

    // IR scan: captured gets the IR capture value, the instruction is loaded.
    void ir_scan(uint32_t instruction, unsigned long *captured);
    // DR scan of `length` bits through the register the instruction selects.
    void dr_scan(size_t length, const uint8_t *in, size_t in_bits, uint8_t *out, size_t out_bits);

    // The data register the instruction selects, its width now, its
    // capture into bytes_for(width) zeroed bytes, and its update from a
    // buffer of at least that many bytes.
    DataRegister selected_register() const;
    unsigned register_width(DataRegister r) const;
    void capture_register(DataRegister r, uint8_t *bits);
    void update_register(DataRegister r, const uint8_t *bits);

    // Pin level: the TAP controller on a rising TCK edge (TMS and TDI
    // sampled), on a falling edge (updates, TDO changes), and held in
    // Test-Logic-Reset by TRST.
    void tck_rise(bool tms, bool tdi);
    void tck_fall();
    void tap_reset();
    bool tdo() const { return tdo_; }
    TapState tap_state() const { return tap_state_; }

    DeviceDesc desc;  // idcode changes with set_idcode
    const char *name; // interned, or null
    uint32_t instruction;
    std::unique_ptr<Hub> hub;
    Status status = Status::attached;
    Cable *cable;             // null once detached
    uintptr_t lock_owner = 0; // 0, FOREIGN_OWNER or a handle token

  private:
    TapState tap_state_ = TapState::test_logic_reset;
    ShiftStage stage_;                           // the IR or DR being shifted
    DataRegister staged_ = DataRegister::bypass; // which DR the stage holds
    bool tdo_ = true;                            // high impedance reads as 1
};

// The levels a pin-level client last drove on a cable.
struct PinLevels {
    bool tck = false;
    bool tdi = false;
    bool trst = false; // asserted
};

class Cable {
  public:
    enum class Holder { none, local, foreign };

    unsigned long persistent_id = 0;
    std::optional<std::string> name, full_name;
    const char *name_ptr = nullptr; // interned short name
    unsigned long flags = 0;
    std::vector<std::shared_ptr<Device>> chain;
    bool changed = false; // since the last scan_device_chain
    Holder holder = Holder::none;
    std::thread::id holder_thread;
    PinLevels pins;

    bool held_by_other() const {
        return holder == Holder::foreign ||
               (holder == Holder::local && holder_thread != std::this_thread::get_id());
    }
};

struct OpenRecord {
    unsigned long persistent_id;
    std::shared_ptr<Device> device;
};

class World {
  public:
    World();

    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::unique_ptr<Cable>> cables;
    std::unordered_map<uintptr_t, OpenRecord> opens;
    Recorder rec;
    BoardDesc home; // what reset() goes back to
    // Why the board SCX_SIM_BOARD names was refused at start; empty if it was not.
    std::string board_error;
    // Whether board_error was told: asked for through the backend (the
    // program then says it in its own words) or printed on standard error
    // at the first scx_ call of a program that did not ask.
    std::atomic<bool> board_error_told{false};
    unsigned long lock_wait_limit = NO_WAIT_LIMIT;
    std::vector<uint8_t> scratch;

    const char *intern(const std::optional<std::string> &s);
    Cable *cable(unsigned long persistent_id);
    Cable *cable_of_chain(SCX_CHAIN *chain);
    OpenRecord *open_record(SCX_OPEN *handle);
    Device *device_at(unsigned long persistent_id, unsigned long position);
    Node *node_at(unsigned long persistent_id, unsigned long position, unsigned node);

    SCX_CHAIN *chain_handle(unsigned long persistent_id);
    uintptr_t new_token() { return next_token_ += 0x10; }

    // Replaces every cable; handles become unknown, locks go.
    void build(const BoardDesc &board);
    std::unique_ptr<Cable> make_cable(const CableDesc &desc);
    std::shared_ptr<Device> make_device(const DeviceDesc &desc, Cable *cable);
    // A device leaves its chain: its handles answer 39 from now on.
    void detach(Device &d);
    void remove_cable(size_t index);
    void renew_chain(Cable &c);

    // Waits on cv until ready() or the time-out runs out; ready()'s answer.
    template <typename Ready>
    bool wait(std::unique_lock<std::mutex> &lock, unsigned long timeout_ms, Ready ready);

  private:
    void retire_chain(unsigned long persistent_id);

    std::map<unsigned long, uintptr_t> chain_of_pid_;
    std::unordered_map<uintptr_t, unsigned long> pid_of_chain_;
    uintptr_t next_token_ = 0x5C000;
    std::set<std::string> strings_;
};

// The one world, made on first use and never destroyed, so that calls made
// while the process exits still find it.
World &world();

template <typename Ready>
bool World::wait(std::unique_lock<std::mutex> &lock, unsigned long timeout_ms, Ready ready) {
    if (ready())
        return true;
    unsigned long limit = timeout_ms;
    if (lock_wait_limit != NO_WAIT_LIMIT && lock_wait_limit < limit)
        limit = lock_wait_limit;
    if (limit >= FOREVER_MS) {
        cv.wait(lock, ready);
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    return cv.wait_until(lock, deadline, ready);
}

// The frame of every scx_ call: waits out an injected delay, takes the
// world mutex, counts the call, decides an injected fault, and builds the
// trace entry that finish() stores.
class ApiCall {
  public:
    explicit ApiCall(Fn fn);

    void arg(unsigned long v) { e_.args[e_.nargs++] = v; }
    void text(const char *s);
    void cable(unsigned long persistent_id) { e_.cable = persistent_id; }
    void written(const uint8_t *bits, size_t nbits);
    void read(const uint8_t *bits, size_t nbits);
    SCX_ERROR finish(SCX_ERROR result);

    World &w;
    std::unique_lock<std::mutex> lock;
    bool faulted = false;
    SCX_ERROR fault_code = 0;

  private:
    TraceEntry e_;
};

} // namespace detail
} // namespace scxsim

#endif
