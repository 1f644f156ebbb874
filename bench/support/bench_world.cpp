// World setup for the benchmarks, over the null JTAG client.
#include "bench_world.h"

#include <cstdio>
#include <cstdlib>

namespace bench {

void fail(const std::string &what, int status) {
    std::fprintf(stderr, "benchmark setup failed: %s returned %d\n", what.c_str(), status);
    std::exit(2);
}

void set_world(unsigned cables, unsigned devices_per_cable, unsigned nodes_per_hub) {
    scxnull::configure(cables, devices_per_cable, nodes_per_hub);
    check(sld_refresh_hardware(), "sld_refresh_hardware");
    unsigned long count = 0;
    char **names = nullptr;
    check(sld_get_hardware(&count, &names), "sld_get_hardware");
    if (count != cables)
        fail("sld_get_hardware count", static_cast<int>(count));
    for (unsigned c = 1; c <= cables; ++c) {
        unsigned long devices = 0;
        char **strings = nullptr;
        check(sld_get_device(hardware_name(c).c_str(), &devices, &strings), "sld_get_device");
        if (devices != devices_per_cable)
            fail("sld_get_device count", static_cast<int>(devices));
    }
}

std::string hardware_name(unsigned cable) {
    return scxnull::short_name(cable);
}

std::string device_string(unsigned cable, unsigned position) {
    unsigned long devices = 0;
    char **strings = nullptr;
    check(sld_get_device(hardware_name(cable).c_str(), &devices, &strings), "sld_get_device");
    if (position >= devices)
        fail("device position", static_cast<int>(position));
    return strings[position];
}

int open_hub(unsigned cable, unsigned position) {
    int hub_id = -1;
    check(sld_hub_open(hardware_name(cable).c_str(), device_string(cable, position).c_str(), &hub_id),
          "sld_hub_open");
    return hub_id;
}

int open_node(int hub_id, unsigned index) {
    int node_id = -1;
    check(sld_node_open(hub_id, static_cast<unsigned char>(index), &node_id), "sld_node_open");
    return node_id;
}

void close_node(int node_id) {
    check(sld_node_close(node_id), "sld_node_close");
}
void close_hub(int hub_id) {
    check(sld_hub_close(hub_id), "sld_hub_close");
}

std::string describe_calls(const scxnull::Counts &before, const scxnull::Counts &after, double iterations) {
    std::string text;
    for (int f = 0; f < scxnull::fn_count; ++f) {
        unsigned long n = after.calls[f] - before.calls[f];
        if (n == 0)
            continue;
        char item[64];
        std::snprintf(item, sizeof item, "%s%s %.3g", text.empty() ? "" : ", ",
                      scxnull::fn_name(static_cast<scxnull::Fn>(f)), n / iterations);
        text += item;
    }
    return text.empty() ? "none" : text;
}

} // namespace bench
