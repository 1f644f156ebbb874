// A private manager per test, so the process-wide one is left alone. Hub and
// device pointers are fake addresses: the tables never follow them.
#ifndef SLD_TESTS_FRAME_FIXTURE_H
#define SLD_TESTS_FRAME_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "frame/manager.h"
#include "frame/memory.h"

class FrameTest : public ::testing::Test {
  protected:
    void TearDown() override { sld_testing::fail_allocation_after(-1); }
    static ROZI_VUV_HUB *hub(int i) { return reinterpret_cast<ROZI_VUV_HUB *>(&fakes_[i]); }
    static ROZI_VUV_DEVICE *device(int i) { return reinterpret_cast<ROZI_VUV_DEVICE *>(&fakes_[8 + i]); }

    std::unique_ptr<ROZI_VUV_MANAGER> owner_{new ROZI_VUV_MANAGER()};
    ROZI_VUV_MANAGER &m = *owner_;

  private:
    static inline long fakes_[16];
};

#endif
