// How the cost of an operation moves with the size of what the library
// keeps: open hub ids, open node ids, hub locks held by the thread, cables
// in the hardware list, and nodes behind a hub (discovery).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_world.h"

namespace {

using bench::check;

const unsigned long LOCK_TIMEOUT = 6000;
unsigned char g_write[8] = {1, 2, 3, 4, 5, 6, 7, 8};
unsigned char g_read[8];

enum Variant { DR_LOCKED, DR_UNLOCKED, OPEN_CLOSE };

void report_calls(benchmark::State &state, const scxnull::Counts &before) {
    const scxnull::Counts after = scxnull::counts();
    const double iterations = static_cast<double>(state.iterations());
    state.counters["scx_calls"] = (after.total() - before.total()) / iterations;
}

// A 32-bit virtual DR scan through node_id, under the hub lock or not.
void scan_loop(benchmark::State &state, int hub_id, int node_id, bool locked) {
    check(sld_node_access_ir(node_id, 1, nullptr, 0), "sld_node_access_ir");
    if (locked)
        check(sld_hub_lock(hub_id, LOCK_TIMEOUT), "sld_hub_lock");
    check(sld_node_access_dr(node_id, 32, g_write, g_read, 0), "sld_node_access_dr");
    const scxnull::Counts before = scxnull::counts();
    for (auto _ : state)
        benchmark::DoNotOptimize(sld_node_access_dr(node_id, 32, g_write, g_read, 0));
    report_calls(state, before);
    if (locked)
        check(sld_hub_unlock(hub_id), "sld_hub_unlock");
}

// K hub ids open on K devices of one cable; the scan goes through a node of
// the last one; open_close opens and closes one more id of the first hub
// (so K stops at 127): the first, so that the device string is found at
// the same chain position whatever K is, and only the hub ids grow.
void BM_hub_ids(benchmark::State &state, Variant variant) {
    const unsigned k = static_cast<unsigned>(state.range(0));
    bench::set_world(1, 128, 4);
    std::vector<int> hubs;
    for (unsigned p = 0; p < k; ++p)
        hubs.push_back(bench::open_hub(1, p));
    const int node = bench::open_node(hubs.back(), 0);
    if (variant == OPEN_CLOSE) {
        const std::string hardware = bench::hardware_name(1);
        const std::string device = bench::device_string(1, 0);
        const scxnull::Counts before = scxnull::counts();
        for (auto _ : state) {
            int hub = -1;
            benchmark::DoNotOptimize(sld_hub_open(hardware.c_str(), device.c_str(), &hub));
            benchmark::DoNotOptimize(sld_hub_close(hub));
        }
        report_calls(state, before);
    } else {
        scan_loop(state, hubs.back(), node, variant == DR_LOCKED);
    }
    bench::close_node(node);
    for (int hub : hubs)
        bench::close_hub(hub);
}

// K node ids open on three hubs of 255 nodes (indexes in order, filling
// one hub before the next); the scan goes through the last one;
// open_close opens and closes one more (so K stops at 511).
void BM_node_ids(benchmark::State &state, Variant variant) {
    const unsigned k = static_cast<unsigned>(state.range(0));
    const unsigned per_hub = 255;
    bench::set_world(1, 3, per_hub);
    const int hubs[3] = {bench::open_hub(1, 0), bench::open_hub(1, 1), bench::open_hub(1, 2)};
    std::vector<int> nodes;
    for (unsigned i = 0; i < k; ++i)
        nodes.push_back(bench::open_node(hubs[i / per_hub], i % per_hub));
    const int last_hub = hubs[(k - 1) / per_hub];
    if (variant == OPEN_CLOSE) {
        const scxnull::Counts before = scxnull::counts();
        for (auto _ : state) {
            int node = -1;
            benchmark::DoNotOptimize(sld_node_open(last_hub, 7, &node));
            benchmark::DoNotOptimize(sld_node_close(node));
        }
        report_calls(state, before);
    } else {
        scan_loop(state, last_hub, nodes.back(), variant == DR_LOCKED);
    }
    for (int node : nodes)
        bench::close_node(node);
    for (int hub : hubs)
        bench::close_hub(hub);
}

// The thread holds K hub locks; the scan goes through a node of the hub it
// locked last, the far end of its held-hub list.
void BM_held_hubs(benchmark::State &state) {
    const unsigned k = static_cast<unsigned>(state.range(0));
    bench::set_world(1, 128, 4);
    std::vector<int> hubs;
    for (unsigned p = 0; p < k; ++p)
        hubs.push_back(bench::open_hub(1, p));
    const int node = bench::open_node(hubs.back(), 0);
    check(sld_node_access_ir(node, 1, nullptr, 0), "sld_node_access_ir");
    for (int hub : hubs)
        check(sld_hub_lock(hub, LOCK_TIMEOUT), "sld_hub_lock");
    check(sld_node_access_dr(node, 32, g_write, g_read, 0), "sld_node_access_dr");
    const scxnull::Counts before = scxnull::counts();
    for (auto _ : state)
        benchmark::DoNotOptimize(sld_node_access_dr(node, 32, g_write, g_read, 0));
    report_calls(state, before);
    for (int hub : hubs)
        check(sld_hub_unlock(hub), "sld_hub_unlock");
    bench::close_node(node);
    for (int hub : hubs)
        bench::close_hub(hub);
}

// sld_get_hardware (a rebuild of the hardware list) with C cables.
void BM_get_hardware(benchmark::State &state) {
    const unsigned cables = static_cast<unsigned>(state.range(0));
    bench::set_world(cables, 1, 4);
    const scxnull::Counts before = scxnull::counts();
    for (auto _ : state) {
        unsigned long count = 0;
        char **names = nullptr;
        benchmark::DoNotOptimize(sld_get_hardware(&count, &names));
    }
    report_calls(state, before);
    state.SetComplexityN(cables);
}

// sld_get_device of the last of C cables: a lookup by name plus a chain read.
void BM_get_device(benchmark::State &state) {
    const unsigned cables = static_cast<unsigned>(state.range(0));
    bench::set_world(cables, 1, 4);
    const std::string name = bench::hardware_name(cables);
    const scxnull::Counts before = scxnull::counts();
    for (auto _ : state) {
        unsigned long count = 0;
        char **strings = nullptr;
        benchmark::DoNotOptimize(sld_get_device(name.c_str(), &count, &strings));
    }
    report_calls(state, before);
    state.SetComplexityN(cables);
}

// The exact client calls of opening and closing a hub of N nodes: hardware
// lookup, chain lock, device open, chain unlock, discovery, device close.
std::vector<scxnull::Call> expected_open_close(unsigned nodes) {
    using scxnull::Call;
    std::vector<Call> calls = {{scxnull::find_hardware, 0},
                               {scxnull::lock_chain, 0},
                               {scxnull::open_device, 0},
                               {scxnull::unlock_chain, 0},
                               {scxnull::lock, SCX_PACK_STYLE_AUTO},
                               {scxnull::access_ir, 14},
                               {scxnull::access_dr, 64},
                               {scxnull::access_ir, 12}};
    for (unsigned i = 0; i < 8 * (nodes + 1); ++i)
        calls.push_back({scxnull::access_dr, 4});
    calls.push_back({scxnull::unlock, 0});
    calls.push_back({scxnull::close_device, 0});
    return calls;
}

bool same_calls(const std::vector<scxnull::Call> &a, const std::vector<scxnull::Call> &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].fn != b[i].fn || a[i].arg != b[i].arg)
            return false;
    return true;
}

// sld_hub_open + sld_hub_close of a hub of N nodes that no other id holds:
// every iteration discovers the hub anew. Counters: the client calls per
// iteration and whether they were exactly the expected sequence.
void BM_discovery(benchmark::State &state) {
    const unsigned nodes = static_cast<unsigned>(state.range(0));
    bench::set_world(1, 1, nodes);
    const std::string hardware = bench::hardware_name(1);
    const std::string device = bench::device_string(1, 0);

    scxnull::clear_trace();
    scxnull::set_tracing(true);
    int hub = bench::open_hub(1, 0);
    unsigned char count = 0;
    check(sld_hub_get_number_of_nodes(hub, &count), "sld_hub_get_number_of_nodes");
    bench::close_hub(hub);
    scxnull::set_tracing(false);
    std::vector<scxnull::Call> seen = scxnull::trace();
    // open_hub() above also read the device strings: drop that chain read.
    std::vector<scxnull::Call> expected = expected_open_close(nodes);
    bool ok = count == nodes && seen.size() >= expected.size() &&
              same_calls(std::vector<scxnull::Call>(seen.end() - expected.size(), seen.end()), expected);
    scxnull::clear_trace();

    const scxnull::Counts before = scxnull::counts();
    for (auto _ : state) {
        int id = -1;
        benchmark::DoNotOptimize(sld_hub_open(hardware.c_str(), device.c_str(), &id));
        benchmark::DoNotOptimize(sld_hub_close(id));
    }
    report_calls(state, before);
    state.counters["expected_calls"] = static_cast<double>(expected.size());
    state.counters["sequence_ok"] = ok ? 1 : 0;
    state.SetComplexityN(nodes);
}

// The same client calls as BM_discovery, made directly.
void BM_discovery_bare(benchmark::State &state) {
    const unsigned nodes = static_cast<unsigned>(state.range(0));
    bench::set_world(1, 1, nodes);
    const std::string full_name = scxnull::full_name(1);
    static const SCX_CLAIM claims[5] = {
        {0x300, 14}, {0x500, 12}, {0x101, 0}, {0x801, 0xFFFFFFFF}, {0x800, 0xFFFFFFFF}};
    const scxnull::Counts before = scxnull::counts();
    for (auto _ : state) {
        SCX_HARDWARE record;
        scx_find_hardware(full_name.c_str(), &record, 5000);
        SCX_CHAIN *chain = record.chain;
        SCX_OPEN *open = nullptr;
        scx_lock_chain(chain, 6000);
        scx_open_device(chain, 0, &open, claims, 5, "SLD HUB CLIENT");
        scx_unlock_chain(chain);
        unsigned char write[8] = {}, capture[8] = {};
        scx_lock(open, 6000, SCX_PACK_STYLE_AUTO);
        scx_access_ir(open, 14, nullptr, 0);
        scx_access_dr(open, 64, 0, 0, 64, write, 0, 64, capture);
        scx_access_ir(open, 12, nullptr, 0);
        for (unsigned w = 0; w <= nodes; ++w)
            for (int i = 0; i < 8; ++i)
                scx_access_dr(open, 4, 0, 0, 4, &write[i], 0, 4, &capture[i]);
        scx_unlock(open);
        scx_close_device(open);
        benchmark::DoNotOptimize(capture);
    }
    report_calls(state, before);
    state.SetComplexityN(nodes);
}

void hub_sweep(benchmark::internal::Benchmark *b) {
    b->RangeMultiplier(2)->Range(1, 128);
}
void node_sweep(benchmark::internal::Benchmark *b) {
    b->RangeMultiplier(2)->Range(1, 512);
}
void hub_open_sweep(benchmark::internal::Benchmark *b) {
    b->RangeMultiplier(2)->Range(1, 64)->Arg(127);
}
void node_open_sweep(benchmark::internal::Benchmark *b) {
    b->RangeMultiplier(2)->Range(1, 256)->Arg(511);
}
void cable_sweep(benchmark::internal::Benchmark *b) {
    b->RangeMultiplier(2)->Range(1, 256)->Complexity(benchmark::oN);
}
void discovery_sweep(benchmark::internal::Benchmark *b) {
    b->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Arg(128)->Arg(255)->Complexity(benchmark::oN);
}

} // namespace

BENCHMARK_CAPTURE(BM_hub_ids, dr_32_locked, DR_LOCKED)->Name("hub_ids/dr_32_locked")->Apply(hub_sweep);
BENCHMARK_CAPTURE(BM_hub_ids, dr_32_unlocked, DR_UNLOCKED)->Name("hub_ids/dr_32_unlocked")->Apply(hub_sweep);
BENCHMARK_CAPTURE(BM_hub_ids, open_close, OPEN_CLOSE)
    ->Name("hub_ids/hub_open_close_shared")
    ->Apply(hub_open_sweep);
BENCHMARK_CAPTURE(BM_node_ids, dr_32_locked, DR_LOCKED)->Name("node_ids/dr_32_locked")->Apply(node_sweep);
BENCHMARK_CAPTURE(BM_node_ids, dr_32_unlocked, DR_UNLOCKED)
    ->Name("node_ids/dr_32_unlocked")
    ->Apply(node_sweep);
BENCHMARK_CAPTURE(BM_node_ids, open_close, OPEN_CLOSE)
    ->Name("node_ids/node_open_close")
    ->Apply(node_open_sweep);
BENCHMARK(BM_held_hubs)->Name("held_hubs/dr_32_locked")->Apply(hub_sweep);
BENCHMARK(BM_get_hardware)->Name("cables/get_hardware")->Apply(cable_sweep);
BENCHMARK(BM_get_device)->Name("cables/get_device")->Apply(cable_sweep);
BENCHMARK(BM_discovery)->Name("discovery/hub_open_close")->Apply(discovery_sweep);
BENCHMARK(BM_discovery_bare)->Name("discovery/bare_calls")->Apply(discovery_sweep);

BENCHMARK_MAIN();
