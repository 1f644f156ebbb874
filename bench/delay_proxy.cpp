#include "delay_proxy.h"

#include "openocd_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

void no_delay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool send_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

} // namespace

bool DelayProxy::start(int target_port, std::chrono::microseconds delay, std::string *error) {
    target_port_ = target_port;
    delay_ = delay;
    listen_fd_ = harness::listen_loopback(&port_, error);
    if (listen_fd_ < 0) {
        *error = "delay proxy: " + *error;
        return false;
    }
    acceptor_ = std::thread([this] { accept_loop(); });
    return true;
}

void DelayProxy::accept_loop() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int server = harness::connect_loopback(target_port_, harness::Ms(1000));
        if (server < 0) {
            ::close(client);
            continue;
        }
        no_delay(client);
        no_delay(server);
        std::lock_guard<std::mutex> hold(threads_mutex_);
        sockets_.push_back(client);
        sockets_.push_back(server);
        pumps_.emplace_back([this, client, server] { pump(client, server); });
        pumps_.emplace_back([this, client, server] { pump(server, client); });
    }
}

void DelayProxy::pump(int from, int to) {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };
    std::deque<Chunk> queue;
    char buffer[65536];
    bool open = true;
    while (!stopping_ && (open || !queue.empty())) {
        // Wait for bytes, but no longer than the first chunk is due; the
        // last millisecond is slept exactly (poll counts whole ones).
        const Clock::time_point now = Clock::now();
        if (!queue.empty() && queue.front().due - now < std::chrono::milliseconds(1)) {
            std::this_thread::sleep_until(queue.front().due);
        } else if (open) {
            int wait_ms = 50;
            if (!queue.empty())
                wait_ms = int(std::min<long long>(
                    50, std::chrono::duration_cast<std::chrono::milliseconds>(queue.front().due - now).count()));
            pollfd p{from, POLLIN, 0};
            if (::poll(&p, 1, wait_ms) == 1) {
                const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
                if (got > 0)
                    queue.push_back({Clock::now() + delay_, std::string(buffer, size_t(got))});
                else if (got == 0 || errno != EINTR)
                    open = false;
            }
        } else {
            std::this_thread::sleep_until(std::min(queue.front().due, now + std::chrono::milliseconds(50)));
        }
        while (!queue.empty() && queue.front().due <= Clock::now()) {
            if (!send_all(to, queue.front().bytes.data(), queue.front().bytes.size())) {
                open = false;
                queue.clear();
                break;
            }
            queue.pop_front();
        }
    }
    // Either side closing ends both directions.
    ::shutdown(to, SHUT_WR);
    ::shutdown(from, SHUT_RD);
}

void DelayProxy::stop() {
    stopping_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    for (std::thread &t : pumps_)
        t.join();
    pumps_.clear();
    for (int fd : sockets_)
        ::close(fd);
    sockets_.clear();
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    listen_fd_ = -1;
}
