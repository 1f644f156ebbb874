// The socket loop of a remote_bitbang server. Requests are read in large
// chunks and run by the session as one batch; the replies of a chunk are
// sent before the loop waits for more input, since a client such as
// OpenOCD stops sending until its outstanding reads are answered.
#include "bitbang_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace bitbang {

namespace {

const size_t CHUNK = 64 * 1024;
// Stop reading while this many replies wait for a client that does not read.
const size_t MAX_QUEUED = 1024 * 1024;

std::string system_error(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

// A Unix socket path left by a server that is gone: connecting fails.
bool stale_socket(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    const bool live = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return !live;
}

} // namespace

Server::~Server() {
    close_client();
    if (listener_ >= 0)
        ::close(listener_);
    if (signals_ >= 0)
        ::close(signals_);
    if (!unix_path_.empty())
        ::unlink(unix_path_.c_str());
}

bool Server::listen(int port, const std::string &unix_path, std::string *error) {
    if (!unix_path.empty()) {
        sockaddr_un a{};
        if (unix_path.size() >= sizeof a.sun_path) {
            *error = unix_path + ": a Unix socket path has at most " + std::to_string(sizeof a.sun_path - 1) +
                     " characters";
            return false;
        }
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, unix_path.c_str(), sizeof a.sun_path - 1);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) {
            *error = system_error("socket");
            return false;
        }
        if (stale_socket(unix_path))
            ::unlink(unix_path.c_str());
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            *error = system_error(unix_path);
            return false;
        }
        unix_path_ = unix_path;
    } else {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) {
            *error = system_error("socket");
            return false;
        }
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&a), len) != 0) {
            *error = system_error("127.0.0.1:" + std::to_string(port));
            return false;
        }
        if (::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            *error = system_error("getsockname");
            return false;
        }
        port_ = ntohs(a.sin_port);
    }
    if (::listen(listener_, 4) != 0) {
        *error = system_error("listen");
        return false;
    }
    return true;
}

std::string Server::ready_line() const {
    if (!unix_path_.empty())
        return "remote_bitbang " + unix_path_;
    return "remote_bitbang 127.0.0.1:" + std::to_string(port_);
}

bool Server::serve(Session &session, std::string *error) {
    session_ = &session;
    const bool ended_by_signal = loop(error);
    close_client();
    session_ = nullptr;
    return ended_by_signal;
}

bool Server::loop(std::string *error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    signals_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (signals_ < 0) {
        *error = system_error("signalfd");
        return false;
    }
    for (;;) {
        pollfd fds[3] = {{signals_, POLLIN, 0}, {listener_, POLLIN, 0}, {client_, 0, 0}};
        if (client_ >= 0) {
            if (!closing_ && out_.size() - out_sent_ < MAX_QUEUED)
                fds[2].events |= POLLIN;
            if (out_sent_ < out_.size())
                fds[2].events |= POLLOUT;
        }
        const int idle_ms = client_ >= 0 && !closing_ ? session_->idle_limit_ms() : 0;
        const int ready = ::poll(fds, client_ >= 0 ? 3 : 2, idle_ms > 0 ? idle_ms : -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            *error = system_error("poll");
            return false;
        }
        if (ready == 0) {
            if (!settle(session_->idle()) || (closing_ && out_sent_ == out_.size()))
                close_client();
            continue;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signals_, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo != SIGUSR1)
                    return true;
                print_stats();
            }
        }
        if (fds[1].revents & POLLIN)
            accept_client();
        if (client_ < 0 || fds[2].revents == 0)
            continue;
        bool keep = true;
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR))
            keep = read_requests();
        if (keep)
            keep = send_replies();
        if (!keep || (closing_ && out_sent_ == out_.size()))
            close_client();
    }
}

void Server::accept_client() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    if (client_ >= 0) {
        ::close(fd);
        std::fprintf(stderr, "%s: refused a second client: one client at a time is served\n", program_.c_str());
        return;
    }
    std::string message;
    if (!session_->begin(&message)) {
        ::close(fd);
        std::fprintf(stderr, "%s: refused a client: %s\n", program_.c_str(), message.c_str());
        return;
    }
    client_ = fd;
    out_.clear();
    out_sent_ = 0;
    closing_ = false;
}

void Server::close_client() {
    if (client_ < 0)
        return;
    ::close(client_);
    client_ = -1;
    if (session_)
        session_->end();
}

bool Server::read_requests() {
    in_.resize(CHUNK);
    const ssize_t n = ::read(client_, in_.data(), in_.size());
    if (n == 0) {
        closing_ = true; // the replies still go out if the client reads them
        return true;
    }
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    const auto start = std::chrono::steady_clock::now();
    const size_t queued = out_.size();
    const Outcome outcome = session_->feed(in_.data(), size_t(n), &out_);
    stats_.bytes += uint64_t(n);
    stats_.replies += out_.size() - queued;
    stats_.busy_ns += uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count());
    return settle(outcome);
}

bool Server::settle(const Outcome &outcome) {
    if (!outcome.message.empty())
        std::fprintf(stderr, "%s: %s\n", program_.c_str(), outcome.message.c_str());
    switch (outcome.kind) {
    case Outcome::Kind::open:
        return true;
    case Outcome::Kind::close_replied:
        closing_ = true;
        return true;
    case Outcome::Kind::close_now:
        break;
    }
    return false;
}

bool Server::send_replies() {
    const auto start = std::chrono::steady_clock::now();
    while (out_sent_ < out_.size()) {
        const ssize_t n = ::send(client_, out_.data() + out_sent_, out_.size() - out_sent_, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false; // the client went away
            break;
        }
        out_sent_ += size_t(n);
    }
    if (out_sent_ == out_.size()) {
        out_.clear();
        out_sent_ = 0;
    }
    stats_.busy_ns += uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count());
    return true;
}

void Server::print_stats() const {
    const std::string more = session_ ? session_->stats() : std::string();
    std::printf("stats bytes=%llu replies=%llu busy_ns=%llu%s%s\n", static_cast<unsigned long long>(stats_.bytes),
                static_cast<unsigned long long>(stats_.replies), static_cast<unsigned long long>(stats_.busy_ns),
                more.empty() ? "" : " ", more.c_str());
    std::fflush(stdout);
}

} // namespace bitbang
