// The pin-level front (scxsim_pins.h): a cable's pin levels drive the TAP
// controllers of its chain, TDI -> last device -> ... -> device 0 -> TDO.
#include "scxsim_pins.h"
#include "world.h"

namespace scxsim {

using namespace detail;

namespace {

// One rising TCK edge: every device samples TMS and the TDO its upstream
// neighbour presents before the edge. Walking from device 0 upwards, each
// device's input is still the neighbour's level from before the edge.
void rising_edge(Cable &c, bool tms, bool tdi) {
    auto &chain = c.chain;
    const size_t n = chain.size();
    for (size_t i = 0; i < n; ++i) {
        const bool in = i + 1 < n ? chain[i + 1]->tdo() : tdi;
        chain[i]->tck_rise(tms, in);
    }
}

void falling_edge(Cable &c) {
    for (auto &d : c.chain)
        d->tck_fall();
}

bool chain_tdo(const Cable &c, bool tdi) {
    return c.chain.empty() ? tdi : c.chain.front()->tdo();
}

} // namespace

bool drive_pins(unsigned long persistent_id, const PinStep *steps, size_t count, std::vector<uint8_t> *tdo) {
    World &w = world();
    std::lock_guard<std::mutex> l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c || (c->flags & FLAG_UNAVAILABLE))
        return false;
    PinLevels &p = c->pins;
    for (size_t i = 0; i < count; ++i) {
        const PinStep &s = steps[i];
        switch (s.kind) {
        case PinStep::Kind::drive:
            p.tdi = s.tdi;
            if (!p.trst && s.tck_or_trst != p.tck) {
                if (s.tck_or_trst)
                    rising_edge(*c, s.tms_or_srst, s.tdi);
                else
                    falling_edge(*c);
            }
            p.tck = s.tck_or_trst;
            break;
        case PinStep::Kind::sample:
            if (tdo)
                tdo->push_back(chain_tdo(*c, p.tdi));
            break;
        case PinStep::Kind::reset:
            p.trst = s.tck_or_trst;
            if (p.trst)
                for (auto &d : c->chain)
                    d->tap_reset();
            break;
        }
    }
    return true;
}

std::string tap_state(unsigned long persistent_id, unsigned long position) {
    World &w = world();
    std::lock_guard<std::mutex> l(w.mu);
    Device *d = w.device_at(persistent_id, position);
    return d ? tap_state_name(d->tap_state()) : std::string();
}

unsigned long selected_dr_width(unsigned long persistent_id, unsigned long position) {
    World &w = world();
    std::lock_guard<std::mutex> l(w.mu);
    Device *d = w.device_at(persistent_id, position);
    return d ? d->register_width(d->selected_register()) : 0;
}

} // namespace scxsim
