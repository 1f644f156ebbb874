// The version query: needs neither the manager nor the mutex.
#include "sld.h"

SLD_ERROR sld_get_version(int *major, int *minor) {
    if (major == nullptr || minor == nullptr)
        return SLD_NULL_ARGUMENT;
    *major = 1;
    *minor = 1;
    return SLD_OK;
}
