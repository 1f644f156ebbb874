// What is on the JTAG chains: cables, their devices, each device's hub and
// its nodes, gathered once for the text tree and for JSON.
#ifndef SLDTOOL_INVENTORY_H
#define SLDTOOL_INVENTORY_H

#include <string>
#include <vector>

#include "cables.h"
#include "scan_log.h"
#include "sld.h"

namespace sldtool {

struct DeviceEntry {
    std::string device;               // the device string, "@1: name (0x020A10DD)"
    int hub_status = SLD_OK;          // status of the call below when it failed
    std::string failed_call;          // "sld_hub_open", ... ; empty when the hub was read
    std::vector<SLD_NODE_INFO> nodes; // in node-index order
};

struct CableEntry {
    Cable cable;
    int device_status = SLD_OK; // status of device_call when not SLD_OK
    std::string device_call = "sld_get_device";
    std::vector<DeviceEntry> devices;
};

struct Inventory {
    std::vector<CableEntry> cables;
    // Failures of closing calls, already described; the listing stands.
    std::vector<std::string> warnings;
};

// Walks every cable and device and opens (and closes again) every hub.
Inventory take_inventory(ScanLog *log);

// Parts of a device string: position (from 1), name, IDCODE text. False
// when the string does not have the form "@N: name (0xXXXXXXXX)".
bool split_device_string(const std::string &device, unsigned long *position, std::string *name,
                         std::string *idcode);

} // namespace sldtool

#endif
