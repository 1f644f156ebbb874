// The device list of one JTAG chain: device records, device strings and the
// hub opened at each position.
#ifndef SLD_HARDWARE_DEVICE_H
#define SLD_HARDWARE_DEVICE_H

#include "frame/manager.h"

const unsigned long SLD_DEVICE_STRING_SIZE = 128;

class ROZI_VUV_DEVICE {
  public:
    explicit ROZI_VUV_DEVICE(SCX_CHAIN *chain);
    ~ROZI_VUV_DEVICE();
    ROZI_VUV_DEVICE(const ROZI_VUV_DEVICE &) = delete;
    ROZI_VUV_DEVICE &operator=(const ROZI_VUV_DEVICE &) = delete;

    unsigned long get_device_count() const { return device_count; }
    char **get_device_string_vec() { return device_strings; }
    bool build_device_list(SCX_CHAIN *chain);
    bool refresh() { return build_device_list(chain); }
    unsigned long find_vec_index(const char *device_string);
    ROZI_VUV_HUB *create_hub(const char *device_string);
    SCX_OPEN *create_scx_open_id(const char *device_string);
    void delete_hub(ROZI_VUV_HUB *hub);
    // Gives up rewriting the device string table, as a replaced object
    // does: the table stays readable and may be taken up by its successor.
    void release_strings();

    unsigned long device_count;
    // A table of the manager's pool that this object alone rewrites until
    // it releases it; callers may keep it until unload.
    char **device_strings;
    SCX_DEVICE *device_records;
    ROZI_VUV_HUB **hubs;
    SCX_CHAIN *chain;
    // Link in the list of device objects that a hardware entry replaced but
    // keeps until the entry goes, so that hub ids opened through them work.
    ROZI_VUV_DEVICE *retired_next;
    // The object this one replaced on the same chain. Its first good read
    // takes over the hubs the predecessor still holds, so that one device
    // never carries two hub objects and every open hub follows chain changes.
    ROZI_VUV_DEVICE *predecessor;
    // Records are read into this buffer, kept between reads so that reading
    // an unchanged chain allocates nothing; it grows with the chain.
    SCX_DEVICE *read_buffer;
    unsigned long read_buffer_size;

  private:
    void wipe();
    bool update_from_records(const SCX_DEVICE *records, unsigned long n);
    void destroy_hub_at(unsigned long position);
    void take_over_hubs(ROZI_VUV_DEVICE *old);
    static char *store_device_string(unsigned long position, const SCX_DEVICE &record);
    // n zeroed records to read into; null (SLD_NO_FREE_SLOT) when out of memory.
    SCX_DEVICE *records_to_read(unsigned long n);
    // Locks the chain and opens the device at position, rescanning and
    // opening once more after answer 38. true: handle set, chain still
    // locked. false: last error set, chain unlocked.
    bool open_position(unsigned long position, const char *application, SCX_OPEN **handle);
};

#endif
