// The pin-level front of the simulated JTAG world, for tools that drive a
// chain as a bit-banging JTAG adapter does (sldsim serves it over the
// network). It reaches the same devices, hubs and nodes as the scx_
// functions; a scan made either way captures the same bits.
//
// Every device has an IEEE 1149.1 TAP controller: all 16 states, TMS and
// TDI sampled on the rising edge of TCK, captures and shifts on the rising
// edge, updates and TDO changes on the falling edge. TDO presents bit 0 of
// the register being shifted, and reads 1 (high impedance) outside
// Shift-DR and Shift-IR. Five rising edges with TMS high reach
// Test-Logic-Reset from any state.
//
// - Chain order: TDI -> the cable's last device -> ... -> device 0 -> TDO.
//   Device 0 (position 0, the library's "@1") is nearest TDO: its IDCODE is
//   the first 32 bits out after a reset. A chain with no devices passes
//   TDI to TDO.
// - Capture-IR loads the device's ir_capture (the two low bits are 01);
//   Update-IR loads the instruction, the same one scx_access_ir loads.
// - Capture-DR, Shift-DR and Update-DR work on the register the instruction
//   selects (scxsim_semantics.h): BYPASS, IDCODE, the hub's VIR (14) and
//   VDR (12) with the nodes behind it.
// - Test-Logic-Reset (entered by TMS or held by TRST) loads the IDCODE
//   instruction. It does not touch the hub: its selection, its information
//   readout position and the nodes' instructions stay as they are.
// - SRST is accepted and does nothing. Devices start in Test-Logic-Reset;
//   a device inserted later starts there too, whatever the others are in.
// - The pin front ignores the scx_ locks, and the scx_ front does not see
//   the pin-level TAP states: drive a cable through one front at a time.
//
// All functions are thread-safe; each call takes the world mutex once.
#ifndef SCXSIM_PINS_H
#define SCXSIM_PINS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scxsim {

// One step of a pin-level client.
struct PinStep {
    enum class Kind : uint8_t {
        drive,  // set TCK, TMS and TDI
        sample, // read TDO
        reset   // set TRST and SRST (true: asserted)
    };
    Kind kind;
    bool tck_or_trst; // drive: TCK; reset: TRST
    bool tms_or_srst; // drive: TMS; reset: SRST
    bool tdi;         // drive only

    static PinStep drive(bool tck, bool tms, bool tdi) { return {Kind::drive, tck, tms, tdi}; }
    static PinStep sample() { return {Kind::sample, false, false, false}; }
    static PinStep reset(bool trst, bool srst) { return {Kind::reset, trst, srst, false}; }
};

// Runs the steps in order on the chain of the cable with this persistent
// id and appends the TDO level (0 or 1) of every sample step to *tdo. Pin
// levels and TAP states persist between calls. False, with nothing done,
// when there is no such cable or it is unavailable (flag 0x1).
bool drive_pins(unsigned long persistent_id, const PinStep *steps, size_t count, std::vector<uint8_t> *tdo);

// The TAP state of a device ("Shift-DR", "Run-Test/Idle", ...; the names
// of the standard); empty when there is no such device.
std::string tap_state(unsigned long persistent_id, unsigned long position);

// The width of the data register the device's instruction selects now (1
// for BYPASS, 32 for IDCODE, the hub's VIR or the selected VDR); 0 when
// there is no such device. What a JTAG client must shift to fill it.
unsigned long selected_dr_width(unsigned long persistent_id, unsigned long position);

} // namespace scxsim

#endif
