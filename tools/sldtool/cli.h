// The command line: options, subcommands, and what each one runs.
#ifndef SLDTOOL_CLI_H
#define SLDTOOL_CLI_H

namespace sldtool {

// Runs the tool; returns the process exit code (see errors.h).
int run(int argc, char **argv);

} // namespace sldtool

#endif
