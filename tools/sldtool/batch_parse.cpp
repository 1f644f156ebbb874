#include "batch_parse.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "numbers.h"
#include "printable.h"

namespace sldtool {

namespace {

const uint64_t MAX_WORD = 0xFFFFFFFFu;
const char *const BLANKS = " \t\r\n\f\v";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
}

// Parses one line's tokens into op; returns an empty string or what is wrong.
std::string parse_tokens(const std::vector<std::string> &tokens, Operation *op) {
    const std::string keyword = lower(tokens[0]);
    std::string error;
    uint64_t number = 0;
    size_t next = 2;
    if (keyword == "ir" || keyword == "rti" || keyword == "delay") {
        op->kind = keyword == "ir" ? OpKind::ir : keyword == "rti" ? OpKind::rti : OpKind::delay;
        if (tokens.size() < 2) {
            return keyword + " needs a number";
        }
        if (!parse_number(tokens[1], MAX_WORD, &number, &error)) {
            return error;
        }
        op->value = static_cast<unsigned long>(number);
    } else if (keyword == "dr") {
        op->kind = OpKind::dr;
        if (tokens.size() < 2) {
            return "dr needs a length";
        }
        if (!parse_number(tokens[1], MAX_SCAN_LENGTH, &number, &error)) {
            return "length: " + error;
        }
        if (number == 0) {
            return "a data scan needs at least 1 bit";
        }
        op->length = static_cast<unsigned long>(number);
        if (tokens.size() > 2 && lower(tokens[2]) != "delay") {
            if (!parse_data(tokens[2], op->length, &op->data, &error)) {
                return error;
            }
            op->has_data = true;
            next = 3;
        }
    } else {
        return "unknown operation " + quoted(tokens[0]) + " (ir, dr, rti or delay)";
    }
    if (next < tokens.size() && is_scan(*op) && lower(tokens[next]) == "delay") {
        if (next + 1 >= tokens.size()) {
            return "delay needs a number";
        }
        if (!parse_number(tokens[next + 1], MAX_WORD, &number, &error)) {
            return "delay: " + error;
        }
        op->delay = static_cast<unsigned long>(number);
        next += 2;
    }
    if (next < tokens.size()) {
        return "unexpected " + quoted(tokens[next]);
    }
    return "";
}

} // namespace

LineKind parse_batch_line(const std::string &line, Operation *op, std::string *error) {
    std::string text = trimmed(line.substr(0, line.find('#')));
    if (text.empty()) {
        return LineKind::blank;
    }
    std::vector<std::string> tokens;
    size_t at = 0;
    while ((at = text.find_first_not_of(BLANKS, at)) != std::string::npos) {
        const size_t end = text.find_first_of(BLANKS, at);
        tokens.push_back(text.substr(at, end - at));
        at = end;
    }
    *op = Operation();
    *error = parse_tokens(tokens, op);
    op->text = std::move(text);
    return error->empty() ? LineKind::good : LineKind::bad;
}

bool BatchText::read(std::istream &in, std::vector<std::string> *errors, std::string *failure) {
    text_.clear();
    lines_.clear();
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (text_.size() + static_cast<size_t>(in.gcount()) > MAX_BATCH_BYTES) {
            *failure = "it is larger than " + std::to_string(MAX_BATCH_BYTES >> 20) + " MiB";
            return false;
        }
        text_.append(buffer, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        *failure = "it cannot be read";
        return false;
    }
    uint32_t number = 0;
    Operation op;
    std::string error;
    for (size_t offset = 0; offset < text_.size();) {
        size_t end = text_.find('\n', offset);
        if (end == std::string::npos) {
            end = text_.size();
        }
        ++number;
        const LineKind kind = parse_batch_line(text_.substr(offset, end - offset), &op, &error);
        if (kind == LineKind::bad) {
            errors->push_back("line " + std::to_string(number) + ": " + error);
        } else if (kind == LineKind::good) {
            lines_.push_back(Line{number, static_cast<uint32_t>(end - offset), offset});
        }
        offset = end + 1;
    }
    return true;
}

Operation BatchText::operation(size_t index) const {
    const Line &line = lines_[index];
    Operation op;
    std::string error;
    parse_batch_line(text_.substr(line.offset, line.length), &op, &error);
    op.line = line.number;
    return op;
}

bool BatchSource::next(Operation *op) {
    if (next_ >= batch_.size()) {
        return false;
    }
    *op = batch_.operation(next_++);
    return true;
}

} // namespace sldtool
