#include "endpoint.h"

#include <cstdint>

namespace scxopenocd {
namespace detail {

namespace {

const size_t MAX_HOST_LENGTH = 253;

bool host_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool ipv6_char(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' || c == '.';
}

bool parse_port(const std::string &digits, unsigned *port) {
    if (digits.empty() || digits.size() > 5 || digits[0] == '0') {
        return false;
    }
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + unsigned(c - '0');
    }
    if (value > 65535) {
        return false;
    }
    *port = value;
    return true;
}

std::string trimmed(const std::string &text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

bool parse_endpoint(const std::string &text, Endpoint *out, std::string *error) {
    const std::string shape = "\"" + text + "\": expected HOST:PORT";
    std::string host;
    size_t colon = 0;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            *error = shape + " with the IPv6 address in brackets, e.g. [::1]:6666";
            return false;
        }
        host = text.substr(1, close - 1);
        colon = close + 1;
        if (host.empty() || host.size() > 45 || host.find(':') == std::string::npos) {
            *error = shape + ": \"" + host + "\" is not an IPv6 address";
            return false;
        }
        for (char c : host) {
            if (!ipv6_char(c)) {
                *error = shape + ": \"" + host + "\" is not an IPv6 address";
                return false;
            }
        }
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos || colon == 0) {
            *error = shape + ", e.g. 127.0.0.1:6666";
            return false;
        }
        host = text.substr(0, colon);
        if (host.size() > MAX_HOST_LENGTH) {
            *error = shape + ": the host name is longer than 253 characters";
            return false;
        }
        for (char c : host) {
            if (!host_name_char(c)) {
                *error = shape + ": the host may hold only letters, digits, '.', '-' and '_'" +
                         (c == ':' ? " (write an IPv6 address in brackets)" : "");
                return false;
            }
        }
    }
    unsigned port = 0;
    if (!parse_port(text.substr(colon + 1), &port)) {
        *error = shape + ": the port must be a number from 1 to 65535";
        return false;
    }
    out->host = host;
    out->port = port;
    out->text = text;
    return true;
}

bool parse_endpoint_list(const std::string &text, std::vector<Endpoint> *out, std::string *error) {
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item =
            trimmed(text.substr(start, comma == std::string::npos ? comma : comma - start));
        if (item.empty()) {
            *error = "\"" + text + "\": an empty item; expected HOST:PORT[,HOST:PORT...]";
            return false;
        }
        Endpoint endpoint;
        if (!parse_endpoint(item, &endpoint, error)) {
            return false;
        }
        for (const Endpoint &known : *out) {
            if (known.text == endpoint.text) {
                *error = "\"" + endpoint.text + "\" is named twice";
                return false;
            }
        }
        if (out->size() >= MAX_ENDPOINTS) {
            *error = "more than " + std::to_string(MAX_ENDPOINTS) + " OpenOCD servers";
            return false;
        }
        out->push_back(endpoint);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

unsigned long persistent_id_of(const std::string &endpoint_text) {
    // FNV-1a over the text: fixed, so every process agrees.
    uint32_t hash = 2166136261u;
    for (unsigned char c : "openocd@" + endpoint_text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

} // namespace detail
} // namespace scxopenocd
