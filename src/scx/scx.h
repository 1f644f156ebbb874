// The JTAG client library as this library calls it. The symbols have C++
// linkage, so every type here is part of their mangled names: keep them as
// they are. They are resolved from the process that loads the library.
#ifndef SLD_SCX_SCX_H
#define SLD_SCX_SCX_H

struct SCX_CHAIN; // opaque: a JTAG chain
struct SCX_OPEN;  // opaque: an opened device

typedef unsigned long SCX_ERROR; // 0 = success; compared as an unsigned 32-bit value
const SCX_ERROR SCX_NO_ERROR = 0;
const SCX_ERROR SCX_TOO_MANY_DEVICES = 47;

enum SCX_PACK_STYLE {
    SCX_PACK_STYLE_AUTO = 1,  // every lock but the manual one
    SCX_PACK_STYLE_MANUAL = 2 // the manual lock
};

struct SCX_HARDWARE {            // 8 words: 32 bytes on the 32-bit platform
    SCX_CHAIN *chain;            // word 0
    unsigned long persistent_id; // word 1
    const char *name;            // word 2
    unsigned long reserved[4];   // words 3-6: not interpreted by the library
    unsigned long flags;         // word 7: bit 0x1 or 0x4 set: the record is skipped
};

struct SCX_DEVICE {            // 5 words: 20 bytes on the 32-bit platform
    unsigned long idcode;      // word 0
    unsigned long reserved[3]; // words 1-3: not interpreted by the library
    const char *name;          // word 4, may be null
};

struct SCX_CLAIM {
    unsigned long type;
    unsigned long value;
};

SCX_ERROR scx_get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout);
SCX_ERROR scx_find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout);
SCX_ERROR scx_print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                  unsigned long *length);
SCX_ERROR scx_lock_chain(SCX_CHAIN *chain, unsigned long timeout);
SCX_ERROR scx_unlock_chain(SCX_CHAIN *chain);
SCX_ERROR scx_scan_device_chain(SCX_CHAIN *chain);
SCX_ERROR scx_read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records, bool flag);
SCX_ERROR scx_open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle,
                          const SCX_CLAIM *claims, unsigned long claim_count, const char *application);
SCX_ERROR scx_close_device(SCX_OPEN *handle);
SCX_ERROR scx_lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style);
SCX_ERROR scx_unlock(SCX_OPEN *handle);
SCX_ERROR scx_access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured,
                        unsigned long flags);
SCX_ERROR scx_access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags,
                        unsigned long write_offset, unsigned long write_length,
                        const unsigned char *write_bits, unsigned long read_offset, unsigned long read_length,
                        unsigned char *read_bits);
SCX_ERROR scx_run_test_idle(SCX_OPEN *handle, unsigned long count);
SCX_ERROR scx_delay(SCX_OPEN *handle, unsigned long amount);
SCX_ERROR scx_flush(SCX_OPEN *handle);

#endif
