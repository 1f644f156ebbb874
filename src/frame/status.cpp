// Translation of JTAG client results into library status codes.
#include "frame/manager.h"

#include <cstdint>

SLD_ERROR ROZI_VUV_MANAGER::translate_scx_error(SCX_ERROR result) {
    switch (static_cast<uint32_t>(result)) {
    case 2:
    case 36:
    case 81:
    case 88:
        return SLD_SERVER_ERROR;
    case 34:
        return SLD_ALREADY_LOCKED;
    case 35:
        return SLD_NOT_LOCKED;
    case 37:
    case 39:
        return SLD_DEVICE_NOT_FOUND;
    case 46:
        return SLD_SERVER_ERROR_70;
    case 86:
        return SLD_HARDWARE_NOT_FOUND;
    case 87:
        return SLD_STALE_ID;
    default:
        return SLD_JTAG_ERROR;
    }
}

void ROZI_VUV_MANAGER::set_last_error_from_scx_error(SCX_ERROR result) {
    last_error = translate_scx_error(result);
}
