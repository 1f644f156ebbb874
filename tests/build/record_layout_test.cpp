// The public records keep their layout: on 32-bit x86 the sizes and field
// offsets are part of the interface, and C and C++ callers agree everywhere.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "sld.h"
#include "sld_status.h"

extern "C" size_t sld_c_layout(int which);

TEST(RecordLayout, CAndCppAgree) {
    const size_t cpp[] = {sizeof(SLD_NODE_INFO),
                          offsetof(SLD_NODE_INFO, manufacturer_id),
                          offsetof(SLD_NODE_INFO, node_id),
                          offsetof(SLD_NODE_INFO, version),
                          sizeof(SLD_SCX_LOG_RECORD),
                          offsetof(SLD_SCX_LOG_RECORD, data),
                          offsetof(SLD_SCX_LOG_RECORD, next),
                          sizeof(SLD_BATCH_ACCESS),
                          offsetof(SLD_BATCH_ACCESS, read),
                          offsetof(SLD_BATCH_ACCESS, delay)};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(cpp[i], sld_c_layout(i)) << "layout item " << i;
}

TEST(RecordLayout, NodeInfoIsSixBytesEverywhere) {
    EXPECT_EQ(sizeof(SLD_NODE_INFO), 6u);
    EXPECT_EQ(offsetof(SLD_NODE_INFO, instance_id), 0u);
    EXPECT_EQ(offsetof(SLD_NODE_INFO, manufacturer_id), 2u);
    EXPECT_EQ(offsetof(SLD_NODE_INFO, node_id), 4u);
    EXPECT_EQ(offsetof(SLD_NODE_INFO, version), 5u);
}

TEST(RecordLayout, WordRecordsUseOneWordPerField) {
    // A field of a batch record must be able to carry a pointer.
    EXPECT_GE(sizeof(((SLD_BATCH_ACCESS *)nullptr)->write), sizeof(void *));
    EXPECT_EQ(sizeof(SLD_BATCH_ACCESS), 5 * sizeof(unsigned long));
    EXPECT_EQ(offsetof(SLD_BATCH_ACCESS, write), sizeof(unsigned long));
    EXPECT_EQ(offsetof(SLD_BATCH_ACCESS, length), 3 * sizeof(unsigned long));
#if defined(__i386__)
    EXPECT_EQ(sizeof(SLD_SCX_LOG_RECORD), 16u);
    EXPECT_EQ(sizeof(SLD_BATCH_ACCESS), 20u);
    EXPECT_EQ(offsetof(SLD_SCX_LOG_RECORD, data), 8u);
    EXPECT_EQ(offsetof(SLD_SCX_LOG_RECORD, next), 12u);
#endif
}

TEST(RecordLayout, StatusValuesAreTheDocumentedOnes) {
    const int values[] = {SLD_OK,
                          SLD_HARDWARE_NOT_FOUND,
                          SLD_DEVICE_NOT_FOUND,
                          SLD_INVALID_HUB_ID,
                          SLD_UNSUPPORTED_HUB,
                          SLD_INVALID_NODE_ID,
                          SLD_INVALID_NODE_INDEX,
                          SLD_JTAG_ERROR,
                          SLD_HUB_NOT_FOUND,
                          SLD_NO_FREE_SLOT,
                          SLD_HUB_HAS_OPEN_NODES,
                          SLD_SERVER_ERROR,
                          SLD_STALE_ID};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(values[i], i);
    EXPECT_EQ(SLD_BROADCAST_ACTIVE, 50);
    EXPECT_EQ(SLD_BROADCAST_INACTIVE, 51);
    EXPECT_EQ(SLD_NODE_ALREADY_QUEUED, 52);
    EXPECT_EQ(SLD_ALREADY_LOCKED, 60);
    EXPECT_EQ(SLD_NOT_LOCKED, 61);
    EXPECT_EQ(SLD_SERVER_ERROR_70, 70);
    EXPECT_EQ(SLD_NULL_ARGUMENT, 100);
}

// The words of sld_status.h cover every status of sld.h, each under its own
// name, and nothing else.
TEST(StatusWords, EveryStatusHasItsNameAndNoOtherValueHasOne) {
    const struct {
        SLD_ERROR status;
        const char *name;
    } statuses[] = {{SLD_OK, "SLD_OK"},
                    {SLD_HARDWARE_NOT_FOUND, "SLD_HARDWARE_NOT_FOUND"},
                    {SLD_DEVICE_NOT_FOUND, "SLD_DEVICE_NOT_FOUND"},
                    {SLD_INVALID_HUB_ID, "SLD_INVALID_HUB_ID"},
                    {SLD_UNSUPPORTED_HUB, "SLD_UNSUPPORTED_HUB"},
                    {SLD_INVALID_NODE_ID, "SLD_INVALID_NODE_ID"},
                    {SLD_INVALID_NODE_INDEX, "SLD_INVALID_NODE_INDEX"},
                    {SLD_JTAG_ERROR, "SLD_JTAG_ERROR"},
                    {SLD_HUB_NOT_FOUND, "SLD_HUB_NOT_FOUND"},
                    {SLD_NO_FREE_SLOT, "SLD_NO_FREE_SLOT"},
                    {SLD_HUB_HAS_OPEN_NODES, "SLD_HUB_HAS_OPEN_NODES"},
                    {SLD_SERVER_ERROR, "SLD_SERVER_ERROR"},
                    {SLD_STALE_ID, "SLD_STALE_ID"},
                    {SLD_BROADCAST_ACTIVE, "SLD_BROADCAST_ACTIVE"},
                    {SLD_BROADCAST_INACTIVE, "SLD_BROADCAST_INACTIVE"},
                    {SLD_NODE_ALREADY_QUEUED, "SLD_NODE_ALREADY_QUEUED"},
                    {SLD_ALREADY_LOCKED, "SLD_ALREADY_LOCKED"},
                    {SLD_NOT_LOCKED, "SLD_NOT_LOCKED"},
                    {SLD_SERVER_ERROR_70, "SLD_SERVER_ERROR_70"},
                    {SLD_NULL_ARGUMENT, "SLD_NULL_ARGUMENT"}};
    size_t named = 0;
    for (SLD_ERROR value = -5; value <= 200; ++value)
        named += sld_status_info(value) != nullptr;
    EXPECT_EQ(named, sizeof statuses / sizeof statuses[0]);
    for (const auto &s : statuses) {
        EXPECT_STREQ(sld_status_name(s.status), s.name);
        EXPECT_GT(std::strlen(sld_status_text(s.status)), 5u) << s.name;
    }
    EXPECT_STREQ(sld_status_name(13), "unknown status");
}
