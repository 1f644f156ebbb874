// One TCP connection to an OpenOCD Tcl RPC port. A message is Tcl text
// ended by byte 0x1a; so is its reply. Every socket operation has a
// deadline, and a reply is read only up to a bound, so a server that
// stops answering or answers too much never hangs or floods the caller.
#ifndef SCXOPENOCD_RPC_CONNECTION_H
#define SCXOPENOCD_RPC_CONNECTION_H

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>

#include "endpoint.h"

namespace scxopenocd {
namespace detail {

using Clock = std::chrono::steady_clock;

const char MESSAGE_END = '\x1a';

class RpcConnection {
  public:
    RpcConnection() = default;
    ~RpcConnection() { close(); }
    RpcConnection(const RpcConnection &) = delete;
    RpcConnection &operator=(const RpcConnection &) = delete;

    // Connects to the endpoint by the deadline; on failure *error says why
    // ("connection refused", "no answer within 2000 ms", ...).
    bool open(const Endpoint &endpoint, Clock::time_point deadline, std::string *error);
    void close();
    bool is_open() const { return fd_ >= 0; }
    // Exchanges the sockets of two connections (a connection made on one
    // thread is handed to another this way).
    void swap(RpcConnection &other) { std::swap(fd_, other.fd_); }
    // Whether the server closed the connection or sent something
    // unasked: with no message outstanding, anything to read means the
    // connection is no longer usable. Does not wait.
    bool peer_gone() const;
    // Sends message (which must not hold 0x1a) and its end byte, then reads
    // the reply up to its end byte into *reply, without the end byte. Fails
    // (and closes the connection, whose reply stream can no longer be
    // trusted) on any socket error, end of stream, the deadline, a reply
    // longer than max_reply bytes, or bytes after the end byte.
    bool exchange(const std::string &message, Clock::time_point deadline, size_t max_reply,
                  std::string *reply, std::string *error);

  private:
    bool send_all(const char *data, size_t size, Clock::time_point deadline, std::string *error);
    bool receive_reply(Clock::time_point deadline, size_t max_reply, std::string *reply, std::string *error);
    // Waits until the socket is ready for events (POLLIN, POLLOUT); false
    // with *error set when the deadline passes first.
    bool wait_ready(short events, Clock::time_point deadline, std::string *error);

    int fd_ = -1;
};

} // namespace detail
} // namespace scxopenocd

#endif
