// Hardware enumeration, names, chain scan and read, device open, and how
// hot-plug shows in the answers.
#include <cstring>
#include <string>

#include "sim_helpers.h"

TEST_F(SimWorld, HardwareEnumerationFollowsTheSizeProtocol) {
    unsigned long n = 0;
    EXPECT_EQ(47u, scx_get_hardware(&n, nullptr, 10000));
    ASSERT_EQ(2u, n);
    SCX_HARDWARE r[3];
    std::memset(r, 0xCC, sizeof r);
    n = 1;
    EXPECT_EQ(47u, scx_get_hardware(&n, r, 0)) << "too little room";
    EXPECT_EQ(2u, n);
    EXPECT_EQ(0u, scx_get_hardware(&n, r, 0));
    EXPECT_EQ(scxsim::chain_handle(1), r[0].chain);
    EXPECT_EQ(1u, r[0].persistent_id);
    EXPECT_STREQ("SimCable-1", r[0].name);
    EXPECT_EQ(0u, r[0].flags);
    EXPECT_EQ(0u, r[0].reserved[2]);
    EXPECT_EQ(2u, r[1].persistent_id);
    // Hardware that went away after the count query: answer 2, count fixed.
    ASSERT_TRUE(scxsim::remove_cable(2));
    EXPECT_EQ(2u, scx_get_hardware(&n, r, 0));
    EXPECT_EQ(1u, n);
    EXPECT_EQ(46u, scx_get_hardware(nullptr, r, 0));
    ASSERT_TRUE(scxsim::remove_cable(1));
    n = 5;
    EXPECT_EQ(47u, scx_get_hardware(&n, nullptr, 10000));
    EXPECT_EQ(0u, n) << "the count is set also when it is 0";
}

TEST_F(SimWorld, HardwareNamesAndLookup) {
    SCX_CHAIN *chain = scxsim::chain_handle(1);
    unsigned long len = 0;
    EXPECT_EQ(47u, scx_print_hardware_name(chain, nullptr, 0, true, &len));
    EXPECT_EQ(std::strlen("SimCable-1 [sim:1]"), len);
    std::vector<char> buf(len + 1, 'x');
    EXPECT_EQ(0u, scx_print_hardware_name(chain, buf.data(), len, true, nullptr));
    EXPECT_EQ(std::string("SimCable-1 [sim:1]x"), std::string(buf.data(), len + 1)) << "no NUL without room";
    char small[4] = "abc";
    EXPECT_EQ(47u, scx_print_hardware_name(chain, small, 3, false, &len));
    EXPECT_EQ(10u, len);
    EXPECT_STREQ("abc", small);
    char big[32];
    EXPECT_EQ(0u, scx_print_hardware_name(chain, big, sizeof big, false, nullptr));
    EXPECT_STREQ("SimCable-1", big);
    EXPECT_EQ(46u, scx_print_hardware_name(chain, nullptr, 8, false, &len));
    EXPECT_EQ(87u, scx_print_hardware_name(nullptr, nullptr, 0, false, &len));

    ASSERT_TRUE(scxsim::set_cable_name(1, ""));
    EXPECT_EQ(33u, scx_print_hardware_name(chain, nullptr, 0, false, &len));
    EXPECT_EQ(47u, scx_print_hardware_name(chain, nullptr, 0, true, &len)) << "the full name stays";

    SCX_HARDWARE r;
    EXPECT_EQ(0u, scx_find_hardware("SimCable-2 [sim:2]", &r, 5000));
    EXPECT_EQ(2u, r.persistent_id);
    EXPECT_EQ(scxsim::chain_handle(2), r.chain);
    EXPECT_EQ(86u, scx_find_hardware("SimCable-2", &r, 5000)) << "only the full name is looked up";
    EXPECT_EQ(46u, scx_find_hardware(nullptr, &r, 5000));
}

TEST_F(SimWorld, ChainReadAndScan) {
    SCX_CHAIN *chain = scxsim::chain_handle(1);
    unsigned long n = 0;
    EXPECT_EQ(0u, scx_scan_device_chain(chain));
    EXPECT_EQ(47u, scx_read_device_chain(chain, &n, nullptr, true));
    ASSERT_EQ(3u, n);
    SCX_DEVICE d[3];
    EXPECT_EQ(0u, scx_read_device_chain(chain, &n, d, true));
    EXPECT_EQ(0x020A10DDu, d[0].idcode);
    EXPECT_STREQ("SIM-FPGA-A", d[0].name);
    EXPECT_STREQ("SIM-CPLD", d[1].name);
    EXPECT_EQ(0x12345093u, d[2].idcode);
    EXPECT_EQ(0u, scx_read_device_chain(chain, &n, d, false));
    EXPECT_EQ(nullptr, d[0].name);
    EXPECT_EQ(46u, scx_read_device_chain(chain, nullptr, d, true));

    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x0A1B2C3F));
    EXPECT_EQ(36u, scx_scan_device_chain(chain)) << "the chain changed";
    EXPECT_EQ(0u, scx_scan_device_chain(chain));
    EXPECT_EQ(0u, scx_read_device_chain(chain, &n, d, true));
    EXPECT_EQ(0x0A1B2C3Fu, d[1].idcode);
}

TEST_F(SimWorld, OpenNeedsARescanAfterAChainChange) {
    SCX_CHAIN *chain = scxsim::chain_handle(1);
    SCX_OPEN *h = nullptr;
    EXPECT_EQ(37u, scx_open_device(chain, 3, &h, claims, 1, "t"));
    EXPECT_EQ(46u, scx_open_device(chain, 0, nullptr, claims, 1, "t"));
    EXPECT_EQ(46u, scx_open_device(chain, 0, &h, nullptr, 1, "t"));
    EXPECT_EQ(46u, scx_open_device(chain, 0, &h, claims, 1, nullptr));
    EXPECT_EQ(nullptr, h);

    ASSERT_TRUE(scxsim::insert_device(1, 0, R"({"idcode": "0x11111111", "ir_length": 4})"));
    EXPECT_EQ(38u, scx_open_device(chain, 0, &h, claims, 1, "t"));
    EXPECT_EQ(36u, scx_scan_device_chain(chain));
    ASSERT_EQ(0u, scx_open_device(chain, 0, &h, nullptr, 0, "t"));
    EXPECT_EQ(0x11111111u, dr(h, 32, 0));
    EXPECT_EQ(1u, scxsim::open_handle_count(1));
    EXPECT_EQ(0u, scxsim::open_handle_count(2));
    scx_close_device(h);
    EXPECT_EQ(0u, scxsim::open_handle_count());
}

TEST_F(SimWorld, HandlesFollowTheirDeviceThroughHotPlug) {
    SCX_OPEN *a = open(1, 0), *cpld = open(1, 1), *old = open(1, 2);
    ASSERT_TRUE(scxsim::insert_device(1, 0, R"({"idcode": 3, "ir_length": 2})"));
    EXPECT_EQ(0x020A10DDu, dr(a, 32, 0)) << "still the same device, now at position 1";
    ASSERT_TRUE(scxsim::replace_device(1, 2, R"({"idcode": 5, "ir_length": 8})"));
    EXPECT_EQ(39u, scx_access_ir(cpld, 6, nullptr, 0)) << "replaced";
    ASSERT_TRUE(scxsim::remove_device(1, 3));
    EXPECT_EQ(39u, scx_lock(old, 0, SCX_PACK_STYLE_AUTO)) << "removed";
    EXPECT_EQ(39u, scx_close_device(old));
    ASSERT_TRUE(scxsim::set_idcode(1, 1, 0x020A10DF));
    EXPECT_EQ(0x020A10DFu, dr(a, 32, 0)) << "a new IDCODE keeps the device";
    EXPECT_FALSE(scxsim::remove_device(1, 3));
    EXPECT_FALSE(scxsim::insert_device(1, 4, R"({"idcode": 3, "ir_length": 2})"));
    EXPECT_FALSE(scxsim::set_idcode(9, 0, 1));
    std::string error;
    EXPECT_FALSE(scxsim::insert_device(1, 0, R"({"idcode": 3})", &error));
    EXPECT_EQ("device: $.ir_length: missing field", error);
    EXPECT_EQ(39u, scx_close_device(cpld));
    EXPECT_EQ(0u, scx_close_device(a));
}

TEST_F(SimWorld, RemovedCablesAndRenewedHandlesAnswer87) {
    SCX_CHAIN *first = scxsim::chain_handle(1);
    SCX_OPEN *h = open(1, 0);
    ASSERT_TRUE(scxsim::renew_chain_handle(1));
    SCX_CHAIN *second = scxsim::chain_handle(1);
    EXPECT_NE(first, second);
    EXPECT_EQ(87u, scx_lock_chain(first, 0));
    EXPECT_EQ(0x020A10DDu, dr(h, 32, 0)) << "device handles survive a renewal";
    EXPECT_EQ(36u, scx_scan_device_chain(second)) << "a renewal counts as a change";

    ASSERT_TRUE(scxsim::remove_cable(1));
    EXPECT_EQ(nullptr, scxsim::chain_handle(1));
    EXPECT_EQ(87u, scx_scan_device_chain(second));
    EXPECT_EQ(87u, scx_access_ir(h, 6, nullptr, 0));
    EXPECT_EQ(1u, scxsim::open_handle_count(1));
    EXPECT_EQ(87u, scx_close_device(h));
    EXPECT_EQ(0u, scxsim::open_handle_count(1));

    ASSERT_TRUE(scxsim::add_cable(R"({"persistent_id": 1, "name": "back"})"));
    SCX_CHAIN *third = scxsim::chain_handle(1);
    EXPECT_NE(second, third);
    std::string error;
    EXPECT_FALSE(scxsim::add_cable(R"({"persistent_id": 1})", &error));
    EXPECT_NE(std::string::npos, error.find("persistent id 1 exists"));
    // A reset keeps the handle of a persistent id.
    scxsim::reset();
    EXPECT_EQ(third, scxsim::chain_handle(1));
    EXPECT_EQ(scxsim::chain_handle(2), scxsim::chain_handle(2));
}

TEST_F(SimWorld, ResetForgetsOpenHandles) {
    SCX_OPEN *h = open(1, 0);
    scxsim::reset();
    EXPECT_EQ(87u, scx_access_ir(h, 6, nullptr, 0));
    EXPECT_EQ(0u, scxsim::open_handle_count());
}

TEST_F(SimWorld, UnavailableCablesAndAFullHandleTable) {
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x1));
    SCX_OPEN *b = nullptr;
    EXPECT_EQ(88u, scx_open_device(scxsim::chain_handle(2), 0, &b, claims, 1, "t"));
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x4));
    b = open(2, 0);
    ASSERT_TRUE(scxsim::set_cable_flags(2, 0x1));
    EXPECT_EQ(88u, scx_access_ir(b, 6, nullptr, 0));
    EXPECT_EQ(0u, scx_close_device(b));

    std::vector<SCX_OPEN *> handles;
    SCX_OPEN *h = nullptr;
    SCX_ERROR r = 0;
    while ((r = scx_open_device(scxsim::chain_handle(1), 1, &h, nullptr, 0, "t")) == 0)
        handles.push_back(h);
    EXPECT_EQ(81u, r);
    EXPECT_EQ(1024u, handles.size());
    for (SCX_OPEN *x : handles)
        scx_close_device(x);
    EXPECT_EQ(0u, scx_open_device(scxsim::chain_handle(1), 1, &h, nullptr, 0, "t"));
    scx_close_device(h);
}
