// How the simulated JTAG world answers. This header declares nothing: it
// is the reference for what each scx_ call does and which code it gives.
#ifndef SCXSIM_SEMANTICS_H
#define SCXSIM_SEMANTICS_H

// ---- Handles -----------------------------------------------------------------
// SCX_CHAIN* and SCX_OPEN* are tokens, never dereferenced. A chain handle
// belongs to a persistent id: it survives reset() and board loads, and
// changes only through renew_chain_handle() or remove_cable() followed by
// add_cable(). A device handle stays with the device it opened: inserting
// a device before it does not move it.
//
// ---- Answers -------------------------------------------------------------------
// Checked in this order; the first that applies answers:
//   an armed fault         its code, nothing done (see fail_call)
//   87  the chain handle is null, unknown or retired (cable removed, handle
//       renewed); a device handle is null, unknown, closed, or from before a
//       reset() or load, or its cable was removed
//   46  a bad argument: null count, record, handle-out or application
//       pointer; claims null with claim_count > 0; buffer null with size > 0;
//       flags, write_offset or read_offset not 0; write_length or
//       read_length above length; a length > 0 with a null buffer; a pack
//       style other than 1 and 2; an instruction that does not fit the IR
//   39  the device of a device handle was removed or replaced (set_idcode
//       keeps the device, so its handles stay good)
//   88  the cable has flag 0x1 (unavailable): lock_chain, scan_device_chain,
//       read_device_chain, open_device, lock and the scans answer 88
//   34  lock_chain / lock: the caller holds the lock already (the same
//       thread for a chain, the same handle for a device), or it is still
//       held elsewhere when the time-out runs out. Chain calls (scan, read,
//       open) while another thread or the foreign client holds the chain
//       lock, and scans, run_test_idle, delay and flush on a device whose
//       lock another handle or the foreign client holds, answer 34 at once.
//   35  unlock_chain by a thread that does not hold the chain lock; unlock
//       by a handle that does not hold the device lock
//   38  open_device after the chain changed (device inserted, removed or
//       replaced, IDCODE changed, chain handle renewed) until the next
//       scan_device_chain of that chain
//   37  open_device at a position with no device
//   81  open_device with 1024 handles open; any call that runs out of memory
//   86  find_hardware: no cable has that full name
//   33  print_hardware_name: the cable has no name of the asked kind
//   47  a size query: get_hardware or read_device_chain with null records or
//       a count below the number of records, print_hardware_name with a null
//       buffer or a size below the name's length. The count or length is
//       set (also when it is 0); nothing else is written.
//   36  scan_device_chain when the chain changed since the previous scan
//       (which the scan clears); a scan of an unchanged chain answers 0
//   2   get_hardware with room for more records than there are (hardware
//       went away after the count query): all records are written and the
//       count is set to their number
//   0   done
// close_device releases a known handle (and the device lock it holds)
// whatever it answers: 87 or 39 as above, else 0.
//
// ---- Names and records --------------------------------------------------------
// get_hardware: records in board order: chain handle, persistent id, the
// short name (null when none), flags; the other words 0. find_hardware
// compares the full name exactly. print_hardware_name writes the name's
// characters and a terminating NUL only when size exceeds the length.
// read_device_chain writes idcode and, when flag is true, the name (null
// when the device has none; always null with flag false); the rest 0.
// Name pointers stay valid for the life of the process. The time-outs of
// get_hardware and find_hardware are accepted and not used.
//
// ---- Locks -------------------------------------------------------------------------
// Time-outs are milliseconds; 0x7FFFFFFF and above wait for ever (see
// set_lock_wait_limit). The chain lock belongs to a thread; the device lock
// to a handle, exclusive across every handle of that device and the
// foreign client. Both pack styles lock the same way. Closing a handle,
// removing its device or cable, renewing the chain handle, reset() and
// loads release what they concern and wake the waiters, which then answer
// as above. Chain and device locks are independent of each other. A scan
// without the device lock runs when nobody else holds it.
//
// ---- Scans ---------------------------------------------------------------------------
// Bit j of a scan buffer is bit j % 8 of byte j / 8; bit 0 is shifted first.
// access_ir loads the instruction (at once, for every handle of the device)
// and stores the IR capture value (board field ir_capture, default 1) in
// *captured when it is given. The instruction selects the data register:
//   14 on a device with a hub   the hub's virtual instruction register
//   12 on a device with a hub   the virtual data register of the selection
//   idcode_instruction          IDCODE, 32 bits (default instruction 6, or 1
//                               when 6 does not fit; loaded at start)
//   anything else               BYPASS, 1 bit, captures 0
// access_dr captures the register, shifts `length` bits and updates it: the
// register passes its captured bits first and then the bits shifted in,
// delayed by its width. The first write_length bits shifted in come from
// write_bits, the rest are 0. read_bits receives the first read_length bits
// shifted out in (read_length + 7) / 8 bytes, the unused bits of the last
// byte 0, and nothing beyond. A length of 0 still captures and updates.
// write_bits and read_bits may be the same buffer. run_test_idle, delay and
// flush do nothing beyond their checks: scans take effect at once and no
// time passes, except that run_test_idle's clocks (like pin-level clocks in
// Run-Test/Idle) are the only time a riscv node's hart has besides the
// node's own data scans.
//
// ---- Hubs ------------------------------------------------------------------------------
// The hub word is ir_width (m) | manufacturer << 8 | node_count << 19 |
// version << 27; a node word is instance | manufacturer << 8 |
// node_id << 19 | version << 27. n, the address width, is the bit length of
// node_count (at least 1). The virtual instruction register (VIR) has
// m + n bits: bits 0..m-1 an instruction value v, bits m..m+n-1 an address
// A. A VIR update selects A (0 is the hub itself) and then:
//   A = 0, v = 0      starts the information readout
//   A = 0, v = 1      begins a broadcast
//   A = 0, v = 2      ends it: every node instruction written since the
//                     begin is loaded now, together (the last value per node)
//   A = 0, v = 8K + 3 force capture of the node at address K (version 1 and
//                     up): the next VIR capture presents that node's current
//                     instruction; 0 when no node has address K
//   A = 0, other v    no effect beyond selecting the hub
//   A = 1..nodes      loads v into node A - 1 (held back during a broadcast)
//   A beyond them     selects nothing: the VDR is a 1-bit bypass
// A VIR capture presents the selected address in bits m..m+n-1 and, in bits
// 0..m-1: on a version-0 hub the selected node's current instruction (0
// with the hub or nothing selected); on other versions the force-captured
// value once, after a force capture, else 0.
// The virtual data register (VDR) is the selected node's register for its
// current instruction. With the hub selected after hub instruction 0, it is
// the 4-bit readout register: each capture presents the next nibble of the
// hub word and then of each node word in node order, least significant
// nibble first, and starts again after the last. With the hub selected
// after any other hub instruction, it is a 1-bit bypass. At start the hub
// is selected with instruction 0, the readout at its first nibble. The
// discovery sequence (IR 14, 64 zero bits, IR 12, nibble scans) therefore
// reads the hub word and every node word.
//
// ---- Node models -------------------------------------------------------------------
// As listed in scxsim.h under "Node models", plus: every DR scan updates,
// so a read of memory WRITE without write bits stores 0; the ADDRESS update
// takes the address modulo depth; a DATA capture takes the byte from the
// device-to-host FIFO whether or not the host reads it; a byte sent to a
// full host-to-device FIFO is dropped; a node starts with instruction 0 and
// all registers 0. The stream FIFO depth is the node's "depth" (default 64).

#endif
