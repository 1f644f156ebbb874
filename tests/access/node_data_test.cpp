// Data end to end through the simulated node models: what a host writes
// reaches the device side, and what the device holds comes back.
#include <gmock/gmock.h>

#include "access_support.h"

using ::testing::ElementsAre;

using NodeDataTest = HubTest;

// Memory node instructions and stream/probe instructions of the board.
enum : unsigned long { kAddress = 1, kWrite = 2, kRead = 3 };
enum : unsigned long { kStreamData = 1, kStreamStatus = 2 };
enum : unsigned long { kProbe = 1, kSource = 2 };

TEST_F(NodeDataTest, MemoryWrittenWithAutoIncrementReadsBack) {
    int id = node[kMemoryNode];
    unsigned char address[1] = {5};
    std::vector<unsigned char> a = word_bytes(0xDEADBEEF, 4), b = word_bytes(0x12345678, 4);
    SLD_BATCH_ACCESS writes[] = {batch_ir(kAddress, nullptr),     batch_dr(8, address, nullptr),
                                 batch_ir(kWrite, nullptr),       batch_dr(32, a.data(), nullptr),
                                 batch_dr(32, b.data(), nullptr), batch_end()};
    ASSERT_EQ(SLD_OK, sld_node_lock(id, 1000));
    EXPECT_EQ(SLD_OK, sld_node_batch_access(id, writes));
    EXPECT_EQ(SLD_OK, sld_node_unlock(id));
    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, kMemoryNode, 6, &word));
    EXPECT_EQ(0x12345678u, word);

    // Read back without the lock, one operation at a time.
    unsigned char first[4], second[4];
    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kAddress, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 8, address, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kRead, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 32, nullptr, first, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 32, nullptr, second, 0));
    EXPECT_EQ(0xDEADBEEFul, bytes_word(first, 4));
    EXPECT_EQ(0x12345678ul, bytes_word(second, 4));

    // A scan through another node's id reaches the node selected last.
    ASSERT_TRUE(scxsim::memory_poke(1, 0, kMemoryNode, 7, 0xCAFEF00D));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(node[kProbeNode], 32, nullptr, first, 0));
    EXPECT_EQ(0xCAFEF00Dul, bytes_word(first, 4));
}

TEST_F(NodeDataTest, StreamCarriesBytesBothWays) {
    int id = node[kStreamNode];
    ASSERT_TRUE(scxsim::stream_send(1, 0, kStreamNode, {'h', 'i'}));
    ASSERT_EQ(SLD_OK, sld_node_lock(id, 1000));
    unsigned char status[2] = {0, 0};
    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kStreamStatus, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 16, nullptr, status, 0));
    EXPECT_EQ(2, status[0]);

    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kStreamData, nullptr, 0));
    std::vector<unsigned long> received;
    for (unsigned char out : {'o', 'k', '!'}) {
        unsigned char write[2] = {out, 0x01}, read[2] = {0, 0};
        EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 9, write, read, 0));
        unsigned long word = bytes_word(read, 2);
        received.push_back((word & 0x100) != 0 ? word & 0x1FF : 0); // bit 8 clear: no byte
    }
    EXPECT_EQ(SLD_OK, sld_node_unlock(id));
    EXPECT_THAT(received, ElementsAre(0x100 | 'h', 0x100 | 'i', 0u));
    EXPECT_THAT(scxsim::stream_receive(1, 0, kStreamNode), ElementsAre('o', 'k', '!'));
}

TEST_F(NodeDataTest, ProbeCapturedAndSourceUpdated) {
    int id = node[kProbeNode];
    ASSERT_TRUE(scxsim::probe_set(1, 0, kProbeNode, {0x78, 0x56, 0x34, 0x12}));
    unsigned char probe[4] = {0, 0, 0, 0}, source[4] = {1, 2, 3, 4};
    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kProbe, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 32, nullptr, probe, 0));
    EXPECT_EQ(0x12345678ul, bytes_word(probe, 4));
    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kSource, nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 32, source, nullptr, 0));
    EXPECT_THAT(scxsim::source_get(1, 0, kProbeNode), ElementsAre(1, 2, 3, 4));

    // The instruction captured through force capture is the one loaded.
    unsigned long capture = 0;
    EXPECT_EQ(SLD_OK, sld_node_access_ir(id, kProbe, &capture, 0));
    EXPECT_EQ(kSource, capture);
}

// While the hub is not held, another handle may load another device
// instruction. The first scan of the next hold must load its own, or its
// data goes to whatever register that instruction selects.
TEST_F(NodeDataTest, FirstScanOfEveryHoldLoadsItsDeviceInstruction) {
    int id = node[kMemoryNode];
    unsigned char address[1] = {0};
    std::vector<unsigned char> a = word_bytes(0xA5A5A5A5, 4), b = word_bytes(0x5A5A5A5A, 4);
    SLD_BATCH_ACCESS start[] = {batch_ir(kAddress, nullptr), batch_dr(8, address, nullptr),
                                batch_ir(kWrite, nullptr), batch_dr(32, a.data(), nullptr), batch_end()};
    ASSERT_EQ(SLD_OK, sld_node_lock(id, 1000));
    EXPECT_EQ(SLD_OK, sld_node_batch_access(id, start));
    EXPECT_EQ(SLD_OK, sld_node_unlock(id));

    // Another client's handle loads the IDCODE instruction.
    SCX_OPEN *raw = nullptr;
    ASSERT_EQ(SCX_NO_ERROR, scx_open_device(scxsim::chain_handle(1), 0, &raw, nullptr, 0, "other client"));
    ASSERT_EQ(SCX_NO_ERROR, scx_access_ir(raw, 6, nullptr, 0));
    ASSERT_TRUE(scxsim::memory_poke(1, 0, kMemoryNode, 1, 0xCAFEF00D));
    unsigned char read[4] = {0, 0, 0, 0};
    ASSERT_EQ(SLD_OK, sld_node_lock(id, 1000));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 32, b.data(), read, 0));
    EXPECT_EQ(SLD_OK, sld_node_unlock(id));
    EXPECT_EQ(0xCAFEF00Dul, bytes_word(read, 4)); // the node, not the IDCODE
    uint64_t word = 0;
    ASSERT_TRUE(scxsim::memory_peek(1, 0, kMemoryNode, 1, &word));
    EXPECT_EQ(0x5A5A5A5Au, word);
    EXPECT_EQ(SCX_NO_ERROR, scx_close_device(raw));

    // After the server renewed the chain handle, opening the device again
    // makes a second hub object with a handle of its own; its scan leaves
    // device instruction 14 loaded.
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    int other = open_hub(kCable1, kHubV1);
    int other_memory = open_node(other, kMemoryNode);
    SCX_OPEN *mine = nullptr, *theirs = nullptr;
    EXPECT_EQ(SLD_OK, sld_hub_get_scx_open_id(hub, &mine));
    EXPECT_EQ(SLD_OK, sld_hub_get_scx_open_id(other, &theirs));
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(SLD_OK, sld_node_access_ir(other_memory, kWrite, nullptr, 0));
    ASSERT_EQ(SLD_OK, sld_node_lock(id, 1000));
    EXPECT_EQ(SLD_OK, sld_node_access_dr(id, 32, a.data(), nullptr, 0));
    EXPECT_EQ(SLD_OK, sld_node_unlock(id));
    ASSERT_TRUE(scxsim::memory_peek(1, 0, kMemoryNode, 2, &word));
    EXPECT_EQ(0xA5A5A5A5u, word);
    EXPECT_EQ(SLD_OK, sld_node_close(other_memory));
    EXPECT_EQ(SLD_OK, sld_hub_close(other));
}
