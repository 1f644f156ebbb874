// Decoding remote_bitbang requests into pin steps for the simulated world.
#include "bitbang.h"

namespace sldsim {

using scxsim::PinStep;

Decoded decode_requests(const char *data, size_t n, std::vector<PinStep> *steps) {
    Decoded d;
    for (; d.used < n; ++d.used) {
        const char c = data[d.used];
        if (c >= '0' && c <= '7') {
            const unsigned v = unsigned(c - '0');
            steps->push_back(PinStep::drive(v & 4, v & 2, v & 1));
        } else if (c == 'R') {
            steps->push_back(PinStep::sample());
        } else if (c >= 'r' && c <= 'u') {
            const unsigned v = unsigned(c - 'r');
            steps->push_back(PinStep::reset(v & 2, v & 1));
        } else if (c == 'B' || c == 'b') {
            // no light to switch
        } else {
            d.stop = c == 'Q' ? Stop::quit : Stop::bad_byte;
            ++d.used;
            break;
        }
    }
    return d;
}

BitbangSession::End BitbangSession::feed(const char *data, size_t n, std::string *replies) {
    steps_.clear();
    tdo_.clear();
    const Decoded d = decode_requests(data, n, &steps_);
    if (!scxsim::drive_pins(cable_, steps_.data(), steps_.size(), &tdo_))
        return End::cable_gone;
    for (uint8_t level : tdo_)
        replies->push_back(level ? '1' : '0');
    if (d.stop == Stop::quit)
        return End::quit;
    if (d.stop == Stop::bad_byte) {
        bad_byte_ = static_cast<unsigned char>(data[d.used - 1]);
        return End::bad_byte;
    }
    return End::open;
}

} // namespace sldsim
