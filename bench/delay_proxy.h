// A TCP proxy on a free port of 127.0.0.1 that forwards every connection to
// another loopback port and holds each chunk of bytes back for a fixed delay
// in each direction: a slower link for the OpenOCD benchmark, without
// leaving the machine. Every socket wait is bounded (50 ms slices against a
// stop flag); stop() (and the destructor) ends its threads and sockets.
#ifndef SLD_BENCH_DELAY_PROXY_H
#define SLD_BENCH_DELAY_PROXY_H

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DelayProxy {
  public:
    DelayProxy() = default;
    ~DelayProxy() { stop(); }
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    bool start(int target_port, std::chrono::microseconds delay, std::string *error);
    void stop();
    int port() const { return port_; }

  private:
    void accept_loop();
    // Copies from one socket to the other, each chunk `delay_` after it
    // arrived, until either side closes or the proxy stops.
    void pump(int from, int to);

    int listen_fd_ = -1;
    int port_ = 0;
    int target_port_ = 0;
    std::chrono::microseconds delay_{0};
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex threads_mutex_;
    std::vector<std::thread> pumps_;
    std::vector<int> sockets_;
};

#endif
