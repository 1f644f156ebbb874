// What sldtool prints: every run the docs show, the JSON of ir, dr and batch,
// the scan log with captures, run-test-idle and delays, and the help.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "vcd_reader.h"

namespace {

const std::string SOURCE = SOURCE_DIR;

ProcessResult sldtool(std::initializer_list<std::string> args, const std::string &input = "") {
    return run_program(SLDTOOL_PATH, args, input);
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// The words of a shell command line; "..." groups words.
std::vector<std::string> shell_words(const std::string &line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) {
                words.push_back(word);
            }
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) {
        words.push_back(word);
    }
    return words;
}

std::string file_text(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A command the docs show as "$ ..." and the lines it prints there.
struct ShownRun {
    size_t line = 0;
    std::vector<std::string> words;
    std::string output;
};

std::vector<ShownRun> shown_runs(const std::string &path) {
    std::vector<ShownRun> runs;
    std::istringstream in(file_text(path));
    bool fenced = false;
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.rfind("```", 0) == 0) {
            fenced = !fenced;
        } else if (fenced && line.rfind("$ ", 0) == 0) {
            runs.push_back(ShownRun{number, shell_words(line.substr(2)), ""});
        } else if (fenced && !runs.empty() && runs.back().line != 0) {
            runs.back().output += line + "\n";
            continue;
        }
        if (!fenced && !runs.empty()) {
            runs.push_back(ShownRun()); // a block ends what the last run printed
        }
    }
    return runs;
}

} // namespace

// Each "$ sldtool ..." of the docs prints what the docs show under it, and
// each "$ cat" shows the file as it is.
TEST(ToolDocs, EveryRunTheDocsShowPrintsWhatTheyShow) {
    std::string dir = SOURCE;
    size_t checked = 0;
    for (const ShownRun &run : shown_runs(SOURCE + "/docs/sldtool.md")) {
        if (run.words.empty()) {
            continue;
        }
        const std::string where = "docs/sldtool.md line " + std::to_string(run.line);
        if (run.words[0] == "cd") {
            dir += "/" + run.words[1];
        } else if (run.words[0] == "cat") {
            EXPECT_EQ(run.output, file_text(dir + "/" + run.words[1])) << where;
            ++checked;
        } else if (run.words[0] == "sldtool" &&
                   std::find(run.words.begin(), run.words.end(), "--vcd") == run.words.end()) {
            const std::vector<std::string> args(run.words.begin() + 1, run.words.end());
            ProcessResult result = run_program(SLDTOOL_PATH, args, "", dir);
            EXPECT_EQ(result.exit_code, 0) << where << "\n" << result.err;
            EXPECT_EQ(result.out, run.output) << where;
            ++checked;
        }
    }
    EXPECT_GE(checked, 7u) << "the tour's runs were not found";
}

// One document per command, in the documented shape, with --json before
// or after the command.
TEST(ToolJson, IrDrAndBatchGiveOneDocumentOfTheirSteps) {
    const struct {
        std::initializer_list<std::string> args;
        std::string input;
        const char *command;
        std::vector<std::string> steps; // each step's dump, less line and text
    } cases[] = {
        {{"--json", "ir", "-c", "SimCable-1", "-d", "@1", "-n", "3", "0x101"},
         "",
         "ir",
         {R"({"op":"ir","instruction":"0x101","instruction_width":8,"loaded":"0x01","captured":"0x00","delay":0})"}},
        {{"dr", "--json", "-c", "SimCable-1 [sim:1]", "-d", "@1", "-n", "3", "--ir", "1", "8", "0b11", "8",
          "-", "4"},
         "",
         "dr",
         {R"({"op":"ir","instruction":"0x1","instruction_width":8,"loaded":"0x01","captured":"0x00","delay":0})",
          R"({"op":"dr","length":8,"written":"0x03","captured":"0x00","delay":0})",
          R"({"op":"dr","length":8,"written":null,"captured":"0x03","delay":0})",
          R"({"op":"dr","length":4,"written":null,"captured":"0x0","delay":0})"}},
        {{"batch", "-c", "SimCable-1", "-d", "@1", "-n", "id:4", "--json"},
         "ir 1 delay 2\nrti 5\ndelay 7\n",
         "batch",
         {R"({"op":"ir","instruction":"0x1","instruction_width":8,"loaded":"0x01","captured":"0x00","delay":2})",
          R"({"op":"rti","clocks":5})", R"({"op":"delay","microseconds":7})"}},
    };
    for (const auto &c : cases) {
        ProcessResult result = sldtool(c.args, c.input);
        ASSERT_EQ(result.exit_code, 0) << c.command << "\n" << result.err;
        const nlohmann::ordered_json json = nlohmann::ordered_json::parse(result.out);
        std::vector<std::string> keys;
        for (auto it = json.begin(); it != json.end(); ++it) {
            keys.push_back(it.key());
        }
        EXPECT_EQ(keys, (std::vector<std::string>{"schema_version", "command", "target", "steps", "error",
                                                  "status", "scan_log"}));
        EXPECT_EQ(json["command"], c.command);
        EXPECT_EQ(json["target"]["persistent_id"], 1);
        EXPECT_EQ(json["target"]["node"], 3);
        EXPECT_EQ(json["target"]["node_count"], 4);
        ASSERT_EQ(json["steps"].size(), c.steps.size()) << result.out;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            nlohmann::ordered_json step = json["steps"][i];
            EXPECT_EQ(step["line"],
                      c.input.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(i + 1));
            step.erase("line");
            step.erase("text");
            EXPECT_EQ(step.dump(), c.steps[i]) << c.command << " step " << i;
        }
        EXPECT_TRUE(json["error"].is_null() && json["status"].is_null() && json["scan_log"].is_null());
    }
    // The step and the scan log of one run write a capture alike.
    ProcessResult logged = sldtool({"--json", "--log", "ir", "-c", "SimCable-1", "-d", "@1", "-n", "2", "2"});
    ASSERT_EQ(logged.exit_code, 0) << logged.err;
    const nlohmann::json json = nlohmann::json::parse(logged.out);
    EXPECT_EQ(json["steps"][0]["captured"],
              json["scan_log"]["steps"].back()["entries"].back()["captured_instruction"])
        << logged.out;
}

TEST(ToolJson, AFailedCallStillGivesTheDocumentWithItsStatusAndTheLog) {
    ProcessResult result =
        sldtool({"--json", "--log", "ir", "-c", "SimCable-1", "-d", "SIM-CPLD", "-n", "0", "1"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(contains(result.err, "SLD_HUB_NOT_FOUND")) << result.err;
    const nlohmann::json json = nlohmann::json::parse(result.out);
    EXPECT_EQ(json["target"]["device"], "@2: SIM-CPLD (0x0A1B2C3D)");
    EXPECT_TRUE(json["target"]["node"].is_null());
    EXPECT_TRUE(json["steps"].empty());
    EXPECT_EQ(json["status"]["name"], "SLD_HUB_NOT_FOUND");
    EXPECT_EQ(json["status"]["call"], "sld_hub_open");
    EXPECT_TRUE(contains(json["error"].get<std::string>(), "cannot open the hub"));
    EXPECT_GT(json["scan_log"]["records"], 0);
    // Errors before the node is found give no document.
    ProcessResult unknown = sldtool({"--json", "ir", "-c", "nothing", "-d", "@1", "-n", "0", "1"});
    EXPECT_EQ(unknown.exit_code, 3);
    EXPECT_EQ(unknown.out, "");
}

// The log and the waveform carry the bits captured, run-test-idle and delays.
TEST(ToolLog, CarriesCapturesRunTestIdleAndDelays) {
    TempFile vcd;
    ProcessResult result =
        sldtool({"--log", "--vcd", vcd.path(), "batch", "-c", "SimCable-1", "-d", "@1", "-n", "3"},
                "ir 1 delay 4\ndr 8 5a\nrti 9\ndr 8\n");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const char *line :
         {"DR 11 bits 0x401  node 3 (address 4), instruction 0x1; captured instruction 0x00\n"
          "                  delay 4 microseconds\n",
          "DR 8 bits 0x5a  virtual data scan; captured 0x00\n",
          "                  RTI 9 TCK clocks in Run-Test/Idle\n",
          "DR 8 bits (nothing written)  virtual data scan; captured 0x5a\n"}) {
        EXPECT_TRUE(contains(result.out, line)) << line << "\n" << result.out;
    }
    std::ifstream in(vcd.path());
    VcdFile file;
    std::string error;
    ASSERT_TRUE(read_vcd(in, &file, &error)) << error;
    // tdo shows the bits of the last scan's capture, 0x5a, bit 0 first.
    const std::string tck = file.id_of("tck"), tdo = file.id_of("tdo"), rti = file.id_of("rti"),
                      delay = file.id_of("delay");
    ASSERT_FALSE(tdo.empty() || rti.empty() || delay.empty());
    std::string tdo_now, sampled, rti_values, delay_values;
    for (const VcdChange &change : file.changes) {
        if (change.id == tdo) {
            tdo_now = change.value;
        } else if (change.id == tck && change.value == "1") {
            sampled += tdo_now;
        } else if (change.id == rti) {
            rti_values += change.value + " ";
        } else if (change.id == delay) {
            delay_values += change.value + " ";
        }
    }
    EXPECT_EQ(sampled.substr(sampled.size() - 8), "01011010");
    EXPECT_EQ(rti_values, "0 1001 0 ");
    EXPECT_EQ(delay_values, "0 100 0 ");
}

TEST(ToolHelp, SyntaxUnitsAndExitCodesStandApart) {
    for (const char *command : {"ir", "dr", "batch"}) {
        ProcessResult help = sldtool({command, "--help"});
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_TRUE(contains(help.out, "decimal, 0x hex or 0b binary")) << command;
        EXPECT_TRUE(
            contains(help.out, "a delay is in microseconds; an rti COUNT is TCK clocks in Run-Test/Idle"))
            << command;
        EXPECT_TRUE(contains(help.out, ".\n\nExit codes:\n")) << command << "\n" << help.out;
    }
    ProcessResult one_node = sldtool({"ir", "--board", SOURCE + "/tests/tool/golden/one_node.json", "-c", "c",
                                      "-d", "@1", "-n", "1", "1"});
    EXPECT_EQ(one_node.exit_code, 3);
    EXPECT_TRUE(contains(one_node.err, "has 1 node (0-0)\n")) << one_node.err;
}
