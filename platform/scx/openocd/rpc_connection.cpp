#include "rpc_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scxopenocd {
namespace detail {

namespace {

long milliseconds_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : long(left);
}

std::string system_error(int code) {
    return std::strerror(code);
}

// A non-blocking connect to one address by the deadline; the socket or -1.
int connect_one(const addrinfo &address, Clock::time_point deadline, std::string *error) {
    int fd =
        socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
    if (fd < 0) {
        *error = system_error(errno);
        return -1;
    }
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        *error = system_error(errno);
        ::close(fd);
        return -1;
    }
    pollfd p = {fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = poll(&p, 1, int(milliseconds_left(deadline)));
    } while (ready < 0 && errno == EINTR);
    int code = 0;
    socklen_t size = sizeof code;
    if (ready <= 0) {
        *error = "no connection by the time-out";
        ::close(fd);
        return -1;
    }
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) != 0 || code != 0) {
        *error = system_error(code != 0 ? code : errno);
        ::close(fd);
        return -1;
    }
    const int on = 1;
    // Every message waits for its reply: do not let small ones wait for more.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

bool RpcConnection::open(const Endpoint &endpoint, Clock::time_point deadline, std::string *error) {
    close();
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *addresses = nullptr;
    const std::string port = std::to_string(endpoint.port);
    const int status = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &addresses);
    if (status != 0) {
        *error = std::string("cannot resolve host: ") + gai_strerror(status);
        return false;
    }
    *error = "no address";
    for (addrinfo *a = addresses; a != nullptr && fd_ < 0; a = a->ai_next) {
        fd_ = connect_one(*a, deadline, error);
    }
    freeaddrinfo(addresses);
    return fd_ >= 0;
}

void RpcConnection::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool RpcConnection::peer_gone() const {
    if (fd_ < 0) {
        return true;
    }
    pollfd p = {fd_, POLLIN, 0};
    return poll(&p, 1, 0) != 0;
}

bool RpcConnection::wait_ready(short events, Clock::time_point deadline, std::string *error) {
    pollfd p = {fd_, events, 0};
    while (true) {
        const int ready = poll(&p, 1, int(milliseconds_left(deadline)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            *error = "no answer by the time-out";
            return false;
        }
        if (errno != EINTR) {
            *error = system_error(errno);
            return false;
        }
    }
}

bool RpcConnection::send_all(const char *data, size_t size, Clock::time_point deadline, std::string *error) {
    while (size > 0) {
        const ssize_t sent = send(fd_, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= size_t(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_ready(POLLOUT, deadline, error)) {
                return false;
            }
        } else {
            *error = sent < 0 ? system_error(errno) : "connection closed";
            return false;
        }
    }
    return true;
}

bool RpcConnection::receive_reply(Clock::time_point deadline, size_t max_reply, std::string *reply,
                                  std::string *error) {
    reply->clear();
    char buffer[16384];
    while (true) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got > 0) {
            const char *end = static_cast<const char *>(std::memchr(buffer, MESSAGE_END, size_t(got)));
            const size_t used = end ? size_t(end - buffer) : size_t(got);
            if (reply->size() + used > max_reply) {
                *error = "reply longer than " + std::to_string(max_reply) + " bytes";
                return false;
            }
            reply->append(buffer, used);
            if (end) {
                if (used + 1 != size_t(got)) {
                    *error = "bytes after the end of the reply";
                    return false;
                }
                return true;
            }
        } else if (got == 0) {
            *error = "connection closed by the server";
            return false;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_ready(POLLIN, deadline, error)) {
                return false;
            }
        } else {
            *error = system_error(errno);
            return false;
        }
    }
}

bool RpcConnection::exchange(const std::string &message, Clock::time_point deadline, size_t max_reply,
                             std::string *reply, std::string *error) {
    if (fd_ < 0) {
        *error = "not connected";
        return false;
    }
    std::string framed = message;
    framed += MESSAGE_END;
    if (!send_all(framed.data(), framed.size(), deadline, error) ||
        !receive_reply(deadline, max_reply, reply, error)) {
        close();
        return false;
    }
    return true;
}

} // namespace detail
} // namespace scxopenocd
