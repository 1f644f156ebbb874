#include "numbers.h"

#include <cctype>

#include "printable.h"

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
    uint64_t result = 0;
    for (char c : digits) {
        int d = digit_value(c);
        if (d < 0 || static_cast<unsigned>(d) >= base) {
            digits.clear();
            break;
        }
        if (result > (max - static_cast<unsigned>(d)) / base) {
            *error = quoted(text) + " is too large (at most " + std::to_string(max) + ")";
            return false;
        }
        result = result * base + static_cast<unsigned>(d);
    }
    if (digits.empty()) {
        *error = quoted(text) + " is not a number (decimal, 0x hex or 0b binary)";
        return false;
    }
    *value = result;
    return true;
}

bool parse_data(const std::string &text, unsigned long length, std::vector<uint8_t> *bits,
                std::string *error) {
    // Binary digits carry one bit each, hexadecimal ones four.
    const bool binary = has_prefix(text, 'b');
    const unsigned bits_per_digit = binary ? 1 : 4;
    const std::string digits = binary || has_prefix(text, 'x') ? text.substr(2) : text;
    bool good = !digits.empty();
    for (char c : digits) {
        const int d = digit_value(c);
        good = good && d >= 0 && static_cast<unsigned>(d) < (binary ? 2u : 16u);
    }
    if (!good) {
        *error = quoted(text) + " is not data (hex digits with or without 0x, or 0b and binary digits)";
        return false;
    }
    std::vector<uint8_t> out((length + 7) / 8, 0);
    for (size_t k = 0; k < digits.size(); ++k) {
        // Digit k from the right holds scan bits k * bits_per_digit and up.
        const unsigned value = static_cast<unsigned>(digit_value(digits[digits.size() - 1 - k]));
        for (unsigned b = 0; b < bits_per_digit; ++b) {
            if (!(value & (1u << b))) {
                continue;
            }
            const uint64_t j = uint64_t(k) * bits_per_digit + b;
            if (j >= length) {
                *error = "data " + quoted(text) + " does not fit in " + std::to_string(length) + " bits";
                return false;
            }
            out[j / 8] = static_cast<uint8_t>(out[j / 8] | (1u << (j % 8)));
        }
    }
    *bits = std::move(out);
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
