// libFuzzer entry: each input is a sequence of API calls, hot-plug events
// and injected faults, run against the simulated JTAG world and checked
// against the reference model. Every input starts with nothing open and
// leaves nothing open, so inputs do not depend on each other.
#include <cstddef>
#include <cstdint>

#include "catalog.h"
#include "driver.h"

namespace {

Catalog *g_catalog = nullptr;
Driver *g_driver = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    scxsim::reset();
    g_catalog = new Catalog();
    build_catalog(g_catalog);
    Driver::reset_world();
    g_driver = new Driver(*g_catalog);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    g_driver->run(data, size);
    return 0;
}
