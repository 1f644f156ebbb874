// The bookkeeping of the fuzz driver: the state every input starts from,
// fault and allocation-failure tracking, the probe of every hub id after
// each operation, the final clean-up, and the choice of arguments.
#include "driver.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "frame/memory.h"
#include "thr_debug.h"

namespace {

const size_t MAX_OPS = 96;

} // namespace

void Driver::reset_world() {
    // A failing enumeration empties the library's hardware list.
    scxsim::fail_every(scxsim::Fn::get_hardware, 1000);
    sld_refresh_hardware();
    scxsim::clear_faults();
    scxsim::reset();
    scxsim::set_tracing(false);
    // Foreign locks make lock calls wait; keep every wait short.
    scxsim::set_lock_wait_limit(1);
}

void Driver::run(const uint8_t *data, size_t size) {
    in_ = FuzzInput(data, size);
    model_.clear();
    seen_devices_.clear();
    handed_tables_.clear();
    raw_handles_.clear();
    armed_.clear();
    history_.clear();
    allocation_fails_at_ = -1;
    dirty_ = false;
    close_may_have_failed_ = false;
    log_must_be_empty_ = true;
    log_enabled_ = false;
    for (size_t n = 0; n < MAX_OPS && !in_.done(); ++n)
        run_op(static_cast<Op>(in_.u8() % static_cast<uint8_t>(Op::count)));
    finish();
}

void Driver::mismatch(const std::string &what) {
    std::fprintf(stderr, "MODEL MISMATCH: %s\noperations of this input:\n", what.c_str());
    for (const std::string &line : history_)
        std::fprintf(stderr, "  %s\n", line.c_str());
    std::abort();
}

void Driver::expect(Api fn, SLD_ERROR got, SLD_ERROR want) {
    if (got != want)
        mismatch(std::string(api_name(fn)) + " returned " + std::to_string(got) + ", the model expects " +
                 std::to_string(want));
}

void Driver::documented(Api fn, SLD_ERROR got) {
    if (!status_documented(fn, got))
        mismatch(std::string(api_name(fn)) + " returned the undocumented status " + std::to_string(got));
}

void Driver::begin_op(Op op) {
    allocation_failed_now_ = false;
    history_.push_back("op " + std::to_string(static_cast<int>(op)));
}

// Notes faults that fired and an allocation that failed since the last look.
void Driver::observe() {
    for (size_t i = 0; i < armed_.size();) {
        if (scxsim::call_count(armed_[i].fn) >= armed_[i].fires_at) {
            dirty_ = true;
            if (armed_[i].fn == scxsim::Fn::any || armed_[i].fn == scxsim::Fn::close_device)
                close_may_have_failed_ = true;
            armed_.erase(armed_.begin() + static_cast<long>(i));
            continue;
        }
        ++i;
    }
    if (allocation_fails_at_ > 0 && sld_testing::allocation_count() >= allocation_fails_at_) {
        allocation_failed_now_ = true;
        allocation_fails_at_ = -1;
    }
}

// Every hub id answers as the model says; ids of a destroyed hub object go
// stale together, and only in operations that may destroy hubs.
void Driver::probe_hubs(bool may_destroy) {
    std::vector<bool> died(model_.hubs.size(), false);
    std::vector<bool> lives(model_.hubs.size(), false);
    for (int id = 0; id < Model::HUB_IDS; ++id) {
        unsigned char count = 99;
        SLD_ERROR got = sld_hub_get_number_of_nodes(id, &count);
        SLD_ERROR want = model_.hub_refusal(id);
        if (want == SLD_OK && got == SLD_STALE_ID && may_destroy) {
            model_.mark_stale(id);
            died[static_cast<size_t>(model_.slots[id].hub)] = true;
            continue;
        }
        expect(Api::hub_get_number_of_nodes, got, want);
        if (want == SLD_OK) {
            lives[static_cast<size_t>(model_.slots[id].hub)] = true;
            if (count != model_.live_hub(id)->node_count)
                mismatch("hub id " + std::to_string(id) + " changed its node count");
        } else if (count != 0) {
            mismatch("a refused node count query wrote a count");
        }
    }
    for (size_t i = 0; i < died.size(); ++i)
        if (died[i] && lives[i])
            mismatch("only some hub ids of one hub object went stale");
    model_.settle();
    if (thr_debug_total_depth() != model_.held_count())
        mismatch("the thread holds " + std::to_string(thr_debug_total_depth()) + " mutex levels with " +
                 std::to_string(model_.held_count()) + " hub locks held");
}

void Driver::end_op(bool may_destroy) {
    observe();
    probe_hubs(may_destroy);
}

void Driver::finish() {
    history_.push_back("clean-up");
    scxsim::clear_faults();
    sld_testing::fail_allocation_after(-1);
    for (int id = 0; id < Model::HUB_IDS; ++id) {
        ModelHub *hub = model_.live_hub(id);
        if (hub == nullptr || !hub->held)
            continue;
        SLD_ERROR got = sld_hub_unlock(id);
        if (clean())
            expect(Api::hub_unlock, got, SLD_OK);
        else
            documented(Api::hub_unlock, got);
        hub->held = false;
    }
    if (thr_debug_total_depth() != 0)
        mismatch("mutex levels left after every hub lock was released");
    for (int id : model_.node_ids_open())
        expect(Api::node_close, sld_node_close(id), SLD_OK);
    for (int id : model_.hub_ids_in_use())
        expect(Api::hub_close, sld_hub_close(id), SLD_OK);
    for (SCX_OPEN *handle : raw_handles_)
        scx_close_device(handle);
    sld_disable_scx_log();
    sld_clear_scx_log();
    for (int id = 0; id < Model::HUB_IDS; ++id) {
        unsigned char count = 0;
        expect(Api::hub_get_number_of_nodes, sld_hub_get_number_of_nodes(id, &count), SLD_INVALID_HUB_ID);
    }
    for (int id = 0; id < Model::NODE_IDS; ++id)
        expect(Api::node_close, sld_node_close(id), SLD_INVALID_NODE_ID);
    if (!close_may_have_failed_ && scxsim::open_handle_count() != 0)
        mismatch(std::to_string(scxsim::open_handle_count()) +
                 " device handles left open after every id closed");
    reset_world();
}

int Driver::pick_hub_id() {
    static const int EDGES[] = {-1, 0, 1, 127, 128, 255, -128, INT_MIN, INT_MAX, 2, 3, 64};
    uint8_t b = in_.u8();
    std::vector<int> known = model_.hub_ids_in_use();
    if (b < PICK_KNOWN_LIMIT && !known.empty())
        return known[b % known.size()];
    return EDGES[b % (sizeof EDGES / sizeof EDGES[0])];
}

int Driver::pick_node_id() {
    static const int EDGES[] = {-1, 0, 1, 511, 512, 1024, INT_MIN, INT_MAX, 7, 100};
    uint8_t b = in_.u8();
    std::vector<int> known = model_.node_ids_open();
    if (b < PICK_KNOWN_LIMIT && !known.empty())
        return known[b % known.size()];
    return EDGES[b % (sizeof EDGES / sizeof EDGES[0])];
}

// Null (a null pointer is passed) for one choice in 16.
const std::string *Driver::pick_name() {
    uint8_t b = in_.u8();
    if (b % 16 == 15)
        return nullptr;
    return &catalog_.names[b % catalog_.names.size()];
}

const std::string *Driver::pick_device() {
    uint8_t b = in_.u8();
    if (b % 16 == 15)
        return nullptr;
    size_t total = catalog_.devices.size() + seen_devices_.size();
    size_t i = b % total;
    return i < catalog_.devices.size() ? &catalog_.devices[i] : &seen_devices_[i - catalog_.devices.size()];
}

// Scan lengths: mostly short, now and then long, rarely up to 1 MiB of bits.
unsigned long Driver::pick_length() {
    uint8_t b = in_.u8();
    if (b <= 200)
        return b;
    if (b <= 240)
        return in_.u16();
    if (b <= 250)
        return 8UL * in_.u16();
    static const unsigned long HUGE_LENGTHS[] = {1UL << 20, 8UL << 20, (8UL << 20) - 1, (1UL << 22) + 3,
                                                 65537};
    return HUGE_LENGTHS[b - 251];
}

unsigned long Driver::pick_small() {
    uint8_t b = in_.u8();
    if (b < 128)
        return 0;
    if (b < 250)
        return b & 15;
    return b == 255 ? 0xFFFFFFFFUL : in_.u32();
}

unsigned long Driver::pick_cable() {
    uint8_t b = in_.u8();
    if (b % 8 == 7)
        return 99;
    return catalog_.cable_ids[b % catalog_.cable_ids.size()];
}
