/*
 * scxsim_c.h - the control API of the simulated JTAG world (scxsim.h) with
 * C linkage, for callers that cannot call C++: scripting languages through
 * their foreign-function interfaces.
 *
 * Conventions:
 * - Functions that return int return 1 on success and 0 on failure.
 * - Where the C++ API explains a failure (board and hot-plug calls), the
 *   message goes into error[0..error_size) when error is not null, always
 *   terminated; a function that may fail that way takes error and its size.
 * - Functions are named as in scxsim.h; a scxsim::Fn is named by its text
 *   ("any", "access_dr", ...; see scxsim::fn_name). An unknown name fails.
 * - Results of variable size are handed over in memory from malloc, which
 *   the caller gives back with scxsim_free; empty results are a null pointer
 *   and a count of 0.
 * - Cables are named by persistent id, device positions count from 0.
 * - No C++ exception leaves these functions: one caught inside makes the
 *   call fail with its message.
 */
#ifndef SCXSIM_C_H
#define SCXSIM_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void scxsim_free(void *memory);

/* ---- Boards ---------------------------------------------------------------- */
int scxsim_load_board_file(const char *path, char *error, size_t error_size);
int scxsim_load_board_string(const char *json, char *error, size_t error_size);
int scxsim_default_board_json(char **text, size_t *length);
void scxsim_reset(void);

/* ---- Hot-plug ------------------------------------------------------------- */
int scxsim_add_cable(const char *cable_json, char *error, size_t error_size);
int scxsim_remove_cable(unsigned long persistent_id);
int scxsim_renew_chain_handle(unsigned long persistent_id);
int scxsim_set_cable_name(unsigned long persistent_id, const char *name);
int scxsim_set_cable_full_name(unsigned long persistent_id, const char *full_name);
int scxsim_set_cable_flags(unsigned long persistent_id, unsigned long flags);
int scxsim_insert_device(unsigned long persistent_id, unsigned long position, const char *device_json,
                         char *error, size_t error_size);
int scxsim_replace_device(unsigned long persistent_id, unsigned long position, const char *device_json,
                          char *error, size_t error_size);
int scxsim_remove_device(unsigned long persistent_id, unsigned long position);
int scxsim_set_idcode(unsigned long persistent_id, unsigned long position, unsigned long idcode);

/* ---- Fault injection and timing -------------------------------------------- */
int scxsim_fail_call(const char *fn, unsigned long k, unsigned long code);
int scxsim_fail_every(const char *fn, unsigned long code);
void scxsim_clear_faults(void);
int scxsim_set_call_delay(const char *fn, unsigned long microseconds);
int scxsim_call_count(const char *fn, unsigned long *count);
void scxsim_reset_call_count(void);
/* ~0UL lifts the cap (scxsim::no_wait_limit). */
void scxsim_set_lock_wait_limit(unsigned long milliseconds);

/* ---- Foreign client --------------------------------------------------------- */
int scxsim_foreign_lock_chain(unsigned long persistent_id);
int scxsim_foreign_unlock_chain(unsigned long persistent_id);
int scxsim_foreign_lock_device(unsigned long persistent_id, unsigned long position);
int scxsim_foreign_unlock_device(unsigned long persistent_id, unsigned long position);

/* ---- Call trace ---------------------------------------------------------------- */
void scxsim_set_tracing(int on);
void scxsim_clear_trace(void);
/* The trace as text (scxsim::Call::text), one call a line, each ended by
 * '\n'; only the calls of fn unless fn is null or "any", and only those on
 * the cable unless persistent_id is 0. */
int scxsim_trace_text(const char *fn, unsigned long persistent_id, char **text, size_t *length);

/* ---- Device side of nodes ------------------------------------------------------- */
int scxsim_memory_peek(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                       uint64_t *word);
int scxsim_memory_poke(unsigned long cable, unsigned long position, unsigned node, unsigned long address,
                       uint64_t word);
int scxsim_stream_send(unsigned long cable, unsigned long position, unsigned node, const unsigned char *bytes,
                       size_t count);
int scxsim_stream_receive(unsigned long cable, unsigned long position, unsigned node, unsigned char **bytes,
                          size_t *count);
int scxsim_probe_set(unsigned long cable, unsigned long position, unsigned node, const unsigned char *bits,
                     size_t count);
int scxsim_source_get(unsigned long cable, unsigned long position, unsigned node, unsigned char **bits,
                      size_t *count);
int scxsim_node_instruction(unsigned long cable, unsigned long position, unsigned node,
                            unsigned long *instruction);

/* ---- Looking inside ------------------------------------------------------------- */
/* All cables when persistent_id is 0. */
unsigned long scxsim_open_handle_count(unsigned long persistent_id);
int scxsim_device_locked(unsigned long persistent_id, unsigned long position);

#ifdef __cplusplus
}
#endif

#endif
