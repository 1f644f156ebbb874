// The simulated world's backend instance, which the core picks unless the
// process asks for another.
#include "sim_backend.h"

#include "world.h"

namespace scxsim {
namespace detail {

const char *SimBackend::startup_failure() {
    // Set once, when the world is made, and never changed afterwards. The
    // caller now knows it: the first scx_ call will not print it as well.
    World &w = world();
    w.board_error_told = true;
    return w.board_error.empty() ? nullptr : w.board_error.c_str();
}

} // namespace detail
} // namespace scxsim

namespace scx {

Backend &sim_backend() {
    static scxsim::detail::SimBackend *backend = new scxsim::detail::SimBackend;
    return *backend;
}

} // namespace scx
