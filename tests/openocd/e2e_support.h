// What the end-to-end tests over OpenOCD share: sldsim with OpenOCD on it,
// and openocd_peer processes driven one command line at a time.
#ifndef SLD_TESTS_OPENOCD_E2E_SUPPORT_H
#define SLD_TESTS_OPENOCD_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "openocd_harness.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using harness::Ms;

// sldsim serving the default board's first cable, and OpenOCD on it.
class Servers {
  public:
    bool start(std::string *error, int tcl_port = 0) {
        return (sim.process.pid() > 0 || sim.start({}, error)) &&
               openocd.start(sim.port(), error, {}, tcl_port);
    }
    std::string endpoint() const { return "127.0.0.1:" + std::to_string(openocd.tcl_port()); }
    std::string cable() const { return "openocd@" + endpoint(); }
    harness::Sldsim sim;
    harness::OpenOcd openocd;
};

// An openocd_peer process: one command line in, one answer line out.
class Peer {
  public:
    explicit Peer(const std::string &endpoint) {
        std::string error;
        started_ = process_.start(OPENOCD_PEER_PATH, {endpoint}, &error, true);
        EXPECT_TRUE(started_) << error;
    }
    std::string ask(const std::string &command, Ms timeout = Ms(20000)) {
        std::string answer;
        if (!started_ || !process_.write_line(command) || !process_.read_line(&answer, timeout))
            return "no answer to \"" + command + "\": " + process_.error_text();
        return answer;
    }
    harness::Child &process() { return process_; }

  private:
    harness::Child process_;
    bool started_ = false;
};

inline long ms_since(Clock::time_point start) {
    return long(std::chrono::duration_cast<Ms>(Clock::now() - start).count());
}

} // namespace e2e

#endif
