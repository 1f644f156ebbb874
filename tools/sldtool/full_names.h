// The full name of a JTAG hardware, which the library's API does not hand
// out, asked of the JTAG client library directly.
#ifndef SLDTOOL_FULL_NAMES_H
#define SLDTOOL_FULL_NAMES_H

#include <string>

namespace sldtool {

// The full name of the hardware with that persistent id; false when the
// client library does not report that hardware or gives it no name.
bool hardware_full_name(unsigned long persistent_id, std::string *full_name);

} // namespace sldtool

#endif
