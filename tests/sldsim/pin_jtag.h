// A JTAG master over the simulator's pin-level front, for tests: walks the
// TAP states with TMS and shifts whole chain scans, one edge at a time, as
// a bit-banging adapter does (TCK low with TMS and TDI, sample TDO, TCK
// high).
#ifndef SLD_TESTS_PIN_JTAG_H
#define SLD_TESTS_PIN_JTAG_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "scxsim_pins.h"

using Bits = std::vector<uint8_t>; // one bit per element, the first shifted first

class PinJtag {
  public:
    explicit PinJtag(unsigned long cable) : cable_(cable) {}

    // Clocks once per TMS level; the TDO level sampled before each edge.
    Bits clock(const Bits &tms, const Bits &tdi = {}) {
        std::vector<scxsim::PinStep> steps;
        for (size_t i = 0; i < tms.size(); ++i) {
            const bool in = i < tdi.size() && tdi[i];
            steps.push_back(scxsim::PinStep::drive(false, tms[i], in));
            steps.push_back(scxsim::PinStep::sample());
            steps.push_back(scxsim::PinStep::drive(true, tms[i], in));
        }
        Bits tdo;
        EXPECT_TRUE(scxsim::drive_pins(cable_, steps.data(), steps.size(), &tdo));
        return tdo;
    }

    // Test-Logic-Reset, then Run-Test/Idle.
    void reset() { clock({1, 1, 1, 1, 1, 0}); }

    // From Run-Test/Idle through Capture, Shift (the bits) and Update back
    // to Run-Test/Idle; the bits shifted out.
    Bits scan(bool ir, const Bits &in) {
        Bits tms = ir ? Bits{1, 1, 0} : Bits{1, 0}; // to Capture
        if (in.empty()) {
            tms.insert(tms.end(), {1, 1, 0}); // Capture, Exit1, Update
            clock(tms);
            return {};
        }
        tms.push_back(0); // Capture to Shift
        const size_t lead = tms.size();
        Bits tdi(lead, 0);
        for (size_t i = 0; i < in.size(); ++i) {
            tms.push_back(i + 1 == in.size()); // the last bit leaves for Exit1
            tdi.push_back(in[i]);
        }
        tms.insert(tms.end(), {1, 0}); // Update, Run-Test/Idle
        const Bits tdo = clock(tms, tdi);
        return Bits(tdo.begin() + long(lead), tdo.begin() + long(lead + in.size()));
    }

  private:
    unsigned long cable_;
};

inline Bits to_bits(uint64_t v, size_t n) {
    Bits b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = i < 64 ? uint8_t((v >> i) & 1) : 0;
    return b;
}

inline uint64_t from_bits(const Bits &b, size_t from = 0, size_t n = 64) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && from + i < b.size() && i < 64; ++i)
        v |= uint64_t(b[from + i]) << i;
    return v;
}

#endif
