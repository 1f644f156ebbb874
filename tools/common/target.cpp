#include "target.h"

#include <cctype>
#include <cstdio>

#include "errors.h"
#include "inventory.h"
#include "numbers.h"
#include "printable.h"
#include "sld.h"
#include "status_names.h"

namespace sldtool {

namespace {

// Highest node index a hub can have, and highest node id.
const uint64_t MAX_NODE_INDEX = 254;
const uint64_t MAX_NODE_ID = 255;
const char NODE_ID_PREFIX[] = "id:";

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items) {
        text += "\n  " + item;
    }
    return text;
}

void warn(const std::string &what, int status) {
    std::fprintf(stderr, "sldtool: warning: %s\n", printable(describe_failure(what, status), true).c_str());
}

bool is_node_id(const std::string &wanted) {
    if (wanted.size() < 3) {
        return false;
    }
    for (size_t i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(wanted[i])) != NODE_ID_PREFIX[i]) {
            return false;
        }
    }
    return true;
}

std::string node_text(unsigned index, const SLD_NODE_INFO &info) {
    return "node " + std::to_string(index) + ": manufacturer " + std::to_string(info.manufacturer_id) +
           ", node id " + std::to_string(info.node_id) + ", version " + std::to_string(info.version) +
           ", instance " + std::to_string(info.instance_id);
}

} // namespace

std::string resolve_device(const Cable &cable, const std::string &wanted) {
    const std::string &name = cable.label();
    unsigned long count = 0;
    char **strings = nullptr;
    int status = sld_get_device(name.c_str(), &count, &strings);
    if (status == SLD_DEVICE_NOT_FOUND) {
        throw ToolError(exit_not_found,
                        "no devices on the chain of " + name + " (" + status_name(status) + ")");
    }
    check_status(status, "sld_get_device", "cannot read the chain of " + name);
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
            throw ToolError(exit_usage, "device " + quoted(wanted) + ": " + error + " after the @");
        }
        const std::string prefix = "@" + std::to_string(position) + ": ";
        for (const std::string &device : devices) {
            if (device.compare(0, prefix.size(), prefix) == 0) {
                return device;
            }
        }
    }
    std::vector<std::string> named;
    for (const std::string &device : devices) {
        unsigned long position = 0;
        std::string device_name, idcode;
        if (split_device_string(device, &position, &device_name, &idcode) && device_name == wanted) {
            named.push_back(device);
        }
    }
    if (named.size() == 1) {
        return named[0];
    }
    if (named.size() > 1) {
        throw ToolError(exit_not_found, "the device name " + quoted(wanted) + " fits " +
                                            std::to_string(named.size()) + " devices on the chain of " +
                                            name + ":" + joined(named) + "\nname one by its position, @N");
    }
    throw ToolError(exit_not_found, "no device " + quoted(wanted) + " on the chain of " + name +
                                        "; its devices are:" + joined(devices));
}

OpenNode::OpenNode(const NodeTarget &wanted) : wanted_node_(wanted.node) {
    // A malformed node is a usage error, found before any hardware is asked.
    if (!is_node_id(wanted_node_)) {
        uint64_t index = 0;
        std::string error;
        if (!parse_number(wanted_node_, MAX_NODE_INDEX, &index, &error)) {
            throw ToolError(exit_usage, "node index: " + error + " (or id:N for a node id)");
        }
        index_ = static_cast<unsigned>(index);
    } else {
        uint64_t id = 0;
        std::string error;
        if (!parse_number(wanted_node_.substr(3), MAX_NODE_ID, &id, &error)) {
            throw ToolError(exit_usage, "node id: " + error);
        }
    }
    const std::vector<Cable> cables = list_cables();
    cable_ = find_cable(cables, wanted.cable);
    device_ = resolve_device(cable_, wanted.device);
    where_ = cable_.label() + " " + device_;
}

unsigned OpenNode::find_index() {
    if (!is_node_id(wanted_node_)) {
        if (index_ >= node_count_) {
            std::string range = node_count_ > 0 ? " (0-" + std::to_string(node_count_ - 1) + ")" : "";
            throw ToolError(exit_not_found, "node index " + std::to_string(index_) +
                                                " is out of range: the hub of " + where_ + " has " +
                                                count_of(node_count_, "node") + range);
        }
        return index_;
    }
    uint64_t id = 0;
    std::string error;
    parse_number(wanted_node_.substr(3), MAX_NODE_ID, &id, &error);
    std::vector<std::string> nodes, fits;
    std::vector<unsigned> fitting;
    for (unsigned index = 0; index < node_count_; ++index) {
        SLD_NODE_INFO info = SLD_NODE_INFO();
        check_status(sld_hub_get_node_info(hub_id_, static_cast<unsigned char>(index), &info),
                     "sld_hub_get_node_info", "cannot read node " + std::to_string(index) + " of " + where_);
        nodes.push_back(node_text(index, info));
        if (info.node_id == id) {
            fits.push_back(nodes.back());
            fitting.push_back(index);
        }
    }
    if (fitting.size() == 1) {
        return fitting[0];
    }
    if (fitting.empty()) {
        throw ToolError(exit_not_found, "no node with node id " + std::to_string(id) + " behind the hub of " +
                                            where_ + "; its nodes are:" + joined(nodes));
    }
    throw ToolError(exit_not_found, "node id " + std::to_string(id) + " fits " +
                                        std::to_string(fitting.size()) + " nodes of the hub of " + where_ +
                                        ":" + joined(fits) + "\nname one by its index");
}

void OpenNode::open(ScanLog *log) {
    try {
        int hub_id = -1;
        int status = sld_hub_open(cable_.label().c_str(), device_.c_str(), &hub_id);
        std::string call = "sld_hub_open";
        if (status == SLD_OK) {
            hub_id_ = hub_id;
            unsigned char count = 0;
            status = sld_hub_get_number_of_nodes(hub_id_, &count);
            node_count_ = count;
            call = "sld_hub_get_number_of_nodes";
        }
        if (log != nullptr) {
            log->take("open hub of " + where_, where_, node_count_);
        }
        check_status(status, call, "cannot open the hub of \"" + device_ + "\" on " + cable_.label());
        index_ = find_index();
        node_found_ = true;
        int node_id = -1;
        status = sld_node_open(hub_id_, static_cast<unsigned char>(index_), &node_id);
        check_status(status, "sld_node_open", "cannot open node " + std::to_string(index_) + " of " + where_);
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
    check_status(sld_node_lock(node_id_, timeout), "sld_node_lock", "cannot lock the hub");
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
