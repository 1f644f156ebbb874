// Child processes, loopback sockets and the Tcl RPC client of the harness.
#include "openocd_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

const char RPC_END = '\x1a';

// Milliseconds left until the deadline, at least 0, for poll().
int left_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    return a;
}

} // namespace

const char *const OPENOCD_MISSING =
    "openocd was not found (neither $OPENOCD nor openocd on PATH): install it with "
    "scripts/install-deps.sh --test";

Child::~Child() {
    stop();
    if (in_ >= 0)
        ::close(in_);
    if (out_ >= 0)
        ::close(out_);
    if (!err_path_.empty())
        std::remove(err_path_.c_str());
}

bool Child::start(const std::string &program, const std::vector<std::string> &args, std::string *error,
                  bool input) {
    // A Child may be started again once stopped.
    stop();
    if (in_ >= 0)
        ::close(in_);
    in_ = -1;
    if (out_ >= 0)
        ::close(out_);
    if (!err_path_.empty())
        std::remove(err_path_.c_str());
    pid_ = -1;
    out_ = -1;
    err_path_.clear();
    pending_.clear();
    code_ = -1;
    reaped_ = false;
    char err_name[] = "/tmp/sld-harness-XXXXXX";
    const int err_fd = ::mkstemp(err_name);
    int pipe_fds[2], in_fds[2] = {-1, -1};
    if (err_fd < 0 || ::pipe2(pipe_fds, O_CLOEXEC) != 0 || (input && ::pipe2(in_fds, O_CLOEXEC) != 0)) {
        *error = std::string("cannot make the child's output files: ") + std::strerror(errno);
        if (err_fd >= 0)
            ::close(err_fd);
        return false;
    }
    err_path_ = err_name;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input)
        posix_spawn_file_actions_adddup2(&actions, in_fds[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int r = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    ::close(err_fd);
    if (input)
        ::close(in_fds[0]);
    if (r != 0) {
        ::close(pipe_fds[0]);
        if (input)
            ::close(in_fds[1]);
        pid_ = -1;
        *error = "cannot start " + program + ": " + std::strerror(r);
        return false;
    }
    out_ = pipe_fds[0];
    in_ = input ? in_fds[1] : -1;
    return true;
}

bool Child::write_line(const std::string &line) {
    // A child that has gone must fail the write, not end this process.
    ::signal(SIGPIPE, SIG_IGN);
    const std::string text = line + "\n";
    for (size_t sent = 0; sent < text.size();) {
        const ssize_t n = in_ < 0 ? -1 : ::write(in_, text.data() + sent, text.size() - sent);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

bool Child::read_line(std::string *line, Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            *line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || ::poll(&p, 1, left_ms(deadline)) <= 0)
            return false;
        char buf[512];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0)
            return false;
        pending_.append(buf, size_t(n));
    }
}

bool Child::exited(int *code) {
    if (pid_ < 0)
        return true;
    if (!reaped_) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return false;
        reaped_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (code)
        *code = code_;
    return true;
}

int Child::wait_exit(Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    int code = -2;
    while (!exited(&code)) {
        if (Clock::now() >= deadline)
            return -2;
        std::this_thread::sleep_for(Ms(5));
    }
    return code;
}

int Child::stop(Ms grace) {
    int code = -1;
    if (pid_ < 0 || exited(&code))
        return code;
    ::kill(pid_, SIGTERM);
    code = wait_exit(grace);
    if (code != -2)
        return code;
    // Blocked on a socket, OpenOCD does not answer SIGTERM.
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    code_ = -1;
    return code_;
}

std::string Child::error_text() const {
    std::ifstream in(err_path_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

int listen_loopback(int *port, std::string *error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), len) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        *error = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

bool HungServer::start(std::string *error) {
    listen_fd_ = listen_loopback(&port_, error);
    if (listen_fd_ < 0) {
        *error = "hung server: " + *error;
        return false;
    }
    thread_ = std::thread([this] { serve(); });
    return true;
}

void HungServer::serve() {
    std::vector<int> accepted;
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) {
            const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                accepted.push_back(fd);
                ++accepted_;
            }
        }
    }
    for (int fd : accepted)
        ::close(fd);
}

void HungServer::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        thread_.join();
    }
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    listen_fd_ = -1;
}

int connect_loopback(int port, Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        sockaddr_in a = loopback(port);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
        ::close(fd);
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(Ms(10));
    }
}

std::string sldsim_path() {
#ifdef SLDSIM_PATH
    return SLDSIM_PATH;
#else
    return "sldsim";
#endif
}

std::string sldtap_path() {
#ifdef SLDTAP_PATH
    return SLDTAP_PATH;
#else
    return "sldtap";
#endif
}

std::string find_openocd() {
    const char *env = std::getenv("OPENOCD");
    if (env && *env)
        return ::access(env, X_OK) == 0 ? env : "";
    const char *path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/openocd";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

namespace {

// A remote_bitbang server started with --port 0: the port from its ready line.
bool start_bitbang_server(const std::string &program, const std::vector<std::string> &args, Child *process,
                          int *port, std::string *error) {
    std::vector<std::string> all = {"--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    if (!process->start(program, all, error))
        return false;
    std::string line;
    const std::string prefix = "remote_bitbang 127.0.0.1:";
    if (!process->read_line(&line, Ms(10000)) || line.compare(0, prefix.size(), prefix) != 0) {
        *error = program + " did not get ready: \"" + line + "\" " + process->error_text();
        process->stop();
        return false;
    }
    *port = std::atoi(line.c_str() + prefix.size());
    return true;
}

} // namespace

bool Sldsim::start(const std::vector<std::string> &args, std::string *error) {
    return start_bitbang_server(sldsim_path(), args, &process, &port_, error);
}

bool Sldtap::start(const std::vector<std::string> &args, std::string *error) {
    return start_bitbang_server(sldtap_path(), args, &process, &port_, error);
}

std::string Sldtap::stats() {
    if (::kill(process.pid(), SIGUSR1) != 0)
        return "";
    std::string line;
    return process.read_line(&line, Ms(10000)) ? line : "";
}

bool OpenOcd::start(int bitbang_port, std::string *error, const std::vector<std::string> &commands,
                    int tcl_port, const std::vector<std::string> &setup) {
    const std::string program = find_openocd();
    if (program.empty()) {
        *error = OPENOCD_MISSING;
        return false;
    }
    // The free port may be taken before OpenOCD binds it: try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        tcl_port_ = tcl_port > 0 ? tcl_port : free_loopback_port();
        std::vector<std::string> args;
        for (const std::string &c :
             {std::string("adapter driver remote_bitbang"), std::string("remote_bitbang host 127.0.0.1"),
              "remote_bitbang port " + std::to_string(bitbang_port), std::string("adapter speed 1000"),
              std::string("bindto 127.0.0.1"), "tcl_port " + std::to_string(tcl_port_),
              std::string("gdb_port disabled"), std::string("telnet_port disabled")}) {
            args.push_back("-c");
            args.push_back(c);
        }
        for (const std::string &c : setup) {
            args.push_back("-c");
            args.push_back(c);
        }
        args.push_back("-c");
        args.push_back("init");
        for (const std::string &c : commands) {
            args.push_back("-c");
            args.push_back(c);
        }
        if (!process.start(program, args, error))
            return false;
        const auto deadline = Clock::now() + Ms(15000);
        while (!process.exited() && Clock::now() < deadline) {
            const int fd = connect_loopback(tcl_port_, Ms(0));
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
            std::this_thread::sleep_for(Ms(10));
        }
        const bool gave_up = !process.exited();
        *error = "openocd did not open its Tcl port: " + process.error_text();
        process.stop();
        if (gave_up || process.error_text().find("couldn't bind") == std::string::npos)
            return false;
    }
    return false;
}

Peer::Peer(const std::string &program, const std::vector<std::string> &args) {
    started_ = process_.start(program, args, &error_, true);
}

std::string Peer::ask(const std::string &command, Ms timeout) {
    std::string answer;
    if (!started_)
        return "no answer to \"" + command + "\": " + error_;
    if (!process_.write_line(command) || !process_.read_line(&answer, timeout))
        return "no answer to \"" + command + "\": " + process_.error_text();
    return answer;
}

TclClient::~TclClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool TclClient::connect(int port, Ms timeout) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = connect_loopback(port, timeout);
    return fd_ >= 0;
}

bool TclClient::eval(const std::string &script, std::string *reply, Ms timeout) {
    if (fd_ < 0)
        return false;
    const auto deadline = Clock::now() + timeout;
    const std::string message = script + RPC_END;
    for (size_t sent = 0; sent < message.size();) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, left_ms(deadline)) <= 0)
            return false;
        const ssize_t n = ::send(fd_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    reply->clear();
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, left_ms(deadline)) <= 0)
            return false;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        reply->append(buf, size_t(n));
        const size_t end = reply->find(RPC_END);
        if (end != std::string::npos) {
            reply->resize(end);
            return true;
        }
    }
}

std::string TclClient::run(const std::string &script, Ms timeout) {
    std::string reply;
    if (!eval("if {[catch {" + script + "} r]} {set r \"ERR $r\"} else {set r}", &reply, timeout))
        return "ERR no reply";
    return reply;
}

} // namespace harness
