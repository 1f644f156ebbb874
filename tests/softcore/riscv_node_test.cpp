// The riscv node of the softcore board, driven through the library as a
// debugger drives a debug transport: IR 0x11, then 41-bit dmi scans.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "sim_fixture.h"
#include "sld.h"

namespace {

const uint32_t BASE = 0x80000000;
const unsigned DATA0 = 0x04, DMCONTROL = 0x10, DMSTATUS = 0x11, ABSTRACTCS = 0x16, COMMAND = 0x17,
               SBCS = 0x38, SBADDRESS0 = 0x39, SBDATA0 = 0x3C;
const uint32_t ACTIVE = 1, HALTREQ = 1u << 31, RESUMEREQ = 1u << 30, ACKHAVERESET = 1u << 28, NDMRESET = 2;
const uint32_t ALLHALTED = 1u << 9, ALLRUNNING = 1u << 11, ALLRESUMEACK = 1u << 17, ALLHAVERESET = 1u << 19;
const unsigned DCSR = 0x7B0, DPC = 0x7B1, A0 = 0x100A, A1 = 0x100B;
// Access register, 32 bits, transfer.
const uint32_t READ_REG = 2u << 20 | 1u << 17, WRITE_REG = READ_REG | 1u << 16;

// addi a0,a0,1; addi a1,a1,2; ebreak; j 0; then at +0x10: addi a0,a0,1; j .-4
const uint32_t PROGRAM[] = {0x00150513, 0x00258593, 0x00100073, 0xFF5FF06F, 0x00150513, 0xFFDFF06F};

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class RiscvNodeTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        const std::string board = read_file(SOFTCORE_BOARD);
        ASSERT_FALSE(board.empty()) << "cannot read " << SOFTCORE_BOARD;
        load_board(board);
        ASSERT_EQ(SLD_OK, sld_hub_open("SimCable-1", "@1: SIM-FPGA-A (0x020A10DD)", &hub_));
        ASSERT_EQ(SLD_OK, sld_node_open(hub_, 0, &node_));
        ASSERT_EQ(SLD_OK, sld_node_access_ir(node_, 0x11, nullptr, 0));
        write(DMCONTROL, 0);
        write(DMCONTROL, ACTIVE);
    }
    void TearDown() override {
        sld_node_close(node_);
        sld_hub_close(hub_);
        SimTest::TearDown();
    }

    // One dmi scan; answers what it captured (the previous access's outcome).
    uint64_t scan(uint64_t op, unsigned address, uint32_t data) {
        const uint64_t out = op | uint64_t(data) << 2 | uint64_t(address) << 34;
        unsigned char w[6], r[6] = {};
        for (int i = 0; i < 6; ++i)
            w[i] = static_cast<unsigned char>(out >> (8 * i));
        EXPECT_EQ(SLD_OK, sld_node_access_dr(node_, 41, w, r, 0));
        uint64_t in = 0;
        for (int i = 0; i < 6; ++i)
            in |= uint64_t(r[i]) << (8 * i);
        EXPECT_EQ(0u, in & 3) << "dmi op status";
        return in;
    }
    void write(unsigned address, uint32_t v) { scan(2, address, v); }
    uint32_t read(unsigned address) {
        scan(1, address, 0);
        const uint64_t in = scan(0, 0, 0);
        EXPECT_EQ(address, unsigned(in >> 34));
        return uint32_t(in >> 2);
    }
    uint32_t cmderr() { return read(ABSTRACTCS) >> 8 & 7; }
    uint32_t reg(unsigned regno) {
        write(COMMAND, READ_REG | regno);
        EXPECT_EQ(0u, cmderr()) << "reading register " << std::hex << regno;
        return read(DATA0);
    }
    void set_reg(unsigned regno, uint32_t v) {
        write(DATA0, v);
        write(COMMAND, WRITE_REG | regno);
        EXPECT_EQ(0u, cmderr()) << "writing register " << std::hex << regno;
    }
    void halt() {
        write(DMCONTROL, ACTIVE | HALTREQ);
        write(DMCONTROL, ACTIVE);
        ASSERT_TRUE(read(DMSTATUS) & ALLHALTED);
    }
    void load_program() {
        write(SBCS, 2u << 17 | 1u << 16); // 32-bit, autoincrement
        write(SBADDRESS0, BASE);
        for (uint32_t word : PROGRAM)
            write(SBDATA0, word);
    }

    int hub_ = -1, node_ = -1;
};

} // namespace

TEST_F(RiscvNodeTest, TransportRegisters) {
    unsigned char r[4] = {};
    ASSERT_EQ(SLD_OK, sld_node_access_ir(node_, 0x10, nullptr, 0));
    ASSERT_EQ(SLD_OK, sld_node_access_dr(node_, 32, nullptr, r, 0));
    EXPECT_EQ(0x71, r[0]); // dtmcs: version 1 (0.13), abits 7
    ASSERT_EQ(SLD_OK, sld_node_access_ir(node_, 0x01, nullptr, 0));
    ASSERT_EQ(SLD_OK, sld_node_access_dr(node_, 32, nullptr, r, 0));
    EXPECT_EQ(1, r[0] & 1); // an IDCODE has bit 0 set
    ASSERT_EQ(SLD_OK, sld_node_access_ir(node_, 0x11, nullptr, 0));
    const uint32_t status = read(DMSTATUS);
    EXPECT_EQ(2u, status & 0xF);    // version 0.13
    EXPECT_TRUE(status & 1u << 7);  // authenticated
    EXPECT_EQ(0x02000002u, read(ABSTRACTCS)); // progbufsize 2, datacount 2
    const uint32_t sbcs = read(SBCS);
    EXPECT_EQ(1u, sbcs >> 29);
    EXPECT_EQ(32u, sbcs >> 5 & 0x7F);
    // A second hart does not exist.
    write(DMCONTROL, ACTIVE | 1u << 16);
    EXPECT_TRUE(read(DMSTATUS) & 1u << 15);
}

TEST_F(RiscvNodeTest, HaltStepBreakpointResume) {
    halt();
    load_program();
    EXPECT_EQ(0x40000100u, reg(0x301)); // misa: RV32I
    set_reg(DPC, BASE);
    set_reg(A0, 0);
    set_reg(A1, 0);
    set_reg(DCSR, reg(DCSR) | 1u << 15 | 1u << 2); // ebreakm, step

    write(DMCONTROL, ACTIVE | RESUMEREQ);
    EXPECT_TRUE(read(DMSTATUS) & ALLRESUMEACK);
    EXPECT_TRUE(read(DMSTATUS) & ALLHALTED);
    EXPECT_EQ(BASE + 4, reg(DPC));
    EXPECT_EQ(1u, reg(A0));
    EXPECT_EQ(4u, reg(DCSR) >> 6 & 7); // cause: step

    set_reg(DCSR, reg(DCSR) & ~(1u << 2));
    write(DMCONTROL, ACTIVE | RESUMEREQ);
    EXPECT_TRUE(read(DMSTATUS) & ALLHALTED);
    EXPECT_EQ(BASE + 8, reg(DPC)); // at the ebreak
    EXPECT_EQ(1u, reg(DCSR) >> 6 & 7);
    EXPECT_EQ(2u, reg(A1));

    // Abstract errors: 64-bit access, unknown CSR, a command while running.
    write(COMMAND, 3u << 20 | 1u << 17 | A0);
    EXPECT_EQ(2u, cmderr());
    write(COMMAND, READ_REG | A0); // ignored while cmderr is set
    write(ABSTRACTCS, 7u << 8);
    write(COMMAND, READ_REG | 0x7C0);
    EXPECT_EQ(3u, cmderr());
    write(ABSTRACTCS, 7u << 8);
    set_reg(DPC, BASE + 0x10);
    write(DMCONTROL, ACTIVE | RESUMEREQ);
    EXPECT_TRUE(read(DMSTATUS) & ALLRUNNING);
    write(COMMAND, READ_REG | A0);
    EXPECT_EQ(4u, cmderr());
}

TEST_F(RiscvNodeTest, SystemBusMemory) {
    halt();
    load_program();
    write(SBCS, 2u << 17 | 1u << 16 | 1u << 20 | 1u << 15); // read on address and on data
    write(SBADDRESS0, BASE);
    for (uint32_t word : PROGRAM)
        EXPECT_EQ(word, read(SBDATA0));
    // Bytes, then an address beyond the RAM: sberror 2 until cleared.
    write(SBCS, 0u << 17 | 1u << 20);
    write(SBADDRESS0, BASE + 1);
    EXPECT_EQ(0x05u, read(SBDATA0));
    write(SBCS, 2u << 17 | 1u << 20);
    write(SBADDRESS0, BASE + 0x10000);
    EXPECT_EQ(2u, read(SBCS) >> 12 & 7);
    write(SBCS, 2u << 17 | 1u << 20 | 7u << 12);
    EXPECT_EQ(0u, read(SBCS) >> 12 & 7);
}

TEST_F(RiscvNodeTest, ResetHaltsAtTheResetVectorWhenAsked) {
    halt();
    set_reg(DPC, BASE + 0x10);
    write(DMCONTROL, ACTIVE | ACKHAVERESET);
    EXPECT_FALSE(read(DMSTATUS) & ALLHAVERESET);
    write(DMCONTROL, ACTIVE | NDMRESET | HALTREQ);
    write(DMCONTROL, ACTIVE | HALTREQ);
    const uint32_t status = read(DMSTATUS);
    EXPECT_TRUE(status & ALLHALTED);
    EXPECT_TRUE(status & ALLHAVERESET);
    EXPECT_EQ(BASE, reg(DPC));
    EXPECT_EQ(3u, reg(DCSR) >> 6 & 7); // cause: halt request
}

// The hart runs 64 instructions after each data scan of the node and one
// per Run-Test/Idle clock: the same scans always give the same state.
TEST_F(RiscvNodeTest, TimePassesOnlyWithClocks) {
    halt();
    load_program();
    set_reg(DPC, BASE + 0x10); // addi a0,a0,1; j .-4
    set_reg(A0, 0);
    write(DMCONTROL, ACTIVE | RESUMEREQ); // then 64 instructions
    ASSERT_EQ(SLD_OK, sld_node_rti(node_, 100));
    write(DMCONTROL, ACTIVE | HALTREQ); // halts before running more
    write(DMCONTROL, ACTIVE);
    EXPECT_EQ(82u, reg(A0)); // (64 + 100) / 2 loop turns
    EXPECT_EQ(BASE + 0x10, reg(DPC));
}

TEST_F(RiscvNodeTest, BoardChecks) {
    std::string error;
    const std::string head = R"({"cables":[{"persistent_id":1,"name":"C","devices":[{"idcode":1,"ir_length":10,)";
    EXPECT_FALSE(scxsim::load_board_string(head + R"("hub":{"version":1,"ir_width":4,"nodes":[{"model":"riscv"}]}}]}]})",
                                           &error));
    EXPECT_NE(std::string::npos, error.find("needs a hub ir_width of at least 5")) << error;
    // The RAM counts against the board's 256 MiB of node state.
    EXPECT_FALSE(scxsim::load_board_string(
        head + R"("hub":{"version":1,"ir_width":5,"nodes":[{"model":"riscv","size":"0x10000000"},)" +
            R"({"model":"memory","depth":1}]}}]}]})",
        &error));
    EXPECT_NE(std::string::npos, error.find("nodes[1]: this node brings")) << error;
}
