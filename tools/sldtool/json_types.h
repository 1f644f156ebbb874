// The JSON documents of the tool keep their keys in the documented order.
#ifndef SLDTOOL_JSON_TYPES_H
#define SLDTOOL_JSON_TYPES_H

#include <string>

#include <nlohmann/json.hpp>

namespace sldtool {

using Json = nlohmann::ordered_json;

// Version of every document's layout; raised when a field changes meaning
// or goes away (new fields may appear without it).
const int SCHEMA_VERSION = 1;

// A library status as a Status object: code, name, message, call.
Json status_json(int status, const std::string &call);

// A document as text; names from the hardware may hold bytes that are not
// UTF-8, which become U+FFFD.
std::string dump_json(const Json &json, int indent = 2);

} // namespace sldtool

#endif
