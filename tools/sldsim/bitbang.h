// The remote_bitbang protocol: one ASCII byte per request. '0'..'7' drive
// TCK, TMS and TDI (bits 2, 1, 0), 'R' reads TDO and is answered '0' or
// '1', 'r'..'u' drive TRST and SRST (bits 1, 0; 1 is asserted), 'B' and
// 'b' switch a light that this server does not have, 'Q' ends the
// connection.
#ifndef SLDSIM_BITBANG_H
#define SLDSIM_BITBANG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scxsim_pins.h"

namespace sldsim {

// Why a chunk of requests stopped before its end.
enum class Stop { none, quit, bad_byte };

struct Decoded {
    size_t used = 0; // bytes consumed, the 'Q' or the bad byte included
    Stop stop = Stop::none;
};

// Appends the pin steps of the requests in data[0, n) to *steps, up to the
// first 'Q' or byte outside the protocol.
Decoded decode_requests(const char *data, size_t n, std::vector<scxsim::PinStep> *steps);

// One client's requests against one cable of the simulated world.
class BitbangSession {
  public:
    explicit BitbangSession(unsigned long cable) : cable_(cable) {}

    enum class End { open, quit, bad_byte, cable_gone };

    // Runs a chunk of requests and appends one reply byte per 'R', in
    // order, to *replies. After an end other than `open` the rest of the
    // chunk is ignored; bad_byte() tells which byte it was.
    End feed(const char *data, size_t n, std::string *replies);
    unsigned char bad_byte() const { return bad_byte_; }

  private:
    unsigned long cable_;
    std::vector<scxsim::PinStep> steps_;
    std::vector<uint8_t> tdo_;
    unsigned char bad_byte_ = 0;
};

} // namespace sldsim

#endif
