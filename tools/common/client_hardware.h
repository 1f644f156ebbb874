// What the library's API does not hand out about the JTAG hardware (the
// full names, and which persistent id each listed cable has), asked of the
// JTAG client library directly.
#ifndef SLDTOOL_CLIENT_HARDWARE_H
#define SLDTOOL_CLIENT_HARDWARE_H

#include <string>
#include <vector>

namespace sldtool {

struct ClientHardware {
    unsigned long persistent_id = 0;
    bool has_full_name = false; // false when the client gives it none
    std::string full_name;
};

// The hardware the client library lists and the library uses, in the
// client's order; empty when the client does not answer.
std::vector<ClientHardware> client_hardware();

// The full name of the hardware with that persistent id; false when the
// client library does not report that hardware or gives it no name.
bool hardware_full_name(unsigned long persistent_id, std::string *full_name);

} // namespace sldtool

#endif
