// Every allocation the library makes in a scenario fails in turn. The call
// in which it fails reports SLD_NO_FREE_SLOT or copes (a dropped scan-log
// record), nothing is left behind, and the scenario then runs cleanly again.
#include <gtest/gtest.h>

#include <iostream>

#include "frame/memory.h"
#include "sweep.h"

namespace {

// Calls whose status is fixed whatever happens inside them. (Broadcast end
// reports failed scans only; its own allocations leave its status as it was.)
bool reports_no_failure(Api fn) {
    return fn == Api::refresh_hardware || fn == Api::refresh_device;
}

// The call whose allocation failed answers 9, or exactly what it answered
// when nothing failed.
void check_failing_call(Session &faulted, const Session &baseline) {
    long index = faulted.allocation_failed_in();
    if (index < 0) {
        faulted.violation("no call made the allocation that was to fail");
        return;
    }
    size_t i = static_cast<size_t>(index);
    Api fn = faulted.calls()[i];
    SLD_ERROR status = faulted.statuses()[i];
    bool as_before =
        i < baseline.calls().size() && baseline.calls()[i] == fn && baseline.statuses()[i] == status;
    if (status != SLD_NO_FREE_SLOT && !as_before && !reports_no_failure(fn))
        faulted.violation(std::string(api_name(fn)) + " returned " + std::to_string(status) +
                          " when its allocation failed");
}

class AllocationSweep : public ::testing::TestWithParam<Scenario> {};

TEST_P(AllocationSweep, FailingAnyAllocationLeavesNothingBehind) {
    const Scenario &scenario = GetParam();
    World world;
    ASSERT_TRUE(survey_world(&world));
    SweepHarness harness(world);

    // Every run renames the cable, so the string pool grows in each run.
    harness.prepare(true);
    sld_testing::fail_allocation_after(-1);
    Session baseline(std::string(scenario.name) + " baseline");
    harness.run(scenario, baseline);
    const long allocations = sld_testing::allocation_count();
    harness.settle(baseline, true);
    for (const std::string &v : baseline.violations())
        ADD_FAILURE() << v;
    ASSERT_TRUE(baseline.violations().empty());
    ASSERT_GT(allocations, 0);

    unsigned long runs = 0;
    unsigned long failed_runs = 0;
    unsigned long out_of_memory = 0;
    for (long k = 1; k <= allocations; ++k) {
        std::string context = std::string(scenario.name) + ": allocation " + std::to_string(k) + " fails";
        harness.prepare(true);
        sld_testing::fail_allocation_after(k);
        Session faulted(context);
        faulted.watch_allocations(&sld_testing::allocation_count, k);
        harness.run(scenario, faulted);
        sld_testing::fail_allocation_after(-1);
        check_failing_call(faulted, baseline);
        harness.settle(faulted, true);
        for (SLD_ERROR status : faulted.statuses())
            out_of_memory += status == SLD_NO_FREE_SLOT ? 1 : 0;

        harness.prepare(true);
        Session rerun(context + ", clean rerun");
        harness.run(scenario, rerun);
        if (rerun.statuses() != baseline.statuses() || rerun.calls() != baseline.calls())
            rerun.violation("the clean rerun does not give the statuses of the baseline");
        harness.settle(rerun, true);

        ++runs;
        bool failed = false;
        for (const Session *session : {&faulted, &rerun}) {
            for (const std::string &v : session->violations()) {
                failed = true;
                if (failed_runs < 10)
                    ADD_FAILURE() << v;
            }
        }
        failed_runs += failed ? 1 : 0;
    }
    std::cout << "[ sweep    ] " << scenario.name << ": " << allocations << " allocations, " << runs
              << " runs with one failing (each with a clean rerun), " << out_of_memory
              << " calls answered 9, " << failed_runs << " runs with violations" << std::endl;
    RecordProperty("failing_allocation_runs", static_cast<int>(runs));
    EXPECT_EQ(failed_runs, 0u);
}

std::string scenario_name(const ::testing::TestParamInfo<Scenario> &info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, AllocationSweep, ::testing::ValuesIn(all_scenarios()), scenario_name);

} // namespace
