#include "chain_listing.h"

namespace scxopenocd {
namespace detail {

namespace {

const size_t MAX_LINE = 512;
const unsigned MAX_IR_LENGTH = 64;

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

bool parse_decimal(std::string_view text, unsigned long max, unsigned long *out) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + unsigned(c - '0');
    }
    if (value > max) {
        return false;
    }
    *out = value;
    return true;
}

// 0x and 1 to max_digits hex digits.
bool parse_hex(std::string_view text, size_t max_digits, uint64_t *out) {
    if (text.size() < 3 || text.size() > 2 + max_digits || text[0] != '0' || text[1] != 'x') {
        return false;
    }
    uint64_t value = 0;
    for (char c : text.substr(2)) {
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return false;
        }
        value = value << 4 | uint64_t(d);
    }
    *out = value;
    return true;
}

bool is_log_line(std::string_view line) {
    for (const char *prefix : {"Info :", "Warn :", "Error:", "Debug:", "User :"}) {
        if (line.substr(0, 6) == prefix) {
            return true;
        }
    }
    return false;
}

bool is_header(const std::vector<std::string_view> &w) {
    static const char *const COLUMNS[] = {"TapName", "Enabled", "IdCode", "Expected",
                                          "IrLen",   "IrCap",   "IrMask"};
    if (w.size() != 7) {
        return false;
    }
    for (size_t i = 0; i < 7; ++i) {
        if (w[i] != COLUMNS[i]) {
            return false;
        }
    }
    return true;
}

bool is_rule(const std::vector<std::string_view> &w) {
    if (w.size() != 8) {
        return false;
    }
    for (std::string_view word : w) {
        if (word.find_first_not_of('-') != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// One row: index, name (possibly several words), Y/n, idcode, expected,
// IR length, IR capture, IR mask.
bool parse_row(const std::vector<std::string_view> &w, unsigned long expected_index, Tap *tap, bool *enabled,
               std::string *error) {
    unsigned long index = 0;
    if (w.size() < 8 || !parse_decimal(w[0], MAX_TAPS, &index) || index != expected_index) {
        *error = "TAP " + std::to_string(expected_index) + ": not a scan_chain row";
        return false;
    }
    const size_t n = w.size();
    const std::string_view flag = w[n - 6];
    uint64_t idcode = 0, expected = 0, capture = 0, mask = 0;
    unsigned long ir_length = 0;
    if ((flag != "Y" && flag != "n") || !parse_hex(w[n - 5], 8, &idcode) ||
        !parse_hex(w[n - 4], 8, &expected) || !parse_decimal(w[n - 3], 1024, &ir_length) ||
        !parse_hex(w[n - 2], 16, &capture) || !parse_hex(w[n - 1], 16, &mask)) {
        *error = "TAP " + std::to_string(expected_index) + ": a column is not what scan_chain prints";
        return false;
    }
    // A name of several words is kept whole, but never usable.
    std::string name;
    for (size_t i = 1; i < n - 6; ++i) {
        name += (i > 1 ? " " : "") + std::string(w[i]);
    }
    if (name.size() > 4 * MAX_TAP_NAME) {
        name.resize(4 * MAX_TAP_NAME);
    }
    tap->name = name;
    tap->idcode = uint32_t(idcode);
    tap->ir_length = unsigned(ir_length);
    tap->ir_capture = capture;
    tap->usable = name_is_safe(name) && ir_length >= 1 && ir_length <= MAX_IR_LENGTH;
    *enabled = flag == "Y";
    return true;
}

} // namespace

bool name_is_safe(std::string_view name) {
    if (name.empty() || name.size() > MAX_TAP_NAME) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool word =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!word && (i == 0 || (c != '.' && c != '-'))) {
            return false;
        }
    }
    return true;
}

bool parse_scan_chain(std::string_view text, Listing *out, std::string *error) {
    enum { want_header, want_rule, rows } stage = want_header;
    Listing listing;
    unsigned long next_index = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > MAX_LINE) {
            *error = "a line longer than " + std::to_string(MAX_LINE) + " characters";
            return false;
        }
        const std::vector<std::string_view> w = words_of(line);
        if (w.empty() || is_log_line(line)) {
            continue;
        }
        if (stage == want_header) {
            if (!is_header(w)) {
                *error = "no scan_chain header";
                return false;
            }
            stage = want_rule;
        } else if (stage == want_rule) {
            if (!is_rule(w)) {
                *error = "no rule under the scan_chain header";
                return false;
            }
            stage = rows;
        } else {
            if (next_index >= MAX_TAPS) {
                *error = "more than " + std::to_string(MAX_TAPS) + " TAPs";
                return false;
            }
            Tap tap;
            bool enabled = false;
            if (!parse_row(w, next_index, &tap, &enabled, error)) {
                return false;
            }
            ++next_index;
            if (enabled) {
                listing.push_back(tap);
            }
        }
    }
    if (stage != rows) {
        *error = "no scan_chain table";
        return false;
    }
    *out = std::move(listing);
    return true;
}

} // namespace detail
} // namespace scxopenocd
