#include "numbers.h"

#include <cctype>

namespace sldtool {

namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool has_prefix(const std::string &text, char letter) {
    return text.size() >= 2 && text[0] == '0' && std::tolower(static_cast<unsigned char>(text[1])) == letter;
}

} // namespace

bool parse_number(const std::string &text, uint64_t max, uint64_t *value, std::string *error) {
    unsigned base = 10;
    std::string digits = text;
    if (has_prefix(text, 'x')) {
        base = 16;
        digits = text.substr(2);
    } else if (has_prefix(text, 'b')) {
        base = 2;
        digits = text.substr(2);
    }
    if (digits.empty()) {
        *error = "\"" + text + "\" is not a number";
        return false;
    }
    uint64_t result = 0;
    for (char c : digits) {
        int d = digit_value(c);
        if (d < 0 || static_cast<unsigned>(d) >= base) {
            *error = "\"" + text + "\" is not a number (decimal, 0x hex or 0b binary)";
            return false;
        }
        if (result > (max - static_cast<unsigned>(d)) / base) {
            *error = "\"" + text + "\" is too large (at most " + std::to_string(max) + ")";
            return false;
        }
        result = result * base + static_cast<unsigned>(d);
    }
    *value = result;
    return true;
}

bool parse_hex_bits(const std::string &text, unsigned long length, std::vector<uint8_t> *bits,
                    std::string *error) {
    std::string digits = has_prefix(text, 'x') ? text.substr(2) : text;
    if (digits.empty()) {
        *error = "\"" + text + "\" is not hex data";
        return false;
    }
    for (char c : digits) {
        if (digit_value(c) < 0) {
            *error = "\"" + text + "\" is not hex data (digits 0-9, a-f)";
            return false;
        }
    }
    const unsigned long max_digits = (length + 3) / 4;
    if (digits.size() > max_digits) {
        *error = "hex data \"" + text + "\" has " + std::to_string(digits.size()) + " digits; a scan of " +
                 std::to_string(length) + " bits takes at most " + std::to_string(max_digits);
        return false;
    }
    std::vector<uint8_t> out((length + 7) / 8, 0);
    for (size_t k = 0; k < digits.size(); ++k) {
        // Digit k from the right holds scan bits 4k .. 4k+3.
        unsigned nibble = static_cast<unsigned>(digit_value(digits[digits.size() - 1 - k]));
        for (unsigned b = 0; b < 4; ++b) {
            if (!(nibble & (1u << b))) {
                continue;
            }
            unsigned long j = 4 * k + b;
            if (j >= length) {
                *error = "hex data \"" + text + "\" does not fit in " + std::to_string(length) + " bits";
                return false;
            }
            out[j / 8] = static_cast<uint8_t>(out[j / 8] | (1u << (j % 8)));
        }
    }
    *bits = out;
    return true;
}

std::string format_hex_bits(const uint8_t *bits, unsigned long length) {
    static const char DIGITS[] = "0123456789abcdef";
    const unsigned long count = (length + 3) / 4;
    std::string text = "0x";
    for (unsigned long k = count; k-- > 0;) {
        unsigned nibble = 0;
        for (unsigned b = 0; b < 4; ++b) {
            unsigned long j = 4 * k + b;
            if (j < length && (bits[j / 8] >> (j % 8)) & 1u) {
                nibble |= 1u << b;
            }
        }
        text += DIGITS[nibble];
    }
    return text;
}

std::string hex(uint64_t value) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), DIGITS[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

} // namespace sldtool
