// Exit codes and the error type that carries one out of a command.
#ifndef SLDTOOL_ERRORS_H
#define SLDTOOL_ERRORS_H

#include <stdexcept>
#include <string>

namespace sldtool {

// Process exit codes, as --help documents them.
enum ExitCode {
    exit_success = 0,
    exit_library = 1,   // a library call returned a failing status
    exit_usage = 2,     // bad arguments, numbers, hex data or batch lines
    exit_not_found = 3, // no such cable or device, node index out of range
    exit_file = 4       // a file could not be read or written
};

// What ends a command early: the message to print and the exit code.
class ToolError : public std::runtime_error {
  public:
    ToolError(int exit_code, const std::string &message)
        : std::runtime_error(message), exit_code_(exit_code) {}
    int exit_code() const { return exit_code_; }

  private:
    int exit_code_;
};

// A failing library status, described as "<what>: NAME" and a line of plain words.
std::string describe_failure(const std::string &what, int status);

// Throws a ToolError with exit_library when status is not SLD_OK.
void check_status(int status, const std::string &what);

} // namespace sldtool

#endif
