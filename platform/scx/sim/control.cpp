// The control API: boards, hot-plug, faults, the foreign client, the trace
// and the device side of nodes.
#include <algorithm>

#include "scxsim.h"
#include "world.h"

namespace scxsim {

using namespace detail;

namespace {

using Lock = std::lock_guard<std::mutex>;

void set_error(std::string *error, const std::string &message) {
    if (error)
        *error = message;
}

bool load_parsed(const std::string &text, const std::string &source, std::string *error) {
    BoardDesc board;
    if (!parse_board(text, source, &board, error))
        return false;
    World &w = world();
    Lock l(w.mu);
    w.build(board);
    return true;
}

// A device description for a hot-plug call; also checks the cable and
// position under the world mutex later.
bool parse_device_arg(const std::string &json, DeviceDesc *d, std::string *error) {
    return parse_device(json, "device", d, error);
}

template <typename Body> bool guarded_bool(Body body, std::string *error = nullptr) {
    try {
        return body();
    } catch (const std::exception &e) {
        set_error(error, std::string("scxsim: ") + e.what());
    } catch (...) {
        set_error(error, "scxsim: unexpected failure");
    }
    return false;
}

} // namespace

bool load_board_file(const std::string &path, std::string *error) {
    return guarded_bool(
        [&] {
            std::string text;
            if (!read_text_file(path, &text)) {
                set_error(error, path + ": cannot read the file");
                return false;
            }
            return load_parsed(text, path, error);
        },
        error);
}

bool load_board_string(const std::string &json, std::string *error) {
    return guarded_bool([&] { return load_parsed(json, "board", error); }, error);
}

void reset() {
    World &w = world();
    Lock l(w.mu);
    w.build(w.home);
    w.rec.clear_faults();
    w.rec.clear_delays();
    w.rec.clear_trace();
    w.rec.reset_counts();
    w.rec.tracing = true;
    w.lock_wait_limit = NO_WAIT_LIMIT;
}

bool add_cable(const std::string &cable_json, std::string *error) {
    return guarded_bool(
        [&] {
            CableDesc d;
            if (!parse_cable(cable_json, "cable", &d, error))
                return false;
            World &w = world();
            Lock l(w.mu);
            if (w.cable(d.persistent_id)) {
                set_error(error, "cable: $.persistent_id: a cable with persistent id " +
                                     std::to_string(d.persistent_id) + " exists already");
                return false;
            }
            w.cables.push_back(w.make_cable(d));
            return true;
        },
        error);
}

bool remove_cable(unsigned long persistent_id) {
    World &w = world();
    Lock l(w.mu);
    for (size_t i = 0; i < w.cables.size(); ++i)
        if (w.cables[i]->persistent_id == persistent_id) {
            w.remove_cable(i);
            return true;
        }
    return false;
}

bool renew_chain_handle(unsigned long persistent_id) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c)
        return false;
    w.renew_chain(*c);
    return true;
}

SCX_CHAIN *chain_handle(unsigned long persistent_id) {
    World &w = world();
    Lock l(w.mu);
    return w.cable(persistent_id) ? w.chain_handle(persistent_id) : nullptr;
}

bool set_cable_name(unsigned long persistent_id, const std::string &name) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c)
        return false;
    c->name = name.empty() ? std::nullopt : std::optional<std::string>(name);
    c->name_ptr = w.intern(c->name);
    return true;
}

bool set_cable_full_name(unsigned long persistent_id, const std::string &full_name) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c)
        return false;
    c->full_name = full_name.empty() ? std::nullopt : std::optional<std::string>(full_name);
    return true;
}

bool set_cable_flags(unsigned long persistent_id, unsigned long flags) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c)
        return false;
    c->flags = flags;
    return true;
}

namespace {

// Finds the cable and checks the position for a hot-plug call on a device.
Cable *hotplug_cable(World &w, unsigned long persistent_id, unsigned long position, bool end_allowed,
                     std::string *error) {
    Cable *c = w.cable(persistent_id);
    if (!c) {
        set_error(error, "no cable with persistent id " + std::to_string(persistent_id));
        return nullptr;
    }
    if (position > c->chain.size() || (!end_allowed && position == c->chain.size())) {
        set_error(error,
                  "cable " + std::to_string(persistent_id) + " has no position " + std::to_string(position));
        return nullptr;
    }
    return c;
}

} // namespace

bool insert_device(unsigned long persistent_id, unsigned long position, const std::string &device_json,
                   std::string *error) {
    return guarded_bool(
        [&] {
            DeviceDesc d;
            if (!parse_device_arg(device_json, &d, error))
                return false;
            World &w = world();
            Lock l(w.mu);
            Cable *c = hotplug_cable(w, persistent_id, position, true, error);
            if (!c)
                return false;
            c->chain.insert(c->chain.begin() + long(position), w.make_device(d, c));
            c->changed = true;
            return true;
        },
        error);
}

bool replace_device(unsigned long persistent_id, unsigned long position, const std::string &device_json,
                    std::string *error) {
    return guarded_bool(
        [&] {
            DeviceDesc d;
            if (!parse_device_arg(device_json, &d, error))
                return false;
            World &w = world();
            Lock l(w.mu);
            Cable *c = hotplug_cable(w, persistent_id, position, false, error);
            if (!c)
                return false;
            std::shared_ptr<Device> fresh = w.make_device(d, c);
            w.detach(*c->chain[position]);
            c->chain[position] = fresh;
            c->changed = true;
            return true;
        },
        error);
}

bool remove_device(unsigned long persistent_id, unsigned long position) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = hotplug_cable(w, persistent_id, position, false, nullptr);
    if (!c)
        return false;
    w.detach(*c->chain[position]);
    c->chain.erase(c->chain.begin() + long(position));
    c->changed = true;
    return true;
}

bool set_idcode(unsigned long persistent_id, unsigned long position, unsigned long idcode) {
    World &w = world();
    Lock l(w.mu);
    Device *d = w.device_at(persistent_id, position);
    if (!d || idcode > 0xFFFFFFFFUL)
        return false;
    d->desc.idcode = uint32_t(idcode);
    d->cable->changed = true;
    return true;
}

void fail_call(Fn fn, unsigned long k, SCX_ERROR code) {
    World &w = world();
    Lock l(w.mu);
    w.rec.fail_call(fn, k, code);
}

void fail_every(Fn fn, SCX_ERROR code) {
    World &w = world();
    Lock l(w.mu);
    w.rec.fail_every(fn, code);
}

void clear_faults() {
    World &w = world();
    Lock l(w.mu);
    w.rec.clear_faults();
}

void set_call_delay(Fn fn, unsigned long microseconds) {
    world().rec.set_delay(fn, microseconds);
}

unsigned long call_count(Fn fn) {
    World &w = world();
    Lock l(w.mu);
    return w.rec.count(fn);
}

void reset_call_count() {
    World &w = world();
    Lock l(w.mu);
    w.rec.reset_counts();
}

void set_lock_wait_limit(unsigned long milliseconds) {
    World &w = world();
    Lock l(w.mu);
    w.lock_wait_limit = milliseconds;
}

bool foreign_lock_chain(unsigned long persistent_id) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c || c->holder != Cable::Holder::none)
        return false;
    c->holder = Cable::Holder::foreign;
    return true;
}

bool foreign_unlock_chain(unsigned long persistent_id) {
    World &w = world();
    Lock l(w.mu);
    Cable *c = w.cable(persistent_id);
    if (!c || c->holder != Cable::Holder::foreign)
        return false;
    c->holder = Cable::Holder::none;
    w.cv.notify_all();
    return true;
}

bool foreign_lock_device(unsigned long persistent_id, unsigned long position) {
    World &w = world();
    Lock l(w.mu);
    Device *d = w.device_at(persistent_id, position);
    if (!d || d->lock_owner != 0)
        return false;
    d->lock_owner = FOREIGN_OWNER;
    return true;
}

bool foreign_unlock_device(unsigned long persistent_id, unsigned long position) {
    World &w = world();
    Lock l(w.mu);
    Device *d = w.device_at(persistent_id, position);
    if (!d || d->lock_owner != FOREIGN_OWNER)
        return false;
    d->lock_owner = 0;
    w.cv.notify_all();
    return true;
}

void set_tracing(bool on) {
    World &w = world();
    Lock l(w.mu);
    w.rec.tracing = on;
}

void clear_trace() {
    World &w = world();
    Lock l(w.mu);
    w.rec.clear_trace();
}

std::vector<Call> trace() {
    World &w = world();
    Lock l(w.mu);
    std::vector<Call> out;
    out.reserve(w.rec.entries.size());
    for (const TraceEntry &e : w.rec.entries)
        out.push_back(w.rec.to_call(e));
    return out;
}

std::vector<std::string> trace_text() {
    std::vector<std::string> out;
    for (const Call &c : trace())
        out.push_back(c.text());
    return out;
}

std::vector<std::string> trace_text(Fn fn) {
    std::vector<std::string> out;
    for (const Call &c : trace())
        if (fn == Fn::any || c.fn == fn)
            out.push_back(c.text());
    return out;
}

std::vector<std::string> trace_text_of_cable(unsigned long persistent_id) {
    std::vector<std::string> out;
    for (const Call &c : trace())
        if (c.cable == persistent_id)
            out.push_back(c.text());
    return out;
}

bool memory_peek(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                 uint64_t *word) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    return n && n->memory_peek(address, word);
}

bool memory_poke(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                 uint64_t word) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    return n && n->memory_poke(address, word);
}

bool stream_send(unsigned long cable, unsigned long position, unsigned node,
                 const std::vector<uint8_t> &bytes) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    return n && n->stream_send(bytes);
}

std::vector<uint8_t> stream_receive(unsigned long cable, unsigned long position, unsigned node) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    return n ? n->stream_receive() : std::vector<uint8_t>();
}

bool probe_set(unsigned long cable, unsigned long position, unsigned node, const std::vector<uint8_t> &bits) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    return n && n->probe_set(bits);
}

std::vector<uint8_t> source_get(unsigned long cable, unsigned long position, unsigned node) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    return n ? n->source_get() : std::vector<uint8_t>();
}

bool node_instruction(unsigned long cable, unsigned long position, unsigned node,
                      unsigned long *instruction) {
    World &w = world();
    Lock l(w.mu);
    Node *n = w.node_at(cable, position, node);
    if (!n || !instruction)
        return false;
    *instruction = static_cast<unsigned long>(n->instruction());
    return true;
}

std::vector<unsigned long> cable_ids() {
    World &w = world();
    Lock l(w.mu);
    std::vector<unsigned long> ids;
    for (const auto &c : w.cables)
        ids.push_back(c->persistent_id);
    return ids;
}

unsigned long open_handle_count(unsigned long persistent_id) {
    World &w = world();
    Lock l(w.mu);
    unsigned long n = 0;
    for (const auto &o : w.opens)
        if (persistent_id == 0 || o.second.persistent_id == persistent_id)
            ++n;
    return n;
}

bool device_locked(unsigned long persistent_id, unsigned long position) {
    World &w = world();
    Lock l(w.mu);
    Device *d = w.device_at(persistent_id, position);
    return d && d->lock_owner != 0;
}

} // namespace scxsim
