// The inventory as a text tree and as JSON (schema in docs/sldtool.md).
#ifndef SLDTOOL_LIST_OUTPUT_H
#define SLDTOOL_LIST_OUTPUT_H

#include <ostream>

#include "inventory.h"

namespace sldtool {

void write_tree(std::ostream &out, const Inventory &inventory);

// Version of the JSON document's layout; raised when a field changes meaning
// or goes away (new fields may appear without it).
const int LIST_SCHEMA_VERSION = 1;

void write_json(std::ostream &out, const Inventory &inventory);

} // namespace sldtool

#endif
