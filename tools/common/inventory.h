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

    // Whether the device was examined: its hub was read, or the device
    // answered that it has none (SLD_HUB_NOT_FOUND) or one this library does
    // not support (SLD_UNSUPPORTED_HUB). Any other failure is an error that
    // kept the tool from knowing what is there.
    bool examined() const;
};

struct CableEntry {
    Cable cable;
    int device_status = SLD_OK; // status of device_call when not SLD_OK
    std::string device_call = "sld_get_device";
    std::vector<DeviceEntry> devices;

    // Whether the chain was read: its devices, or an empty chain
    // (SLD_DEVICE_NOT_FOUND).
    bool examined() const;
};

struct Inventory {
    std::vector<CableEntry> cables;
    // Failures of closing calls, already described; the listing stands.
    std::vector<std::string> warnings;

    // The cables and devices that an error kept from being examined.
    size_t unexamined() const;
};

// Walks every cable and device and opens (and closes again) every hub.
Inventory take_inventory(ScanLog *log);

// Parts of a device string: position (from 1), name, IDCODE text. False
// when the string does not have the form "@N: name (0xXXXXXXXX)".
bool split_device_string(const std::string &device, unsigned long *position, std::string *name,
                         std::string *idcode);

} // namespace sldtool

#endif
