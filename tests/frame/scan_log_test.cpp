// The scan log: nothing while off, records in issue order with their own
// copies of (length + 7) / 8 written bytes, clearing, and a reader without
// the mutex that sees complete records.
#include <atomic>
#include <thread>
#include <vector>

#include "frame_fixture.h"

using ScanLog = FrameTest;

static std::vector<SLD_SCX_LOG_RECORD *> records_of(ROZI_VUV_MANAGER &m) {
    std::vector<SLD_SCX_LOG_RECORD *> all;
    for (SLD_SCX_LOG_RECORD *r = m.get_scx_log_head(); r != nullptr; r = r->next)
        all.push_back(r);
    return all;
}

TEST_F(ScanLog, RecordsHoldKindValueAndAnExactCopyOfTheWrittenBytes) {
    std::vector<unsigned char> ten = {0xA5, 0x03}, four = {0x0C}; // exact sizes: overreads show
    sld_testing::fail_allocation_after(-1);
    m.log_scx_access_dr(10, ten.data()); // off: costs no allocation
    EXPECT_EQ(sld_testing::allocation_count(), 0);
    m.enable_scx_log();
    m.log_scx_access_ir(14);
    m.log_scx_access_dr(10, ten.data());
    m.log_scx_access_dr(4, four.data());
    m.log_scx_access_dr(32, nullptr);
    m.log_scx_access_dr(0, ten.data());
    ten[0] = 0;
    std::vector<SLD_SCX_LOG_RECORD *> r = records_of(m);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0]->kind, 0u);
    EXPECT_EQ(r[0]->value, 14u);
    EXPECT_EQ(r[1]->kind, 1u);
    EXPECT_EQ(r[1]->value, 10u);
    EXPECT_EQ(std::vector<unsigned char>(r[1]->data, r[1]->data + 2), (std::vector<unsigned char>{0xA5, 3}));
    EXPECT_EQ(r[2]->data[0], 0x0C);
    EXPECT_EQ(r[3]->value, 32u);
    EXPECT_EQ(r[3]->data, nullptr);
    EXPECT_EQ(r[4]->data, nullptr); // nothing was written
    EXPECT_EQ(m.log_tail, r[4]);
}

TEST_F(ScanLog, SwitchingKeepsRecordsAndClearingKeepsTheSwitch) {
    m.clear_scx_log();
    m.enable_scx_log();
    m.log_scx_access_ir(14);
    m.disable_scx_log();
    m.log_scx_access_ir(1);
    m.enable_scx_log();
    m.log_scx_access_ir(12);
    std::vector<SLD_SCX_LOG_RECORD *> r = records_of(m);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0]->value * 100 + r[1]->value, 1412u);
    m.clear_scx_log();
    EXPECT_EQ(m.get_scx_log_head(), nullptr);
    EXPECT_TRUE(m.log_enabled.load());
    m.log_scx_access_ir(14); // a new list, not an append to a freed tail
    EXPECT_EQ(records_of(m).size(), 1u);
}

TEST_F(ScanLog, ReaderWithoutTheMutexSeesCompleteRecords) {
    std::thread scanner([&] {
        ROZI_VUV_CALL_LEVEL level(&m);
        m.enable_scx_log();
        unsigned char bits[4] = {1, 2, 3, 4};
        for (int i = 0; i < 100; ++i)
            m.log_scx_access_dr(32, bits);
    });
    SLD_SCX_LOG_RECORD *head = nullptr;
    while ((head = m.get_scx_log_head()) == nullptr)
        std::this_thread::yield();
    EXPECT_EQ(head->value, 32u);
    EXPECT_EQ(head->data[3], 4);
    scanner.join();
    EXPECT_EQ(records_of(m).size(), 100u);
}
