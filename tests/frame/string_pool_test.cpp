// The string pool: one stable copy per distinct text, new texts at the head.
#include <cstring>
#include <string>

#include "frame_fixture.h"

using StringPool = FrameTest;

TEST_F(StringPool, EqualTextsShareOneStableCopy) {
    char source[] = "Cable-Alpha";
    char *first = m.store_string(source);
    std::strcpy(source, "changed");
    EXPECT_STREQ(first, "Cable-Alpha");
    for (const char *text : {"cable-alpha", "Cable-Alph", "Cable-Alpha2", ""}) {
        char *stored = m.store_string(text);
        EXPECT_NE(stored, first) << text;
        EXPECT_STREQ(stored, text);
        EXPECT_EQ(m.string_pool->text, stored) << text;
    }
    for (int i = 0; i < 100; ++i)
        m.store_string(std::to_string(i).c_str());
    EXPECT_EQ(m.store_string("Cable-Alpha"), first);
    EXPECT_STREQ(first, "Cable-Alpha");
    EXPECT_EQ(m.store_string(nullptr), m.store_string(""));
}
