// Call counts, fault injection, delays and the call trace.
#include "record.h"

#include <cstdio>

namespace scxsim {
namespace detail {

Recorder::Recorder() {
    for (size_t i = 0; i < FN_COUNT; ++i) {
        counts_[i] = 0;
        every_set_[i] = false;
        every_[i] = 0;
        delays_[i].store(0);
    }
}

bool Recorder::take_call(Fn fn, SCX_ERROR *code) {
    ++counts_[fn_index(fn)];
    ++counts_[fn_index(Fn::any)];
    bool fired = false;
    for (size_t i = 0; i < armed_.size();) {
        Armed &a = armed_[i];
        if ((a.fn == fn || a.fn == Fn::any) && --a.remaining == 0) {
            if (!fired)
                *code = a.code;
            fired = true;
            armed_.erase(armed_.begin() + long(i));
            continue;
        }
        ++i;
    }
    if (fired)
        return true;
    if (every_set_[fn_index(fn)]) {
        *code = every_[fn_index(fn)];
        return true;
    }
    if (every_set_[fn_index(Fn::any)]) {
        *code = every_[fn_index(Fn::any)];
        return true;
    }
    return false;
}

void Recorder::fail_call(Fn fn, unsigned long k, SCX_ERROR code) {
    armed_.push_back(Armed{fn, k == 0 ? 1 : k, code});
}

void Recorder::fail_every(Fn fn, SCX_ERROR code) {
    every_set_[fn_index(fn)] = true;
    every_[fn_index(fn)] = code;
}

void Recorder::clear_faults() {
    armed_.clear();
    for (size_t i = 0; i < FN_COUNT; ++i)
        every_set_[i] = false;
}

void Recorder::reset_counts() {
    for (size_t i = 0; i < FN_COUNT; ++i)
        counts_[i] = 0;
}

unsigned long Recorder::delay(Fn fn) const {
    const unsigned long own = delays_[fn_index(fn)].load(std::memory_order_relaxed);
    const unsigned long all = delays_[fn_index(Fn::any)].load(std::memory_order_relaxed);
    return own > all ? own : all;
}

void Recorder::clear_delays() {
    for (size_t i = 0; i < FN_COUNT; ++i)
        delays_[i].store(0);
}

void Recorder::add(TraceEntry e) {
    if (e.has_bits) {
        e.written_at += pool_base_;
        e.read_at += pool_base_;
    }
    entries.push_back(std::move(e));
    while (limit_ != 0 && entries.size() > limit_)
        drop_oldest();
}

void Recorder::drop_oldest() {
    const TraceEntry &e = entries.front();
    if (e.has_bits) {
        if (e.written_len != 0 && e.written_at + e.written_len > dead_end_)
            dead_end_ = e.written_at + e.written_len;
        if (e.read_len != 0 && e.read_at + e.read_len > dead_end_)
            dead_end_ = e.read_at + e.read_len;
    }
    entries.pop_front();
    // Bytes go in bulk once they are most of the pool, so that each byte
    // is moved a bounded number of times.
    const size_t dead = dead_end_ - pool_base_;
    if (dead >= 4096 && dead * 2 >= pool.size()) {
        pool.erase(pool.begin(), pool.begin() + long(dead));
        pool_base_ = dead_end_;
    }
}

void Recorder::set_limit(unsigned long calls) {
    limit_ = calls;
    while (limit_ != 0 && entries.size() > limit_)
        drop_oldest();
}

void Recorder::clear_trace() {
    entries.clear();
    pool.clear();
    pool_base_ = 0;
    dead_end_ = 0;
}

Call Recorder::to_call(const TraceEntry &e) const {
    Call c;
    c.fn = e.fn;
    c.cable = e.cable;
    c.args.assign(e.args, e.args + e.nargs);
    c.text_arg = e.text;
    c.text_arg_null = e.text_null;
    if (e.has_bits && e.written_len != 0) {
        const auto from = pool.begin() + long(e.written_at - pool_base_);
        c.written.assign(from, from + long(e.written_len));
    }
    if (e.has_bits && e.read_len != 0) {
        const auto from = pool.begin() + long(e.read_at - pool_base_);
        c.read.assign(from, from + long(e.read_len));
    }
    c.result = e.result;
    return c;
}

} // namespace detail

const char *fn_name(Fn fn) {
    switch (fn) {
    case Fn::any:
        return "any";
    case Fn::get_hardware:
        return "get_hardware";
    case Fn::find_hardware:
        return "find_hardware";
    case Fn::print_hardware_name:
        return "print_hardware_name";
    case Fn::lock_chain:
        return "lock_chain";
    case Fn::unlock_chain:
        return "unlock_chain";
    case Fn::scan_device_chain:
        return "scan_device_chain";
    case Fn::read_device_chain:
        return "read_device_chain";
    case Fn::open_device:
        return "open_device";
    case Fn::close_device:
        return "close_device";
    case Fn::lock:
        return "lock";
    case Fn::unlock:
        return "unlock";
    case Fn::access_ir:
        return "access_ir";
    case Fn::access_dr:
        return "access_dr";
    case Fn::run_test_idle:
        return "run_test_idle";
    case Fn::delay:
        return "delay";
    case Fn::flush:
        return "flush";
    }
    return "unknown";
}

std::string Call::text() const {
    std::string s = fn_name(fn);
    s += '(';
    bool first = true;
    auto sep = [&]() {
        if (!first)
            s += ',';
        first = false;
    };
    auto quoted = [&]() {
        sep();
        if (text_arg_null) {
            s += '0';
        } else {
            s += '"';
            s += text_arg;
            s += '"';
        }
    };
    if (fn == Fn::find_hardware)
        quoted();
    for (unsigned long a : args) {
        sep();
        s += std::to_string(a);
    }
    if (fn == Fn::open_device)
        quoted();
    s += ')';
    if (fn == Fn::access_dr) {
        s += '[';
        char hex[3];
        for (uint8_t b : written) {
            std::snprintf(hex, sizeof hex, "%02x", b);
            s += hex;
        }
        s += ']';
    }
    s += '=';
    s += std::to_string(result);
    return s;
}

} // namespace scxsim
