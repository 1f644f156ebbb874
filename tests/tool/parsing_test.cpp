// Numbers, hex bit strings and batch files as users write them.
#include <gtest/gtest.h>

#include <sstream>

#include "batch_parse.h"
#include "errors.h"
#include "numbers.h"
#include "printable.h"

using namespace sldtool;

TEST(NumberParsing, AcceptsDecimalHexAndBinaryUpToTheLimit) {
    uint64_t value = 0;
    std::string error;
    EXPECT_TRUE(parse_number("42", 100, &value, &error));
    EXPECT_EQ(value, 42u);
    EXPECT_TRUE(parse_number("0x2A", 100, &value, &error));
    EXPECT_EQ(value, 42u);
    EXPECT_TRUE(parse_number("0B101010", 100, &value, &error));
    EXPECT_EQ(value, 42u);
    EXPECT_TRUE(parse_number("0xFFFFFFFF", 0xFFFFFFFFu, &value, &error));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(parse_number("18446744073709551615", UINT64_MAX, &value, &error));
    EXPECT_EQ(value, UINT64_MAX);
    // A leading zero is still decimal, not octal.
    EXPECT_TRUE(parse_number("010", 100, &value, &error));
    EXPECT_EQ(value, 10u);
}

TEST(NumberParsing, RejectsMalformedAndTooLargeWithoutTouchingTheOutput) {
    const char *bad[] = {"", "0x", "0b", "-1", "+1", "1.5", "12a", "0x1g", "0b102", " 1", "1 ", "ten"};
    for (const char *text : bad) {
        uint64_t value = 7;
        std::string error;
        EXPECT_FALSE(parse_number(text, 1000, &value, &error)) << text;
        EXPECT_EQ(value, 7u) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    uint64_t value = 7;
    std::string error;
    EXPECT_FALSE(parse_number("0x100000000", 0xFFFFFFFFu, &value, &error));
    EXPECT_NE(error.find("too large"), std::string::npos);
    EXPECT_FALSE(parse_number("255", 254, &value, &error));
    // Overflow of 64 bits is "too large", not a wrapped value.
    EXPECT_FALSE(parse_number("18446744073709551616", UINT64_MAX, &value, &error));
    EXPECT_EQ(value, 7u);
}

// DATA: hex digits with or without 0x, or 0b bits; leading zeros are
// fine, set bits must lie below the length.
TEST(ScanData, OneSyntaxForHexAndBinaryWithLeadingZeros) {
    const struct {
        const char *text;
        unsigned long length;
        std::vector<uint8_t> bits; // empty: refused
        const char *error;
    } cases[] = {
        {"0x3ff", 10, {0xFF, 0x03}, ""},
        {"12345678", 32, {0x78, 0x56, 0x34, 0x12}, ""},
        {"1", 9, {0x01, 0x00}, ""},
        {"0ff", 8, {0xFF}, ""},
        {"0000000001", 1, {0x01}, ""},
        {"0b101", 3, {0x05}, ""},
        {"0B0000101", 3, {0x05}, ""},
        {"0b1", 1, {0x01}, ""},
        {"b1", 8, {0xB1}, ""},
        {"0x0", 1, {0x00}, ""},
        {"7ff", 10, {}, "does not fit in 10 bits"},
        {"0b1000", 3, {}, "does not fit in 3 bits"},
        {"2", 1, {}, "does not fit in 1 bits"},
        {"0b102", 8, {}, "is not data"},
        {"xyz", 16, {}, "is not data"},
        {"0x", 16, {}, "is not data"},
        {"0b", 16, {}, "is not data"},
        {"", 16, {}, "is not data"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> bits{9};
        std::string error;
        const bool parsed = parse_data(c.text, c.length, &bits, &error);
        EXPECT_EQ(parsed, !c.bits.empty()) << c.text << ": " << error;
        if (parsed) {
            EXPECT_EQ(bits, c.bits) << c.text;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
            EXPECT_EQ(bits, std::vector<uint8_t>{9}) << c.text;
        }
    }
}

TEST(HexBits, FormatsTheFirstLengthBitsRoundTrip) {
    const uint8_t bits[] = {0xA5, 0xFF};
    EXPECT_EQ(format_hex_bits(bits, 8), "0xa5");
    EXPECT_EQ(format_hex_bits(bits, 9), "0x1a5");
    // Bits beyond the length are not shown, even in the top digit.
    EXPECT_EQ(format_hex_bits(bits, 6), "0x25");
    EXPECT_EQ(format_hex_bits(bits, 1), "0x1");
    std::vector<uint8_t> parsed;
    std::string error;
    ASSERT_TRUE(parse_data("1a5", 9, &parsed, &error));
    EXPECT_EQ(format_hex_bits(parsed.data(), 9), "0x1a5");
    EXPECT_EQ(hex(0), "0x0");
    EXPECT_EQ(hex(0xDEADBEEF), "0xdeadbeef");
}

namespace {

std::vector<Operation> read_all(const std::string &text, std::vector<std::string> *errors) {
    std::istringstream in(text);
    BatchText batch;
    std::string failure;
    EXPECT_TRUE(batch.read(in, errors, &failure)) << failure;
    std::vector<Operation> ops;
    BatchSource source(batch);
    for (Operation op; source.next(&op);) {
        ops.push_back(op);
    }
    return ops;
}

} // namespace

TEST(BatchParsing, ReadsEveryOperationWithCommentsAndDelays) {
    std::vector<std::string> errors;
    std::vector<Operation> lines = read_all("# set up\n"
                                            "IR 0x1 delay 5\n"
                                            "\n"
                                            "dr 8 a5   # address\n"
                                            "dr 32\r\n"
                                            "dr 16 delay 0b11\n"
                                            "rti 100\n"
                                            "Delay 7\n"
                                            "\tdr 3 0b101",
                                            &errors);
    ASSERT_TRUE(errors.empty()) << errors[0];
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].line, 2u);
    EXPECT_EQ(lines[0].kind, OpKind::ir);
    EXPECT_EQ(lines[0].value, 1u);
    EXPECT_EQ(lines[0].delay, 5u);
    EXPECT_EQ(lines[1].line, 4u);
    EXPECT_EQ(lines[1].text, "dr 8 a5");
    EXPECT_TRUE(lines[1].has_data);
    EXPECT_EQ(lines[1].data, std::vector<uint8_t>{0xA5});
    EXPECT_EQ(lines[2].length, 32u);
    EXPECT_FALSE(lines[2].has_data);
    EXPECT_EQ(lines[3].delay, 3u);
    EXPECT_FALSE(lines[3].has_data);
    EXPECT_EQ(lines[4].kind, OpKind::rti);
    EXPECT_EQ(lines[4].value, 100u);
    EXPECT_EQ(lines[5].kind, OpKind::delay);
    EXPECT_EQ(lines[5].value, 7u);
    EXPECT_EQ(lines[6].line, 9u) << "a last line without a newline counts";
    EXPECT_EQ(lines[6].data, std::vector<uint8_t>{0x05});
}

TEST(BatchParsing, ReportsEveryMalformedLineByNumberWithUnprintableBytesEscaped) {
    std::vector<std::string> errors;
    std::vector<Operation> lines = read_all("ir 1\n"
                                            "jump 3\n"
                                            "ir\n"
                                            "dr 4 1f\n"
                                            "dr 0\n"
                                            "ir 1 delay\n"
                                            "rti 5 6\n"
                                            "ir 0x100000000\n"
                                            "dr 8 ff delay x\n"
                                            "dr 8 ff\n"
                                            "ir " +
                                                std::string(1, '\0') + "\n" +
                                                "\x1b[2Jclear\n"
                                                "ir 2\n",
                                            &errors);
    const char *expected[] = {"line 2: unknown operation \"jump\"",
                              "line 3: ir needs a number",
                              "line 4: data \"1f\" does not fit in 4 bits",
                              "line 5: a data scan needs at least 1 bit",
                              "line 6: delay needs a number",
                              "line 7: unexpected \"6\"",
                              "line 8: \"0x100000000\" is too large",
                              "line 9: delay: \"x\" is not a number",
                              "line 11: \"\\x00\" is not a number",
                              "line 12: unknown operation \"\\x1B[2Jclear\""};
    ASSERT_EQ(errors.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(errors[i].rfind(expected[i], 0), 0u) << errors[i];
    }
    // A message made of them keeps every line, and no raw control byte.
    std::string message = "malformed batch:";
    for (const std::string &error : errors) {
        message += "\n  " + error;
    }
    const std::string shown = ToolError(exit_usage, message).what();
    EXPECT_NE(shown.find("line 12: "), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    // The good lines are still parsed; the caller runs none of them.
    EXPECT_EQ(lines.size(), 3u);
}

TEST(BatchParsing, RefusesABatchLargerThanTheLimit) {
    std::istringstream in(std::string(MAX_BATCH_BYTES + 1, '\n'));
    BatchText batch;
    std::vector<std::string> errors;
    std::string failure;
    EXPECT_FALSE(batch.read(in, &errors, &failure));
    EXPECT_NE(failure.find("larger than 256 MiB"), std::string::npos) << failure;
}

TEST(Printable, EscapesControlBytesAndCutsLongQuotes) {
    EXPECT_EQ(printable(std::string("a\0b\x7f\n", 5)), "a\\x00b\\x7F\\x0A");
    EXPECT_EQ(printable("x\ny", true), "x\ny");
    EXPECT_EQ(printable("caf\xc3\xa9"), "caf\xc3\xa9") << "UTF-8 stays";
    EXPECT_EQ(quoted(std::string(100, 'z')), "\"" + std::string(64, 'z') + "...\"");
}
