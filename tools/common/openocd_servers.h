// --openocd: the OpenOCD servers the tool uses instead of the simulated
// board, and which of them could not be reached.
#ifndef SLDTOOL_OPENOCD_SERVERS_H
#define SLDTOOL_OPENOCD_SERVERS_H

#include <ostream>
#include <string>
#include <vector>

namespace sldtool {

// Chooses the servers (each HOST:PORT) before the first library call;
// throws a usage ToolError when the JTAG library refuses them.
void use_openocd_servers(const std::vector<std::string> &servers);
// One line on out per OpenOCD server the last hardware query could not
// reach, with the reason; only the first call of a run prints. Whether any
// server was unreachable: the run then did not see all it was asked to.
bool report_unreachable_servers(std::ostream &out);

} // namespace sldtool

#endif
