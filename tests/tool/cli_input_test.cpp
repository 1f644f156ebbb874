// sldtool given what a new user gave it: board files it must refuse, cables
// that share a name, numbers and data in every syntax, instructions too wide
// for the node, and batches with unprintable bytes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "process.h"

namespace {

ProcessResult sldtool(std::initializer_list<std::string> args, const std::string &input = "") {
    return run_program(SLDTOOL_PATH, args, input);
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

long lines(const std::string &text) {
    return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

std::string nodes(size_t count, const std::string &node) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += (i ? "," : "") + node;
    }
    return text;
}

std::string hub_board(const std::string &nodes_json) {
    return R"({"cables": [{"persistent_id": 1, "name": "c", "devices": [{"idcode": 1, "ir_length": 10,
        "hub": {"version": 1, "ir_width": 8, "nodes": [)" +
           nodes_json + "]}}]}]}";
}

// Two cables called X, a third whose short name is the first one's full
// name, and one without a full name.
const char *const SHARED_NAMES = R"({"cables": [
    {"persistent_id": 1, "name": "X", "full_name": "X [a]", "devices": [{"idcode": "0x020A10DD",
     "ir_length": 10, "name": "FPGA", "hub": {"version": 1, "ir_width": 8, "nodes": [{"model": "memory"}]}}]},
    {"persistent_id": 2, "name": "X", "full_name": "X [b]", "devices": [{"idcode": "0x020A10DD",
     "ir_length": 10, "name": "FPGA", "hub": {"version": 1, "ir_width": 8, "nodes": [{"model": "memory"}]}}]},
    {"persistent_id": 3, "name": "X [a]", "full_name": "Y", "devices": [{"idcode": "0x1234567F", "ir_length": 4}]},
    {"persistent_id": 4, "name": "short", "devices": [{"idcode": "0x020A10DD", "ir_length": 10,
     "hub": {"version": 1, "ir_width": 8, "nodes": [{"model": "memory"}]}}]}]})";

} // namespace

// A board that cannot be read, parsed or checked ends the run before
// anything else, with exit 4 and the JSON path of what is wrong.
TEST(ToolBoards, RefusedBoardsExitWithFourAndNameThePath) {
    const struct {
        std::string board; // empty: a directory
        const char *message;
    } cases[] = {
        {"{\"cables\": [", "$: not valid JSON"},
        {"", "is a directory"},
        {R"({"cables": [{"persistent_id": "one"}]})", "$.cables[0].persistent_id: expected a number"},
        {hub_board(nodes(256, R"({"model": "shift"})")), "$.cables[0].devices[0].hub.nodes: has 256 nodes"},
        {hub_board(nodes(33, R"({"model": "memory", "depth": 1048576})")),
         "$.cables[0].devices[0].hub.nodes[32]: this node brings the simulated node state to 264 MiB"},
        {R"({"cables": [{"persistent_id": 1, "full_name": "A"}, {"persistent_id": 2, "full_name": "A"}]})",
         "$.cables[1].full_name: duplicate full name \"A\""},
        {R"({"cables": [{"persistent_id": 1, "name": "A"}, {"persistent_id": 1, "name": "B"}]})",
         "$.cables[1].persistent_id: duplicate persistent id 1"},
    };
    for (const auto &c : cases) {
        TempFile file(c.board);
        const std::string path = c.board.empty() ? "/tmp" : file.path();
        for (const char *json : {"", "--json"}) {
            ProcessResult result =
                json[0] ? sldtool({json, "--board", path, "list"}) : sldtool({"--board", path});
            EXPECT_EQ(result.exit_code, 4) << c.message << "\n" << result.err;
            EXPECT_EQ(result.out, "") << c.message;
            EXPECT_TRUE(contains(result.err, "sldtool: cannot use board file \"" + path + "\": "))
                << result.err;
            EXPECT_TRUE(contains(result.err, c.message)) << result.err;
            EXPECT_EQ(lines(result.err), 1) << "told once, by the tool:\n" << result.err;
        }
        // The same board named by the environment rather than --board.
        ProcessResult by_environment =
            run_program("env", {"SCX_SIM_BOARD=" + path, std::string(SLDTOOL_PATH), "list"});
        EXPECT_EQ(by_environment.exit_code, 4) << by_environment.err;
        EXPECT_TRUE(contains(by_environment.err, "sldtool: the JTAG backend did not start: "))
            << by_environment.err;
        EXPECT_EQ(lines(by_environment.err), 1) << by_environment.err;
    }
    // A file that cannot be opened says why, in one line.
    for (const std::string how : {"--board", "SCX_SIM_BOARD"}) {
        ProcessResult missing = how == "--board"
                                    ? sldtool({"--board", "/nonexistent/board.json", "list"})
                                    : run_program("env", {"SCX_SIM_BOARD=/nonexistent/board.json",
                                                          std::string(SLDTOOL_PATH), "list"});
        EXPECT_EQ(missing.exit_code, 4) << how;
        EXPECT_TRUE(contains(missing.err, "/nonexistent/board.json")) << missing.err;
        EXPECT_TRUE(contains(missing.err, ": No such file or directory\n")) << missing.err;
        EXPECT_EQ(lines(missing.err), 1) << missing.err;
    }
}

// SCX_OPENOCD is held to what --openocd is: a malformed value is a usage
// error, not an empty listing; --board sets it aside.
TEST(ToolSources, OpenocdServersFromTheEnvironmentAreCheckedAsTheOption) {
    for (const std::string value : {"garbage", "127.0.0.1:99999", ","}) {
        ProcessResult by_option = sldtool({"--openocd", value, "list"});
        ProcessResult by_environment =
            run_program("env", {"SCX_OPENOCD=" + value, std::string(SLDTOOL_PATH), "list"});
        EXPECT_EQ(by_option.exit_code, 2) << value << by_option.err;
        EXPECT_EQ(by_environment.exit_code, 2) << value << by_environment.err;
        EXPECT_EQ(by_environment.out, "") << value;
        EXPECT_TRUE(contains(by_environment.err, "sldtool: SCX_OPENOCD: ")) << by_environment.err;
        EXPECT_EQ(lines(by_environment.err), 1) << by_environment.err;
    }
    TempFile board(hub_board(R"({"model": "memory"})"));
    ProcessResult board_wins = run_program(
        "env", {"SCX_OPENOCD=127.0.0.1:1", std::string(SLDTOOL_PATH), "--board", board.path(), "list"});
    EXPECT_EQ(board_wins.exit_code, 0) << board_wins.err;
    EXPECT_TRUE(contains(board_wins.out, "cable c ")) << board_wins.out;
}

// Names the library cannot tell apart: the tool acts on the cable named,
// refuses a name that fits several, and lists every cable with its own chain.
TEST(ToolNames, CablesThatShareANameAreKeptApart) {
    TempFile board(SHARED_NAMES);
    const struct {
        std::vector<std::string> cable_and_device;
        int exit_code;
        unsigned long persistent_id; // of the cable scanned
        const char *err;
    } cases[] = {
        {{"X [b]", "FPGA"}, 0, 2, ""},
        {{"X [a]", "@1"}, 0, 1, ""},
        {{"Y", "@1"}, 1, 3, "SLD_HUB_NOT_FOUND"},
        {{"short", "@1"}, 0, 4, ""},
        {{"X", "@1"}, 3, 0, "X (full name \"X [b]\", persistent id 2)\n"},
        {{"Z", "@1"}, 3, 0, "no JTAG hardware named \"Z\""},
    };
    for (const auto &c : cases) {
        ProcessResult result = sldtool({"--board", board.path(), "--json", "ir", "-c", c.cable_and_device[0],
                                        "-d", c.cable_and_device[1], "-n", "0", "1"});
        EXPECT_EQ(result.exit_code, c.exit_code) << c.cable_and_device[0] << "\n" << result.err;
        EXPECT_TRUE(contains(result.err, c.err)) << result.err;
        if (c.persistent_id != 0) {
            nlohmann::json json = nlohmann::json::parse(result.out);
            EXPECT_EQ(json["target"]["persistent_id"], c.persistent_id) << c.cable_and_device[0];
        }
    }
    ProcessResult list = sldtool({"--board", board.path(), "list"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_TRUE(
        contains(list.out, "cable X (full name \"X [b]\", persistent id 2)\n`-- @1: FPGA (0x020A10DD)\n"))
        << list.out;
    EXPECT_TRUE(contains(list.out, "cable X [a] (full name \"Y\", persistent id 3)\n`-- @1: unknown device"))
        << list.out;
    EXPECT_TRUE(contains(list.out, "cable short (full name \"short\", persistent id 4)\n`-- @1:"))
        << list.out;
}

// Every number reads decimal, 0x or 0b; DATA reads hex digits (a leading
// zero is fine) or 0b bits. The shift node's 8-bit register shows what was
// written when it is read back.
TEST(ToolNumbers, OneSyntaxForNumbersAndOneForData) {
    const struct {
        std::vector<std::string> words; // after dr -c ... -n 3 --ir 1
        const char *read_back;
    } cases[] = {
        {{"8", "0b101"}, "0x05"}, {{"8", "0ff"}, "0xff"},      {{"0b1000", "0x0c"}, "0x0c"},
        {{"0x8", "b1"}, "0xb1"},  {{"8", "00000011"}, "0x11"}, {{"8", "0B00000001"}, "0x01"},
    };
    for (const auto &c : cases) {
        ProcessResult result = sldtool(
            {"dr", "-c", "SimCable-1", "-d", "@1", "-n", "3", "--ir", "1", c.words[0], c.words[1], "8"});
        EXPECT_EQ(result.exit_code, 0) << c.words[1] << "\n" << result.err;
        EXPECT_TRUE(contains(result.out, std::string("\ncaptured ") + c.read_back + "\n")) << result.out;
    }
    // The same in a batch, with a node named by its id and 0b numbers.
    ProcessResult batch = sldtool({"batch", "-c", "SimCable-1", "-d", "SIM-FPGA-A", "-n", "id:4"},
                                  "ir 0b1\ndr 0b1000 0b11\ndr 8\n");
    EXPECT_EQ(batch.exit_code, 0) << batch.err;
    EXPECT_TRUE(contains(batch.out, "line 3: dr 8 -> captured 0x03\n")) << batch.out;
}

// The node's instruction width is what the virtual IR scan shows: bits
// above it are dropped, and the tool says so.
TEST(ToolScans, InstructionsWiderThanTheNodeGetAWarning) {
    const struct {
        std::initializer_list<std::string> args;
        std::string input;
        const char *warning; // empty: none
    } cases[] = {
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "3", "0x141"},
         "",
         "sldtool: warning: instruction 0x141 does not fit the node's 8-bit instruction register; it was "
         "loaded "
         "as 0x41\n"},
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "3", "0xff"}, "", ""},
        {{"batch", "-c", "SimCable-1", "-d", "@1", "-n", "0"},
         "ir 1\nir 0x100\n",
         "sldtool: warning: line 2: instruction 0x100 does not fit the node's 8-bit"},
        {{"dr", "-c", "SimCable-2", "-d", "@1", "-n", "1", "--ir", "0x201", "4"},
         "",
         "instruction 0x201 does not fit the node's 6-bit instruction register; it was loaded as 0x1"},
    };
    for (const auto &c : cases) {
        ProcessResult result = sldtool(c.args, c.input);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        if (c.warning[0] != '\0') {
            EXPECT_TRUE(contains(result.err, c.warning)) << result.err;
        } else {
            EXPECT_FALSE(contains(result.err, "warning")) << result.err;
        }
    }
}

// Every bad line of a batch is reported, a NUL or an escape sequence in it
// shown as \xHH, and nothing is scanned.
TEST(ToolBatch, EveryBadLineIsReportedWithUnprintableBytesEscaped) {
    const std::string input = std::string("ir 1\nir \0\n", 10) + "\x1b[31mred\ndr 8 1ff\nrti\n";
    ProcessResult result = sldtool({"batch", "-c", "SimCable-1", "-d", "@1", "-n", "0"}, input);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    for (const char *line : {"standard input: line 2: \"\\x00\" is not a number",
                             "standard input: line 3: unknown operation \"\\x1B[31mred\"",
                             "standard input: line 4: data \"1ff\" does not fit in 8 bits",
                             "standard input: line 5: rti needs a number"}) {
        EXPECT_TRUE(contains(result.err, line)) << line << "\n" << result.err;
    }
    EXPECT_FALSE(contains(result.err, "\x1b")) << "no raw escape byte";
}
