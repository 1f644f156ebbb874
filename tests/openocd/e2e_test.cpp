// libsld -> OpenOCD backend -> OpenOCD 0.12 -> sldsim, end to end: the
// tool's listing and scans, state across runs, two processes sharing one
// board, a killed lock holder, OpenOCD killed and restarted, and a hung
// second server. Every
// server is started here on free loopback ports and ended by its pid.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "openocd_harness.h"
#include "process.h"

namespace {

using e2e::Clock;
using e2e::ms_since;
using e2e::Peer;
using e2e::Servers;
using harness::Ms;

// Runs sldtool to its end; its output, error text and exit code.
ProcessResult run_sldtool(const std::vector<std::string> &args) {
    harness::Child tool;
    ProcessResult result;
    std::string error;
    if (!tool.start(SLDTOOL_PATH, args, &error)) {
        result.err = error;
        return result;
    }
    for (std::string line; tool.read_line(&line, Ms(30000));)
        result.out += line + "\n";
    result.exit_code = tool.wait_exit(Ms(30000));
    result.err = tool.error_text();
    return result;
}

ProcessResult sldtool(const Servers &servers, std::initializer_list<std::string> args) {
    std::vector<std::string> all = {"--openocd", servers.endpoint()};
    all.insert(all.end(), args.begin(), args.end());
    return run_sldtool(all);
}

class OpenOcdEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(servers.start(&error)) << error;
    }
    Servers servers;
};

} // namespace

TEST_F(OpenOcdEndToEnd, ListShowsTheSimulatorsDevicesHubsAndNodes) {
    const ProcessResult in_process = run_sldtool({"list", "--json"});
    const ProcessResult through_openocd = sldtool(servers, {"list", "--json"});
    ASSERT_EQ(0, in_process.exit_code) << in_process.err;
    ASSERT_EQ(0, through_openocd.exit_code) << through_openocd.err;
    const nlohmann::json sim = nlohmann::json::parse(in_process.out)["cables"][0]["devices"];
    const nlohmann::json ocd = nlohmann::json::parse(through_openocd.out)["cables"];
    ASSERT_EQ(1u, ocd.size());
    EXPECT_EQ(servers.cable(), ocd[0]["name"]);
    const nlohmann::json devices = ocd[0]["devices"];
    ASSERT_EQ(sim.size(), devices.size());
    for (size_t i = 0; i < sim.size(); ++i) {
        // Device names are OpenOCD's (auto0.tap); the rest is the same.
        EXPECT_EQ(sim[i]["position"], devices[i]["position"]);
        EXPECT_EQ(sim[i]["idcode"], devices[i]["idcode"]);
        EXPECT_EQ(sim[i]["hub"], devices[i]["hub"]) << "device " << i;
        EXPECT_EQ(sim[i]["hub_status"].is_null(), devices[i]["hub_status"].is_null());
        if (!sim[i]["hub_status"].is_null()) {
            EXPECT_EQ(sim[i]["hub_status"]["code"], devices[i]["hub_status"]["code"]);
        }
    }
}

TEST_F(OpenOcdEndToEnd, IrDrAndBatchWriteAndReadBackAcrossRuns) {
    const std::string c = servers.cable();
    ProcessResult r =
        sldtool(servers, {"dr", "--lock", "--ir", "2", "-c", c, "-d", "@1", "-n", "3", "32", "cafe"});
    ASSERT_EQ(0, r.exit_code) << r.err;
    r = sldtool(servers, {"dr", "--ir", "2", "-c", c, "-d", "@1", "-n", "3", "32", "0"});
    ASSERT_EQ(0, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("captured 0x0000cafe")) << "kept since the last run: " << r.out;
    r = sldtool(servers, {"ir", "-c", c, "-d", "@1", "-n", "3", "1"});
    EXPECT_NE(std::string::npos, r.out.find("captured instruction 0x2")) << r.out << r.err;

    TempFile write("ir 1\ndr 8 10\nir 2\ndr 32 deadbeef\ndr 32 0x00c0ffee\nrti 10\n");
    TempFile read("ir 1\ndr 8 10\nir 3\ndr 32\ndr 32\n");
    r = sldtool(servers, {"batch", "-c", c, "-d", "@1", "-n", "0", write.path()});
    ASSERT_EQ(0, r.exit_code) << r.err;
    r = sldtool(servers,
                {"batch", "-c", "OpenOCD server " + servers.endpoint(), "-d", "@1", "-n", "0", read.path()});
    ASSERT_EQ(0, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("line 4: dr 32 -> captured 0xdeadbeef")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("line 5: dr 32 -> captured 0x00c0ffee")) << r.out;
}

TEST_F(OpenOcdEndToEnd, TwoProcessesUnderTheHubLockNeverMixTheirPatterns) {
    Peer a(servers.endpoint()), b(servers.endpoint());
    ASSERT_EQ("0", a.ask("chain"));
    ASSERT_EQ("0", b.ask("chain"));
    // Both write four words at the same address and read them back, in
    // loops that run at the same time.
    std::string answer_a, answer_b;
    std::thread other([&] { answer_b = b.ask("memory 25 20000000", Ms(60000)); });
    answer_a = a.ask("memory 25 10000000", Ms(60000));
    other.join();
    EXPECT_EQ("ok", answer_a);
    EXPECT_EQ("ok", answer_b);
}

TEST_F(OpenOcdEndToEnd, TwoProcessesHoldingTwoDevicesOfOneChainScanInTurn) {
    Peer a(servers.endpoint()), b(servers.endpoint());
    for (Peer *p : {&a, &b})
        ASSERT_EQ("0", p->ask("chain"));
    // a: the first device's 32-bit shift register (hub node 3, address 4,
    // instruction 2); b: the second device's IDCODE register.
    for (const char *command : {"open 0", "lock 1000", "ir 14", "dr 11 402", "ir 12", "dr 32 0"})
        ASSERT_EQ('0', a.ask(command)[0]) << command;
    for (const char *command : {"open 1", "lock 1000", "ir 6"})
        ASSERT_EQ('0', b.ask(command)[0]) << command;
    // Each scan of one loads BYPASS into the other's device: the other's
    // next scan restores its instruction in the same message.
    // a's odd rounds are write-only scans, held back until its next
    // message or a short time: they still come before b's scan or a's read.
    std::string previous = "00000000";
    for (int i = 1; i <= 8; ++i) {
        char value[9];
        std::snprintf(value, sizeof value, "%08x", 0x01010101u * unsigned(i));
        if (i % 2) {
            EXPECT_EQ("0", a.ask(std::string("write 32 ") + value)) << "round " << i;
        } else {
            EXPECT_EQ("0 " + previous, a.ask(std::string("dr 32 ") + value)) << "round " << i;
        }
        EXPECT_EQ("0 0a1b2c3d", b.ask("dr 32 0")) << "round " << i;
        previous = value;
    }
    EXPECT_FALSE(servers.openocd.process.exited()) << "OpenOCD is still there";
}

TEST_F(OpenOcdEndToEnd, AKilledLockHolderReleasesItsLockWithinTheLease) {
    Peer holder(servers.endpoint()), waiter(servers.endpoint());
    for (Peer *p : {&holder, &waiter}) {
        ASSERT_EQ("0", p->ask("chain"));
        ASSERT_EQ("0", p->ask("open 0"));
    }
    ASSERT_EQ('0', holder.ask("lock 1000")[0]);
    // Idle for longer than the lease: the keep-alive holds the lock.
    std::this_thread::sleep_for(Ms(3500));
    EXPECT_EQ('3', waiter.ask("lock 0")[0]) << "34: still held";
    ASSERT_EQ(0, ::kill(holder.process().pid(), SIGKILL));
    const Clock::time_point killed = Clock::now();
    const std::string answer = waiter.ask("lock 10000");
    EXPECT_EQ('0', answer[0]) << answer;
    EXPECT_LE(ms_since(killed), 3000 + 700) << "the 3 s lease and a little";
}

TEST_F(OpenOcdEndToEnd, OpenOcdKilledMidRunGivesCleanErrorsAndARestartRecovers) {
    Peer peer(servers.endpoint());
    for (const char *command : {"chain", "open 1", "lock 1000", "ir 6"})
        ASSERT_EQ('0', peer.ask(command)[0]) << command;
    ASSERT_EQ("0 0a1b2c3d", peer.ask("dr 32 0"));
    const int port = servers.openocd.tcl_port();
    ASSERT_EQ(0, ::kill(servers.openocd.process.pid(), SIGKILL));
    servers.openocd.process.wait_exit(Ms(5000));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ("81 00000000", peer.ask("dr 32 0")) << "the connection was lost";
    EXPECT_EQ("88 00000000", peer.ask("dr 32 0")) << "not connected since";
    EXPECT_LT(ms_since(start), 2000);
    ProcessResult r = sldtool(servers, {"list"});
    EXPECT_NE(std::string::npos, r.err.find("cannot reach the OpenOCD server at " + servers.endpoint()))
        << r.err;
    EXPECT_EQ(1, r.exit_code) << "a server not reached is not a success";

    std::string error;
    // The same port: the peer names the server by it. sldsim has lost its
    // client and serves the new OpenOCD.
    ASSERT_TRUE(servers.start(&error, port)) << error;
    EXPECT_EQ("0", peer.ask("chain")) << "the hardware query reconnects";
    EXPECT_EQ("87 00000000", peer.ask("dr 32 0")) << "handles of the old connection";
    for (const char *command : {"open 1", "lock 1000", "ir 6"})
        EXPECT_EQ('0', peer.ask(command)[0]) << command;
    EXPECT_EQ("0 0a1b2c3d", peer.ask("dr 32 0"));
    EXPECT_EQ("0", peer.ask("unlock")) << "else the listing waits for the device";
    r = sldtool(servers, {"list"});
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("@2: auto1.tap (0x0A1B2C3D)")) << r.out;
}

TEST_F(OpenOcdEndToEnd, AHungSecondServerCostsOnlyTheFirstQueryAndStopsNoScan) {
    harness::HungServer hung, also_hung;
    std::string error;
    ASSERT_TRUE(hung.start(&error)) << error;
    ASSERT_TRUE(also_hung.start(&error)) << error;
    const std::string hung_endpoint = "127.0.0.1:" + std::to_string(hung.port());
    Peer peer(servers.endpoint() + "," + hung_endpoint + ",127.0.0.1:" + std::to_string(also_hung.port()));
    // The first query waits for the hung servers' attempts, made in
    // parallel, up to its 2 s bound: not 2 s each, nor the 12 s of a
    // connect and an install reply.
    Clock::time_point start = Clock::now();
    ASSERT_EQ("0", peer.ask("chain"));
    EXPECT_LE(ms_since(start), 2000 + 1500);
    EXPECT_EQ(1, hung.accepted());
    EXPECT_EQ(1, also_hung.accepted());
    // Later queries do not wait for it at all, while its attempt still runs.
    for (int i = 0; i < 3; ++i) {
        const std::string answer = peer.ask("hardware");
        EXPECT_EQ('1', answer[0]) << answer;
        EXPECT_LE(std::stol(answer.substr(2)), 500) << answer;
    }
    EXPECT_EQ(1, hung.accepted()) << "one attempt at a time";
    for (const char *command : {"open 1", "lock 1000", "ir 6"})
        ASSERT_EQ('0', peer.ask(command)[0]) << command;
    EXPECT_EQ("0 0a1b2c3d", peer.ask("dr 32 0"));
    EXPECT_EQ("0", peer.ask("unlock")) << "else the listing waits for the device";

    start = Clock::now();
    const ProcessResult r = run_sldtool({"--openocd", servers.endpoint() + "," + hung_endpoint, "list"});
    EXPECT_LE(ms_since(start), 2000 + 3000);
    EXPECT_EQ(1, r.exit_code) << "a server not reached is not a success";
    EXPECT_NE(std::string::npos, r.out.find(servers.cable())) << r.out;
    EXPECT_NE(std::string::npos,
              r.err.find("cannot reach the OpenOCD server at " + hung_endpoint + ": no answer yet"))
        << r.err;
}
