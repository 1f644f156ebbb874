// The listening socket of a remote_bitbang server and its loop: one client
// at a time, on 127.0.0.1 or a Unix socket, until SIGTERM or SIGINT.
#ifndef BITBANG_SERVER_H
#define BITBANG_SERVER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "session.h"

namespace bitbang {

// What the server has done, printed on stdout on SIGUSR1.
struct Stats {
    uint64_t bytes = 0;   // requests processed
    uint64_t replies = 0; // reads answered
    uint64_t busy_ns = 0; // time spent processing and answering them
};

class Server {
  public:
    // program: the prefix of the server's lines on standard error.
    explicit Server(std::string program) : program_(std::move(program)) {}
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Listens on 127.0.0.1:port (0: a free port) or, when unix_path is not
    // empty, on that Unix socket. False with a message in *error.
    bool listen(int port, const std::string &unix_path, std::string *error);
    // "remote_bitbang 127.0.0.1:PORT" or "remote_bitbang PATH".
    std::string ready_line() const;
    // Serves one client at a time with the session until SIGTERM or
    // SIGINT, which the caller has blocked. False with a message in *error
    // when the loop cannot go on.
    bool serve(Session &session, std::string *error);

  private:
    // serve() without its ending; true when a signal ended it.
    bool loop(std::string *error);
    void accept_client();
    void close_client();
    // Reads one chunk, runs it and queues the replies; false: close.
    bool read_requests();
    // Acts on what a chunk or a silence left; false: close now.
    bool settle(const Outcome &outcome);
    // Sends queued replies until done or the socket is full; false: close.
    bool send_replies();
    void print_stats() const;

    std::string program_;
    int listener_ = -1;
    int signals_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::string unix_path_;
    Session *session_ = nullptr;
    std::vector<char> in_; // one chunk of requests
    std::string out_;      // replies not yet sent
    size_t out_sent_ = 0;  // of out_
    bool closing_ = false; // close once out_ is sent
    Stats stats_;
};

} // namespace bitbang

#endif
