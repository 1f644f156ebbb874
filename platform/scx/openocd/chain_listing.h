// OpenOCD's TAP list as `scan_chain` prints it:
//
//    TapName             Enabled  IdCode     Expected   IrLen IrCap IrMask
// -- ------------------- -------- ---------- ---------- ----- ----- ------
//  0 auto0.tap              Y     0x020a10dd 0x00000000    10 0x01  0x03
//
// parsed strictly from untrusted text, and the rule for which TAP names
// may ever be written into a script.
#ifndef SCXOPENOCD_CHAIN_LISTING_H
#define SCXOPENOCD_CHAIN_LISTING_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scxopenocd {
namespace detail {

struct Tap {
    std::string name;        // as listed; only usable ones are ever put into a script
    uint32_t idcode = 0;     // found in hardware (0 when the TAP gave none)
    unsigned ir_length = 0;  // 0 when OpenOCD does not know it
    uint64_t ir_capture = 0; // the IrCap column: what OpenOCD expects Capture-IR to load
    bool usable = false;     // name_is_safe(name) and an IR length of 1 to 64
    bool operator==(const Tap &o) const {
        return name == o.name && idcode == o.idcode && ir_length == o.ir_length && ir_capture == o.ir_capture;
    }
    bool operator!=(const Tap &o) const { return !(*this == o); }
};

// The enabled TAPs in scan_chain order: TAP 0 (nearest TDO) first.
using Listing = std::vector<Tap>;

const size_t MAX_TAPS = 256;
const size_t MAX_TAP_NAME = 64;

// A name of 1 to MAX_TAP_NAME letters, digits, '_', '.' and '-' that
// starts with a letter, a digit or '_': text that Tcl reads as one plain
// word, with no substitution and never as an option.
bool name_is_safe(std::string_view name);

// Parses the text of `capture scan_chain`: the header, the rule, then one
// row per TAP numbered from 0; blank lines and OpenOCD log lines ("Info :",
// "Warn :", "Error:", ...) are passed over. Disabled TAPs are left out.
// On anything else answers false with *error saying what, and leaves *out
// unchanged.
bool parse_scan_chain(std::string_view text, Listing *out, std::string *error);

} // namespace detail
} // namespace scxopenocd

#endif
