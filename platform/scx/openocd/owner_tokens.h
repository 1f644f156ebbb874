// Who owns a lock in the shared interpreter: a random token of this
// process, plus a counter per thread (chain locks) or per device handle
// (device locks). Never text a caller gave.
#ifndef SCXOPENOCD_OWNER_TOKENS_H
#define SCXOPENOCD_OWNER_TOKENS_H

#include <string>

namespace scxopenocd {
namespace detail {

// "p" and 16 hex digits, fixed for the life of the process.
const std::string &process_token();
// process_token() + "-t" + a number of the calling thread.
const std::string &thread_owner();
// process_token() + "-h" + a number never given out before.
std::string new_handle_owner();

} // namespace detail
} // namespace scxopenocd

#endif
