// The scan log as a value change dump (VCD) waveform for a waveform viewer.
//
// Signals, in module "sld_scan_log":
//   tck, tdi     one rising edge of tck per bit of a data scan, tdi the bit
//                written (x when the scan wrote nothing)
//   tdo          the bit captured, where the tool knows it (x elsewhere)
//   shift_dr     high while a data scan shifts
//   instruction  the device instruction last loaded (x until the first)
//   dr_length    length of the current data scan
//   vir_address  node address of a virtual instruction scan (x otherwise)
//   vir_value    instruction field of a virtual instruction scan
//   record       number of the scan-log record shown, counted from 1
//   step         number of the tool's step the record belongs to
//   rti          TCK clocks of a run-test-idle step while it is shown (its
//                clocks are not drawn), else 0
//   delay        microseconds of a delay step while it is shown, else 0
// Time counts half periods of tck (one unit each), not real time: the log
// does not record when a scan ran.
#ifndef SLDTOOL_VCD_WRITER_H
#define SLDTOOL_VCD_WRITER_H

#include <ostream>
#include <vector>

#include "scan_log.h"

namespace sldtool {

void write_vcd(std::ostream &out, const std::vector<LogStep> &steps);

} // namespace sldtool

#endif
