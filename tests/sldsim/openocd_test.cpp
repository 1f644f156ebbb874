// OpenOCD, a JTAG client nobody here wrote, drives the default board
// through sldsim: autoprobe finds every device in board order, the hub
// discovery sequence and a memory node's virtual registers capture what the
// scx_ front captures in this process, and the board outlives an OpenOCD
// session.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <regex>
#include <sstream>

#include "openocd_harness.h"
#include "scx/scx.h"
#include "scxsim.h"

using harness::Ms;

namespace {

// One IR load and one DR scan of a device (both fronts send them together).
struct Scan {
    uint32_t ir;
    unsigned bits;
    uint64_t value;
};

// The capture as OpenOCD writes it: lower-case hex, most significant digit
// first, whole bytes.
std::string hex_of(const uint8_t *bytes, unsigned bits) {
    std::string s;
    for (size_t i = (bits + 7) / 8; i-- > 0;) {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        s += b;
    }
    return s;
}

// The default board's hub addressing: m = 8 instruction bits below the
// node address; node 0 is the memory (instructions 1 ADDRESS, 2 WRITE,
// 3 READ; 8 address bits).
uint64_t vir(uint64_t instruction, uint64_t address) {
    return instruction | address << 8;
}

const unsigned VIR_BITS = 11; // m + n on device 0 (four nodes: n = 3)

// IR 14 with 64 zero bits (hub selected, readout from its start), then one
// 4-bit VDR scan per nibble of the hub word and each node word.
std::vector<Scan> discovery(unsigned words) {
    std::vector<Scan> s = {{14, 64, 0}};
    for (unsigned i = 0; i < 8 * words; ++i)
        s.push_back({12, 4, 0});
    return s;
}

// Loads `address` into the memory node's ADDRESS register, then one 32-bit
// VDR scan per value under `instruction` (2 WRITE, 3 READ).
std::vector<Scan> memory_scans(uint64_t instruction, uint64_t address, const std::vector<uint32_t> &values) {
    std::vector<Scan> s = {{14, VIR_BITS, vir(1, 1)}, {12, 8, address}, {14, VIR_BITS, vir(instruction, 1)}};
    for (uint32_t v : values)
        s.push_back({12, 32, v});
    return s;
}

class OpenOcdOnSldsim : public ::testing::Test {
  protected:
    void SetUp() override {
        scxsim::reset();
        ASSERT_FALSE(harness::find_openocd().empty()) << harness::OPENOCD_MISSING;
        std::string error;
        ASSERT_TRUE(sim.start({}, &error)) << error;
        ASSERT_NO_FATAL_FAILURE(attach());
    }
    void TearDown() override {
        ocd.process.stop();
        EXPECT_EQ(0, sim.process.stop()) << sim.process.error_text();
    }

    void attach() {
        std::string error;
        ASSERT_TRUE(ocd.start(sim.port(), &error)) << error;
        ASSERT_TRUE(rpc.connect(ocd.tcl_port(), Ms(5000)));
    }

    // The captures of the scans through OpenOCD, one RPC message each.
    std::vector<std::string> through_openocd(const std::string &tap, const std::vector<Scan> &scans) {
        std::vector<std::string> out;
        for (const Scan &s : scans) {
            char script[160];
            std::snprintf(script, sizeof script, "irscan %s 0x%x; drscan %s %u 0x%llx", tap.c_str(), s.ir,
                          tap.c_str(), s.bits, static_cast<unsigned long long>(s.value));
            out.push_back(rpc.run(script));
        }
        return out;
    }

    // The same scans through the scx_ front of this process's world.
    std::vector<std::string> through_scx(unsigned long position, const std::vector<Scan> &scans) {
        SCX_OPEN *h = nullptr;
        EXPECT_EQ(0u, scx_open_device(scxsim::chain_handle(1), position, &h, nullptr, 0, "test"));
        std::vector<std::string> out;
        for (const Scan &s : scans) {
            uint8_t in[8], got[8] = {};
            for (int i = 0; i < 8; ++i)
                in[i] = uint8_t(s.value >> (8 * i));
            EXPECT_EQ(0u, scx_access_ir(h, s.ir, nullptr, 0));
            EXPECT_EQ(0u, scx_access_dr(h, s.bits, 0, 0, s.bits, in, 0, s.bits, got));
            out.push_back(hex_of(got, s.bits));
        }
        scx_close_device(h);
        return out;
    }

    harness::Sldsim sim;
    harness::OpenOcd ocd;
    harness::TclClient rpc;
};

// The words a discovery read, from its nibble captures (after the 64-bit scan).
std::vector<uint32_t> words_of(const std::vector<std::string> &captures) {
    std::vector<uint32_t> words((captures.size() - 1) / 8);
    for (size_t i = 0; i < words.size() * 8; ++i)
        words[i / 8] |= uint32_t(std::stoul(captures[1 + i], nullptr, 16) & 0xF) << (4 * (i % 8));
    return words;
}

} // namespace

TEST_F(OpenOcdOnSldsim, AutoprobeFindsEveryDeviceInBoardOrder) {
    const nlohmann::json devices =
        nlohmann::json::parse(scxsim::default_board_json())["cables"][0]["devices"];
    std::istringstream table(rpc.run("capture scan_chain"));
    const std::regex row(R"(^\s*(\d+)\s+(\S+)\s+Y\s+0x([0-9a-f]{8})\s+0x[0-9a-f]+\s+(\d+)\s)");
    size_t seen = 0;
    for (std::string line; std::getline(table, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, row))
            continue;
        ASSERT_LT(seen, devices.size()) << line;
        const nlohmann::json &d = devices[seen];
        EXPECT_EQ("auto" + std::to_string(seen) + ".tap", m[2].str());
        EXPECT_EQ(std::stoul(d["idcode"].get<std::string>(), nullptr, 16),
                  std::stoul(m[3].str(), nullptr, 16));
        EXPECT_EQ(d["ir_length"].get<unsigned>(), std::stoul(m[4].str())) << line;
        ++seen;
    }
    EXPECT_EQ(devices.size(), seen);
}

TEST_F(OpenOcdOnSldsim, HubDiscoveryReadsEveryWordAsTheScxFrontDoes) {
    // Device 0: a hub with four nodes; device 2: a hub with one node.
    const struct {
        unsigned long position;
        unsigned words;
    } hubs[] = {{0, 5}, {2, 2}};
    for (const auto &hub : hubs) {
        const std::vector<Scan> scans = discovery(hub.words);
        const std::vector<std::string> ocd_captures =
            through_openocd("auto" + std::to_string(hub.position) + ".tap", scans);
        EXPECT_EQ(through_scx(hub.position, scans), ocd_captures);
        const std::vector<uint32_t> words = words_of(ocd_captures);
        EXPECT_EQ(hub.words - 1, (words[0] >> 19) & 0xFF) << "node count in the hub word";
        for (size_t n = 1; n < words.size(); ++n)
            EXPECT_EQ(110u, (words[n] >> 8) & 0x7FF) << "manufacturer of node " << n - 1;
    }
}

TEST_F(OpenOcdOnSldsim, AMemoryNodeWrittenThroughItsVirtualRegistersReadsBack) {
    const std::vector<uint32_t> data = {0xCAFEF00D, 0x12345678, 0x0000FFFF};
    std::vector<Scan> scans = memory_scans(2, 0x40, data);
    const std::vector<Scan> read = memory_scans(3, 0x40, {0, 0, 0});
    scans.insert(scans.end(), read.begin(), read.end());
    const std::vector<std::string> captures = through_openocd("auto0.tap", scans);
    EXPECT_EQ(through_scx(0, scans), captures);
    for (size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(data[i], std::stoul(captures[captures.size() - data.size() + i], nullptr, 16));
}

TEST_F(OpenOcdOnSldsim, TheBoardOutlivesAnOpenOcdSession) {
    through_openocd("auto0.tap", memory_scans(2, 0x80, {0xA5A5F00Du}));
    ocd.process.stop();
    ASSERT_NO_FATAL_FAILURE(attach());
    const std::vector<std::string> captures = through_openocd("auto0.tap", memory_scans(3, 0x80, {0}));
    EXPECT_EQ("a5a5f00d", captures.back());
}
