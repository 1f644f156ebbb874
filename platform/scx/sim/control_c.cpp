// The control API with C linkage (scxsim_c.h): each function converts its
// arguments, calls scxsim.h and keeps every exception on this side.
#include "scxsim_c.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "scxsim.h"

namespace {

void write_error(char *error, size_t error_size, const std::string &message) {
    if (error == nullptr || error_size == 0)
        return;
    const size_t n = message.size() < error_size - 1 ? message.size() : error_size - 1;
    std::memcpy(error, message.data(), n);
    error[n] = '\0';
}

// Runs body; a C++ exception becomes a failure with its message.
template <typename Body> int guarded(Body body, char *error = nullptr, size_t error_size = 0) {
    try {
        return body() ? 1 : 0;
    } catch (const std::exception &e) {
        write_error(error, error_size, std::string("scxsim: ") + e.what());
    } catch (...) {
        write_error(error, error_size, "scxsim: unexpected failure");
    }
    return 0;
}

// The message of a C++ call that failed, or an exception's, into error.
template <typename Call> int with_message(Call call, char *error, size_t error_size) {
    return guarded(
        [&] {
            std::string message;
            if (call(&message))
                return true;
            write_error(error, error_size, message.empty() ? "scxsim: refused" : message);
            return false;
        },
        error, error_size);
}

const char *text_or_empty(const char *text) {
    return text != nullptr ? text : "";
}

bool fn_from_name(const char *name, scxsim::Fn *fn) {
    if (name == nullptr)
        return false;
    for (int i = static_cast<int>(scxsim::Fn::any); i <= static_cast<int>(scxsim::Fn::flush); ++i) {
        const scxsim::Fn candidate = static_cast<scxsim::Fn>(i);
        if (std::strcmp(scxsim::fn_name(candidate), name) == 0) {
            *fn = candidate;
            return true;
        }
    }
    return false;
}

// Runs body with the Fn named by name; an unknown name fails.
template <typename Body> int with_fn(const char *name, Body body) {
    return guarded([&] {
        scxsim::Fn fn;
        if (!fn_from_name(name, &fn))
            return false;
        body(fn);
        return true;
    });
}

// Copies count bytes from the caller (null only for none).
bool copy_in(const unsigned char *bytes, size_t count, std::vector<uint8_t> *out) {
    if (bytes == nullptr && count != 0)
        return false;
    out->assign(bytes, bytes + count);
    return true;
}

// Hands bytes over in malloc'd memory (null for none).
template <typename Byte> bool hand_over(const std::vector<uint8_t> &bytes, Byte **out, size_t *count) {
    if (out == nullptr || count == nullptr)
        return false;
    *out = nullptr;
    *count = 0;
    if (bytes.empty())
        return true;
    void *memory = std::malloc(bytes.size());
    if (memory == nullptr)
        return false;
    std::memcpy(memory, bytes.data(), bytes.size());
    *out = static_cast<Byte *>(memory);
    *count = bytes.size();
    return true;
}

std::vector<uint8_t> as_bytes(const std::string &text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

} // namespace

extern "C" {

void scxsim_free(void *memory) {
    std::free(memory);
}

int scxsim_load_board_file(const char *path, char *error, size_t error_size) {
    return with_message([&](std::string *m) { return scxsim::load_board_file(text_or_empty(path), m); },
                        error, error_size);
}

int scxsim_load_board_string(const char *json, char *error, size_t error_size) {
    return with_message([&](std::string *m) { return scxsim::load_board_string(text_or_empty(json), m); },
                        error, error_size);
}

int scxsim_default_board_json(char **text, size_t *length) {
    return guarded([&] { return hand_over(as_bytes(scxsim::default_board_json()), text, length); });
}

void scxsim_reset(void) {
    guarded([] {
        scxsim::reset();
        return true;
    });
}

int scxsim_add_cable(const char *cable_json, char *error, size_t error_size) {
    return with_message([&](std::string *m) { return scxsim::add_cable(text_or_empty(cable_json), m); },
                        error, error_size);
}

int scxsim_remove_cable(unsigned long persistent_id) {
    return guarded([&] { return scxsim::remove_cable(persistent_id); });
}

int scxsim_renew_chain_handle(unsigned long persistent_id) {
    return guarded([&] { return scxsim::renew_chain_handle(persistent_id); });
}

int scxsim_set_cable_name(unsigned long persistent_id, const char *name) {
    return guarded([&] { return scxsim::set_cable_name(persistent_id, text_or_empty(name)); });
}

int scxsim_set_cable_full_name(unsigned long persistent_id, const char *full_name) {
    return guarded([&] { return scxsim::set_cable_full_name(persistent_id, text_or_empty(full_name)); });
}

int scxsim_set_cable_flags(unsigned long persistent_id, unsigned long flags) {
    return guarded([&] { return scxsim::set_cable_flags(persistent_id, flags); });
}

int scxsim_insert_device(unsigned long persistent_id, unsigned long position, const char *device_json,
                         char *error, size_t error_size) {
    return with_message(
        [&](std::string *m) {
            return scxsim::insert_device(persistent_id, position, text_or_empty(device_json), m);
        },
        error, error_size);
}

int scxsim_replace_device(unsigned long persistent_id, unsigned long position, const char *device_json,
                          char *error, size_t error_size) {
    return with_message(
        [&](std::string *m) {
            return scxsim::replace_device(persistent_id, position, text_or_empty(device_json), m);
        },
        error, error_size);
}

int scxsim_remove_device(unsigned long persistent_id, unsigned long position) {
    return guarded([&] { return scxsim::remove_device(persistent_id, position); });
}

int scxsim_set_idcode(unsigned long persistent_id, unsigned long position, unsigned long idcode) {
    return guarded([&] { return scxsim::set_idcode(persistent_id, position, idcode); });
}

int scxsim_fail_call(const char *fn, unsigned long k, unsigned long code) {
    return with_fn(fn, [&](scxsim::Fn f) { scxsim::fail_call(f, k, code); });
}

int scxsim_fail_every(const char *fn, unsigned long code) {
    return with_fn(fn, [&](scxsim::Fn f) { scxsim::fail_every(f, code); });
}

void scxsim_clear_faults(void) {
    guarded([] {
        scxsim::clear_faults();
        return true;
    });
}

int scxsim_set_call_delay(const char *fn, unsigned long microseconds) {
    return with_fn(fn, [&](scxsim::Fn f) { scxsim::set_call_delay(f, microseconds); });
}

int scxsim_call_count(const char *fn, unsigned long *count) {
    if (count == nullptr)
        return 0;
    return with_fn(fn, [&](scxsim::Fn f) { *count = scxsim::call_count(f); });
}

void scxsim_reset_call_count(void) {
    guarded([] {
        scxsim::reset_call_count();
        return true;
    });
}

void scxsim_set_lock_wait_limit(unsigned long milliseconds) {
    guarded([&] {
        scxsim::set_lock_wait_limit(milliseconds);
        return true;
    });
}

int scxsim_foreign_lock_chain(unsigned long persistent_id) {
    return guarded([&] { return scxsim::foreign_lock_chain(persistent_id); });
}

int scxsim_foreign_unlock_chain(unsigned long persistent_id) {
    return guarded([&] { return scxsim::foreign_unlock_chain(persistent_id); });
}

int scxsim_foreign_lock_device(unsigned long persistent_id, unsigned long position) {
    return guarded([&] { return scxsim::foreign_lock_device(persistent_id, position); });
}

int scxsim_foreign_unlock_device(unsigned long persistent_id, unsigned long position) {
    return guarded([&] { return scxsim::foreign_unlock_device(persistent_id, position); });
}

void scxsim_set_tracing(int on) {
    guarded([&] {
        scxsim::set_tracing(on != 0);
        return true;
    });
}

void scxsim_clear_trace(void) {
    guarded([] {
        scxsim::clear_trace();
        return true;
    });
}

int scxsim_trace_text(const char *fn, unsigned long persistent_id, char **text, size_t *length) {
    return guarded([&] {
        scxsim::Fn only = scxsim::Fn::any;
        if (fn != nullptr && !fn_from_name(fn, &only))
            return false;
        std::string lines;
        for (const scxsim::Call &call : scxsim::trace()) {
            if ((only == scxsim::Fn::any || call.fn == only) &&
                (persistent_id == 0 || call.cable == persistent_id))
                lines += call.text() + "\n";
        }
        return hand_over(as_bytes(lines), text, length);
    });
}

int scxsim_memory_peek(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                       uint64_t *word) {
    return guarded([&] { return scxsim::memory_peek(cable, position, node, address, word); });
}

int scxsim_memory_poke(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                       uint64_t word) {
    return guarded([&] { return scxsim::memory_poke(cable, position, node, address, word); });
}

int scxsim_stream_send(unsigned long cable, unsigned long position, unsigned node, const unsigned char *bytes,
                       size_t count) {
    return guarded([&] {
        std::vector<uint8_t> copy;
        return copy_in(bytes, count, &copy) && scxsim::stream_send(cable, position, node, copy);
    });
}

int scxsim_stream_receive(unsigned long cable, unsigned long position, unsigned node, unsigned char **bytes,
                          size_t *count) {
    return guarded([&] { return hand_over(scxsim::stream_receive(cable, position, node), bytes, count); });
}

int scxsim_probe_set(unsigned long cable, unsigned long position, unsigned node, const unsigned char *bits,
                     size_t count) {
    return guarded([&] {
        std::vector<uint8_t> copy;
        return copy_in(bits, count, &copy) && scxsim::probe_set(cable, position, node, copy);
    });
}

int scxsim_source_get(unsigned long cable, unsigned long position, unsigned node, unsigned char **bits,
                      size_t *count) {
    return guarded([&] { return hand_over(scxsim::source_get(cable, position, node), bits, count); });
}

int scxsim_node_instruction(unsigned long cable, unsigned long position, unsigned node,
                            unsigned long *instruction) {
    return guarded([&] { return scxsim::node_instruction(cable, position, node, instruction); });
}

unsigned long scxsim_open_handle_count(unsigned long persistent_id) {
    unsigned long count = 0;
    guarded([&] {
        count = scxsim::open_handle_count(persistent_id);
        return true;
    });
    return count;
}

int scxsim_device_locked(unsigned long persistent_id, unsigned long position) {
    return guarded([&] { return scxsim::device_locked(persistent_id, position); });
}

} // extern "C"
