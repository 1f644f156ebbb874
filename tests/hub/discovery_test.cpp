// Hub discovery on the simulated chain: the scan sequence, its failures,
// the validity rule for hub words, and the decoded fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/memory.h"
#include "hub/hub.h"
#include "scxsim.h"
#include "sim_fixture.h"

namespace {

typedef std::vector<std::string> Lines;

// The scans of a successful discovery of a hub with the given node count.
Lines discovery_scans(unsigned nodes) {
    Lines scans = {"access_ir(14,0,0)=0", "access_dr(64,64,64)[0000000000000000]=0", "access_ir(12,0,0)=0"};
    scans.insert(scans.end(), 8 * (nodes + 1), "access_dr(4,4,4)[00]=0");
    return scans;
}

std::string hub_board(unsigned ir_width, unsigned manufacturer, unsigned node_count, unsigned version) {
    return "{\"cables\":[{\"persistent_id\":1,\"name\":\"SimCable-1\",\"devices\":[{\"idcode\":"
           "\"0x020A10DD\","
           "\"ir_length\":10,\"hub\":{\"ir_width\":" +
           std::to_string(ir_width) + ",\"manufacturer\":" + std::to_string(manufacturer) +
           ",\"node_count\":" + std::to_string(node_count) + ",\"version\":" + std::to_string(version) +
           "}}]}]}";
}

class DiscoveryTest : public SimTest {
  protected:
    void TearDown() override {
        sld_testing::fail_allocation_after(-1);
        sld_disable_scx_log();
        sld_clear_scx_log();
        SimTest::TearDown();
    }

    // A device handle on the first device of cable 1, as the device list
    // opens it; the trace starts after it.
    SCX_OPEN *open_first_device() {
        SCX_CHAIN *chain = scxsim::chain_handle(1);
        scx_scan_device_chain(chain);
        SCX_OPEN *open = nullptr;
        EXPECT_EQ(SCX_NO_ERROR, scx_open_device(chain, 0, &open, nullptr, 0, "hub test"));
        scxsim::clear_trace();
        return open;
    }

    ROZI_VUV_MANAGER *manager() { return ROZI_VUV_MANAGER::get_manager(); }
};

} // namespace

TEST_F(DiscoveryTest, ReadsHubAndNodeWordsUnderOneDeviceLock) {
    sld_enable_scx_log();
    ROZI_VUV_HUB *hub = sld_new<ROZI_VUV_HUB>(open_first_device());
    ASSERT_NE(nullptr, hub);

    Lines expected = {"lock(6000,1)=0"};
    Lines scans = discovery_scans(4);
    expected.insert(expected.end(), scans.begin(), scans.end());
    expected.push_back("unlock()=0");
    EXPECT_EQ(expected, scxsim::trace_text());

    EXPECT_TRUE(hub->valid);
    EXPECT_EQ(8, hub->ir_width);
    EXPECT_EQ(110, hub->manufacturer_id);
    EXPECT_EQ(4, hub->node_count);
    EXPECT_EQ(1, hub->version);
    EXPECT_EQ(0xFFu, hub->ir_mask);
    EXPECT_EQ(3, hub->address_width);
    EXPECT_EQ(0, hub->ref_count);
    EXPECT_EQ(unsigned(SLD_IR_UNKNOWN), hub->cached_ir);
    EXPECT_TRUE(hub->is_supported_hub_version());
    for (unsigned char i = 0; i < 4; ++i) {
        const SLD_NODE_INFO *info = hub->get_node_info(i);
        ASSERT_NE(nullptr, info);
        EXPECT_EQ(0, info->instance_id);
        EXPECT_EQ(110, info->manufacturer_id);
        EXPECT_EQ(i + 1, info->node_id);
        EXPECT_EQ(1, info->version);
    }
    EXPECT_EQ(nullptr, hub->get_node_info(4));

    // Every scan is logged with the bits it wrote; lock and unlock are not.
    SLD_SCX_LOG_RECORD *record = nullptr;
    sld_get_scx_log_head(&record);
    std::vector<unsigned> shape;
    for (; record != nullptr; record = record->next) {
        shape.push_back(record->kind == SLD_LOG_IR ? 1000 + record->value : record->value);
        if (record->kind == SLD_LOG_DR) {
            ASSERT_NE(nullptr, record->data);
            for (unsigned i = 0; i < (record->value + 7) / 8; ++i)
                EXPECT_EQ(0, record->data[i]);
        }
    }
    std::vector<unsigned> expected_shape = {1014, 64, 1012};
    expected_shape.insert(expected_shape.end(), 40, 4);
    EXPECT_EQ(expected_shape, shape);

    // Destruction closes the handle the hub was built on.
    EXPECT_EQ(1u, scxsim::open_handle_count(1));
    sld_delete(hub);
    EXPECT_EQ(0u, scxsim::open_handle_count(1));
}

TEST_F(DiscoveryTest, FailureAtEachStep) {
    using scxsim::Fn;
    struct Row {
        Fn fn;
        unsigned long k;
        SCX_ERROR code;
        SLD_ERROR error;
        size_t scans; // scans issued, the failed one included
        bool result;
        bool decoded; // hub word decoded
        bool valid;
    };
    const Row rows[] = {
        {Fn::lock, 1, 34, SLD_ALREADY_LOCKED, 0, false, false, false},
        {Fn::access_ir, 1, 81, SLD_SERVER_ERROR, 1, false, false, false},
        {Fn::access_dr, 1, 37, SLD_DEVICE_NOT_FOUND, 2, false, false, false},
        {Fn::access_ir, 2, 46, SLD_SERVER_ERROR_70, 3, false, false, false},
        {Fn::access_dr, 4, 88, SLD_SERVER_ERROR, 6, true, false, false}, // third hub nibble
        {Fn::access_dr, 10, 87, SLD_STALE_ID, 12, true, true, false},    // node 0, first nibble
        {Fn::access_dr, 41, 99, SLD_JTAG_ERROR, 43, true, true, false},  // node 3, last nibble
        {Fn::unlock, 1, 35, SLD_NOT_LOCKED, 43, false, true, true},
    };
    const Lines all_scans = discovery_scans(4);
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << scxsim::fn_name(row.fn) << " #" << row.k);
        sld_clear_scx_log();
        sld_enable_scx_log();
        ROZI_VUV_HUB hub(nullptr); // no hardware: stops at the lock
        SCX_OPEN *open = open_first_device();
        manager()->last_error = SLD_OK;
        scxsim::fail_call(row.fn, row.k, row.code);

        EXPECT_EQ(row.result, hub.read_hub_node_info(open));
        EXPECT_EQ(row.error, manager()->last_error);
        EXPECT_EQ(row.valid, hub.valid);
        EXPECT_EQ(row.decoded ? 8 : 0, hub.ir_width);
        EXPECT_EQ(row.decoded ? 110 : 0, hub.manufacturer_id);
        EXPECT_EQ(row.decoded ? 4 : 0, hub.node_count);
        EXPECT_EQ(row.decoded ? 3 : 0, hub.address_width);
        if (row.k == 41) {
            // Records of the nodes before the failing one are filled.
            EXPECT_EQ(3, hub.node_info[2].node_id);
        }

        const std::string lock_result = row.fn == Fn::lock ? std::to_string(row.code) : "0";
        Lines expected = {"lock(6000,1)=" + lock_result};
        expected.insert(expected.end(), all_scans.begin(), all_scans.begin() + row.scans);
        if (row.fn == Fn::access_ir || row.fn == Fn::access_dr)
            expected.back().replace(expected.back().size() - 1, 1, std::to_string(row.code));
        if (row.fn != Fn::lock)
            expected.push_back("unlock()=" + std::string(row.fn == Fn::unlock ? "35" : "0"));
        EXPECT_EQ(expected, scxsim::trace_text());

        // The failed scan is logged too.
        size_t logged = 0;
        SLD_SCX_LOG_RECORD *record = nullptr;
        for (sld_get_scx_log_head(&record); record != nullptr; record = record->next)
            ++logged;
        EXPECT_EQ(row.scans, logged);

        scxsim::clear_faults();
        scx_close_device(open);
    }
}

TEST_F(DiscoveryTest, ValidityRuleForHubWords) {
    struct Row {
        unsigned long word;
        bool accepted;
        bool supported;
        unsigned long ir_mask;
        unsigned char address_width;
    };
    const Row rows[] = {
        {0x00106E05, true, true, 0x1F, 2},       // m = 5, 2 nodes, version 0
        {0x08086E03, false, true, 0x7, 0},       // version 1 needs m > 3
        {0x08086E04, true, true, 0xF, 1},        //
        {0x00086E03, true, true, 0x7, 1},        // version 0 needs m > 2
        {0x00086E02, false, true, 0x3, 0},       //
        {0x10186E08, false, false, 0xFF, 0},     // version 2
        {0x00106408, false, true, 0xFF, 0},      // manufacturer 100
        {0x38106408, false, true, 0xFF, 0},      // manufacturer 100, version 7
        {0x08006E08, false, true, 0xFF, 0},      // no nodes
        {0x08086E20, true, true, 0xFFFFFFFF, 1}, // m = 32
        {0x08086E28, true, true, 0xFFFFFFFF, 1}, // m = 40
        {0x03F86E08, true, true, 0xFF, 7},       // 127 nodes
        {0x04006E08, true, true, 0xFF, 8},       // 128 nodes
        {0x07F86E08, true, true, 0xFF, 8},       // 255 nodes
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << "word 0x" << row.word);
        const unsigned m = row.word & 0xFF, count = (row.word >> 19) & 0xFF;
        load_board(hub_board(m, (row.word >> 8) & 0x7FF, count, row.word >> 27));
        manager()->last_error = SLD_OK;
        ROZI_VUV_HUB *hub = sld_new<ROZI_VUV_HUB>(open_first_device());
        ASSERT_NE(nullptr, hub);

        EXPECT_EQ(SLD_OK, manager()->last_error);
        EXPECT_EQ(row.accepted, hub->valid);
        EXPECT_EQ(row.supported, hub->is_supported_hub_version());
        EXPECT_EQ(m, hub->ir_width);
        EXPECT_EQ(row.word >> 27, hub->version);
        EXPECT_EQ(row.accepted ? count : 0, hub->node_count);
        EXPECT_EQ(row.ir_mask, hub->ir_mask);
        EXPECT_EQ(row.address_width, hub->address_width);
        EXPECT_EQ(row.accepted, hub->node_info != nullptr);
        EXPECT_EQ(discovery_scans(row.accepted ? count : 0).size() + 2, scxsim::trace_text().size());
        sld_delete(hub);
    }
}

TEST_F(DiscoveryTest, NodeScanFailureEndsDiscoveryOfLargeHub) {
    load_board(hub_board(8, 110, 255, 0));
    scxsim::fail_call(scxsim::Fn::access_dr, 10, 81); // node 0, first nibble
    ROZI_VUV_HUB *hub = sld_new<ROZI_VUV_HUB>(open_first_device());
    ASSERT_NE(nullptr, hub);
    const Lines trace = scxsim::trace_text();
    ASSERT_EQ(14u, trace.size());
    EXPECT_EQ("access_dr(4,4,4)[00]=81", trace[12]);
    EXPECT_EQ("unlock()=0", trace[13]);
    EXPECT_FALSE(hub->valid);
    EXPECT_EQ(255, hub->node_count);
    EXPECT_EQ(SLD_SERVER_ERROR, manager()->last_error);
    sld_delete(hub);
}

TEST_F(DiscoveryTest, OutOfMemoryForNodeRecordsStillUnlocks) {
    ROZI_VUV_HUB hub(nullptr);
    SCX_OPEN *open = open_first_device();
    manager()->last_error = SLD_OK;
    sld_testing::fail_allocation_after(1);
    EXPECT_TRUE(hub.read_hub_node_info(open));
    sld_testing::fail_allocation_after(-1);
    EXPECT_EQ(SLD_NO_FREE_SLOT, manager()->last_error);
    EXPECT_FALSE(hub.valid);
    EXPECT_EQ(0, hub.node_count);
    EXPECT_EQ(nullptr, hub.node_info);
    EXPECT_EQ(nullptr, hub.get_node_info(0));
    EXPECT_EQ("unlock()=0", scxsim::trace_text().back());
    EXPECT_FALSE(scxsim::device_locked(1, 0));
    scx_close_device(open);
}

TEST_F(DiscoveryTest, OpeningReportsOutOfMemoryAndLeaksNoHandle) {
    // Every allocation of a hub opening failing in turn.
    for (long k = 1;; ++k) {
        ASSERT_LT(k, 200);
        int hub_id = 7;
        sld_testing::fail_allocation_after(k);
        const SLD_ERROR status = sld_hub_open("SimCable-1", "@1: SIM-FPGA-A (0x020A10DD)", &hub_id);
        sld_testing::fail_allocation_after(-1);
        if (status == SLD_OK) {
            EXPECT_EQ(SLD_OK, sld_hub_close(hub_id));
            break;
        }
        EXPECT_EQ(SLD_NO_FREE_SLOT, status) << "allocation " << k;
        EXPECT_EQ(-1, hub_id);
        EXPECT_EQ(0u, scxsim::open_handle_count(1)) << "allocation " << k;
    }
    EXPECT_EQ(0u, scxsim::open_handle_count(1));
}

TEST(DiscoveryWords, NibblesAndNodeWordDecoding) {
    const unsigned char capture[8] = {0xF0, 0xE1, 0x02, 0x03, 0x54, 0x05, 0x06, 0xA7};
    EXPECT_EQ(0x76543210UL, ROZI_VUV_HUB::eight_nibles_to_dword(capture));

    SLD_NODE_INFO info;
    info.reserved = 0xAB;
    ROZI_VUV_HUB::decode_node_id(0xFFFFFFFFUL, &info);
    EXPECT_EQ(0xFF, info.instance_id);
    EXPECT_EQ(0x7FF, info.manufacturer_id);
    EXPECT_EQ(0xFF, info.node_id);
    EXPECT_EQ(0x1F, info.version);
    EXPECT_EQ(0xAB, info.reserved);                    // padding is not written
    ROZI_VUV_HUB::decode_node_id(0x0A206E45UL, &info); // version 1, node id 0x44, mfr 110, instance 0x45
    EXPECT_EQ(0x45, info.instance_id);
    EXPECT_EQ(110, info.manufacturer_id);
    EXPECT_EQ(0x44, info.node_id);
    EXPECT_EQ(1, info.version);
}
