// Where the JTAG world comes from: the global options that choose it, set
// up before the first library call: a simulated board file, or OpenOCD
// servers.
#ifndef SLDTOOL_JTAG_SOURCE_H
#define SLDTOOL_JTAG_SOURCE_H

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace sldtool {

struct JtagSource {
    std::string board;                // --board: simulated board file; empty: the default
    std::vector<std::string> openocd; // --openocd: HOST:PORT of each OpenOCD server
};

void add_source_options(CLI::App &app, JtagSource *source);

// Sets the source up for the SCX library; call before anything reaches the
// JTAG client library. Throws a ToolError (exit_file) when the board file
// cannot be read, or when the SCX library says its backend did not start
// (a board refused, also one named by SCX_SIM_BOARD); a usage ToolError when
// the SCX library refuses the OpenOCD servers.
void use_source(const JtagSource &source);

} // namespace sldtool

#endif
