// Board loading: a good board replaces the world; a bad one gives one
// message naming the source, the JSON path and the fault, and changes
// nothing.
#include <cstdio>
#include <fstream>
#include <string>

#include "sim_helpers.h"

namespace {

unsigned long chain_length(unsigned long cable) {
    unsigned long n = 0;
    scx_read_device_chain(scxsim::chain_handle(cable), &n, nullptr, true);
    return n;
}

std::string nodes(size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i)
        s += std::string(i ? "," : "") + R"({"model": "shift"})";
    return s;
}

std::string memories(size_t count, unsigned long depth) {
    std::string s;
    for (size_t i = 0; i < count; ++i)
        s += std::string(i ? "," : "") + R"({"model": "memory", "depth": )" + std::to_string(depth) + "}";
    return s;
}

std::string one_device(const std::string &device) {
    return R"({"cables": [{"persistent_id": 5, "devices": [)" + device + "]}]}";
}

} // namespace

TEST_F(SimWorld, AGoodBoardReplacesTheWorld) {
    SCX_CHAIN *two = scxsim::chain_handle(2);
    SCX_OPEN *h = open(1, 0);
    std::string error;
    ASSERT_TRUE(scxsim::load_board_string(
        R"({"cables": [{"persistent_id": 2, "full_name": "X [2]", "flags": "0x4",
            "devices": [{"idcode": 4294967295, "ir_length": 32, "idcode_instruction": "0xFFFFFFFE"}]}]})",
        &error))
        << error;
    EXPECT_EQ(nullptr, scxsim::chain_handle(1));
    EXPECT_EQ(two, scxsim::chain_handle(2)) << "same persistent id, same chain handle";
    EXPECT_EQ(87u, scx_close_device(h)) << "handles of the old world are unknown";
    SCX_OPEN *x = open(2, 0);
    ir(x, 0xFFFFFFFE);
    EXPECT_EQ(0xFFFFFFFFu, dr(x, 32, 0));
    unsigned long len = 0;
    EXPECT_EQ(33u, scx_print_hardware_name(two, nullptr, 0, false, &len)) << "no short name";
    scx_close_device(x);

    // A cable without a full name is found by its short name; the limit on
    // node state leaves room for 32 memories of the largest depth.
    ASSERT_TRUE(scxsim::load_board_string(
        R"({"cables": [{"persistent_id": 4, "name": "short", "devices": [{"idcode": 1, "ir_length": 8,
            "hub": {"version": 0, "ir_width": 8, "nodes": [)" +
            memories(32, 1048576) + "]}}]}]}",
        &error))
        << error;
    SCX_HARDWARE found;
    EXPECT_EQ(0u, scx_find_hardware("short", &found, 5000));
    EXPECT_EQ(4u, found.persistent_id);

    ASSERT_TRUE(scxsim::load_board_string(scxsim::default_board_json(), &error)) << error;
    EXPECT_EQ(3u, chain_length(1));
    EXPECT_EQ(1u, chain_length(2));
}

TEST_F(SimWorld, BadBoardsNameThePathAndKeepTheWorld) {
    const struct {
        std::string json, message;
    } cases[] = {
        {"{\"cables\": [", "board: $: not valid JSON"},
        {"[]", "board: $: expected an object, got an array"},
        {"{}", "board: $.cables: missing field"},
        {R"({"cables": [{"name": "a"}]})", "board: $.cables[0].persistent_id: missing field"},
        {R"({"cables": [{"persistent_id": "one"}]})",
         "board: $.cables[0].persistent_id: expected a number, got the string \"one\""},
        {R"({"cables": [{"persistent_id": 1, "name": 5}]})",
         "board: $.cables[0].name: expected a string, got a number"},
        {R"({"cables": [{"persistent_id": 1}, {"persistent_id": 1}]})",
         "board: $.cables[1].persistent_id: duplicate persistent id 1"},
        {R"({"cables": [{"persistent_id": 1, "full_name": "A"}, {"persistent_id": 2, "full_name": "A"}]})",
         "board: $.cables[1].full_name: duplicate full name \"A\""},
        {R"({"cables": [{"persistent_id": 1, "name": "X", "full_name": "X [a]"}, {"persistent_id": 2, "name": "X [a]"}]})",
         "board: $.cables[1].name: duplicate full name \"X [a]\" (taken from the short name"},
        {one_device(R"({"idcode": 1, "ir_length": 8, "hub": {"version": 0, "ir_width": 8, "nodes": [)" +
                    memories(33, 1048576) + "]}}"),
         "board: $.cables[0].devices[0].hub.nodes[32]: this node brings the simulated node state to 264 MiB, "
         "more than the 256 MiB"},
        {R"({"cables": [{"persistent_id": 1, "colour": "red"}]})",
         "board: $.cables[0].colour: unknown field"},
        {one_device(R"({"idcode": "0x1FFFFFFFF", "ir_length": 8})"),
         "board: $.cables[0].devices[0].idcode: out of range: got 0x1FFFFFFFF, allowed 0x0 to 0xFFFFFFFF"},
        {one_device(R"({"idcode": 1, "ir_length": 33})"),
         "board: $.cables[0].devices[0].ir_length: out of range: got 33, allowed 2 to 32"},
        {one_device(R"({"idcode": -1, "ir_length": 8})"),
         "board: $.cables[0].devices[0].idcode: out of range: got -1"},
        {one_device(R"({"idcode": 1, "ir_length": 8, "hub": {"version": 0, "ir_width": 8, "nodes": [)" +
                    nodes(256) + "]}}"),
         "board: $.cables[0].devices[0].hub.nodes: has 256 nodes, at most 255 are allowed"},
        {one_device(R"({"idcode": 1, "ir_length": 8, "hub": {"version": 0, "ir_width": 8,
            "nodes": [{"model": "memory", "width": 65}]}})"),
         "board: $.cables[0].devices[0].hub.nodes[0].width: out of range: got 65, allowed 1 to 64"},
        {one_device(R"({"idcode": 1, "ir_length": 8, "hub": {"version": 0, "ir_width": 3,
            "nodes": [{"model": "shift", "registers": {"9": 4}}]}})"),
         "board: $.cables[0].devices[0].hub.nodes[0].registers[\"9\"]: instruction 9 does not fit"},
        {one_device(R"({"idcode": 1, "ir_length": 8, "hub": {"version": 0, "ir_width": 8,
            "nodes": [{"model": "fifo"}]}})"),
         "board: $.cables[0].devices[0].hub.nodes[0].model: unknown model \"fifo\""},
        {one_device(R"({"idcode": 1, "ir_length": 3, "hub": {"version": 0, "ir_width": 8}})"),
         "board: $.cables[0].devices[0].ir_length: a device with a hub needs an IR length of at least 4"},
        {one_device(R"({"idcode": 1, "ir_length": 8, "ir_capture": "0x6"})"),
         "board: $.cables[0].devices[0].ir_capture: the two low bits must be 01, got 0x6"},
        {one_device(R"({"idcode": 1.5, "ir_length": 8})"),
         "board: $.cables[0].devices[0].idcode: expected a number, got a fractional number"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(scxsim::load_board_string(c.json, &error)) << c.json;
        EXPECT_EQ(0u, error.find(c.message)) << "got: " << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << "one line";
    }
    EXPECT_EQ(3u, chain_length(1)) << "nothing half-loaded";
    EXPECT_EQ(1u, chain_length(2));
}

TEST_F(SimWorld, BoardFilesNameTheFile) {
    const std::string path = testing::TempDir() + "scxsim_board_test.json";
    {
        std::ofstream out(path);
        out << R"({"cables": [{"persistent_id": 3, "devices": [{"ir_length": 4}]}]})";
    }
    std::string error;
    EXPECT_FALSE(scxsim::load_board_file(path, &error));
    EXPECT_EQ(path + ": $.cables[0].devices[0].idcode: missing field", error);
    {
        std::ofstream out(path);
        out << R"({"cables": [{"persistent_id": 3, "devices": [{"idcode": 9, "ir_length": 4}]}]})";
    }
    EXPECT_TRUE(scxsim::load_board_file(path, &error)) << error;
    EXPECT_EQ(1u, chain_length(3));
    std::remove(path.c_str());
    EXPECT_FALSE(scxsim::load_board_file(path, &error));
    EXPECT_EQ(path + ": cannot read the file: No such file or directory", error);
    EXPECT_FALSE(scxsim::load_board_file(testing::TempDir(), &error));
    EXPECT_NE(std::string::npos, error.find(": is a directory, not a board file")) << error;
    EXPECT_FALSE(scxsim::load_board_file("/dev/null", &error));
    EXPECT_NE(std::string::npos, error.find(": is not a regular file")) << error;
    EXPECT_EQ(1u, chain_length(3));
}
