// What the simulator keeps about the calls made to it: counts, armed
// faults, per-function delays and the call trace.
#ifndef SCXSIM_RECORD_H
#define SCXSIM_RECORD_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "scxsim.h"

namespace scxsim {
namespace detail {

const size_t FN_COUNT = size_t(Fn::flush) + 1;
inline size_t fn_index(Fn fn) {
    return size_t(fn);
}

// One traced call, stored compactly; the written and read bits live in the
// recorder's byte pool.
struct TraceEntry {
    Fn fn = Fn::any;
    unsigned long cable = 0;
    unsigned nargs = 0;
    unsigned long args[4] = {0, 0, 0, 0};
    bool has_text = false;
    bool text_null = false;
    std::string text;
    bool has_bits = false; // access_dr: written and read are meaningful
    size_t written_at = 0, written_len = 0;
    size_t read_at = 0, read_len = 0;
    SCX_ERROR result = 0;
};

// Everything but the delays is guarded by the world mutex.
class Recorder {
  public:
    Recorder();

    // Counts a call of fn and tells whether an armed fault answers it.
    bool take_call(Fn fn, SCX_ERROR *code);
    void fail_call(Fn fn, unsigned long k, SCX_ERROR code);
    void fail_every(Fn fn, SCX_ERROR code);
    void clear_faults();
    unsigned long count(Fn fn) const { return counts_[fn_index(fn)]; }
    void reset_counts();

    // Microseconds a call of fn takes at least; read without the mutex.
    unsigned long delay(Fn fn) const;
    void set_delay(Fn fn, unsigned long us) { delays_[fn_index(fn)].store(us); }
    void clear_delays();

    bool tracing = true;
    // The traced calls, oldest first: the last `limit` of them (every one
    // when limit is 0). Their bits sit in pool; an entry's offsets count
    // from the first byte ever pooled, so that dropping old entries and
    // their bytes leaves the others' offsets valid.
    std::deque<TraceEntry> entries;
    std::vector<uint8_t> pool; // a call under way appends at the end
    // Stores a finished call; its offsets are still positions in pool.
    void add(TraceEntry e);
    void set_limit(unsigned long calls);
    void clear_trace();
    Call to_call(const TraceEntry &e) const;

  private:
    struct Armed {
        Fn fn;
        unsigned long remaining;
        SCX_ERROR code;
    };
    unsigned long counts_[FN_COUNT];
    std::vector<Armed> armed_;
    bool every_set_[FN_COUNT];
    SCX_ERROR every_[FN_COUNT];
    std::atomic<unsigned long> delays_[FN_COUNT];
    unsigned long limit_ = default_trace_limit;
    size_t pool_base_ = 0; // offset of pool[0]
    size_t dead_end_ = 0;  // offset up to which no kept entry has bytes

    void drop_oldest();
};

} // namespace detail
} // namespace scxsim

#endif
