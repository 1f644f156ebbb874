// SCX_SIM_BOARD names the board the world starts from and reset() returns
// to. Its own program: the world reads the variable once, at first use.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "core/scxcore.h"
#include "scx/scx.h"
#include "scxsim.h"

TEST(SimEnvironment, TheNamedBoardIsTheHomeBoard) {
    const std::string path = testing::TempDir() + "scxsim_env_board.json";
    {
        std::ofstream out(path);
        out << R"({"cables": [{"persistent_id": 42, "name": "env", "devices": [{"idcode": 7, "ir_length": 4}]}]})";
    }
    ASSERT_EQ(0, setenv("SCX_SIM_BOARD", path.c_str(), 1));
    unsigned long n = 0;
    EXPECT_EQ(47u, scx_get_hardware(&n, nullptr, 10000));
    EXPECT_EQ(1u, n);
    EXPECT_NE(nullptr, scxsim::chain_handle(42));
    EXPECT_EQ(nullptr, scx_backend_failure()) << "the board loaded";
    ASSERT_TRUE(scxsim::load_board_string(scxsim::default_board_json(), nullptr));
    EXPECT_EQ(nullptr, scxsim::chain_handle(42));
    scxsim::reset();
    EXPECT_NE(nullptr, scxsim::chain_handle(42)) << "reset goes back to the named board";
    EXPECT_EQ(nullptr, scxsim::chain_handle(1));
    std::remove(path.c_str());
}
