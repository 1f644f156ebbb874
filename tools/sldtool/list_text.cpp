#include "list_output.h"

#include <string>

#include "printable.h"
#include "status_names.h"

namespace sldtool {

namespace {

// Tree branches: the last child of a level gets a corner, the others a tee.
const char *branch(bool last) {
    return last ? "`-- " : "|-- ";
}
const char *indent(bool last) {
    return last ? "    " : "|   ";
}

std::string status_words(int status) {
    return status_name(status) + ", " + status_text(status);
}

std::string node_text(unsigned index, const SLD_NODE_INFO &info) {
    return "node " + std::to_string(index) + ": manufacturer " + std::to_string(info.manufacturer_id) +
           ", node id " + std::to_string(info.node_id) + ", version " + std::to_string(info.version) +
           ", instance " + std::to_string(info.instance_id);
}

std::string hub_failure(const DeviceEntry &device) {
    if (!device.examined()) {
        return "not examined, an error: " + device.failed_call + ": " + status_words(device.hub_status);
    }
    if (device.hub_status == SLD_HUB_NOT_FOUND) {
        return "no hub: " + status_words(device.hub_status);
    }
    return "hub refused: " + status_words(device.hub_status);
}

void write_device(std::ostream &out, const DeviceEntry &device, bool last) {
    out << branch(last) << printable(device.device) << "\n";
    const std::string prefix = indent(last);
    if (!device.failed_call.empty()) {
        out << prefix << branch(true) << hub_failure(device) << "\n";
        return;
    }
    const size_t count = device.nodes.size();
    out << prefix << branch(true) << "hub with " << count << (count == 1 ? " node" : " nodes") << "\n";
    for (size_t i = 0; i < count; ++i) {
        out << prefix << indent(true) << branch(i + 1 == count)
            << node_text(static_cast<unsigned>(i), device.nodes[i]) << "\n";
    }
}

void write_cable(std::ostream &out, const CableEntry &cable) {
    out << "cable " << printable(cable.cable.description()) << "\n";
    if (cable.device_call != "sld_get_device") {
        out << branch(true) << "not usable: the library finds another cable by each of its names\n";
        return;
    }
    if (cable.device_status == SLD_DEVICE_NOT_FOUND) {
        out << branch(true) << "no devices: " << status_words(cable.device_status) << "\n";
        return;
    }
    if (cable.device_status != SLD_OK) {
        out << branch(true) << "not examined, an error: sld_get_device: " << status_words(cable.device_status)
            << "\n";
        return;
    }
    for (size_t i = 0; i < cable.devices.size(); ++i) {
        write_device(out, cable.devices[i], i + 1 == cable.devices.size());
    }
}

} // namespace

void write_tree(std::ostream &out, const Inventory &inventory) {
    if (inventory.cables.empty()) {
        out << "no JTAG hardware found\n";
        return;
    }
    for (const CableEntry &cable : inventory.cables) {
        write_cable(out, cable);
    }
}

} // namespace sldtool
