// Names and plain-word explanations of the library's statuses.
#ifndef SLDTOOL_STATUS_NAMES_H
#define SLDTOOL_STATUS_NAMES_H

#include <string>

namespace sldtool {

// "SLD_STALE_ID" for 12; "status N" for a value the library does not define.
std::string status_name(int status);
// One line saying what went wrong, for a user who has not read the header.
std::string status_text(int status);

} // namespace sldtool

#endif
