// The null JTAG client: every scx_ function of src/scx/scx.h, answering at
// once. State is a fixed grid of cable and device slots, so handles given
// out stay valid for the life of the process whatever configure() does.
#include "scxnull.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct Device {
    unsigned cable;    // 0-based
    unsigned position; // 0-based
    unsigned cursor;   // next nibble of the discovery readout
};

struct Cable {
    char short_name[32];
    char full_name[48];
    Device devices[scxnull::max_devices];
};

Cable g_cables[scxnull::max_cables];
std::atomic<unsigned> g_cable_count{1};
std::atomic<unsigned> g_device_count{1};
std::atomic<unsigned> g_node_count{4};

const char *const DEVICE_NAME = "null hub device";
const unsigned long HUB_MANUFACTURER = 110;
const unsigned long IR_WIDTH = 8;

// Per-thread call counters: each thread bumps only its own block, with
// plain (not locked) increments; readers sum over every block.
struct CounterBlock {
    std::atomic<unsigned long> calls[scxnull::fn_count];
    CounterBlock *next;
};

std::mutex g_blocks_mutex;
std::atomic<CounterBlock *> g_blocks{nullptr};
__attribute__((tls_model("initial-exec"))) thread_local CounterBlock *t_block = nullptr;

std::atomic<bool> g_tracing{false};
std::mutex g_trace_mutex;
std::vector<scxnull::Call> g_trace;

CounterBlock *new_block() {
    CounterBlock *block = new CounterBlock();
    for (auto &c : block->calls)
        c.store(0, std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(g_blocks_mutex);
    block->next = g_blocks.load(std::memory_order_relaxed);
    g_blocks.store(block, std::memory_order_release);
    return block;
}

inline void note_call(scxnull::Fn fn, unsigned long arg = 0) {
    CounterBlock *block = t_block;
    if (__builtin_expect(block == nullptr, 0))
        block = t_block = new_block();
    std::atomic<unsigned long> &c = block->calls[fn];
    c.store(c.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (__builtin_expect(g_tracing.load(std::memory_order_relaxed), 0)) {
        std::lock_guard<std::mutex> guard(g_trace_mutex);
        g_trace.push_back({fn, arg});
    }
}

void init_names() {
    for (unsigned c = 0; c < scxnull::max_cables; ++c) {
        std::snprintf(g_cables[c].short_name, sizeof g_cables[c].short_name, "null-%u", c + 1);
        std::snprintf(g_cables[c].full_name, sizeof g_cables[c].full_name, "null-%u [bench]", c + 1);
        for (unsigned p = 0; p < scxnull::max_devices; ++p)
            g_cables[c].devices[p] = Device{c, p, 0};
    }
}

struct NamesInit {
    NamesInit() { init_names(); }
} g_names_init;

// Cable behind a chain handle, or null when the handle is not one of ours
// or names a cable beyond the configured count.
Cable *cable_of(SCX_CHAIN *chain) {
    Cable *cable = reinterpret_cast<Cable *>(chain);
    if (cable < g_cables || cable >= g_cables + g_cable_count.load(std::memory_order_relaxed))
        return nullptr;
    return cable;
}

SCX_CHAIN *chain_of(unsigned cable) {
    return reinterpret_cast<SCX_CHAIN *>(&g_cables[cable]);
}

Device *device_of(SCX_OPEN *handle) {
    return reinterpret_cast<Device *>(handle);
}

unsigned long idcode_of(unsigned position) {
    return 0x020000DDul | (static_cast<unsigned long>(position) << 12);
}

// Nibble k of the readout: word 0 is the hub word, word i + 1 node i's.
unsigned char readout_nibble(unsigned k) {
    unsigned word_index = k / 8;
    unsigned nodes = g_node_count.load(std::memory_order_relaxed);
    unsigned long word = 0;
    if (word_index == 0)
        word = scxnull::hub_word(nodes);
    else if (word_index <= nodes)
        word = scxnull::node_word(word_index - 1);
    return static_cast<unsigned char>((word >> (4 * (k % 8))) & 0xF);
}

const SCX_ERROR NOT_FOUND = 86;
const SCX_ERROR BAD_ARGUMENT = 1;

} // namespace

namespace scxnull {

const char *fn_name(Fn fn) {
    static const char *const names[fn_count] = {"get_hardware",
                                                "find_hardware",
                                                "print_hardware_name",
                                                "lock_chain",
                                                "unlock_chain",
                                                "scan_device_chain",
                                                "read_device_chain",
                                                "open_device",
                                                "close_device",
                                                "lock",
                                                "unlock",
                                                "access_ir",
                                                "access_dr",
                                                "run_test_idle",
                                                "delay",
                                                "flush"};
    return fn >= 0 && fn < fn_count ? names[fn] : "?";
}

void configure(unsigned cables, unsigned devices_per_cable, unsigned nodes_per_hub) {
    auto clamp = [](unsigned v, unsigned lo, unsigned hi) { return v < lo ? lo : v > hi ? hi : v; };
    g_cable_count.store(clamp(cables, 0, max_cables));
    g_device_count.store(clamp(devices_per_cable, 0, max_devices));
    g_node_count.store(clamp(nodes_per_hub, 1, max_nodes));
}

std::string short_name(unsigned cable) {
    return g_cables[cable - 1].short_name;
}
std::string full_name(unsigned cable) {
    return g_cables[cable - 1].full_name;
}

unsigned long hub_word(unsigned nodes) {
    return IR_WIDTH | (HUB_MANUFACTURER << 8) | ((nodes & 0xFFul) << 19);
}

unsigned long node_word(unsigned index) {
    // instance id = index, manufacturer 110, node id 1 + index % 8, version 0.
    return (index & 0xFFul) | (HUB_MANUFACTURER << 8) | ((1ul + index % 8) << 19);
}

unsigned long Counts::total() const {
    unsigned long sum = 0;
    for (unsigned long c : calls)
        sum += c;
    return sum;
}

Counts counts() {
    Counts result{};
    for (CounterBlock *b = g_blocks.load(std::memory_order_acquire); b != nullptr; b = b->next)
        for (int f = 0; f < fn_count; ++f)
            result.calls[f] += b->calls[f].load(std::memory_order_relaxed);
    return result;
}

void reset_counts() {
    for (CounterBlock *b = g_blocks.load(std::memory_order_acquire); b != nullptr; b = b->next)
        for (auto &c : b->calls)
            c.store(0, std::memory_order_relaxed);
}

void set_tracing(bool on) {
    g_tracing.store(on);
}

std::vector<Call> trace() {
    std::lock_guard<std::mutex> guard(g_trace_mutex);
    return g_trace;
}

void clear_trace() {
    std::lock_guard<std::mutex> guard(g_trace_mutex);
    g_trace.clear();
}

} // namespace scxnull

SCX_ERROR scx_get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long /*timeout*/) {
    note_call(scxnull::get_hardware);
    if (count == nullptr)
        return BAD_ARGUMENT;
    unsigned cables = g_cable_count.load(std::memory_order_relaxed);
    if (records == nullptr) {
        *count = cables;
        return SCX_TOO_MANY_DEVICES;
    }
    unsigned long n = *count < cables ? *count : cables;
    for (unsigned long i = 0; i < n; ++i) {
        std::memset(&records[i], 0, sizeof records[i]);
        records[i].chain = chain_of(static_cast<unsigned>(i));
        records[i].persistent_id = i + 1;
        records[i].name = g_cables[i].short_name;
    }
    *count = n;
    return SCX_NO_ERROR;
}

SCX_ERROR scx_find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long /*timeout*/) {
    note_call(scxnull::find_hardware);
    if (full_name == nullptr || record == nullptr)
        return BAD_ARGUMENT;
    // "null-N [bench]": the cable number is in the name, no search needed.
    if (std::strncmp(full_name, "null-", 5) != 0)
        return NOT_FOUND;
    char *end = nullptr;
    unsigned long n = std::strtoul(full_name + 5, &end, 10);
    if (n == 0 || n > g_cable_count.load(std::memory_order_relaxed) ||
        std::strcmp(full_name, g_cables[n - 1].full_name) != 0)
        return NOT_FOUND;
    std::memset(record, 0, sizeof *record);
    record->chain = chain_of(static_cast<unsigned>(n - 1));
    record->persistent_id = n;
    record->name = g_cables[n - 1].short_name;
    return SCX_NO_ERROR;
}

SCX_ERROR scx_print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                  unsigned long *length) {
    note_call(scxnull::print_hardware_name);
    Cable *cable = cable_of(chain);
    if (cable == nullptr)
        return NOT_FOUND;
    const char *name = long_name ? cable->full_name : cable->short_name;
    unsigned long len = std::strlen(name);
    if (buffer == nullptr) {
        if (length != nullptr)
            *length = len;
        return SCX_TOO_MANY_DEVICES;
    }
    unsigned long n = len < size ? len : size;
    std::memcpy(buffer, name, n);
    if (n < size)
        buffer[n] = '\0';
    if (length != nullptr)
        *length = len;
    return SCX_NO_ERROR;
}

SCX_ERROR scx_lock_chain(SCX_CHAIN * /*chain*/, unsigned long /*timeout*/) {
    note_call(scxnull::lock_chain);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_unlock_chain(SCX_CHAIN * /*chain*/) {
    note_call(scxnull::unlock_chain);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_scan_device_chain(SCX_CHAIN * /*chain*/) {
    note_call(scxnull::scan_device_chain);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_read_device_chain(SCX_CHAIN *chain, unsigned long *count_io, SCX_DEVICE *records,
                                bool /*flag*/) {
    note_call(scxnull::read_device_chain);
    if (cable_of(chain) == nullptr || count_io == nullptr)
        return BAD_ARGUMENT;
    unsigned devices = g_device_count.load(std::memory_order_relaxed);
    if (records == nullptr) {
        *count_io = devices;
        return SCX_TOO_MANY_DEVICES;
    }
    unsigned long n = *count_io < devices ? *count_io : devices;
    for (unsigned long p = 0; p < n; ++p) {
        std::memset(&records[p], 0, sizeof records[p]);
        records[p].idcode = idcode_of(static_cast<unsigned>(p));
        records[p].name = DEVICE_NAME;
    }
    *count_io = n;
    return SCX_NO_ERROR;
}

SCX_ERROR scx_open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle,
                          const SCX_CLAIM * /*claims*/, unsigned long /*claim_count*/,
                          const char * /*application*/) {
    note_call(scxnull::open_device);
    Cable *cable = cable_of(chain);
    if (cable == nullptr || handle == nullptr || position >= g_device_count.load(std::memory_order_relaxed))
        return BAD_ARGUMENT;
    Device *device = &cable->devices[position];
    device->cursor = 0;
    *handle = reinterpret_cast<SCX_OPEN *>(device);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_close_device(SCX_OPEN * /*handle*/) {
    note_call(scxnull::close_device);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_lock(SCX_OPEN * /*handle*/, unsigned long /*timeout*/, SCX_PACK_STYLE style) {
    note_call(scxnull::lock, static_cast<unsigned long>(style));
    return SCX_NO_ERROR;
}

SCX_ERROR scx_unlock(SCX_OPEN * /*handle*/) {
    note_call(scxnull::unlock);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_access_ir(SCX_OPEN * /*handle*/, unsigned long instruction, unsigned long * /*captured*/,
                        unsigned long /*flags*/) {
    note_call(scxnull::access_ir, instruction);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_access_dr(SCX_OPEN *handle, unsigned long length, unsigned long /*flags*/,
                        unsigned long /*write_offset*/, unsigned long /*write_length*/,
                        const unsigned char * /*write_bits*/, unsigned long /*read_offset*/,
                        unsigned long read_length, unsigned char *read_bits) {
    note_call(scxnull::access_dr, length);
    // Discovery: the 64-bit scan selects the hub's information readout,
    // whose nibbles the following 4-bit captures return in order.
    if (length == 64) {
        device_of(handle)->cursor = 0;
    } else if (length == 4 && read_length == 4 && read_bits != nullptr) {
        Device *device = device_of(handle);
        *read_bits = readout_nibble(device->cursor++);
    }
    return SCX_NO_ERROR;
}

SCX_ERROR scx_run_test_idle(SCX_OPEN * /*handle*/, unsigned long count_arg) {
    note_call(scxnull::run_test_idle, count_arg);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_delay(SCX_OPEN * /*handle*/, unsigned long amount) {
    note_call(scxnull::delay, amount);
    return SCX_NO_ERROR;
}

SCX_ERROR scx_flush(SCX_OPEN * /*handle*/) {
    note_call(scxnull::flush);
    return SCX_NO_ERROR;
}
