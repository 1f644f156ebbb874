// The TAP that sldtap presents, driven by the client's requests straight from
// each chunk: the bits of a node scan's Shift-DR, nearly all of a debug
// session's bytes, take a fast path; every other request goes through the
// state machine.
#include "tap_session.h"

#include <algorithm>
#include <cstdio>

#include "printable.h"
#include "requests.h"
#include "scxopenocd.h"

namespace sldtap {

using bitbang::Outcome;

namespace {

// Reads held within one data scan before the client is cut off: four for
// each bit of the longest scan (a client that reads without clocking).
const size_t MAX_HELD_READS = 4 * MAX_DR_BITS;
// Request bytes run by one call of the Shift-DR fast path.
const size_t SHIFT_WINDOW = 4096;

bool bit_of(const std::vector<uint8_t> &bytes, size_t index) {
    return (bytes[index / 8] >> (index % 8)) & 1;
}

} // namespace

TapSession::TapSession(NodeLink &link, unsigned ir_width, uint32_t idcode)
    : link_(link), ir_width_(ir_width), idcode_(idcode) {
    reset();
}

void TapSession::reset() {
    state_ = State::test_logic_reset;
    node_selected_ = false;
    tdo_ = HELD_HIGH;
}

bool TapSession::begin(std::string *message) {
    reset();
    tck_ = trst_ = false;
    held_.clear();
    dr_bits_ = 0;
    scan_open_ = false;
    idle_clocks_ = 0;
    failed_ = false;
    return link_.connect(message);
}

void TapSession::end() {
    if (!failed_ && scan_open_)
        std::fprintf(stderr,
                     "sldtap: the client went away in the middle of a data scan; the scan was not sent to "
                     "the node\n");
    if (!failed_ && !flush_idle())
        std::fprintf(stderr, "sldtap: %s\n", failure_.c_str());
    held_.clear();
    link_.disconnect();
}

bool TapSession::fail(const std::string &message) {
    failed_ = true;
    failure_ = sldtool::printable(message, true);
    return false;
}

Outcome TapSession::feed(const char *data, size_t n, std::string *replies) {
    using bitbang::Request;
    out_ = replies;
    bool ok = true;
    Request stop = Request::light; // quit or bad_byte when a byte ended the chunk
    size_t i = 0;
    while (ok && i < n) {
        if (state_ == State::shift_dr && node_selected_ && !trst_) {
            i = shift_node_bits(data, i, n);
            if (i == n)
                break;
        }
        const char c = data[i++];
        const Request r = bitbang::request_of(c);
        if (r == Request::drive) {
            const unsigned v = unsigned(c - '0');
            const bool tck = v & 4;
            if (!trst_ && tck != tck_) {
                if (tck)
                    ok = rising_edge(v & 2, v & 1);
                else
                    falling_edge();
            }
            tck_ = tck;
        } else if (r == Request::sample) {
            ok = read();
        } else if (r == Request::reset) {
            trst_ = unsigned(c - 'r') & 2;
            if (trst_) {
                if (!held_.empty())
                    ok = fail("TRST cut a data scan of the node short; its reads cannot be answered, closing "
                              "the connection");
                else if (flush_idle())
                    reset();
                else
                    ok = false;
            }
        } else if (r != Request::light) {
            stop = r;
            break;
        }
    }
    out_ = nullptr;
    if (!ok)
        return {Outcome::Kind::close_now, failure_ + "; closing the connection"};
    if (stop == Request::quit)
        return {Outcome::Kind::close_replied, ""};
    if (stop == Request::bad_byte) {
        failed_ = true;
        return {Outcome::Kind::close_replied, bitbang::bad_byte_message(static_cast<unsigned char>(data[i - 1]))};
    }
    return {};
}

size_t TapSession::shift_node_bits(const char *data, size_t i, size_t n) {
    // Within a node scan's Shift-DR with TMS low, a falling edge shows the
    // captured bit of the next index, a rising edge takes TDI, a read is
    // held: what falling_edge(), rising_edge() and read() do there, on
    // local copies, with room made for one bit and one read per byte. Any
    // other request, and a bit or read over the limits, is left to them;
    // so are the bytes after a window, which bounds the room made.
    n = std::min(n, i + SHIFT_WINDOW);
    unsigned long bits = dr_bits_;
    bool tck = tck_;
    int32_t tdo = tdo_;
    size_t held = held_.size();
    held_.resize(held + (n - i));
    dr_in_.resize((std::min(bits + (n - i), MAX_DR_BITS) + 7) / 8);
    int32_t *const reads = held_.data(); // raw: the byte stores below alias anything
    uint8_t *const in = dr_in_.data();
    for (; i < n; ++i) {
        const char c = data[i];
        if (c == 'R') {
            if (held == 0 && tdo < 0)
                out_->push_back(tdo == HELD_LOW ? '0' : '1');
            else if (held < MAX_HELD_READS)
                reads[held++] = tdo;
            else
                break;
        } else if ((c & ~5) == '0') { // '0', '1', '4', '5': TMS low
            const bool rise = c & 4;
            if (rise && !tck) {
                if (bits == MAX_DR_BITS)
                    break;
                in[bits / 8] = uint8_t(in[bits / 8] | unsigned(c & 1) << (bits % 8));
                ++bits;
            } else if (!rise && tck) {
                tdo = static_cast<int32_t>(bits);
            }
            tck = rise;
        } else if (c != 'B' && c != 'b') {
            break;
        }
    }
    dr_bits_ = bits;
    tck_ = tck;
    tdo_ = tdo;
    held_.resize(held);
    dr_in_.resize((bits + 7) / 8);
    return i;
}

void TapSession::shift_in(bool tdi) {
    if (dr_bits_ % 8 == 0)
        dr_in_.push_back(0);
    dr_in_[dr_bits_ / 8] = uint8_t(dr_in_[dr_bits_ / 8] | unsigned(tdi) << (dr_bits_ % 8));
    ++dr_bits_;
}

int TapSession::idle_limit_ms() const {
    return held_.empty() ? 0 : STALL_MS;
}

Outcome TapSession::idle() {
    fail("the client waits for " + std::to_string(held_.size()) +
         " reads in the middle of a data scan of " + std::to_string(dr_bits_) +
         "+ bits; a data scan of the node is held whole until the client leaves Shift-DR, so it must "
         "not wait for its reads before (OpenOCD waits after 255 reads: scans longer than that cannot be "
         "served)");
    return {Outcome::Kind::close_now, failure_ + "; closing the connection"};
}

bool TapSession::read() {
    if (held_.empty() && tdo_ < 0) {
        out_->push_back(tdo_ == HELD_LOW ? '0' : '1');
        return true;
    }
    if (held_.size() >= MAX_HELD_READS)
        return fail("the client sent more than " + std::to_string(MAX_HELD_READS) +
                    " reads within one data scan of the node");
    held_.push_back(tdo_);
    return true;
}

void TapSession::falling_edge() {
    if (state_ == State::shift_ir)
        tdo_ = ir_.first() ? HELD_HIGH : HELD_LOW;
    else if (state_ == State::shift_dr && node_selected_)
        tdo_ = static_cast<int32_t>(dr_bits_);
    else if (state_ == State::shift_dr)
        tdo_ = idcode_register_.first() ? HELD_HIGH : HELD_LOW;
    else
        tdo_ = HELD_HIGH; // not driven: the line floats high
}

bool TapSession::rising_edge(bool tms, bool tdi) {
    const State from = state_;
    const State to = scxsim::detail::tap_next(from, tms);
    if (from == State::shift_ir) {
        ir_.shift(tdi);
    } else if (from == State::shift_dr && node_selected_) {
        if (dr_bits_ >= MAX_DR_BITS)
            return fail("a data scan longer than " + std::to_string(MAX_DR_BITS) +
                        " bits cannot be held for the node");
        shift_in(tdi);
    } else if (from == State::shift_dr) {
        idcode_register_.shift(tdi);
    } else if (from == State::run_test_idle && to == State::run_test_idle && node_selected_) {
        ++idle_clocks_;
    }
    state_ = to;
    return enter(from, to);
}

bool TapSession::enter(State from, State to) {
    if (from == State::run_test_idle && to != State::run_test_idle && !flush_idle())
        return false;
    switch (to) {
    case State::test_logic_reset:
        if (from != to)
            reset();
        return true;
    case State::capture_ir: {
        std::vector<uint8_t> capture((ir_width_ + 7) / 8, 0);
        capture[0] = 1; // 0...01, as IEEE 1149.1 asks of every IR capture
        ir_.load(capture.data(), ir_width_);
        return true;
    }
    case State::update_ir: {
        std::vector<uint8_t> bits((ir_width_ + 7) / 8, 0);
        ir_.store(bits.data());
        unsigned long instruction = 0;
        for (unsigned i = 0; i < ir_width_; ++i) {
            if (!bit_of(bits, i))
                continue;
            if (i >= MAX_INSTRUCTION_BITS)
                return fail("the client loaded an instruction with bit " + std::to_string(i) +
                            " set; the library carries node instructions of at most " +
                            std::to_string(MAX_INSTRUCTION_BITS) + " bits");
            instruction |= 1UL << i;
        }
        node_selected_ = true;
        std::string message;
        return link_.load_ir(instruction, &message) || fail(message);
    }
    case State::capture_dr:
        if (node_selected_) {
            dr_in_.clear();
            dr_bits_ = 0;
            scan_open_ = true;
            ++debugger_dr_scans_;
        } else {
            const uint8_t id[4] = {uint8_t(idcode_), uint8_t(idcode_ >> 8), uint8_t(idcode_ >> 16),
                                   uint8_t(idcode_ >> 24)};
            idcode_register_.load(id, 32);
        }
        return true;
    case State::exit1_dr:
        if ((from == State::shift_dr || from == State::capture_dr) && node_selected_)
            return finish_node_scan();
        return true;
    case State::shift_dr:
        if (from == State::exit2_dr && node_selected_)
            return fail("a data scan resumed from Pause-DR cannot be served: each data scan of the node "
                        "runs whole when the client leaves Shift-DR");
        return true;
    default:
        return true;
    }
}

bool TapSession::finish_node_scan() {
    scan_open_ = false;
    if (dr_bits_ == 0)
        return true;
    std::string message;
    if (!link_.scan_dr(dr_in_, dr_bits_, &captured_, &message))
        return fail(message);
    size_t at = out_->size();
    out_->resize(at + held_.size());
    for (int32_t h : held_)
        (*out_)[at++] = h >= 0 ? (bit_of(captured_, size_t(h)) ? '1' : '0') : h == HELD_LOW ? '0' : '1';
    held_.clear();
    // Until the falling edge TDO still shows the scan's last bit.
    if (tdo_ >= 0)
        tdo_ = bit_of(captured_, size_t(tdo_)) ? HELD_HIGH : HELD_LOW;
    return true;
}

bool TapSession::flush_idle() {
    if (idle_clocks_ == 0)
        return true;
    const unsigned long clocks = idle_clocks_;
    idle_clocks_ = 0;
    std::string message;
    return link_.idle(clocks, &message) || fail(message);
}

std::string TapSession::stats() const {
    const LinkCounts &c = link_.counts();
    return "debugger_dr_scans=" + std::to_string(debugger_dr_scans_) + " node_ir_scans=" + std::to_string(c.ir_scans) +
           " node_dr_scans=" + std::to_string(c.dr_scans) + " rti_calls=" + std::to_string(c.rti_calls) +
           " rti_clocks=" + std::to_string(c.rti_clocks) +
           " round_trips=" + std::to_string(scxopenocd::round_trips());
}

} // namespace sldtap
