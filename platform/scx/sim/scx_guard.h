// Keeps exceptions (out of memory) from leaving an scx_ function: such a
// call answers 81, the server is out of resources.
#ifndef SCXSIM_SCX_GUARD_H
#define SCXSIM_SCX_GUARD_H

#include "world.h"

namespace scxsim {
namespace detail {

template <typename Body> SCX_ERROR guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return E_NO_RESOURCES;
    }
}

} // namespace detail
} // namespace scxsim

#endif
