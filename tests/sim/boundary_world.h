// The JTAG world behind a boundary test's scx_ calls. The tests of scans,
// hubs, nodes and locks run over two worlds: the simulated one inside the
// test process (sim_test) and the same default board served by sldsim
// through OpenOCD, one server per cable (sim_openocd_test). What only the
// simulated world offers (the device side of nodes, traces, faults,
// hot-plug, other boards, the state at power-up) is checked where
// simulated() is true.
#ifndef SIM_TEST_BOUNDARY_WORLD_H
#define SIM_TEST_BOUNDARY_WORLD_H

#include <string>

#include "scx/scx.h"

class BoundaryWorld {
  public:
    virtual ~BoundaryWorld() = default;
    // The default board in its starting state, nothing open or locked.
    virtual void reset() = 0;
    // The chain of the default board's cable with that persistent id.
    virtual SCX_CHAIN *chain(unsigned long cable) = 0;
    // The name the library knows that cable by (sld_get_device, sld_hub_open).
    virtual std::string hardware_name(unsigned long cable) = 0;
    // Takes the cable's adapter away, as an unplugged adapter or a killed
    // server behind it would; the next reset() brings it back. false when
    // the world cannot.
    virtual bool cut_adapter(unsigned long cable) = 0;
    virtual bool simulated() const = 0;
    // Another client of the world taking or giving back a lock, as
    // scxsim.h's foreign client does; false when it cannot.
    virtual bool foreign_lock_device(unsigned long cable, unsigned long position) = 0;
    virtual bool foreign_unlock_device(unsigned long cable, unsigned long position) = 0;
    virtual bool foreign_lock_chain(unsigned long cable) = 0;
    virtual bool foreign_unlock_chain(unsigned long cable) = 0;
    // Whether anyone holds the device's lock.
    virtual bool device_locked(unsigned long cable, unsigned long position) = 0;
    // On a chain of several devices a scan also shifts through the bypass
    // bit of every other device: bits that pass a register shorter than the
    // scan come out that many bits later, and a scan shorter than the
    // register moves it that many bits further. 0 where the world shifts
    // each device's register alone.
    virtual unsigned bypass_bits(unsigned long cable) = 0;
};

// The world of this test program.
BoundaryWorld &world();

#endif
