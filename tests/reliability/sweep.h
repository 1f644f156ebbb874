// The scenarios that the fault sweeps run again and again, the simulated
// world they run in, and the harness that starts every run from the same
// state and checks what a run leaves behind.
#ifndef SLD_TESTS_RELIABILITY_SWEEP_H
#define SLD_TESTS_RELIABILITY_SWEEP_H

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "scxsim.h"
#include "session.h"

// What the scenarios need to know about the default board, found through
// the API on a clean library.
struct World {
    std::string cable; // short name of the cable the scenarios use
    unsigned long persistent_id;
    std::string hub_device; // device string of a device with a usable hub
    unsigned long hub_position;
    unsigned node_count;
    std::string raw_device;       // device string of another device, for raw opens
    unsigned long changed_idcode; // an IDCODE the hub device does not have
    unsigned long unused_persistent_id;
    // Every cable's persistent id and device count.
    std::vector<std::pair<unsigned long, unsigned long>> chains;
};

struct Scenario {
    const char *name;
    void (*run)(Session &session, const World &world);
};

inline void PrintTo(const Scenario &scenario, std::ostream *out) {
    *out << scenario.name;
}

// Enumerate and list everything; open a hub and its nodes; a locked and an
// unlocked sequence of scans; a broadcast; a refresh after a chain change;
// raw device opens.
const std::vector<Scenario> &all_scenarios();

// Reads the world from a freshly reset simulator; fails the test (and
// returns false) when the board has no cable with a usable hub.
bool survey_world(World *world);

class SweepHarness {
  public:
    explicit SweepHarness(const World &world) : original_(world), world_(world) {}

    // A fresh simulated world with tracing on, no faults, the library's
    // hardware list emptied and its scan log off and empty, and the SCX
    // call count at zero: every run starts from the same state. With
    // fresh_names the cable gets a name never used before and the chain
    // change of a scenario an IDCODE never used before, so that the
    // library's string pool has to grow in every run alike.
    void prepare(bool fresh_names = false);

    // Runs the scenario in the session against the current world.
    void run(const Scenario &scenario, Session &session) { scenario.run(session, world_); }

    // After a run, with all faults cleared: checks the SCX trace for a chain
    // lock left held and that every device lock taken was given back, then
    // releases and closes everything the session opened and checks that no
    // hub id, node id, mutex level, device lock or (when handles_closed)
    // device handle is left. Violations go to the session.
    void settle(Session &session, bool handles_closed);

    const World &world() const { return world_; }

  private:
    void check_trace(Session &session, int held_hub_locks, bool chains);
    void check_library_empty(Session &session);

    const World original_;
    World world_;
};

#endif
