// Cables are pulled and plugged back and chains change while other threads
// open hubs, scan and enumerate. Every status must be a documented one;
// every id whose hub went away answers SLD_STALE_ID from then on and closes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api_status.h"
#include "scxsim.h"
#include "sim_fixture.h"
#include "sld.h"
#include "thr_debug.h"

namespace {

// Violations from any thread; gtest reports them on the main thread.
class Findings {
  public:
    void add(const std::string &what) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (list_.size() < 20)
            list_.push_back(what);
        ++count_;
    }
    void check(Api fn, SLD_ERROR status) {
        if (!status_documented(fn, status))
            add(std::string(api_name(fn)) + " returned " + std::to_string(status));
    }
    void report() {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const std::string &v : list_)
            ADD_FAILURE() << v;
        EXPECT_EQ(count_, 0u);
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> list_;
    unsigned long count_ = 0;
};

struct Target {
    std::string cable;
    unsigned long persistent_id = 0;
    std::string device;
    unsigned long position = 0;
    unsigned node_count = 0;
    std::string cable_json;  // the cable as the default board has it
    std::string device_json; // a device of it, for insertion
};

// Checks that every way of reaching a hub whose object is gone answers as
// a stale id does, then closes both ids.
void expect_stale_and_close(Findings &findings, int hub, int node, const char *who) {
    unsigned long capture = 0;
    unsigned char bits[4] = {0, 0, 0, 0};
    unsigned char count = 1;
    std::string where = std::string(who) + ": a stale id ";
    if (sld_node_access_ir(node, 1, &capture, 0) != SLD_STALE_ID)
        findings.add(where + "scanned an instruction");
    if (sld_node_access_dr(node, 32, bits, bits, 0) != SLD_STALE_ID)
        findings.add(where + "scanned data");
    if (sld_node_rti(node, 3) != SLD_STALE_ID)
        findings.add(where + "ran run-test-idle");
    if (sld_node_lock(node, 10) != SLD_STALE_ID)
        findings.add(where + "answered a node lock with something else than 12");
    if (sld_hub_get_number_of_nodes(hub, &count) != SLD_STALE_ID || count != 0)
        findings.add(where + "still reports its nodes");
    if (sld_hub_lock(hub, 10) != SLD_DEVICE_NOT_FOUND)
        findings.add(where + "answered a hub lock with something else than 2");
    if (sld_hub_broadcast_begin(hub) != SLD_STALE_ID)
        findings.add(where + "began a broadcast");
    if (sld_node_close(node) != SLD_OK || sld_hub_close(hub) != SLD_OK)
        findings.add(where + "does not close");
    if (thr_debug_total_depth() != 0)
        findings.add(std::string(who) + ": a mutex level is left after closing stale ids");
}

// Opens the target's hub and scans one node until its hub goes away or
// the test stops; then opens it again.
void scan_until_stopped(const Target &target, unsigned index, Findings &findings, std::atomic<bool> &stop,
                        std::atomic<int> &open_scanners, std::atomic<unsigned long> &stale_seen) {
    unsigned long iteration = 0;
    while (!stop.load()) {
        int hub = -1;
        int node = -1;
        SLD_ERROR status = sld_hub_open(target.cable.c_str(), target.device.c_str(), &hub);
        findings.check(Api::hub_open, status);
        if (status != SLD_OK) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        status = sld_node_open(hub, static_cast<unsigned char>(index % target.node_count), &node);
        findings.check(Api::node_open, status);
        if (status != SLD_OK) {
            findings.check(Api::hub_close, sld_hub_close(hub));
            continue;
        }
        open_scanners.fetch_add(1);
        bool stale = false;
        while (!stop.load() && !stale) {
            ++iteration;
            bool locked = iteration % 7 == 0 && sld_node_lock(node, 100) == SLD_OK;
            unsigned long capture = 0;
            unsigned char write[4] = {0x12, 0x34, 0x56, 0x78};
            unsigned char read[4] = {0, 0, 0, 0};
            SLD_BATCH_ACCESS batch[] = {
                {SLD_BATCH_IR, 2, reinterpret_cast<unsigned long>(&capture), 0, 0},
                {SLD_BATCH_DR, reinterpret_cast<unsigned long>(write), reinterpret_cast<unsigned long>(read),
                 32, 0},
                {SLD_BATCH_END, 0, 0, 0, 0},
            };
            SLD_ERROR results[4];
            results[0] = sld_node_access_ir(node, 1, &capture, 0);
            results[1] = sld_node_access_dr(node, 32, write, read, 0);
            results[2] = sld_node_batch_access(node, batch);
            results[3] = sld_node_rti(node, 2);
            findings.check(Api::node_access_ir, results[0]);
            findings.check(Api::node_access_dr, results[1]);
            findings.check(Api::node_batch_access, results[2]);
            findings.check(Api::node_rti, results[3]);
            if (locked) {
                SLD_ERROR unlocked = sld_node_unlock(node);
                findings.check(Api::node_unlock, unlocked);
                if (unlocked == SLD_NOT_LOCKED)
                    findings.add("a node lock that succeeded was not held");
            }
            if (thr_debug_total_depth() != 0)
                findings.add("a scanner holds a library mutex level between calls");
            bool any_stale = false;
            for (SLD_ERROR r : results)
                any_stale = any_stale || r == SLD_STALE_ID;
            // 12 is also the translation of a JTAG answer; the hub id tells.
            unsigned char count = 0;
            if (any_stale && sld_hub_get_number_of_nodes(hub, &count) == SLD_STALE_ID)
                stale = true;
        }
        open_scanners.fetch_sub(1);
        if (stale) {
            stale_seen.fetch_add(1);
            expect_stale_and_close(findings, hub, node, "scanner");
        } else {
            findings.check(Api::node_close, sld_node_close(node));
            findings.check(Api::hub_close, sld_hub_close(hub));
        }
    }
}

void enumerate_until_stopped(const Target &target, Findings &findings, std::atomic<bool> &stop) {
    while (!stop.load()) {
        unsigned long count = 0;
        char **names = nullptr;
        findings.check(Api::get_hardware, sld_get_hardware(&count, &names));
        char **devices = nullptr;
        findings.check(Api::get_device, sld_get_device(target.cable.c_str(), &count, &devices));
        unsigned long id = 0;
        findings.check(Api::get_hardware_persistent_id,
                       sld_get_hardware_persistent_id(target.cable.c_str(), &id));
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
}

// Stops and joins the load threads however the test body ends.
class LoadThreads {
  public:
    explicit LoadThreads(std::atomic<bool> &stop) : stop_(stop) {}
    ~LoadThreads() { join(); }
    std::vector<std::thread> &threads() { return threads_; }
    void join() {
        stop_.store(true);
        for (std::thread &t : threads_)
            if (t.joinable())
                t.join();
    }

  private:
    std::atomic<bool> &stop_;
    std::vector<std::thread> threads_;
};

class HotPlugUnderLoad : public SimTest {
  protected:
    // The first cable with a hub of two or more nodes, and its JSON.
    bool find_target(Target *target) {
        unsigned long count = 0;
        char **names = nullptr;
        if (sld_get_hardware(&count, &names) != SLD_OK)
            return false;
        std::vector<std::string> cables(names, names + count);
        for (const std::string &cable : cables) {
            char **devices = nullptr;
            unsigned long device_count = 0;
            if (sld_get_device(cable.c_str(), &device_count, &devices) != SLD_OK)
                continue;
            std::vector<std::string> strings(devices, devices + device_count);
            for (unsigned long position = 0; position < strings.size(); ++position) {
                int hub = -1;
                unsigned char nodes = 0;
                if (sld_hub_open(cable.c_str(), strings[position].c_str(), &hub) != SLD_OK)
                    continue;
                sld_hub_get_number_of_nodes(hub, &nodes);
                sld_hub_close(hub);
                if (nodes < 2)
                    continue;
                target->cable = cable;
                sld_get_hardware_persistent_id(cable.c_str(), &target->persistent_id);
                target->device = strings[position];
                target->position = position;
                target->node_count = nodes;
                nlohmann::json board = nlohmann::json::parse(scxsim::default_board_json());
                for (const nlohmann::json &c : board["cables"]) {
                    if (c["persistent_id"].get<unsigned long>() != target->persistent_id)
                        continue;
                    target->cable_json = c.dump();
                    target->device_json = c["devices"].back().dump();
                }
                return !target->cable_json.empty();
            }
        }
        return false;
    }

    void refresh_devices(const Target &target) {
        unsigned long count = 0;
        char **devices = nullptr;
        sld_get_device(target.cable.c_str(), &count, &devices);
    }

    // Opens the target's hub and a node from this thread, so that the
    // staleness of its ids can be checked right after the change.
    bool open_own(const Target &target, int *hub, int *node) {
        *hub = -1;
        *node = -1;
        if (sld_hub_open(target.cable.c_str(), target.device.c_str(), hub) != SLD_OK)
            return false;
        if (sld_node_open(*hub, 0, node) == SLD_OK)
            return true;
        sld_hub_close(*hub);
        return false;
    }

    void wait_for_scanners(const std::atomic<int> &open_scanners) {
        for (int i = 0; i < 400 && open_scanners.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
};

TEST_F(HotPlugUnderLoad, IdsOfVanishedHubsGoStaleAndClose) {
    Target target;
    ASSERT_TRUE(find_target(&target)) << "the default board has no cable with a hub of two or more nodes";

    Findings findings;
    std::atomic<bool> stop{false};
    std::atomic<int> open_scanners{0};
    std::atomic<unsigned long> stale_seen{0};
    LoadThreads load(stop);
    std::vector<std::thread> &threads = load.threads();
    for (unsigned i = 0; i < 3; ++i)
        threads.emplace_back(scan_until_stopped, std::cref(target), i, std::ref(findings), std::ref(stop),
                             std::ref(open_scanners), std::ref(stale_seen));
    threads.emplace_back(enumerate_until_stopped, std::cref(target), std::ref(findings), std::ref(stop));

    unsigned long own_stale = 0;
    std::string error;
    for (int round = 0; round < 6; ++round) {
        int hub = -1;
        int node = -1;

        // The cable goes away; the rebuilt hardware list ends its hubs.
        wait_for_scanners(open_scanners);
        bool own = open_own(target, &hub, &node);
        ASSERT_TRUE(scxsim::remove_cable(target.persistent_id));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(sld_refresh_hardware(), SLD_OK);
        if (own) {
            expect_stale_and_close(findings, hub, node, "cable removed");
            ++own_stale;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_TRUE(scxsim::add_cable(target.cable_json, &error)) << error;
        EXPECT_EQ(sld_refresh_hardware(), SLD_OK);

        // The hub's device changes its IDCODE: only its position is rebuilt.
        wait_for_scanners(open_scanners);
        own = open_own(target, &hub, &node);
        ASSERT_TRUE(scxsim::set_idcode(target.persistent_id, target.position, 0x0BADC0DE));
        refresh_devices(target);
        if (own) {
            expect_stale_and_close(findings, hub, node, "IDCODE changed");
            ++own_stale;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Back as it was: the board's own cable again.
        ASSERT_TRUE(scxsim::remove_cable(target.persistent_id));
        ASSERT_TRUE(scxsim::add_cable(target.cable_json, &error)) << error;
        refresh_devices(target);

        // The chain grows by one device and shrinks again.
        wait_for_scanners(open_scanners);
        own = open_own(target, &hub, &node);
        ASSERT_TRUE(scxsim::insert_device(target.persistent_id, 0, target.device_json, &error)) << error;
        refresh_devices(target);
        if (own) {
            expect_stale_and_close(findings, hub, node, "device inserted");
            ++own_stale;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_TRUE(scxsim::remove_device(target.persistent_id, 0));
        refresh_devices(target);

        // A new chain handle, as after a reconnect.
        ASSERT_TRUE(scxsim::renew_chain_handle(target.persistent_id));
        EXPECT_EQ(sld_refresh_hardware(), SLD_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    load.join();

    findings.report();
    std::cout << "[ hot-plug ] 6 rounds: " << own_stale << " own ids and " << stale_seen.load()
              << " scanner ids went stale and closed" << std::endl;
    EXPECT_GT(own_stale, 0u);
    EXPECT_GT(stale_seen.load(), 0u) << "no scanner saw its hub go away";
    for (int id = 0; id < 128; ++id) {
        unsigned char count = 0;
        EXPECT_EQ(sld_hub_get_number_of_nodes(id, &count), SLD_INVALID_HUB_ID) << "hub id " << id;
    }
    for (int id = 0; id < 512; ++id)
        EXPECT_EQ(sld_node_close(id), SLD_INVALID_NODE_ID) << "node id " << id;
    EXPECT_EQ(thr_debug_total_depth(), 0);
    EXPECT_EQ(scxsim::open_handle_count(), 0u);
}

} // namespace
