// The boundary between the SCX core and the JTAG servers behind it. The
// core defines the scx_ functions and forwards each call, unchanged, to the
// one backend chosen for the process (see scxcore.h); a backend is a
// JTAG world of its own (the simulated one, an OpenOCD server) that answers
// the calls as scx/scx.h declares them.
//
// What every backend may assume:
// - Calls come from any thread, concurrently, with no lock held by the
//   core: a backend guards its own state.
// - Handles (SCX_CHAIN*, SCX_OPEN*) are the backend's own tokens; the core
//   never looks into them, and a caller may pass null, stale or made-up
//   ones, which the backend answers with 87 (never by dereferencing them).
// - An exception leaving a member is caught by the core and answered as
//   81 (out of resources); a backend should not rely on that.
// - The backend lives until the process exits: it is never destroyed, so
//   calls made while the process exits still find it.
//
// What every backend must give:
// - The answer codes of scxsim_semantics.h for the situations it can
//   produce (87 unknown handle, 46 bad argument, 34/35 lock state, 38 open
//   before a rescan, 37/39 no or gone device, 47 size query, 2 short fetch,
//   36 changed chain, 88 hardware unavailable, 81 out of resources), so
//   that the library's rules work unchanged over every backend. A backend
//   adds codes only for situations no other backend has, and documents them
//   beside those.
// - Bounded waits: no member blocks longer than its time-out (lock calls)
//   or the backend's documented limit for one operation.
// - Bit order of scan buffers: bit j is bit j % 8 of byte j / 8, bit 0 is
//   shifted first; nothing is read or written past (length + 7) / 8 bytes.
#ifndef SCX_CORE_BACKEND_H
#define SCX_CORE_BACKEND_H

#include "scx/scx.h"

namespace scx {

class Backend {
  public:
    virtual ~Backend() = default;

    // A short lower-case name for messages: "sim", "openocd".
    virtual const char *name() const = 0;
    // Why the backend could not start as the environment asked (a board
    // file refused, a server not reached), or null when it is up. The text
    // lives as long as the backend.
    virtual const char *startup_failure() { return nullptr; }

    // ---- Hardware -------------------------------------------------------
    // Fills up to *count records, one per JTAG hardware (cable, server),
    // in a stable order; a null array or a short count answers 47 with
    // *count set to the number needed. Name pointers stay valid for the
    // life of the process.
    virtual SCX_ERROR get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout) = 0;
    // The record of the hardware whose full name is exactly full_name; 86
    // when there is none.
    virtual SCX_ERROR find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout) = 0;
    // The short (long_name false) or full name of a chain's hardware; 33
    // when it has none of that kind; 47 with *length set when the buffer
    // is null or too small. A NUL follows only when size exceeds the length.
    virtual SCX_ERROR print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                          unsigned long *length) = 0;

    // ---- Chains ---------------------------------------------------------
    // The chain lock belongs to the calling thread and excludes every other
    // thread and client of the same chain; waits up to timeout
    // milliseconds (34 when it runs out, or when this thread holds it).
    virtual SCX_ERROR lock_chain(SCX_CHAIN *chain, unsigned long timeout) = 0;
    virtual SCX_ERROR unlock_chain(SCX_CHAIN *chain) = 0;
    // 36 once after the chain changed (a device added, gone or with
    // another IDCODE), else 0. Opening a device answers 38 between a change
    // and the next scan.
    virtual SCX_ERROR scan_device_chain(SCX_CHAIN *chain) = 0;
    // One record per device, position 0 (nearest TDO) first: IDCODE, and
    // the device name when flag is true. Size queries as get_hardware.
    virtual SCX_ERROR read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records,
                                        bool flag) = 0;
    // A handle on the device at position (counted from 0); 37 when there
    // is none, 38 after an unscanned change.
    virtual SCX_ERROR open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle,
                                  const SCX_CLAIM *claims, unsigned long claim_count, const char *application) = 0;

    // ---- Devices ----------------------------------------------------------
    // Releases the handle and any lock it holds, whatever it answers.
    virtual SCX_ERROR close_device(SCX_OPEN *handle) = 0;
    // The device lock belongs to the handle and excludes every other handle
    // and client of the device; waits up to timeout milliseconds (34 when
    // it runs out or the handle holds it already). unlock answers 35 when
    // the handle does not hold it.
    virtual SCX_ERROR lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style) = 0;
    virtual SCX_ERROR unlock(SCX_OPEN *handle) = 0;
    // Loads the device's instruction register (the other devices of the
    // chain in BYPASS); *captured, when given, gets the IR capture value.
    // Scans, run_test_idle, delay and flush answer 34 at once while another
    // handle or client holds the device lock.
    virtual SCX_ERROR access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured,
                                unsigned long flags) = 0;
    // Shifts `length` bits through the data register the device's
    // instruction selects: the first write_length bits from write_bits, the
    // rest 0; read_bits gets the first read_length bits shifted out. The
    // two buffers may be one.
    virtual SCX_ERROR access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags,
                                unsigned long write_offset, unsigned long write_length,
                                const unsigned char *write_bits, unsigned long read_offset,
                                unsigned long read_length, unsigned char *read_bits) = 0;
    // `count` TCK clocks in Run-Test/Idle.
    virtual SCX_ERROR run_test_idle(SCX_OPEN *handle, unsigned long count) = 0;
    // Waits `amount` microseconds between the scans before and after it.
    virtual SCX_ERROR delay(SCX_OPEN *handle, unsigned long amount) = 0;
    // Everything asked of the device so far has reached it when this answers.
    virtual SCX_ERROR flush(SCX_OPEN *handle) = 0;
};

} // namespace scx

#endif
