// The hub object: construction (which runs discovery), destruction, and the
// decoding of the hub and node information words.
#include "frame/manager.h"
#include "frame/memory.h"
#include "hub/hub.h"

ROZI_VUV_HUB::ROZI_VUV_HUB(SCX_OPEN *open)
    : valid(false), ir_width(0), manufacturer_id(0), node_count(0), version(0), ir_mask(0), address_width(0),
      ref_count(0), node_info(nullptr), open_handle(open), broadcasting(false), queued_ir(nullptr),
      queued(nullptr), cached_ir(SLD_IR_UNKNOWN) {
    // The outcome is read from the fields and the manager's last error.
    read_hub_node_info(open);
}

ROZI_VUV_HUB::~ROZI_VUV_HUB() {
    // Ids first, so nothing can reach the hub while it goes away; then the
    // calling thread's hold, which still needs the open handle.
    ROZI_VUV_MANAGER::get_manager()->invalidate_hub_id(this);
    release_hold_at_destruction();
    if (open_handle != nullptr)
        scx_close_device(open_handle);
    sld_delete_array(node_info);
    sld_delete_array(queued_ir);
    sld_delete_array(queued);
}

void ROZI_VUV_HUB::decode_hub_id(unsigned long word) {
    word &= 0xFFFFFFFFUL;
    ir_width = static_cast<unsigned char>(word & 0xFF);
    manufacturer_id = static_cast<unsigned short>((word >> 8) & 0x7FF);
    node_count = static_cast<unsigned char>((word >> 19) & 0xFF);
    version = static_cast<unsigned char>(word >> 27);
    if (ir_width == 0)
        ir_mask = 0;
    else if (ir_width >= 32)
        ir_mask = 0xFFFFFFFFUL;
    else
        ir_mask = (1UL << ir_width) - 1;
}

void ROZI_VUV_HUB::decode_node_id(unsigned long word, SLD_NODE_INFO *out) {
    word &= 0xFFFFFFFFUL;
    out->instance_id = static_cast<unsigned char>(word & 0xFF);
    out->manufacturer_id = static_cast<unsigned short>((word >> 8) & 0x7FF);
    out->node_id = static_cast<unsigned char>((word >> 19) & 0xFF);
    out->version = static_cast<unsigned char>(word >> 27);
}

bool ROZI_VUV_HUB::is_supported_hub_version() const {
    // Only our own manufacturer's later versions are known not to work;
    // other manufacturers are judged by the validity rule instead.
    return !(manufacturer_id == SLD_HUB_MANUFACTURER_ID && version >= 2);
}

SLD_NODE_INFO *ROZI_VUV_HUB::get_node_info(unsigned char index) {
    if (node_info == nullptr || index >= node_count)
        return nullptr;
    return &node_info[index];
}
