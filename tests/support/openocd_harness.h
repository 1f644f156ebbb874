// Real servers for tests and benchmarks: sldsim, sldtap and OpenOCD started on free
// ports of 127.0.0.1, a client for OpenOCD's Tcl RPC port, and child
// processes that end by their pid. Every wait is bounded. Nothing here
// depends on a test framework.
#ifndef SLD_TESTS_OPENOCD_HARNESS_H
#define SLD_TESTS_OPENOCD_HARNESS_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace harness {

using Ms = std::chrono::milliseconds;

// A child process: standard output on a pipe (for ready lines), standard
// error in a temporary file. The destructor stops it.
class Child {
  public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // With `input`, its standard input is a pipe that write_line feeds;
    // else /dev/null.
    bool start(const std::string &program, const std::vector<std::string> &args, std::string *error,
               bool input = false);
    pid_t pid() const { return pid_; }
    // Writes a line (a newline is added) to its standard input.
    bool write_line(const std::string &line);
    // One line of standard output, without its newline; false when none
    // comes within the time-out or the output ends.
    bool read_line(std::string *line, Ms timeout);
    // Whether it has exited; its exit code then (-1 when a signal ended it).
    bool exited(int *code = nullptr);
    // Waits up to timeout for it to exit by itself; its exit code, or -2.
    int wait_exit(Ms timeout);
    // SIGTERM, then SIGKILL when it is still there after the grace time.
    // Its exit code (-1 when a signal ended it).
    int stop(Ms grace = Ms(1000));
    // Everything it wrote to standard error so far.
    std::string error_text() const;

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string err_path_;
    std::string pending_; // read from standard output, not yet a line
    int code_ = -1;
    bool reaped_ = false;
};

// A port of 127.0.0.1 that nobody listened on a moment ago.
int free_loopback_port();
// Connects to 127.0.0.1:port, retrying until the time-out; -1 on failure.
int connect_loopback(int port, Ms timeout);
// A socket listening on a free port of 127.0.0.1, or -1 with the reason in
// *error; its port in *port.
int listen_loopback(int *port, std::string *error);

// A server on a free port of 127.0.0.1 that accepts every connection and
// never answers: an OpenOCD that hangs. Its thread looks at a stop flag
// every 50 ms; stop() (and the destructor) ends it and closes every socket.
class HungServer {
  public:
    HungServer() = default;
    ~HungServer() { stop(); }
    HungServer(const HungServer &) = delete;
    HungServer &operator=(const HungServer &) = delete;

    bool start(std::string *error);
    void stop();
    int port() const { return port_; }
    // Connections accepted so far.
    int accepted() const { return accepted_.load(); }

  private:
    void serve();

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// The sldsim program built with this tree (compile definition SLDSIM_PATH).
std::string sldsim_path();
// The sldtap program built with this tree (compile definition SLDTAP_PATH).
std::string sldtap_path();
// OpenOCD: $OPENOCD, else openocd on PATH; empty when there is none.
std::string find_openocd();
// The message a test fails with when find_openocd() is empty.
extern const char *const OPENOCD_MISSING;

// sldsim on a free port (--port 0), started and ready.
class Sldsim {
  public:
    bool start(const std::vector<std::string> &args, std::string *error);
    int port() const { return port_; }
    Child process;

  private:
    int port_ = 0;
};

// sldtap on a free port (--port 0), started and ready; args name the node.
class Sldtap {
  public:
    bool start(const std::vector<std::string> &args, std::string *error);
    int port() const { return port_; }
    // Its "stats ..." line (SIGUSR1), or empty when none comes.
    std::string stats();
    Child process;

  private:
    int port_ = 0;
};

// OpenOCD against a remote_bitbang port with its Tcl RPC on a free port,
// no gdb or telnet port, bound to 127.0.0.1; started and answering.
class OpenOcd {
  public:
    // `commands` run after init (-c each), `setup` before it (TAP
    // declarations). A tcl_port above 0 is used instead of a free one,
    // e.g. to start OpenOCD again where clients expect it.
    bool start(int bitbang_port, std::string *error, const std::vector<std::string> &commands = {},
               int tcl_port = 0, const std::vector<std::string> &setup = {});
    int tcl_port() const { return tcl_port_; }
    Child process;

  private:
    int tcl_port_ = 0;
};

// A helper process driven one command line at a time on its standard
// input, one answer line each (tests/openocd/peer.cpp: a second process
// using the library against an OpenOCD server).
class Peer {
  public:
    Peer(const std::string &program, const std::vector<std::string> &args);
    bool started() const { return started_; }
    // Its answer, or "no answer to ..." with its error text.
    std::string ask(const std::string &command, Ms timeout = Ms(20000));
    Child &process() { return process_; }

  private:
    Child process_;
    bool started_ = false;
    std::string error_;
};

// A client of OpenOCD's Tcl RPC port: a message is Tcl text ending with
// byte 0x1a, and so is the reply.
class TclClient {
  public:
    TclClient() = default;
    ~TclClient();
    TclClient(const TclClient &) = delete;
    TclClient &operator=(const TclClient &) = delete;

    bool connect(int port, Ms timeout);
    // The reply to one message; false when none comes within the time-out.
    bool eval(const std::string &script, std::string *reply, Ms timeout = Ms(10000));
    // The script run under catch: its result, "ERR <message>" when it
    // failed, "ERR no reply" when OpenOCD did not answer.
    std::string run(const std::string &script, Ms timeout = Ms(10000));

  private:
    int fd_ = -1;
};

} // namespace harness

#endif
