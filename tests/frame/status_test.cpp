// Translation of JTAG client results, judged on their low 32 bits.
#include <map>

#include "frame_fixture.h"

using StatusTranslation = FrameTest;

TEST_F(StatusTranslation, ListedResultsMapAndEverythingElseIsAJtagError) {
    const std::map<unsigned long, SLD_ERROR> listed = {{2, 11},  {36, 11}, {81, 11}, {88, 11},
                                                       {34, 60}, {35, 61}, {37, 2},  {39, 2},
                                                       {46, 70}, {86, 1},  {87, 12}};
    for (unsigned long code = 0; code <= 300; ++code) {
        auto found = listed.find(code);
        EXPECT_EQ(ROZI_VUV_MANAGER::translate_scx_error(code),
                  found != listed.end() ? found->second : SLD_JTAG_ERROR)
            << code;
    }
    EXPECT_EQ(ROZI_VUV_MANAGER::translate_scx_error(0xFFFFFFFFul), SLD_JTAG_ERROR);
    EXPECT_EQ(ROZI_VUV_MANAGER::translate_scx_error(0x80000057ul), SLD_JTAG_ERROR);
    m.set_last_error_from_scx_error(35);
    EXPECT_EQ(m.last_error, SLD_NOT_LOCKED);
}
