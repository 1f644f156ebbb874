#include "reply.h"

namespace scxopenocd {
namespace detail {

namespace {

bool kind_of(char letter, ReplyKind *kind, bool *payload_allowed) {
    switch (letter) {
    case 'K':
        *kind = ReplyKind::done;
        *payload_allowed = true;
        return true;
    case 'L':
    case 'F':
        *kind = ReplyKind::locked;
        break;
    case 'N':
        *kind = ReplyKind::not_held;
        break;
    case 'U':
        *kind = ReplyKind::unknown_instruction;
        break;
    case 'E':
        *kind = ReplyKind::failed;
        *payload_allowed = true;
        return true;
    case 'V':
        *kind = ReplyKind::other_version;
        *payload_allowed = true;
        return true;
    default:
        return false;
    }
    *payload_allowed = false;
    return true;
}

} // namespace

bool parse_reply(std::string_view text, std::string_view expected_seq, Reply *out) {
    if (expected_seq.empty() || text.size() < expected_seq.size() + 2 ||
        text.substr(0, expected_seq.size()) != expected_seq || text[expected_seq.size()] != ' ') {
        return false;
    }
    std::string_view rest = text.substr(expected_seq.size() + 1);
    const bool waiters = rest.size() > 2 && rest[0] == 'W' && rest[1] == ' ';
    if (waiters) {
        rest.remove_prefix(2);
    }
    const bool held_failed = rest.size() > 2 && rest[0] == 'H' && rest[1] == ' ';
    if (held_failed) {
        rest.remove_prefix(2);
    }
    if (rest.empty()) {
        return false;
    }
    ReplyKind kind;
    bool payload_allowed = false;
    if (!kind_of(rest[0], &kind, &payload_allowed) || (held_failed && kind == ReplyKind::done)) {
        return false;
    }
    std::string_view payload;
    if (rest.size() > 1) {
        if (!payload_allowed || rest[1] != ' ') {
            return false;
        }
        payload = rest.substr(2);
    }
    if (kind != ReplyKind::done && payload.size() > MAX_ERROR_TEXT) {
        payload = payload.substr(0, MAX_ERROR_TEXT);
    }
    out->kind = kind;
    out->payload.assign(payload.data(), payload.size());
    out->held_failed = held_failed;
    out->fenced = rest[0] == 'F';
    out->waiters = waiters;
    return true;
}

} // namespace detail
} // namespace scxopenocd
