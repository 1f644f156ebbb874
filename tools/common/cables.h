// The cables (JTAG hardware) as the library lists them, each with the name
// that makes the library act on it: two cables may share a short name, and
// the library takes the first cable that a name fits.
#ifndef SLDTOOL_CABLES_H
#define SLDTOOL_CABLES_H

#include <string>
#include <vector>

namespace sldtool {

struct Cable {
    std::string name;           // short name, as the library lists it
    bool has_full_name = false; // false when the client library gives none
    std::string full_name;
    bool has_persistent_id = false; // false when it could not be had
    unsigned long persistent_id = 0;
    // The short name when the library finds this cable by it, else the full
    // name when it does; empty when the library finds another cable by both.
    std::string library_name;

    // How messages and the scan log name the cable.
    const std::string &label() const { return library_name.empty() ? name : library_name; }
    // "X (full name "X [1]", persistent id 1)" for lists of candidates.
    std::string description() const;
};

// Every cable the library lists, in order; empty when there is no JTAG
// hardware. Throws a ToolError when the list cannot be had.
std::vector<Cable> list_cables();

// The cable named by its short or full name. Throws a ToolError
// (exit_not_found) listing the cables when none or several fit the name,
// or when the library cannot be made to act on the one that fits.
const Cable &find_cable(const std::vector<Cable> &cables, const std::string &name);

} // namespace sldtool

#endif
