// The OpenOCD backend's text handling: endpoints, scan bits in OpenOCD's
// hex, replies, scan_chain tables and the words allowed into a script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chain_listing.h"
#include "endpoint.h"
#include "reply.h"
#include "scan_hex.h"
#include "tcl_procs.h"

using namespace scxopenocd::detail;

TEST(OpenOcdEndpoint, AcceptsHostPortListsAndRefusesTheRest) {
    struct Case {
        const char *text;
        bool ok;
        std::vector<std::string> hosts;
    };
    const Case cases[] = {
        {"127.0.0.1:6666", true, {"127.0.0.1"}},
        {"localhost:6666, lab-pc.example_1:65535", true, {"localhost", "lab-pc.example_1"}},
        {"[::1]:6666", true, {"::1"}},
        {"", false, {}},
        {"127.0.0.1", false, {}},
        {":6666", false, {}},
        {"host:0", false, {}},
        {"host:65536", false, {}},
        {"host:06666", false, {}},
        {"host:66x", false, {}},
        {"a:1,,b:2", false, {}},
        {"a:1,a:1", false, {}},
        {"::1:6666", false, {}},
        {"[::1]6666", false, {}},
        {"h$st:1", false, {}},
        {"host name:1", false, {}},
    };
    for (const Case &c : cases) {
        std::vector<Endpoint> endpoints;
        std::string error;
        EXPECT_EQ(c.ok, parse_endpoint_list(c.text, &endpoints, &error)) << c.text << ": " << error;
        if (c.ok) {
            ASSERT_EQ(c.hosts.size(), endpoints.size()) << c.text;
            for (size_t i = 0; i < endpoints.size(); ++i)
                EXPECT_EQ(c.hosts[i], endpoints[i].host);
        } else {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
    std::string many;
    for (int i = 1; i <= 17; ++i)
        many += (i > 1 ? "," : "") + std::string("h:") + std::to_string(i);
    std::vector<Endpoint> endpoints;
    std::string error;
    EXPECT_FALSE(parse_endpoint_list(many, &endpoints, &error)) << "more than 16 servers";
}

TEST(OpenOcdEndpoint, PersistentIdsAreFixedNonzeroAndDiffer) {
    // Fixed values: every process, and both platforms, must agree.
    EXPECT_EQ(persistent_id_of("127.0.0.1:6666"), persistent_id_of(std::string("127.0.0.1:") + "6666"));
    EXPECT_NE(persistent_id_of("127.0.0.1:6666"), persistent_id_of("127.0.0.1:6667"));
    EXPECT_NE(0u, persistent_id_of(""));
    EXPECT_EQ(0x4453691eu, persistent_id_of("127.0.0.1:6666")); // FNV-1a of "openocd@127.0.0.1:6666"
}

TEST(OpenOcdScanHex, BitsBecomeOpenOcdNumbersMostSignificantDigitFirst) {
    const unsigned char bits[] = {0xDD, 0x10, 0x0A, 0x02, 0xFF, 0x01};
    EXPECT_EQ("0x020a10dd", bits_to_hex(bits, 32, 32));
    EXPECT_EQ("0x1", bits_to_hex(bits, 1, 1));
    EXPECT_EQ("0x0", bits_to_hex(nullptr, 0, 1));
    EXPECT_EQ("0x0", bits_to_hex(nullptr, 0, 0));
    EXPECT_EQ("0x0000d", bits_to_hex(bits, 4, 20)) << "bits past write_length are 0";
    EXPECT_EQ("0x0010dd", bits_to_hex(bits, 13, 24)) << "a write length inside a nibble";
    EXPECT_EQ("0x0ff020a10dd", bits_to_hex(bits, 40, 43)) << "a top digit of three unwritten bits";
    EXPECT_EQ("0x1ff020a10dd", bits_to_hex(bits, 41, 43));
}

TEST(OpenOcdScanHex, AnswersAreReadStrictlyAndNeverPastTheReadLength) {
    unsigned char out[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_TRUE(hex_to_bits("020a10dd", 32, out, 32));
    EXPECT_EQ(0xDD, out[0]);
    EXPECT_EQ(0x02, out[3]);
    EXPECT_EQ(0xEE, out[4]);
    ASSERT_TRUE(hex_to_bits("1FFF", 13, out, 5));
    EXPECT_EQ(0x1F, out[0]) << "bits past read_length cleared";
    EXPECT_EQ(0x10, out[1]) << "the next byte untouched";
    ASSERT_TRUE(hex_to_bits("ab", 8, nullptr, 0)) << "nothing read";
    for (const char *bad : {"", "1", "020a10d", "020a10dd0", "020a10dg", " 20a10dd", "0x0a10dd", "ab cd"}) {
        unsigned char keep[4] = {0x5A, 0x5A, 0x5A, 0x5A};
        EXPECT_FALSE(hex_to_bits(bad, 32, keep, 32)) << bad;
        EXPECT_EQ(0x5A, keep[0]) << bad;
    }
    EXPECT_FALSE(hex_to_bits("ff", 8, out, 9)) << "read longer than the scan";
}

TEST(OpenOcdScanHex, EveryLengthUpTo65536BitsRoundTrips) {
    for (unsigned long length :
         {1ul, 7ul, 8ul, 9ul, 31ul, 32ul, 33ul, 63ul, 64ul, 65ul, 200ul, 4095ul, 65536ul}) {
        std::vector<unsigned char> in((length + 7) / 8), out(in.size() + 1, 0xEE);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<unsigned char>(i * 37 + 11);
        std::string hex = bits_to_hex(in.data(), length, length).substr(2);
        // OpenOCD answers whole bytes: pad the digits as it does.
        if (hex.size() % 2)
            hex.insert(0, "0");
        ASSERT_TRUE(hex_to_bits(hex, length, out.data(), length)) << length;
        if (length % 8)
            in.back() &= static_cast<unsigned char>((1u << (length % 8)) - 1);
        EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << length;
        EXPECT_EQ(0xEE, out.back()) << length;
    }
}

TEST(OpenOcdReply, ParsesOnlyAnswersToTheMessageSent) {
    struct Case {
        const char *text;
        bool ok;
        ReplyKind kind;
        const char *payload;
    };
    const Case cases[] = {
        {"7 K", true, ReplyKind::done, ""},
        {"7 K 020a10dd", true, ReplyKind::done, "020a10dd"},
        {"7 L", true, ReplyKind::locked, ""},
        {"7 N", true, ReplyKind::not_held, ""},
        {"7 U", true, ReplyKind::unknown_instruction, ""},
        {"7 E jtag execute failed", true, ReplyKind::failed, "jtag execute failed"},
        {"7 V 2", true, ReplyKind::other_version, "2"},
        {"8 K", false, ReplyKind::done, ""},
        {"77 K", false, ReplyKind::done, ""},
        {"7 L extra", false, ReplyKind::done, ""},
        {"7 Kx", false, ReplyKind::done, ""},
        {"7 X", false, ReplyKind::done, ""},
        {"7 ", false, ReplyKind::done, ""},
        {"7", false, ReplyKind::done, ""},
        {"", false, ReplyKind::done, ""},
        {"invalid command name \"sldocd2_call\"", false, ReplyKind::done, ""},
    };
    for (const Case &c : cases) {
        Reply reply;
        reply.payload = "unchanged";
        EXPECT_EQ(c.ok, parse_reply(c.text, "7", &reply)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.kind, reply.kind) << c.text;
            EXPECT_EQ(c.payload, reply.payload) << c.text;
        } else {
            EXPECT_EQ("unchanged", reply.payload) << c.text;
        }
    }
    Reply reply;
    ASSERT_TRUE(parse_reply("7 E " + std::string(5000, 'x'), "7", &reply));
    EXPECT_EQ(MAX_ERROR_TEXT, reply.payload.size()) << "error text is cut";
    EXPECT_FALSE(reply.held_failed);
    ASSERT_TRUE(parse_reply("7 H E jtag execute failed", "7", &reply)) << "a held-back call failed";
    EXPECT_TRUE(reply.held_failed);
    EXPECT_EQ(ReplyKind::failed, reply.kind);
    for (const char *bad : {"7 H K", "7 H", "7 H ", "7 HL"})
        EXPECT_FALSE(parse_reply(bad, "7", &reply)) << bad;

    // A grant that ended, and the news that somebody waits.
    ASSERT_TRUE(parse_reply("7 F", "7", &reply));
    EXPECT_EQ(ReplyKind::locked, reply.kind);
    EXPECT_TRUE(reply.fenced);
    EXPECT_FALSE(reply.waiters);
    ASSERT_TRUE(parse_reply("7 W K 0a", "7", &reply));
    EXPECT_EQ(ReplyKind::done, reply.kind);
    EXPECT_EQ("0a", reply.payload);
    EXPECT_TRUE(reply.waiters);
    EXPECT_FALSE(reply.fenced);
    ASSERT_TRUE(parse_reply("7 W H F", "7", &reply));
    EXPECT_TRUE(reply.waiters && reply.held_failed && reply.fenced);
    ASSERT_TRUE(parse_reply("7 L", "7", &reply));
    EXPECT_FALSE(reply.fenced || reply.waiters) << "nothing kept from an earlier reply";
    for (const char *bad : {"7 W", "7 W ", "7 F x", "7 H W K", "7 W W K"})
        EXPECT_FALSE(parse_reply(bad, "7", &reply)) << bad;
}

namespace {

const char *const CHAIN = "   TapName             Enabled  IdCode     Expected   IrLen IrCap IrMask\n"
                          "-- ------------------- -------- ---------- ---------- ----- ----- ------\n"
                          " 0 auto0.tap              Y     0x020a10dd 0x00000000    10 0x01  0x03\n"
                          " 1 chip.cpu               n     0x00000000 0x12345678     4 0x01  0x0f\n"
                          " 2 chip.bs                Y     0x0a1b2c3d 0x0a1b2c4d     8 0x05  0x0f\n"
                          " 3 weird[name]            Y     0x00000001 0x00000000     4 0x01  0x03\n"
                          " 4 no.irlen               Y     0x00000000 0x00000000     0 0x00  0x00\n";

} // namespace

TEST(OpenOcdChainListing, ReadsEnabledTapsInOrderAndMarksTheUnusable) {
    Listing listing;
    std::string error;
    ASSERT_TRUE(parse_scan_chain(CHAIN, &listing, &error)) << error;
    ASSERT_EQ(4u, listing.size()) << "the disabled TAP is left out";
    EXPECT_EQ("auto0.tap", listing[0].name);
    EXPECT_EQ(0x020A10DDu, listing[0].idcode);
    EXPECT_EQ(10u, listing[0].ir_length);
    EXPECT_TRUE(listing[0].usable);
    EXPECT_EQ(0x0A1B2C3Du, listing[1].idcode) << "found, not expected, IDCODE";
    EXPECT_EQ(0x05u, listing[1].ir_capture);
    EXPECT_FALSE(listing[2].usable) << "name with Tcl syntax";
    EXPECT_FALSE(listing[3].usable) << "unknown IR length";

    const std::string empty = "   TapName             Enabled  IdCode     Expected   IrLen IrCap IrMask\n"
                              "-- ------------------- -------- ---------- ---------- ----- ----- ------\n";
    ASSERT_TRUE(parse_scan_chain(empty, &listing, &error));
    EXPECT_TRUE(listing.empty()) << "a server with no TAPs";
    ASSERT_TRUE(parse_scan_chain("Warn : something\n" + empty + "\n", &listing, &error)) << "log lines pass";
}

TEST(OpenOcdChainListing, RefusesAnythingElse) {
    const std::string head = "   TapName             Enabled  IdCode     Expected   IrLen IrCap IrMask\n"
                             "-- ------------------- -------- ---------- ---------- ----- ----- ------\n";
    const std::string cases[] = {
        "",
        "garbage\n",
        head.substr(0, head.find('\n') + 1),
        head + " 1 a.tap Y 0x00000001 0x00000000 4 0x01 0x03\n",  // numbering does not start at 0
        head + " 0 a.tap Y 0x00000001 0x00000000 4 0x01\n",       // a column short
        head + " 0 a.tap X 0x00000001 0x00000000 4 0x01 0x03\n",  // enabled flag
        head + " 0 a.tap Y 0x1ffffffff 0x00000000 4 0x01 0x03\n", // IDCODE wider than 32 bits
        head + " 0 a.tap Y 0x0000000g 0x00000000 4 0x01 0x03\n",  // not hex
        head + " 0 a.tap Y 0x00000001 0x00000000 04 0x01 0x03\n", // a leading zero
        head + " 0 a.tap Y 0x00000001 0x00000000 4 0x01 0x03\nmore\n",
        head + std::string(600, 'x') + "\n",
    };
    for (const std::string &text : cases) {
        Listing listing = {Tap()};
        std::string error;
        EXPECT_FALSE(parse_scan_chain(text, &listing, &error)) << text;
        EXPECT_EQ(1u, listing.size()) << "left unchanged";
        EXPECT_FALSE(error.empty());
    }
    std::string many = head;
    for (int i = 0; i <= 256; ++i)
        many += " " + std::to_string(i) + " t" + std::to_string(i) + " Y 0x00000001 0x00000000 4 0x01 0x03\n";
    Listing listing;
    std::string error;
    EXPECT_FALSE(parse_scan_chain(many, &listing, &error)) << "more than 256 TAPs";
}

TEST(OpenOcdScript, OnlyPlainWordsReachTheInterpreter) {
    for (const char *word : {"auto0.tap", "chip_1.cpu-2", "0x1f", "p0123-h1a", "_x"})
        EXPECT_TRUE(script_word_is_safe(word)) << word;
    for (const char *word :
         {"", "-endstate", "a b", "a;exec", "$x", "[exec]", "{x}", "a\"b", "a\\b", "\xc3\xa9"})
        EXPECT_FALSE(script_word_is_safe(word)) << word;
    EXPECT_FALSE(name_is_safe(".hidden")) << "TAP names start with a letter, digit or _";
    EXPECT_FALSE(name_is_safe(std::string(65, 'a')));

    std::string words;
    ASSERT_TRUE(call_words("dr", {"p1-h2", "auto0.tap", "0x20", "0xcafe"}, &words));
    EXPECT_EQ("dr p1-h2 auto0.tap 0x20 0xcafe", words);
    EXPECT_FALSE(call_words("dr", {"p1-h2", "a.tap;exec rm", "0x20", "0x0"}, &words));
    EXPECT_EQ("dr p1-h2 auto0.tap 0x20 0xcafe", words) << "unchanged";
    EXPECT_EQ("sldocd2_seq 5 p1 {dr p1-h2 auto0.tap 0x20 0xcafe} {nop}",
              sequence_script("5", "p1", {words}, "nop"));
    EXPECT_EQ("", install_script("5", "p 1")) << "an unsafe process token";
    const std::string install = install_script("5", "p1");
    EXPECT_EQ(std::string::npos, install.find('\x1a'));
    EXPECT_EQ(std::string::npos, install.find("@SEQ@"));
    EXPECT_EQ(std::string::npos, install.find("RESET")) << "never -endstate RESET";
}
