// sldtool as a user runs it: the tree of the default board (golden text and
// the README's tour), JSON, scans, batches, the decoded log and the VCD file,
// and every kind of mistake with its message and exit code.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <vector>

#include "process.h"
#include "vcd_reader.h"

namespace {

const std::string TOOL = SLDTOOL_PATH;
const std::string MEMORY_NODE_ARGS[] = {"-c", "SimCable-1", "-d", "@1", "-n", "0"};

ProcessResult sldtool(std::initializer_list<std::string> args, const std::string &input = "") {
    return run_program(TOOL, args, input);
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::string read_text(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string golden(const std::string &name) {
    return read_text(std::string(GOLDEN_DIR) + "/" + name);
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> split_words(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

bool starts_with(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string &text, const std::string &suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A fenced block of a Markdown file: its content lines and the 1-based line
// number of the first of them, for messages that point into the file.
struct FencedBlock {
    size_t first_line = 0;
    std::vector<std::string> lines;
};

// The fenced blocks from line index `from` on, in order.
std::vector<FencedBlock> fenced_blocks(const std::vector<std::string> &lines, size_t from = 0) {
    std::vector<FencedBlock> blocks;
    bool inside = false;
    for (size_t i = from; i < lines.size(); ++i) {
        if (starts_with(lines[i], "```")) {
            inside = !inside;
            if (inside) {
                blocks.push_back({i + 2, {}});
            }
        } else if (inside) {
            blocks.back().lines.push_back(lines[i]);
        }
    }
    return blocks;
}

} // namespace

TEST(ToolList, DefaultBoardTreeMatchesTheGoldenText) {
    ProcessResult list = sldtool({"list"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out, golden("list_default.txt"));
    EXPECT_EQ(list.err, "");
    // No command at all is the same listing.
    ProcessResult bare = sldtool({});
    EXPECT_EQ(bare.exit_code, 0);
    EXPECT_EQ(bare.out, list.out);
}

TEST(ToolList, JsonCarriesTheSameTreeInTheDocumentedSchema) {
    ProcessResult result = sldtool({"list", "--json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    nlohmann::json json = nlohmann::json::parse(result.out);
    EXPECT_EQ(json["schema_version"], 1);
    ASSERT_EQ(json["cables"].size(), 2u);
    const nlohmann::json &cable = json["cables"][0];
    EXPECT_EQ(cable["name"], "SimCable-1");
    EXPECT_EQ(cable["full_name"], "SimCable-1 [sim:1]");
    EXPECT_EQ(cable["persistent_id"], 1);
    EXPECT_TRUE(cable["device_status"].is_null());
    ASSERT_EQ(cable["devices"].size(), 3u);
    const nlohmann::json &fpga = cable["devices"][0];
    EXPECT_EQ(fpga["device"], "@1: SIM-FPGA-A (0x020A10DD)");
    EXPECT_EQ(fpga["position"], 1);
    EXPECT_EQ(fpga["name"], "SIM-FPGA-A");
    EXPECT_EQ(fpga["idcode"], "0x020A10DD");
    EXPECT_TRUE(fpga["hub_status"].is_null());
    EXPECT_EQ(fpga["hub"]["node_count"], 4);
    const nlohmann::json &node = fpga["hub"]["nodes"][3];
    EXPECT_EQ(node["index"], 3);
    EXPECT_EQ(node["manufacturer_id"], 110);
    EXPECT_EQ(node["node_id"], 4);
    EXPECT_EQ(node["version"], 1);
    EXPECT_EQ(node["instance_id"], 0);
    const nlohmann::json &old = cable["devices"][2];
    EXPECT_TRUE(old["hub"].is_null());
    EXPECT_EQ(old["hub_status"]["code"], 4);
    EXPECT_EQ(old["hub_status"]["name"], "SLD_UNSUPPORTED_HUB");
    EXPECT_EQ(old["hub_status"]["call"], "sld_hub_open");
    EXPECT_FALSE(old["hub_status"]["message"].get<std::string>().empty());
    EXPECT_EQ(json["cables"][1]["devices"][0]["hub"]["node_count"], 2);
    EXPECT_TRUE(json["scan_log"].is_null());
    // With --log the log is part of the document, and --json may come first.
    ProcessResult logged = sldtool({"--json", "list", "--log"});
    EXPECT_EQ(logged.err, "");
    nlohmann::json with_log = nlohmann::json::parse(logged.out);
    EXPECT_EQ(with_log["cables"], json["cables"]);
    EXPECT_EQ(with_log["scan_log"]["steps"][0]["step"], "open hub of SimCable-1 @1: SIM-FPGA-A (0x020A10DD)");
}

// The README's opening commands and its tour of `sldtool list` are what a
// reader tries first, so they are checked against the script and the tool.
TEST(ToolList, ReadmeTourAndMainJobMatchTheTool) {
    const std::string readme_path = README_PATH;
    const std::vector<std::string> readme = split_lines(read_text(readme_path));
    ASSERT_FALSE(readme.empty()) << "README.md could not be read at " << readme_path;
    const std::string source_dir = readme_path.substr(0, readme_path.find_last_of('/'));

    // The main job: the first command of the README's first fenced block is a
    // script in the source tree that a user can run.
    const std::vector<FencedBlock> blocks = fenced_blocks(readme);
    ASSERT_FALSE(blocks.empty() || blocks[0].lines.empty()) << "README.md has no fenced block of commands";
    const std::vector<std::string> main_job = split_words(blocks[0].lines[0]);
    ASSERT_FALSE(main_job.empty()) << "README.md line " << blocks[0].first_line << " names no command";
    const std::string script_path = source_dir + "/" + main_job[0];
    struct stat script_stat {};
    ASSERT_EQ(stat(script_path.c_str(), &script_stat), 0)
        << "README.md line " << blocks[0].first_line << ": " << main_job[0] << " does not exist";
    EXPECT_TRUE(S_ISREG(script_stat.st_mode) && (script_stat.st_mode & S_IXUSR) != 0)
        << "README.md line " << blocks[0].first_line << ": " << main_job[0] << " is not an executable file";

    // The script ends by running the tool's list, so its output is the tour's.
    std::string last_command;
    for (const std::string &line : split_lines(read_text(script_path))) {
        std::vector<std::string> words = split_words(line);
        if (!words.empty() && !starts_with(words[0], "#")) {
            last_command = line;
        }
    }
    std::vector<std::string> script_words = split_words(last_command);
    if (!script_words.empty() && script_words[0] == "exec") {
        script_words.erase(script_words.begin());
    }
    ASSERT_TRUE(script_words.size() >= 2 && ends_with(script_words[0], "/sldtool") &&
                script_words[1] == "list")
        << main_job[0]
        << " (the README.md main job) does not end by running `sldtool list`; its last command is: "
        << last_command;

    // The tour: the first fenced block under its heading starts with
    // `$ <path>/sldtool list`, then the first lines of the tree, then `...`.
    size_t heading = 0;
    while (heading < readme.size() && readme[heading] != "## A short tour") {
        ++heading;
    }
    ASSERT_LT(heading, readme.size()) << "README.md has no \"## A short tour\" section";
    const std::vector<FencedBlock> tour_blocks = fenced_blocks(readme, heading);
    ASSERT_FALSE(tour_blocks.empty() || tour_blocks[0].lines.empty())
        << "README.md has no fenced block under \"## A short tour\"";
    const FencedBlock &tour = tour_blocks[0];
    const std::vector<std::string> prompt = split_words(tour.lines[0]);
    ASSERT_TRUE(prompt.size() == 3 && prompt[0] == "$" && ends_with(prompt[1], "sldtool") &&
                prompt[2] == "list")
        << "README.md line " << tour.first_line << " is not `$ .../sldtool list`: " << tour.lines[0];
    // The tour names the same program the main job leaves built.
    EXPECT_EQ(prompt[1], script_words[0])
        << "README.md line " << tour.first_line << " runs a different sldtool than " << main_job[0];
    std::vector<std::string> shown(tour.lines.begin() + 1, tour.lines.end());
    const auto ellipsis = std::find(shown.begin(), shown.end(), "...");
    ASSERT_TRUE(ellipsis != shown.end())
        << "README.md tour block at line " << tour.first_line << " has no `...` line ending the shown output";
    shown.erase(ellipsis, shown.end());
    ASSERT_FALSE(shown.empty()) << "README.md tour block at line " << tour.first_line << " shows no output";

    ProcessResult list = sldtool({"list"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    const std::vector<std::string> printed = split_lines(list.out);
    ASSERT_LE(shown.size(), printed.size())
        << "README.md shows " << shown.size() << " lines of `sldtool list` but the tool prints only "
        << printed.size() << ":\n"
        << list.out;
    // The first difference only: after a dropped or added line every later one differs too.
    for (size_t i = 0; i < shown.size(); ++i) {
        ASSERT_EQ(shown[i], printed[i]) << "README.md line " << tour.first_line + 1 + i
                                        << " differs from line " << i + 1 << " of `sldtool list`";
    }
}

TEST(ToolList, OtherBoardsShowMissingNamesAndEmptyChains) {
    TempFile board(R"({"cables": [
        {"persistent_id": 7, "name": "plain", "full_name": "plain [7]",
         "devices": [{"idcode": "0x1234567F", "ir_length": 4}]},
        {"persistent_id": 8, "name": "empty", "full_name": "empty chain", "devices": []},
        {"persistent_id": 9, "name": "nameless", "devices": []}]})");
    ProcessResult result = sldtool({"--board", board.path(), "list"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out,
              "cable plain (full name \"plain [7]\", persistent id 7)\n"
              "`-- @1: unknown device (0x1234567F)\n"
              "    `-- no hub: SLD_HUB_NOT_FOUND, the device does not answer as a valid hub\n"
              "cable empty (full name \"empty chain\", persistent id 8)\n"
              "`-- no devices: SLD_DEVICE_NOT_FOUND, no such device on the chain, the chain has gone, "
              "or the hub id is not usable\n"
              "cable nameless (full name \"nameless\", persistent id 9)\n"
              "`-- no devices: SLD_DEVICE_NOT_FOUND, no such device on the chain, the chain has gone, "
              "or the hub id is not usable\n");
    TempFile nothing(R"({"cables": []})");
    result = sldtool({"list", "--board", nothing.path()});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "no JTAG hardware found\n");
    result = sldtool({"list", "--json", "--board", nothing.path()});
    EXPECT_EQ(nlohmann::json::parse(result.out)["cables"].size(), 0u);
}

TEST(ToolScans, IrAndDrPrintTheirCaptures) {
    // The shift node (index 3): instruction 1 selects an 8-bit register.
    ProcessResult ir = sldtool({"ir", "-c", "SimCable-1", "-d", "@1", "-n", "3", "1"});
    EXPECT_EQ(ir.exit_code, 0) << ir.err;
    EXPECT_TRUE(contains(ir.out, "captured instruction 0x")) << ir.out;
    // Updated, then captured again by a second scan in the same run.
    ProcessResult dr =
        sldtool({"batch", "-c", "SimCable-1 [sim:1]", "-d", "@1: SIM-FPGA-A (0x020A10DD)", "-n", "3"},
                "ir 1\ndr 8 5a\ndr 8 00\n");
    EXPECT_EQ(dr.exit_code, 0) << dr.err;
    EXPECT_TRUE(contains(dr.out, "line 3: dr 8 00 -> captured 0x5a\n")) << dr.out;
    ProcessResult one =
        sldtool({"dr", "--lock", "--ir", "2", "-c", "SimCable-1", "-d", "@1", "-n", "3", "32", "1"});
    EXPECT_EQ(one.exit_code, 0) << one.err;
    EXPECT_TRUE(contains(one.out, "captured instruction 0x")) << one.out;
    EXPECT_TRUE(contains(one.out, "\ncaptured 0x00000000\n")) << one.out;
    // Without --ir the user is told where the scan goes.
    ProcessResult bare = sldtool({"dr", "-c", "SimCable-1", "-d", "@1", "-n", "3", "4"});
    EXPECT_EQ(bare.exit_code, 0) << bare.err;
    EXPECT_TRUE(contains(bare.err, "without --ir")) << bare.err;
}

TEST(ToolScans, BatchWritesAndReadsTheMemoryNodeUnderOneLock) {
    ProcessResult result = sldtool({"batch", MEMORY_NODE_ARGS[0], MEMORY_NODE_ARGS[1], MEMORY_NODE_ARGS[2],
                                    MEMORY_NODE_ARGS[3], MEMORY_NODE_ARGS[4], MEMORY_NODE_ARGS[5]},
                                   "# write two words at 0x40\n"
                                   "ir 1\ndr 8 40\nir 2\ndr 32 deadbeef\ndr 32 0x00c0ffee\n"
                                   "rti 10\ndelay 1\n"
                                   "ir 1\ndr 8 40\nir 3\ndr 32\ndr 32\n");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "line 12: dr 32 -> captured 0xdeadbeef\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "line 13: dr 32 -> captured 0x00c0ffee\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "line 7: rti 10\n"));
    // From a file, the same.
    TempFile file("ir 1\ndr 8 ff\n");
    result = sldtool({"batch", "-c", "SimCable-1", "-d", "@1", "-n", "0", file.path()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "line 2: dr 8 ff -> captured 0x")) << result.out;
}

TEST(ToolErrors, UsageMistakesExitWithTwoAndSayWhat) {
    struct Case {
        std::initializer_list<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{"frobnicate"}, ""},
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "0"}, "value"},
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "0", "zz"}, "\"zz\" is not a number"},
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "0", "0x100000000"}, "too large"},
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "x", "1"}, "node index"},
        {{"dr", "-c", "SimCable-1", "-d", "@1", "-n", "0", "10", "7ff"}, "does not fit in 10 bits"},
        {{"dr", "-c", "SimCable-1", "-d", "@1", "-n", "0", "8", "0x123"}, "does not fit in 8 bits"},
        {{"dr", "-c", "SimCable-1", "-d", "@1", "-n", "0", "--ir", "1"}, "LENGTH"},
        {{"ir", "-c", "SimCable-1", "-d", "@1", "-n", "id:", "1"}, "node id"},
        {{"--board", "", "list"}, "sldtool: --board: is empty"},
        {{"--vcd", "", "list"}, "sldtool: --vcd: is empty"},
        {{"list", "--frobnicate"}, "sldtool: The following argument was not expected: --frobnicate"},
        {{"dr", "-c", "SimCable-1", "-d", "@1", "-n", "0", "0"}, "at least 1 bit"},
        {{"ir", "--timeout", "soon", "-c", "SimCable-1", "-d", "@1", "-n", "0", "1"}, "--timeout"},
    };
    for (const Case &c : cases) {
        ProcessResult result = sldtool(c.args);
        EXPECT_EQ(result.exit_code, 2) << c.message << "\n" << result.err;
        EXPECT_TRUE(contains(result.err, c.message)) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(ToolErrors, AMalformedBatchIsReportedBeforeAnythingIsScanned) {
    ProcessResult result = sldtool({"--log", "batch", "-c", "SimCable-1", "-d", "@1", "-n", "0"},
                                   "ir 1\ndr 8 10\nscan 4\ndr 4 100\n");
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_TRUE(contains(result.err, "standard input: line 3: unknown operation \"scan\"")) << result.err;
    EXPECT_TRUE(contains(result.err, "standard input: line 4: ")) << result.err;
    EXPECT_EQ(result.out, "scan log: 0 records\n");
    TempFile missing;
    std::string path = missing.path() + ".none";
    result = sldtool({"batch", "-c", "SimCable-1", "-d", "@1", "-n", "0", path});
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_TRUE(contains(result.err, "cannot read batch file")) << result.err;
}

TEST(ToolErrors, UnknownTargetsExitWithThreeAndListWhatThereIs) {
    ProcessResult cable = sldtool({"ir", "-c", "NoSuchCable", "-d", "@1", "-n", "0", "1"});
    EXPECT_EQ(cable.exit_code, 3);
    EXPECT_TRUE(contains(cable.err, "no JTAG hardware named \"NoSuchCable\"")) << cable.err;
    EXPECT_TRUE(contains(cable.err, "SimCable-2")) << cable.err;
    ProcessResult device = sldtool({"ir", "-c", "SimCable-1", "-d", "@7", "-n", "0", "1"});
    EXPECT_EQ(device.exit_code, 3);
    EXPECT_TRUE(contains(device.err, "@3: SIM-FPGA-OLD (0x12345093)")) << device.err;
    ProcessResult bare = sldtool({"ir", "-c", "SimCable-1", "-d", "2", "-n", "0", "1"});
    EXPECT_EQ(bare.exit_code, 3);
    EXPECT_TRUE(contains(bare.err, "write @2")) << bare.err;
    ProcessResult node = sldtool({"ir", "-c", "SimCable-2", "-d", "@1", "-n", "2", "1"});
    EXPECT_EQ(node.exit_code, 3);
    EXPECT_TRUE(contains(node.err, "node index 2 is out of range")) << node.err;
    EXPECT_TRUE(contains(node.err, "has 2 nodes (0-1)")) << node.err;
}

TEST(ToolErrors, LibraryFailuresExitWithOneAndNameTheStatus) {
    ProcessResult no_hub = sldtool({"ir", "-c", "SimCable-1", "-d", "@2", "-n", "0", "1"});
    EXPECT_EQ(no_hub.exit_code, 1);
    EXPECT_TRUE(contains(no_hub.err, ": SLD_HUB_NOT_FOUND\n  the device does not answer as a valid hub\n"))
        << no_hub.err;
    ProcessResult old = sldtool({"dr", "-c", "SimCable-1", "-d", "@3", "-n", "0", "--ir", "1", "8"});
    EXPECT_EQ(old.exit_code, 1);
    EXPECT_TRUE(contains(old.err, "SLD_UNSUPPORTED_HUB")) << old.err;
}

TEST(ToolErrors, FilesThatCannotBeUsedExitWithFour) {
    ProcessResult board = sldtool({"--board", "/nonexistent/board.json", "list"});
    EXPECT_EQ(board.exit_code, 4);
    EXPECT_TRUE(contains(board.err, "cannot read board file")) << board.err;
    ProcessResult vcd = sldtool({"--vcd", "/nonexistent/dir/out.vcd", "list"});
    EXPECT_EQ(vcd.exit_code, 4);
    EXPECT_EQ(vcd.out, "");
}

TEST(ToolHelp, EveryCommandHasHelpAndTheExitCodes) {
    for (const char *command : {"list", "ir", "dr", "batch"}) {
        ProcessResult help = sldtool({command, "--help"});
        EXPECT_EQ(help.exit_code, 0) << command;
        EXPECT_TRUE(contains(help.out, "Exit codes:")) << command << help.out;
    }
    ProcessResult help = sldtool({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(contains(help.out, "3  no such cable, device or node, or a name that fits several"))
        << help.out;
    ProcessResult version = sldtool({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_TRUE(contains(version.out, "sldtool " SLDTOOL_VERSION "\n")) << version.out;
    EXPECT_TRUE(contains(version.out, "library interface 1.1")) << version.out;
}

TEST(ToolLog, DecodesTheScansOfAnIrCommand) {
    ProcessResult result = sldtool({"ir", "--log", "-c", "SimCable-1", "-d", "@1", "-n", "2", "2"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string &out = result.out;
    EXPECT_TRUE(contains(out, "[open hub of SimCable-1 @1: SIM-FPGA-A (0x020A10DD)]\n")) << out;
    EXPECT_TRUE(contains(out, "  #1              IR 14  select virtual instruction register\n")) << out;
    EXPECT_TRUE(contains(out,
                         "#2              DR 64 bits 0x0000000000000000  hub (address 0), instruction 0x0: "
                         "information readout\n"))
        << out;
    EXPECT_TRUE(contains(out, "#4-#43          DR 4 bits 0x0  virtual data scan  (40 scans)\n")) << out;
    // A version-1 hub: force capture first, then the instruction itself.
    EXPECT_TRUE(contains(out, "[ir 0x2 on node 2 of SimCable-1 @1: SIM-FPGA-A (0x020A10DD)]\n")) << out;
    EXPECT_TRUE(
        contains(out, "DR 11 bits 0x01b  hub (address 0), instruction 0x1b: force capture of node 2\n"))
        << out;
    EXPECT_TRUE(
        contains(out, "DR 11 bits 0x302  node 2 (address 3), instruction 0x2; captured instruction 0x00\n"))
        << out;
}

TEST(ToolLog, VcdFileParsesAndHoldsEveryDataScan) {
    TempFile vcd;
    ProcessResult result = sldtool({"--vcd", vcd.path(), "--log", "list"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::ifstream in(vcd.path());
    VcdFile file;
    std::string error;
    ASSERT_TRUE(read_vcd(in, &file, &error)) << error;
    // One rising edge of shift_dr per data scan of the log.
    const std::string shift = file.id_of("shift_dr");
    ASSERT_NE(shift, "");
    size_t pulses = 0;
    for (const VcdChange &change : file.changes) {
        pulses += change.id == shift && change.value == "1";
    }
    size_t scans = 0;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (contains(line, " DR ")) {
            size_t folded = line.find("  (");
            scans += folded == std::string::npos ? 1 : std::stoul(line.substr(folded + 3));
        }
    }
    // Discovery of the four devices: 1 + 8 * (1 + nodes) data scans each, 8
    // nibbles only where the hub word is refused.
    EXPECT_EQ(scans, (1u + 8u * 5u) + (1u + 8u) + (1u + 8u) + (1u + 8u * 3u));
    EXPECT_EQ(pulses, scans);
}

#ifdef EXAMPLES_DIR
TEST(Examples, EachRunsOnTheDefaultBoard) {
    ProcessResult list = run_program(std::string(EXAMPLES_DIR) + "/list_hubs", {});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "  @1: SIM-FPGA-A (0x020A10DD): hub with 4 nodes\n")) << list.out;
    EXPECT_TRUE(contains(list.out, "    node 3: manufacturer 110, node id 4, version 1, instance 0\n"));
    EXPECT_TRUE(contains(list.out, "  @3: SIM-FPGA-OLD (0x12345093): no usable hub (SLD_UNSUPPORTED_HUB)\n"));
    EXPECT_TRUE(contains(list.out, "SimCable-2\n  @1: SIM-FPGA-B (0x02B150DD): hub with 2 nodes\n"));
    ProcessResult memory = run_program(std::string(EXAMPLES_DIR) + "/memory_node", {});
    EXPECT_EQ(memory.exit_code, 0) << memory.err;
    EXPECT_TRUE(contains(memory.out, "word 3 at 0x13: wrote 0x00C0FFEE, read 0x00C0FFEE\n")) << memory.out;
    EXPECT_FALSE(contains(memory.out, "MISMATCH"));
    ProcessResult stream = run_program(std::string(EXAMPLES_DIR) + "/stream_node", {});
    EXPECT_EQ(stream.exit_code, 0) << stream.err;
    EXPECT_TRUE(contains(stream.out, "before: 0 bytes waiting for the host, room for 64 bytes"))
        << stream.out;
    EXPECT_TRUE(contains(stream.out, "sent 14 bytes\n")) << stream.out;
    EXPECT_TRUE(contains(stream.out, "after: 0 bytes waiting for the host, room for 50 bytes")) << stream.out;
}

// Cable and device come from the command line, so the examples run on any
// board (and over OpenOCD); the defaults are only defaults.
TEST(Examples, TakeTheCableAndDeviceGiven) {
    const std::string dir = EXAMPLES_DIR;
    TempFile board(
        R"({"cables": [{"persistent_id": 5, "name": "lab", "devices": [{"idcode": 1, "ir_length": 4},
        {"idcode": 7, "ir_length": 10, "name": "X", "hub": {"version": 1, "ir_width": 8,
         "nodes": [{"model": "memory"}, {"model": "stream"}]}}]}]})");
    for (const char *example : {"/memory_node", "/stream_node"}) {
        ProcessResult other =
            run_program("env", {"SCX_SIM_BOARD=" + board.path(), dir + example, "lab", "@2: X (0x00000007)"});
        EXPECT_EQ(other.exit_code, 0) << example << "\n" << other.err;
        EXPECT_TRUE(contains(other.out, example[1] == 'm'
                                            ? "word 3 at 0x13: wrote 0x00C0FFEE, read 0x00C0FFEE\n"
                                            : "sent 14 bytes\n"))
            << other.out;
    }
    ProcessResult no_hub = run_program(dir + "/stream_node", {"SimCable-1", "@2: SIM-CPLD (0x0A1B2C3D)"});
    EXPECT_EQ(no_hub.exit_code, 1);
    EXPECT_TRUE(contains(no_hub.err, "sld_hub_open failed: SLD_HUB_NOT_FOUND")) << no_hub.err;
    for (const char *example : {"/memory_node", "/stream_node"}) {
        ProcessResult usage = run_program(dir + example, {"--help"});
        EXPECT_EQ(usage.exit_code, 2) << example;
        EXPECT_TRUE(contains(usage.err, "[CABLE [DEVICE]]")) << usage.err;
    }
}
#endif
