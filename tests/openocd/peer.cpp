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
//   node                  opens the first device's hub and its node 0 -> code
//   nlock TIMEOUT | nunlock  sld_node_lock / sld_node_unlock -> code
//   mwrite ADDR V...      writes the words (hex) from ADDR, each scan reading
//                         its capture -> the first code that is not 0, or 0
//   mread ADDR N          -> code and the N words (hex)
//   torture ADDR N MS     for MS milliseconds: lock, write N words from ADDR
//                         (round << 8 | k, tagged with ADDR; 20 ms pause
//                         midway), unlock -> the
//                         last value whose write answered 0 for each word
//                         ("-" for none), and the rounds that failed
//   fair ROUNDS HOLD      ROUNDS times scx_lock (10 s), hold HOLD ms,
//                         scx_unlock -> rounds done and the longest wait in ms
#include <chrono>
#include <cstdio>
#include <thread>
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
int node_id = -1;
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

// An instruction (unless 0) and a data scan reading its capture; the first
// code that is not SLD_OK.
SLD_ERROR scan_code(int node, unsigned long instruction, unsigned long length, unsigned long value,
                    unsigned long *out) {
    unsigned char w[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    unsigned char r[4] = {0, 0, 0, 0};
    unsigned long captured = 0;
    if (instruction) {
        const SLD_ERROR answer = sld_node_access_ir(node, instruction, &captured, 0);
        if (answer != SLD_OK)
            return answer;
    }
    const SLD_ERROR answer = sld_node_access_dr(node, length, w, r, 0);
    *out = unsigned(r[0]) | unsigned(r[1]) << 8 | unsigned(r[2]) << 16 | unsigned(r[3]) << 24;
    return answer;
}

bool scan(int node, unsigned long instruction, unsigned long length, unsigned long value,
          unsigned long *out) {
    return scan_code(node, instruction, length, value, out) == SLD_OK;
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

std::string open_node() {
    unsigned long count = 0;
    char **devices = nullptr;
    int hub = -1;
    if (sld_get_device(cable.c_str(), &count, &devices) != SLD_OK || count == 0)
        return "no device";
    const SLD_ERROR answer = sld_hub_open(cable.c_str(), devices[0], &hub);
    return std::to_string(answer != SLD_OK ? answer : sld_node_open(hub, 0, &node_id));
}

// Writes words from addr, every scan reading back: each call answers when
// it has run. The first code that is not SLD_OK, else SLD_OK.
SLD_ERROR write_words(unsigned long addr, const std::vector<unsigned long> &values,
                      std::vector<bool> *done = nullptr) {
    unsigned long out = 0;
    if (SLD_ERROR answer = scan_code(node_id, 1, 8, addr, &out))
        return answer;
    for (size_t k = 0; k < values.size(); ++k) {
        if (SLD_ERROR answer = scan_code(node_id, k == 0 ? 2 : 0, 32, values[k], &out))
            return answer;
        if (done) {
            (*done)[k] = true;
            // Midway, a pause: the section is long enough to be caught.
            if (k == values.size() / 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return SLD_OK;
}

std::string read_words(unsigned long addr, unsigned long n) {
    unsigned long out = 0;
    if (SLD_ERROR answer = scan_code(node_id, 1, 8, addr, &out))
        return std::to_string(answer);
    std::string text = "0";
    for (unsigned long k = 0; k < n; ++k) {
        if (SLD_ERROR answer = scan_code(node_id, k == 0 ? 3 : 0, 32, 0, &out))
            return std::to_string(answer);
        char word[12];
        std::snprintf(word, sizeof word, " %lx", out);
        text += word;
    }
    return text;
}

std::string torture(unsigned long addr, unsigned long n, long ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::vector<std::string> acknowledged(n, "-");
    unsigned long failed = 0, round = 0;
    for (; std::chrono::steady_clock::now() < end; ++round) {
        if (sld_node_lock(node_id, 10000) != SLD_OK) {
            ++failed;
            continue;
        }
        std::vector<unsigned long> values(n);
        for (unsigned long k = 0; k < n; ++k)
            values[k] = (addr << 24 | (round & 0xFFFF) << 8 | k) & 0xFFFFFFFF;
        std::vector<bool> done(n, false);
        if (write_words(addr, values, &done) != SLD_OK)
            ++failed;
        for (unsigned long k = 0; k < n; ++k) {
            char word[12];
            std::snprintf(word, sizeof word, "%lx", values[k]);
            if (done[k])
                acknowledged[k] = word;
        }
        sld_node_unlock(node_id);
    }
    std::string text;
    for (const std::string &word : acknowledged)
        text += word + " ";
    return text + "rounds " + std::to_string(round) + " failed " + std::to_string(failed);
}

std::string fair(unsigned long rounds, unsigned long hold) {
    long longest = 0;
    unsigned long done = 0;
    for (; done < rounds; ++done) {
        const auto start = std::chrono::steady_clock::now();
        if (scx_lock(device, 10000, SCX_PACK_STYLE_AUTO) != 0)
            break;
        longest = std::max<long>(longest, long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - start)
                                                   .count()));
        std::this_thread::sleep_for(std::chrono::milliseconds(hold));
        if (scx_unlock(device) != 0)
            break;
    }
    return std::to_string(done) + " " + std::to_string(longest);
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
    if (command == "node")
        return open_node();
    if (command == "nlock") {
        unsigned long timeout = 0;
        in >> timeout;
        return std::to_string(sld_node_lock(node_id, timeout));
    }
    if (command == "nunlock")
        return std::to_string(sld_node_unlock(node_id));
    if (command == "mwrite" || command == "mread" || command == "torture") {
        unsigned long addr = 0, n = 0;
        in >> std::hex >> addr;
        if (command == "mread") {
            in >> std::dec >> n;
            return read_words(addr, n);
        }
        if (command == "torture") {
            long ms = 0;
            in >> std::dec >> n >> ms;
            return torture(addr, n, ms);
        }
        std::vector<unsigned long> values;
        for (unsigned long v; in >> std::hex >> v;)
            values.push_back(v);
        return std::to_string(write_words(addr, values));
    }
    if (command == "fair") {
        unsigned long rounds = 0, hold = 0;
        in >> rounds >> hold;
        return fair(rounds, hold);
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
