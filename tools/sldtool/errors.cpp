#include "errors.h"

#include "sld.h"
#include "status_names.h"

namespace sldtool {

std::string describe_failure(const std::string &what, int status) {
    return what + ": " + status_name(status) + "\n  " + status_text(status);
}

void check_status(int status, const std::string &what) {
    if (status != SLD_OK) {
        throw ToolError(exit_library, describe_failure(what, status));
    }
}

} // namespace sldtool
