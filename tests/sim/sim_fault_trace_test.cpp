// Fault injection, call delays, call counts and the call trace.
#include <chrono>

#include "sim_helpers.h"

using scxsim::Fn;

TEST_F(SimWorld, TheKthCallFailsOnceAndDoesNoWork) {
    SCX_OPEN *h = open(1, 0);
    scxsim::fail_call(Fn::access_ir, 2, 81);
    ir(h, 6);
    unsigned long captured = 77;
    EXPECT_EQ(81u, scx_access_ir(h, 0x3FF, &captured, 0));
    EXPECT_EQ(77u, captured) << "outputs untouched";
    EXPECT_EQ(0x020A10DDu, dr(h, 32, 0)) << "the instruction was not loaded";
    ir(h, 6);

    // Several at once, counted independently; the earlier-armed one answers.
    scxsim::fail_call(Fn::any, 2, 88);
    scxsim::fail_call(Fn::access_dr, 2, 37);
    scxsim::fail_call(Fn::access_dr, 1, 0); // success without the work
    uint8_t r[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(0u, scx_access_dr(h, 32, 0, 0, 0, nullptr, 0, 32, r));
    EXPECT_EQ(0xAA, r[0]);
    EXPECT_EQ(88u, scx_access_dr(h, 32, 0, 0, 0, nullptr, 0, 32, r));
    EXPECT_EQ(0u, scx_access_dr(h, 32, 0, 0, 0, nullptr, 0, 32, r));
    EXPECT_EQ(0xDD, r[0]);
    scx_close_device(h);
}

TEST_F(SimWorld, EveryCallFailsUntilCleared) {
    unsigned long n = 0;
    scxsim::fail_every(Fn::get_hardware, 0);
    EXPECT_EQ(0u, scx_get_hardware(&n, nullptr, 10000));
    EXPECT_EQ(0u, n) << "a faulted size query sets no count";
    scxsim::fail_every(Fn::any, 86);
    EXPECT_EQ(0u, scx_get_hardware(&n, nullptr, 10000)) << "its own setting comes first";
    EXPECT_EQ(86u, scx_scan_device_chain(scxsim::chain_handle(1)));
    scxsim::fail_call(Fn::scan_device_chain, 1, 2);
    EXPECT_EQ(2u, scx_scan_device_chain(scxsim::chain_handle(1))) << "a k-th call fault first";
    scxsim::clear_faults();
    EXPECT_EQ(47u, scx_get_hardware(&n, nullptr, 10000));
    EXPECT_EQ(0u, scx_scan_device_chain(scxsim::chain_handle(1)));
}

TEST_F(SimWorld, DelaysAndCallCounts) {
    scxsim::reset_call_count();
    scxsim::set_call_delay(Fn::flush, 30000);
    SCX_OPEN *h = open(1, 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, scx_flush(h));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30));
    scxsim::set_call_delay(Fn::flush, 0);
    scx_run_test_idle(h, 100);
    scx_delay(h, 5);
    scx_close_device(h);
    EXPECT_EQ(1u, scxsim::call_count(Fn::flush));
    EXPECT_EQ(1u, scxsim::call_count(Fn::open_device));
    EXPECT_EQ(5u, scxsim::call_count());
    scxsim::reset_call_count();
    EXPECT_EQ(0u, scxsim::call_count());
}

TEST_F(SimWorld, TraceTextHasTheFixedForm) {
    SCX_OPEN *h = nullptr;
    SCX_HARDWARE rec;
    unsigned long n = 0, len = 0;
    scx_get_hardware(&n, nullptr, 10000);
    scx_find_hardware("SimCable-1 [sim:1]", &rec, 5000);
    scx_find_hardware(nullptr, &rec, 5000);
    scx_print_hardware_name(rec.chain, nullptr, 0, true, &len);
    scx_lock_chain(rec.chain, 6000);
    scx_scan_device_chain(rec.chain);
    scx_read_device_chain(rec.chain, &n, nullptr, true);
    scx_open_device(rec.chain, 0, &h, claims, 5, "SLD HUB CLIENT");
    scx_unlock_chain(rec.chain);
    scx_lock(h, 6000, SCX_PACK_STYLE_AUTO);
    scx_access_ir(h, 14, nullptr, 0);
    uint8_t w[8] = {0}, r[8];
    scx_access_dr(h, 64, 0, 0, 64, w, 0, 64, r);
    scx_access_ir(h, 12, nullptr, 0);
    uint8_t nib = 0xF0;
    scx_access_dr(h, 4, 0, 0, 4, &nib, 0, 4, r);
    scx_access_dr(h, 3, 0, 0, 0, nullptr, 0, 0, nullptr);
    scx_run_test_idle(h, 7);
    scx_delay(h, 9);
    scx_flush(h);
    scx_unlock(h);
    scx_close_device(h);
    const std::vector<std::string> expected = {
        "get_hardware(0,0,10000)=47",
        "find_hardware(\"SimCable-1 [sim:1]\",5000)=0",
        "find_hardware(0,5000)=46",
        "print_hardware_name(0,0,1,1)=47",
        "lock_chain(6000)=0",
        "scan_device_chain()=0",
        "read_device_chain(2,0,1)=47",
        "open_device(0,5,\"SLD HUB CLIENT\")=0",
        "unlock_chain()=0",
        "lock(6000,1)=0",
        "access_ir(14,0,0)=0",
        "access_dr(64,64,64)[0000000000000000]=0",
        "access_ir(12,0,0)=0",
        "access_dr(4,4,4)[00]=0",
        "access_dr(3,0,0)[]=0",
        "run_test_idle(7)=0",
        "delay(9)=0",
        "flush()=0",
        "unlock()=0",
        "close_device()=0",
    };
    EXPECT_EQ(expected, scxsim::trace_text());
    std::vector<scxsim::Call> calls = scxsim::trace();
    EXPECT_EQ(0u, calls[0].cable);
    EXPECT_EQ(1u, calls[1].cable);
    EXPECT_EQ((std::vector<uint8_t>{0x8}), calls[13].read) << "the first nibble of the hub word";
    EXPECT_EQ((std::vector<std::string>{"access_ir(14,0,0)=0", "access_ir(12,0,0)=0"}),
              scxsim::trace_text(Fn::access_ir));
    EXPECT_EQ(18u, scxsim::trace_text_of_cable(1).size());
}

// The trace is a ring: a long run keeps only its last calls, each with its
// own bits, and a test may ask for every call.
TEST_F(SimWorld, TheTraceKeepsItsLastCallsUnlessAskedForAll) {
    SCX_OPEN *h = open(1, 0);
    ir(h, 6); // IDCODE: 32 bits that do not change, so writes come back in order
    const struct {
        unsigned long limit;
        unsigned long scans;
        size_t kept;
    } cases[] = {{3, 5, 3}, {10, 3000, 10}, {scxsim::trace_everything, 70000, 70000}};
    for (const auto &c : cases) {
        SCOPED_TRACE("limit " + std::to_string(c.limit));
        scxsim::clear_trace();
        scxsim::set_trace_limit(c.limit);
        for (unsigned long i = 0; i < c.scans; ++i)
            dr(h, 32, i);
        const std::vector<scxsim::Call> calls = scxsim::trace();
        ASSERT_EQ(c.kept, calls.size());
        for (size_t k = 0; k < calls.size(); ++k) {
            const unsigned long i = c.scans - c.kept + k;
            ASSERT_EQ((std::vector<uint8_t>{uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0}),
                      calls[k].written)
                << "call " << k;
            ASSERT_EQ(4u, calls[k].read.size());
        }
    }
    scxsim::reset();
    h = open(1, 0);
    for (unsigned long i = 0; i < scxsim::default_trace_limit + 5; ++i)
        scx_flush(h);
    EXPECT_EQ(scxsim::default_trace_limit, scxsim::trace().size()) << "reset restores the default ring";
    scx_close_device(h);
}

TEST_F(SimWorld, TracingCanBeStoppedAndCleared) {
    SCX_OPEN *h = open(1, 0);
    scxsim::set_tracing(false);
    ir(h, 6);
    scxsim::set_tracing(true);
    scx_flush(h);
    EXPECT_EQ((std::vector<std::string>{"open_device(0,1,\"test\")=0", "flush()=0"}), scxsim::trace_text());
    scxsim::clear_trace();
    EXPECT_TRUE(scxsim::trace().empty());
    scx_close_device(h);
}
