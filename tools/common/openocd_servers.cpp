// The only file of the tool that talks to this project's SCX library
// beyond the JTAG client boundary. Its two calls are weak references: with
// another JTAG client library linked in they are absent, and the tool says
// so instead of failing to link.
#include "openocd_servers.h"

#include "errors.h"
#include "scxcore.h"
#include "scxopenocd.h"

namespace scx {
bool use_openocd(const std::vector<std::string> &servers, std::string *error) __attribute__((weak));
}
namespace scxopenocd {
std::vector<UnreachableServer> unreachable_servers() __attribute__((weak));
}

namespace sldtool {

void use_openocd_servers(const std::vector<std::string> &servers) {
    if (&scx::use_openocd == nullptr) {
        throw ToolError(exit_usage,
                        "--openocd: the JTAG library this tool is linked with has no OpenOCD backend");
    }
    std::string error;
    if (!scx::use_openocd(servers, &error)) {
        throw ToolError(exit_usage, "--openocd: " + error);
    }
}

bool report_unreachable_servers(std::ostream &out) {
    static bool reported = false;
    static bool any = false;
    if (&scxopenocd::unreachable_servers == nullptr) {
        return false;
    }
    if (!reported) {
        reported = true;
        for (const scxopenocd::UnreachableServer &server : scxopenocd::unreachable_servers()) {
            out << "sldtool: cannot reach the OpenOCD server at " << server.endpoint << ": " << server.reason
                << "\n";
            any = true;
        }
    }
    return any;
}

} // namespace sldtool
