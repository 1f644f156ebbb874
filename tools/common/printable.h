// Text from files, the command line or the hardware as it may be shown on a
// terminal: no raw control characters (a NUL would cut a message short, an
// escape sequence would move the cursor) and no unbounded echo of input.
#ifndef SLDTOOL_PRINTABLE_H
#define SLDTOOL_PRINTABLE_H

#include <string>

namespace sldtool {

// The text with every control character and DEL written as \xHH; newlines
// stay when keep_newlines is set.
std::string printable(const std::string &text, bool keep_newlines = false);

// The text in double quotes for a message: printable, and cut after 64
// characters ("..." follows).
std::string quoted(const std::string &text);

} // namespace sldtool

#endif
