// Which JTAG world serves the scx_ functions of this process. The SCX
// library is a small core over backends (core/backend.h): the simulated
// world, and OpenOCD servers reached over their Tcl RPC port. One backend
// serves the whole process; it is chosen once, at the first scx_ call or
// the first call below, whichever comes first: use_openocd() if it was
// called, else SCX_OPENOCD=HOST:PORT[,HOST:PORT...] from the environment
// (a malformed value gives one message on standard error and no hardware),
// else the simulated world.
#ifndef SCX_CORE_SCXCORE_H
#define SCX_CORE_SCXCORE_H

#include <string>
#include <vector>

namespace scx {

class Backend;

// The backend of this process, chosen now if it was not yet.
Backend &active_backend();
// "sim", "openocd": the name of the backend chosen (choosing it now if
// need be).
const char *active_backend_name();
// Chooses the OpenOCD backend over the servers named, each "HOST:PORT" or
// a comma-separated list of them, in that order. Call it before the first
// scx_ call: once a backend is chosen, and for a malformed or empty list,
// it answers false with *error saying why and changes nothing.
bool use_openocd(const std::vector<std::string> &servers, std::string *error);

} // namespace scx

extern "C" {
// Why the backend of this process could not start (see
// Backend::startup_failure), or null when it is up; chooses the backend now
// if need be. Not part of the JTAG client boundary: a program that may run
// over another client library declares it weak and calls it only if found.
const char *scx_backend_failure(void);
}

#endif
