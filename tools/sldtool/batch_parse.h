// Batch files: one operation per line.
//
//   ir VALUE [delay N]         virtual IR scan, the capture printed
//   dr LENGTH [DATA] [delay N] virtual DR scan (nothing written without
//                              DATA), the captured bits printed
//   rti COUNT                  COUNT TCK clocks in Run-Test/Idle
//   delay N                    N microseconds of delay
//
// Keywords in any case; "#" starts a comment; blank lines are skipped.
// Numbers and DATA as on the command line (numbers.h).
#ifndef SLDTOOL_BATCH_PARSE_H
#define SLDTOOL_BATCH_PARSE_H

#include <istream>
#include <string>
#include <vector>

#include "operations.h"

namespace sldtool {

// Most bytes a batch may have.
const size_t MAX_BATCH_BYTES = size_t(256) << 20;

enum class LineKind { blank, good, bad };

// Parses one line as written (comment and blanks included) into op, or
// stores what is wrong with it.
LineKind parse_batch_line(const std::string &line, Operation *op, std::string *error);

// A whole batch, checked once and then parsed again line by line as a run
// reaches it: only its text is held, not a parsed line for every line.
class BatchText {
  public:
    // Reads all of in and checks every line: each malformed one adds
    // "line N: what is wrong" to errors. False, with *failure set, when in
    // cannot be read or holds more than MAX_BATCH_BYTES.
    bool read(std::istream &in, std::vector<std::string> *errors, std::string *failure);
    // The good lines, blank ones left out.
    size_t size() const { return lines_.size(); }
    Operation operation(size_t index) const;

  private:
    struct Line {
        uint32_t number;
        uint32_t length;
        size_t offset;
    };
    std::string text_;
    std::vector<Line> lines_;
};

// The good lines of a checked batch, in order.
class BatchSource : public OperationSource {
  public:
    explicit BatchSource(const BatchText &batch) : batch_(batch) {}
    bool next(Operation *op) override;

  private:
    const BatchText &batch_;
    size_t next_ = 0;
};

} // namespace sldtool

#endif
