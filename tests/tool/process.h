// Running the built programs as a user would, capturing what they print.
#ifndef SLD_TESTS_TOOL_PROCESS_H
#define SLD_TESTS_TOOL_PROCESS_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

struct ProcessResult {
    int exit_code = -1; // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// A file under the temporary directory, removed again by the destructor.
class TempFile {
  public:
    explicit TempFile(const std::string &content = "") {
        char name[] = "/tmp/sldtool-test-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) {
            close(fd);
        }
        path_ = name;
        std::ofstream(path_) << content;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    const std::string &path() const { return path_; }
    std::string content() const {
        std::ifstream in(path_);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::string path_;
};

inline std::string shell_quoted(const std::string &word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs program with the arguments, standard input from input, outside any
// simulator board the test environment may name; in directory dir when
// one is given.
template <typename Args>
ProcessResult run_program(const std::string &program, const Args &args, const std::string &input = "",
                          const std::string &dir = "") {
    TempFile in(input), err;
    std::string command = (dir.empty() ? "" : "cd " + shell_quoted(dir) + " && ") + "env -u SCX_SIM_BOARD " +
                          shell_quoted(program);
    for (const std::string &arg : args) {
        command += " " + shell_quoted(arg);
    }
    command += " <" + shell_quoted(in.path()) + " 2>" + shell_quoted(err.path());
    ProcessResult result;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        result.out.append(buffer, n);
    }
    int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = err.content();
    return result;
}

inline ProcessResult run_program(const std::string &program, std::initializer_list<std::string> args,
                                 const std::string &input = "") {
    return run_program<std::initializer_list<std::string>>(program, args, input);
}

#endif
