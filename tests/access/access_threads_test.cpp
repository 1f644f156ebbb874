// Threads: hub locks serialise every thread of the process, locked
// sequences see only their own data, and unlocked work, node ids and device
// refreshes run safely alongside.
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "access_support.h"

namespace {

const int kCables = 3;

std::string cable_name(int i) {
    return "T-" + std::to_string(i + 1);
}
std::string device_string(int i) {
    return "@1: T-FPGA-" + std::to_string(i + 1) + " (0x020A10DD)";
}

// Three cables, each with one version-1 hub: a 32-bit shift node and a memory.
std::string three_cable_board() {
    std::string cables;
    for (int i = 0; i < kCables; ++i) {
        std::string n = std::to_string(i + 1);
        cables += std::string(i ? "," : "") + R"j({"persistent_id": )j" + std::to_string(11 + i) +
                  R"j(, "name": "T-)j" + n + R"j(", "full_name": "T-)j" + n +
                  R"j( [t]", "flags": 0, "devices": [)j" +
                  R"j({"idcode": "0x020A10DD", "ir_length": 10, "name": "T-FPGA-)j" + n + R"j(", "hub": {)j" +
                  R"j("version": 1, "ir_width": 8, "nodes": [)j" +
                  R"j({"model": "shift", "node_id": 4, "version": 1, "registers": {"1": 32}},)j" +
                  R"j({"model": "memory", "node_id": 1, "version": 1}]}}]})j";
    }
    return R"j({"cables": [)j" + cables + "]}";
}

class AccessThreadsTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        load_board(three_cable_board());
        for (int i = 0; i < kCables; ++i) {
            hubs[i] = open_hub(cable_name(i).c_str(), device_string(i).c_str());
            shift[i] = open_node(hubs[i], 0);
        }
        scxsim::set_tracing(false);
    }
    void TearDown() override {
        scxsim::set_tracing(true);
        for (int i = 0; i < kCables; ++i) {
            EXPECT_EQ(SLD_OK, sld_node_close(shift[i]));
            EXPECT_EQ(SLD_OK, sld_hub_close(hubs[i]));
        }
        EXPECT_EQ(0, thr_debug_total_depth());
        SimTest::TearDown();
    }
    int hubs[kCables] = {-1, -1, -1};
    int shift[kCables] = {-1, -1, -1};
};

TEST_F(AccessThreadsTest, LockedSequencesSeeOnlyTheirOwnData) {
    std::atomic<int> inside{0}, overlaps{0}, foreign_data{0}, failures{0};
    std::atomic<bool> stop{false};
    auto note = [&](SLD_ERROR status) {
        if (status != SLD_OK)
            ++failures;
    };

    std::vector<std::thread> lockers;
    for (int t = 0; t < 4; ++t)
        lockers.emplace_back([&, t] {
            for (unsigned i = 0; i < 400; ++i) {
                int id = shift[(t + i) % kCables];
                if (sld_node_lock(id, 6000) != SLD_OK) {
                    ++failures;
                    continue;
                }
                if (inside.fetch_add(1) != 0)
                    ++overlaps;
                std::vector<unsigned char> pattern = word_bytes((t + 1) << 24 | i, 4);
                unsigned char zero[4] = {0, 0, 0, 0}, back[4];
                note(sld_node_access_ir(id, 1, nullptr, 0));
                note(sld_node_access_dr(id, 32, pattern.data(), nullptr, 0));
                std::this_thread::yield();
                note(sld_node_access_dr(id, 32, zero, back, 0));
                if (bytes_word(back, 4) != bytes_word(pattern.data(), 4))
                    ++foreign_data;
                inside.fetch_sub(1);
                note(sld_node_unlock(id));
            }
        });

    std::vector<std::thread> others;
    others.emplace_back([&] { // unlocked scans
        unsigned char bits[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        for (unsigned i = 0; !stop; ++i) {
            int id = shift[i % kCables];
            note(sld_node_access_ir(id, 1, nullptr, 0));
            note(sld_node_access_dr(id, 32, bits, bits, 0));
            note(sld_node_rti(id, 2));
        }
    });
    others.emplace_back([&] { // node ids come and go
        for (unsigned i = 0; !stop; ++i) {
            int id = -1;
            note(sld_node_open(hubs[i % kCables], 1, &id));
            note(sld_node_close(id));
        }
    });
    others.emplace_back([&] { // device lists read again, unchanged
        for (unsigned i = 0; !stop; ++i)
            note(sld_refresh_device(cable_name(i % kCables).c_str()));
    });

    for (std::thread &t : lockers)
        t.join();
    stop = true;
    for (std::thread &t : others)
        t.join();
    EXPECT_EQ(0, overlaps.load());
    EXPECT_EQ(0, foreign_data.load());
    EXPECT_EQ(0, failures.load());
}

TEST_F(AccessThreadsTest, HeldHubMakesEveryMutexTakingCallWait) {
    ASSERT_EQ(SLD_OK, sld_hub_lock(hubs[0], 6000));
    std::atomic<bool> released{false};
    std::atomic<int> started{0}, early{0}, failures{0};
    std::vector<std::function<SLD_ERROR()>> calls = {
        [&] {
            SLD_ERROR s = sld_hub_lock(hubs[1], 6000);
            return s != SLD_OK ? s : sld_hub_unlock(hubs[1]);
        },
        [&] { return sld_node_access_dr(shift[2], 32, nullptr, nullptr, 0); },
        [&] {
            unsigned long count = 0;
            char **devices = nullptr;
            return sld_get_device(cable_name(2).c_str(), &count, &devices);
        },
        [&] {
            int id = -1;
            SLD_ERROR s = sld_node_open(hubs[2], 1, &id);
            return s != SLD_OK ? s : sld_node_close(id);
        },
        [&] { return sld_hub_broadcast_begin(hubs[0]) == SLD_OK ? sld_hub_broadcast_end(hubs[0]) : 7; },
    };
    std::vector<std::thread> threads;
    for (auto &call : calls)
        threads.emplace_back([&] {
            ++started;
            if (call() != SLD_OK)
                ++failures;
            if (!released)
                ++early;
        });

    // The functions without the mutex do not wait.
    std::atomic<bool> free_done{false};
    std::thread free_caller([&] {
        int major = 0, minor = 0;
        SLD_SCX_LOG_RECORD *head = nullptr;
        sld_get_version(&major, &minor);
        sld_get_scx_log_head(&head);
        free_done = true;
    });
    free_caller.join();
    EXPECT_TRUE(free_done);

    while (started < static_cast<int>(calls.size()))
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    released = true;
    EXPECT_EQ(SLD_OK, sld_hub_unlock(hubs[0]));
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(0, early.load());
    EXPECT_EQ(0, failures.load());
}

} // namespace
