/*
 * scxcore_c.h - the backend choice of libscx.so (scxcore.h) and the
 * servers the OpenOCD backend could not reach (scxopenocd.h) with C
 * linkage, for callers that cannot call C++: scripting languages through
 * their foreign-function interfaces. Not part of the JTAG client boundary.
 *
 * Conventions:
 * - Functions that return int return 1 on success and 0 on failure; the
 *   reason goes into error[0..error_size) when error is not null, always
 *   terminated.
 * - Text results are copied into buffer[0..size), terminated when size is
 *   above the text's length, which is returned: call with size 0 to learn
 *   it.
 * - No C++ exception leaves these functions.
 */
#ifndef SCXCORE_C_H
#define SCXCORE_C_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* "sim", "openocd": the backend of the process, chosen now if need be. */
const char *scx_backend_name(void);

/* Chooses the OpenOCD backend over the servers of a HOST:PORT[,HOST:PORT...]
   list, as scx::use_openocd: fails for a malformed list, or once a backend
   has been chosen. */
int scx_use_openocd(const char *servers, char *error, size_t error_size);

/* The servers the last hardware query could not reach, one line each:
   HOST:PORT, a tab, the reason, a tab, the time the last connection attempt
   began (whole seconds since 1970-01-01 UTC), a newline. Empty when the OpenOCD backend
   is not the process's. */
size_t scx_openocd_unreachable(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* SCXCORE_C_H */
