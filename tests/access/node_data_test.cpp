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
