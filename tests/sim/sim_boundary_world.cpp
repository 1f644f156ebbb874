// The simulated world as the boundary tests' world.
#include "boundary_world.h"
#include "scxsim.h"

namespace {

class SimBoundaryWorld final : public BoundaryWorld {
  public:
    void reset() override { scxsim::reset(); }
    SCX_CHAIN *chain(unsigned long cable) override { return scxsim::chain_handle(cable); }
    std::string hardware_name(unsigned long cable) override { return "SimCable-" + std::to_string(cable); }
    // Every scan then fails as it does on a server whose adapter has gone.
    bool cut_adapter(unsigned long) override {
        scxsim::fail_every(scxsim::Fn::access_ir, 81);
        scxsim::fail_every(scxsim::Fn::access_dr, 81);
        return true;
    }
    bool simulated() const override { return true; }
    bool foreign_lock_device(unsigned long cable, unsigned long position) override {
        return scxsim::foreign_lock_device(cable, position);
    }
    bool foreign_unlock_device(unsigned long cable, unsigned long position) override {
        return scxsim::foreign_unlock_device(cable, position);
    }
    bool foreign_lock_chain(unsigned long cable) override { return scxsim::foreign_lock_chain(cable); }
    bool foreign_unlock_chain(unsigned long cable) override { return scxsim::foreign_unlock_chain(cable); }
    bool device_locked(unsigned long cable, unsigned long position) override {
        return scxsim::device_locked(cable, position);
    }
    unsigned bypass_bits(unsigned long) override { return 0; }
};

} // namespace

BoundaryWorld &world() {
    static SimBoundaryWorld sim;
    return sim;
}
