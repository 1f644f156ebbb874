// The replies of the procedures that the backend installs in OpenOCD's
// interpreter (tcl_procs.h): "<seq> [W ][H ]<kind>[ <payload>]", where seq echoes
// the message's sequence number. A reply is untrusted text: anything not
// of that form is refused.
#ifndef SCXOPENOCD_REPLY_H
#define SCXOPENOCD_REPLY_H

#include <string>
#include <string_view>

namespace scxopenocd {
namespace detail {

enum class ReplyKind {
    done,                // K [payload]: the operation ran
    locked,              // L: another owner holds the lock; F (fenced set): the
                         // caller's grant ended; nothing ran
    not_held,            // N: an unlock of a lock the owner does not hold
    unknown_instruction, // U: a data scan on a TAP with no known instruction; nothing ran
    failed,              // E text: OpenOCD raised an error (a failed scan, a lost adapter)
    other_version        // V version: procedures of another version own the server
};

struct Reply {
    ReplyKind kind = ReplyKind::failed;
    std::string payload;
    // "<seq> H <kind>[ <payload>]": a held-back call of a sequence answered
    // kind, and the message's own call did not run (tcl_procs.h).
    bool held_failed = false;
    // F: the scan named a grant that is no longer current.
    bool fenced = false;
    // "<seq> W ...": somebody waits for a lock this process holds there.
    bool waiters = false;
};

// Longest error text kept from a reply.
const size_t MAX_ERROR_TEXT = 256;

// Parses text (the reply without its end byte). False when the sequence
// number is not expected_seq or the text is not a reply; *out is then
// unchanged.
bool parse_reply(std::string_view text, std::string_view expected_seq, Reply *out);

} // namespace detail
} // namespace scxopenocd

#endif
