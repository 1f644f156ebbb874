// The list of JTAG hardware the JTAG client library reports, with names,
// persistent ids and the device list of each chain.
#ifndef SLD_HARDWARE_HARDWARE_H
#define SLD_HARDWARE_HARDWARE_H

#include "frame/manager.h"

const unsigned long SLD_NAME_TABLE_SIZE = 1024;

struct ROZI_VUV_HARDWARE_INFO {
    unsigned long persistent_id;
    ROZI_VUV_DEVICE *device; // owned; null until first asked for
    SCX_CHAIN *chain;
    bool present;
    char *name;      // pooled short name
    char *full_name; // pooled full name
    const SCX_HARDWARE *pending_record;
    ROZI_VUV_HARDWARE_INFO *next_entry;
    ROZI_VUV_DEVICE *retired_devices; // replaced device objects, owned
};

class ROZI_VUV_HARDWARE {
  public:
    ROZI_VUV_HARDWARE();
    ~ROZI_VUV_HARDWARE();
    ROZI_VUV_HARDWARE(const ROZI_VUV_HARDWARE &) = delete;
    ROZI_VUV_HARDWARE &operator=(const ROZI_VUV_HARDWARE &) = delete;

    unsigned long get_hardware_count() const { return entry_count; }
    bool build_hardware_list();
    bool refresh() { return build_hardware_list(); }
    // false when the name could not be stored (out of memory)
    bool create_hardware_name(char **destination, const SCX_HARDWARE *record, bool long_name);
    ROZI_VUV_HARDWARE_INFO *find_hardware_info(const char *name);
    ROZI_VUV_DEVICE *find_device(const char *name);
    ROZI_VUV_DEVICE *get_device(const char *name) { return find_device(name); }
    unsigned long find_persistent_id(const char *name);
    char *find_hardware_name(unsigned long persistent_id);
    char **get_hardware_string_vec();
    // Number of names get_hardware_string_vec() writes.
    unsigned long get_name_count() const;
    ROZI_VUV_DEVICE *create_device(const char *name);

    unsigned long entry_count;
    ROZI_VUV_HARDWARE_INFO *entries;

  private:
    static void destroy_entry(ROZI_VUV_HARDWARE_INFO *entry);
    ROZI_VUV_HARDWARE_INFO *find_from(ROZI_VUV_HARDWARE_INFO *start, unsigned long persistent_id);
    bool match_records(const SCX_HARDWARE *records, unsigned long n);
    static bool names_changed(const ROZI_VUV_HARDWARE_INFO *entry);
    bool sweep();
    // Drops replaced device objects that no longer hold a hub.
    static void prune_retired_devices(ROZI_VUV_HARDWARE_INFO *entry);
};

#endif
