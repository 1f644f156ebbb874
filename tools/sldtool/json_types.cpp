#include "json_types.h"

#include "status_names.h"

namespace sldtool {

Json status_json(int status, const std::string &call) {
    Json json;
    json["code"] = status;
    json["name"] = status_name(status);
    json["message"] = status_text(status);
    json["call"] = call;
    return json;
}

std::string dump_json(const Json &json, int indent) {
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace sldtool
