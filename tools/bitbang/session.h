// What a remote_bitbang server runs for its one client: a session gets the
// client's requests chunk by chunk and answers its reads.
//
// What every session may assume:
// - One thread calls it, and never two calls at once.
// - begin() and end() pair up, one pair per accepted client; feed() and
//   idle() come only between them. A refused begin() gets no end().
// - Replies are sent in the order they are appended, all of them unless
//   an outcome says close_now; the server stops reading while a client
//   leaves a megabyte of them unread.
// - A chunk is at most 64 KiB, cut anywhere: a request never spans two.
// What every session must give:
// - One reply byte, '0' or '1', per read request, in order, possibly in a
//   later feed() than the read's (a held answer).
// - No exception out of any call; every message printable text.
// - end() leaves nothing held for the next client (locks, held reads).
#ifndef BITBANG_SESSION_H
#define BITBANG_SESSION_H

#include <cstddef>
#include <string>

namespace bitbang {

// How a chunk of requests left the connection.
struct Outcome {
    enum class Kind {
        open,          // go on reading
        close_replied, // close once the replies queued so far are sent
        close_now      // close at once; queued replies are dropped
    };
    Kind kind = Kind::open;
    std::string message; // for standard error when not empty
};

class Session {
  public:
    virtual ~Session() = default;
    // A client connected. False, with the reason in *message: it is
    // refused and the server waits for the next.
    virtual bool begin(std::string *message) = 0;
    // Runs requests data[0, n) and appends one reply byte per read, in
    // order, to *replies.
    virtual Outcome feed(const char *data, size_t n, std::string *replies) = 0;
    // Milliseconds the client may stay silent before idle() is called; 0
    // for no limit.
    virtual int idle_limit_ms() const { return 0; }
    // The client sent nothing for idle_limit_ms() while the session waited.
    virtual Outcome idle() { return {}; }
    // The connection ended, whatever the reason.
    virtual void end() = 0;
    // Extra fields for the stats line ("name=value ..."), or empty.
    virtual std::string stats() const { return std::string(); }
};

} // namespace bitbang

#endif
