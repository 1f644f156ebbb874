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
    exit_usage = 2,     // bad arguments, numbers, data or batch lines
    exit_not_found = 3, // no such cable, device or node, or a name that fits several
    exit_file = 4       // a file could not be read or written, or the board not loaded
};

// What ends a command early: the message to print and the exit code, and
// for a failed library call its status and the call's name. The message is
// kept printable (see printable.h), so no input can cut it short.
class ToolError : public std::runtime_error {
  public:
    ToolError(int exit_code, const std::string &message);
    // A failed library call: exit_library.
    ToolError(int status, const std::string &call, const std::string &message);
    int exit_code() const { return exit_code_; }
    // The library's status, 0 unless a library call failed.
    int status() const { return status_; }
    // The library function that failed, empty unless one did.
    const std::string &call() const { return call_; }

  private:
    int exit_code_;
    int status_ = 0;
    std::string call_;
};

// A failing library status, described as "<what>: NAME" and a line of plain words.
std::string describe_failure(const std::string &what, int status);

// Throws a ToolError for the failed call when status is not SLD_OK; the
// message starts with what (the call's name when what is empty).
void check_status(int status, const std::string &call, const std::string &what = "");

// "1 node", "2 nodes".
std::string count_of(size_t count, const std::string &thing);

} // namespace sldtool

#endif
