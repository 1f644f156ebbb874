// Which JTAG world serves the scx_ functions of this process. The SCX
// library is a small core over backends (core/backend.h): the simulated
// world, and OpenOCD servers reached over their Tcl RPC port. One backend
// serves the whole process; it is chosen once, at the first scx_ call or
// the first call below, whichever comes first.
#ifndef SCX_CORE_SCXCORE_H
#define SCX_CORE_SCXCORE_H

namespace scx {

class Backend;

// The backend of this process, chosen now if it was not yet: the
// simulated world unless the environment selects another.
Backend &active_backend();
// "sim", "openocd": the name of the backend chosen (choosing it now if
// need be).
const char *active_backend_name();

} // namespace scx

extern "C" {
// Why the backend of this process could not start (see
// Backend::startup_failure), or null when it is up; chooses the backend now
// if need be. Not part of the JTAG client boundary: a program that may run
// over another client library declares it weak and calls it only if found.
const char *scx_backend_failure(void);
}

#endif
