// Hub discovery: reads the hub information word and one node information
// word per node, each as eight 4-bit data scans, under one device lock.
#include <cstring>

#include "frame/manager.h"
#include "frame/memory.h"
#include "hub/hub.h"

// Bit length of the node count: the address field holds 0 (the hub) and
// node index + 1 for every node.
static unsigned char discovery_address_width(unsigned char node_count) {
    unsigned char width = 0;
    for (unsigned count = node_count; count != 0; count >>= 1)
        ++width;
    return width;
}

// The word passes when it comes from our manufacturer, has a known version,
// at least one node, and an instruction register wide enough for the hub
// instructions of that version.
static bool discovery_hub_word_accepted(const ROZI_VUV_HUB &hub) {
    if (hub.manufacturer_id != SLD_HUB_MANUFACTURER_ID || hub.version > 1 || hub.node_count == 0)
        return false;
    return hub.version == 0 ? hub.ir_width > 2 : hub.ir_width > 3;
}

bool ROZI_VUV_HUB::read_hub_node_info(SCX_OPEN *open) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    valid = false;

    SCX_ERROR result = scx_lock(open, 6000, SCX_PACK_STYLE_AUTO);
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        return false;
    }

    unsigned char write_data[8];
    unsigned char capture[8];

    // Reset the hub's information readout: address 0, instruction 0.
    result = scx_access_ir(open, SLD_IR_SELECT_VIR, nullptr, 0);
    manager->log_scx_access_ir(SLD_IR_SELECT_VIR);
    if (result == SCX_NO_ERROR) {
        std::memset(write_data, 0, sizeof write_data);
        std::memset(capture, 0, sizeof capture);
        result = scx_access_dr(open, 64, 0, 0, 64, write_data, 0, 64, capture);
        manager->log_scx_access_dr(64, write_data);
    }
    if (result == SCX_NO_ERROR) {
        result = scx_access_ir(open, SLD_IR_SELECT_VDR, nullptr, 0);
        manager->log_scx_access_ir(SLD_IR_SELECT_VDR);
    }
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        scx_unlock(open);
        return false;
    }

    std::memset(write_data, 0, sizeof write_data);
    std::memset(capture, 0, sizeof capture);
    if (capture_32_bits_id(write_data, capture, open)) {
        decode_hub_id(eight_nibles_to_dword(capture));
        if (!discovery_hub_word_accepted(*this)) {
            // Not an error: the opener judges the hub by its fields.
            node_count = 0;
        } else {
            node_info = sld_new_array<SLD_NODE_INFO>(node_count);
            if (node_info == nullptr) {
                // No records to hold the nodes: keep the fields consistent.
                node_count = 0;
                manager->last_error = SLD_NO_FREE_SLOT;
            } else {
                address_width = discovery_address_width(node_count);
                for (unsigned i = 0; i < node_count; ++i) {
                    if (!capture_32_bits_id(write_data, capture, open)) {
                        valid = false;
                        break;
                    }
                    decode_node_id(eight_nibles_to_dword(capture), &node_info[i]);
                    valid = true;
                }
            }
        }
    }

    result = scx_unlock(open);
    if (result != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(result);
        return false;
    }
    return true;
}

bool ROZI_VUV_HUB::capture_32_bits_id(const unsigned char *write_data, unsigned char *capture,
                                      SCX_OPEN *open) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    for (unsigned i = 0; i < 8; ++i) {
        SCX_ERROR result = scx_access_dr(open, 4, 0, 0, 4, &write_data[i], 0, 4, &capture[i]);
        manager->log_scx_access_dr(4, &write_data[i]);
        if (result != SCX_NO_ERROR) {
            manager->set_last_error_from_scx_error(result);
            return false;
        }
    }
    return true;
}

unsigned long ROZI_VUV_HUB::eight_nibles_to_dword(const unsigned char *capture) {
    unsigned long word = 0;
    for (unsigned i = 0; i < 8; ++i)
        word |= static_cast<unsigned long>(capture[i] & 0xF) << (4 * i);
    return word;
}
