// The Tcl procedures the backend keeps in OpenOCD's shared interpreter,
// and the messages that call them. Locks, leases and the instruction
// bookkeeping of the chain live there, so every client of the server sees
// them, and each message runs atomically.
//
// Only words made by this backend reach the interpreter: numbers as 0x
// hex, sequence numbers, owner tokens and TAP names that passed
// name_is_safe. call_words refuses any other word.
#ifndef SCXOPENOCD_TCL_PROCS_H
#define SCXOPENOCD_TCL_PROCS_H

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace scxopenocd {
namespace detail {

// The version stamped on the procedures and the state they keep. A server
// whose procedures are of another version that was used within a lease is
// left alone.
const char *const PROTOCOL_VERSION = "2";
// The procedures every message calls (see below).
const char *const CALL_PROC = "sldocd2_call";
const char *const SEQUENCE_PROC = "sldocd2_seq";
// A lock lapses this long after the last message of the process holding it.
const unsigned long LEASE_MS = 3000;

// Defines the procedures (again: defining is idempotent), hooks each TAP's
// post-reset event, drops every lock the client held before (its handles
// from an earlier connection are void), and answers the TAP list as
// `call listing` does, or "V version" when another version owns the server.
// A client is one process's connection to one server; its token holds
// the process token.
std::string install_script(const std::string &seq, const std::string &client);

// Whether a word may be written into a script as it is: letters, digits,
// '_', '.' and '-', not starting with '-', at most 20,000 characters.
bool script_word_is_safe(std::string_view word);

// A message "sldocd2_call <seq> <client> <op> <args...>" runs operation op
// for the client (ending every grant whose lease lapsed, then renewing the
// leases of all the client's locks) and answers
// "<seq> [W ]<kind>[ <payload>]" (reply.h). "W" says that somebody waits
// for a lock the client holds.
//
// Operations and their answers (EPOCH: the grant the caller believes it
// holds, or 0 for none):
//   nop                          K
//   listing                      K <scan_chain text>
//   chain OWNER                  K <scan_chain text>, or L (chain lock held by another)
//   lock KEY OWNER [w|t]         K <epoch>: granted (or already OWNER's); L: held by
//                                another, or others wait before OWNER. w queues OWNER
//                                in arrival order; a waiter that stops asking drops
//                                out after a lease. t (default) does not queue.
//   leave KEY OWNER              K: OWNER no longer waits for KEY
//   unlock KEY OWNER [EPOCH]     K released, N not OWNER's (or not that grant)
//   check KEY OWNER [EPOCH]      K usable by OWNER, L held by another, F grant ended
//   ir OWNER EPOCH TAP VALUE     K: irscan TAP VALUE, remembered as TAP's instruction
//   dr OWNER EPOCH TAP BITS VALUE
//                                K <hex>: drscan, after the restoring irscan if
//                                another TAP was irscanned since; U when TAP has
//                                no known instruction
//   dr0 OWNER EPOCH TAP          K: Capture-DR and Update-DR with no shift
//   rti OWNER EPOCH TAP COUNT    K: runtest COUNT
//   release                      K: drops every lock and wait of the client
// The scans and rti scan nothing and answer L when EPOCH is 0 and another
// owner holds the device lock "d.TAP", and F when EPOCH is not 0 and that
// grant of OWNER is no longer current. Lock keys: "chain", and "d.TAP" per
// device.

// "op args...", every word safe; false (and *out unchanged) otherwise.
bool call_words(const char *op, std::initializer_list<std::string_view> args, std::string *out);
// "sldocd2_seq <seq> <client> {held 1} ... {words}": runs the held-back
// calls (each from call_words) and then `words`, renewing the leases once.
// Answers as the last call does, or "[W ]H <answer>" for the first held call
// that did not answer K; the last call is then not run, unless it is an
// unlock. seq and client must be safe words.
std::string sequence_script(const std::string &seq, const std::string &client,
                            const std::vector<std::string> &held, const std::string &words);

} // namespace detail
} // namespace scxopenocd

#endif
