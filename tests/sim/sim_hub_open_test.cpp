// Opening hubs through the library over the world: a hub that could not be
// examined answers why, and "no hub" stays the answer of a device that
// answered with no hub word.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim_helpers.h"
#include "sld.h"

class HubOpenTest : public SimWorld {
  protected:
    void SetUp() override {
        SimWorld::SetUp();
        hardware = world().hardware_name(1);
        ASSERT_FALSE(hardware.empty());
        ASSERT_EQ(SLD_OK, sld_refresh_hardware());
        unsigned long count = 0;
        char **table = nullptr;
        ASSERT_EQ(SLD_OK, sld_get_device(hardware.c_str(), &count, &table));
        ASSERT_GE(count, 2u);
        devices.assign(table, table + count);
    }

    SLD_ERROR open_hub(unsigned long position, int *hub) {
        return sld_hub_open(hardware.c_str(), devices[position].c_str(), hub);
    }

    std::string hardware;
    std::vector<std::string> devices;
};

TEST_F(HubOpenTest, AHubHeldByAnotherClientIsNotReportedAsNoHub) {
    if (world().simulated())
        scxsim::set_lock_wait_limit(50);
    ASSERT_TRUE(world().foreign_lock_device(1, 0));
    // Over a server the device lock is waited for its whole 6 s time-out,
    // and a lock lapses 3 s after its holder's last message: the other
    // client keeps talking meanwhile.
    std::atomic<bool> opened{false};
    std::thread keep_alive([&] {
        for (int i = 0; i < 40 && !opened; ++i) {
            world().device_locked(1, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });
    int hub = 5;
    const SLD_ERROR status = open_hub(0, &hub);
    opened = true;
    keep_alive.join();
    EXPECT_EQ(SLD_ALREADY_LOCKED, status);
    EXPECT_EQ(-1, hub);
    ASSERT_TRUE(world().foreign_unlock_device(1, 0));

    EXPECT_EQ(SLD_HUB_NOT_FOUND, open_hub(1, &hub)) << "a device without a hub answers zeros";
    EXPECT_EQ(-1, hub);
    ASSERT_EQ(SLD_OK, open_hub(0, &hub));
    EXPECT_EQ(SLD_OK, sld_hub_close(hub));
}

TEST_F(HubOpenTest, AHubBehindAGoneAdapterIsNotReportedAsNoHub) {
    ASSERT_TRUE(world().cut_adapter(1));
    for (unsigned long position = 0; position < 2; ++position) {
        int hub = 5;
        const SLD_ERROR status = open_hub(position, &hub);
        EXPECT_NE(SLD_OK, status) << devices[position];
        EXPECT_NE(SLD_HUB_NOT_FOUND, status) << devices[position];
        EXPECT_EQ(-1, hub);
    }
}
