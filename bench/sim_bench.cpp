// Cost of short scans through the simulated JTAG world.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "scx/scx.h"
#include "scxsim.h"

namespace {

// An open handle on the default board's first hub with the memory node's
// WRITE instruction selected and device instruction 12 loaded.
SCX_OPEN *open_memory_node(bool tracing) {
    scxsim::reset();
    scxsim::set_tracing(tracing);
    SCX_OPEN *h = nullptr;
    scx_open_device(scxsim::chain_handle(1), 0, &h, nullptr, 0, "bench");
    scx_access_ir(h, 14, nullptr, 0);
    const uint8_t vir[2] = {0x02, 0x01}; // instruction 2 (bits 0-7), address 1 (bits 8-10)
    scx_access_dr(h, 11, 0, 0, 11, vir, 0, 0, nullptr);
    scx_access_ir(h, 12, nullptr, 0);
    return h;
}

void dr_scan(benchmark::State &state, bool tracing, unsigned long bits) {
    SCX_OPEN *h = open_memory_node(tracing);
    uint8_t w[8] = {0x78, 0x56, 0x34, 0x12}, r[8];
    unsigned long n = 0;
    for (auto _ : state) {
        scx_access_dr(h, bits, 0, 0, bits, w, 0, bits, r);
        benchmark::DoNotOptimize(r);
        if (tracing && ++n % 65536 == 0)
            scxsim::clear_trace();
    }
    scx_close_device(h);
    scxsim::reset();
}

void BM_DrScan32(benchmark::State &state) {
    dr_scan(state, false, 32);
}
void BM_DrScan32Traced(benchmark::State &state) {
    dr_scan(state, true, 32);
}
void BM_DrScan4(benchmark::State &state) {
    dr_scan(state, false, 4);
}

void BM_IrScan(benchmark::State &state) {
    SCX_OPEN *h = open_memory_node(false);
    for (auto _ : state)
        scx_access_ir(h, 12, nullptr, 0);
    scx_close_device(h);
    scxsim::reset();
}

} // namespace

BENCHMARK(BM_DrScan32);
BENCHMARK(BM_DrScan32Traced);
BENCHMARK(BM_DrScan4);
BENCHMARK(BM_IrScan);
BENCHMARK_MAIN();
