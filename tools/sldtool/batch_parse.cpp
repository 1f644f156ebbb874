#include "batch_parse.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "numbers.h"

namespace sldtool {

namespace {

const uint64_t MAX_WORD = 0xFFFFFFFFu;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string &text) {
    const char *space = " \t\r\n\f\v";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Parses one line's tokens into line; returns an empty string or what is wrong.
std::string parse_tokens(const std::vector<std::string> &tokens, BatchLine *line) {
    const std::string op = lower(tokens[0]);
    std::string error;
    uint64_t number = 0;
    size_t next = 2;
    if (op == "ir" || op == "rti" || op == "delay") {
        line->op = op == "ir" ? BatchOp::ir : op == "rti" ? BatchOp::rti : BatchOp::delay;
        if (tokens.size() < 2) {
            return op + " needs a number";
        }
        if (!parse_number(tokens[1], MAX_WORD, &number, &error)) {
            return error;
        }
        line->value = static_cast<unsigned long>(number);
    } else if (op == "dr") {
        line->op = BatchOp::dr;
        if (tokens.size() < 2) {
            return "dr needs a length";
        }
        if (!parse_number(tokens[1], MAX_SCAN_LENGTH, &number, &error)) {
            return "length: " + error;
        }
        if (number == 0) {
            return "a data scan needs at least 1 bit";
        }
        line->length = static_cast<unsigned long>(number);
        if (tokens.size() > 2 && lower(tokens[2]) != "delay") {
            if (!parse_hex_bits(tokens[2], line->length, &line->data, &error)) {
                return error;
            }
            line->has_data = true;
            next = 3;
        }
    } else {
        return "unknown operation \"" + tokens[0] + "\" (ir, dr, rti or delay)";
    }
    if (next < tokens.size() && (line->op == BatchOp::ir || line->op == BatchOp::dr) &&
        lower(tokens[next]) == "delay") {
        if (next + 1 >= tokens.size()) {
            return "delay needs a number";
        }
        if (!parse_number(tokens[next + 1], MAX_WORD, &number, &error)) {
            return "delay: " + error;
        }
        line->delay = static_cast<unsigned long>(number);
        next += 2;
    }
    if (next < tokens.size()) {
        return "unexpected \"" + tokens[next] + "\"";
    }
    return "";
}

} // namespace

std::vector<BatchLine> parse_batch(std::istream &in, std::vector<std::string> *errors) {
    std::vector<BatchLine> lines;
    std::string raw;
    unsigned number = 0;
    while (std::getline(in, raw)) {
        ++number;
        std::string text = trimmed(raw.substr(0, raw.find('#')));
        if (text.empty()) {
            continue;
        }
        std::istringstream words(text);
        std::vector<std::string> tokens;
        for (std::string token; words >> token;) {
            tokens.push_back(token);
        }
        BatchLine line;
        line.line = number;
        line.text = text;
        std::string error = parse_tokens(tokens, &line);
        if (!error.empty()) {
            errors->push_back("line " + std::to_string(number) + ": " + error);
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace sldtool
