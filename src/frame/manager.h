// The process-wide manager: library mutex, last error, string pool, hub and
// node tables, scan log, and the per-thread list of held hubs.
#ifndef SLD_FRAME_MANAGER_H
#define SLD_FRAME_MANAGER_H

#include <atomic>

#include "sld.h"
#include "scx/scx.h"
#include "scx/thr.h"

class ROZI_VUV_HUB;
class ROZI_VUV_DEVICE;
class ROZI_VUV_HARDWARE;

const int SLD_HUB_TABLE_SIZE = 128;
const int SLD_NODE_TABLE_SIZE = 512;
const unsigned char SLD_NODE_INDEX_INVALID = 255;

struct ROZI_VUV_HUB_SLOT {
    bool in_use;
    ROZI_VUV_HUB *hub;       // not owned; null after invalidation
    ROZI_VUV_DEVICE *device; // not owned; null after invalidation
    int open_node_count;
};

struct ROZI_VUV_NODE_SLOT {
    int hub_index;            // -1: free
    unsigned char node_index; // 255: the node's hub was destroyed
};

struct ROZI_VUV_POOLED_STRING {
    char *text;
    ROZI_VUV_POOLED_STRING *next;
};

// A table of pooled strings handed to callers (hardware names, device
// strings); kept, like the strings, until the manager goes. A device table
// is rewritten in place by the device object that owns it, and by no one
// once it has been released.
struct ROZI_VUV_POOLED_TABLE {
    char **strings;
    unsigned long count;
    bool device_table;
    const void *owner; // the device object writing it; null when released
    ROZI_VUV_POOLED_TABLE *next;
};

struct ROZI_VUV_LOCKED_HUB {
    ROZI_VUV_HUB *hub;
    ROZI_VUV_LOCKED_HUB *next;
};

class ROZI_VUV_MANAGER {
  public:
    static ROZI_VUV_MANAGER *get_manager();

    ROZI_VUV_MANAGER();
    ~ROZI_VUV_MANAGER();
    ROZI_VUV_MANAGER(const ROZI_VUV_MANAGER &) = delete;
    ROZI_VUV_MANAGER &operator=(const ROZI_VUV_MANAGER &) = delete;

    // Status translation and string pool.
    void set_last_error_from_scx_error(SCX_ERROR result);
    static SLD_ERROR translate_scx_error(SCX_ERROR result);
    // Pooled copy of text; null (last_error SLD_NO_FREE_SLOT) when out of memory.
    char *store_string(const char *text);
    // Pooled copy of a table of count pooled strings (count > 0): an equal
    // table, the same strings in the same order, is handed out again. Null
    // (last_error SLD_NO_FREE_SLOT) when out of memory.
    char **store_string_table(char *const *strings, unsigned long count);
    // The same for the device strings of one device object, which may
    // rewrite the table in place until it releases it: an equal released
    // table is taken up again, one that another object owns never is.
    char **claim_device_table(char *const *strings, unsigned long count, const void *owner);
    // Ends owner's right to rewrite table; the table keeps its strings.
    void release_device_table(char **table, const void *owner);

    // Handle tables.
    ROZI_VUV_HUB *get_hub(int hub_id);
    int create_node(int hub_id, unsigned char node_index);
    ROZI_VUV_HUB *get_node_hub_owner(int node_id);
    unsigned char get_node_hub_node_index(int node_id);
    SLD_ERROR close_node(int node_id);
    void invalidate_node_id(int hub_id);
    void invalidate_hub_id(ROZI_VUV_DEVICE *device);
    void invalidate_hub_id(ROZI_VUV_HUB *hub);
    // The hub ids of hub held through device from now refer to device to.
    void move_hub_ids(ROZI_VUV_HUB *hub, ROZI_VUV_DEVICE *from, ROZI_VUV_DEVICE *to);
    // First free hub slot, filled with hub and device; -1 and SLD_NO_FREE_SLOT when none.
    int take_hub_slot(ROZI_VUV_HUB *hub, ROZI_VUV_DEVICE *device);
    void free_hub_slot(int hub_id);

    // Scan log.
    void enable_scx_log();
    void disable_scx_log();
    SLD_SCX_LOG_RECORD *get_scx_log_head();
    void clear_scx_log();
    void log_scx_access_ir(unsigned long value);
    void log_scx_access_dr(unsigned long length, const unsigned char *write_bits);

    // Hardware and devices.
    ROZI_VUV_HARDWARE *get_hardware(); // null (SLD_NO_FREE_SLOT) only when out of memory
    ROZI_VUV_DEVICE *get_device(const char *hardware_name);
    ROZI_VUV_DEVICE *create_device(const char *hardware_name);
    unsigned long find_persistent_id(const char *hardware_name);
    char *find_hardware_name(unsigned long persistent_id);

    // Hub opening and closing.
    int create_hub(const char *hardware_name, const char *device_string);
    SLD_ERROR close_hub(int hub_id);

    // The calling thread's held hubs.
    bool is_hub_locked(ROZI_VUV_HUB *hub);
    bool set_hub_locked(ROZI_VUV_HUB *hub); // false only when out of memory
    void set_hub_unlocked(ROZI_VUV_HUB *hub);

    void lock_mutex() { thr_mutex_lock(mutex); }
    void unlock_mutex() { thr_mutex_unlock(mutex); }

    ROZI_VUV_HARDWARE *hardware;
    ROZI_VUV_HUB_SLOT hub_table[SLD_HUB_TABLE_SIZE];
    ROZI_VUV_NODE_SLOT node_table[SLD_NODE_TABLE_SIZE];
    SLD_ERROR last_error;
    unsigned long mutex;
    unsigned long held_hubs;
    // False once held_hubs is destroyed at unload: the hubs destroyed after
    // it must not read a thread variable that no longer exists.
    bool held_hubs_live;
    // No slot below these is free: the searches for the lowest free hub and
    // node slot start here, so opening does not slow down as ids pile up.
    int free_hub_slot_floor;
    int free_node_slot_floor;
    // The switch and the head are read by the log functions without the
    // mutex while scanning threads append, hence atomic.
    std::atomic<bool> log_enabled;
    std::atomic<SLD_SCX_LOG_RECORD *> log_head;
    SLD_SCX_LOG_RECORD *log_tail;
    ROZI_VUV_POOLED_STRING *string_pool;
    ROZI_VUV_POOLED_TABLE *table_pool;
};

// One level of the library mutex, taken with the last error reset, and
// released when the scope ends unless keep() hands it to a hub lock.
class ROZI_VUV_CALL_LEVEL {
  public:
    explicit ROZI_VUV_CALL_LEVEL(ROZI_VUV_MANAGER *manager) : manager_(manager), held_(true) {
        manager_->lock_mutex();
        manager_->last_error = SLD_OK;
    }
    ~ROZI_VUV_CALL_LEVEL() {
        if (held_)
            manager_->unlock_mutex();
    }
    void keep() { held_ = false; }
    ROZI_VUV_CALL_LEVEL(const ROZI_VUV_CALL_LEVEL &) = delete;
    ROZI_VUV_CALL_LEVEL &operator=(const ROZI_VUV_CALL_LEVEL &) = delete;

  private:
    ROZI_VUV_MANAGER *manager_;
    bool held_;
};

#endif
