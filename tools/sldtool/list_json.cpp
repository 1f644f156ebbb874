#include "list_output.h"

#include "json_types.h"
#include "log_json.h"

namespace sldtool {

namespace {

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
        json["examined"] = device.examined();
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
    json["examined"] = true;
    return json;
}

Json cable_json(const CableEntry &entry) {
    const Cable &cable = entry.cable;
    Json json;
    json["name"] = cable.name;
    json["full_name"] = cable.has_full_name ? Json(cable.full_name) : Json(nullptr);
    json["persistent_id"] = cable.has_persistent_id ? Json(cable.persistent_id) : Json(nullptr);
    json["device_status"] =
        entry.device_status != SLD_OK ? status_json(entry.device_status, entry.device_call) : Json(nullptr);
    json["devices"] = Json::array();
    for (const DeviceEntry &device : entry.devices) {
        json["devices"].push_back(device_json(device));
    }
    json["examined"] = entry.examined();
    return json;
}

} // namespace

void write_json(std::ostream &out, const Inventory &inventory, const std::vector<LogStep> *log) {
    Json json;
    json["schema_version"] = SCHEMA_VERSION;
    json["cables"] = Json::array();
    for (const CableEntry &cable : inventory.cables) {
        json["cables"].push_back(cable_json(cable));
    }
    json["scan_log"] = log != nullptr ? log_json(*log) : Json(nullptr);
    out << dump_json(json) << "\n";
}

} // namespace sldtool
