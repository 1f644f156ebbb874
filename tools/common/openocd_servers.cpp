// The only file of the tool that talks to this project's SCX library
// beyond the JTAG client boundary. Its two calls are weak references: with
// another JTAG client library linked in they are absent, and the tool says
// so instead of failing to link.
#include "openocd_servers.h"

#include <ctime>

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

namespace {

// HH:MM:SS UTC, for the time of a connection attempt.
std::string utc_time(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    char text[16] = "?";
    if (gmtime_r(&t, &parts) != nullptr) {
        std::strftime(text, sizeof text, "%H:%M:%S", &parts);
    }
    return std::string(text) + " UTC";
}

} // namespace

void use_openocd_servers(const std::vector<std::string> &servers, const std::string &origin) {
    if (!openocd_backend_linked()) {
        throw ToolError(exit_usage,
                        origin + ": the JTAG library this tool is linked with has no OpenOCD backend");
    }
    std::string error;
    if (!scx::use_openocd(servers, &error)) {
        throw ToolError(exit_usage, origin + ": " + error);
    }
}

bool openocd_backend_linked() {
    return &scx::use_openocd != nullptr;
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
            out << program_name() << ": cannot reach the OpenOCD server at " << server.endpoint << ": "
                << server.reason << " (tried at " << utc_time(server.last_try) << ")\n";
            any = true;
        }
    }
    return any;
}

} // namespace sldtool
