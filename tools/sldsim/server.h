// The listening socket of sldsim and its loop: one client at a time, on
// 127.0.0.1 or a Unix socket, until SIGTERM or SIGINT.
#ifndef SLDSIM_SERVER_H
#define SLDSIM_SERVER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bitbang.h"

namespace sldsim {

// What the server has done, printed on stdout on SIGUSR1.
struct Stats {
    uint64_t bytes = 0;   // requests processed
    uint64_t replies = 0; // 'R' answered
    uint64_t busy_ns = 0; // time spent processing and answering them
};

class Server {
  public:
    Server() = default;
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Listens on 127.0.0.1:port (0: a free port) or, when unix_path is not
    // empty, on that Unix socket. False with a message in *error.
    bool listen(int port, const std::string &unix_path, std::string *error);
    // "remote_bitbang 127.0.0.1:PORT" or "remote_bitbang PATH".
    std::string ready_line() const;
    // Serves the cable until SIGTERM or SIGINT, which the caller has
    // blocked. False with a message in *error when the loop cannot go on.
    bool serve(unsigned long cable, std::string *error);

  private:
    void accept_client();
    void close_client();
    // Reads one chunk, runs it and queues the replies; false: close.
    bool read_requests();
    // Sends queued replies until done or the socket is full; false: close.
    bool send_replies();
    void print_stats() const;

    int listener_ = -1;
    int signals_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::string unix_path_;
    std::unique_ptr<BitbangSession> session_;
    std::vector<char> in_; // one chunk of requests
    std::string out_;      // replies not yet sent
    size_t out_sent_ = 0;  // of out_
    bool closing_ = false; // close once out_ is sent
    Stats stats_;
};

} // namespace sldsim

#endif
