// How the OpenOCD backend answers. This header declares nothing: it is the
// reference for what each scx_ call does over OpenOCD servers and which
// code it gives. The codes are the simulated world's
// (../sim/scxsim_semantics.h) for the same situations; 40 is this
// backend's own, and 81 and 88 gain the meanings below.
#ifndef SCXOPENOCD_SEMANTICS_H
#define SCXOPENOCD_SEMANTICS_H

// ---- Hardware ------------------------------------------------------------------
// One hardware record per server named (SCX_OPENOCD or scx::use_openocd), in
// that order, for the servers that are connected: the chain handle, the
// persistent id (FNV-1a over "openocd@HOST:PORT", never 0, the same in
// every process), the short name "openocd@HOST:PORT", flags 0. The full
// name, which find_hardware looks for, is "OpenOCD server HOST:PORT".
// HOST:PORT is the text as named: "localhost:6666" and "127.0.0.1:6666"
// are two servers.
//
// A hardware query (get_hardware, find_hardware) keeps a live connection
// without a message (it only looks whether the server closed it). For a
// server that is not connected, a query with a time-out above 0 starts a
// connection attempt: connect within min(time-out, 2000) ms, then one
// message that installs the procedures and reads the TAP list (its reply
// waited for up to 10 s more). Attempts run on threads of their own, every
// server's at once; the query waits for them at most min(time-out, 2000) ms
// in all. An attempt still running then goes on by itself, and the
// connection it makes is taken by the next query with a time-out above 0.
// After an attempt failed, the server is not tried again for 5000 ms
// (scxopenocd::RETRY_MILLISECONDS); the first query after that starts a
// retry and does not wait for it. So a server that accepts and never
// answers costs the first query of a process at most 2000 ms, and the
// queries after it nothing; the library's mutex, held across each query,
// is held no longer. With time-out 0 (the library's fetch after its count
// query) no attempt starts and no connection is taken, so the count and
// the fetch list the same servers. A server that is not connected is left
// out and named by scxopenocd::unreachable_servers(), with the reason
// ("no answer yet (still trying)" while a first attempt runs, the last
// failure with " (trying again)" during a retry) and the time its last
// attempt began.
//
// A new connection gives the server a new chain handle. The old chain
// handle and every device handle of the old connection then answer 87,
// the locks this process held there are released, and the chain counts as
// changed (36 at the next scan, 38 for an open before it), except at the
// first connection of the process.
//
// ---- Answers -------------------------------------------------------------------
// Checked in this order; the first that applies answers:
//   87  the chain handle is null, unknown or retired (the server was
//       reconnected); a device handle is null, unknown, closed, or of an
//       earlier connection
//   46  a bad argument, as in the simulated world, and: a DR length above
//       65,536 bits; a run_test_idle count above 0xFFFFFFFF
//   39  the device of a device handle is gone: a chain query found another
//       TAP (or none) at its position. A TAP whose IDCODE changed is the
//       same TAP: its handles stay good.
//   88  the server is not connected: a connection was lost and no hardware
//       query has reconnected it yet. Also a scan that OpenOCD answered with
//       an error ("jtag execute failed" when its adapter is gone, ...).
//   81  the connection was lost during this call: a socket error, the server
//       closed it, no reply by the call's time-out, a reply longer than
//       64 KiB, bytes after the reply, or a reply that is not from this
//       backend's procedures. The connection is closed; later calls answer
//       88 until a hardware query reconnects. Also: a reply of the right
//       form that cannot be used (a DR answer of the wrong length or not
//       hex, a TAP list that is not scan_chain's; the connection is kept),
//       and open_device with 1024 handles open.
//   34  lock_chain / lock: the caller holds the lock already (the same
//       thread for a chain, the same handle for a device), or another owner
//       (thread, handle, process, host) holds it, or others queued for it
//       earlier, when the time-out runs out. scan, read and open of a chain
//       whose lock another owner holds, and scans, run_test_idle, delay and
//       flush of a device whose lock another owner holds, answer 34 at once
//       and scan nothing. Fenced: a scan, run_test_idle, delay or flush of
//       a handle that holds its device lock, once its grant has ended at
//       the server (see Locks), answers 34 and scans nothing, and so does
//       every later one until the handle's unlock.
//   35  unlock_chain by a thread that does not hold the chain lock; unlock
//       by a handle that does not hold the device lock, or whose grant
//       ended at the server (its lease lapsed, whether or not another owner
//       took the lock since, or another client deleted or took the entry)
//   38  open_device after the TAP list changed (a TAP added, gone or
//       renamed, an IDCODE, IR length or IR capture changed, the server
//       reconnected) until the next scan_device_chain of that chain
//   37  open_device at a position with no TAP, or with a TAP that cannot be
//       addressed: its name is not 1-64 letters, digits, '_', '.' and '-'
//       starting with a letter, digit or '_' (such names are never written
//       into a script; the device is listed without a name), or OpenOCD
//       does not know its IR length (0 or above 64)
//   40  access_dr on a TAP with no known instruction: nobody loaded one
//       through this backend since OpenOCD started. OpenOCD aborts on a
//       drscan that does not follow an irscan of the same TAP, so nothing is
//       sent; load the instruction with access_ir first.
//   86  find_hardware: no server has that full name, or it cannot be reached
//   47  a size query, as in the simulated world
//   36  scan_device_chain when the TAP list changed since the previous scan
//   2   get_hardware with room for more records than there are servers
//   0   done
// close_device releases a known handle (and the device lock it holds or
// keeps) whatever it answers: 87 or 39 as above, else 0. unlock and
// unlock_chain while the server is not connected answer 0 (the lock is
// gone there too), unless held-back calls were lost with the connection
// (81, see Held-back scans).
// print_hardware_name never answers 33: every server has both names.
//
// ---- Time-outs -------------------------------------------------------------------
// Every message waits at most 10 s for its reply; a DR scan 1 ms more per
// 64 bits, run_test_idle 1 ms more per 100 clocks. Lock time-outs are
// milliseconds; 0x7FFFFFFF and above wait for ever.
//
// ---- Chains ------------------------------------------------------------------------
// The chain is OpenOCD's enabled TAPs in scan_chain order: TAP 0, nearest
// TDO, is position 0 (the library's "@1"). Records: the IDCODE OpenOCD found
// (0 for a TAP without one), the TAP name as device name (null when the name
// is not safe, see 37). scan_device_chain, open_device and read_device_chain
// each read the TAP list in one message (read_device_chain uses the list of
// the last query instead while the calling thread holds the chain lock)
// and compare it with the list this process saw last.
//
// ---- Locks ----------------------------------------------------------------------------
// Locks live in OpenOCD's interpreter and exclude every thread, process
// and host that uses the server through this backend: the chain lock of a
// server belongs to a thread, a device lock (one per TAP) to a device
// handle. Both pack styles lock the same way. Chain and device locks are
// independent of each other. A scan without the device lock runs when
// nobody else holds it.
//
// Grants and leases. Every grant of a lock has an epoch, a number the
// server only ever counts up. Every message of a process renews the lease
// of all its grants on that server; a grant whose process sent nothing for
// 3000 ms (scxopenocd::LEASE_MILLISECONDS) has ended, whether or not
// anybody else took the lock since. While a process holds or keeps a lock,
// a keep-alive thread sends a message every 1000 ms, so only a dead,
// stopped or cut-off process loses its grants.
//
// Fencing. Every scan, run_test_idle and flush of a handle that holds its
// device lock names the grant's owner and epoch, and the server runs it
// only while that very grant is current. After its grant ended, the
// handle's calls answer 34 without scanning (the first one because the
// server refused it, the later ones at once) and its unlock answers 35.
// The next lock takes a new grant. A handle's call never answers 0 for a
// scan the server ran after the handle's grant ended. Write-only scans and
// instructions held back (below) answer 0 before they reach the server;
// they are only held back while a message of the process was answered
// within the last 1500 ms (half a lease), so a process that stood still
// past its lease sends its next scan at once and hears 34. Against another
// client that deletes or takes the lock entry, a held-back call may answer
// 0 and then be refused: its refusal is then reported as below.
//
// Waiting. A lock call sends one lock message at a time, pausing 1 to 10
// ms between them with no connection held. A caller with a time-out above
// 0 is queued at the server: a free lock is granted to the first caller
// still queued, in arrival order, and a try with time-out 0 gets a lock
// only when nobody is queued. A caller whose time-out runs out leaves the
// queue with one more message; one that stops asking (a dead or stopped
// process) drops out a lease after its last try. With N callers each
// holding the lock for T, no wait is much longer than N * T plus the
// pause and a round trip.
//
// Kept grants. Every answer of the server says whether somebody is queued
// for a lock the process holds there. A device unlock whose process heard
// within the last 20 ms (KEEP_WAIT) that nobody waits keeps the grant at
// the server: it answers 0 without a message (after sending any held-back
// scans of the handle, and answering for them), and the handle's next
// lock within 20 ms takes the kept grant up again without a message when
// the news that nobody waits is still that fresh. Otherwise, and for every
// unlock while somebody waits, the unlock is sent at once. A kept grant
// is given up by a background thread 20 to 30 ms after the unlock, or by
// the handle's next lock when it cannot be taken up (one message more,
// then that lock asks like any other, behind those queued); so a
// caller that queues for a kept lock gets it within about 50 ms and a
// round trip of the holder's last unlock. A lock call answers 0 only when
// the grant is held at the server (taken, or kept and fresh). Chain locks
// are never kept.
//
// ---- Scans ---------------------------------------------------------------------------
// Bit j of a scan buffer is bit j % 8 of byte j / 8; bit 0 is shifted first.
// Numbers are always written as 0x hex.
//   access_ir      irscan TAP VALUE: the other TAPs get BYPASS. irscan
//                  answers nothing, so *captured gets the IR capture value
//                  OpenOCD lists for the TAP (scan_chain's IrCap).
//   access_dr      drscan TAP LENGTH VALUE; the first write_length bits from
//                  write_bits, the rest 0; read_bits as in the simulated
//                  world. Length 0 walks Capture-DR, Exit1-DR, Update-DR
//                  with no shift (pathmove).
//   run_test_idle  runtest COUNT
//   delay          `amount` microseconds, waited in the calling process
//                  (OpenOCD's sleep would stop every client of the server)
//   flush          sends the handle's held-back scans (below); without the
//                  device lock it checks the lock. Every other call has run
//                  in OpenOCD when it answers.
// Each scan is one message that checks the device lock and scans. The
// interpreter keeps each TAP's last instruction loaded through this backend
// and the TAP OpenOCD irscanned last; a data scan of a TAP that is not the
// last irscanned one (another device's scan, another client's irscan, or a
// JTAG reset came between) sends the restoring irscan of its instruction
// in the same message. To see other clients' irscans the backend wraps
// OpenOCD's irscan command; to see resets it adds a line to each TAP's
// post-reset event handler.
//
// ---- Held-back scans -----------------------------------------------------------------
// A write-only DR scan (read_length 0, length above 0) and an access_ir of
// a handle that holds its device lock answer 0 at once and are held back
// (access_ir's capture is OpenOCD's listed IrCap either way): they go
// first in the handle's next message (a reading scan, run_test_idle,
// flush, delay, unlock, close), or by themselves 10 ms later, at most 64
// calls and 65,536 bits at a time. A message of another handle or thread
// sends them first, on their own. They are not held back while no message
// of the process was answered within the last 1500 ms (see Fencing); they
// are then sent at once like any other call. They run in order, each with
// its grant check and restore, and stop at the first one that does not
// succeed. A held-back call is never dropped without an answer:
//   - sent with a call of the handle: that call answers the held-back
//     call's code (34 when its grant had ended; 81 when the connection was
//     lost meanwhile) and is not done itself, except unlock, which is done
//     all the same (and answers the code, or 35 when the grant had ended);
//   - sent by themselves (time, another handle's message) and refused or
//     failed: the handle's next scan, run_test_idle, delay, flush or unlock
//     answers the code, once (34 fenced, 88 an OpenOCD error; an unlock of
//     a fenced handle answers 35);
//   - never sent or never answered because the connection was lost (the
//     server died or closed it, a socket error, a reply time-out): the
//     handle's next such call answers 81, once, and so does its unlock
//     even though the server is no longer connected; later calls answer
//     as usual (88 not connected, 87 after a reconnect);
//   - sent with close_device: not reported.
// An unlock answers 0 only when every held-back call of the handle ran.
#endif
