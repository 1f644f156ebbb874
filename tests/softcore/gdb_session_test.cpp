// gdb debugs the softcore example on the simulated board, the way a user
// does: sldtap serves the riscv node as a TAP, OpenOCD drives it and serves
// gdb, and gdb-multiarch runs one batch session. Once on the simulated
// world in sldtap's own process, once through the OpenOCD backend (sldsim
// behind an adapter-side OpenOCD, sldtap as its client).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "openocd_harness.h"

namespace {

using harness::Ms;

const char *const GDB_MISSING = "gdb-multiarch not found: install it (scripts/install-deps.sh --test)";

// gdb-multiarch on PATH, or $GDB; empty when there is none.
std::string find_gdb() {
    if (const char *g = std::getenv("GDB"))
        return g;
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/gdb-multiarch";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return "";
}

// The session: break in a function, print its arguments, step, write a
// global and a word of the table, continue to the end, read the result.
std::string session_script(int gdb_port) {
    return "set confirm off\n"
           "set pagination off\n"
           "target extended-remote 127.0.0.1:" + std::to_string(gdb_port) + "\n"
           "load\n"
           "break add_scaled\n"
           "continue\n"
           "print value\n"
           "print shift\n"
           "step\n"
           "print scaled\n"
           "continue\n"
           "print total\n"
           "set var calls = 100\n"
           "set var *(unsigned *)&table[7] = 10\n"
           "print table[7]\n"
           "delete\n"
           "break finished\n"
           "continue\n"
           "print result\n"
           "print calls\n"
           "print checksum\n"
           "print $pc == &finished\n"
           "detach\n";
}

// What the session must print, in this order: table 3,1,4,1,5,9,2,6 with
// every odd entry doubled gives 48; with table[7] = 10 it gives 56; calls
// was 1 when set to 100, and seven more calls follow. The checksum is what
// mix() gives compiled for the host: it catches a wrong byte or halfword
// load or store, shift or comparison in the simulated core.
const std::vector<std::string> EXPECTED = {
    "Start address 0x80000000",
    "Breakpoint 1, add_scaled (total=0, value=3, shift=0)",
    "$1 = 3",
    "$2 = 0",
    "\t    calls = calls + 1;", // the line after a step
    "$3 = 3",
    "Breakpoint 1, add_scaled (total=3, value=1, shift=1)",
    "$4 = 3",
    "$5 = 10",
    "Breakpoint 2, finished ()",
    "$6 = 56",
    "$7 = 107",
    "$8 = -6120",
    "$9 = 1",
    "detached",
};

// Runs gdb-multiarch in batch mode on the script; its standard output, or
// a failure message starting with "FAIL".
std::string run_gdb(const std::string &gdb, const std::string &script, Ms timeout) {
    // One file per process: ctest runs the sessions side by side.
    const std::string path =
        ::testing::TempDir() + "softcore_session_" + std::to_string(::getpid()) + ".gdb";
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        return "FAIL cannot write " + path;
    std::fputs(script.c_str(), f);
    std::fclose(f);
    harness::Child g;
    std::string error;
    if (!g.start(gdb, {"-nx", "-batch", "-x", path, SOFTCORE_ELF}, &error))
        return "FAIL " + error;
    std::string out, line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        if (!g.read_line(&line, left))
            break;
        out += line + "\n";
    }
    const bool finished = g.wait_exit(Ms(2000)) != -2;
    if (!finished)
        g.stop();
    std::remove(path.c_str());
    if (!finished)
        return "FAIL gdb did not finish within the time-out\n" + out + g.error_text();
    return out + g.error_text();
}

// Each expected line in order; the first one missing, or empty.
std::string first_missing(const std::string &out) {
    size_t at = 0;
    for (const std::string &e : EXPECTED) {
        const size_t found = out.find(e, at);
        if (found == std::string::npos)
            return e;
        at = found + e.size();
    }
    return "";
}

// OpenOCD with a riscv target on the TAP sldtap serves, and a gdb port.
bool start_debugger_openocd(harness::OpenOcd *ocd, int sldtap_port, int gdb_port, std::string *error) {
    return ocd->start(sldtap_port, error, {}, 0,
                      {"gdb_port " + std::to_string(gdb_port), "jtag newtap soft cpu -irlen 5",
                       "target create soft.cpu riscv -chain-position soft.cpu"});
}

class GdbSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_STRNE("", SOFTCORE_ELF)
            << "riscv64-unknown-elf-gcc not found when configuring: install gcc-riscv64-unknown-elf "
               "(scripts/install-deps.sh --test) and configure again";
        ASSERT_FALSE(harness::find_openocd().empty()) << harness::OPENOCD_MISSING;
        gdb_ = find_gdb();
        ASSERT_FALSE(gdb_.empty()) << GDB_MISSING;
    }

    void debug_through(int sldtap_port) {
        harness::OpenOcd ocd;
        std::string error;
        const int gdb_port = harness::free_loopback_port();
        ASSERT_TRUE(start_debugger_openocd(&ocd, sldtap_port, gdb_port, &error)) << error;
        const std::string out = run_gdb(gdb_, session_script(gdb_port), Ms(120000));
        EXPECT_EQ("", first_missing(out)) << "gdb printed:\n" << out << "\nOpenOCD:\n" << ocd.process.error_text();
    }

    std::string gdb_;
};

} // namespace

TEST_F(GdbSessionTest, SimulatedBoard) {
    harness::Sldtap tap;
    std::string error;
    ASSERT_TRUE(tap.start({"--board", SOFTCORE_BOARD, "-c", "SimCable-1", "-d", "@1", "-n", "0"}, &error)) << error;
    debug_through(tap.port());
}

TEST_F(GdbSessionTest, ThroughOpenOcdBackend) {
    harness::Sldsim sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--board", SOFTCORE_BOARD}, &error)) << error;
    harness::OpenOcd adapter;
    ASSERT_TRUE(adapter.start(sim.port(), &error)) << error;
    const std::string server = "127.0.0.1:" + std::to_string(adapter.tcl_port());
    harness::Sldtap tap;
    ASSERT_TRUE(tap.start({"--openocd", server, "-c", "openocd@" + server, "-d", "@1", "-n", "0"}, &error)) << error;
    debug_through(tap.port());
}
