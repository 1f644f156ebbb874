#include "jtag_source.h"

#include <cstdlib>
#include <fstream>

#include <CLI/CLI.hpp>

#include "errors.h"
#include "openocd_servers.h"
#include "printable.h"

// This project's SCX library says why its backend did not start (see
// platform/scx/core/scxcore.h). Another JTAG client library has no such
// function: declared weak, it is then null.
extern "C" const char *scx_backend_failure(void) __attribute__((weak));

namespace sldtool {

void add_source_options(CLI::App &app, JtagSource *source) {
    app.add_option("--board", source->board,
                   "simulated board file to use (sets SCX_SIM_BOARD; format in platform/scx/sim/README.md)")
        ->type_name("FILE")
        ->check(CLI::Validator([](std::string &value) { return value.empty() ? "is empty" : ""; }, "",
                               "non-empty"));
    app.add_option("--openocd", source->openocd,
                   "use the OpenOCD server with this Tcl RPC port instead of the simulated board (repeatable)")
        ->type_name("HOST:PORT")
        ->allow_extra_args(false)
        ->excludes("--board");
}

void use_source(const JtagSource &source) {
    if (!source.board.empty()) {
        if (!std::ifstream(source.board)) {
            throw ToolError(exit_file, "cannot read board file " + quoted(source.board));
        }
        // Must come before the first call that reaches the JTAG library.
        setenv("SCX_SIM_BOARD", source.board.c_str(), 1);
    }
    if (!source.openocd.empty()) {
        use_openocd_servers(source.openocd);
    }
    // Also a board named in the environment may have been refused.
    const char *failure = scx_backend_failure != nullptr ? scx_backend_failure() : nullptr;
    if (failure == nullptr) {
        return;
    }
    if (!source.board.empty()) {
        throw ToolError(exit_file, "cannot use board file " + quoted(source.board) + ": " + failure);
    }
    throw ToolError(exit_file, std::string("the JTAG backend did not start: ") + failure);
}

} // namespace sldtool
