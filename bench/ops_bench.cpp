// Cost of each library operation over the null JTAG client, beside the bare
// client calls it must make. Counters per iteration: scx_calls (client
// calls made), min_calls (what the protocol needs), mallocs and news (heap
// allocations); the label lists the client calls by function.
#include <benchmark/benchmark.h>

#include "alloc_count.h"
#include "bench_world.h"
#include "operations.h"

namespace {

// The scan log grows by one record per scan; it is emptied outside the
// timed region every this many iterations.
const int LOG_CLEAR_PERIOD = 1024;

void run_operation(benchmark::State &state, const bench::Operation *op) {
    bench::OpContext ctx;
    bench::setup(*op, ctx);
    const scxnull::Counts calls_before = scxnull::counts();
    const unsigned long mallocs_before = alloc_count::mallocs();
    const unsigned long news_before = alloc_count::news();
    if (op->log) {
        int n = 0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(op->run(ctx));
            if (++n == LOG_CLEAR_PERIOD) {
                state.PauseTiming();
                sld_clear_scx_log();
                n = 0;
                state.ResumeTiming();
            }
        }
    } else {
        for (auto _ : state)
            benchmark::DoNotOptimize(op->run(ctx));
    }
    const unsigned long mallocs = alloc_count::mallocs() - mallocs_before;
    const unsigned long news = alloc_count::news() - news_before;
    const scxnull::Counts calls_after = scxnull::counts();
    bench::teardown(*op, ctx);

    const double iterations = static_cast<double>(state.iterations());
    state.counters["scx_calls"] = (calls_after.total() - calls_before.total()) / iterations;
    state.counters["min_calls"] = op->min_calls;
    state.counters["mallocs"] = mallocs / iterations;
    state.counters["news"] = news / iterations;
    state.SetLabel(bench::describe_calls(calls_before, calls_after, iterations));
}

} // namespace

int main(int argc, char **argv) {
    for (const bench::Operation &op : bench::operations())
        benchmark::RegisterBenchmark((std::string("op/") + op.name).c_str(), run_operation, &op);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::AddCustomContext("scx", "null client (libscxnull.so)");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
