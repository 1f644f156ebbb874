// Decoding remote_bitbang requests into pin steps.
#include "requests.h"

namespace bitbang {

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

} // namespace bitbang
