// Writes the seed corpus: one input per typical use of the library, in the
// encoding of fuzz_input.h. Build and run it by hand when that encoding
// changes:  c++ -std=c++17 -I tests/fuzz tests/fuzz/make_corpus.cpp -o /tmp/make_corpus
//           /tmp/make_corpus tests/fuzz/corpus
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input.h"

namespace {

// Argument bytes, by what the driver's pick functions make of them.
const uint8_t CABLE_1 = 0;        // hardware name: first cable, short name
const uint8_t CABLE_2 = 4;        // the second cable's short name
const uint8_t HUB_DEVICE = 0;     // device string: the first cable's first device
const uint8_t PLAIN_DEVICE = 1;   // its second device, without a hub
const uint8_t OLD_HUB_DEVICE = 2; // its third, with an unsupported hub
const uint8_t KNOWN = 0;          // hub or node id: the first one the model knows
const uint8_t SECOND = 1;         // the second one
const uint8_t NO = 0;             // a flag byte that passes every pointer

class Seed {
  public:
    Seed &op(Op op, std::vector<uint8_t> args = {}) {
        bytes_.push_back(static_cast<uint8_t>(op));
        bytes_.insert(bytes_.end(), args.begin(), args.end());
        return *this;
    }
    Seed &open_hub(uint8_t name = CABLE_1, uint8_t device = HUB_DEVICE) {
        return op(Op::hub_open, {name, device, NO});
    }
    Seed &open_node(uint8_t hub, uint8_t index) { return op(Op::node_open, {hub, index, NO}); }
    Seed &ir(uint8_t node, uint8_t value, bool capture) {
        return op(Op::access_ir, {node, value, 0, 0, 0, static_cast<uint8_t>(capture ? 1 : 0), 0});
    }
    Seed &dr(uint8_t node, uint8_t length, uint8_t buffers) {
        return op(Op::access_dr, {node, length, buffers, 0});
    }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

bool write(const std::string &dir, const std::string &name, const Seed &seed) {
    std::string path = dir + "/" + name;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(seed.bytes().data(), 1, seed.bytes().size(), file) == seed.bytes().size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-directory\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<std::pair<std::string, Seed>> seeds;

    Seed enumerate;
    enumerate.op(Op::get_version, {0}).op(Op::get_hardware, {0}).op(Op::get_hardware_name, {0, 0});
    enumerate.op(Op::get_persistent_id, {CABLE_1, 0}).op(Op::get_persistent_id, {1, 0});
    enumerate.op(Op::get_device, {CABLE_1, 0}).op(Op::get_device, {CABLE_2, 0}).op(Op::get_device, {2, 0});
    enumerate.op(Op::refresh_device, {CABLE_1}).op(Op::refresh_hardware).op(Op::get_hardware, {3});
    seeds.emplace_back("enumerate", enumerate);

    Seed locked;
    locked.open_hub().open_node(KNOWN, 0).open_node(KNOWN, 1).op(Op::node_lock, {KNOWN, 0, 0});
    locked.ir(KNOWN, 1, true).dr(KNOWN, 32, 3).ir(SECOND, 2, false).dr(SECOND, 9, 2);
    locked.op(Op::batch, {0, KNOWN, 3, 1, 5, 0, 0, 0, 1, 0, 4, 32, 3, 0, 0});
    locked.op(Op::rti, {KNOWN, 200}).op(Op::flush, {KNOWN}).op(Op::delay, {KNOWN, 200});
    locked.op(Op::node_unlock, {KNOWN}).op(Op::flush, {KNOWN}).op(Op::node_close, {KNOWN});
    locked.op(Op::hub_close, {KNOWN});
    seeds.emplace_back("locked_sequence", locked);

    Seed shared;
    shared.open_hub().open_hub(1).open_node(SECOND, 3).op(Op::hub_lock, {KNOWN, 0});
    shared.op(Op::node_lock, {KNOWN, 1, 0}).op(Op::hub_unlock, {SECOND}).op(Op::hub_unlock, {KNOWN});
    shared.op(Op::get_scx_open_id, {SECOND, 0})
        .op(Op::node_info, {KNOWN, 2, 0})
        .op(Op::node_info, {KNOWN, 4, 0});
    shared.op(Op::hub_close, {SECOND}).op(Op::number_of_nodes, {KNOWN, 0});
    seeds.emplace_back("shared_hub", shared);

    Seed broadcast;
    broadcast.open_hub().open_node(KNOWN, 0).open_node(KNOWN, 2).op(Op::broadcast_begin, {KNOWN});
    broadcast.op(Op::broadcast_begin, {KNOWN}).ir(SECOND, 3, false).ir(KNOWN, 1, true).ir(KNOWN, 2, true);
    broadcast.dr(KNOWN, 8, 3).op(Op::batch, {0, SECOND, 2, 1, 7, 0, 0, 0, 0, 0, 1, 9, 0, 0, 0, 0, 0});
    broadcast.op(Op::broadcast_end, {KNOWN}).op(Op::broadcast_end, {KNOWN}).op(Op::hub_lock, {KNOWN, 0});
    broadcast.op(Op::broadcast_begin, {KNOWN}).ir(KNOWN, 2, false).op(Op::broadcast_end, {KNOWN});
    broadcast.op(Op::hub_unlock, {KNOWN});
    seeds.emplace_back("broadcast", broadcast);

    Seed unplug;
    unplug.open_hub().open_node(KNOWN, 1).op(Op::node_lock, {KNOWN, 0, 0});
    unplug.op(Op::hot_plug, {static_cast<uint8_t>(HotPlug::remove_cable), 0, 0, 0});
    unplug.ir(KNOWN, 1, true).op(Op::refresh_hardware).ir(KNOWN, 1, true).op(Op::node_unlock, {KNOWN});
    unplug.op(Op::hot_plug, {static_cast<uint8_t>(HotPlug::add_cable), 0, 0, 0}).op(Op::get_hardware, {0});
    unplug.open_hub()
        .op(Op::node_close, {KNOWN})
        .op(Op::hub_close, {KNOWN})
        .open_node(KNOWN, 0)
        .dr(KNOWN, 16, 3);
    seeds.emplace_back("unplug", unplug);

    Seed chain;
    chain.op(Op::get_device, {CABLE_1, 0}).open_hub().open_node(KNOWN, 0);
    chain.op(Op::hot_plug, {static_cast<uint8_t>(HotPlug::set_idcode), 0, 0, 4})
        .op(Op::get_device, {CABLE_1, 0});
    chain.dr(KNOWN, 8, 2).op(Op::hot_plug, {static_cast<uint8_t>(HotPlug::insert_device), 0, 1, 1});
    chain.op(Op::refresh_device, {CABLE_1}).op(Op::hub_open, {CABLE_1, 30, NO}).op(Op::node_close, {KNOWN});
    seeds.emplace_back("chain_change", chain);

    Seed raw;
    raw.op(Op::scx_device_open, {CABLE_1, PLAIN_DEVICE, NO}).op(Op::get_device, {CABLE_1, 0});
    raw.op(Op::scx_device_open, {CABLE_1, PLAIN_DEVICE, NO}).open_hub();
    raw.op(Op::scx_device_open, {CABLE_1, HUB_DEVICE, NO}).op(Op::raw_close, {0});
    raw.open_hub(CABLE_1, OLD_HUB_DEVICE).open_hub(CABLE_1, PLAIN_DEVICE).open_hub(CABLE_2, HUB_DEVICE);
    seeds.emplace_back("raw_open", raw);

    Seed faults;
    faults.op(Op::fault, {static_cast<uint8_t>(FaultKind::fail_call), 0, 6, 15}).open_hub();
    faults.op(Op::fault, {static_cast<uint8_t>(FaultKind::fail_allocation), 0, 3, 0})
        .op(Op::get_hardware, {0});
    faults.open_hub().open_node(KNOWN, 0).op(Op::fault,
                                             {static_cast<uint8_t>(FaultKind::fail_call), 11, 1, 3});
    faults.op(Op::node_lock, {KNOWN, 0, 0}).ir(KNOWN, 1, true).op(Op::node_unlock, {KNOWN});
    faults.op(Op::fault, {static_cast<uint8_t>(FaultKind::fail_every), 13, 0, 7}).dr(KNOWN, 8, 3);
    faults.op(Op::fault, {static_cast<uint8_t>(FaultKind::clear), 0, 0, 0}).dr(KNOWN, 8, 3);
    seeds.emplace_back("faults", faults);

    Seed limits;
    limits.op(Op::open_many_hubs, {CABLE_1, HUB_DEVICE, 140}).op(Op::open_many_nodes, {KNOWN, 1, 0x57, 0x02});
    limits.op(Op::hub_close, {KNOWN}).op(Op::node_close, {KNOWN}).open_node(KNOWN, 1).open_hub();
    seeds.emplace_back("limits", limits);

    Seed log;
    log.op(Op::scan_log, {0}).open_hub().open_node(KNOWN, 0).ir(KNOWN, 1, true).dr(KNOWN, 10, 1);
    log.op(Op::scan_log, {4}).op(Op::scan_log, {1}).dr(KNOWN, 4, 1).op(Op::scan_log, {2});
    log.op(Op::scan_log, {4}).op(Op::access_dr, {KNOWN, 251, 3, 0}).op(Op::scan_log, {3});
    seeds.emplace_back("scan_log", log);

    Seed foreign;
    foreign.open_hub().open_node(KNOWN, 0);
    foreign.op(Op::hot_plug, {static_cast<uint8_t>(HotPlug::foreign_lock_device), 0, 0, 0});
    foreign.op(Op::hub_lock, {KNOWN, 129}).ir(KNOWN, 1, false).op(Op::broadcast_begin, {KNOWN});
    foreign.op(Op::broadcast_end, {KNOWN})
        .op(Op::hot_plug, {static_cast<uint8_t>(HotPlug::foreign_lock_chain), 0, 0, 0});
    foreign.op(Op::get_device, {CABLE_1, 0}).op(Op::hub_open, {CABLE_2, 3, NO});
    seeds.emplace_back("foreign_locks", foreign);

    Seed junk;
    junk.op(Op::hub_open, {15, 0, NO}).op(Op::hub_open, {11, 15, NO}).op(Op::hub_close, {200});
    junk.op(Op::node_lock, {201, 1, 0})
        .op(Op::batch, {31, 200, 0})
        .op(Op::access_ir, {203, 1, 2, 3, 4, 1, 0});
    junk.op(Op::get_scx_open_id, {200, 15})
        .op(Op::node_info, {200, 0, 15})
        .op(Op::scx_device_open, {0, 0, 15});
    seeds.emplace_back("bad_arguments", junk);

    for (const auto &seed : seeds) {
        if (!write(dir, seed.first, seed.second)) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), seed.first.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), dir.c_str());
    return 0;
}
