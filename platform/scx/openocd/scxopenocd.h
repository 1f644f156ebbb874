// Control of the OpenOCD backend of libscx.so, for tools and tests. The
// backend is chosen with SCX_OPENOCD=HOST:PORT[,HOST:PORT...] in the
// environment or scx::use_openocd() (core/scxcore.h) before the first
// scx_ call; what each scx_ call answers is in scxopenocd_semantics.h.
#ifndef SCXOPENOCD_H
#define SCXOPENOCD_H

#include <chrono>
#include <string>
#include <vector>

namespace scxopenocd {

// A lock lapses this long after the last message of the process that
// holds it; a live process renews its leases every third of it.
const unsigned long LEASE_MILLISECONDS = 3000;

// A server whose connection attempt failed is not tried again for this
// long; hardware queries meanwhile list it as unreachable, with the reason
// and the time of that attempt, and cost nothing for it.
const unsigned long RETRY_MILLISECONDS = 5000;

struct UnreachableServer {
    std::string endpoint; // HOST:PORT as named
    std::string reason;   // "Connection refused", "no answer by the time-out", ...
    std::chrono::system_clock::time_point last_try; // when the last connection attempt began
};

// The servers the last hardware query (scx_get_hardware, scx_find_hardware)
// could not reach, in the order they were named; empty when the OpenOCD
// backend is not the process's.
std::vector<UnreachableServer> unreachable_servers();

// RPC messages exchanged with the servers (each is one round trip) since
// the process started or the last reset_round_trips().
unsigned long long round_trips();
void reset_round_trips();

} // namespace scxopenocd

#endif
