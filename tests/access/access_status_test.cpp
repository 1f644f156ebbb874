// Statuses of the node access functions for ids that do not reach a node,
// the pointers they accept, and how a batch runs and stops.
#include <gmock/gmock.h>

#include "access_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using AccessStatusTest = HubTest;

// Every node access function on one node id, with valid arguments.
static std::vector<SLD_ERROR> call_every_function(int id) {
    unsigned long capture = 0;
    unsigned char bits[1] = {0};
    SLD_BATCH_ACCESS batch[] = {batch_ir(1, nullptr), batch_end()};
    return {sld_node_access_ir(id, 1, &capture, 0),
            sld_node_access_dr(id, 8, bits, bits, 0),
            sld_node_batch_access(id, batch),
            sld_node_rti(id, 1),
            sld_node_flush(id),
            sld_node_delay(id, 1)};
}

TEST_F(AccessStatusTest, IdsThatDoNotReachANode) {
    const SLD_ERROR kInvalid = SLD_INVALID_NODE_ID, kStale = SLD_STALE_ID;
    for (int id : {-1, 512, node[3] + 1})
        EXPECT_THAT(call_every_function(id),
                    ElementsAre(kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid))
            << id;
    int closed = open_node(hub, 0);
    ASSERT_EQ(SLD_OK, sld_node_close(closed));
    EXPECT_THAT(call_every_function(closed),
                ElementsAre(kInvalid, kInvalid, kInvalid, kInvalid, kInvalid, kInvalid));
    EXPECT_EQ(SLD_NULL_ARGUMENT, sld_node_batch_access(-1, nullptr));
    EXPECT_THAT(take_trace(), IsEmpty());

    ASSERT_TRUE(scxsim::remove_cable(1));
    sld_refresh_hardware();
    take_trace();
    EXPECT_THAT(call_every_function(node[0]), ElementsAre(kStale, kStale, kStale, kStale, kStale, kStale));
    EXPECT_THAT(take_trace(), IsEmpty());
    EXPECT_EQ(0, thr_debug_total_depth());
}

TEST_F(AccessStatusTest, NullPointersMeanNothingCapturedWrittenOrRead) {
    sld_enable_scx_log();
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 1, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 12, nullptr, nullptr, 0));
    std::vector<std::string> calls = take_trace();
    ASSERT_EQ(8u, calls.size());
    EXPECT_EQ("access_dr(11,11,0)[0104]=0", calls[2]);
    EXPECT_EQ("access_dr(12,0,0)[]=0", calls[6]);
    std::vector<SLD_SCX_LOG_RECORD> log = log_records();
    ASSERT_EQ(4u, log.size());
    EXPECT_EQ(SLD_LOG_DR, log[3].kind);
    EXPECT_EQ(12u, log[3].value);
    EXPECT_EQ(nullptr, log[3].data);
}

TEST_F(AccessStatusTest, BatchRunsUntilEndKindOrFirstFailure) {
    SLD_BATCH_ACCESS nothing[] = {batch_end(), batch_ir(1, nullptr)};
    EXPECT_EQ(SLD_OK, sld_node_batch_access(node[0], nothing));
    SLD_BATCH_ACCESS unknown[] = {{7, 0, 0, 0, 0}, batch_ir(1, nullptr)};
    EXPECT_EQ(SLD_OK, sld_node_batch_access(node[0], unknown));
    EXPECT_THAT(take_trace(), IsEmpty());

    // Under the lock: IR, DR, DR (fails), IR. The first two complete, the
    // fourth is never read.
    unsigned long capture = 0xEEEE, unread = 0xEEEE;
    unsigned char write[1] = {0x3C}, first[1] = {0xEE}, third[1] = {0xEE};
    SLD_BATCH_ACCESS batch[] = {batch_ir(1, &capture), batch_dr(8, write, first), batch_dr(8, write, third),
                                batch_ir(2, &unread), batch_end()};
    ASSERT_EQ(SLD_OK, sld_node_lock(node[kShiftNode], 1000));
    take_trace();
    scxsim::fail_call(scxsim::Fn::access_dr, 4, 88);
    EXPECT_EQ(SLD_SERVER_ERROR, sld_node_batch_access(node[kShiftNode], batch));
    EXPECT_THAT(take_trace(), ElementsAre("access_ir(14,0,0)=0", "access_dr(11,11,0)[2300]=0",
                                          "access_dr(11,11,11)[0104]=0", "access_ir(12,0,0)=0",
                                          "access_dr(8,8,8)[3c]=0", "access_dr(8,8,8)[3c]=88"));
    EXPECT_NE(0xEEEEul, capture);
    EXPECT_NE(0xEE, first[0]);
    EXPECT_EQ(0xEE, third[0]);
    EXPECT_EQ(0xEEEEul, unread);
    EXPECT_EQ(SLD_OK, sld_node_unlock(node[kShiftNode]));
    take_trace();

    // Unlocked, every record has its own implicit lock and instruction scan.
    SLD_BATCH_ACCESS twice[] = {batch_dr(8, write, nullptr), batch_dr(8, write, nullptr, 2), batch_end()};
    EXPECT_EQ(SLD_OK, sld_node_batch_access(node[kShiftNode], twice));
    EXPECT_THAT(take_trace(), ElementsAre("lock(6000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,8,0)[3c]=0",
                                          "unlock()=0", "lock(6000,1)=0", "access_ir(12,0,0)=0",
                                          "access_dr(8,8,0)[3c]=0", "delay(2)=0", "unlock()=0"));
}
