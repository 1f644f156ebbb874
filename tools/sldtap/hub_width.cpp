// Reading the hub information word again, as the hub's discovery does:
// device instruction 14, 64 zero bits into the virtual instruction
// register (address 0, the hub), device instruction 12, then eight 4-bit
// data scans whose nibbles, the first least significant, form the word;
// its bits 0-7 are m. All of it under the device lock. It leaves device
// instruction 12 loaded and the hub's readout moved on; the library loads
// its device instruction again on its first scan and never reads the
// hub's information words after its discovery.
#include "hub_width.h"

#include "sld.h"
#include "scx/scx.h"

namespace sldtap {

namespace {

const unsigned long LOCK_TIMEOUT_MS = 6000;
const unsigned long SELECT_VIR = 14, SELECT_VDR = 12;

std::string scx_failure(const char *call, SCX_ERROR code) {
    return std::string(call) + " failed with JTAG client result " + std::to_string(code);
}

bool read_word(SCX_OPEN *open, unsigned long *word, std::string *error) {
    unsigned char zeros[8] = {}, capture[8] = {};
    SCX_ERROR r = scx_access_ir(open, SELECT_VIR, nullptr, 0);
    if (r != SCX_NO_ERROR) {
        *error = scx_failure("scx_access_ir", r);
        return false;
    }
    r = scx_access_dr(open, 64, 0, 0, 64, zeros, 0, 64, capture);
    if (r == SCX_NO_ERROR)
        r = scx_access_ir(open, SELECT_VDR, nullptr, 0);
    if (r != SCX_NO_ERROR) {
        *error = scx_failure("the hub's selection", r);
        return false;
    }
    *word = 0;
    for (unsigned i = 0; i < 8; ++i) {
        unsigned char nibble = 0;
        r = scx_access_dr(open, 4, 0, 0, 4, zeros, 0, 4, &nibble);
        if (r != SCX_NO_ERROR) {
            *error = scx_failure("scx_access_dr", r);
            return false;
        }
        *word |= static_cast<unsigned long>(nibble & 0xF) << (4 * i);
    }
    return true;
}

} // namespace

unsigned read_instruction_width(int hub_id, std::string *error) {
    SCX_OPEN *open = nullptr;
    const int status = sld_hub_get_scx_open_id(hub_id, &open);
    if (status != SLD_OK || open == nullptr) {
        *error = "sld_hub_get_scx_open_id answered status " + std::to_string(status);
        return 0;
    }
    SCX_ERROR r = scx_lock(open, LOCK_TIMEOUT_MS, SCX_PACK_STYLE_AUTO);
    if (r != SCX_NO_ERROR) {
        *error = scx_failure("scx_lock", r);
        return 0;
    }
    unsigned long word = 0;
    const bool read = read_word(open, &word, error);
    r = scx_unlock(open);
    if (read && r != SCX_NO_ERROR) {
        *error = scx_failure("scx_unlock", r);
        return 0;
    }
    if (!read)
        return 0;
    const unsigned width = static_cast<unsigned>(word & 0xFF);
    if (width == 0)
        *error = "the hub information word gives an instruction width of 0";
    return width;
}

} // namespace sldtap
