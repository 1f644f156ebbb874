// The exported frame through the shared library: the version query, the log
// functions' null argument, and the refusals every function makes before it
// takes the library mutex (null pointers 100, negative node ids 5).
#include <gtest/gtest.h>

#include "sld.h"

TEST(ApiFrame, VersionAndLogFunctionsHandleNullArguments) {
    int major = -7, minor = -7;
    EXPECT_EQ(sld_get_version(nullptr, &minor), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_version(&major, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(major + minor, -14);
    EXPECT_EQ(sld_get_version(&major, &minor), SLD_OK);
    EXPECT_EQ(major * 10 + minor, 11);

    sld_get_scx_log_head(nullptr);
    sld_enable_scx_log();
    sld_clear_scx_log();
    sld_disable_scx_log();
    SLD_SCX_LOG_RECORD *head = reinterpret_cast<SLD_SCX_LOG_RECORD *>(&head);
    sld_get_scx_log_head(&head);
    EXPECT_EQ(head, nullptr);
}

TEST(ApiFrame, NullPointersAreRefusedAndNothingIsWritten) {
    unsigned long n = 99;
    char **names = nullptr;
    int hub = 99;
    EXPECT_EQ(sld_get_hardware(nullptr, &names), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware(&n, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_name(1, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_persistent_id(nullptr, &n), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_hardware_persistent_id("x", nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device(nullptr, &n, &names), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device("x", nullptr, &names), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_get_device("x", &n, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_refresh_device(nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open(nullptr, "d", &hub), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open("x", nullptr, &hub), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_open("x", "d", nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_scx_device_open("x", "d", nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_get_scx_open_id(0, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_get_number_of_nodes(0, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_hub_get_node_info(0, 0, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_node_open(0, 0, nullptr), SLD_NULL_ARGUMENT);
    EXPECT_EQ(sld_node_batch_access(-1, nullptr), SLD_NULL_ARGUMENT); // before the id check
    EXPECT_TRUE(n == 99 && hub == 99 && names == nullptr);
}

TEST(ApiFrame, NegativeNodeIdsAreRefused) {
    unsigned long capture = 5;
    unsigned char bits[1] = {0};
    SLD_BATCH_ACCESS end[1] = {{SLD_BATCH_END, 0, 0, 0, 0}};
    for (int id : {-1, -2147483647 - 1}) {
        EXPECT_EQ(sld_node_close(id), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_lock(id, 10), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_lock_manual(id, 10), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_unlock(id), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_access_ir(id, 1, &capture, 0), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_access_dr(id, 8, bits, bits, 0), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_batch_access(id, end), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_rti(id, 1), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_flush(id), SLD_INVALID_NODE_ID);
        EXPECT_EQ(sld_node_delay(id, 1), SLD_INVALID_NODE_ID);
    }
    EXPECT_EQ(capture, 5u);
}
