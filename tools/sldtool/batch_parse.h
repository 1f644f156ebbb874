// Batch files: one scan or auxiliary operation per line.
//
//   ir VALUE [delay N]         virtual IR scan, the capture printed
//   dr LENGTH [HEX] [delay N]  virtual DR scan (nothing written without
//                              HEX), the captured bits printed
//   rti COUNT                  run-test-idle
//   delay AMOUNT               delay of the device
//
// Keywords in any case; "#" starts a comment; blank lines are skipped.
// Numbers as on the command line; HEX is always hexadecimal.
#ifndef SLDTOOL_BATCH_PARSE_H
#define SLDTOOL_BATCH_PARSE_H

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace sldtool {

enum class BatchOp { ir, dr, rti, delay };

struct BatchLine {
    unsigned line = 0; // line number in the file, from 1
    std::string text;  // the line as written, without comment
    BatchOp op = BatchOp::ir;
    unsigned long value = 0;  // ir: instruction; rti: count; delay: amount
    unsigned long length = 0; // dr: bits
    bool has_data = false;    // dr: bits to write given
    std::vector<uint8_t> data;
    unsigned long delay = 0; // ir, dr: delay after the scan
};

// Parses a whole batch. Every malformed line adds "line N: what is wrong"
// to errors; the lines are good only when errors stays empty.
std::vector<BatchLine> parse_batch(std::istream &in, std::vector<std::string> *errors);

} // namespace sldtool

#endif
