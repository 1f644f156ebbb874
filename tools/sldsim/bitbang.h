// One client's remote_bitbang requests against one cable of the simulated
// world, pin by pin.
#ifndef SLDSIM_BITBANG_H
#define SLDSIM_BITBANG_H

#include <cstdint>
#include <string>
#include <vector>

#include "scxsim_pins.h"
#include "session.h"

namespace sldsim {

class BitbangSession : public bitbang::Session {
  public:
    explicit BitbangSession(unsigned long cable) : cable_(cable) {}

    bool begin(std::string *) override { return true; }
    // After a 'Q' or a byte outside the protocol the rest of the chunk is
    // ignored and the connection closes once the reads before it are
    // answered; a cable that is gone closes it at once.
    bitbang::Outcome feed(const char *data, size_t n, std::string *replies) override;
    void end() override {}

  private:
    unsigned long cable_;
    std::vector<scxsim::PinStep> steps_;
    std::vector<uint8_t> tdo_;
};

} // namespace sldsim

#endif
