// The default simulated board's names and helpers shared by the hardware,
// device-chain and hub-opening tests.
#ifndef SLD_TESTS_HARDWARE_SUPPORT_H
#define SLD_TESTS_HARDWARE_SUPPORT_H

#include <string>
#include <vector>

#include "scxsim.h"
#include "sld.h"

namespace hw_test {

using Calls = std::vector<std::string>;

const char CABLE1[] = "SimCable-1";
const char CABLE1_FULL[] = "SimCable-1 [sim:1]";
const char CABLE2[] = "SimCable-2";
const char CABLE2_FULL[] = "SimCable-2 [sim:2]";
const char FPGA_A[] = "@1: SIM-FPGA-A (0x020A10DD)";
const char CPLD[] = "@2: SIM-CPLD (0x0A1B2C3D)";
const char FPGA_OLD[] = "@3: SIM-FPGA-OLD (0x12345093)";
const char FPGA_B[] = "@1: SIM-FPGA-B (0x02B150DD)";
const char HUB_OPEN[] = "open_device(0,5,\"SLD HUB CLIENT\")=0";

// The chain and open calls of the trace, without lookups and discovery.
inline Calls chain_calls() {
    Calls out;
    for (const scxsim::Call &call : scxsim::trace()) {
        if (call.fn == scxsim::Fn::lock_chain || call.fn == scxsim::Fn::unlock_chain ||
            call.fn == scxsim::Fn::scan_device_chain || call.fn == scxsim::Fn::read_device_chain ||
            call.fn == scxsim::Fn::open_device || call.fn == scxsim::Fn::close_device)
            out.push_back(call.text());
    }
    return out;
}

// One good chain read of n devices.
inline Calls chain_read(unsigned long n) {
    return {"lock_chain(6000)=0", "scan_device_chain()=0", "read_device_chain(0,0,1)=47",
            "read_device_chain(" + std::to_string(n) + ",1,1)=0", "unlock_chain()=0"};
}

inline Calls concat(Calls a, const Calls &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An injected unlock failure never ran the unlock, so the chain stays held
// by this process; let it go so later steps can lock it.
inline void release_chain(unsigned long persistent_id) {
    if (SCX_CHAIN *chain = scxsim::chain_handle(persistent_id))
        scx_unlock_chain(chain);
}

// Reads a hardware's chain so a test starts from a known list, then forgets
// the calls.
inline void read_chain(const char *hardware) {
    sld_refresh_device(hardware);
    scxsim::clear_trace();
}

inline int open_hub(const char *hardware, const char *device, SLD_ERROR *status = nullptr) {
    int id = -100;
    SLD_ERROR s = sld_hub_open(hardware, device, &id);
    if (status != nullptr)
        *status = s;
    return id;
}

// The hub's node count, or minus the status when the id is not live.
inline int node_count(int hub_id) {
    unsigned char count = 0;
    SLD_ERROR s = sld_hub_get_number_of_nodes(hub_id, &count);
    return s == SLD_OK ? count : -static_cast<int>(s);
}

inline std::vector<std::string> device_strings(const char *hardware, SLD_ERROR *status = nullptr) {
    unsigned long count = 0;
    char **strings = nullptr;
    SLD_ERROR s = sld_get_device(hardware, &count, &strings);
    if (status != nullptr)
        *status = s;
    std::vector<std::string> out;
    for (unsigned long i = 0; strings != nullptr && i < count; ++i)
        out.push_back(strings[i]);
    return out;
}

} // namespace hw_test

#endif
