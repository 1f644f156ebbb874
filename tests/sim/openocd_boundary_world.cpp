// The default board through OpenOCD as the boundary tests' world: sldsim
// for each of the board's two cables, each behind an OpenOCD of its own.
// A reset starts both afresh on demand: a new sldsim, and OpenOCD on the
// same Tcl port, so the backend (chosen once per process) finds the new
// server at its next hardware query. The foreign client is a Tcl RPC
// client that takes locks through the backend's procedures under an owner
// of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boundary_world.h"
#include "core/scxcore.h"
#include "openocd_harness.h"

namespace {

using harness::Ms;

class OpenOcdBoundaryWorld final : public BoundaryWorld {
  public:
    // Starts both servers and chooses them for the backend; false with
    // *error when that fails.
    bool start(std::string *error) {
        std::vector<std::string> endpoints;
        for (Cable &c : cables_) {
            if (!restart(c, error))
                return false;
            endpoints.push_back("127.0.0.1:" + std::to_string(c.tcl_port));
        }
        return scx::use_openocd(endpoints, error);
    }

    void reset() override {
        for (Cable &c : cables_)
            c.fresh = false;
    }

    SCX_CHAIN *chain(unsigned long cable) override {
        Cable *c = cable_of(cable);
        return c ? c->chain : nullptr;
    }

    bool simulated() const override { return false; }

    bool foreign_lock_device(unsigned long cable, unsigned long position) override {
        return foreign(cable, "lock", device_key(cable, position)).rfind("K", 0) == 0; // "K epoch"
    }
    bool foreign_unlock_device(unsigned long cable, unsigned long position) override {
        return foreign(cable, "unlock", device_key(cable, position)) == "K";
    }
    bool foreign_lock_chain(unsigned long cable) override {
        return foreign(cable, "lock", "chain").rfind("K", 0) == 0; // "K epoch"
    }
    bool foreign_unlock_chain(unsigned long cable) override {
        return foreign(cable, "unlock", "chain") == "K";
    }
    bool device_locked(unsigned long cable, unsigned long position) override {
        return foreign(cable, "check", device_key(cable, position), "pnobody-h1") == "L";
    }
    unsigned bypass_bits(unsigned long cable) override {
        Cable *c = cable_of(cable);
        const std::string taps = c ? c->client.run("llength [jtag names]") : "";
        return taps.empty() || taps[0] < '1' || taps[0] > '9' ? 0 : unsigned(std::stoul(taps)) - 1;
    }

  private:
    struct Cable {
        unsigned long id = 0;
        harness::Sldsim sim;
        harness::OpenOcd openocd;
        harness::TclClient client;
        int tcl_port = 0;
        bool fresh = false;
        SCX_CHAIN *chain = nullptr;
    };

    bool restart(Cable &c, std::string *error) {
        // OpenOCD takes a second to act on SIGTERM: a short grace, then SIGKILL.
        c.openocd.process.stop(Ms(100));
        c.sim.process.stop(Ms(500));
        c.chain = nullptr;
        if (!c.sim.start({"--cable", std::to_string(c.id)}, error) ||
            !c.openocd.start(c.sim.port(), error, {}, c.tcl_port))
            return false;
        c.tcl_port = c.openocd.tcl_port();
        c.fresh = true;
        return true;
    }

    // The cable, started afresh if the test has not used it yet, and its
    // chain after the hardware query that reconnects the backend.
    Cable *cable_of(unsigned long cable) {
        if (cable < 1 || cable > 2)
            return nullptr;
        Cable &c = cables_[cable - 1];
        if (c.fresh && c.chain)
            return &c;
        std::string error;
        if (!c.fresh && !restart(c, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        const std::string name = "OpenOCD server 127.0.0.1:" + std::to_string(c.tcl_port);
        unsigned long count = 0;
        scx_get_hardware(&count, nullptr, 10000);
        SCX_HARDWARE record;
        if (scx_find_hardware(name.c_str(), &record, 5000) != SCX_NO_ERROR) {
            ADD_FAILURE() << "the backend does not reach " << name;
            return nullptr;
        }
        c.chain = record.chain;
        // Connected only now: OpenOCD accepts one connection at a time
        // while it starts, and a second one waiting would delay the
        // backend's by a SYN retry.
        if (!c.client.connect(c.tcl_port, Ms(5000))) {
            ADD_FAILURE() << "cannot connect to " << name;
            return nullptr;
        }
        // A reconnected server counts as a changed chain: take that in, as
        // a fresh simulated world has nothing to report.
        scx_scan_device_chain(c.chain);
        return &c;
    }

    std::string device_key(unsigned long cable, unsigned long position) {
        Cable *c = cable_of(cable);
        return c ? "d." + c->client.run("lindex [jtag names] " + std::to_string(position)) : "";
    }

    // A lock operation of the foreign client; its answer letter.
    std::string foreign(unsigned long cable, const std::string &op, const std::string &key,
                        const std::string &owner = "pforeign-h1") {
        Cable *c = cable_of(cable);
        if (!c || key.empty())
            return "";
        const std::string reply = c->client.run("sldocd2_call 1 pforeign-s1 " + op + " " + key + " " + owner);
        return reply.size() > 2 ? reply.substr(2) : reply;
    }

    Cable cables_[2] = {};

  public:
    OpenOcdBoundaryWorld() {
        cables_[0].id = 1;
        cables_[1].id = 2;
    }
};

OpenOcdBoundaryWorld *the_world = nullptr;

class Environment : public ::testing::Environment {
  public:
    void SetUp() override {
        the_world = new OpenOcdBoundaryWorld;
        std::string error;
        ASSERT_TRUE(the_world->start(&error)) << error;
    }
    void TearDown() override {
        delete the_world;
        the_world = nullptr;
    }
};

const ::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

BoundaryWorld &world() {
    return *the_world;
}
