// A test fixture over the simulated JTAG world: every test starts from the
// default board with no faults and an empty trace, and the library's
// hardware list rebuilt against it. Tests close every id they open.
#ifndef SLD_TESTS_SIM_FIXTURE_H
#define SLD_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "scxsim.h"
#include "sld.h"

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scxsim::reset();
        sld_refresh_hardware();
        scxsim::clear_trace();
    }
    void TearDown() override { scxsim::clear_faults(); }

    // Replaces the world by a board given as JSON text.
    void load_board(const std::string &json) {
        std::string error;
        ASSERT_TRUE(scxsim::load_board_string(json, &error)) << error;
        sld_refresh_hardware();
        scxsim::clear_trace();
    }
};

#endif
