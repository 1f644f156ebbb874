// sldtap's TAP as one client's remote_bitbang session: the client's TMS
// drives the TAP state machine; instruction scans are served here, bit by
// bit, by an m-bit instruction register; after a reset the data register
// is the TAP's own IDCODE register until the first instruction is loaded;
// then every data scan is held until the client leaves Shift-DR and runs
// as one data scan of the node, whose captured bits answer the held reads.
#ifndef SLDTAP_TAP_SESSION_H
#define SLDTAP_TAP_SESSION_H

#include <cstdint>
#include <string>
#include <vector>

#include "node_link.h"
#include "numbers.h"
#include "session.h"
#include "tap.h"

namespace sldtap {

// Longest data scan held for the node, in bits: the tools' longest scan.
const unsigned long MAX_DR_BITS = sldtool::MAX_SCAN_LENGTH;
// Silence, in milliseconds, after which a client that left reads of an
// unfinished data scan outstanding is taken to wait for them.
const int STALL_MS = 1000;
// Widest instruction the library carries (sld_node_access_ir masks to 32 bits).
const unsigned MAX_INSTRUCTION_BITS = 32;

class TapSession : public bitbang::Session {
  public:
    TapSession(NodeLink &link, unsigned ir_width, uint32_t idcode);

    bool begin(std::string *message) override;
    bitbang::Outcome feed(const char *data, size_t n, std::string *replies) override;
    int idle_limit_ms() const override;
    bitbang::Outcome idle() override;
    void end() override;
    std::string stats() const override;


  private:
    using State = scxsim::detail::TapState;

    // A read whose answer is not known yet: bit `index` of the node scan
    // under way, or a level (HELD_LOW, HELD_HIGH) queued behind such reads.
    static const int32_t HELD_LOW = -1, HELD_HIGH = -2;

    void reset();
    // Runs requests data[i, n) while the TAP stays in a node scan's
    // Shift-DR; returns where it stopped.
    size_t shift_node_bits(const char *data, size_t i, size_t n);
    // Appends one TDI bit to the node scan under way.
    void shift_in(bool tdi);
    bool rising_edge(bool tms, bool tdi);
    void falling_edge();
    // Answers a read now, or holds it behind a node scan. False: close.
    bool read();
    // Entering a state: what the TAP does there. False: close.
    bool enter(State from, State to);
    bool finish_node_scan();
    bool flush_idle();
    bool fail(const std::string &message);

    NodeLink &link_;
    unsigned ir_width_;
    uint32_t idcode_;

    State state_ = State::test_logic_reset;
    bool tck_ = false, trst_ = false;
    bool node_selected_ = false; // an instruction was loaded since the last reset
    scxsim::detail::ShiftStage ir_, idcode_register_;
    // TDO since the last falling edge: a level (HELD_LOW/HIGH as '0'/'1')
    // or, in a node scan's Shift-DR, the index of the captured bit shown.
    int32_t tdo_ = HELD_HIGH;
    // The node scan under way: the bits shifted in and the reads held.
    std::vector<uint8_t> dr_in_;
    unsigned long dr_bits_ = 0;
    std::vector<int32_t> held_;
    bool scan_open_ = false; // a node scan begun and not yet run
    unsigned long idle_clocks_ = 0;
    std::vector<uint8_t> captured_;
    std::string *out_ = nullptr; // replies of the chunk being fed
    bool failed_ = false; // a message was printed for this connection
    std::string failure_;
    uint64_t debugger_dr_scans_ = 0; // data scans begun after an instruction
};

} // namespace sldtap

#endif
