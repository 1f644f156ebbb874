// The SCX calls that node scans make: the device instruction cache under a
// hub lock, the implicit lock around unlocked scans, force capture on a
// version-1 hub, delays, and what the scan log records.
#include <gmock/gmock.h>

#include "access_support.h"

using ::testing::ElementsAre;

using ScanTraceTest = HubTest;

static unsigned char kByteA5[1] = {0xA5};

TEST_F(ScanTraceTest, HeldHubSkipsDeviceInstructionAlreadyLoaded) {
    unsigned char read[1];
    ASSERT_EQ(SLD_OK, sld_node_lock(node[kShiftNode], 1000));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, read, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, read, 0));
    EXPECT_EQ(SLD_OK, sld_node_unlock(node[kShiftNode]));
    EXPECT_THAT(take_trace(), ElementsAre("lock(1000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,8,8)[a5]=0",
                                          "access_dr(8,8,8)[a5]=0", "unlock()=0"));

    // IR, DR, IR: each change of kind loads its instruction again. Node 3
    // is address 4 (byte 1); no capture word reads nothing back.
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 1, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, read, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 1, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hub));
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(1000,1)=0", "access_ir(14,0,0)=0", "access_dr(11,11,0)[0104]=0",
                            "access_ir(12,0,0)=0", "access_dr(8,8,8)[a5]=0", "access_ir(14,0,0)=0",
                            "access_dr(11,11,0)[0104]=0", "unlock()=0"));
}

TEST_F(ScanTraceTest, UnlockedScansLockTheDeviceForEachOperation) {
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_rti(node[kShiftNode], 0));
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(6000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,8,0)[a5]=0", "unlock()=0",
                            "lock(6000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,8,0)[a5]=0", "unlock()=0",
                            "lock(6000,1)=0", "unlock()=0"));

    // What was loaded before the hold is not trusted: the first scan of a
    // hold loads its instruction, the next one of the same kind does not.
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, nullptr, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_rti(node[kShiftNode], 5));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, nullptr, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hub));
    EXPECT_THAT(take_trace(), ElementsAre("lock(1000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,0,0)[]=0",
                                          "run_test_idle(5)=0", "access_dr(8,0,0)[]=0", "unlock()=0"));
}

TEST_F(ScanTraceTest, ForceCaptureOnlyWhenVersionOneHubIsAskedForCapture) {
    sld_enable_scx_log();
    unsigned long capture = 77;
    // Node 3: force-capture value 3 * 8 + 11 = 0x23; the value is masked to
    // the 8 instruction bits.
    EXPECT_EQ(SLD_OK, sld_node_access_ir(node[kShiftNode], 0x1FF, &capture, 0));
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(6000,1)=0", "access_ir(14,0,0)=0", "access_dr(11,11,0)[2300]=0",
                            "access_dr(11,11,11)[ff04]=0", "unlock()=0"));
    EXPECT_NE(77ul, capture);
    std::vector<SLD_SCX_LOG_RECORD> log = log_records();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(SLD_LOG_IR, log[0].kind);
    EXPECT_EQ(14u, log[0].value);
    EXPECT_EQ(11u, log[1].value);
    EXPECT_EQ(0x23, log[1].data[0]);
    EXPECT_EQ(0xFF, log[2].data[0]);
    EXPECT_EQ(0x04, log[2].data[1]);

    // A version-0 hub never sends the force-capture scan.
    int hub0 = open_hub(kCable2, kHubV0);
    int shift0 = open_node(hub0, kV0ShiftNode);
    take_trace();
    EXPECT_EQ(SLD_OK, sld_node_access_ir(shift0, 1, &capture, 0));
    EXPECT_THAT(take_trace(),
                ElementsAre("lock(6000,1)=0", "access_ir(14,0,0)=0", "access_dr(8,8,8)[81]=0", "unlock()=0"));
    EXPECT_EQ(SLD_OK, sld_node_close(shift0));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub0));
}

TEST_F(ScanTraceTest, FailedDeviceInstructionScanForgetsCachedInstruction) {
    ASSERT_EQ(SLD_OK, sld_hub_lock(hub, 1000));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, nullptr, 0));
    scxsim::fail_call(scxsim::Fn::access_ir, 1, 88);
    unsigned long capture = 77;
    EXPECT_EQ(SLD_SERVER_ERROR, sld_node_access_ir(node[kShiftNode], 1, &capture, 0));
    EXPECT_EQ(77ul, capture);
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hub));
    EXPECT_THAT(take_trace(), ElementsAre("lock(1000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,8,0)[a5]=0",
                                          "access_ir(14,0,0)=88", "access_ir(12,0,0)=0",
                                          "access_dr(8,8,0)[a5]=0", "unlock()=0"));
}

TEST_F(ScanTraceTest, DelaysFollowScansAndTheirFailuresAreResults) {
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, nullptr, 3));
    scxsim::fail_call(scxsim::Fn::delay, 1, 88);
    EXPECT_EQ(SLD_SERVER_ERROR, sld_node_access_ir(node[kShiftNode], 1, nullptr, 4));
    EXPECT_THAT(take_trace(), ElementsAre("lock(6000,1)=0", "access_ir(12,0,0)=0", "access_dr(8,8,0)[a5]=0",
                                          "delay(3)=0", "unlock()=0", "lock(6000,1)=0", "access_ir(14,0,0)=0",
                                          "access_dr(11,11,0)[0104]=0", "delay(4)=88", "unlock()=0"));

    // Scans that succeed but whose implicit unlock fails report the unlock,
    // with the capture already written.
    unsigned char read[1] = {0};
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kShiftNode], 8, kByteA5, nullptr, 0));
    scxsim::fail_call(scxsim::Fn::unlock, 1, 46);
    EXPECT_EQ(SLD_SERVER_ERROR_70, sld_node_access_dr(node[kShiftNode], 8, kByteA5, read, 0));
    EXPECT_EQ(0xA5, read[0]);
}
