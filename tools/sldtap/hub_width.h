// The instruction width m of a node's hub: the IR length of sldtap's TAP.
// The library's API does not give it, so it is read from the hub
// information word through the hub's JTAG client handle.
#ifndef SLDTAP_HUB_WIDTH_H
#define SLDTAP_HUB_WIDTH_H

#include <string>

namespace sldtap {

// The width, read before anything else scans the hub; 0 with the reason
// in *error when it cannot be read.
unsigned read_instruction_width(int hub_id, std::string *error);

} // namespace sldtap

#endif
