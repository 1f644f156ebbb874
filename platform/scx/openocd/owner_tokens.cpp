#include "owner_tokens.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

namespace scxopenocd {
namespace detail {

namespace {

std::atomic<uint64_t> next_number{1};

std::string hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string make_process_token() {
    // Unique across the processes and hosts that share a server: random
    // bits, mixed with the pid and the time in case the device repeats.
    std::random_device device;
    uint64_t bits = (uint64_t(device()) << 32) ^ device();
    bits ^= uint64_t(getpid()) << 20;
    bits ^= uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    char text[18];
    std::snprintf(text, sizeof text, "p%016llx", static_cast<unsigned long long>(bits));
    return text;
}

} // namespace

const std::string &process_token() {
    static const std::string *token = new std::string(make_process_token());
    return *token;
}

const std::string &thread_owner() {
    thread_local const std::string owner = process_token() + "-t" + hex(next_number++);
    return owner;
}

std::string new_handle_owner() {
    return process_token() + "-h" + hex(next_number++);
}

} // namespace detail
} // namespace scxopenocd
