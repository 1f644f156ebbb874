// The C-linkage face of scxcore.h and of the OpenOCD backend's report of
// unreachable servers (scxcore_c.h).
#include "scxcore_c.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "scxcore.h"
#include "scxopenocd.h"

namespace {

size_t copy_out(const std::string &text, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) {
        const size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

} // namespace

extern "C" {

const char *scx_backend_name(void) {
    try {
        return scx::active_backend_name();
    } catch (...) {
        return "unknown";
    }
}

int scx_use_openocd(const char *servers, char *error, size_t error_size) {
    std::string why;
    try {
        if (servers != nullptr && scx::use_openocd({servers}, &why)) {
            return 1;
        }
        if (servers == nullptr) {
            why = "no OpenOCD server named";
        }
    } catch (...) {
        why = "out of memory";
    }
    copy_out(why, error, error_size);
    return 0;
}

size_t scx_openocd_unreachable(char *buffer, size_t size) {
    try {
        std::string text;
        for (const scxopenocd::UnreachableServer &server : scxopenocd::unreachable_servers()) {
            const long long tried = std::chrono::duration_cast<std::chrono::seconds>(
                                        server.last_try.time_since_epoch())
                                        .count();
            text += server.endpoint + "\t" + server.reason + "\t" + std::to_string(tried) + "\n";
        }
        return copy_out(text, buffer, size);
    } catch (...) {
        return copy_out("", buffer, size);
    }
}

} // extern "C"
