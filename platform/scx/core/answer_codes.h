// The answers every backend gives for the same situations, so that the
// library's rules work over each of them (sim/scxsim_semantics.h says
// when; a backend documents any code of its own beside these).
#ifndef SCX_CORE_ANSWER_CODES_H
#define SCX_CORE_ANSWER_CODES_H

#include "scx/scx.h"

namespace scx {
namespace codes {

const SCX_ERROR E_FETCH_SHORT = 2;
const SCX_ERROR E_NO_NAME = 33;
const SCX_ERROR E_LOCKED = 34;
const SCX_ERROR E_NOT_LOCKED = 35;
const SCX_ERROR E_CHAIN_CHANGED_SCAN = 36;
const SCX_ERROR E_NO_DEVICE = 37;
const SCX_ERROR E_RESCAN_NEEDED = 38;
const SCX_ERROR E_DEVICE_GONE = 39;
const SCX_ERROR E_BAD_ARGUMENT = 46;
const SCX_ERROR E_SIZE = SCX_TOO_MANY_DEVICES;
const SCX_ERROR E_NO_RESOURCES = 81;
const SCX_ERROR E_NO_HARDWARE = 86;
const SCX_ERROR E_UNKNOWN_HANDLE = 87;
const SCX_ERROR E_UNAVAILABLE = 88;

} // namespace codes
} // namespace scx

#endif
