// The inventory as a text tree and as JSON (schema in docs/sldtool.md).
#ifndef SLDTOOL_LIST_OUTPUT_H
#define SLDTOOL_LIST_OUTPUT_H

#include <ostream>
#include <vector>

#include "inventory.h"
#include "scan_log.h"

namespace sldtool {

void write_tree(std::ostream &out, const Inventory &inventory);

// log: the scan log for the document's "scan_log", or null for none.
void write_json(std::ostream &out, const Inventory &inventory, const std::vector<LogStep> *log = nullptr);

} // namespace sldtool

#endif
