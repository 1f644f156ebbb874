// A stand-in for OpenOCD's Tcl RPC port on 127.0.0.1, for tests of what
// the backend does with replies it cannot trust. It serves one connection
// at a time and answers each message (text up to byte 0x1a) as a
// responder says.
#ifndef SLD_TESTS_OPENOCD_FAKE_SERVER_H
#define SLD_TESTS_OPENOCD_FAKE_SERVER_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class FakeServer {
  public:
    struct Answer {
        std::string bytes;        // sent as they are: add "\x1a" to end a reply
        bool close_after = false; // then the connection is closed
    };
    using Responder = std::function<Answer(const std::string &message)>;

    FakeServer();
    ~FakeServer();
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    int port() const { return port_; }
    void respond(Responder responder);
    // Messages received since the start or the last reset_count(), the
    // keep-alive's (a call of nop alone) left out.
    unsigned long messages() const { return messages_; }
    void reset_count() { messages_ = 0; }

  private:
    void serve();
    void converse(int fd);

    int listen_fd_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    Responder responder_;
    std::atomic<unsigned long> messages_{0};
    std::thread thread_;
};

// The sequence number of a message to the backend's procedures (a call, a
// sequence of held-back calls and one more, or the install script), ""
// when there is none.
std::string seq_of(const std::string &message);
// The operation of a call message ("dr", "lock", ...), of a sequence's
// last call, "listing" for the install script.
std::string op_of(const std::string &message);
// A reply to the message: "<seq> <rest>" and the end byte.
std::string reply_to(const std::string &message, const std::string &rest);
// A scan_chain table with one enabled TAP per name, IR length 10,
// IDCODE 0x1000 + position.
std::string scan_chain_text(const std::vector<std::string> &names, unsigned idcode_base = 0x1000);

#endif
