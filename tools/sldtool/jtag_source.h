// Where the JTAG world comes from: the global options that choose it, set
// up before the first library call. Today that is a simulated board file;
// a source of another kind adds its option and its setup here.
#ifndef SLDTOOL_JTAG_SOURCE_H
#define SLDTOOL_JTAG_SOURCE_H

#include <string>

namespace CLI {
class App;
}

namespace sldtool {

struct JtagSource {
    std::string board; // --board: simulated board file; empty: the default
};

void add_source_options(CLI::App &app, JtagSource *source);

// Sets the source up for the SCX library; call before anything reaches the
// JTAG client library. Throws a ToolError (exit_file) when the board file
// cannot be read, or when the SCX library says its backend did not start
// (a board refused, also one named by SCX_SIM_BOARD).
void use_source(const JtagSource &source);

} // namespace sldtool

#endif
