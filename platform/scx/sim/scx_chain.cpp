// The scx_ functions on hardware and chains: enumeration, names, the chain
// lock, chain scan and read, and opening devices.
#include <cstring>

#include "scx/scx.h"
#include "scx_guard.h"
#include "sim_backend.h"
#include "world.h"

using namespace scxsim;
using namespace scxsim::detail;

namespace {

void fill_hardware(World &w, const Cable &c, SCX_HARDWARE *r) {
    std::memset(r, 0, sizeof *r);
    r->chain = w.chain_handle(c.persistent_id);
    r->persistent_id = c.persistent_id;
    r->name = c.name_ptr;
    r->flags = c.flags;
}

// Answer of a chain-level call on a known cable that another client may hold.
SCX_ERROR chain_usable(const Cable &c) {
    if (c.flags & FLAG_UNAVAILABLE)
        return E_UNAVAILABLE;
    if (c.held_by_other())
        return E_LOCKED;
    return SCX_NO_ERROR;
}

} // namespace

SCX_ERROR SimBackend::get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout) {
    return guarded([&] {
        ApiCall c(Fn::get_hardware);
        c.arg(count ? *count : 0);
        c.arg(records != nullptr);
        c.arg(timeout);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!count)
            return c.finish(E_BAD_ARGUMENT);
        const unsigned long n = c.w.cables.size();
        if (!records || *count < n) {
            *count = n;
            return c.finish(E_SIZE);
        }
        for (unsigned long i = 0; i < n; ++i)
            fill_hardware(c.w, *c.w.cables[i], &records[i]);
        const SCX_ERROR r = *count > n ? E_FETCH_SHORT : SCX_NO_ERROR;
        *count = n;
        return c.finish(r);
    });
}

SCX_ERROR SimBackend::find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout) {
    return guarded([&] {
        ApiCall c(Fn::find_hardware);
        c.text(full_name);
        c.arg(timeout);
        Cable *found = nullptr;
        if (full_name)
            for (auto &cb : c.w.cables)
                if (cb->full_name && *cb->full_name == full_name) {
                    found = cb.get();
                    break;
                }
        if (found)
            c.cable(found->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!full_name || !record)
            return c.finish(E_BAD_ARGUMENT);
        if (!found)
            return c.finish(E_NO_HARDWARE);
        fill_hardware(c.w, *found, record);
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                  unsigned long *length) {
    return guarded([&] {
        ApiCall c(Fn::print_hardware_name);
        c.arg(buffer != nullptr);
        c.arg(size);
        c.arg(long_name);
        c.arg(length != nullptr);
        Cable *cb = c.w.cable_of_chain(chain);
        if (cb)
            c.cable(cb->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!cb)
            return c.finish(E_UNKNOWN_HANDLE);
        if (!buffer && size > 0)
            return c.finish(E_BAD_ARGUMENT);
        const std::optional<std::string> &name = long_name ? cb->full_name : cb->name;
        if (!name)
            return c.finish(E_NO_NAME);
        const unsigned long len = name->size();
        if (!buffer || size < len) {
            if (length)
                *length = len;
            return c.finish(E_SIZE);
        }
        std::memcpy(buffer, name->data(), len);
        if (size > len)
            buffer[len] = '\0';
        if (length)
            *length = len;
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::lock_chain(SCX_CHAIN *chain, unsigned long timeout) {
    return guarded([&] {
        ApiCall c(Fn::lock_chain);
        c.arg(timeout);
        Cable *cb = c.w.cable_of_chain(chain);
        if (cb)
            c.cable(cb->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!cb)
            return c.finish(E_UNKNOWN_HANDLE);
        if (cb->flags & FLAG_UNAVAILABLE)
            return c.finish(E_UNAVAILABLE);
        if (cb->holder == Cable::Holder::local && !cb->held_by_other())
            return c.finish(E_LOCKED); // this thread holds it already
        SCX_ERROR outcome = E_LOCKED;
        World &w = c.w;
        w.wait(c.lock, timeout, [&] {
            Cable *now = w.cable_of_chain(chain);
            if (!now) {
                outcome = E_UNKNOWN_HANDLE;
                return true;
            }
            if (now->holder != Cable::Holder::none)
                return false;
            now->holder = Cable::Holder::local;
            now->holder_thread = std::this_thread::get_id();
            outcome = SCX_NO_ERROR;
            return true;
        });
        return c.finish(outcome);
    });
}

SCX_ERROR SimBackend::unlock_chain(SCX_CHAIN *chain) {
    return guarded([&] {
        ApiCall c(Fn::unlock_chain);
        Cable *cb = c.w.cable_of_chain(chain);
        if (cb)
            c.cable(cb->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!cb)
            return c.finish(E_UNKNOWN_HANDLE);
        if (cb->holder != Cable::Holder::local || cb->held_by_other())
            return c.finish(E_NOT_LOCKED);
        cb->holder = Cable::Holder::none;
        c.w.cv.notify_all();
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::scan_device_chain(SCX_CHAIN *chain) {
    return guarded([&] {
        ApiCall c(Fn::scan_device_chain);
        Cable *cb = c.w.cable_of_chain(chain);
        if (cb)
            c.cable(cb->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!cb)
            return c.finish(E_UNKNOWN_HANDLE);
        if (SCX_ERROR e = chain_usable(*cb))
            return c.finish(e);
        const bool changed = cb->changed;
        cb->changed = false;
        return c.finish(changed ? E_CHAIN_CHANGED_SCAN : SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records, bool flag) {
    return guarded([&] {
        ApiCall c(Fn::read_device_chain);
        c.arg(count ? *count : 0);
        c.arg(records != nullptr);
        c.arg(flag);
        Cable *cb = c.w.cable_of_chain(chain);
        if (cb)
            c.cable(cb->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!cb)
            return c.finish(E_UNKNOWN_HANDLE);
        if (!count)
            return c.finish(E_BAD_ARGUMENT);
        if (SCX_ERROR e = chain_usable(*cb))
            return c.finish(e);
        const unsigned long n = cb->chain.size();
        if (!records || *count < n) {
            *count = n;
            return c.finish(E_SIZE);
        }
        for (unsigned long i = 0; i < n; ++i) {
            const Device &d = *cb->chain[i];
            std::memset(&records[i], 0, sizeof records[i]);
            records[i].idcode = d.desc.idcode;
            records[i].name = flag ? d.name : nullptr;
        }
        *count = n;
        return c.finish(SCX_NO_ERROR);
    });
}

SCX_ERROR SimBackend::open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle,
                          const SCX_CLAIM *claims, unsigned long claim_count, const char *application) {
    return guarded([&] {
        ApiCall c(Fn::open_device);
        c.arg(position);
        c.arg(claim_count);
        c.text(application);
        Cable *cb = c.w.cable_of_chain(chain);
        if (cb)
            c.cable(cb->persistent_id);
        if (c.faulted)
            return c.finish(c.fault_code);
        if (!cb)
            return c.finish(E_UNKNOWN_HANDLE);
        if (!handle || (claim_count > 0 && !claims) || !application)
            return c.finish(E_BAD_ARGUMENT);
        if (SCX_ERROR e = chain_usable(*cb))
            return c.finish(e);
        if (cb->changed)
            return c.finish(E_RESCAN_NEEDED);
        if (position >= cb->chain.size())
            return c.finish(E_NO_DEVICE);
        if (c.w.opens.size() >= MAX_OPEN_HANDLES)
            return c.finish(E_NO_RESOURCES);
        const uintptr_t token = c.w.new_token();
        c.w.opens.emplace(token, OpenRecord{cb->persistent_id, cb->chain[position]});
        *handle = reinterpret_cast<SCX_OPEN *>(token);
        return c.finish(SCX_NO_ERROR);
    });
}
