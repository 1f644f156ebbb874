#include "session.h"

#include <cstring>
#include <sstream>

#include "scxsim.h"
#include "thr_debug.h"

namespace {

const size_t MAX_VIOLATIONS = 20;

// Marks an output that the call must not write.
template <class T> T *untouched_marker() {
    static char marker;
    return reinterpret_cast<T *>(&marker);
}

std::string describe(Api fn, SLD_ERROR status) {
    std::ostringstream text;
    text << api_name(fn) << " returned " << status;
    return text.str();
}

} // namespace

Session::Session(std::string context)
    : context_(std::move(context)), allocation_counter_(nullptr), allocation_fail_at_(-1),
      allocations_seen_(0), allocation_failed_in_(-1) {}

void Session::violation(const std::string &what) {
    if (violations_.size() < MAX_VIOLATIONS)
        violations_.push_back(context_ + ": " + what);
}

void Session::watch_allocations(long (*counter)(), long fail_at) {
    allocation_counter_ = counter;
    allocation_fail_at_ = fail_at;
    allocations_seen_ = counter();
}

SLD_ERROR Session::note(Api fn, SLD_ERROR status) {
    calls_.push_back(fn);
    statuses_.push_back(status);
    scx_calls_after_.push_back(scxsim::call_count());
    if (!status_documented(fn, status))
        violation(describe(fn, status) + ", which it never returns");
    if (allocation_counter_ != nullptr) {
        long now = allocation_counter_();
        if (allocation_failed_in_ < 0 && allocations_seen_ < allocation_fail_at_ &&
            now >= allocation_fail_at_)
            allocation_failed_in_ = static_cast<long>(calls_.size()) - 1;
        allocations_seen_ = now;
    }
    forget_dead_holds();
    check_depth(api_name(fn));
    return status;
}

long Session::call_of_scx_call(unsigned long k) const {
    for (size_t i = 0; i < scx_calls_after_.size(); ++i)
        if (scx_calls_after_[i] >= k)
            return static_cast<long>(i);
    return -1;
}

int Session::held_count() const {
    int held = 0;
    for (const HubObject &object : objects_)
        held += object.held ? 1 : 0;
    return held;
}

void Session::check_depth(const char *after) {
    int depth = thr_debug_total_depth();
    if (depth != held_count()) {
        std::ostringstream text;
        text << "after " << after << " the thread holds " << depth << " library mutex levels, with "
             << held_count() << " hub locks held";
        violation(text.str());
    }
}

bool Session::hub_id_live(int hub_id) const {
    unsigned char count = 0;
    return sld_hub_get_number_of_nodes(hub_id, &count) == SLD_OK;
}

// A hub that was destroyed takes the hold of its lock with it.
void Session::forget_dead_holds() {
    for (HubObject &object : objects_) {
        if (!object.held)
            continue;
        bool alive = false;
        for (int id : object.hub_ids)
            alive = alive || hub_id_live(id);
        object.held = alive;
    }
}

Session::HubObject *Session::object_of_hub(int hub_id) {
    auto found = hub_objects_.find(hub_id);
    return found == hub_objects_.end() ? nullptr : &objects_[found->second];
}

Session::HubObject *Session::object_of_node(int node_id) {
    auto found = node_hubs_.find(node_id);
    return found == node_hubs_.end() ? nullptr : object_of_hub(found->second);
}

SLD_ERROR Session::get_hardware(std::vector<std::string> *names) {
    unsigned long count = 12345;
    char **table = untouched_marker<char *>();
    SLD_ERROR status = sld_get_hardware(&count, &table);
    if (status == SLD_OK) {
        if (count == 0 || table == nullptr || table == untouched_marker<char *>()) {
            violation("sld_get_hardware succeeded without a count and a name table");
        } else {
            for (unsigned long i = 0; i < count && i < 1024; ++i) {
                if (table[i] == nullptr)
                    violation("sld_get_hardware listed a null name");
                else
                    names->push_back(table[i]);
            }
        }
    } else if (status == SLD_HARDWARE_NOT_FOUND && count != 0) {
        violation("sld_get_hardware found no hardware but wrote a count");
    }
    return note(Api::get_hardware, status);
}

SLD_ERROR Session::get_device(const std::string &hardware, std::vector<std::string> *devices) {
    unsigned long count = 12345;
    char **table = untouched_marker<char *>();
    SLD_ERROR status = sld_get_device(hardware.c_str(), &count, &table);
    if (status == SLD_OK) {
        if (count == 0 || table == nullptr || table == untouched_marker<char *>()) {
            violation("sld_get_device succeeded without a count and a device table");
        } else {
            for (unsigned long i = 0; i < count; ++i) {
                if (table[i] == nullptr || table[i][0] != '@')
                    violation("sld_get_device listed a malformed device string");
                else
                    devices->push_back(table[i]);
            }
        }
    } else if (status == SLD_DEVICE_NOT_FOUND && (count != 0 || table != nullptr)) {
        violation("sld_get_device found no devices but did not write count 0 and a null table");
    }
    return note(Api::get_device, status);
}

int Session::hub_open(const std::string &hardware, const std::string &device) {
    int id = -7;
    SLD_ERROR status = sld_hub_open(hardware.c_str(), device.c_str(), &id);
    if (status == SLD_OK) {
        SCX_OPEN *handle = nullptr;
        if (id < 0 || id >= 128) {
            violation("sld_hub_open succeeded with hub id " + std::to_string(id));
        } else if (hub_objects_.count(id) != 0) {
            violation("sld_hub_open handed out hub id " + std::to_string(id) + " twice");
        } else if (sld_hub_get_scx_open_id(id, &handle) != SLD_OK || handle == nullptr) {
            violation("a freshly opened hub id has no device handle");
        } else {
            size_t index = objects_.size();
            for (size_t i = 0; i < objects_.size(); ++i) {
                if (objects_[i].handle != handle)
                    continue;
                for (int other : objects_[i].hub_ids)
                    if (hub_id_live(other))
                        index = i;
            }
            if (index == objects_.size())
                objects_.push_back(HubObject{handle, false, {}});
            objects_[index].hub_ids.push_back(id);
            hub_objects_[id] = index;
        }
    } else if (status == SLD_UNSUPPORTED_HUB ? id != -3 : id != -1 && status != SLD_NULL_ARGUMENT) {
        violation(describe(Api::hub_open, status) + " and wrote hub id " + std::to_string(id));
    }
    note(Api::hub_open, status);
    return status == SLD_OK ? id : -1;
}

SLD_ERROR Session::hub_close(int hub_id) {
    SLD_ERROR status = sld_hub_close(hub_id);
    if (status == SLD_OK) {
        HubObject *object = object_of_hub(hub_id);
        if (object == nullptr) {
            violation("sld_hub_close closed hub id " + std::to_string(hub_id) +
                      ", which the run never opened");
        } else {
            for (size_t i = 0; i < object->hub_ids.size(); ++i)
                if (object->hub_ids[i] == hub_id)
                    object->hub_ids.erase(object->hub_ids.begin() + static_cast<long>(i));
            hub_objects_.erase(hub_id);
        }
    }
    return note(Api::hub_close, status);
}

SLD_ERROR Session::scx_device_open(const std::string &hardware, const std::string &device) {
    SCX_OPEN *handle = untouched_marker<SCX_OPEN>();
    SLD_ERROR status = sld_scx_device_open(hardware.c_str(), device.c_str(), &handle);
    if (status == SLD_OK) {
        if (handle == nullptr || handle == untouched_marker<SCX_OPEN>())
            violation("sld_scx_device_open succeeded without a handle");
        else
            raw_handles_.push_back(handle);
    } else if (handle != nullptr && handle != untouched_marker<SCX_OPEN>()) {
        violation(describe(Api::scx_device_open, status) + " with a handle");
    }
    return note(Api::scx_device_open, status);
}

SLD_ERROR Session::number_of_nodes(int hub_id, unsigned char *count) {
    *count = 77;
    SLD_ERROR status = sld_hub_get_number_of_nodes(hub_id, count);
    if (status == SLD_OK ? *count == 0 : *count != 0)
        violation(describe(Api::hub_get_number_of_nodes, status) + " with count " + std::to_string(*count));
    return note(Api::hub_get_number_of_nodes, status);
}

SLD_ERROR Session::node_info(int hub_id, unsigned char index) {
    SLD_NODE_INFO info;
    std::memset(&info, 0xAB, sizeof info);
    SLD_ERROR status = sld_hub_get_node_info(hub_id, index, &info);
    SLD_NODE_INFO zero;
    std::memset(&zero, 0, sizeof zero);
    if (status != SLD_OK && std::memcmp(&info, &zero, sizeof info) != 0)
        violation(describe(Api::hub_get_node_info, status) + " without clearing the record");
    return note(Api::hub_get_node_info, status);
}

int Session::node_open(int hub_id, unsigned char index) {
    int id = -7;
    SLD_ERROR status = sld_node_open(hub_id, index, &id);
    if (status == SLD_OK) {
        if (id < 0 || id >= 512)
            violation("sld_node_open succeeded with node id " + std::to_string(id));
        else if (node_hubs_.count(id) != 0)
            violation("sld_node_open handed out node id " + std::to_string(id) + " twice");
        else
            node_hubs_[id] = hub_id;
    } else if (id != -1) {
        violation(describe(Api::node_open, status) + " and wrote node id " + std::to_string(id));
    }
    note(Api::node_open, status);
    return status == SLD_OK ? id : -1;
}

SLD_ERROR Session::node_close(int node_id) {
    SLD_ERROR status = sld_node_close(node_id);
    if (status == SLD_OK && node_hubs_.erase(node_id) == 0)
        violation("sld_node_close closed node id " + std::to_string(node_id) +
                  ", which the run never opened");
    return note(Api::node_close, status);
}

void Session::lock_result(HubObject *object, Api fn, SLD_ERROR status) {
    if (object == nullptr) {
        if (status == SLD_OK)
            violation(std::string(api_name(fn)) + " locked a hub through an id the run does not hold");
        return;
    }
    if (object->held) {
        if (status != SLD_ALREADY_LOCKED)
            violation(describe(fn, status) + " on a hub the thread already holds");
        return;
    }
    object->held = status == SLD_OK;
}

void Session::unlock_result(HubObject *object, Api fn, SLD_ERROR status) {
    if (object != nullptr && object->held) {
        // The hold ends whatever the device answered.
        object->held = false;
        return;
    }
    bool refused = status == SLD_NOT_LOCKED || status == SLD_DEVICE_NOT_FOUND ||
                   status == SLD_INVALID_NODE_ID || status == SLD_STALE_ID;
    if (!refused)
        violation(describe(fn, status) + " on a hub the thread does not hold");
}

SLD_ERROR Session::hub_lock(int hub_id, unsigned long timeout) {
    SLD_ERROR status = sld_hub_lock(hub_id, timeout);
    lock_result(object_of_hub(hub_id), Api::hub_lock, status);
    return note(Api::hub_lock, status);
}

SLD_ERROR Session::hub_unlock(int hub_id) {
    SLD_ERROR status = sld_hub_unlock(hub_id);
    unlock_result(object_of_hub(hub_id), Api::hub_unlock, status);
    return note(Api::hub_unlock, status);
}

SLD_ERROR Session::node_lock(int node_id, unsigned long timeout, bool manual) {
    Api fn = manual ? Api::node_lock_manual : Api::node_lock;
    SLD_ERROR status = manual ? sld_node_lock_manual(node_id, timeout) : sld_node_lock(node_id, timeout);
    lock_result(object_of_node(node_id), fn, status);
    return note(fn, status);
}

SLD_ERROR Session::node_unlock(int node_id) {
    SLD_ERROR status = sld_node_unlock(node_id);
    unlock_result(object_of_node(node_id), Api::node_unlock, status);
    return note(Api::node_unlock, status);
}

SLD_ERROR Session::broadcast_end(int hub_id) {
    SLD_ERROR status = sld_hub_broadcast_end(hub_id);
    HubObject *object = object_of_hub(hub_id);
    // An end that ran sends under the hub lock and releases it, also one the
    // caller held, whether or not its scans failed.
    if (status != SLD_BROADCAST_INACTIVE && object != nullptr)
        object->held = false;
    return note(Api::hub_broadcast_end, status);
}

void Session::close_everything() {
    for (HubObject &object : objects_) {
        if (!object.held)
            continue;
        for (int id : object.hub_ids) {
            if (!hub_id_live(id))
                continue;
            SLD_ERROR status = sld_hub_unlock(id);
            if (status != SLD_OK)
                violation("releasing a held hub: " + describe(Api::hub_unlock, status));
            break;
        }
        object.held = false;
    }
    check_depth("releasing every hub lock");
    for (const auto &node : node_hubs_) {
        SLD_ERROR status = sld_node_close(node.first);
        if (status != SLD_OK)
            violation("closing node id " + std::to_string(node.first) + ": " +
                      describe(Api::node_close, status));
    }
    node_hubs_.clear();
    for (const auto &hub : hub_objects_) {
        SLD_ERROR status = sld_hub_close(hub.first);
        if (status != SLD_OK)
            violation("closing hub id " + std::to_string(hub.first) + ": " +
                      describe(Api::hub_close, status));
    }
    hub_objects_.clear();
    objects_.clear();
    for (SCX_OPEN *handle : raw_handles_)
        if (scx_close_device(handle) != SCX_NO_ERROR)
            violation("a raw device handle from sld_scx_device_open does not close");
    raw_handles_.clear();
    sld_disable_scx_log();
    sld_clear_scx_log();
    SLD_SCX_LOG_RECORD *head = nullptr;
    sld_get_scx_log_head(&head);
    if (head != nullptr)
        violation("the scan log is not empty after sld_clear_scx_log");
    check_depth("closing everything");
}
