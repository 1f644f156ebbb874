#include "target.h"

#include <cstdio>
#include <vector>

#include "errors.h"
#include "numbers.h"
#include "sld.h"
#include "status_names.h"

namespace sldtool {

namespace {

// Highest node index a hub can have.
const uint64_t MAX_NODE_INDEX = 254;

std::vector<std::string> hardware_names() {
    unsigned long count = 0;
    char **names = nullptr;
    std::vector<std::string> result;
    if (sld_get_hardware(&count, &names) == SLD_OK && names != nullptr) {
        for (unsigned long i = 0; i < count && names[i] != nullptr; ++i) {
            result.push_back(names[i]);
        }
    }
    return result;
}

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items) {
        text += "\n  " + item;
    }
    return text;
}

void warn(const std::string &what, int status) {
    std::fprintf(stderr, "sldtool: warning: %s\n", describe_failure(what, status).c_str());
}

} // namespace

std::string resolve_cable(const std::string &name) {
    const std::vector<std::string> names = hardware_names();
    for (const std::string &known : names) {
        if (known == name) {
            return known;
        }
    }
    // Not a short name: perhaps a full name, which only the lookup by
    // persistent id knows. The first lookup after the server has given a
    // hardware a new chain fails and the next one finds it, so ask twice.
    unsigned long persistent_id = 0;
    int status = sld_get_hardware_persistent_id(name.c_str(), &persistent_id);
    if (status == SLD_HARDWARE_NOT_FOUND) {
        status = sld_get_hardware_persistent_id(name.c_str(), &persistent_id);
    }
    if (status == SLD_HARDWARE_NOT_FOUND) {
        std::string message = "no JTAG hardware named \"" + name + "\"";
        message +=
            names.empty() ? std::string("; there is no JTAG hardware") : "; the cables are:" + joined(names);
        throw ToolError(exit_not_found, message);
    }
    check_status(status, "sld_get_hardware_persistent_id(\"" + name + "\")");
    char *short_name = nullptr;
    status = sld_get_hardware_name(persistent_id, &short_name);
    check_status(status, "sld_get_hardware_name(" + std::to_string(persistent_id) + ")");
    return short_name != nullptr ? std::string(short_name) : name;
}

std::string resolve_device(const std::string &cable, const std::string &wanted) {
    unsigned long count = 0;
    char **strings = nullptr;
    int status = sld_get_device(cable.c_str(), &count, &strings);
    if (status == SLD_DEVICE_NOT_FOUND) {
        throw ToolError(exit_not_found,
                        "no devices on the chain of " + cable + " (" + status_name(status) + ")");
    }
    check_status(status, "sld_get_device(\"" + cable + "\")");
    std::vector<std::string> devices;
    for (unsigned long i = 0; i < count && strings != nullptr && strings[i] != nullptr; ++i) {
        devices.push_back(strings[i]);
    }
    for (const std::string &device : devices) {
        if (device == wanted) {
            return device;
        }
    }
    // "@N" names a position; anything else with ": " was meant as a device string.
    if (wanted.size() > 1 && wanted[0] == '@' && wanted.find(": ") == std::string::npos) {
        uint64_t position = 0;
        std::string error;
        if (!parse_number(wanted.substr(1), MAX_SCAN_LENGTH, &position, &error)) {
            throw ToolError(exit_usage, "device \"" + wanted + "\": " + error + " after the @");
        }
        const std::string prefix = "@" + std::to_string(position) + ": ";
        for (const std::string &device : devices) {
            if (device.compare(0, prefix.size(), prefix) == 0) {
                return device;
            }
        }
    }
    throw ToolError(exit_not_found, "no device \"" + wanted + "\" on the chain of " + cable +
                                        "; its devices are:" + joined(devices));
}

OpenNode::OpenNode(const NodeTarget &wanted, ScanLog *log) {
    uint64_t index = 0;
    std::string error;
    if (!parse_number(wanted.node, MAX_NODE_INDEX, &index, &error)) {
        throw ToolError(exit_usage, "node index: " + error);
    }
    index_ = static_cast<unsigned>(index);
    const std::string cable = resolve_cable(wanted.cable);
    const std::string device = resolve_device(cable, wanted.device);
    where_ = cable + " " + device;
    try {
        int hub_id = -1;
        int status = sld_hub_open(cable.c_str(), device.c_str(), &hub_id);
        if (status == SLD_OK) {
            hub_id_ = hub_id;
        }
        unsigned char count = 0;
        if (status == SLD_OK) {
            status = sld_hub_get_number_of_nodes(hub_id_, &count);
            node_count_ = count;
        }
        if (log != nullptr) {
            log->take("open hub of " + where_, where_, node_count_);
        }
        check_status(status, "cannot open the hub of \"" + device + "\" on " + cable);
        if (index_ >= node_count_) {
            std::string range = node_count_ > 0 ? " (0-" + std::to_string(node_count_ - 1) + ")" : "";
            throw ToolError(exit_not_found, "node index " + std::to_string(index_) +
                                                " is out of range: the hub of " + where_ + " has " +
                                                std::to_string(node_count_) + " nodes" + range);
        }
        int node_id = -1;
        status = sld_node_open(hub_id_, static_cast<unsigned char>(index_), &node_id);
        check_status(status, "cannot open node " + std::to_string(index_) + " of " + where_);
        node_id_ = node_id;
    } catch (...) {
        close_quietly();
        throw;
    }
}

OpenNode::~OpenNode() {
    close_quietly();
}

void OpenNode::close_quietly() {
    if (node_id_ >= 0) {
        int status = sld_node_close(node_id_);
        node_id_ = -1;
        if (status != SLD_OK) {
            warn("sld_node_close", status);
        }
    }
    if (hub_id_ >= 0) {
        int status = sld_hub_close(hub_id_);
        hub_id_ = -1;
        if (status != SLD_OK) {
            warn("sld_hub_close", status);
        }
    }
}

void OpenNode::close() {
    if (node_id_ >= 0) {
        int status = sld_node_close(node_id_);
        node_id_ = -1;
        check_status(status, "sld_node_close");
    }
    if (hub_id_ >= 0) {
        int status = sld_hub_close(hub_id_);
        hub_id_ = -1;
        check_status(status, "sld_hub_close");
    }
}

HubLock::HubLock(int node_id, unsigned long timeout) : node_id_(node_id) {
    check_status(sld_node_lock(node_id_, timeout), "cannot lock the hub");
    held_ = true;
}

HubLock::~HubLock() {
    if (held_) {
        int status = sld_node_unlock(node_id_);
        held_ = false;
        if (status != SLD_OK) {
            warn("sld_node_unlock", status);
        }
    }
}

void HubLock::release() {
    if (held_) {
        held_ = false;
        check_status(sld_node_unlock(node_id_), "sld_node_unlock");
    }
}

} // namespace sldtool
