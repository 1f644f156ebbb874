// OpenOCD servers named as HOST:PORT (their Tcl RPC ports), alone or as a
// comma-separated list, and the persistent id each one gets.
#ifndef SCXOPENOCD_ENDPOINT_H
#define SCXOPENOCD_ENDPOINT_H

#include <string>
#include <vector>

namespace scxopenocd {
namespace detail {

struct Endpoint {
    std::string host; // a host name, dotted IPv4, or an IPv6 address without its brackets
    unsigned port = 0;
    std::string text; // HOST:PORT as written, the server's identity
};

// Most servers one process serves.
const size_t MAX_ENDPOINTS = 16;

// One HOST:PORT. Host: letters, digits, '.', '-' and '_' (at most 253), or
// [IPv6]; port: decimal 1 to 65535 without a leading zero. On failure
// *error says what is wrong.
bool parse_endpoint(const std::string &text, Endpoint *out, std::string *error);
// HOST:PORT[,HOST:PORT...], blanks around each item ignored; no empty
// items, no endpoint twice, at most MAX_ENDPOINTS. Appends to *out.
bool parse_endpoint_list(const std::string &text, std::vector<Endpoint> *out, std::string *error);
// A stable, nonzero 32-bit id of the endpoint text: the same in every
// process and on every platform.
unsigned long persistent_id_of(const std::string &endpoint_text);

} // namespace detail
} // namespace scxopenocd

#endif
