#include "list_output.h"

#include <nlohmann/json.hpp>

#include "status_names.h"

namespace sldtool {

namespace {

using Json = nlohmann::ordered_json;

Json status_json(int status, const std::string &call) {
    Json json;
    json["code"] = status;
    json["name"] = status_name(status);
    json["message"] = status_text(status);
    if (!call.empty()) {
        json["call"] = call;
    }
    return json;
}

Json device_json(const DeviceEntry &device) {
    Json json;
    json["device"] = device.device;
    unsigned long position = 0;
    std::string name, idcode;
    if (split_device_string(device.device, &position, &name, &idcode)) {
        json["position"] = position;
        json["name"] = name;
        json["idcode"] = idcode;
    } else {
        json["position"] = nullptr;
        json["name"] = nullptr;
        json["idcode"] = nullptr;
    }
    if (!device.failed_call.empty()) {
        json["hub"] = nullptr;
        json["hub_status"] = status_json(device.hub_status, device.failed_call);
        return json;
    }
    Json hub;
    hub["node_count"] = device.nodes.size();
    hub["nodes"] = Json::array();
    for (size_t i = 0; i < device.nodes.size(); ++i) {
        const SLD_NODE_INFO &info = device.nodes[i];
        Json node;
        node["index"] = i;
        node["manufacturer_id"] = info.manufacturer_id;
        node["node_id"] = info.node_id;
        node["version"] = info.version;
        node["instance_id"] = info.instance_id;
        hub["nodes"].push_back(node);
    }
    json["hub"] = hub;
    json["hub_status"] = nullptr;
    return json;
}

Json cable_json(const CableEntry &cable) {
    Json json;
    json["name"] = cable.name;
    json["full_name"] = cable.has_full_name ? Json(cable.full_name) : Json(nullptr);
    json["persistent_id"] = cable.persistent_id != 0 ? Json(cable.persistent_id) : Json(nullptr);
    json["device_status"] =
        cable.device_status != SLD_OK ? status_json(cable.device_status, "sld_get_device") : Json(nullptr);
    json["devices"] = Json::array();
    for (const DeviceEntry &device : cable.devices) {
        json["devices"].push_back(device_json(device));
    }
    return json;
}

} // namespace

void write_json(std::ostream &out, const Inventory &inventory) {
    Json json;
    json["schema_version"] = LIST_SCHEMA_VERSION;
    json["cables"] = Json::array();
    for (const CableEntry &cable : inventory.cables) {
        json["cables"].push_back(cable_json(cable));
    }
    // Names come from the hardware: replace bytes that are not UTF-8.
    out << json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

} // namespace sldtool
