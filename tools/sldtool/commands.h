// The operations that the ir and dr commands stand for.
#ifndef SLDTOOL_COMMANDS_H
#define SLDTOOL_COMMANDS_H

#include <string>
#include <vector>

#include "operations.h"

namespace sldtool {

// sldtool ir VALUE
std::vector<Operation> ir_command(const std::string &value);

// One word of sldtool dr, in command-line order: an --ir VALUE, or a
// LENGTH or DATA word.
struct DrWord {
    bool ir = false;
    std::string text;
};

// sldtool dr [--ir VALUE] LENGTH [DATA] [[--ir VALUE] LENGTH [DATA]]...:
// each --ir loads an instruction, each LENGTH starts a data scan, and the
// word after a LENGTH is its DATA ("-" for none) unless an --ir comes
// first. Throws a ToolError (exit_usage) for a bad word.
std::vector<Operation> dr_command(const std::vector<DrWord> &words);

} // namespace sldtool

#endif
