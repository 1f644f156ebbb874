// The simulated world's backend instance, which the core picks unless the
// process asks for another.
#include "sim_backend.h"

namespace scx {

Backend &sim_backend() {
    static scxsim::detail::SimBackend *backend = new scxsim::detail::SimBackend;
    return *backend;
}

} // namespace scx
