// The OpenOCD backend against a scripted server: one message per call, bit
// order, and what untrusted, lost or changing servers give.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "scx/scx.h"
#include "core/scxcore.h"
#include "scxopenocd.h"

namespace {

FakeServer *server = nullptr;
int refusing_port = 0;

// Words of a call message: sldocd2_call seq process op args...
std::vector<std::string> words(const std::string &message) {
    std::istringstream in(message);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// A server whose chain is `names`; a drscan answers the bits written, as a
// wire from TDI to TDO would.
FakeServer::Responder healthy(std::vector<std::string> names, unsigned idcode_base = 0x1000) {
    return [=](const std::string &m) {
        const std::string op = op_of(m);
        if (op == "listing" || op == "chain")
            return FakeServer::Answer{reply_to(m, "K " + scan_chain_text(names, idcode_base))};
        if (op == "dr") {
            const std::vector<std::string> w = words(m);
            const unsigned long bits = std::stoul(w[7], nullptr, 16);
            std::string digits = w[8].substr(2);
            const size_t want = 2 * ((bits + 7) / 8);
            digits = std::string(want > digits.size() ? want - digits.size() : 0, '0') + digits;
            return FakeServer::Answer{reply_to(m, "K " + digits)};
        }
        return FakeServer::Answer{reply_to(m, "K")};
    };
}

class Environment : public ::testing::Environment {
  public:
    void SetUp() override {
        server = new FakeServer;
        server->respond(healthy({"a.tap", "b.tap"}));
        // A bound socket that does not listen: its port refuses.
        refusing_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(refusing_, reinterpret_cast<sockaddr *>(&address), size);
        getsockname(refusing_, reinterpret_cast<sockaddr *>(&address), &size);
        refusing_port = ntohs(address.sin_port);
        std::string error;
        ASSERT_TRUE(scx::use_openocd(
            {"127.0.0.1:" + std::to_string(server->port()) + ",127.0.0.1:" + std::to_string(refusing_port)},
            &error))
            << error;
    }
    void TearDown() override {
        close(refusing_);
        // The backend may still hold a connection to it: leave it running.
    }

  private:
    int refusing_ = -1;
};

const ::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new Environment);

const SCX_CLAIM CLAIMS[1] = {{0x300, 14}};

class FakeOpenOcd : public ::testing::Test {
  protected:
    void SetUp() override { server->respond(healthy({"a.tap", "b.tap"})); }

    // The chain of the fake server after a hardware query (reconnecting).
    SCX_CHAIN *chain() {
        SCX_HARDWARE records[4];
        unsigned long count = 0;
        EXPECT_EQ(47u, scx_get_hardware(&count, nullptr, 10000));
        count = 4;
        EXPECT_EQ(2u, scx_get_hardware(&count, records, 0)) << "room for more than there are";
        EXPECT_EQ(1u, count) << "the refusing server is left out";
        return count == 1 ? records[0].chain : nullptr;
    }

    SCX_OPEN *open(SCX_CHAIN *c, unsigned long position) {
        SCX_OPEN *h = nullptr;
        SCX_ERROR answer = scx_open_device(c, position, &h, CLAIMS, 1, "test");
        if (answer == 38) {
            scx_scan_device_chain(c);
            answer = scx_open_device(c, position, &h, CLAIMS, 1, "test");
        }
        EXPECT_EQ(0u, answer);
        return h;
    }
};

} // namespace

TEST_F(FakeOpenOcd, EveryCallIsAtMostOneMessageAndBitsKeepTheirOrder) {
    SCX_CHAIN *c = chain();
    ASSERT_NE(nullptr, c);
    SCX_OPEN *h = open(c, 1);
    struct Step {
        const char *what;
        std::function<SCX_ERROR()> call;
        unsigned long messages;
        bool together = false; // its messages are counted with the next step's
    };
    unsigned long count = 0, device_count = 8;
    SCX_DEVICE devices[8];
    SCX_HARDWARE record;
    unsigned long captured = 0;
    char name[64];
    const Step steps[] = {
        {"get_hardware", [&] { return scx_get_hardware(&count, nullptr, 10000) == 47 ? 0ul : 1ul; }, 0},
        {"find_hardware",
         [&] {
             return scx_find_hardware(("OpenOCD server 127.0.0.1:" + std::to_string(server->port())).c_str(),
                                      &record, 5000);
         },
         0},
        {"print_hardware_name", [&] { return scx_print_hardware_name(c, name, sizeof name, false, nullptr); },
         0},
        {"lock_chain", [&] { return scx_lock_chain(c, 6000); }, 1},
        {"scan_device_chain", [&] { return scx_scan_device_chain(c); }, 1},
        {"read_device_chain (own lock)",
         [&] { return scx_read_device_chain(c, &device_count, devices, true); }, 0},
        {"unlock_chain", [&] { return scx_unlock_chain(c); }, 1},
        {"read_device_chain", [&] { return scx_read_device_chain(c, &device_count, devices, true); }, 1},
        {"access_ir", [&] { return scx_access_ir(h, 14, &captured, 0); }, 1},
        {"lock", [&] { return scx_lock(h, 6000, SCX_PACK_STYLE_AUTO); }, 1},
        {"run_test_idle", [&] { return scx_run_test_idle(h, 10); }, 1},
        {"flush (locked)", [&] { return scx_flush(h); }, 0},
        {"delay (locked)", [&] { return scx_delay(h, 10); }, 0},
        // Kept at the server when nobody waits (no message), or sent when the
        // news that nobody waits is too old on a slow run.
        {"unlock", [&] { return scx_unlock(h); }, 1, true},
        {"the kept grant given up after a while",
         [&] {
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             return SCX_NO_ERROR;
         },
         1},
        {"flush", [&] { return scx_flush(h); }, 1},
    };
    bool counting = false;
    for (const Step &step : steps) {
        if (!counting)
            server->reset_count();
        EXPECT_EQ(0u, step.call()) << step.what;
        counting = step.together;
        if (!counting) {
            EXPECT_EQ(step.messages, server->messages()) << step.what;
        }
    }
    EXPECT_STREQ(("openocd@127.0.0.1:" + std::to_string(server->port())).c_str(), name);
    EXPECT_EQ(2u, device_count);
    EXPECT_STREQ("b.tap", devices[1].name);
    EXPECT_EQ(0x1001u, devices[1].idcode);
    EXPECT_EQ(1u, captured) << "the IrCap OpenOCD lists";

    // The fake echoes the bits written: what comes back is what went out.
    for (unsigned long length : {1ul, 5ul, 13ul, 32ul, 33ul, 4096ul, 65536ul}) {
        std::vector<unsigned char> out((length + 7) / 8), in(out.size() + 1, 0xEE);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<unsigned char>(0xA5 ^ (i * 29));
        server->reset_count();
        ASSERT_EQ(0u, scx_access_dr(h, length, 0, 0, length, out.data(), 0, length, in.data())) << length;
        EXPECT_EQ(1u, server->messages());
        if (length % 8)
            out.back() &= static_cast<unsigned char>((1u << (length % 8)) - 1);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin())) << length;
        EXPECT_EQ(0xEE, in.back()) << "nothing past the read length";
    }
    EXPECT_EQ(46u, scx_access_dr(h, 65537, 0, 0, 0, nullptr, 0, 0, nullptr)) << "longer than supported";
    EXPECT_EQ(0u, scx_close_device(h));
}

TEST_F(FakeOpenOcd, UntrustedRepliesGiveErrorsAndOverrunNothing) {
    struct Case {
        const char *what;
        std::string rest; // the reply after the sequence number; empty: not a reply at all
        std::string raw;  // sent instead of a reply when set
        SCX_ERROR answer;
        bool connection_kept;
    };
    const Case cases[] = {
        {"too few digits", "K 0102", "", 81, true},
        {"too many digits", "K 0102030405", "", 81, true},
        {"not hex", "K 010203zz", "", 81, true},
        {"two fields", "K 0102 0304", "", 81, true},
        {"an OpenOCD error", "E jtag execute failed", "", 88, true},
        {"no known instruction", "U", "", 40, true},
        {"locked by another", "L", "", 34, true},
        {"another version", "V 2", "", 81, false},
        {"oversized", "K " + std::string(70000, '0'), "", 81, false},
        {"not from our procedures", "", "invalid command name \"sldocd2_call\"\x1a", 81, false},
        {"bytes after the reply", "", "", 81, false},
    };
    for (const Case &c : cases) {
        server->respond(healthy({"a.tap"}));
        SCX_CHAIN *chain_handle = chain();
        SCX_OPEN *h = open(chain_handle, 0);
        server->respond([&](const std::string &m) {
            if (op_of(m) != "dr")
                return healthy({"a.tap"})(m);
            if (!c.raw.empty())
                return FakeServer::Answer{c.raw};
            if (c.rest.empty())
                return FakeServer::Answer{reply_to(m, "K 01020304") + "junk"};
            return FakeServer::Answer{reply_to(m, c.rest)};
        });
        unsigned char read[8] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
        const unsigned char written[4] = {1, 2, 3, 4};
        EXPECT_EQ(c.answer, scx_access_dr(h, 32, 0, 0, 32, written, 0, 32, read)) << c.what;
        for (unsigned char byte : read)
            EXPECT_EQ(0x5A, byte) << c.what;
        const SCX_ERROR next = scx_access_ir(h, 1, nullptr, 0);
        EXPECT_EQ(c.connection_kept ? 0u : 88u, next) << c.what << ": the next call";
        scx_close_device(h);
    }
}

TEST_F(FakeOpenOcd, ALostServerIsReconnectedByTheNextHardwareQuery) {
    SCX_CHAIN *old_chain = chain();
    SCX_OPEN *h = open(old_chain, 0);
    ASSERT_EQ(0u, scx_lock(h, 0, SCX_PACK_STYLE_AUTO));
    server->respond([](const std::string &) { return FakeServer::Answer{"", true}; });
    EXPECT_EQ(81u, scx_run_test_idle(h, 1)) << "lost during the call";
    EXPECT_EQ(88u, scx_run_test_idle(h, 1)) << "not connected since";
    EXPECT_EQ(88u, scx_scan_device_chain(old_chain));
    unsigned long count = 0;
    EXPECT_EQ(47u, scx_get_hardware(&count, nullptr, 10000));
    EXPECT_EQ(0u, count) << "the install fails too: no hardware";

    const auto failed = std::chrono::steady_clock::now();
    // The server answers again, but a failed server is not tried again for
    // the retry while; then a retry (not waited for) reconnects it in the
    // background, and the next query takes the connection.
    server->respond(healthy({"a.tap", "b.tap"}));
    const auto retry = std::chrono::milliseconds(scxopenocd::RETRY_MILLISECONDS);
    std::this_thread::sleep_for(retry / 2);
    EXPECT_EQ(47u, scx_get_hardware(&count, nullptr, 10000));
    EXPECT_EQ(0u, count) << "within the retry while";
    while (count == 0 && std::chrono::steady_clock::now() - failed < retry + std::chrono::seconds(3)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        scx_get_hardware(&count, nullptr, 10000);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - failed, retry - std::chrono::milliseconds(100));
    SCX_CHAIN *new_chain = chain();
    EXPECT_NE(old_chain, new_chain);
    EXPECT_EQ(87u, scx_scan_device_chain(old_chain));
    EXPECT_EQ(87u, scx_access_ir(h, 1, nullptr, 0)) << "handles of the old connection";
    EXPECT_EQ(87u, scx_close_device(h));
    SCX_OPEN *again = nullptr;
    EXPECT_EQ(38u, scx_open_device(new_chain, 0, &again, CLAIMS, 1, "t")) << "a reconnect is a change";
    EXPECT_EQ(36u, scx_scan_device_chain(new_chain));
    EXPECT_EQ(0u, scx_scan_device_chain(new_chain));
    EXPECT_EQ(0u, scx_open_device(new_chain, 0, &again, CLAIMS, 1, "t"));
    scx_close_device(again);
}

TEST_F(FakeOpenOcd, AChangedChainIsNoticedByScansAndOpens) {
    SCX_CHAIN *c = chain();
    scx_scan_device_chain(c);
    SCX_OPEN *first = open(c, 0), *second = open(c, 1);
    server->respond(healthy({"a.tap", "c.tap", "d.tap"}, 0x2000));
    SCX_OPEN *h = nullptr;
    EXPECT_EQ(38u, scx_open_device(c, 0, &h, CLAIMS, 1, "t")) << "open does its own query";
    EXPECT_EQ(38u, scx_open_device(c, 0, &h, CLAIMS, 1, "t")) << "until the next scan";
    EXPECT_EQ(36u, scx_scan_device_chain(c));
    EXPECT_EQ(0u, scx_scan_device_chain(c));
    EXPECT_EQ(0u, scx_access_ir(first, 1, nullptr, 0)) << "the same TAP with another IDCODE";
    EXPECT_EQ(39u, scx_access_ir(second, 1, nullptr, 0)) << "another TAP at its position";
    EXPECT_EQ(39u, scx_close_device(second));
    EXPECT_EQ(37u, scx_open_device(c, 3, &h, CLAIMS, 1, "t"));
    server->respond(healthy({"a.tap", "bad;name", "[exec]"}));
    EXPECT_EQ(36u, scx_scan_device_chain(c));
    unsigned long count = 8;
    SCX_DEVICE devices[8];
    ASSERT_EQ(0u, scx_read_device_chain(c, &count, devices, true));
    ASSERT_EQ(3u, count);
    EXPECT_EQ(nullptr, devices[1].name) << "names with Tcl syntax are not passed on";
    EXPECT_EQ(37u, scx_open_device(c, 2, &h, CLAIMS, 1, "t")) << "nor ever put into a script";
    scx_close_device(first);
}

TEST_F(FakeOpenOcd, LocksWaitByRetryingUntilTheirTimeOut) {
    SCX_CHAIN *c = chain();
    SCX_OPEN *h = open(c, 0);
    std::atomic<bool> held_elsewhere{true};
    server->respond([&](const std::string &m) {
        if (op_of(m) == "lock" && held_elsewhere)
            return FakeServer::Answer{reply_to(m, "L")};
        return healthy({"a.tap", "b.tap"})(m);
    });
    server->reset_count();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(34u, scx_lock(h, 100, SCX_PACK_STYLE_AUTO));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_GT(server->messages(), 3u) << "one try-lock message after another";
    EXPECT_EQ(34u, scx_lock_chain(c, 0)) << "a time-out of 0 tries once";

    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        held_elsewhere = false;
    });
    EXPECT_EQ(0u, scx_lock(h, 0xFFFFFFFF, SCX_PACK_STYLE_MANUAL)) << "waits for ever";
    release.join();
    EXPECT_EQ(34u, scx_lock(h, 0, SCX_PACK_STYLE_AUTO)) << "held by this handle";
    EXPECT_EQ(0u, scx_close_device(h));
}

TEST_F(FakeOpenOcd, UnreachableServersAreNamedWithTheReason) {
    chain();
    const std::vector<scxopenocd::UnreachableServer> down = scxopenocd::unreachable_servers();
    ASSERT_EQ(1u, down.size());
    EXPECT_EQ("127.0.0.1:" + std::to_string(refusing_port), down[0].endpoint);
    EXPECT_NE(std::string::npos, down[0].reason.find("refused")) << down[0].reason;
    const auto since = std::chrono::system_clock::now() - down[0].last_try;
    EXPECT_GE(since.count(), 0);
    EXPECT_LE(since, std::chrono::milliseconds(scxopenocd::RETRY_MILLISECONDS + 1000)) << "the last try's time";
    SCX_HARDWARE record;
    EXPECT_EQ(86u, scx_find_hardware(("OpenOCD server 127.0.0.1:" + std::to_string(refusing_port)).c_str(),
                                     &record, 5000));
    std::string error;
    EXPECT_FALSE(scx::use_openocd({"127.0.0.1:1"}, &error)) << "chosen already";
    EXPECT_NE(std::string::npos, error.find("chosen already")) << error;
}

TEST_F(FakeOpenOcd, WriteOnlyScansUnderTheLockWaitForTheNextMessage) {
    SCX_CHAIN *c = chain();
    SCX_OPEN *h = open(c, 0);
    std::vector<std::string> messages;
    std::mutex mutex;
    auto recording = [&](FakeServer::Responder answer) {
        return [&, answer](const std::string &m) {
            std::lock_guard<std::mutex> hold(mutex);
            messages.push_back(m);
            return answer(m);
        };
    };
    server->respond(recording(healthy({"a.tap", "b.tap"})));
    const unsigned char w[4] = {1, 2, 3, 4};
    ASSERT_EQ(0u, scx_lock(h, 1000, SCX_PACK_STYLE_AUTO));
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 0, nullptr)) << "held back";
    ASSERT_EQ(0u, scx_unlock(h));
    {
        std::lock_guard<std::mutex> hold(mutex);
        // lock, then the 16 scans with the unlock's message, a nop as nobody
        // waits and the grant is kept (on a slow run some may go on their
        // own after the hold time, or ahead of a keep-alive).
        EXPECT_LT(messages.size(), 8u) << "held back, not one message each";
        size_t scans = 0;
        for (const std::string &m : messages)
            for (size_t at = m.find("{dr "); at != std::string::npos; at = m.find("{dr ", at + 1))
                ++scans;
        EXPECT_EQ(16u, scans);
        EXPECT_EQ(0u, messages.back().find("sldocd2_seq "));
        EXPECT_NE(std::string::npos, messages.back().find("{nop}")) << messages.back();
        messages.clear();
    }

    // Left alone, held-back scans go by themselves after a short time.
    ASSERT_EQ(0u, scx_lock(h, 1000, SCX_PACK_STYLE_AUTO));
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 0, nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        std::lock_guard<std::mutex> hold(mutex);
        const bool sent_alone = std::any_of(messages.begin(), messages.end(), [](const std::string &m) {
            return m.find("{dr ") != std::string::npos && m.find("{nop}") != std::string::npos;
        });
        EXPECT_TRUE(sent_alone);
    }

    // A held-back scan that fails on its own is answered by the handle's
    // next call; one that fails with the unlock, by the unlock, which is
    // done all the same.
    server->respond(recording([](const std::string &m) {
        if (m.compare(0, 12, "sldocd2_seq ") == 0)
            return FakeServer::Answer{reply_to(m, "H E jtag execute failed")};
        return healthy({"a.tap", "b.tap"})(m);
    }));
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 0, nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(88u, scx_flush(h)) << "the failure, reported once";
    EXPECT_EQ(0u, scx_flush(h));
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 0, nullptr));
    EXPECT_EQ(88u, scx_unlock(h));
    EXPECT_EQ(35u, scx_unlock(h)) << "unlocked all the same";
    unsigned char r[4] = {0, 0, 0, 0};
    EXPECT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 32, r)) << "without the lock nothing is held back";
    EXPECT_EQ(0, std::memcmp(w, r, 4));
    scx_close_device(h);
}

TEST_F(FakeOpenOcd, AGrantIsKeptOnlyWhileNobodyWaitsAndAnEndedOneFencesTheHandle) {
    SCX_CHAIN *c = chain();
    SCX_OPEN *h = open(c, 0);
    std::atomic<bool> wanted{false}, ended{false};
    server->respond([&](const std::string &m) {
        if (op_of(m) == "lock")
            return FakeServer::Answer{reply_to(m, "K 7")};
        if (op_of(m) == "dr" && ended)
            return FakeServer::Answer{reply_to(m, "F")};
        const std::string answer = healthy({"a.tap", "b.tap"})(m).bytes;
        const std::string seq = seq_of(m);
        return FakeServer::Answer{wanted ? seq + " W" + answer.substr(seq.size()) : answer};
    });
    const unsigned char w[4] = {1, 2, 3, 4};
    unsigned char r[4];
    ASSERT_EQ(0u, scx_lock(h, 1000, SCX_PACK_STYLE_AUTO));
    // A grant is kept only on fresh news: a slow run (valgrind) may need
    // another go.
    unsigned long sent = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 32, r));
        server->reset_count();
        EXPECT_EQ(0u, scx_unlock(h));
        EXPECT_EQ(0u, scx_lock(h, 1000, SCX_PACK_STYLE_AUTO));
        sent = server->messages();
        if (sent == 0)
            break;
    }
    EXPECT_EQ(0u, sent) << "kept and taken up again";

    wanted = true;
    ASSERT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 32, r));
    server->reset_count();
    EXPECT_EQ(0u, scx_unlock(h));
    EXPECT_EQ(1u, server->messages()) << "somebody waits: the unlock goes at once";
    EXPECT_EQ(0u, scx_lock(h, 1000, SCX_PACK_STYLE_AUTO));
    EXPECT_EQ(2u, server->messages()) << "and the next lock asks the server";

    wanted = false;
    ended = true;
    server->reset_count();
    EXPECT_EQ(34u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 32, r)) << "refused: the grant ended";
    EXPECT_EQ(34u, scx_access_ir(h, 1, nullptr, 0)) << "nothing more is sent under it";
    EXPECT_EQ(34u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 0, nullptr)) << "nor held back";
    EXPECT_EQ(1u, server->messages());
    EXPECT_EQ(35u, scx_unlock(h)) << "the lock was lost";
    ended = false;
    EXPECT_EQ(0u, scx_lock(h, 1000, SCX_PACK_STYLE_AUTO));
    EXPECT_EQ(0u, scx_access_dr(h, 32, 0, 0, 32, w, 0, 32, r)) << "a new grant";
    EXPECT_EQ(0u, scx_close_device(h));
}
