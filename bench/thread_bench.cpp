// Total throughput of 1, 2, 4 and 8 threads, each scanning its own hub.
// The library serialises all work on one mutex by design; what matters is
// that the total does not collapse as threads are added. items_per_second
// is the total over all threads (wall-clock time).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include "bench_world.h"

namespace {

using bench::check;

const int MAX_THREADS = 8;
const int BURST = 16; // scans per hub lock in the locked variant

struct ThreadWorld {
    int hub[MAX_THREADS];
    int node[MAX_THREADS];
    SCX_OPEN *handle[MAX_THREADS];
};
ThreadWorld g_world;

// One cable with a hub per thread; each hub's node 0 is selected.
void open_world() {
    bench::set_world(1, MAX_THREADS, 4);
    for (int t = 0; t < MAX_THREADS; ++t) {
        g_world.hub[t] = bench::open_hub(1, static_cast<unsigned>(t));
        g_world.node[t] = bench::open_node(g_world.hub[t], 0);
        check(sld_hub_get_scx_open_id(g_world.hub[t], &g_world.handle[t]), "sld_hub_get_scx_open_id");
        check(sld_node_access_ir(g_world.node[t], 1, nullptr, 0), "sld_node_access_ir");
    }
}

void close_world() {
    for (int t = 0; t < MAX_THREADS; ++t) {
        bench::close_node(g_world.node[t]);
        bench::close_hub(g_world.hub[t]);
    }
}

// Context switches of the whole process (voluntary ones are waits for the
// library mutex), measured by thread 0 around the run of all threads.
long context_switches() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Thread 0 reports the process's context switches per scan of all threads;
// counters of the other threads stay 0, so the sum over threads is it.
void report_switches(benchmark::State &state, long before, double scans_per_iteration) {
    if (state.thread_index() != 0)
        return;
    const double scans = static_cast<double>(state.iterations()) * state.threads() * scans_per_iteration;
    state.counters["switches_per_scan"] = (context_switches() - before) / scans;
}

void BM_dr_32_unlocked(benchmark::State &state) {
    const int node = g_world.node[state.thread_index()];
    unsigned char write[4] = {1, 2, 3, 4}, read[4];
    const long before = state.thread_index() == 0 ? context_switches() : 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(sld_node_access_dr(node, 32, write, read, 0));
    state.SetItemsProcessed(state.iterations());
    report_switches(state, before, 1);
}

// Lock, BURST cached scans, unlock: other threads get in between bursts.
void BM_dr_32_locked(benchmark::State &state) {
    const int t = state.thread_index();
    unsigned char write[4] = {1, 2, 3, 4}, read[4];
    const long before = t == 0 ? context_switches() : 0;
    for (auto _ : state) {
        sld_hub_lock(g_world.hub[t], 6000);
        for (int i = 0; i < BURST; ++i)
            benchmark::DoNotOptimize(sld_node_access_dr(g_world.node[t], 32, write, read, 0));
        sld_hub_unlock(g_world.hub[t]);
    }
    state.SetItemsProcessed(state.iterations() * BURST);
    report_switches(state, before, BURST);
}

// The client alone, each thread on its own handle: what the machine gives
// when nothing is serialised.
void BM_scx_dr_32(benchmark::State &state) {
    SCX_OPEN *handle = g_world.handle[state.thread_index()];
    unsigned char write[4] = {1, 2, 3, 4}, read[4];
    for (auto _ : state)
        benchmark::DoNotOptimize(scx_access_dr(handle, 32, 0, 0, 32, write, 0, 32, read));
    state.SetItemsProcessed(state.iterations());
}

void thread_sweep(benchmark::internal::Benchmark *b) {
    b->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime();
}

} // namespace

BENCHMARK(BM_dr_32_unlocked)->Name("threads/dr_32_unlocked")->Apply(thread_sweep);
BENCHMARK(BM_dr_32_locked)->Name("threads/dr_32_locked_burst16")->Apply(thread_sweep);
BENCHMARK(BM_scx_dr_32)->Name("threads/scx_dr_32")->Apply(thread_sweep);

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    open_world();
    benchmark::RunSpecifiedBenchmarks();
    close_world();
    benchmark::Shutdown();
    return 0;
}
