// sldtap between OpenOCD 0.12 and a node: OpenOCD's irscan and drscan of
// several lengths capture what sld_node_access_ir/dr calls made directly
// capture, with the node in sldtap's own simulated world and behind
// OpenOCD over sldsim; the scans each debugger scan costs; and the faults
// that end a connection (a client gone mid-scan, a scan too long to hold,
// a failing library call) with their message, the hub lock released and
// the server still serving.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "openocd_harness.h"
#include "scxsim.h"
#include "sld.h"

using harness::Ms;

namespace {

// One device with a hub of instruction width 5: a memory node and a shift
// node with registers of 1, 13, 64, 200 and 300 bits (instructions 1-5).
const char BOARD[] = R"({"cables": [{"persistent_id": 7, "name": "TapCable", "devices": [
  {"name": "TAP-FPGA", "idcode": "0x020A10DD", "ir_length": 10,
   "hub": {"version": 1, "ir_width": 5, "nodes": [
     {"model": "memory", "node_id": 1, "version": 1},
     {"model": "shift", "node_id": 4, "version": 1,
      "registers": {"1": 1, "2": 13, "3": 64, "4": 200, "5": 300}}]}}]}]})";
const char DEVICE[] = "@1: TAP-FPGA (0x020A10DD)";
const unsigned IR_WIDTH = 5;

struct Scan {
    unsigned ir;
    unsigned bits;
    std::string value; // hex, most significant digit first
};

// Each register twice: the second scan captures what the first wrote.
const std::vector<Scan> SCRIPT = {
    {1, 1, "1"},
    {1, 1, "0"},
    {2, 13, "1a5c"},
    {2, 13, "0fff"},
    {3, 64, "0123456789abcdef"},
    {3, 64, "fedcba9876543210"},
    {4, 200, "a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5"},
    {4, 200, "00000000000000000000000000000000000000000000000001"},
};

std::string board_file() {
    const std::string path = ::testing::TempDir() + "sldtap-board-" + std::to_string(::getpid()) + ".json";
    std::ofstream(path) << BOARD;
    return path;
}

std::vector<uint8_t> bytes_of(const std::string &hex, unsigned bits) {
    std::vector<uint8_t> bytes((bits + 7) / 8, 0);
    for (size_t i = 0; i < hex.size(); ++i) {
        const unsigned digit = unsigned(std::stoul(hex.substr(hex.size() - 1 - i, 1), nullptr, 16));
        if (i / 2 < bytes.size())
            bytes[i / 2] = uint8_t(bytes[i / 2] | digit << (4 * (i % 2)));
    }
    return bytes;
}

// As OpenOCD answers a drscan: lower-case hex, whole bytes.
std::string hex_of(const std::vector<uint8_t> &bytes) {
    std::string text;
    char digits[3];
    for (size_t i = bytes.size(); i-- > 0;) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

// The script's captures from direct library calls on a fresh copy of the
// board in this process.
std::vector<std::string> direct_captures() {
    std::string error;
    EXPECT_TRUE(scxsim::load_board_string(BOARD, &error)) << error;
    int hub = -1, node = -1;
    EXPECT_EQ(SLD_OK, sld_hub_open("TapCable", DEVICE, &hub));
    EXPECT_EQ(SLD_OK, sld_node_open(hub, 1, &node));
    std::vector<std::string> captures;
    for (const Scan &s : SCRIPT) {
        std::vector<uint8_t> in = bytes_of(s.value, s.bits), out(in.size(), 0);
        EXPECT_EQ(SLD_OK, sld_node_access_ir(node, s.ir, nullptr, 0));
        EXPECT_EQ(SLD_OK, sld_node_access_dr(node, s.bits, in.data(), out.data(), 0));
        captures.push_back(hex_of(out));
    }
    sld_node_close(node);
    sld_hub_close(hub);
    return captures;
}

std::string drscan(const Scan &s) {
    return "irscan node.tap " + std::to_string(s.ir) + "; drscan node.tap " + std::to_string(s.bits) + " 0x" +
           s.value;
}

// The node as a TAP: sldtap on its own simulated board, or behind OpenOCD
// (the adapter side) over sldsim; `debugger` is OpenOCD on sldtap.
struct Chain {
    std::string board = board_file();
    harness::Sldsim sim;
    harness::OpenOcd adapter;
    harness::Sldtap tap;
    harness::OpenOcd debugger;
    harness::TclClient tcl;

    std::string adapter_endpoint() const { return "127.0.0.1:" + std::to_string(adapter.tcl_port()); }

    bool start(bool over_openocd, std::string *error, const std::vector<std::string> &tap_args = {}) {
        std::vector<std::string> args = {"-d", "@1", "-n", "1"};
        if (over_openocd) {
            if (!sim.start({"--board", board}, error) || !adapter.start(sim.port(), error))
                return false;
            args.insert(args.end(), {"--openocd", adapter_endpoint(), "-c", "openocd@" + adapter_endpoint()});
        } else {
            args.insert(args.end(), {"--board", board, "-c", "TapCable"});
        }
        args.insert(args.end(), tap_args.begin(), tap_args.end());
        return tap.start(args, error) && attach(error);
    }
    // A debugger OpenOCD on sldtap, with the node's IR length declared.
    bool attach(std::string *error) {
        return debugger.start(tap.port(), error, {}, 0,
                              {"jtag newtap node tap -irlen " + std::to_string(IR_WIDTH)}) &&
               tcl.connect(debugger.tcl_port(), Ms(5000));
    }
    bool stderr_has(const std::string &text, Ms timeout = Ms(10000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (tap.process.error_text().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(Ms(20));
        }
        return true;
    }
    ~Chain() { std::remove(board.c_str()); }
};

// One TCK period as remote_bitbang requests: TCK low with TMS and TDI, a
// read if asked, TCK high.
void append_clock(std::string *bytes, int tms, int tdi, bool read) {
    *bytes += char('0' + (tms << 1 | tdi));
    if (read)
        *bytes += 'R';
    *bytes += char('4' + (tms << 1 | tdi));
}

// From Run-Test/Idle: Shift-IR, the instruction (its bits read when asked),
// Update-IR, Run-Test/Idle, and on into Shift-DR.
void append_instruction_to_shift_dr(std::string *bytes, unsigned instruction, bool read) {
    for (int tms : {0, 1, 1, 0, 0})
        append_clock(bytes, tms, 0, false);
    for (unsigned i = 0; i < IR_WIDTH; ++i)
        append_clock(bytes, i + 1 == IR_WIDTH, (instruction >> i) & 1, read);
    for (int tms : {1, 0, 1, 0, 0})
        append_clock(bytes, tms, 0, false);
}

std::map<std::string, unsigned long long> parse_stats(const std::string &line) {
    std::map<std::string, unsigned long long> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos)
            fields[word.substr(0, eq)] = std::stoull(word.substr(eq + 1));
    }
    return fields;
}

void expect_same_captures(bool over_openocd) {
    const std::vector<std::string> expected = direct_captures();
    Chain chain;
    std::string error;
    ASSERT_TRUE(chain.start(over_openocd, &error)) << error;
    for (size_t i = 0; i < SCRIPT.size(); ++i)
        EXPECT_EQ(expected[i], chain.tcl.run(drscan(SCRIPT[i]))) << "scan " << i << ": " << drscan(SCRIPT[i]);
    EXPECT_EQ("", chain.tap.process.error_text().substr(chain.tap.process.error_text().find('\n') + 1));
    // OpenOCD's start-up: the 672-bit IDCODE read and the m + 2-bit IR check.
    const std::string log = chain.debugger.process.error_text();
    EXPECT_NE(std::string::npos, log.find("tap/device found: 0x00000001")) << log;
    EXPECT_EQ(std::string::npos, log.find("IR capture error")) << log;
}

TEST(SldtapScans, OpenOcdCapturesWhatDirectCallsCaptureOnTheSimulatedWorld) {
    expect_same_captures(false);
}

TEST(SldtapScans, OpenOcdCapturesWhatDirectCallsCaptureThroughTheOpenOcdBackend) {
    expect_same_captures(true);
}

// One node scan per debugger data scan, and at most one round trip to the
// adapter's OpenOCD per debugger data scan under the held lock (besides the
// backend's keep-alive, one a second, and the instruction's write sent on
// its own). An instruction scan costs none of its own: under the lock the
// backend holds it back and sends it with the next data scan.
TEST(SldtapScans, EachDebuggerScanIsOneNodeScanAndAtMostOneRoundTrip) {
    Chain chain;
    std::string error;
    ASSERT_TRUE(chain.start(true, &error)) << error;
    ASSERT_EQ("", chain.tcl.run("irscan node.tap 2"));
    // What `count` messages cost; keep-alives allowed for, one a second.
    unsigned long long keep_alives = 0;
    auto run = [&](unsigned count, const std::string &message) {
        const auto start = std::chrono::steady_clock::now();
        auto before = parse_stats(chain.tap.stats());
        for (unsigned i = 0; i < count; ++i)
            EXPECT_EQ(4u, chain.tcl.run(message + std::to_string(i % 10)).size());
        auto after = parse_stats(chain.tap.stats());
        for (auto &field : after)
            field.second -= before[field.first];
        keep_alives =
            1 + std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
        std::printf("%u x \"%s\": %llu node data scans, %llu node instruction scans, %llu round trips\n", count,
                    message.c_str(), after["node_dr_scans"], after["node_ir_scans"], after["round_trips"]);
        return after;
    };
    auto scans = run(40, "drscan node.tap 13 0x");
    EXPECT_EQ(40u, scans["debugger_dr_scans"]);
    EXPECT_EQ(40u, scans["node_dr_scans"]);
    EXPECT_LE(scans["round_trips"], 40 + keep_alives);
    auto pairs = run(20, "irscan node.tap 2; drscan node.tap 13 0x");
    EXPECT_EQ(20u, pairs["node_ir_scans"]);
    EXPECT_EQ(20u, pairs["node_dr_scans"]);
    // The instruction is held back and rides with the data scan.
    EXPECT_LE(pairs["round_trips"], 20 + keep_alives);
    // Run-Test/Idle clocks reach the node as one call per stay.
    ASSERT_EQ("", chain.tcl.run("runtest 25"));
    auto idle = run(1, "drscan node.tap 13 0x");
    EXPECT_EQ(1u, idle["rti_calls"]);
    EXPECT_EQ(25u, idle["rti_clocks"]);
}

// The client's bytes may arrive cut anywhere: a raw client that reads
// every bit of an instruction scan and of data scans of 13 and 64 bits,
// each register written twice, gets the same replies whether it sends them
// whole or a few bytes at a time (a scan's Shift-DR cut anywhere), and the
// second scan of a register captures what the first wrote.
TEST(SldtapScans, RepliesDoNotDependOnWhereTheClientsBytesAreCut) {
    const std::string board = board_file();
    harness::Sldtap tap;
    std::string error;
    ASSERT_TRUE(tap.start({"--board", board, "-c", "TapCable", "-d", "@1", "-n", "1"}, &error)) << error;
    std::remove(board.c_str());
    const std::vector<std::pair<unsigned, std::string>> scans = {
        {2, "1a5c"}, {2, "0fff"}, {3, "0123456789abcdef"}, {3, "fedcba9876543210"}};
    std::string bytes;
    for (int i = 0; i < 5; ++i)
        append_clock(&bytes, 1, 0, false);
    std::vector<size_t> dr_reads; // where each data scan's replies begin
    size_t reads = 0;
    for (const auto &scan : scans) {
        const unsigned bits = scan.first == 2 ? 13 : 64;
        append_instruction_to_shift_dr(&bytes, scan.first, true);
        reads += IR_WIDTH;
        dr_reads.push_back(reads);
        const std::vector<uint8_t> value = bytes_of(scan.second, bits);
        for (unsigned i = 0; i < bits; ++i, ++reads)
            append_clock(&bytes, i + 1 == bits, (value[i / 8] >> (i % 8)) & 1, true);
        append_clock(&bytes, 1, 0, false); // Update-DR
        bytes += 'B';
    }
    bytes += 'Q';
    auto replies = [&](size_t chunk) {
        std::string got;
        const int fd = harness::connect_loopback(tap.port(), Ms(5000));
        if (fd < 0)
            return got;
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            const size_t n = std::min(chunk, bytes.size() - at);
            if (::send(fd, bytes.data() + at, n, MSG_NOSIGNAL) != ssize_t(n))
                break;
            if (chunk < bytes.size())
                std::this_thread::sleep_for(std::chrono::microseconds(200)); // one read each, mostly
        }
        char buffer[4096];
        pollfd p{fd, POLLIN, 0};
        for (int waits = 0; waits < 100 && ::poll(&p, 1, 100) >= 0; ++waits) { // until sldtap closes, 10 s at most
            const ssize_t n = p.revents ? ::recv(fd, buffer, sizeof buffer, 0) : 1;
            if (n <= 0)
                break;
            if (p.revents)
                got.append(buffer, size_t(n));
        }
        ::close(fd);
        return got;
    };
    // The registers keep what the last connection wrote: from the second
    // connection on, every one starts alike.
    ASSERT_EQ(reads, replies(bytes.size()).size());
    const std::string whole = replies(bytes.size());
    ASSERT_EQ(reads, whole.size()) << whole;
    for (size_t s = 0; s < scans.size(); s += 2) { // the second scan shifts out what the first wrote
        const unsigned bits = scans[s].first == 2 ? 13 : 64;
        const std::vector<uint8_t> value = bytes_of(scans[s].second, bits);
        for (unsigned i = 0; i < bits; ++i)
            EXPECT_EQ((value[i / 8] >> (i % 8)) & 1 ? '1' : '0', whole[dr_reads[s + 1] + i]) << "scan " << s + 1;
    }
    for (size_t chunk : {size_t(1), size_t(2), size_t(7), size_t(64)})
        EXPECT_EQ(whole, replies(chunk)) << "sent " << chunk << " bytes at a time";
}

// Faults, behind OpenOCD so that a second process (openocd_peer) sees the
// hub lock: held while a client is connected, free once it is gone.
class SldtapFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(chain.start(true, &error)) << error;
        peer.reset(new harness::Peer(OPENOCD_PEER_PATH, {chain.adapter_endpoint()}));
        ASSERT_EQ('0', peer->ask("chain")[0]);
        ASSERT_EQ('0', peer->ask("open 0")[0]);
    }
    // Within `wait` ms; a client with held reads is cut off after 1 s.
    bool hub_lock_free(const std::string &wait = "2000") {
        if (peer->ask("lock " + wait).compare(0, 2, "0 ") != 0)
            return false;
        return peer->ask("unlock") == "0";
    }
    // Still serving: a new debugger connects and scans the node.
    void expect_serving() {
        chain.debugger.process.stop();
        std::string error;
        ASSERT_TRUE(chain.attach(&error)) << error;
        EXPECT_EQ(4u, chain.tcl.run(drscan(SCRIPT[2])).size());
    }
    Chain chain;
    std::unique_ptr<harness::Peer> peer;
};

// A raw client's read in Test-Logic-Reset, where TDO is high: once it is
// answered, sldtap has taken the client (and the hub lock).
bool answered_high(int fd) {
    char level = 0;
    pollfd p{fd, POLLIN, 0};
    return ::send(fd, "R", 1, MSG_NOSIGNAL) == 1 && ::poll(&p, 1, 10000) == 1 && ::recv(fd, &level, 1, 0) == 1 &&
           level == '1';
}

TEST_F(SldtapFaults, AClientGoneMidScanReleasesTheLock) {
    chain.debugger.process.stop();
    ASSERT_TRUE(hub_lock_free());
    const int fd = harness::connect_loopback(chain.tap.port(), Ms(5000));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(answered_high(fd));
    // Reset, IR 2 (five bits, TMS high on the last), then four bits into
    // Shift-DR, then gone. (No reads: held ones would end the connection
    // after 1 s of silence, before the check below on a loaded machine.)
    std::string bytes;
    auto clock = [&bytes](int tms, int tdi, bool read) { append_clock(&bytes, tms, tdi, read); };
    for (int i = 0; i < 5; ++i)
        clock(1, 0, false);
    append_instruction_to_shift_dr(&bytes, 2, false);
    for (int i = 0; i < 4; ++i)
        clock(0, 1, false);
    ASSERT_EQ(ssize_t(bytes.size()), ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    EXPECT_FALSE(hub_lock_free("300")) << "the lock is held while a client is connected";
    ::close(fd);
    EXPECT_TRUE(chain.stderr_has("the client went away in the middle of a data scan"));
    EXPECT_TRUE(hub_lock_free());
    expect_serving();
}

TEST_F(SldtapFaults, AScanTooLongToHoldEndsTheConnection) {
    const std::string reply = chain.tcl.run(drscan({5, 300, "1"}), Ms(20000));
    EXPECT_EQ(0u, reply.find("ERR")) << reply;
    EXPECT_TRUE(chain.stderr_has("in the middle of a data scan"));
    EXPECT_TRUE(chain.stderr_has("OpenOCD waits after 255 reads"));
    EXPECT_TRUE(hub_lock_free());
    expect_serving();
}

TEST_F(SldtapFaults, AFailingLibraryCallEndsTheConnection) {
    chain.sim.process.stop(); // the adapter is gone: every scan fails
    const std::string reply = chain.tcl.run(drscan(SCRIPT[2]));
    EXPECT_EQ(0u, reply.find("ERR")) << reply;
    EXPECT_TRUE(chain.stderr_has("sld_node_access_"));
    EXPECT_TRUE(chain.stderr_has("SLD_"));
    EXPECT_TRUE(hub_lock_free());
    // Still serving: a new client is taken and answered.
    const int fd = harness::connect_loopback(chain.tap.port(), Ms(5000));
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(answered_high(fd));
    ::close(fd);
    EXPECT_FALSE(chain.tap.process.exited());
}

TEST_F(SldtapFaults, SigtermEndsWithExitZeroAndTheLockReleased) {
    EXPECT_EQ(4u, chain.tcl.run(drscan(SCRIPT[2])).size());
    EXPECT_FALSE(hub_lock_free("300")) << "held while the debugger is connected";
    EXPECT_EQ(0, chain.tap.process.stop(Ms(5000)));
    EXPECT_TRUE(hub_lock_free()) << "released, not left to lapse (3 s)";
}

// --share: the lock is taken per scan, so another process gets it between
// the debugger's scans, and each scan still reaches the node's register.
TEST(SldtapShare, TheLockIsFreeBetweenScans) {
    Chain chain;
    std::string error;
    ASSERT_TRUE(chain.start(true, &error, {"--share"})) << error;
    harness::Peer peer(OPENOCD_PEER_PATH, {chain.adapter_endpoint()});
    ASSERT_EQ('0', peer.ask("chain")[0]);
    ASSERT_EQ('0', peer.ask("open 0")[0]);
    EXPECT_EQ("0000", chain.tcl.run(drscan(SCRIPT[2])));
    ASSERT_EQ(0u, peer.ask("lock 2000").find("0 "));
    // Another client loads another instruction meanwhile.
    EXPECT_EQ("0", peer.ask("ir 14"));
    EXPECT_EQ("0", peer.ask("unlock"));
    EXPECT_EQ(SCRIPT[2].value, chain.tcl.run("drscan node.tap 13 0x0fff"));
    EXPECT_TRUE(chain.tap.process.exited() == false);
}

} // namespace
