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
const char *const PROTOCOL_VERSION = "1";
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

// A message "sldocd1_call <seq> <client> <op> <args...>" runs operation op
// for the client (renewing the leases of all its locks first) and answers
// "<seq> <kind>[ <payload>]" (reply.h).
//
// Operations and their answers:
//   nop                          K
//   listing                      K <scan_chain text>
//   chain OWNER                  K <scan_chain text>, or L (chain lock held by another)
//   lock KEY OWNER               K taken (or already OWNER's), L held by another
//   unlock KEY OWNER             K released, N not OWNER's
//   check KEY OWNER              K free for OWNER, L held by another
//   ir OWNER TAP VALUE           K: irscan TAP VALUE, remembered as TAP's instruction
//   dr OWNER TAP BITS VALUE      K <hex>: drscan, after the restoring irscan if
//                                another TAP was irscanned since; U when TAP has
//                                no known instruction
//   dr0 OWNER TAP                K: Capture-DR and Update-DR with no shift
//   rti OWNER TAP COUNT          K: runtest COUNT
//   release                      K: drops every lock of the client
// The scans and rti answer L, scanning nothing, when another owner holds
// the device lock "d.TAP". Lock keys: "chain", and "d.TAP" per device.

// "op args...", every word safe; false (and *out unchanged) otherwise.
bool call_words(const char *op, std::initializer_list<std::string_view> args, std::string *out);
// "sldocd1_seq <seq> <client> {held 1} ... {words}": runs the held-back
// calls (each from call_words) and then `words`, renewing the leases once.
// Answers as the last call does, or "H <answer>" for the first held call
// that did not answer K; the last call is then not run, unless it is an
// unlock. seq and client must be safe words.
std::string sequence_script(const std::string &seq, const std::string &client,
                            const std::vector<std::string> &held, const std::string &words);

} // namespace detail
} // namespace scxopenocd

#endif
