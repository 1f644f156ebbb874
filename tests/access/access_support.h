// Shared helpers of the node access tests: the hubs of the default board,
// opening and closing ids, and the simulator's call trace.
#ifndef SLD_TESTS_ACCESS_SUPPORT_H
#define SLD_TESTS_ACCESS_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scxsim.h"
#include "sim_fixture.h"
#include "sld.h"
#include "thr_debug.h"

// Default board: a version-1 hub (m = 8, 4 nodes: memory, stream, probe,
// shift) on cable 1, and a version-0 hub (m = 6, 2 nodes: memory, shift) on
// cable 2.
const char *const kCable1 = "SimCable-1";
const char *const kHubV1 = "@1: SIM-FPGA-A (0x020A10DD)";
const char *const kCable2 = "SimCable-2";
const char *const kHubV0 = "@1: SIM-FPGA-B (0x02B150DD)";

enum : unsigned char { kMemoryNode = 0, kStreamNode = 1, kProbeNode = 2, kShiftNode = 3 };
enum : unsigned char { kV0MemoryNode = 0, kV0ShiftNode = 1 };

inline int open_hub(const char *cable, const char *device) {
    int hub = -1;
    EXPECT_EQ(SLD_OK, sld_hub_open(cable, device, &hub)) << cable << " " << device;
    return hub;
}

inline int open_node(int hub, unsigned char index) {
    int node = -1;
    EXPECT_EQ(SLD_OK, sld_node_open(hub, index, &node));
    return node;
}

inline std::vector<std::string> take_trace() {
    std::vector<std::string> calls = scxsim::trace_text();
    scxsim::clear_trace();
    return calls;
}

inline std::vector<SLD_SCX_LOG_RECORD> log_records() {
    std::vector<SLD_SCX_LOG_RECORD> out;
    SLD_SCX_LOG_RECORD *head = nullptr;
    sld_get_scx_log_head(&head);
    for (SLD_SCX_LOG_RECORD *r = head; r != nullptr; r = r->next)
        out.push_back(*r);
    return out;
}

inline std::vector<unsigned char> word_bytes(unsigned long word, unsigned bytes) {
    std::vector<unsigned char> out(bytes);
    for (unsigned i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(word >> (8 * i));
    return out;
}

inline unsigned long bytes_word(const unsigned char *bytes, unsigned count) {
    unsigned long word = 0;
    for (unsigned i = 0; i < count; ++i)
        word |= static_cast<unsigned long>(bytes[i]) << (8 * i);
    return word;
}

inline SLD_BATCH_ACCESS batch_ir(unsigned long value, unsigned long *capture, unsigned long delay = 0) {
    return SLD_BATCH_ACCESS{SLD_BATCH_IR, value, reinterpret_cast<unsigned long>(capture), 0, delay};
}

inline SLD_BATCH_ACCESS batch_dr(unsigned long length, const unsigned char *write, unsigned char *read,
                                 unsigned long delay = 0) {
    return SLD_BATCH_ACCESS{SLD_BATCH_DR, reinterpret_cast<unsigned long>(write),
                            reinterpret_cast<unsigned long>(read), length, delay};
}

inline SLD_BATCH_ACCESS batch_end() {
    return SLD_BATCH_ACCESS{SLD_BATCH_END, 0, 0, 0, 0};
}

// The version-1 hub of cable 1 with one node id per node, opened afresh for
// every test; the log is off and empty and the trace clear at the start.
class HubTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        hub = open_hub(kCable1, kHubV1);
        for (unsigned char i = 0; i < 4; ++i)
            node[i] = open_node(hub, i);
        sld_disable_scx_log();
        sld_clear_scx_log();
        scxsim::clear_trace();
    }
    void TearDown() override {
        for (int id : node)
            sld_node_close(id);
        sld_hub_close(hub);
        sld_disable_scx_log();
        sld_clear_scx_log();
        EXPECT_EQ(0, thr_debug_total_depth()) << "a mutex level was left held";
        SimTest::TearDown();
    }
    int hub = -1;
    int node[4] = {-1, -1, -1, -1};
};

#endif
