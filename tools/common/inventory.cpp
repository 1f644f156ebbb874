#include "inventory.h"

#include "errors.h"

namespace sldtool {

namespace {

void read_hub(const std::string &cable, DeviceEntry *entry, ScanLog *log, Inventory *inventory) {
    const std::string where = cable + " " + entry->device;
    int hub_id = -1;
    int status = sld_hub_open(cable.c_str(), entry->device.c_str(), &hub_id);
    if (status != SLD_OK) {
        if (log != nullptr) {
            log->take("open hub of " + where, where, 0);
        }
        entry->hub_status = status;
        entry->failed_call = "sld_hub_open";
        return;
    }
    unsigned char count = 0;
    status = sld_hub_get_number_of_nodes(hub_id, &count);
    if (log != nullptr) {
        log->take("open hub of " + where, where, count);
    }
    if (status != SLD_OK) {
        entry->hub_status = status;
        entry->failed_call = "sld_hub_get_number_of_nodes";
    }
    for (unsigned index = 0; status == SLD_OK && index < count; ++index) {
        SLD_NODE_INFO info = SLD_NODE_INFO();
        status = sld_hub_get_node_info(hub_id, static_cast<unsigned char>(index), &info);
        if (status != SLD_OK) {
            entry->hub_status = status;
            entry->failed_call = "sld_hub_get_node_info";
            entry->nodes.clear();
            break;
        }
        entry->nodes.push_back(info);
    }
    status = sld_hub_close(hub_id);
    if (status != SLD_OK) {
        inventory->warnings.push_back(describe_failure("sld_hub_close on " + where, status));
    }
}

void read_cable(CableEntry *cable, ScanLog *log, Inventory *inventory) {
    if (cable->cable.has_persistent_id && cable->cable.library_name.empty()) {
        // The library finds another cable by each of this one's names.
        cable->device_status = SLD_HARDWARE_NOT_FOUND;
        cable->device_call = "sld_get_hardware_persistent_id";
        return;
    }
    const std::string &name = cable->cable.label();
    unsigned long count = 0;
    char **strings = nullptr;
    cable->device_status = sld_get_device(name.c_str(), &count, &strings);
    if (cable->device_status != SLD_OK) {
        return;
    }
    // Copied at once: the table changes with the next read of the chain.
    for (unsigned long i = 0; i < count && strings != nullptr && strings[i] != nullptr; ++i) {
        DeviceEntry entry;
        entry.device = strings[i];
        cable->devices.push_back(entry);
    }
    for (DeviceEntry &entry : cable->devices) {
        read_hub(name, &entry, log, inventory);
    }
}

} // namespace

Inventory take_inventory(ScanLog *log) {
    Inventory inventory;
    for (Cable &listed : list_cables()) {
        CableEntry cable;
        cable.cable = std::move(listed);
        inventory.cables.push_back(std::move(cable));
    }
    for (CableEntry &cable : inventory.cables) {
        read_cable(&cable, log, &inventory);
    }
    return inventory;
}

bool split_device_string(const std::string &device, unsigned long *position, std::string *name,
                         std::string *idcode) {
    // "@N: name (0xXXXXXXXX)"; the name itself may hold anything.
    const size_t colon = device.find(": ");
    const size_t open = device.rfind(" (0x");
    if (device.size() < 2 || device[0] != '@' || colon == std::string::npos || open == std::string::npos ||
        open < colon || device.back() != ')') {
        return false;
    }
    const std::string digits = device.substr(1, colon - 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *position = std::stoul(digits);
    *name = device.substr(colon + 2, open - colon - 2);
    *idcode = device.substr(open + 2, device.size() - open - 3);
    return true;
}

} // namespace sldtool
