#include "printable.h"

#include <cstdio>

namespace sldtool {

namespace {

const size_t LONGEST_QUOTE = 64;

} // namespace

std::string printable(const std::string &text, bool keep_newlines) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte >= 0x20 && byte != 0x7F) || (keep_newlines && c == '\n')) {
            shown += c;
            continue;
        }
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        shown += escape;
    }
    return shown;
}

std::string quoted(const std::string &text) {
    if (text.size() <= LONGEST_QUOTE) {
        return "\"" + printable(text) + "\"";
    }
    return "\"" + printable(text.substr(0, LONGEST_QUOTE)) + "...\"";
}

} // namespace sldtool
