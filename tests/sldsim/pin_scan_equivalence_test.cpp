// One world, two fronts: random scan sequences run on two copies of one
// chain, one copy driven pin by pin through its TAP controllers, the other
// through scx_ calls, capture the same bits at every step and leave the
// same node state behind.
#include <nlohmann/json.hpp>

#include <map>
#include <random>
#include <string>

#include "pin_jtag.h"
#include "scx/scx.h"
#include "scxsim.h"

namespace {

struct DeviceShape {
    unsigned ir_length;
    unsigned hub_m = 0;     // 0: no hub
    unsigned hub_nodes = 0; // addresses 1..nodes select a node
};

// Two copies of the default board's first chain (cables 1: pins, 2: scx)
// and of its first device alone (cables 3: pins, 4: scx).
std::string twin_board(std::vector<DeviceShape> *chain) {
    nlohmann::json board = nlohmann::json::parse(scxsim::default_board_json());
    const nlohmann::json original = board["cables"][0];
    const nlohmann::json single = [&] {
        nlohmann::json s = original;
        s["devices"] = nlohmann::json::array({original["devices"][0]});
        return s;
    }();
    board["cables"] = nlohmann::json::array();
    unsigned long id = 1;
    for (const nlohmann::json *c : {&original, &original, &single, &single}) {
        nlohmann::json copy = *c;
        copy["persistent_id"] = id;
        copy["full_name"] = "twin " + std::to_string(id++);
        board["cables"].push_back(copy);
    }
    for (const auto &d : original["devices"]) {
        DeviceShape s{d["ir_length"].get<unsigned>()};
        if (d.contains("hub")) {
            s.hub_m = d["hub"]["ir_width"].get<unsigned>();
            s.hub_nodes = unsigned(d["hub"]["nodes"].size());
        }
        chain->push_back(s);
    }
    return board.dump();
}

class TwinChains : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(scxsim::load_board_string(twin_board(&shape_), &error)) << error;
        for (unsigned long cable : {2ul, 4ul}) {
            const size_t n = cable == 2 ? shape_.size() : 1;
            for (size_t p = 0; p < n; ++p) {
                SCX_OPEN *h = nullptr;
                ASSERT_EQ(0u, scx_open_device(scxsim::chain_handle(cable), p, &h, nullptr, 0, "twin"));
                handles_[cable].push_back(h);
            }
        }
    }
    void TearDown() override { scxsim::reset(); }

    // Runs `steps` random operations on the pin cable and its scx twin.
    void run_twins(unsigned long pin_cable, unsigned long scx_cable, size_t devices, bool any_length,
                   unsigned seed);
    // The memory node of both copies holds the same words.
    void expect_same_nodes(unsigned long a, unsigned long b);

    std::vector<DeviceShape> shape_;
    std::map<unsigned long, std::vector<SCX_OPEN *>> handles_;
};

// A DR value that makes the most of a VIR scan: a real address most of the
// time, and instructions the nodes and the hub know (readout, broadcast
// begin and end, force capture).
uint64_t vir_value(std::mt19937 &rng, const DeviceShape &d) {
    const uint64_t address = rng() % (d.hub_nodes + 2);
    const uint64_t hub_ops[] = {0, 1, 2, 3 | 8 * (1 + rng() % d.hub_nodes), rng() % 256};
    const uint64_t v = address == 0 ? hub_ops[rng() % 5] : rng() % 5;
    return v | address << d.hub_m;
}

void TwinChains::run_twins(unsigned long pin_cable, unsigned long scx_cable, size_t devices, bool any_length,
                           unsigned seed) {
    std::mt19937 rng(seed);
    PinJtag jtag(pin_cable);
    jtag.reset();
    for (int step = 0; step < 150; ++step) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
        if (rng() % 8 == 0) { // Test-Logic-Reset: the IDCODE instruction everywhere
            jtag.clock({1, 1, 1, 1, 1, 0});
            for (size_t d = 0; d < devices; ++d)
                ASSERT_EQ(0u, scx_access_ir(handles_[scx_cable][d], 6, nullptr, 0));
            continue;
        }
        // As a JTAG client scans a chain: an IR load of one device, the
        // others in BYPASS, then DR scans of that device.
        const size_t dev = rng() % devices;
        const DeviceShape &shape = shape_[dev];
        SCX_OPEN *h = handles_[scx_cable][dev];
        const uint32_t choices[] = {14, 12, 14, 12, 6, uint32_t(rng() & ((1u << shape.ir_length) - 1))};
        const uint32_t ir = choices[rng() % 6];
        Bits in;
        size_t at = 0;
        for (size_t d = 0; d < devices; ++d) {
            if (d == dev)
                at = in.size();
            const Bits field = d == dev ? to_bits(ir, shape_[d].ir_length) : Bits(shape_[d].ir_length, 1);
            in.insert(in.end(), field.begin(), field.end());
        }
        const uint64_t pin_capture = from_bits(jtag.scan(true, in), at, shape.ir_length);
        unsigned long scx_capture = 0;
        ASSERT_EQ(0u, scx_access_ir(h, ir, &scx_capture, 0));
        ASSERT_EQ(scx_capture, pin_capture) << "IR capture of device " << dev;

        for (unsigned scans = 1 + rng() % 4; scans > 0; --scans) {
            const unsigned long width = scxsim::selected_dr_width(scx_cable, dev);
            ASSERT_EQ(width, scxsim::selected_dr_width(pin_cable, dev));
            // In a chain the bypass bits of the other devices lengthen the
            // scan, so a scan fills the register exactly; alone, a device
            // also takes shorter and longer scans.
            const size_t length = any_length ? rng() % (width + 9) : width;
            std::vector<uint8_t> data((length + 7) / 8 + 8);
            for (auto &b : data)
                b = uint8_t(rng());
            if (shape.hub_m && ir == 14 && length >= width) {
                // The last `width` bits shifted in are what the VIR keeps.
                const uint64_t v = vir_value(rng, shape);
                for (size_t i = 0; i < width; ++i) {
                    const size_t bit = length - width + i;
                    data[bit / 8] =
                        uint8_t((data[bit / 8] & ~(1u << (bit % 8))) | ((v >> i) & 1) << (bit % 8));
                }
            }
            Bits dr(dev, 0);
            for (size_t i = 0; i < length; ++i)
                dr.push_back((data[i / 8] >> (i % 8)) & 1);
            dr.resize(dr.size() + devices - 1 - dev, 0);
            const Bits pin_out = jtag.scan(false, dr);
            std::vector<uint8_t> scx_out(data.size(), 0);
            ASSERT_EQ(0u, scx_access_dr(h, length, 0, 0, length, data.data(), 0, length, scx_out.data()));
            for (size_t i = 0; i < length; ++i)
                ASSERT_EQ((scx_out[i / 8] >> (i % 8)) & 1, pin_out[dev + i])
                    << "device " << dev << ", IR " << ir << ": bit " << i << " of " << length
                    << ", register width " << width;
        }
    }
}

void TwinChains::expect_same_nodes(unsigned long a, unsigned long b) {
    // Words written and never read back show up only here.
    for (unsigned long address = 0; address < 256; ++address) {
        uint64_t wa = 1, wb = 2;
        ASSERT_TRUE(scxsim::memory_peek(a, 0, 0, address, &wa));
        ASSERT_TRUE(scxsim::memory_peek(b, 0, 0, address, &wb));
        ASSERT_EQ(wb, wa) << "memory word " << address;
    }
}

} // namespace

TEST_F(TwinChains, AChainCapturesTheSameBitsPinByPinAsThroughScxCalls) {
    for (unsigned seed : {1u, 2u, 3u}) {
        run_twins(1, 2, shape_.size(), false, seed);
        expect_same_nodes(1, 2);
    }
}

TEST_F(TwinChains, ALoneDeviceTakesScansOfAnyLengthTheSameWayBothWays) {
    for (unsigned seed : {4u, 5u, 6u}) {
        scxsim::stream_send(3, 0, 1, {'h', 'i'});
        scxsim::stream_send(4, 0, 1, {'h', 'i'});
        run_twins(3, 4, 1, true, seed);
        expect_same_nodes(3, 4);
    }
}
