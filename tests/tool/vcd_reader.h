// A small reader of value change dump files, strict enough to catch what a
// waveform viewer would refuse: undeclared identifiers, values wider than
// their signal, bad value characters, time going backwards, unbalanced
// scopes, sections without $end.
#ifndef SLD_TESTS_TOOL_VCD_READER_H
#define SLD_TESTS_TOOL_VCD_READER_H

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

struct VcdSignal {
    std::string name;
    unsigned width = 0;
};

struct VcdChange {
    uint64_t time;
    std::string id;
    std::string value; // bits, most significant first, as written
};

struct VcdFile {
    std::string timescale;
    std::map<std::string, VcdSignal> signals; // by identifier
    std::vector<VcdChange> changes;           // in file order, $dumpvars included

    std::string id_of(const std::string &name) const {
        for (const auto &entry : signals) {
            if (entry.second.name == name) {
                return entry.first;
            }
        }
        return "";
    }
};

// Parses a whole file; on failure returns false with a message.
inline bool read_vcd(std::istream &in, VcdFile *file, std::string *error) {
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) {
        tokens.push_back(token);
    }
    size_t i = 0;
    int depth = 0;
    bool definitions_done = false;
    auto fail = [&](const std::string &what) {
        *error = what + " at token " + std::to_string(i);
        return false;
    };
    auto skip_to_end = [&](std::vector<std::string> *body) {
        for (++i; i < tokens.size() && tokens[i] != "$end"; ++i) {
            if (body) {
                body->push_back(tokens[i]);
            }
        }
        return i < tokens.size();
    };
    for (; i < tokens.size() && !definitions_done; ++i) {
        const std::string &t = tokens[i];
        std::vector<std::string> body;
        if (t == "$date" || t == "$version" || t == "$comment") {
            if (!skip_to_end(nullptr)) {
                return fail(t + " without $end");
            }
        } else if (t == "$timescale") {
            if (!skip_to_end(&body) || body.empty()) {
                return fail("bad $timescale");
            }
            for (const std::string &part : body) {
                file->timescale += part;
            }
        } else if (t == "$scope") {
            if (!skip_to_end(&body) || body.size() != 2) {
                return fail("bad $scope");
            }
            ++depth;
        } else if (t == "$upscope") {
            if (!skip_to_end(&body) || !body.empty() || --depth < 0) {
                return fail("bad $upscope");
            }
        } else if (t == "$var") {
            if (!skip_to_end(&body) || body.size() != 4 || depth == 0) {
                return fail("bad $var");
            }
            if (body[0] != "wire" && body[0] != "reg" && body[0] != "integer") {
                return fail("unknown var type " + body[0]);
            }
            VcdSignal signal;
            signal.width = static_cast<unsigned>(std::stoul(body[1]));
            signal.name = body[3];
            if (signal.width == 0 || !file->signals.emplace(body[2], signal).second) {
                return fail("bad or duplicate var " + body[2]);
            }
        } else if (t == "$enddefinitions") {
            if (!skip_to_end(nullptr) || depth != 0) {
                return fail("bad $enddefinitions");
            }
            definitions_done = true;
        } else {
            return fail("unexpected " + t + " in the header");
        }
    }
    if (!definitions_done || file->timescale.empty()) {
        return fail("no $enddefinitions or $timescale");
    }
    bool have_time = false;
    uint64_t time = 0;
    auto valid_bits = [](const std::string &bits) {
        return !bits.empty() && bits.find_first_not_of("01xXzZ") == std::string::npos;
    };
    for (; i < tokens.size(); ++i) {
        const std::string &t = tokens[i];
        if (t == "$dumpvars" || t == "$end") {
            if (!have_time) {
                return fail(t + " before the first time");
            }
            continue;
        }
        if (t[0] == '#') {
            uint64_t next = std::stoull(t.substr(1));
            if (have_time && next <= time) {
                return fail("time does not increase: " + t);
            }
            time = next;
            have_time = true;
            continue;
        }
        if (!have_time) {
            return fail("value change before the first time");
        }
        VcdChange change;
        change.time = time;
        if (t[0] == 'b' || t[0] == 'B') {
            if (i + 1 >= tokens.size()) {
                return fail("vector value without identifier");
            }
            change.value = t.substr(1);
            change.id = tokens[++i];
        } else {
            change.value = t.substr(0, 1);
            change.id = t.substr(1);
        }
        auto signal = file->signals.find(change.id);
        if (signal == file->signals.end()) {
            return fail("undeclared identifier " + change.id);
        }
        if (!valid_bits(change.value) || change.value.size() > signal->second.width ||
            (signal->second.width == 1 && t[0] == 'b')) {
            return fail("bad value " + change.value + " for " + signal->second.name);
        }
        file->changes.push_back(change);
    }
    return true;
}

#endif
