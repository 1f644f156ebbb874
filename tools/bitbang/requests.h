// The remote_bitbang protocol: one ASCII byte per request. '0'..'7' drive
// TCK, TMS and TDI (bits 2, 1, 0), 'R' reads TDO and is answered '0' or
// '1', 'r'..'u' drive TRST and SRST (bits 1, 0; 1 is asserted), 'B' and
// 'b' switch a light that the servers here do not have, 'Q' ends the
// connection.
#ifndef BITBANG_REQUESTS_H
#define BITBANG_REQUESTS_H

#include <cstddef>
#include <string>
#include <vector>

#include "scxsim_pins.h"

namespace bitbang {

// What one request byte asks for.
enum class Request : unsigned char { drive, sample, reset, light, quit, bad_byte };

// The request of byte c. For `drive`, c - '0' holds TCK, TMS and TDI (bits
// 2, 1, 0); for `reset`, c - 'r' holds TRST and SRST (bits 1, 0).
inline Request request_of(char c) {
    if (c >= '0' && c <= '7')
        return Request::drive;
    if (c == 'R')
        return Request::sample;
    if (c >= 'r' && c <= 'u')
        return Request::reset;
    if (c == 'B' || c == 'b')
        return Request::light;
    return c == 'Q' ? Request::quit : Request::bad_byte;
}

// Why a chunk of requests stopped before its end.
enum class Stop { none, quit, bad_byte };

struct Decoded {
    size_t used = 0; // bytes consumed, the 'Q' or the bad byte included
    Stop stop = Stop::none;
};

// Appends the pin steps of the requests in data[0, n) to *steps, up to the
// first 'Q' or byte outside the protocol.
Decoded decode_requests(const char *data, size_t n, std::vector<scxsim::PinStep> *steps);

// The message a server gives before it closes a connection that sent a
// byte outside the protocol.
std::string bad_byte_message(unsigned char byte);

} // namespace bitbang

#endif
