// openocd_peer HOST:PORT[,HOST:PORT...]: another process using an OpenOCD server through
// the library, driven by the end-to-end tests one command line at a time
// on standard input; one answer line per command on standard output.
//
//   chain                 hardware query; the first server's chain -> code
//   hardware              hardware query (count, then fetch) -> the number
//                         of servers listed and milliseconds taken
//   open POS              scx_open_device (rescans once on 38) -> code
//   lock TIMEOUT          scx_lock -> code and milliseconds waited
//   unlock | close        -> code
//   ir VALUE              scx_access_ir -> code
//   dr LENGTH HEX         scx_access_dr, writing and reading LENGTH bits
//                         -> code and the bits read as hex
//   write LENGTH HEX      scx_access_dr writing LENGTH bits, reading none
//                         (held back under the lock) -> code
//   memory ROUNDS BASE    through sld_ on the first device's hub, node 0
//                         (memory): ROUNDS times, under the hub lock, write
//                         four words BASE+round.. at address 0x10 and read
//                         them back -> "ok" or "mixed at round R"
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/scxcore.h"
#include "scx/scx.h"
#include "sld.h"

namespace {

SCX_CHAIN *chain = nullptr;
SCX_OPEN *device = nullptr;
std::string cable;
const SCX_CLAIM CLAIMS[1] = {{0x300, 14}};

std::string hex_of(const std::vector<unsigned char> &bits) {
    std::string text;
    char digits[3];
    for (size_t i = bits.size(); i-- > 0;) {
        std::snprintf(digits, sizeof digits, "%02x", bits[i]);
        text += digits;
    }
    return text;
}

std::vector<unsigned char> bits_of(const std::string &hex, unsigned long length) {
    std::vector<unsigned char> bits((length + 7) / 8, 0);
    for (size_t i = 0; i < hex.size() && i / 2 < bits.size(); ++i) {
        const char c = hex[hex.size() - 1 - i];
        const unsigned value = unsigned(std::stoul(std::string(1, c), nullptr, 16));
        bits[i / 2] = static_cast<unsigned char>(bits[i / 2] | value << (4 * (i % 2)));
    }
    return bits;
}

std::string find_chain() {
    unsigned long count = 0;
    if (scx_get_hardware(&count, nullptr, 10000) != 47 || count == 0)
        return "1";
    std::vector<SCX_HARDWARE> records(count);
    if (scx_get_hardware(&count, records.data(), 0) != 0 || count == 0)
        return "1";
    chain = records[0].chain;
    cable = records[0].name;
    return "0";
}

std::string open_device(unsigned long position) {
    SCX_ERROR answer = scx_open_device(chain, position, &device, CLAIMS, 1, "peer");
    if (answer == 38 && scx_scan_device_chain(chain) == 36)
        answer = scx_open_device(chain, position, &device, CLAIMS, 1, "peer");
    return std::to_string(answer);
}

bool scan(int node, unsigned long instruction, unsigned long length, unsigned long value,
          unsigned long *out) {
    unsigned char w[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    unsigned char r[4] = {0, 0, 0, 0};
    unsigned long captured = 0;
    if ((instruction && sld_node_access_ir(node, instruction, &captured, 0) != SLD_OK) ||
        sld_node_access_dr(node, length, w, r, 0) != SLD_OK)
        return false;
    *out = unsigned(r[0]) | unsigned(r[1]) << 8 | unsigned(r[2]) << 16 | unsigned(r[3]) << 24;
    return true;
}

std::string memory(unsigned long rounds, unsigned long base) {
    unsigned long count = 0;
    char **devices = nullptr;
    int hub = -1, node = -1;
    if (sld_get_device(cable.c_str(), &count, &devices) != SLD_OK || count == 0 ||
        sld_hub_open(cable.c_str(), devices[0], &hub) != SLD_OK || sld_node_open(hub, 0, &node) != SLD_OK)
        return "no memory node";
    std::string result = "ok";
    for (unsigned long round = 0; round < rounds && result == "ok"; ++round) {
        if (sld_node_lock(node, 10000) != SLD_OK)
            return "lock failed at round " + std::to_string(round);
        unsigned long out = 0;
        bool ok = scan(node, 1, 8, 0x10, &out);
        for (unsigned long k = 0; k < 4 && ok; ++k)
            ok = scan(node, k == 0 ? 2 : 0, 32, base + round + k, &out);
        ok = ok && scan(node, 1, 8, 0x10, &out);
        for (unsigned long k = 0; k < 4 && ok; ++k) {
            ok = scan(node, k == 0 ? 3 : 0, 32, 0, &out);
            if (ok && out != ((base + round + k) & 0xFFFFFFFF))
                result = "mixed at round " + std::to_string(round);
        }
        if (!ok)
            result = "scan failed at round " + std::to_string(round);
        sld_node_unlock(node);
    }
    sld_node_close(node);
    sld_hub_close(hub);
    return result;
}

std::string run(const std::string &line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "chain")
        return find_chain();
    if (command == "hardware") {
        const auto start = std::chrono::steady_clock::now();
        unsigned long count = 0;
        scx_get_hardware(&count, nullptr, 10000);
        std::vector<SCX_HARDWARE> records(count + 1);
        scx_get_hardware(&count, records.data(), 0);
        const auto taken =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return std::to_string(count) + " " + std::to_string(taken.count());
    }
    if (command == "open") {
        unsigned long position = 0;
        in >> position;
        return open_device(position);
    }
    if (command == "lock") {
        unsigned long timeout = 0;
        in >> timeout;
        const auto start = std::chrono::steady_clock::now();
        const SCX_ERROR answer = scx_lock(device, timeout, SCX_PACK_STYLE_AUTO);
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return std::to_string(answer) + " " + std::to_string(waited.count());
    }
    if (command == "unlock")
        return std::to_string(scx_unlock(device));
    if (command == "close")
        return std::to_string(scx_close_device(device));
    if (command == "ir") {
        std::string value;
        in >> value;
        return std::to_string(scx_access_ir(device, std::stoul(value, nullptr, 0), nullptr, 0));
    }
    if (command == "dr") {
        unsigned long length = 0;
        std::string hex;
        in >> length >> hex;
        std::vector<unsigned char> bits = bits_of(hex, length), read(bits.size(), 0);
        const SCX_ERROR answer =
            scx_access_dr(device, length, 0, 0, length, bits.data(), 0, length, read.data());
        return std::to_string(answer) + " " + hex_of(read);
    }
    if (command == "write") {
        unsigned long length = 0;
        std::string hex;
        in >> length >> hex;
        std::vector<unsigned char> bits = bits_of(hex, length);
        return std::to_string(scx_access_dr(device, length, 0, 0, length, bits.data(), 0, 0, nullptr));
    }
    if (command == "memory") {
        unsigned long rounds = 0, base = 0;
        in >> rounds >> std::hex >> base;
        return memory(rounds, base);
    }
    return "unknown command";
}

} // namespace

int main(int argc, char **argv) {
    std::string error;
    if (argc != 2 || !scx::use_openocd({argv[1]}, &error)) {
        std::cerr << "usage: openocd_peer HOST:PORT " << error << "\n";
        return 2;
    }
    for (std::string line; std::getline(std::cin, line);) {
        std::cout << run(line) << std::endl;
    }
    return 0;
}
