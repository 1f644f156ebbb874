// The hung-server figures of sld_openocd_bench (openocd_hung.cpp).
#ifndef SLD_BENCH_OPENOCD_HUNG_H
#define SLD_BENCH_OPENOCD_HUNG_H

#include <string>

// The child's part: queries with servers good and hung, figures on stdout.
int hung_child(const std::string &good, const std::string &hung);
// Starts a hung server and the child (this program, `self`), then times
// `sldtool list` over both servers; prints a table.
void hung_section(const std::string &self, const std::string &sldtool, const std::string &good);

#endif
