// The scan log as JSON: captures where the tool knows them, run-test-idle
// and delay steps without a record number.
#include <gtest/gtest.h>

#include "log_json.h"

using namespace sldtool;

namespace {

LogEntry entry(LogKind kind, unsigned long value, std::vector<uint8_t> data = {},
               unsigned long captured_bits = 0, std::vector<uint8_t> captured = {}) {
    LogEntry e;
    e.kind = kind;
    e.value = value;
    e.has_data = !data.empty();
    e.data = data;
    e.captured_bits = captured_bits;
    e.captured = captured;
    return e;
}

// A node (index 1, address 2) of a 4-node hub with m = 8: IR 14, its virtual
// IR scan with the captured instruction, a delay, IR 12, a data scan with
// its capture, and run-test-idle.
std::vector<LogStep> steps() {
    LogStep step;
    step.label = "batch lines 1-2";
    step.device = "cable @1: dev (0x00000001)";
    step.node_count = 4;
    step.entries = {entry(LogKind::ir, 14),
                    entry(LogKind::dr, 11, {0x05, 0x02}, 8, {0x03}),
                    entry(LogKind::delay, 5),
                    entry(LogKind::ir, 12),
                    entry(LogKind::dr, 12, {0x34, 0x02}, 12, {0xCD, 0x0A}),
                    entry(LogKind::dr, 4),
                    entry(LogKind::rti, 9)};
    return {step};
}

} // namespace

TEST(LogJson, EveryEntryInTheDocumentedShape) {
    const Json json = log_json(steps());
    EXPECT_EQ(json["records"], 5);
    ASSERT_EQ(json["steps"].size(), 1u);
    EXPECT_EQ(json["steps"][0]["step"], "batch lines 1-2");
    const Json &entries = json["steps"][0]["entries"];
    const char *expected[] = {
        R"({"record":1,"kind":"ir","instruction":14,"meaning":"select virtual instruction register"})",
        R"({"record":2,"kind":"dr","length":11,"written":"0x205","captured":null,"captured_instruction":"0x03",)"
        R"("meaning":"node 1 (address 2), instruction 0x5"})",
        R"({"record":null,"kind":"delay","microseconds":5})",
        R"({"record":3,"kind":"ir","instruction":12,"meaning":"select virtual data register"})",
        R"({"record":4,"kind":"dr","length":12,"written":"0x234","captured":"0xacd","captured_instruction":null,)"
        R"("meaning":"virtual data scan"})",
        R"({"record":5,"kind":"dr","length":4,"written":null,"captured":null,"captured_instruction":null,)"
        R"("meaning":"virtual data scan"})",
        R"({"record":null,"kind":"rti","clocks":9})",
    };
    ASSERT_EQ(entries.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].dump(), expected[i]);
    }
}
