// The scan log as JSON (schema in docs/sldtool.md, "The scan log").
#ifndef SLDTOOL_LOG_JSON_H
#define SLDTOOL_LOG_JSON_H

#include <vector>

#include "json_types.h"
#include "scan_log.h"

namespace sldtool {

Json log_json(const std::vector<LogStep> &steps);

} // namespace sldtool

#endif
