// sldsim as a client and a user meet it: the remote_bitbang requests
// answered in order from one pipelined write, one client at a time, a bad
// byte ending only its own connection, the cable and socket chosen, board
// and usage errors, and the signals that end it.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "openocd_harness.h"

using harness::Ms;

namespace {

// A raw remote_bitbang connection.
class Wire {
  public:
    explicit Wire(int fd) : fd_(fd) {}
    ~Wire() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void send(const std::string &bytes) {
        ASSERT_EQ(ssize_t(bytes.size()), ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    }
    // Up to n reply bytes, fewer when the server closes or goes quiet for 5 s.
    std::string receive(size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                break;
            char buf[4096];
            const ssize_t k = ::recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
            if (k <= 0)
                break;
            got.append(buf, size_t(k));
        }
        return got;
    }
    // Whether the server closed the connection within 5 s.
    bool closed() {
        pollfd p{fd_, POLLIN, 0};
        char c;
        return ::poll(&p, 1, 5000) == 1 && ::recv(fd_, &c, 1, 0) <= 0;
    }

  private:
    int fd_;
};

// Requests that reset the chain and shift `bits` DR bits out of it (the
// IDCODEs after a reset), one 'R' per bit.
std::string read_idcodes(size_t bits) {
    std::string r = "2626262626" // five clocks with TMS high: Test-Logic-Reset
                    "04"
                    "26"
                    "04"
                    "04"; // Run-Test/Idle, Select-DR-Scan, Capture-DR, Shift-DR
    for (size_t i = 0; i < bits; ++i)
        r += i + 1 < bits ? "0R4" : "2R6";
    return r + "26"
               "04"; // Update-DR, Run-Test/Idle
}

uint32_t word(const std::string &replies, size_t from) {
    uint32_t v = 0;
    for (size_t i = 0; i < 32; ++i)
        v |= uint32_t(replies.at(from + i) == '1') << i;
    return v;
}

class SldsimServer : public ::testing::Test {
  protected:
    void start(const std::vector<std::string> &args = {}) {
        std::string error;
        ASSERT_TRUE(sim.start(args, &error)) << error;
    }
    int connect() { return harness::connect_loopback(sim.port(), Ms(5000)); }
    // SIGTERM ends it cleanly (a sanitizer's report would make it fail).
    void TearDown() override { EXPECT_EQ(0, sim.process.stop()) << sim.process.error_text(); }

    harness::Sldsim sim;
};

} // namespace

TEST_F(SldsimServer, PipelinedRequestsAreAnsweredInOrderAndQuitCloses) {
    start();
    Wire w(connect());
    ASSERT_TRUE(w.ok());
    w.send("Bb" + read_idcodes(96) +
           "rsut"
           "r"); // lights, TRST and SRST in between
    const std::string replies = w.receive(96);
    ASSERT_EQ(96u, replies.size());
    EXPECT_EQ(0x020A10DDu, word(replies, 0));
    EXPECT_EQ(0x0A1B2C3Du, word(replies, 32));
    EXPECT_EQ(0x12345093u, word(replies, 64));
    w.send("RQR");
    EXPECT_EQ("1", w.receive(2)) << "one answer, then the connection ends";
    EXPECT_TRUE(w.closed());
}

TEST_F(SldsimServer, ASecondClientIsClosedAtOnceWhileTheFirstIsServed) {
    start();
    Wire first(connect());
    first.send("R");
    ASSERT_EQ("1", first.receive(1));
    Wire second(connect());
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second.closed());
    first.send(read_idcodes(32));
    EXPECT_EQ(0x020A10DDu, word(first.receive(32), 0));
    EXPECT_NE(std::string::npos, sim.process.error_text().find("second client"));
}

TEST_F(SldsimServer, AByteOutsideTheProtocolEndsOnlyItsConnection) {
    start();
    {
        Wire bad(connect());
        bad.send("R\nR");
        EXPECT_EQ("1", bad.receive(2)) << "the request before the bad byte is answered";
        EXPECT_TRUE(bad.closed());
    }
    EXPECT_NE(std::string::npos, sim.process.error_text().find("0x0A"));
    Wire next(connect());
    next.send(read_idcodes(32));
    EXPECT_EQ(0x020A10DDu, word(next.receive(32), 0));
}

TEST(SldsimProcess, ServesTheChosenCableOnAUnixSocketAndEndsOnSigint) {
    const std::string path = "/tmp/sldsim-test-" + std::to_string(::getpid()) + ".sock";
    harness::Child c;
    std::string error, line;
    ASSERT_TRUE(c.start(harness::sldsim_path(), {"--unix", path, "--cable", "2"}, &error)) << error;
    ASSERT_TRUE(c.read_line(&line, Ms(10000))) << c.error_text();
    EXPECT_EQ("remote_bitbang " + path, line);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a));
    Wire w(fd);
    w.send(read_idcodes(32));
    EXPECT_EQ(0x02B150DDu, word(w.receive(32), 0)) << "cable 2's only device";
    ::kill(c.pid(), SIGINT);
    EXPECT_EQ(0, c.wait_exit(Ms(5000)));
    EXPECT_NE(0, ::access(path.c_str(), F_OK)) << "the socket file is removed";
}

TEST(SldsimProcess, BadBoardsAndArgumentsExitWithOneMessage) {
    const std::string dir = ::testing::TempDir();
    const std::string bad_capture = dir + "sldsim-bad-capture.json",
                      no_cables = dir + "sldsim-no-cables.json";
    std::ofstream(bad_capture)
        << R"({"cables": [{"persistent_id": 1, "devices": [{"idcode": 1, "ir_length": 4, "ir_capture": 3}]}]})";
    std::ofstream(no_cables) << R"({"cables": []})";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{"--board", dir + "sldsim-missing.json"}, 4, dir + "sldsim-missing.json: cannot read the file: No such file or directory"},
        {{"--board", bad_capture},
         4,
         bad_capture + ": $.cables[0].devices[0].ir_capture: the two low bits must be 01, got 0x3"},
        {{"--board", no_cables}, 4, no_cables + ": $.cables: no cable to serve"},
        {{"--cable", "7"}, 2, "--cable 7: default board has no cable with that persistent id"},
        {{"--port", "70000"}, 2, "--port"},
        {{"--port", "0", "--unix", "/tmp/x.sock"}, 2, "excludes"},
    };
    for (const auto &c : cases) {
        harness::Child p;
        std::string error;
        ASSERT_TRUE(p.start(harness::sldsim_path(), c.args, &error)) << error;
        EXPECT_EQ(c.code, p.wait_exit(Ms(10000))) << c.args[0];
        const std::string text = p.error_text();
        EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        if (c.code == 4) {
            EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
        }
    }
    std::remove(bad_capture.c_str());
    std::remove(no_cables.c_str());
}
