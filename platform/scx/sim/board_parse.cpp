// Board files: JSON text to a checked board description. Every failure is
// one message naming the source, the JSON path of the value and the fault.
#include "board.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "bits.h"

namespace scxsim {
namespace detail {

uint32_t NodeDesc::info_word() const {
    return uint32_t(instance & 0xFF) | uint32_t(manufacturer & 0x7FF) << 8 | uint32_t(node_id & 0xFF) << 19 |
           uint32_t(version & 0x1F) << 27;
}

uint32_t HubDesc::info_word() const {
    return uint32_t(ir_width & 0xFF) | uint32_t(manufacturer & 0x7FF) << 8 |
           uint32_t(node_count & 0xFF) << 19 | uint32_t(version & 0x1F) << 27;
}

namespace {

using nlohmann::json;

const unsigned MAX_REGISTER_WIDTH = 4096;
const unsigned MAX_HUB_IR_WIDTH = 56; // m + n stays within 64 bits
const unsigned long MAX_MEMORY_DEPTH = 1UL << 20;
// What the nodes of one board (or one hot-plugged cable or device) may
// hold in all: a board file must not be able to take the host's memory.
const uint64_t MAX_NODE_STATE_BYTES = uint64_t(256) << 20;
// Larger board files are refused before they are read.
const uint64_t MAX_BOARD_FILE_BYTES = uint64_t(16) << 20;

// Bytes of simulated state a node allocates: memory words take 8 bytes
// whatever their width, a riscv node its RAM.
uint64_t state_bytes(const NodeDesc &n) {
    switch (n.kind) {
    case NodeKind::memory:
        return uint64_t(n.depth) * 8;
    case NodeKind::stream:
        return uint64_t(n.depth) * 2;
    case NodeKind::probe:
        return bytes_for(n.probe_width) + bytes_for(n.source_width);
    case NodeKind::riscv:
        return n.ram_size;
    case NodeKind::shift:
        break;
    }
    uint64_t total = 0;
    for (const ShiftRegisterDesc &r : n.registers)
        total += bytes_for(r.width);
    return total;
}

struct ParseFailure {
    std::string message;
};

std::string type_name(const json &v) {
    if (v.is_number_float())
        return "a fractional number";
    if (v.is_number())
        return "a number";
    if (v.is_string())
        return "a string";
    if (v.is_boolean())
        return "a boolean";
    if (v.is_null())
        return "null";
    if (v.is_array())
        return "an array";
    return "an object";
}

std::string show(uint64_t v, bool hex) {
    char buf[32];
    if (hex)
        std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    else
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
    return buf;
}

// Decimal or 0x-prefixed hexadecimal text; false when it is neither.
bool text_to_number(const std::string &s, uint64_t *out) {
    size_t i = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= s.size())
        return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = unsigned(c - 'A' + 10);
        else
            return false;
        if (v > (~uint64_t(0) - d) / unsigned(base))
            return false;
        v = v * unsigned(base) + d;
    }
    *out = v;
    return true;
}

class Parser {
  public:
    explicit Parser(const std::string &source) : source_(source) {}

    BoardDesc board(const json &v) {
        const std::string path = "$";
        require_object(v, path);
        check_keys(v, path, {"cables"});
        if (!v.contains("cables"))
            fail(path + ".cables", "missing field");
        const json &cables = v["cables"];
        if (!cables.is_array())
            fail(path + ".cables", "expected an array, got " + type_name(cables));
        BoardDesc out;
        std::set<unsigned long> seen;
        std::set<std::string> full_names;
        for (size_t i = 0; i < cables.size(); ++i) {
            const std::string p = path + ".cables[" + std::to_string(i) + "]";
            CableDesc c = cable(cables[i], p);
            if (!seen.insert(c.persistent_id).second)
                fail(p + ".persistent_id", "duplicate persistent id " + show(c.persistent_id, false));
            // The full name is what the hardware is found by: two alike
            // would make one of the cables unreachable.
            if (c.full_name && !full_names.insert(*c.full_name).second) {
                if (cables[i].contains("full_name"))
                    fail(p + ".full_name", "duplicate full name \"" + *c.full_name + "\"");
                fail(p + ".name", "duplicate full name \"" + *c.full_name +
                                      "\" (taken from the short name; give the cable a full_name)");
            }
            out.cables.push_back(std::move(c));
        }
        return out;
    }

    CableDesc cable(const json &v, const std::string &path) {
        require_object(v, path);
        check_keys(v, path, {"persistent_id", "name", "full_name", "flags", "devices"});
        CableDesc c;
        c.persistent_id =
            static_cast<unsigned long>(field(v, "persistent_id", path, 0, 0xFFFFFFFFu, nullptr));
        c.name = text(v, "name", path);
        c.full_name = text(v, "full_name", path);
        // Without a full name the hardware could not be found at all.
        if (!c.full_name)
            c.full_name = c.name;
        const uint64_t zero = 0;
        c.flags = static_cast<unsigned long>(field(v, "flags", path, 0, 0xFFFFFFFFu, &zero, true));
        if (v.contains("devices")) {
            const json &devs = v["devices"];
            if (!devs.is_array())
                fail(path + ".devices", "expected an array, got " + type_name(devs));
            for (size_t i = 0; i < devs.size(); ++i)
                c.devices.push_back(device(devs[i], path + ".devices[" + std::to_string(i) + "]"));
        }
        return c;
    }

    DeviceDesc device(const json &v, const std::string &path) {
        require_object(v, path);
        check_keys(v, path, {"idcode", "ir_length", "name", "ir_capture", "idcode_instruction", "hub"});
        DeviceDesc d;
        d.idcode = uint32_t(field(v, "idcode", path, 0, 0xFFFFFFFFu, nullptr, true));
        d.ir_length = unsigned(field(v, "ir_length", path, 2, 32, nullptr));
        d.name = text(v, "name", path);
        const uint64_t limit = low_mask(d.ir_length);
        const uint64_t one = 1;
        d.ir_capture = uint32_t(field(v, "ir_capture", path, 0, limit, &one, true));
        // Every TAP captures 01 in the two low IR bits: JTAG software finds
        // the IR boundaries of a chain by them.
        if ((d.ir_capture & 3) != 1)
            fail(path + ".ir_capture", "the two low bits must be 01, got " + show(d.ir_capture, true));
        const uint64_t idcode_default = 6 <= limit ? 6 : 1;
        d.idcode_instruction = uint32_t(field(v, "idcode_instruction", path, 0, limit, &idcode_default));
        if (v.contains("hub")) {
            if (d.ir_length < 4)
                fail(path + ".ir_length",
                     "a device with a hub needs an IR length of at least 4 (instruction 14)");
            if (d.idcode_instruction == 14 || d.idcode_instruction == 12)
                fail(path + ".idcode_instruction", "instructions 14 and 12 belong to the hub");
            d.hub = hub(v["hub"], path + ".hub");
        }
        return d;
    }

    HubDesc hub(const json &v, const std::string &path) {
        require_object(v, path);
        check_keys(v, path, {"version", "ir_width", "manufacturer", "node_count", "nodes"});
        HubDesc h;
        h.version = unsigned(field(v, "version", path, 0, 31, nullptr));
        h.ir_width = unsigned(field(v, "ir_width", path, 0, MAX_HUB_IR_WIDTH, nullptr));
        const uint64_t mfr = 110;
        h.manufacturer = unsigned(field(v, "manufacturer", path, 0, 0x7FF, &mfr));
        if (v.contains("nodes")) {
            const json &nodes = v["nodes"];
            if (!nodes.is_array())
                fail(path + ".nodes", "expected an array, got " + type_name(nodes));
            if (nodes.size() > 255)
                fail(path + ".nodes",
                     "has " + std::to_string(nodes.size()) + " nodes, at most 255 are allowed");
            for (size_t i = 0; i < nodes.size(); ++i)
                h.nodes.push_back(node(nodes[i], path + ".nodes[" + std::to_string(i) + "]", h.ir_width));
        }
        const uint64_t listed = h.nodes.size();
        h.node_count = unsigned(field(v, "node_count", path, listed, 255, &listed));
        return h;
    }

    NodeDesc node(const json &v, const std::string &path, unsigned m) {
        require_object(v, path);
        if (!v.contains("model"))
            fail(path + ".model", "missing field");
        const json &model = v["model"];
        if (!model.is_string())
            fail(path + ".model", "expected a string, got " + type_name(model));
        const std::string kind = model.get<std::string>();
        NodeDesc n;
        unsigned highest_instruction = 2;
        if (kind == "memory") {
            n.kind = NodeKind::memory;
            check_keys(v, path,
                       {"model", "instance", "manufacturer", "node_id", "version", "depth", "width"});
            const uint64_t depth = 256, width = 32;
            n.depth = static_cast<unsigned long>(field(v, "depth", path, 1, MAX_MEMORY_DEPTH, &depth));
            n.width = unsigned(field(v, "width", path, 1, 64, &width));
            highest_instruction = 3;
        } else if (kind == "stream") {
            n.kind = NodeKind::stream;
            check_keys(v, path, {"model", "instance", "manufacturer", "node_id", "version", "depth"});
            const uint64_t depth = 64;
            n.depth = static_cast<unsigned long>(field(v, "depth", path, 1, 255, &depth));
        } else if (kind == "probe") {
            n.kind = NodeKind::probe;
            check_keys(
                v, path,
                {"model", "instance", "manufacturer", "node_id", "version", "probe_width", "source_width"});
            const uint64_t width = 32;
            n.probe_width = unsigned(field(v, "probe_width", path, 1, MAX_REGISTER_WIDTH, &width));
            n.source_width = unsigned(field(v, "source_width", path, 1, MAX_REGISTER_WIDTH, &width));
        } else if (kind == "shift") {
            n.kind = NodeKind::shift;
            check_keys(v, path, {"model", "instance", "manufacturer", "node_id", "version", "registers"});
            highest_instruction = 0;
            if (v.contains("registers")) {
                const json &regs = v["registers"];
                const std::string rp = path + ".registers";
                require_object(regs, rp);
                for (auto it = regs.begin(); it != regs.end(); ++it) {
                    const std::string kp = rp + "[\"" + it.key() + "\"]";
                    uint64_t instruction;
                    if (!text_to_number(it.key(), &instruction))
                        fail(kp, "the key must be an instruction number");
                    if (instruction > low_mask(m))
                        fail(kp, "instruction " + show(instruction, false) +
                                     " does not fit the hub's ir_width " + std::to_string(m));
                    const unsigned width = unsigned(number(it.value(), kp, 1, MAX_REGISTER_WIDTH, false));
                    n.registers.push_back(ShiftRegisterDesc{instruction, width});
                }
            } else {
                n.registers.push_back(ShiftRegisterDesc{1, 8});
                highest_instruction = 1;
            }
        } else if (kind == "riscv") {
            n.kind = NodeKind::riscv;
            check_keys(v, path, {"model", "instance", "manufacturer", "node_id", "version", "idcode", "base", "size"});
            highest_instruction = 0x1F; // BYPASS
            const uint64_t idcode = 1, base = 0x80000000, size = 0x10000;
            n.idcode = uint32_t(field(v, "idcode", path, 0, 0xFFFFFFFFu, &idcode, true));
            n.ram_base = uint32_t(field(v, "base", path, 0, 0xFFFFFFFCu, &base, true));
            n.ram_size = uint32_t(field(v, "size", path, 4, MAX_NODE_STATE_BYTES, &size, true));
            if (n.ram_base % 4 || n.ram_size % 4)
                fail(path, "base and size must be multiples of 4");
            if (uint64_t(n.ram_base) + n.ram_size > (uint64_t(1) << 32))
                fail(path + ".size", "the RAM ends beyond the 32-bit address space");
        } else {
            fail(path + ".model", "unknown model \"" + kind + "\" (memory, stream, probe, shift or riscv)");
        }
        if (uint64_t(highest_instruction) > low_mask(m))
            fail(path + ".model", "model " + kind + " needs a hub ir_width of at least " +
                                      std::to_string(bit_length(highest_instruction)));
        const uint64_t zero = 0, mfr = 110;
        n.instance = unsigned(field(v, "instance", path, 0, 255, &zero));
        n.manufacturer = unsigned(field(v, "manufacturer", path, 0, 0x7FF, &mfr));
        n.node_id = unsigned(field(v, "node_id", path, 0, 255, &zero));
        n.version = unsigned(field(v, "version", path, 0, 31, &zero));
        state_bytes_ += state_bytes(n);
        if (state_bytes_ > MAX_NODE_STATE_BYTES)
            fail(path, "this node brings the simulated node state to " +
                           std::to_string((state_bytes_ + (1u << 20) - 1) >> 20) + " MiB, more than the " +
                           std::to_string(MAX_NODE_STATE_BYTES >> 20) +
                           " MiB a board may hold (a memory node takes 8 bytes a word, a riscv node its RAM)");
        return n;
    }

    [[noreturn]] void fail(const std::string &path, const std::string &what) {
        throw ParseFailure{source_ + ": " + path + ": " + what};
    }

  private:
    void require_object(const json &v, const std::string &path) {
        if (!v.is_object())
            fail(path, "expected an object, got " + type_name(v));
    }

    void check_keys(const json &v, const std::string &path, std::initializer_list<const char *> allowed) {
        for (auto it = v.begin(); it != v.end(); ++it) {
            bool known = false;
            for (const char *a : allowed)
                known = known || it.key() == a;
            if (!known)
                fail(path + "." + it.key(), "unknown field");
        }
    }

    uint64_t number(const json &v, const std::string &path, uint64_t min, uint64_t max, bool hex) {
        uint64_t value = 0;
        if (v.is_number_unsigned()) {
            value = v.get<uint64_t>();
        } else if (v.is_number_integer()) {
            fail(path, "out of range: got " + std::to_string(v.get<int64_t>()) + ", allowed " +
                           show(min, hex) + " to " + show(max, hex));
        } else if (v.is_string()) {
            if (!text_to_number(v.get<std::string>(), &value))
                fail(path, "expected a number, got the string \"" + v.get<std::string>() + "\"");
        } else {
            fail(path, "expected a number, got " + type_name(v));
        }
        if (value < min || value > max)
            fail(path, "out of range: got " + show(value, hex) + ", allowed " + show(min, hex) + " to " +
                           show(max, hex));
        return value;
    }

    // A numeric field; `dflt` null makes it required.
    uint64_t field(const json &obj, const char *key, const std::string &path, uint64_t min, uint64_t max,
                   const uint64_t *dflt, bool hex = false) {
        const std::string p = path + "." + key;
        if (!obj.contains(key)) {
            if (!dflt)
                fail(p, "missing field");
            return *dflt;
        }
        return number(obj[key], p, min, max, hex);
    }

    std::optional<std::string> text(const json &obj, const char *key, const std::string &path) {
        if (!obj.contains(key) || obj[key].is_null())
            return std::nullopt;
        const json &v = obj[key];
        const std::string p = path + "." + key;
        if (!v.is_string())
            fail(p, "expected a string, got " + type_name(v));
        std::string s = v.get<std::string>();
        if (s.empty())
            fail(p, "must not be empty (leave it out for no name)");
        if (s.find('\0') != std::string::npos)
            fail(p, "must not contain a NUL character");
        return s;
    }

    std::string source_;
    uint64_t state_bytes_ = 0; // of the nodes parsed so far
};

// Parses text and hands the value to `build`; every failure becomes a message.
template <typename Build>
bool parse_with(const std::string &text, const std::string &source, Build build, std::string *error) {
    try {
        json v;
        try {
            v = json::parse(text);
        } catch (const json::parse_error &e) {
            std::string what = e.what();
            const size_t end = what.find("] ");
            if (what.compare(0, 1, "[") == 0 && end != std::string::npos)
                what = what.substr(end + 2);
            throw ParseFailure{source + ": $: not valid JSON: " + what};
        }
        Parser p(source);
        build(p, v);
        return true;
    } catch (const ParseFailure &f) {
        if (error)
            *error = f.message;
    } catch (const std::exception &e) {
        if (error)
            *error = source + ": $: " + e.what();
    }
    return false;
}

} // namespace

bool parse_board(const std::string &text, const std::string &source, BoardDesc *out, std::string *error) {
    return parse_with(
        text, source, [out](Parser &p, const json &v) { *out = p.board(v); }, error);
}

bool parse_cable(const std::string &text, const std::string &source, CableDesc *out, std::string *error) {
    return parse_with(
        text, source, [out](Parser &p, const json &v) { *out = p.cable(v, "$"); }, error);
}

bool parse_device(const std::string &text, const std::string &source, DeviceDesc *out, std::string *error) {
    return parse_with(
        text, source, [out](Parser &p, const json &v) { *out = p.device(v, "$"); }, error);
}

bool read_text_file(const std::string &path, std::string *text, std::string *why) {
    struct stat info;
    std::string reason;
    if (stat(path.c_str(), &info) != 0)
        reason = std::string("cannot read the file: ") + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        reason = S_ISDIR(info.st_mode) ? "is a directory, not a board file" : "is not a regular file";
    else if (uint64_t(info.st_size) > MAX_BOARD_FILE_BYTES)
        reason = "is larger than " + std::to_string(MAX_BOARD_FILE_BYTES >> 20) + " MiB";
    std::ifstream in(path, std::ios::binary);
    if (reason.empty() && !in)
        reason = std::string("cannot read the file: ") + std::strerror(errno);
    std::ostringstream s;
    if (reason.empty() && !(s << in.rdbuf()) && info.st_size != 0)
        reason = "cannot read the file";
    if (!reason.empty()) {
        if (why)
            *why = reason;
        return false;
    }
    *text = s.str();
    return true;
}

} // namespace detail
} // namespace scxsim
