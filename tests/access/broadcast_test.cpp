// Broadcast: queuing node instructions, the framed sequence that ends it,
// its lock handling, and its states.
#include <gmock/gmock.h>

#include "access_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using BroadcastTest = HubTest;

static const unsigned char kByteA5[1] = {0xA5};

TEST_F(BroadcastTest, VersionOneHubSendsQueuedValuesInNodeOrder) {
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[2], 5, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[0], 3, nullptr, 0));
    EXPECT_THAT(take_trace(), IsEmpty());
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    // Each node scan is preceded by its force capture (node 0: 0x0B, node 2:
    // 0x1B); hub instructions 1 and 2 go to address 0.
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(4294967295,1)=0", "access_ir(14,0,0)=0", "access_dr(11,11,11)[0100]=0",
                            "access_dr(11,11,0)[0b00]=0", "access_dr(11,11,11)[0301]=0",
                            "access_dr(11,11,0)[1b00]=0", "access_dr(11,11,11)[0503]=0",
                            "access_ir(14,0,0)=0", "access_dr(11,11,11)[0200]=0", "unlock()=0"));
    unsigned long instruction = 0;
    ASSERT_TRUE(scxsim::node_instruction(1, 0, 2, &instruction));
    EXPECT_EQ(5ul, instruction);

    // A second broadcast reuses the queue; node 2 is not sent again.
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[0], 3, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    EXPECT_EQ(8u, take_trace().size());
}

TEST_F(BroadcastTest, VersionZeroHubSendsMaskedValuesWithoutForceCapture) {
    int hub0 = open_hub(kCable2, kHubV0);
    int memory0 = open_node(hub0, kV0MemoryNode);
    int shift0 = open_node(hub0, kV0ShiftNode);
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub0));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(shift0, 0x45, nullptr, 0)); // 6 bits: 0x05
    EXPECT_EQ(SLD_OK, sld_node_access_ir(memory0, 3, nullptr, 0));
    take_trace();
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub0));
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(4294967295,1)=0", "access_ir(14,0,0)=0", "access_dr(8,8,8)[01]=0",
                            "access_dr(8,8,8)[43]=0", "access_dr(8,8,8)[85]=0", "access_ir(14,0,0)=0",
                            "access_dr(8,8,8)[02]=0", "unlock()=0"));
    EXPECT_EQ(SLD_OK, sld_node_close(memory0));
    EXPECT_EQ(SLD_OK, sld_node_close(shift0));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub0));
}

TEST_F(BroadcastTest, QueuingDuringBroadcast) {
    sld_enable_scx_log();
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_BROADCAST_ACTIVE, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[1], 6, nullptr, 9));
    EXPECT_THAT(log_records(), IsEmpty());
    // The same node index through a second node id is the same queue slot.
    int again = open_node(hub, 1);
    EXPECT_EQ(SLD_NODE_ALREADY_QUEUED, sld_node_access_ir(again, 7, nullptr, 0));
    SLD_BATCH_ACCESS batch[] = {batch_ir(7, nullptr), batch_end()};
    EXPECT_EQ(SLD_NODE_ALREADY_QUEUED, sld_node_batch_access(node[1], batch));
    EXPECT_EQ(SLD_OK, sld_node_close(again));
    // Data scans are not queued.
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[1], 16, nullptr, nullptr, 0));
    EXPECT_EQ(4u, take_trace().size());
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    std::vector<std::string> calls = take_trace();
    ASSERT_EQ(8u, calls.size());
    EXPECT_EQ("access_dr(11,11,11)[0602]=0", calls[4]); // the first value stays
    EXPECT_EQ(SLD_BROADCAST_INACTIVE, sld_hub_broadcast_end(hub));
    EXPECT_THAT(take_trace(), IsEmpty());
}

TEST_F(BroadcastTest, EndReleasesLockTheCallerHeld) {
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    take_trace();
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    EXPECT_THAT(take_trace(),
                ElementsAre("access_ir(14,0,0)=0", "access_dr(11,11,11)[0100]=0", "access_ir(14,0,0)=0",
                            "access_dr(11,11,11)[0200]=0", "unlock()=0"));
    EXPECT_EQ(0, thr_debug_total_depth());
    EXPECT_EQ(SLD_NOT_LOCKED, sld_hub_unlock(hub));
}

// A queued scan captures nothing, so a caller who asks for the capture is
// refused rather than left with a word that was never written.
TEST_F(BroadcastTest, CaptureAskedWhileBroadcastingIsRefusedAndQueuesNothing) {
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    unsigned long capture = 77;
    EXPECT_EQ(SLD_BROADCAST_ACTIVE, sld_node_access_ir(node[kShiftNode], 6, &capture, 0));
    EXPECT_EQ(77ul, capture);
    unsigned char read[1] = {0};
    SLD_BATCH_ACCESS batch[] = {batch_dr(8, kByteA5, read), batch_ir(6, &capture), batch_ir(7, nullptr),
                                batch_end()};
    EXPECT_EQ(SLD_BROADCAST_ACTIVE, sld_node_batch_access(node[kShiftNode], batch));
    EXPECT_EQ(77ul, capture);
    EXPECT_EQ(4u, take_trace().size()); // the data scan before it ran
    // Nothing was queued for the node: a value without capture still is.
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 1, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    unsigned long instruction = 0;
    ASSERT_TRUE(scxsim::node_instruction(1, 0, kShiftNode, &instruction));
    EXPECT_EQ(1ul, instruction);
}

TEST_F(BroadcastTest, EndReportsItsFirstFailedScanAndStillEmptiesTheQueue) {
    // The access_dr calls of an end with nodes 0 and 3 queued: hub
    // instruction 1, force capture and value of each node, hub instruction 2.
    // Every step is taken; the first failure is the result.
    const struct {
        scxsim::Fn fn;
        unsigned long call;
        SCX_ERROR code;
        scxsim::Fn second_fn; // Fn::any: no second fault
        unsigned long second_call;
        SCX_ERROR second_code;
        SLD_ERROR status;
        size_t calls;
    } cases[] = {
        // The lock is not granted: each scan locks the device by itself.
        {scxsim::Fn::lock, 1, 88, scxsim::Fn::any, 0, 0, SLD_OK, 19},
        {scxsim::Fn::access_dr, 3, 46, scxsim::Fn::any, 0, 0, SLD_SERVER_ERROR_70, 10},
        {scxsim::Fn::access_dr, 6, 88, scxsim::Fn::any, 0, 0, SLD_SERVER_ERROR, 10},
        {scxsim::Fn::access_ir, 1, 1000, scxsim::Fn::access_dr, 4, 88, SLD_JTAG_ERROR, 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(scxsim::fn_name(c.fn)) + " " + std::to_string(c.call));
        ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
        EXPECT_EQ(SLD_OK, sld_node_access_ir(node[0], 3, nullptr, 0));
        EXPECT_EQ(SLD_OK, sld_node_access_ir(node[3], 1, nullptr, 0));
        scxsim::fail_call(c.fn, c.call, c.code);
        if (c.second_fn != scxsim::Fn::any)
            scxsim::fail_call(c.second_fn, c.second_call, c.second_code);
        EXPECT_EQ(c.status, sld_hub_broadcast_end(hub));
        EXPECT_EQ(c.calls, take_trace().size());
        EXPECT_EQ(0, thr_debug_total_depth());
        EXPECT_EQ(SLD_NOT_LOCKED, sld_hub_unlock(hub));
        // The queue is empty and the hub object Idle: an empty pair follows.
        ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
        EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
        EXPECT_EQ(6u, take_trace().size());
    }
}

// A failed closing hub instruction leaves the device's hub holding node
// instructions back; an empty begin/end pair sends the framing again.
TEST_F(BroadcastTest, FailedClosingScanIsReportedAndAnEmptyPairRecovers) {
    unsigned long instruction = 99;
    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 2, nullptr, 0));
    scxsim::fail_call(scxsim::Fn::access_dr, 4, 88); // hub instruction 2
    EXPECT_EQ(SLD_SERVER_ERROR, sld_hub_broadcast_end(hub));
    EXPECT_EQ(0, thr_debug_total_depth());
    ASSERT_TRUE(scxsim::node_instruction(1, 0, kShiftNode, &instruction));
    EXPECT_EQ(0ul, instruction);

    // The hub object is Idle, but the device's hub holds the value back.
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 1, nullptr, 0));
    ASSERT_TRUE(scxsim::node_instruction(1, 0, kShiftNode, &instruction));
    EXPECT_EQ(0ul, instruction);

    ASSERT_EQ(SLD_OK, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_OK, sld_hub_broadcast_end(hub));
    ASSERT_TRUE(scxsim::node_instruction(1, 0, kShiftNode, &instruction));
    EXPECT_EQ(1ul, instruction); // the last value held back
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 2, nullptr, 0));
    ASSERT_TRUE(scxsim::node_instruction(1, 0, kShiftNode, &instruction));
    EXPECT_EQ(2ul, instruction);
}

TEST_F(BroadcastTest, HubIdsThatAreNotLive) {
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_broadcast_begin(-1));
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_broadcast_end(128));
    EXPECT_EQ(SLD_INVALID_HUB_ID, sld_hub_broadcast_begin(hub + 1));
    ASSERT_TRUE(scxsim::remove_cable(1));
    sld_refresh_hardware();
    EXPECT_EQ(SLD_STALE_ID, sld_hub_broadcast_begin(hub));
    EXPECT_EQ(SLD_STALE_ID, sld_hub_broadcast_end(hub));
}
