// The scan log in words: device instructions by name, virtual instruction
// scans taken apart into node address and instruction, data scans with
// their length, the bits written and the bits captured, and the tool's
// run-test-idle and delay steps.
#ifndef SLDTOOL_LOG_DECODE_H
#define SLDTOOL_LOG_DECODE_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "scan_log.h"

namespace sldtool {

// Width of the node address field: the bit length of the node count.
unsigned address_width(unsigned node_count);

// A virtual instruction scan taken apart.
struct VirtualIr {
    unsigned ir_width = 0;    // m: the scan length less the address width
    uint64_t instruction = 0; // scan bits 0 .. m-1
    unsigned address = 0;     // scan bits m .. m+n-1; 0 is the hub
};

// Takes apart a data scan made while device instruction 14 was loaded, on
// a hub of node_count nodes. False when it cannot be: no bits written,
// node count unknown, scan no longer than the address, or an instruction
// field wider than 64 bits.
bool split_virtual_ir(const LogEntry &entry, unsigned node_count, VirtualIr *vir);

// "node 1 (address 2), instruction 0x3", or the hub's instruction in words.
std::string describe_virtual_ir(const VirtualIr &vir, unsigned node_count);

// A device instruction in words ("select virtual instruction register"),
// or empty.
std::string instruction_name(unsigned long instruction);

// What a data scan did, given the device instruction loaded before it, or
// empty.
std::string scan_meaning(const LogEntry &entry, unsigned long instruction, unsigned node_count);

// Writes the whole log, one line per record or per run of equal records.
void write_decoded_log(std::ostream &out, const std::vector<LogStep> &steps);

} // namespace sldtool

#endif
