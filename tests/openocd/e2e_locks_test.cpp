// The hub lock over OpenOCD against paused, adversarial and dying parties:
// a holder stopped past its lease, a plain Tcl client that deletes or takes
// the lock entry, OpenOCD killed under held-back writes, waiters that must
// be served in turn, and a run of random pauses that must lose no
// acknowledged word. Every process is started on loopback and ended by
// its pid; stopped ones are continued before they are ended.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "openocd_harness.h"
#include "scxopenocd.h"

namespace {

using e2e::Clock;
using e2e::ms_since;
using e2e::Peer;
using e2e::Servers;
using harness::Ms;

// Longer than the 3 s lease, with room for a loaded machine.
const Ms PAST_THE_LEASE(3600);

// A process stopped with SIGSTOP until continue_it() or the end of scope.
class Paused {
  public:
    explicit Paused(pid_t pid) : pid_(pid) { EXPECT_EQ(0, ::kill(pid_, SIGSTOP)); }
    ~Paused() { continue_it(); }
    void continue_it() {
        if (pid_ > 0)
            ::kill(pid_, SIGCONT);
        pid_ = -1;
    }

  private:
    pid_t pid_;
};

class OpenOcdLocks : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(servers.start(&error)) << error;
    }
    // A peer with the memory node of the first device open.
    std::unique_ptr<Peer> node_peer() {
        auto peer = std::make_unique<Peer>(servers.endpoint());
        EXPECT_EQ("0", peer->ask("chain"));
        EXPECT_EQ("0", peer->ask("node"));
        return peer;
    }
    Servers servers;
};

} // namespace

TEST_F(OpenOcdLocks, AHolderPausedPastItsLeaseGetsNoSuccessAfterItsGrantEnded) {
    auto a = node_peer(), b = node_peer();
    // Nobody takes the lapsed lock.
    ASSERT_EQ("0", a->ask("nlock 10000"));
    ASSERT_EQ("0", a->ask("mwrite 20 a1 a2"));
    {
        Paused stopped(a->process().pid());
        std::this_thread::sleep_for(PAST_THE_LEASE);
    }
    EXPECT_NE("0", a->ask("mwrite 20 bad1")) << "the grant lapsed";
    EXPECT_NE("0", a->ask("mwrite 20 bad2")) << "and stays ended until the next lock";
    EXPECT_NE("0", a->ask("nunlock"));
    EXPECT_EQ("0 a1 a2", b->ask("mread 20 2"));

    // Another process takes it while the holder stands still, and is gone
    // again when the holder goes on.
    ASSERT_EQ("0", a->ask("nlock 10000"));
    ASSERT_EQ("0", a->ask("mwrite 20 c1"));
    {
        Paused stopped(a->process().pid());
        std::this_thread::sleep_for(PAST_THE_LEASE);
        ASSERT_EQ("0", b->ask("nlock 10000"));
        ASSERT_EQ("0", b->ask("mwrite 40 b1 b2 b3 b4"));
        ASSERT_EQ("0", b->ask("nunlock"));
    }
    EXPECT_NE("0", a->ask("mwrite 20 bad3"));
    EXPECT_NE("0", a->ask("nunlock"));
    EXPECT_EQ("0 b1 b2 b3 b4", b->ask("mread 40 4"));
    EXPECT_EQ("0 c1", b->ask("mread 20 1"));

    // The other process still holds it when the holder goes on.
    ASSERT_EQ("0", a->ask("nlock 10000"));
    ASSERT_EQ("0", a->ask("mwrite 20 d1"));
    {
        Paused stopped(a->process().pid());
        std::this_thread::sleep_for(PAST_THE_LEASE);
        ASSERT_EQ("0", b->ask("nlock 10000"));
        ASSERT_EQ("0", b->ask("mwrite 40 e1 e2"));
    }
    EXPECT_NE("0", a->ask("mwrite 20 bad4"));
    EXPECT_NE("0", a->ask("mread 20 1"));
    ASSERT_EQ("0", b->ask("mwrite 42 e3 e4")) << "the holder's section goes on undisturbed";
    EXPECT_EQ("0 e1 e2 e3 e4", b->ask("mread 40 4"));
    EXPECT_EQ("0", b->ask("nunlock"));
    EXPECT_NE("0", a->ask("nunlock"));
    EXPECT_EQ("0 d1", b->ask("mread 20 1"));
    EXPECT_EQ("0", a->ask("nlock 10000")) << "a new lock works again";
    EXPECT_EQ("0", a->ask("nunlock"));
}

TEST_F(OpenOcdLocks, ALockEntryDeletedOrTakenByAPlainTclClientEndsTheGrant) {
    auto a = node_peer(), b = node_peer();
    harness::TclClient tcl;
    ASSERT_TRUE(tcl.connect(servers.openocd.tcl_port(), Ms(5000)));
    const std::vector<std::string> meddling = {
        "unset ::sldocd2_lock($k)",
        // A live owner of another process: the entry does not lapse.
        "set ::sldocd2_alive(pthief-s1) [expr {[clock milliseconds] + 60000}]; "
        "set ::sldocd2_lock($k) [list pthief-h1 pthief-s1 [incr ::sldocd2_epoch]]",
    };
    for (const std::string &meddle : meddling) {
        ASSERT_EQ("0", a->ask("nlock 10000")) << meddle;
        ASSERT_EQ("0", a->ask("mwrite 20 f1")) << meddle;
        const std::string result = tcl.run("set k [lindex [array names ::sldocd2_lock d.*] 0]; " + meddle);
        ASSERT_EQ(std::string::npos, result.find("ERR")) << result;
        EXPECT_NE("0", a->ask("mwrite 20 bad")) << meddle;
        EXPECT_NE("0", a->ask("mread 20 1")) << meddle;
        EXPECT_NE("0", a->ask("nunlock")) << meddle;
        tcl.run("foreach k [array names ::sldocd2_lock] { unset ::sldocd2_lock($k) }");
        EXPECT_EQ("0 f1", b->ask("mread 20 1")) << meddle;
    }
}

TEST_F(OpenOcdLocks, HeldBackWritesLostWithOpenOcdAreReportedByTheUnlock) {
    Peer peer(servers.endpoint());
    for (const char *command : {"chain", "open 0", "lock 1000", "ir 14"})
        ASSERT_EQ('0', peer.ask(command)[0]) << command;
    ASSERT_EQ('0', peer.ask("dr 32 0")[0]) << "a message answered just now: writes may be held";
    {
        // OpenOCD takes the held writes' message but never runs it.
        Paused stopped(servers.openocd.process.pid());
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ("0", peer.ask("write 32 1234567" + std::to_string(i))) << "held back";
        std::this_thread::sleep_for(Ms(100));
        ASSERT_EQ(0, ::kill(servers.openocd.process.pid(), SIGKILL));
    }
    servers.openocd.process.wait_exit(Ms(5000));
    const std::string answer = peer.ask("unlock");
    EXPECT_NE("0", answer) << "the held writes never ran";
    EXPECT_EQ("81", answer) << "lost with the connection";
}

TEST_F(OpenOcdLocks, WaitersAreServedInTurn) {
    const int peers = 4, rounds = 12, hold_ms = 25;
    std::vector<std::unique_ptr<Peer>> all;
    for (int i = 0; i < peers; ++i) {
        all.push_back(std::make_unique<Peer>(servers.endpoint()));
        ASSERT_EQ("0", all.back()->ask("chain"));
        ASSERT_EQ("0", all.back()->ask("open 0"));
    }
    std::vector<std::string> answers(peers);
    std::vector<std::thread> threads;
    for (int i = 0; i < peers; ++i)
        threads.emplace_back([&, i] {
            answers[i] =
                all[i]->ask("fair " + std::to_string(rounds) + " " + std::to_string(hold_ms), Ms(60000));
        });
    for (std::thread &t : threads)
        t.join();
    // First come, first served: nobody waits for more than everybody
    // else's turn, plus the round trips and retry pauses of a loaded machine.
    const long bound = peers * hold_ms + 300;
    for (int i = 0; i < peers; ++i) {
        std::istringstream in(answers[i]);
        int done = -1;
        long longest = -1;
        in >> done >> longest;
        EXPECT_EQ(rounds, done) << answers[i];
        EXPECT_LE(longest, bound) << "peer " << i << ": the longest wait in ms";
        std::printf("peer %d: %d rounds, longest wait %ld ms (bound %ld)\n", i, done, longest, bound);
    }
}

TEST_F(OpenOcdLocks, RandomPausesPastTheLeaseLoseNoAcknowledgedWord) {
    const int writers = 3, words = 4;
    const long run_ms = 24000;
    std::vector<std::unique_ptr<Peer>> all;
    for (int i = 0; i < writers; ++i)
        all.push_back(node_peer());
    auto reader = node_peer();
    // Which writer is which client of the server, so that the pauses can
    // catch the one holding the lock.
    harness::TclClient tcl;
    ASSERT_TRUE(tcl.connect(servers.openocd.tcl_port(), Ms(5000)));
    const std::string holder = "lindex [lindex [array get ::sldocd2_lock d.*] 1] 1";
    std::vector<std::string> clients;
    for (auto &writer : all) {
        ASSERT_EQ("0", writer->ask("nlock 10000"));
        clients.push_back(tcl.run(holder));
        ASSERT_EQ("0", writer->ask("nunlock"));
    }
    std::vector<std::string> answers(writers);
    std::vector<std::thread> threads;
    for (int i = 0; i < writers; ++i)
        threads.emplace_back([&, i] {
            char command[64];
            std::snprintf(command, sizeof command, "torture %x %d %ld", 0x10 * (i + 1), words, run_ms);
            answers[i] = all[i]->ask(command, Ms(60000));
        });
    // Stop one writer at a time past the lease while the others go on.
    std::mt19937 random(12345);
    const Clock::time_point start = Clock::now();
    int pauses = 0;
    while (ms_since(start) < run_ms - 5000) {
        // Mostly the holder, now and then anyone.
        const auto it = std::find(clients.begin(), clients.end(), tcl.run(holder));
        const size_t chosen =
            it != clients.end() && random() % 4 ? size_t(it - clients.begin()) : random() % writers;
        Paused stopped(all[chosen]->process().pid());
        std::this_thread::sleep_for(PAST_THE_LEASE - Ms(random() % 300));
        stopped.continue_it();
        ++pauses;
        std::this_thread::sleep_for(Ms(random() % 400));
    }
    for (std::thread &t : threads)
        t.join();
    unsigned long failed_rounds = 0;
    for (int i = 0; i < writers; ++i) {
        std::istringstream in(answers[i]);
        std::vector<std::string> acknowledged(words);
        for (std::string &word : acknowledged)
            in >> word;
        std::string label;
        unsigned long rounds = 0, failed = 0;
        in >> label >> rounds >> label >> failed;
        ASSERT_GT(rounds, 10u) << answers[i];
        failed_rounds += failed;
        char command[32];
        std::snprintf(command, sizeof command, "mread %x %d", 0x10 * (i + 1), words);
        std::istringstream memory(reader->ask(command));
        std::string code;
        memory >> code;
        ASSERT_EQ("0", code) << command;
        for (int k = 0; k < words; ++k) {
            std::string word;
            memory >> word;
            // Each writer tags its words with its address: a word of
            // another writer here would show.
            if (acknowledged[k] != "-") {
                EXPECT_EQ(acknowledged[k], word) << "writer " << i << " word " << k << ": " << answers[i];
            }
        }
    }
    std::printf("%d pauses, %lu sections cut short\n", pauses, failed_rounds);
    EXPECT_GT(pauses, 2);
    EXPECT_GT(failed_rounds, 0u) << "some sections were cut short by a pause";
    EXPECT_LT(ms_since(start), 60000);
}

TEST_F(OpenOcdLocks, AServerWhoseProceduresAreOfAnotherVersionInUseIsLeftAlone) {
    auto a = node_peer();
    harness::TclClient tcl;
    ASSERT_TRUE(tcl.connect(servers.openocd.tcl_port(), Ms(5000)));
    // As an older library in another process leaves it, within its lease.
    tcl.run("set ::sldocd_version 1; set ::sldocd_until [expr {[clock milliseconds] + 60000}]");
    EXPECT_NE("0", a->ask("mread 20 1")) << "the connected peer's message is refused";
    Peer late(servers.endpoint());
    EXPECT_EQ("1", late.ask("chain")) << "no hardware: the server is left alone";
    // Once the other version's lease is over, this version takes over: at
    // the first retry after the failed attempt's retry while, which runs in
    // the background and is taken by the query after it.
    tcl.run("set ::sldocd_until 0");
    const Clock::time_point freed = Clock::now();
    std::string answer;
    while ((answer = late.ask("chain")) != "0" &&
           ms_since(freed) < long(scxopenocd::RETRY_MILLISECONDS) + 3000)
        std::this_thread::sleep_for(Ms(100));
    EXPECT_EQ("0", answer);
}
