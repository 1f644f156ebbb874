// Numbers, hex bit strings and batch files as users write them.
#include <gtest/gtest.h>

#include <sstream>

#include "batch_parse.h"
#include "numbers.h"

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

TEST(HexBits, PlacesScanBitJAtBitJOfTheNumber) {
    std::vector<uint8_t> bits;
    std::string error;
    ASSERT_TRUE(parse_hex_bits("0x3ff", 10, &bits, &error)) << error;
    EXPECT_EQ(bits, (std::vector<uint8_t>{0xFF, 0x03}));
    ASSERT_TRUE(parse_hex_bits("12345678", 32, &bits, &error));
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
    ASSERT_TRUE(parse_hex_bits("1", 9, &bits, &error));
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x01, 0x00}));
    // Leading zeros are fine while the digit count fits the length.
    ASSERT_TRUE(parse_hex_bits("0001", 13, &bits, &error));
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x01, 0x00}));
}

TEST(HexBits, RejectsDataThatDoesNotMatchTheLength) {
    std::vector<uint8_t> bits{9};
    std::string error;
    EXPECT_FALSE(parse_hex_bits("7ff", 10, &bits, &error)); // 11 bits
    EXPECT_NE(error.find("does not fit in 10 bits"), std::string::npos);
    EXPECT_FALSE(parse_hex_bits("0001", 12, &bits, &error)); // 4 digits > 3
    EXPECT_NE(error.find("at most 3"), std::string::npos);
    EXPECT_FALSE(parse_hex_bits("2", 1, &bits, &error));
    EXPECT_FALSE(parse_hex_bits("xyz", 16, &bits, &error));
    EXPECT_FALSE(parse_hex_bits("0x", 16, &bits, &error));
    EXPECT_EQ(bits, std::vector<uint8_t>{9});
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
    ASSERT_TRUE(parse_hex_bits("1a5", 9, &parsed, &error));
    EXPECT_EQ(format_hex_bits(parsed.data(), 9), "0x1a5");
    EXPECT_EQ(hex(0), "0x0");
    EXPECT_EQ(hex(0xDEADBEEF), "0xdeadbeef");
}

TEST(BatchParsing, ReadsEveryOperationWithCommentsAndDelays) {
    std::istringstream in("# set up\n"
                          "IR 0x1 delay 5\n"
                          "\n"
                          "dr 8 a5   # address\n"
                          "dr 32\r\n"
                          "dr 16 delay 0b11\n"
                          "rti 100\n"
                          "Delay 7\n");
    std::vector<std::string> errors;
    std::vector<BatchLine> lines = parse_batch(in, &errors);
    ASSERT_TRUE(errors.empty()) << errors[0];
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].line, 2u);
    EXPECT_EQ(lines[0].op, BatchOp::ir);
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
    EXPECT_EQ(lines[4].op, BatchOp::rti);
    EXPECT_EQ(lines[4].value, 100u);
    EXPECT_EQ(lines[5].op, BatchOp::delay);
    EXPECT_EQ(lines[5].value, 7u);
}

TEST(BatchParsing, ReportsEveryMalformedLineByNumber) {
    std::istringstream in("ir 1\n"
                          "jump 3\n"
                          "ir\n"
                          "dr 4 1f\n"
                          "dr 0\n"
                          "ir 1 delay\n"
                          "rti 5 6\n"
                          "ir 0x100000000\n"
                          "dr 8 ff delay x\n"
                          "dr 8 ff\n");
    std::vector<std::string> errors;
    std::vector<BatchLine> lines = parse_batch(in, &errors);
    ASSERT_EQ(errors.size(), 8u);
    EXPECT_EQ(errors[0].rfind("line 2: unknown operation \"jump\"", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("line 3: ", 0), 0u);
    EXPECT_EQ(errors[2].rfind("line 4: ", 0), 0u);
    EXPECT_NE(errors[2].find("at most 1"), std::string::npos) << errors[2];
    EXPECT_EQ(errors[3].rfind("line 5: ", 0), 0u);
    EXPECT_EQ(errors[4].rfind("line 6: delay needs a number", 0), 0u);
    EXPECT_EQ(errors[5].rfind("line 7: unexpected \"6\"", 0), 0u);
    EXPECT_EQ(errors[6].rfind("line 8: ", 0), 0u);
    EXPECT_EQ(errors[7].rfind("line 9: delay: ", 0), 0u);
    // The good lines are still parsed; the caller runs none of them.
    EXPECT_EQ(lines.size(), 2u);
}
