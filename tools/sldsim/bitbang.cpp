// Running remote_bitbang requests on the simulated world.
#include "bitbang.h"

#include <cstdio>

#include "requests.h"

namespace sldsim {

using bitbang::Outcome;

bitbang::Outcome BitbangSession::feed(const char *data, size_t n, std::string *replies) {
    steps_.clear();
    tdo_.clear();
    const bitbang::Decoded d = bitbang::decode_requests(data, n, &steps_);
    if (!scxsim::drive_pins(cable_, steps_.data(), steps_.size(), &tdo_))
        return {Outcome::Kind::close_now, "the cable served is gone or unavailable; closing the connection"};
    for (uint8_t level : tdo_)
        replies->push_back(level ? '1' : '0');
    if (d.stop == bitbang::Stop::quit)
        return {Outcome::Kind::close_replied, ""};
    if (d.stop == bitbang::Stop::bad_byte) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "the client sent byte 0x%02X, which is not a remote_bitbang request; closing the connection",
                      static_cast<unsigned char>(data[d.used - 1]));
        return {Outcome::Kind::close_replied, text};
    }
    return {};
}

} // namespace sldsim
