/*
 * sld.h - host access to the debug hubs of devices on a JTAG chain.
 *
 * A hub sits behind two device instructions of a JTAG device: with
 * instruction 14 loaded, data scans reach the hub's virtual instruction
 * register; with instruction 12 loaded, they reach the virtual data register
 * of the node the hub has selected. Up to 255 nodes sit behind one hub.
 *
 * Every function that returns an SLD_ERROR returns one of the SLD_STATUS
 * values below and nothing else. No function throws. All functions may be
 * called from any thread; one library-wide mutex serialises the work.
 *
 * Allocation failure: when the library cannot allocate memory inside a call,
 * the call returns SLD_NO_FREE_SLOT and leaves every id, list and lock as
 * they were before the step that failed. A scan-log record that cannot be
 * allocated is dropped; the scan itself is not affected.
 *
 * Threads and hub locks: a thread that holds a hub lock owns the library
 * until it unlocks; every other thread's call (except sld_get_version and
 * the scan-log functions other than sld_clear_scx_log) waits. A thread must release every hub lock
 * it takes before it ends: nothing releases it for a thread that is gone.
 *
 * Tables of names: the tables of hardware names (sld_get_hardware) and of
 * device strings (sld_get_device) and every string in them belong to the
 * library and stay readable until it is unloaded, whatever happens after
 * they were handed out: lists read again, hardware or devices added or
 * removed, calls of other threads. While a list's names stay the same, the
 * same table is handed out again.
 *   A hardware table never changes; a changed list of hardware gets a table
 *   of its own.
 *   A device table is the chain's current one until a read of the chain
 *   finds a different number of devices or fails: a read that finds the
 *   same number of devices, one of them with another IDCODE, writes that
 *   position's new string into the same table. A changed count or a failed
 *   read leaves the table with the strings it last held and hands out
 *   another one from then on.
 * Every string is kept until unload.
 *
 * Ids: hub ids and node ids are reused, lowest first. Once an id is closed
 * it may name another hub or node opened later; do not use it again.
 */
#ifndef SLD_H
#define SLD_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(SLD_BUILDING_LIBRARY) && defined(__GNUC__)
#define SLD_API __attribute__((visibility("default")))
#else
#define SLD_API
#endif

/* An opened JTAG device of the JTAG client library (opaque). */
struct SCX_OPEN;

/* Status of every function that returns one. */
typedef int SLD_ERROR;

enum SLD_STATUS {
    SLD_OK = 0,                   /* success */
    SLD_HARDWARE_NOT_FOUND = 1,   /* no JTAG hardware of that name or id */
    SLD_DEVICE_NOT_FOUND = 2,     /* no such device on the chain, chain gone, or hub id unusable */
    SLD_INVALID_HUB_ID = 3,       /* hub id outside 0..127 or not open */
    SLD_UNSUPPORTED_HUB = 4,      /* hub version not supported, or it cannot capture that node's IR */
    SLD_INVALID_NODE_ID = 5,      /* node id negative, above 511, not open, or its node is gone */
    SLD_INVALID_NODE_INDEX = 6,   /* node index not below the hub's node count */
    SLD_JTAG_ERROR = 7,           /* the JTAG client library failed in an unlisted way */
    SLD_HUB_NOT_FOUND = 8,        /* the device answered, but not as a valid hub */
    SLD_NO_FREE_SLOT = 9,         /* all hub ids or node ids in use, or out of memory */
    SLD_HUB_HAS_OPEN_NODES = 10,  /* a hub id is closed while node ids of it are open */
    SLD_SERVER_ERROR = 11,        /* the JTAG server failed */
    SLD_STALE_ID = 12,            /* the id's hub or device was destroyed (hardware gone, chain changed) */
    SLD_BROADCAST_ACTIVE = 50,    /* broadcast begun twice, or a capture asked while broadcasting */
    SLD_BROADCAST_INACTIVE = 51,  /* broadcast ended without a begin */
    SLD_NODE_ALREADY_QUEUED = 52, /* a second instruction for the same node in one broadcast */
    SLD_ALREADY_LOCKED = 60,      /* the thread already holds the hub lock, or the device is locked */
    SLD_NOT_LOCKED = 61,          /* the hub is not locked by this thread */
    SLD_SERVER_ERROR_70 = 70,     /* the JTAG server reported error 46 */
    SLD_NULL_ARGUMENT = 100       /* a required pointer argument is null */
};

/* Device instructions that lead to a hub. */
#define SLD_IR_SELECT_VIR 14
#define SLD_IR_SELECT_VDR 12
#define SLD_IR_UNKNOWN 1023
#define SLD_HUB_MANUFACTURER_ID 110

/* One node behind a hub, decoded from its 32-bit node information word. */
typedef struct SLD_NODE_INFO {
    unsigned char instance_id;      /* word bits 0-7 */
    unsigned char reserved;         /* padding, always 0 */
    unsigned short manufacturer_id; /* word bits 8-18 */
    unsigned char node_id;          /* word bits 19-26 */
    unsigned char version;          /* word bits 27-31 */
} SLD_NODE_INFO;

/* Kinds of scan-log records. */
enum SLD_LOG_KIND {
    SLD_LOG_IR = 0, /* a device instruction scan: value is the instruction */
    SLD_LOG_DR = 1  /* a data scan: value is its length in bits, data the bits written */
};

/* One scan-log record; the library owns the list, callers only read it. */
typedef struct SLD_SCX_LOG_RECORD {
    unsigned int kind;               /* SLD_LOG_IR or SLD_LOG_DR */
    unsigned int value;              /* IR: instruction (14 or 12); DR: length in bits */
    unsigned char *data;             /* DR: copy of the (length + 7) / 8 bytes written, or null */
    struct SLD_SCX_LOG_RECORD *next; /* following record, null in the last */
} SLD_SCX_LOG_RECORD;

/* Kinds of batch records; any other kind ends a batch. */
enum SLD_BATCH_KIND {
    SLD_BATCH_END = 0,
    SLD_BATCH_IR = 1, /* virtual IR scan */
    SLD_BATCH_DR = 2  /* virtual DR scan */
};

/*
 * One record of a batch. Every field is one machine word (unsigned long),
 * which holds a pointer on both 32-bit x86 and x86-64 Linux; pointers are
 * stored cast to unsigned long. On 32-bit x86 the record is the 20-byte,
 * five-word record; on x86-64 it is five 8-byte words (40 bytes).
 *
 *            SLD_BATCH_IR                     SLD_BATCH_DR
 *   write    instruction value                const unsigned char* bits, or 0
 *   read     unsigned long* capture, or 0     unsigned char* buffer, or 0
 *   length   not read                         scan length in bits
 *   delay    microseconds of delay after the scan, 0 for none
 */
typedef struct SLD_BATCH_ACCESS {
    unsigned long kind;
    unsigned long write;
    unsigned long read;
    unsigned long length;
    unsigned long delay;
} SLD_BATCH_ACCESS;

/* The records' sizes on the 32-bit platform are part of the interface. */
#if defined(__i386__)
typedef char sld_node_info_is_6_bytes[sizeof(SLD_NODE_INFO) == 6 ? 1 : -1];
typedef char sld_log_record_is_16_bytes[sizeof(SLD_SCX_LOG_RECORD) == 16 ? 1 : -1];
typedef char sld_batch_access_is_20_bytes[sizeof(SLD_BATCH_ACCESS) == 20 ? 1 : -1];
#endif

/* ---- Version ---------------------------------------------------------- */

/* Writes 1 and 1. SLD_OK, or SLD_NULL_ARGUMENT if either pointer is null
 * (nothing written). */
SLD_API SLD_ERROR sld_get_version(int *major, int *minor);

/* ---- Scan log: every device instruction scan and data scan issued ------ */

/* Starts recording scans; records already there stay. */
SLD_API void sld_enable_scx_log(void);
/* Stops recording; the records stay. */
SLD_API void sld_disable_scx_log(void);
/* Frees every record; the switch keeps its state. Waits for running scans. */
SLD_API void sld_clear_scx_log(void);
/* Stores the first record (null if empty); a null argument is ignored.
 * Walk the list only while no other thread scans. */
SLD_API void sld_get_scx_log_head(SLD_SCX_LOG_RECORD **head);

/* ---- Hardware and devices ---------------------------------------------- */

/* Rebuilds the hardware list; stores the count and the table of short
 * names (kept until unload, see above). SLD_OK; SLD_HARDWARE_NOT_FOUND
 * when there is no hardware; SLD_NO_FREE_SLOT when out of memory;
 * SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_get_hardware(unsigned long *count, char ***names);
/* Short name of the hardware with that persistent id (null if none).
 * SLD_OK; SLD_HARDWARE_NOT_FOUND when none; a translated JTAG error when
 * enumeration failed; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_get_hardware_name(unsigned long persistent_id, char **name);
/* Persistent id of the hardware named by short or full name (0 if none).
 * SLD_OK; SLD_HARDWARE_NOT_FOUND when none; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_get_hardware_persistent_id(const char *name, unsigned long *persistent_id);
/* Rebuilds the hardware list. SLD_OK, or SLD_NO_FREE_SLOT when out of
 * memory. */
SLD_API SLD_ERROR sld_refresh_hardware(void);
/* Reads the chain of the named hardware; stores the device count and the
 * table of device strings "@N: name (0xIDCODE)" (kept until unload, see
 * above). SLD_OK; SLD_HARDWARE_NOT_FOUND no such hardware;
 * SLD_DEVICE_NOT_FOUND no devices (count 0, table null); SLD_NULL_ARGUMENT;
 * a translated JTAG error. */
SLD_API SLD_ERROR sld_get_device(const char *hardware_name, unsigned long *count, char ***devices);
/* Reads the chain of the named hardware again (an unknown name is not an
 * error). SLD_OK; SLD_NO_FREE_SLOT when out of memory; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_refresh_device(const char *hardware_name);

/* ---- Hubs ----------------------------------------------------------------- */

/* Opens the hub of a device; stores the hub id, -1 on failure, -3 for an
 * unsupported hub. Opening an open hub again shares it. SLD_OK;
 * SLD_HARDWARE_NOT_FOUND; SLD_DEVICE_NOT_FOUND; SLD_UNSUPPORTED_HUB;
 * SLD_HUB_NOT_FOUND only when the device answered and its hub word names
 * no hub this library can use (another manufacturer, no nodes, an
 * instruction register too narrow for its version) or is empty;
 * SLD_NO_FREE_SLOT all 128 hub ids in use, or out of memory;
 * SLD_NULL_ARGUMENT; a translated JTAG error, also when the hub could not
 * be examined because its device lock or a scan of its readout failed
 * (SLD_ALREADY_LOCKED when another client held the device for the whole
 * time-out, SLD_SERVER_ERROR when the JTAG server failed, for example). */
SLD_API SLD_ERROR sld_hub_open(const char *hardware_name, const char *device_string, int *hub_id);
/* Releases a hub id; the last one closes the device. SLD_OK;
 * SLD_INVALID_HUB_ID; SLD_HUB_HAS_OPEN_NODES node ids still open. */
SLD_API SLD_ERROR sld_hub_close(int hub_id);
/* Opens a raw JTAG handle on a device, owned by the caller. SLD_OK;
 * SLD_HARDWARE_NOT_FOUND no device list made yet for that hardware;
 * SLD_DEVICE_NOT_FOUND; SLD_ALREADY_LOCKED a hub is open on the device;
 * SLD_NULL_ARGUMENT; a translated JTAG error. */
SLD_API SLD_ERROR sld_scx_device_open(const char *hardware_name, const char *device_string,
                                      struct SCX_OPEN **handle);
/* Stores the JTAG handle behind a hub id (owned by the hub). SLD_OK;
 * SLD_DEVICE_NOT_FOUND not a live hub id; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_hub_get_scx_open_id(int hub_id, struct SCX_OPEN **handle);
/* Stores the hub's node count (0 on failure). SLD_OK; SLD_INVALID_HUB_ID;
 * SLD_STALE_ID; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_hub_get_number_of_nodes(int hub_id, unsigned char *count);
/* Stores the node's record (zeroed on failure). SLD_OK; SLD_INVALID_HUB_ID;
 * SLD_INVALID_NODE_INDEX; SLD_STALE_ID; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_hub_get_node_info(int hub_id, unsigned char node_index, SLD_NODE_INFO *info);
/* Opens a node; stores its node id, -1 on failure. SLD_OK;
 * SLD_INVALID_HUB_ID; SLD_INVALID_NODE_INDEX; SLD_NO_FREE_SLOT all 512
 * node ids in use; SLD_STALE_ID; SLD_NULL_ARGUMENT. */
SLD_API SLD_ERROR sld_node_open(int hub_id, unsigned char node_index, int *node_id);
/* Releases a node id. SLD_OK; SLD_INVALID_NODE_ID. */
SLD_API SLD_ERROR sld_node_close(int node_id);

/* ---- Hub locks: the device lock plus the library for this thread --------
 * While the device is not held, another handle or JTAG client may load
 * another device instruction; the first scan of every hold therefore loads
 * its instruction, and later scans of the same hold leave it out when it is
 * already loaded. */

/* Locks the hub; the time-out is the JTAG library's. SLD_OK;
 * SLD_DEVICE_NOT_FOUND not a live hub id; SLD_ALREADY_LOCKED already held
 * by this thread, or another client held the device; a translated JTAG
 * error. */
SLD_API SLD_ERROR sld_hub_lock(int hub_id, unsigned long timeout);
/* Releases the hub lock. SLD_OK; SLD_DEVICE_NOT_FOUND; SLD_NOT_LOCKED not
 * held; a translated JTAG error (the lock is released all the same). */
SLD_API SLD_ERROR sld_hub_unlock(int hub_id);
/* As sld_hub_lock, through a node id. SLD_OK; SLD_INVALID_NODE_ID;
 * SLD_STALE_ID; SLD_ALREADY_LOCKED; a translated JTAG error. */
SLD_API SLD_ERROR sld_node_lock(int node_id, unsigned long timeout);
/* As sld_node_lock, with the JTAG library's manual lock style. */
SLD_API SLD_ERROR sld_node_lock_manual(int node_id, unsigned long timeout);
/* As sld_hub_unlock, through a node id. SLD_OK; SLD_INVALID_NODE_ID;
 * SLD_STALE_ID; SLD_NOT_LOCKED; a translated JTAG error. */
SLD_API SLD_ERROR sld_node_unlock(int node_id);

/* ---- Node access ------------------------------------------------------------ */

/* Units, as the JTAG client library defines them: a delay is in
 * microseconds, waited between the scans before and after it (a simulated
 * world lets no time pass); a run-test-idle count is a number of TCK clocks
 * spent in the Run-Test/Idle state. */

/* Virtual IR scan: loads the instruction (masked to the node's width) and,
 * when capture is not null, stores the captured instruction; then delays
 * the device by delay microseconds (0: none). Queued instead while the hub
 * broadcasts; a scan that asks for a capture is then refused and queues
 * nothing.
 *   On a version-1 hub a capture first sends the hub instruction
 *   8 x node index + 11. Where that value does not fit in the hub's
 *   instruction width (width 4 and node index 1 or more, width 5 and index
 *   3 or more, width 8 and index 31 or more, ...), the scan is refused with
 *   SLD_UNSUPPORTED_HUB and nothing is sent; the capture word is not
 *   written. The same scan without a capture is made as usual.
 * SLD_OK; SLD_INVALID_NODE_ID; SLD_STALE_ID; SLD_UNSUPPORTED_HUB the hub
 * cannot capture this node's instruction; SLD_BROADCAST_ACTIVE capture
 * asked while the hub broadcasts; SLD_NODE_ALREADY_QUEUED; a translated
 * JTAG error. */
SLD_API SLD_ERROR sld_node_access_ir(int node_id, unsigned long instruction, unsigned long *capture,
                                     unsigned long delay);
/* Virtual DR scan of length bits through the node the hub has selected (the
 * one of the last IR scan), then a delay of delay microseconds (0: none).
 * write and read may be null; buffers hold (length + 7) / 8 bytes, bit j in
 * bit j % 8 of byte j / 8. SLD_OK; SLD_INVALID_NODE_ID; SLD_STALE_ID; a
 * translated JTAG error. */
SLD_API SLD_ERROR sld_node_access_dr(int node_id, unsigned long length, const unsigned char *write,
                                     unsigned char *read, unsigned long delay);
/* Runs records until one whose kind is neither IR nor DR; stops at the
 * first failure and returns it. IR records are made as sld_node_access_ir
 * makes them: while the hub broadcasts they are queued, or refused with
 * SLD_BROADCAST_ACTIVE when they ask for a capture, and a capture the hub
 * cannot make is refused with SLD_UNSUPPORTED_HUB. SLD_OK;
 * SLD_INVALID_NODE_ID; SLD_STALE_ID; SLD_UNSUPPORTED_HUB;
 * SLD_BROADCAST_ACTIVE; SLD_NODE_ALREADY_QUEUED; SLD_NULL_ARGUMENT; a
 * translated JTAG error. */
SLD_API SLD_ERROR sld_node_batch_access(int node_id, const SLD_BATCH_ACCESS *records);
/* Run-test-idle on the node's device: count TCK clocks in Run-Test/Idle.
 * SLD_OK; SLD_INVALID_NODE_ID; SLD_STALE_ID; a translated JTAG error. */
SLD_API SLD_ERROR sld_node_rti(int node_id, unsigned long count);
/* Flushes queued JTAG work; needs the hub lock. SLD_OK;
 * SLD_INVALID_NODE_ID; SLD_STALE_ID; SLD_NOT_LOCKED; a translated JTAG
 * error. */
SLD_API SLD_ERROR sld_node_flush(int node_id);
/* Delays the device by delay microseconds; needs the hub lock. SLD_OK;
 * SLD_INVALID_NODE_ID; SLD_STALE_ID; SLD_NOT_LOCKED; a translated JTAG
 * error. */
SLD_API SLD_ERROR sld_node_delay(int node_id, unsigned long delay);

/* ---- Broadcast ---------------------------------------------------------------- */

/* Starts queuing node IR scans of the hub. SLD_OK; SLD_INVALID_HUB_ID;
 * SLD_STALE_ID; SLD_BROADCAST_ACTIVE already begun; SLD_NO_FREE_SLOT out of
 * memory. */
SLD_API SLD_ERROR sld_hub_broadcast_begin(int hub_id);
/* Sends hub instruction 1, the queued values in node order, hub
 * instruction 2, under the hub lock, and releases the hub lock (also one
 * the caller held). Every step is taken even after a failed one; the queue
 * is emptied and the broadcast ended in any case. SLD_OK when every scan
 * succeeded, else the first failed scan's translated JTAG error;
 * SLD_INVALID_HUB_ID; SLD_STALE_ID; SLD_BROADCAST_INACTIVE.
 *
 * After a failed end the device's hub is in an unknown state: it may still
 * hold node instructions back, so that later scans reach no node. An empty
 * begin/end pair sends both framing instructions again.
 *
 * The hub lock is waited for without a time-out while the library mutex is
 * held: as long as another JTAG client holds the device, every call of the
 * process that takes the library mutex waits with it. */
SLD_API SLD_ERROR sld_hub_broadcast_end(int hub_id);

#ifdef __cplusplus
}
#endif

#endif /* SLD_H */
