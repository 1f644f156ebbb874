// The remote_bitbang protocol: one ASCII byte per request. '0'..'7' drive
// TCK, TMS and TDI (bits 2, 1, 0), 'R' reads TDO and is answered '0' or
// '1', 'r'..'u' drive TRST and SRST (bits 1, 0; 1 is asserted), 'B' and
// 'b' switch a light that the servers here do not have, 'Q' ends the
// connection.
#ifndef BITBANG_REQUESTS_H
#define BITBANG_REQUESTS_H

#include <cstddef>
#include <vector>

#include "scxsim_pins.h"

namespace bitbang {

// Why a chunk of requests stopped before its end.
enum class Stop { none, quit, bad_byte };

struct Decoded {
    size_t used = 0; // bytes consumed, the 'Q' or the bad byte included
    Stop stop = Stop::none;
};

// Appends the pin steps of the requests in data[0, n) to *steps, up to the
// first 'Q' or byte outside the protocol.
Decoded decode_requests(const char *data, size_t n, std::vector<scxsim::PinStep> *steps);

} // namespace bitbang

#endif
