// The world's structure: building it from a board, handle registry, chain
// handles that stay stable per persistent id, and the call frame.
#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bits.h"

namespace scxsim {

std::string default_board_json();

namespace detail {

Device::Device(const DeviceDesc &d, const char *n, Cable *c)
    : desc(d), name(n), instruction(d.idcode_instruction), cable(c) {
    if (desc.hub)
        hub.reset(new Hub(*desc.hub));
}

void Device::ir_scan(uint32_t value, unsigned long *captured) {
    if (captured)
        *captured = desc.ir_capture;
    instruction = value;
}

namespace {

const uint32_t IR_SELECT_VIR = 14, IR_SELECT_VDR = 12;

} // namespace

Device::DataRegister Device::selected_register() const {
    if (hub && instruction == IR_SELECT_VIR)
        return DataRegister::vir;
    if (hub && instruction == IR_SELECT_VDR)
        return DataRegister::vdr;
    if (instruction == desc.idcode_instruction)
        return DataRegister::idcode;
    return DataRegister::bypass;
}

unsigned Device::register_width(DataRegister r) const {
    switch (r) {
    case DataRegister::idcode:
        return 32;
    case DataRegister::vir:
        return hub->vir_width();
    case DataRegister::vdr:
        return hub->vdr_width();
    case DataRegister::bypass:
        break;
    }
    return 1;
}

void Device::capture_register(DataRegister r, uint8_t *bits) {
    switch (r) {
    case DataRegister::idcode:
        put_u64(bits, 32, desc.idcode);
        break;
    case DataRegister::vir:
        hub->vir_capture(bits);
        break;
    case DataRegister::vdr:
        hub->vdr_capture(bits);
        break;
    case DataRegister::bypass:
        break;
    }
}

void Device::update_register(DataRegister r, const uint8_t *bits) {
    if (r == DataRegister::vir)
        hub->vir_update(bits);
    else if (r == DataRegister::vdr)
        hub->vdr_update(bits);
}

void Device::dr_scan(size_t length, const uint8_t *in, size_t in_bits, uint8_t *out, size_t out_bits) {
    const DataRegister r = selected_register();
    const unsigned width = register_width(r);
    uint8_t cap[MAX_REGISTER_BYTES];
    uint8_t reg[MAX_REGISTER_BYTES];
    std::memset(cap, 0, bytes_for(width));
    capture_register(r, cap);
    shift_through(cap, width, length, in, in_bits, reg, out, out_bits);
    update_register(r, reg);
}

World::World() {}

const char *World::intern(const std::optional<std::string> &s) {
    if (!s)
        return nullptr;
    return strings_.insert(*s).first->c_str();
}

Cable *World::cable(unsigned long persistent_id) {
    for (auto &c : cables)
        if (c->persistent_id == persistent_id)
            return c.get();
    return nullptr;
}

Cable *World::cable_of_chain(SCX_CHAIN *chain) {
    auto it = pid_of_chain_.find(reinterpret_cast<uintptr_t>(chain));
    if (it == pid_of_chain_.end())
        return nullptr;
    return cable(it->second);
}

OpenRecord *World::open_record(SCX_OPEN *handle) {
    auto it = opens.find(reinterpret_cast<uintptr_t>(handle));
    return it == opens.end() ? nullptr : &it->second;
}

Device *World::device_at(unsigned long persistent_id, unsigned long position) {
    Cable *c = cable(persistent_id);
    if (!c || position >= c->chain.size())
        return nullptr;
    return c->chain[position].get();
}

Node *World::node_at(unsigned long persistent_id, unsigned long position, unsigned node) {
    Device *d = device_at(persistent_id, position);
    if (!d || !d->hub)
        return nullptr;
    return d->hub->node(node);
}

SCX_CHAIN *World::chain_handle(unsigned long persistent_id) {
    auto it = chain_of_pid_.find(persistent_id);
    uintptr_t token;
    if (it != chain_of_pid_.end()) {
        token = it->second;
    } else {
        token = new_token();
        chain_of_pid_[persistent_id] = token;
        pid_of_chain_[token] = persistent_id;
    }
    return reinterpret_cast<SCX_CHAIN *>(token);
}

void World::retire_chain(unsigned long persistent_id) {
    auto it = chain_of_pid_.find(persistent_id);
    if (it == chain_of_pid_.end())
        return;
    pid_of_chain_.erase(it->second);
    chain_of_pid_.erase(it);
}

std::shared_ptr<Device> World::make_device(const DeviceDesc &desc, Cable *cable) {
    return std::make_shared<Device>(desc, intern(desc.name), cable);
}

std::unique_ptr<Cable> World::make_cable(const CableDesc &desc) {
    std::unique_ptr<Cable> c(new Cable);
    c->persistent_id = desc.persistent_id;
    c->name = desc.name;
    c->full_name = desc.full_name;
    c->name_ptr = intern(desc.name);
    c->flags = desc.flags;
    for (const DeviceDesc &d : desc.devices)
        c->chain.push_back(make_device(d, c.get()));
    chain_handle(desc.persistent_id);
    return c;
}

void World::build(const BoardDesc &board) {
    // Build first, so that a failure (out of memory) keeps the old world.
    std::vector<std::unique_ptr<Cable>> fresh;
    for (const CableDesc &c : board.cables)
        fresh.push_back(make_cable(c));
    for (auto &c : cables)
        for (auto &d : c->chain) {
            d->status = Device::Status::cable_gone;
            d->cable = nullptr;
            d->lock_owner = 0;
        }
    opens.clear();
    cables.swap(fresh);
    cv.notify_all();
}

void World::detach(Device &d) {
    d.status = Device::Status::removed;
    d.cable = nullptr;
    d.lock_owner = 0;
    cv.notify_all();
}

void World::remove_cable(size_t index) {
    Cable &c = *cables[index];
    for (auto &d : c.chain) {
        d->status = Device::Status::cable_gone;
        d->cable = nullptr;
        d->lock_owner = 0;
    }
    retire_chain(c.persistent_id);
    cables.erase(cables.begin() + long(index));
    cv.notify_all();
}

void World::renew_chain(Cable &c) {
    retire_chain(c.persistent_id);
    chain_handle(c.persistent_id);
    c.changed = true;
    c.holder = Cable::Holder::none;
    cv.notify_all();
}

World &world() {
    static World *w = [] {
        World *nw = new World;
        std::string text = default_board_json();
        std::string source = "default board";
        const char *env = std::getenv("SCX_SIM_BOARD");
        std::string error, why;
        if (env && *env) {
            source = env;
            if (!read_text_file(env, &text, &why))
                error = source + ": " + why;
        }
        if (error.empty() && !parse_board(text, source, &nw->home, &error))
            nw->home = BoardDesc();
        nw->board_error = error;
        nw->build(nw->home);
        return nw;
    }();
    return *w;
}

ApiCall::ApiCall(Fn fn) : w(world()) {
    if (!w.board_error.empty() && !w.board_error_told.exchange(true))
        std::fprintf(stderr, "scxsim: %s; starting with no cables\n", w.board_error.c_str());
    const unsigned long us = w.rec.delay(fn);
    if (us)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    lock = std::unique_lock<std::mutex>(w.mu);
    faulted = w.rec.take_call(fn, &fault_code);
    e_.fn = fn;
}

void ApiCall::text(const char *s) {
    e_.has_text = true;
    if (!s) {
        e_.text_null = true;
    } else if (w.rec.tracing) {
        e_.text = s;
    }
}

void ApiCall::written(const uint8_t *bits, size_t nbits) {
    e_.has_bits = true;
    if (!w.rec.tracing)
        return;
    std::vector<uint8_t> &pool = w.rec.pool;
    e_.written_at = pool.size();
    if (nbits == 0 || !bits)
        return;
    e_.written_len = bytes_for(nbits);
    pool.insert(pool.end(), bits, bits + e_.written_len);
    if (nbits % 8)
        pool.back() = uint8_t(pool.back() & ((1u << (nbits % 8)) - 1));
}

void ApiCall::read(const uint8_t *bits, size_t nbits) {
    if (!w.rec.tracing || nbits == 0 || !bits)
        return;
    std::vector<uint8_t> &pool = w.rec.pool;
    e_.read_at = pool.size();
    e_.read_len = bytes_for(nbits);
    pool.insert(pool.end(), bits, bits + e_.read_len);
}

SCX_ERROR ApiCall::finish(SCX_ERROR result) {
    if (w.rec.tracing) {
        e_.result = result;
        w.rec.add(std::move(e_));
    }
    return result;
}

} // namespace detail
} // namespace scxsim
