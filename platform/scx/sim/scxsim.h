// Control of the simulated JTAG world behind libscxsim.so, for tests and
// tools. The scx_ functions themselves are declared in src/scx/scx.h; this
// header adds what a real JTAG server would never offer: loading boards,
// hot-plug, fault injection, call traces, and a foreign client's locks.
//
// All functions are thread-safe. The world is created on first use: from
// the board file named by SCX_SIM_BOARD when that variable is set, else
// from the built-in default board.
#ifndef SCXSIM_H
#define SCXSIM_H

#include <cstdint>
#include <string>
#include <vector>

#include "scx/scx.h"
#include "scxsim_semantics.h"

namespace scxsim {

// ---- Boards -------------------------------------------------------------
// A board is JSON (schema in platform/scx/sim/README.md):
// { "cables": [ { "persistent_id": 1, "name": "sim-1", "full_name": "...",
//     "flags": 0, "devices": [ { "idcode": "0x020A10DD", "ir_length": 10,
//     "name": "...", "hub": { "version": 1, "ir_width": 8, ... ,
//     "nodes": [ { "model": "memory", ... } ] } } ] } ] }

// Replaces the whole world. On failure returns false, stores one message
// naming the source, the JSON path and what is wrong, and keeps the world
// it had.
bool load_board_file(const std::string &path, std::string *error);
bool load_board_string(const std::string &json, std::string *error);
// The built-in default board, as JSON text.
std::string default_board_json();
// Back to a freshly loaded default board (or SCX_SIM_BOARD's), with no
// faults, delays, foreign locks or trace; open handles become unknown.
void reset();

// ---- Hot-plug -------------------------------------------------------------
// Cables are named by persistent id; device positions count from 0.
// Each returns false when the cable or position does not exist or the
// JSON is bad (message in *error when given).
bool add_cable(const std::string &cable_json, std::string *error = nullptr);
bool remove_cable(unsigned long persistent_id);
// Gives the cable a new chain handle, as a server does after a reconnect.
bool renew_chain_handle(unsigned long persistent_id);
SCX_CHAIN *chain_handle(unsigned long persistent_id); // null if none
// The short name (word 2 of a hardware record, print_hardware_name with
// long_name false); an empty string leaves the cable without one.
bool set_cable_name(unsigned long persistent_id, const std::string &name);
// The full name, which find_hardware looks for; empty: none.
bool set_cable_full_name(unsigned long persistent_id, const std::string &full_name);
bool set_cable_flags(unsigned long persistent_id, unsigned long flags);
bool insert_device(unsigned long persistent_id, unsigned long position, const std::string &device_json,
                   std::string *error = nullptr);
bool replace_device(unsigned long persistent_id, unsigned long position, const std::string &device_json,
                    std::string *error = nullptr);
bool remove_device(unsigned long persistent_id, unsigned long position);
bool set_idcode(unsigned long persistent_id, unsigned long position, unsigned long idcode);

// ---- Fault injection and timing --------------------------------------------
enum class Fn {
    any, // every scx_ function
    get_hardware,
    find_hardware,
    print_hardware_name,
    lock_chain,
    unlock_chain,
    scan_device_chain,
    read_device_chain,
    open_device,
    close_device,
    lock,
    unlock,
    access_ir,
    access_dr,
    run_test_idle,
    delay,
    flush
};
const char *fn_name(Fn fn); // "access_dr", ...

// The k-th call (1 = the next one; 0 counts as 1) of fn from now on
// answers code instead of doing its work: outputs are not written, and a
// code of 0 answers success without doing anything. Fn::any counts every
// call. Several faults may be armed at once; each fires once, and when two
// fire on one call the one armed first gives the answer. An armed k-th
// call fault takes precedence over fail_every.
void fail_call(Fn fn, unsigned long k, SCX_ERROR code);
// Every call of fn (every call at all for Fn::any) answers code until
// cleared.
void fail_every(Fn fn, SCX_ERROR code);
void clear_faults();
// Every call of fn takes at least this long (0 clears); the wait comes
// before the call takes the world mutex, so other calls go on meanwhile.
// A delay set for Fn::any applies to every call; the larger one counts.
void set_call_delay(Fn fn, unsigned long microseconds);
// Number of scx_ calls made since the last reset_call_count() (or reset()),
// faulted ones included.
unsigned long call_count(Fn fn = Fn::any);
void reset_call_count();
// Caps every lock wait (scx_lock, scx_lock_chain) at this many
// milliseconds, "for ever" included, so that tests of time-outs run fast.
// no_wait_limit, the state after reset(), lifts the cap.
const unsigned long no_wait_limit = ~0UL;
void set_lock_wait_limit(unsigned long milliseconds);

// ---- Foreign client ---------------------------------------------------------
// Holds a chain lock or a device lock as another JTAG client would, so the
// library's locks wait and time out. Device positions count from 0.
// Locking fails (false) when the cable or position does not exist or
// anyone holds the lock; it never waits. Unlocking fails when the foreign
// client does not hold that lock. The locks go with reset() and load.
bool foreign_lock_chain(unsigned long persistent_id);
bool foreign_unlock_chain(unsigned long persistent_id);
bool foreign_lock_device(unsigned long persistent_id, unsigned long position);
bool foreign_unlock_device(unsigned long persistent_id, unsigned long position);

// ---- Call trace ------------------------------------------------------------
struct Call {
    Fn fn;
    unsigned long cable;             // persistent id of the cable concerned, 0 if none
    std::vector<unsigned long> args; // numeric arguments, as in text below
    std::string text_arg;            // find_hardware's name, open_device's application
    std::vector<uint8_t> written;    // access_dr: copy of the bits written
    std::vector<uint8_t> read;       // access_dr: copy of the bits read back
    SCX_ERROR result;
    bool text_arg_null = false; // the name or application pointer was null (shown as 0)
    // Canonical form, handles left out, pointers shown as 0 (null) or 1:
    //   get_hardware(count_in,records,timeout)=r
    //   find_hardware("full name",timeout)=r
    //   print_hardware_name(buffer,size,long_name,length)=r
    //   lock_chain(timeout)=r  unlock_chain()=r  scan_device_chain()=r
    //   read_device_chain(count_in,records,flag)=r
    //   open_device(position,claim_count,"application")=r  close_device()=r
    //   lock(timeout,style)=r  unlock()=r
    //   access_ir(instruction,captured,flags)=r
    //   access_dr(length,write_length,read_length)[hex of written bytes]=r
    //     hex is lower case, byte 0 first, "[]" when nothing was written
    //   run_test_idle(count)=r  delay(amount)=r  flush()=r
    std::string text() const;
};

// Tracing is on from the start. The trace is a ring: it keeps the last
// default_trace_limit calls (older ones are dropped), so that a long run
// does not grow without end; a test that needs every call sets the limit
// to trace_everything. reset() restores the default limit.
const unsigned long default_trace_limit = 65536;
const unsigned long trace_everything = 0;
void set_trace_limit(unsigned long calls);
void set_tracing(bool on);
void clear_trace();
std::vector<Call> trace();
std::vector<std::string> trace_text(); // trace(), each as text()
// Only the calls of one function, or on one cable.
std::vector<std::string> trace_text(Fn fn);
std::vector<std::string> trace_text_of_cable(unsigned long persistent_id);

// ---- Node models -------------------------------------------------------------
// Every node has a virtual instruction register of the hub's width m and a
// data register per instruction. Unknown instructions select a 1-bit
// bypass register. A node's instruction-capture value is its current
// instruction. Nodes are named by cable, device position and node index.
//
// "memory" (depth words of width bits; defaults 256 x 32):
//   1 ADDRESS  address register, bit length of depth-1 (at least 1);
//              captures the address, update loads it
//   2 WRITE    width bits; captures mem[address], update stores the bits
//              written at mem[address] and increments the address
//   3 READ     width bits; captures mem[address], update increments the
//              address (bits written are ignored)
// "stream" (a console: host-to-device and device-to-host FIFOs, depth 64):
//   1 DATA     9 bits. Written: bit 8 set means bits 0-7 are a byte for the
//              device. Captured: bit 8 set means bits 0-7 are the next byte
//              from the device (taken from its FIFO).
//   2 STATUS   16 bits, captured: bits 0-7 bytes waiting for the host
//              (at most 255), bits 8-15 free room towards the device
// "probe" (probe_width and source_width bits; defaults 32 and 32):
//   1 PROBE    probe_width bits; captures the probe vector
//   2 SOURCE   source_width bits; captures the source vector, update
//              stores the bits written as the new source vector
// "shift" (registers: instruction -> width; default {"1": 8}):
//   each listed instruction selects its own register of that width;
//   captures its content, update stores the bits written
// "riscv" (a RISC-V debug transport, debug module and RV32I hart with
// RAM at base, size bytes; defaults 0x80000000 and 64 KiB; riscv_dtm.h):
//   0x01 IDCODE  32 bits; 0x10 dtmcs 32 bits; 0x11 dmi 41 bits. The hart
//   runs 64 instructions after each data scan of the node and one per
//   Run-Test/Idle clock of the device (README.md, "The riscv node")

// What the device side of a node sees. Bits in scan-buffer order.
bool memory_peek(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                 uint64_t *word);
bool memory_poke(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                 uint64_t word);
// Bytes the device sends to the host (queued in the device-to-host FIFO).
bool stream_send(unsigned long cable, unsigned long position, unsigned node,
                 const std::vector<uint8_t> &bytes);
// Bytes the host has sent, taken from the host-to-device FIFO.
std::vector<uint8_t> stream_receive(unsigned long cable, unsigned long position, unsigned node);
bool probe_set(unsigned long cable, unsigned long position, unsigned node, const std::vector<uint8_t> &bits);
std::vector<uint8_t> source_get(unsigned long cable, unsigned long position, unsigned node);
// The node's current virtual instruction (what the last update loaded).
bool node_instruction(unsigned long cable, unsigned long position, unsigned node, unsigned long *instruction);

// ---- Looking inside --------------------------------------------------------
// The persistent ids of the cables, in board order.
std::vector<unsigned long> cable_ids();
// Number of device handles open on the cable (all cables when 0).
unsigned long open_handle_count(unsigned long persistent_id = 0);
// Whether any client holds the lock of that device.
bool device_locked(unsigned long persistent_id, unsigned long position);

} // namespace scxsim

#endif
