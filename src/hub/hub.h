// The hub object: discovery, virtual instruction encoding, locking, node
// access and broadcast on one opened device.
#ifndef SLD_HUB_HUB_H
#define SLD_HUB_HUB_H

#include "frame/manager.h"

// Largest virtual instruction scan: an instruction width of 255 bits plus 8
// address bits, in bytes.
const unsigned SLD_SCAN_BUFFER_BYTES = (255 + 8 + 7) / 8;

class ROZI_VUV_HUB {
  public:
    explicit ROZI_VUV_HUB(SCX_OPEN *open);
    ~ROZI_VUV_HUB();
    ROZI_VUV_HUB(const ROZI_VUV_HUB &) = delete;
    ROZI_VUV_HUB &operator=(const ROZI_VUV_HUB &) = delete;

    // Discovery.
    bool read_hub_node_info(SCX_OPEN *open);
    bool capture_32_bits_id(const unsigned char *write_data, unsigned char *capture, SCX_OPEN *open);
    static unsigned long eight_nibles_to_dword(const unsigned char *capture);
    void decode_hub_id(unsigned long word);
    static void decode_node_id(unsigned long word, SLD_NODE_INFO *out);
    bool is_supported_hub_version() const;
    SLD_NODE_INFO *get_node_info(unsigned char index);

    // Virtual instruction encoding; scan buffers hold SLD_SCAN_BUFFER_BYTES.
    unsigned assemble_ir_with_sel_bits(unsigned char index, unsigned long value, unsigned char *scan) const;
    void disassemble_ir_with_sel_bits(unsigned long *value, unsigned char *scan) const;
    unsigned assemble_hub_force_ir_capture_ir(unsigned char index, unsigned char *scan) const;
    // Whether the force-capture value 8 x index + 11 fits in ir_width bits.
    bool force_capture_fits(unsigned char index) const;

    // Locking.
    SLD_ERROR lock(unsigned long timeout);
    SLD_ERROR lock_manual(unsigned long timeout);
    SLD_ERROR unlock();

    // Node access.
    SLD_ERROR access_ir(unsigned char index, unsigned long value, unsigned long *captured,
                        unsigned long delay, bool cache);
    SLD_ERROR access_ir_direct(unsigned char index, unsigned long value, unsigned long *captured,
                               unsigned long delay, bool cache);
    SLD_ERROR access_ir_queue(unsigned char index, unsigned long value);
    SLD_ERROR access_dr(unsigned char index, unsigned long length, const unsigned char *write_bits,
                        unsigned char *read_bits, unsigned long delay, bool cache);
    SLD_ERROR node_rti(unsigned long count);
    SLD_ERROR node_flush();
    SLD_ERROR node_delay(unsigned long delay);

    // Broadcast.
    int broadcast_begin();
    int broadcast_end();
    int access_ir_hub(unsigned long value, unsigned long *captured);

    bool valid;
    unsigned char ir_width;
    unsigned short manufacturer_id;
    unsigned char node_count;
    unsigned char version;
    unsigned long ir_mask;
    unsigned char address_width;
    int ref_count;
    SLD_NODE_INFO *node_info;
    SCX_OPEN *open_handle;
    bool broadcasting;
    unsigned long *queued_ir;
    unsigned char *queued;
    unsigned long cached_ir;

  private:
    SLD_ERROR lock_with_style(unsigned long timeout, SCX_PACK_STYLE style);
    // Releases a hold that the calling thread still has when the hub goes.
    void release_hold_at_destruction();
};

#endif
