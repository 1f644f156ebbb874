// sldtap: one node behind a hub served as a one-TAP JTAG chain over
// OpenOCD's remote_bitbang protocol, so that a debugger reaches what sits
// behind the node. The node is named as sldtool names it; the JTAG world
// is the simulated board (--board) or OpenOCD servers (--openocd).
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <CLI/CLI.hpp>

#include "errors.h"
#include "hub_width.h"
#include "jtag_source.h"
#include "node_link.h"
#include "numbers.h"
#include "openocd_servers.h"
#include "bitbang_server.h"
#include "tap_session.h"
#include "target.h"

namespace {

const int DEFAULT_PORT = 9825;
// Bit 0 set, as IEEE 1149.1 asks of an IDCODE; no manufacturer.
const uint32_t DEFAULT_IDCODE = 0x00000001;

const char EXIT_CODES[] = "Exit codes:\n"
                          "  0  ended by SIGTERM or SIGINT\n"
                          "  1  the hub cannot be used, or the socket cannot be served\n"
                          "  2  bad arguments\n"
                          "  3  no such cable, device or node, or a name that fits several\n"
                          "  4  the board file cannot be used";

int fail(int code, const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "sldtap: %s\n", message.c_str());
    return code;
}

int serve(const sldtool::NodeTarget &target, const sldtool::JtagSource &source, int port,
          const std::string &unix_path, uint32_t idcode, bool share) {
    sldtool::use_source(source);
    sldtool::OpenNode node(target);
    node.open(nullptr);
    std::string error;
    const unsigned width = sldtap::read_instruction_width(node.hub_id(), &error);
    if (width == 0)
        return fail(sldtool::exit_library, "cannot read the instruction width of the hub of " + node.where() +
                                               ": " + error);
    sldtap::NodeLink link(node.node_id(), share);
    sldtap::TapSession session(link, width, idcode);
    bitbang::Server server("sldtap");
    if (!server.listen(port, unix_path, &error))
        return fail(sldtool::exit_library, error);
    std::fprintf(stderr, "sldtap: node %u of %s as a TAP with IR length %u and IDCODE 0x%08X; %s\n", node.index(),
                 node.where().c_str(), width, unsigned(idcode),
                 share ? "the hub lock is taken per data scan (--share)" : "the hub lock is held per client");
    std::printf("%s\n", server.ready_line().c_str());
    std::fflush(stdout);
    if (!server.serve(session, &error))
        return fail(sldtool::exit_library, error);
    link.disconnect();
    node.close();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Serves one node behind a hub as a one-TAP JTAG chain over the remote_bitbang protocol\n"
                 "(on 127.0.0.1 or a Unix socket only). Prints \"remote_bitbang 127.0.0.1:PORT\" (or the\n"
                 "socket path) when it is ready; SIGTERM or SIGINT end it.",
                 "sldtap"};
    sldtool::NodeTarget target;
    sldtool::JtagSource source;
    std::string unix_path, idcode_text;
    int port = DEFAULT_PORT;
    bool share = false;
    app.add_option("-c,--cable", target.cable, "the cable: short or full hardware name")->required();
    app.add_option("-d,--device", target.device, "the device: device string, @N (chain position) or name")
        ->required();
    app.add_option("-n,--node", target.node, "the node: its index in the hub, or id:N")->required();
    sldtool::add_source_options(app, &source);
    CLI::Option *port_option = app.add_option("--port", port, "TCP port on 127.0.0.1; 0 takes a free one")
                                   ->check(CLI::Range(0, 65535))
                                   ->capture_default_str();
    app.add_option("--unix", unix_path, "serve on a Unix socket at this path instead")->excludes(port_option);
    app.add_option("--idcode", idcode_text, "the TAP's IDCODE (bit 0 set); default 0x00000001")
        ->type_name("VALUE");
    app.add_flag("--share", share,
                 "take the hub lock per data scan, resending the instruction, instead of holding it per client");
    app.footer(EXIT_CODES);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : sldtool::exit_usage;
    }
    uint32_t idcode = DEFAULT_IDCODE;
    if (!idcode_text.empty()) {
        uint64_t value = 0;
        std::string error;
        if (!sldtool::parse_number(idcode_text, 0xFFFFFFFFu, &value, &error))
            return fail(sldtool::exit_usage, "--idcode: " + error);
        if ((value & 1) == 0)
            return fail(sldtool::exit_usage, "--idcode: bit 0 of an IDCODE is 1, got " + sldtool::hex(value));
        idcode = uint32_t(value);
    }

    // Blocked before anything else runs, so that they arrive through the
    // server's loop, which ends the client's connection and the hub lock.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        return serve(target, source, port, unix_path, idcode, share);
    } catch (const sldtool::ToolError &e) {
        sldtool::report_unreachable_servers(std::cerr);
        return fail(e.exit_code(), e.what());
    }
}
