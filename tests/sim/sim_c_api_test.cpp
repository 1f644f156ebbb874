// The C-linkage controls (scxsim_c.h): messages into caller buffers,
// results handed over in malloc'd memory, names of functions, null outputs.
#include <cstdlib>
#include <cstring>
#include <string>

#include "scxsim_c.h"
#include "sim_helpers.h"

namespace {

// Takes a handed-over text and frees it.
std::string take_text(char *text, size_t length) {
    std::string copy = text != nullptr ? std::string(text, length) : std::string();
    scxsim_free(text);
    return copy;
}

} // namespace

TEST_F(SimWorld, CMessagesFitTheCallersBuffer) {
    char error[256];
    EXPECT_EQ(0, scxsim_load_board_string("{\"cables\": [{\"bogus\": 1}]}", error, sizeof error));
    EXPECT_STREQ("board: $.cables[0].bogus: unknown field", error);
    char tiny[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(0, scxsim_add_cable("not json", tiny, sizeof tiny));
    EXPECT_EQ(5u, std::strlen(tiny)) << "cut to the buffer, terminated";
    EXPECT_EQ(0, scxsim_insert_device(1, 99, "{\"idcode\": 1, \"ir_length\": 4}", nullptr, 0));
    EXPECT_EQ(1, scxsim_load_board_string("{\"cables\": []}", nullptr, 0));
    EXPECT_EQ(nullptr, scxsim::chain_handle(1)) << "the empty board loaded";
}

TEST_F(SimWorld, CResultsAreHandedOverAndFunctionsNamed) {
    char *text = nullptr;
    size_t length = 0;
    ASSERT_EQ(1, scxsim_default_board_json(&text, &length));
    EXPECT_EQ(scxsim::default_board_json(), take_text(text, length));

    SCX_OPEN *h = open(1, 0);
    scx_close_device(h);
    ASSERT_EQ(1, scxsim_trace_text("close_device", 1, &text, &length));
    EXPECT_EQ("close_device()=0\n", take_text(text, length));
    ASSERT_EQ(1, scxsim_trace_text("flush", 0, &text, &length));
    EXPECT_EQ(nullptr, text) << "an empty result is null";
    EXPECT_EQ(0u, length);

    unsigned char *bytes = nullptr;
    const unsigned char sent[] = {'h', 'i'};
    EXPECT_EQ(1, scxsim_stream_send(1, 0, 1, sent, sizeof sent));
    EXPECT_EQ(0, scxsim_stream_send(1, 0, 1, nullptr, 2)) << "null bytes with a count";
    ASSERT_EQ(1, scxsim_source_get(1, 0, 2, &bytes, &length));
    EXPECT_EQ(4u, length);
    scxsim_free(bytes);

    unsigned long count = 0;
    EXPECT_EQ(0, scxsim_fail_every("acces_dr", 1)) << "misspelt";
    EXPECT_EQ(0, scxsim_call_count("any", nullptr));
    EXPECT_EQ(1, scxsim_call_count("close_device", &count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(0, scxsim_trace_text(nullptr, 0, nullptr, &length)) << "no place for the result";
}
