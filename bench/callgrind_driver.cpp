// Runs one operation of the table N times inside sld_bench_measured(), for
// an instruction count under valgrind --tool=callgrind with
// --toggle-collect=sld_bench_measured: only what that function runs is
// counted, so world setup, warm-up and teardown are left out. The scan log
// is not cleared inside the loop (its records stay until teardown).
//
//   sld_callgrind_driver --list
//   sld_callgrind_driver [SHAPE OPTIONS] OPERATION ITERATIONS
//
// Shape options size the world (see bench::WorldShape): --cables C,
// --devices D, --nodes N, --open-hubs K, --open-nodes K, --held-hubs K.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_world.h"
#include "operations.h"

extern "C" __attribute__((noinline)) int sld_bench_measured(const bench::Operation *op, bench::OpContext *ctx,
                                                            long iterations) {
    int status = 0;
    for (long i = 0; i < iterations; ++i)
        status |= op->run(*ctx);
    return status;
}

int main(int argc, char **argv) {
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const bench::Operation &op : bench::operations())
            std::printf("%s %s %d %s\n", op.name, op.library ? "library" : "bare", op.min_calls, op.what);
        return 0;
    }
    bench::WorldShape shape;
    struct Option {
        const char *name;
        unsigned *value;
    } options[] = {{"--cables", &shape.cables},         {"--devices", &shape.devices},
                   {"--nodes", &shape.nodes},           {"--open-hubs", &shape.open_hubs},
                   {"--open-nodes", &shape.open_nodes}, {"--held-hubs", &shape.held_hubs}};
    int arg = 1;
    for (bool matched = true; matched && arg + 1 < argc;) {
        matched = false;
        for (Option &o : options)
            if (std::string(argv[arg]) == o.name) {
                *o.value = static_cast<unsigned>(std::strtoul(argv[arg + 1], nullptr, 10));
                arg += 2;
                matched = true;
                break;
            }
    }
    if (argc - arg != 2) {
        std::fprintf(stderr,
                     "usage: %s --list | [--cables C] [--devices D] [--nodes N] [--open-hubs K] "
                     "[--open-nodes K] [--held-hubs K] OPERATION ITERATIONS\n",
                     argv[0]);
        return 2;
    }
    const bench::Operation *op = bench::find_operation(argv[arg]);
    const long iterations = std::strtol(argv[arg + 1], nullptr, 10);
    if (op == nullptr || iterations <= 0) {
        std::fprintf(stderr, "unknown operation or bad count: %s %s\n", argv[arg], argv[arg + 1]);
        return 2;
    }
    bench::OpContext ctx;
    bench::setup(*op, ctx, shape);
    // Warm-up: lazy symbol binding and first-touch costs stay outside.
    for (int i = 0; i < 16; ++i)
        bench::check(op->run(ctx), op->name);
    const scxnull::Counts before = scxnull::counts();
    const int status = sld_bench_measured(op, &ctx, iterations);
    const scxnull::Counts after = scxnull::counts();
    bench::teardown(*op, ctx);
    if (status != 0)
        bench::fail(op->name, status);
    std::printf("%s scx_calls_per_op %.3f (%s)\n", op->name,
                static_cast<double>(after.total() - before.total()) / iterations,
                bench::describe_calls(before, after, static_cast<double>(iterations)).c_str());
    return 0;
}
