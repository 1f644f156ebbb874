#include "sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "thr_debug.h"

namespace {

const unsigned long LOCK_WAIT_LIMIT_MS = 2;

// Names made by prepare(true), never reused within the process.
unsigned long g_renames = 0;

// Empties the library's hardware list (a failing enumeration removes every
// entry with its device lists and hubs), so that the next call builds it
// anew, as on the first use.
void empty_hardware_list() {
    scxsim::fail_every(scxsim::Fn::get_hardware, 1000);
    sld_refresh_hardware();
    scxsim::clear_faults();
}

// Closes whatever a survey step opened; the survey runs on a clean library.
void close_all_ids() {
    for (int id = 0; id < 512; ++id)
        sld_node_close(id);
    for (int id = 0; id < 128; ++id)
        sld_hub_close(id);
}

} // namespace

bool survey_world(World *world) {
    scxsim::clear_faults();
    scxsim::reset();
    empty_hardware_list();
    Session session("survey");
    std::vector<std::string> names;
    session.get_hardware(&names);
    bool found = false;
    unsigned long highest_id = 0;
    for (const std::string &name : names) {
        unsigned long id = 0;
        sld_get_hardware_persistent_id(name.c_str(), &id);
        highest_id = std::max(highest_id, id);
        std::vector<std::string> devices;
        session.get_device(name, &devices);
        world->chains.emplace_back(id, devices.size());
        for (unsigned long position = 0; position < devices.size() && !found; ++position) {
            int hub = -1;
            unsigned char count = 0;
            if (sld_hub_open(name.c_str(), devices[position].c_str(), &hub) != SLD_OK)
                continue;
            sld_hub_get_number_of_nodes(hub, &count);
            sld_hub_close(hub);
            if (count < 2)
                continue;
            found = true;
            world->cable = name;
            world->persistent_id = id;
            world->hub_device = devices[position];
            world->hub_position = position;
            world->node_count = count;
            world->raw_device = devices[position == 0 && devices.size() > 1 ? 1 : 0];
            // The IDCODE is the hexadecimal number between the parentheses.
            std::string text = devices[position];
            unsigned long idcode = std::stoul(text.substr(text.rfind("(0x") + 3), nullptr, 16);
            world->changed_idcode = idcode ^ 0x10000000UL;
        }
    }
    world->unused_persistent_id = highest_id + 1000;
    close_all_ids();
    for (const std::string &v : session.violations())
        ADD_FAILURE() << v;
    if (!found)
        ADD_FAILURE() << "the default board has no cable with a usable hub of two or more nodes";
    return found && session.violations().empty();
}

void SweepHarness::prepare(bool fresh_names) {
    scxsim::clear_faults();
    empty_hardware_list();
    scxsim::reset();
    // A lock that cannot be granted (a failed unlock left the device locked
    // by a handle the run cannot reach any more) times out at once.
    scxsim::set_lock_wait_limit(LOCK_WAIT_LIMIT_MS);
    world_ = original_;
    if (fresh_names) {
        std::string name = "sweep-cable-" + std::to_string(++g_renames);
        if (scxsim::set_cable_name(world_.persistent_id, name))
            world_.cable = name;
        world_.changed_idcode ^= (g_renames & 0xFFFFF) << 8;
    }
    sld_disable_scx_log();
    sld_clear_scx_log();
    scxsim::set_tracing(true);
    scxsim::clear_trace();
    scxsim::reset_call_count();
}

void SweepHarness::check_trace(Session &session, int held_hub_locks, bool chains) {
    std::map<unsigned long, bool> chain_locked;
    int device_locks = 0;
    for (const scxsim::Call &call : scxsim::trace()) {
        switch (call.fn) {
        case scxsim::Fn::lock_chain:
            if (!chains || call.result != SCX_NO_ERROR)
                break;
            if (chain_locked[call.cable])
                session.violation("the chain of cable " + std::to_string(call.cable) +
                                  " was locked again before it was unlocked");
            chain_locked[call.cable] = true;
            break;
        case scxsim::Fn::unlock_chain:
            if (chains && !chain_locked[call.cable])
                session.violation("the chain of cable " + std::to_string(call.cable) +
                                  " was unlocked without a chain lock");
            chain_locked[call.cable] = false;
            break;
        case scxsim::Fn::lock:
            device_locks += call.result == SCX_NO_ERROR ? 1 : 0;
            break;
        case scxsim::Fn::unlock:
            --device_locks;
            break;
        default:
            break;
        }
    }
    for (const auto &chain : chain_locked)
        if (chain.second)
            session.violation("the chain of cable " + std::to_string(chain.first) + " was left locked");
    if (device_locks != held_hub_locks) {
        std::ostringstream text;
        text << "device locks taken and not given back: " << device_locks << ", with " << held_hub_locks
             << " hub locks held";
        session.violation(text.str());
    }
}

void SweepHarness::check_library_empty(Session &session) {
    for (int id = 0; id < 128; ++id) {
        unsigned char count = 0;
        SLD_ERROR status = sld_hub_get_number_of_nodes(id, &count);
        if (status != SLD_INVALID_HUB_ID)
            session.violation("hub id " + std::to_string(id) + " is still in use (status " +
                              std::to_string(status) + ")");
    }
    for (int id = 0; id < 512; ++id)
        if (sld_node_close(id) != SLD_INVALID_NODE_ID)
            session.violation("node id " + std::to_string(id) + " was still open");
    if (thr_debug_total_depth() != 0)
        session.violation("a library mutex level is left held");
    for (const auto &chain : world_.chains)
        for (unsigned long position = 0; position < chain.second; ++position)
            if (scxsim::device_locked(chain.first, position))
                session.violation("device " + std::to_string(position) + " of cable " +
                                  std::to_string(chain.first) + " is left locked");
}

void SweepHarness::settle(Session &session, bool handles_closed) {
    scxsim::clear_faults();
    check_trace(session, session.held_count(), true);
    session.close_everything();
    check_library_empty(session);
    check_trace(session, 0, false);
    if (handles_closed && scxsim::open_handle_count() != 0)
        session.violation(std::to_string(scxsim::open_handle_count()) +
                          " device handles are left open after every id was closed");
}
