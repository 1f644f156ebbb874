// sldsim: serves one cable of a simulated board over OpenOCD's
// remote_bitbang protocol, so that JTAG software drives the simulated
// devices pin by pin. The board lives as long as the process.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <CLI/CLI.hpp>

#include "bitbang.h"
#include "scxsim.h"
#include "bitbang_server.h"

namespace {

// Exit codes, as sldtool's: 2 for usage, 4 for a board file that cannot be
// used; 1 when the socket cannot be served.
const int EXIT_USAGE = 2, EXIT_BOARD = 4, EXIT_SOCKET = 1;

const int DEFAULT_PORT = 9824;

int fail(int code, const std::string &message) {
    std::fprintf(stderr, "sldsim: %s\n", message.c_str());
    return code;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Serves a simulated JTAG board over the remote_bitbang protocol (on 127.0.0.1 only).\n"
                 "Prints \"remote_bitbang 127.0.0.1:PORT\" (or the socket path) when it is ready;\n"
                 "SIGTERM or SIGINT end it.",
                 "sldsim"};
    std::string board, unix_path;
    int port = DEFAULT_PORT;
    unsigned long cable = 0;
    app.add_option("--board", board, "board file (JSON); default: the built-in board");
    CLI::Option *port_option = app.add_option("--port", port, "TCP port on 127.0.0.1; 0 takes a free one")
                                   ->check(CLI::Range(0, 65535))
                                   ->capture_default_str();
    app.add_option("--unix", unix_path, "serve on a Unix socket at this path instead")->excludes(port_option);
    CLI::Option *cable_option =
        app.add_option("--cable", cable, "persistent id of the cable to serve; default: the board's first");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : EXIT_USAGE;
    }

    // Blocked before anything else runs, so that they arrive through the
    // server's loop and end it cleanly.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    // A reader of the ready or stats line that went away is no reason to die.
    signal(SIGPIPE, SIG_IGN);

    // The board served is --board or the built-in one, never the
    // environment's.
    unsetenv("SCX_SIM_BOARD");
    scxsim::set_tracing(false);
    std::string error;
    if (!board.empty() && !scxsim::load_board_file(board, &error))
        return fail(EXIT_BOARD, error);
    const std::vector<unsigned long> cables = scxsim::cable_ids();
    const std::string source = board.empty() ? "default board" : board;
    if (cables.empty())
        return fail(EXIT_BOARD, source + ": $.cables: no cable to serve");
    if (!cable_option->count()) {
        cable = cables.front();
    } else if (std::find(cables.begin(), cables.end(), cable) == cables.end()) {
        return fail(EXIT_USAGE, "--cable " + std::to_string(cable) + ": " + source +
                                    " has no cable with that persistent id");
    }

    sldsim::BitbangSession session(cable);
    bitbang::Server server("sldsim");
    if (!server.listen(port, unix_path, &error))
        return fail(EXIT_SOCKET, error);
    std::printf("%s\n", server.ready_line().c_str());
    std::fflush(stdout);
    if (!server.serve(session, &error))
        return fail(EXIT_SOCKET, error);
    return 0;
}
