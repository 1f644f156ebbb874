#include "errors.h"

#include "printable.h"
#include "sld.h"
#include "status_names.h"

namespace sldtool {

ToolError::ToolError(int exit_code, const std::string &message)
    : std::runtime_error(printable(message, true)), exit_code_(exit_code) {}

ToolError::ToolError(int status, const std::string &call, const std::string &message)
    : std::runtime_error(printable(message, true)), exit_code_(exit_library), status_(status), call_(call) {}

std::string describe_failure(const std::string &what, int status) {
    return what + ": " + status_name(status) + "\n  " + status_text(status);
}

void check_status(int status, const std::string &call, const std::string &what) {
    if (status != SLD_OK) {
        throw ToolError(status, call, describe_failure(what.empty() ? call : what, status));
    }
}

std::string count_of(size_t count, const std::string &thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

} // namespace sldtool
