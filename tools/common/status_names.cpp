#include "status_names.h"

#include "sld_status.h"

namespace sldtool {

std::string status_name(int status) {
    return sld_status_info(status) ? sld_status_name(status) : "status " + std::to_string(status);
}

std::string status_text(int status) {
    return sld_status_info(status) ? sld_status_text(status) : "a status this tool does not know";
}

} // namespace sldtool
