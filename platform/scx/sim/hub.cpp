// Hub behaviour. A virtual instruction update carries an instruction value
// (bits 0..m-1) and an address (bits m..m+n-1); address 0 is the hub.
#include "hub.h"

#include "bits.h"

namespace scxsim {
namespace detail {

namespace {

const uint64_t HUB_READOUT = 0, HUB_BROADCAST_BEGIN = 1, HUB_BROADCAST_END = 2;
// Hub instructions 8A + 3 force the capture of the node at address A.
const uint64_t FORCE_CAPTURE_MASK = 7, FORCE_CAPTURE_TAG = 3;

} // namespace

Hub::Hub(const HubDesc &desc) : desc_(desc) {
    address_width_ = bit_length(desc_.node_count);
    if (address_width_ == 0)
        address_width_ = 1;
    for (const NodeDesc &n : desc_.nodes)
        nodes_.emplace_back(n);
    info_words_.push_back(desc_.info_word());
    for (unsigned i = 0; i < desc_.node_count; ++i)
        info_words_.push_back(i < desc_.nodes.size() ? desc_.nodes[i].info_word() : 0);
    pending_set_.assign(nodes_.size(), 0);
    pending_.assign(nodes_.size(), 0);
}

Node *Hub::selected_node() {
    if (selected_ == 0 || selected_ > nodes_.size())
        return nullptr;
    return &nodes_[selected_ - 1];
}

void Hub::vir_capture(uint8_t *bits) {
    const unsigned m = desc_.ir_width;
    uint64_t value = 0;
    if (desc_.version == 0) {
        if (Node *n = selected_node())
            value = n->instruction();
    } else if (forced_) {
        value = forced_value_;
        forced_ = false;
    }
    value &= low_mask(m);
    put_u64(bits, vir_width(), value | uint64_t(selected_) << m);
}

void Hub::vir_update(const uint8_t *bits) {
    const unsigned m = desc_.ir_width;
    const uint64_t word = get_u64(bits, vir_width());
    const uint64_t value = word & low_mask(m);
    const unsigned long address = static_cast<unsigned long>(word >> m);
    selected_ = address;
    if (address == 0) {
        hub_instruction(value);
        return;
    }
    const size_t index = address - 1;
    if (index >= nodes_.size())
        return; // an address without a node selects nothing
    if (broadcasting_) {
        pending_[index] = value;
        pending_set_[index] = 1;
    } else {
        nodes_[index].load_instruction(value);
    }
}

void Hub::hub_instruction(uint64_t value) {
    hub_ir_ = value;
    if (value == HUB_READOUT) {
        readout_ = 0;
    } else if (value == HUB_BROADCAST_BEGIN) {
        broadcasting_ = true;
    } else if (value == HUB_BROADCAST_END) {
        if (broadcasting_) {
            for (size_t i = 0; i < nodes_.size(); ++i) {
                if (pending_set_[i])
                    nodes_[i].load_instruction(pending_[i]);
                pending_set_[i] = 0;
            }
        }
        broadcasting_ = false;
    } else if (desc_.version != 0 && (value & FORCE_CAPTURE_MASK) == FORCE_CAPTURE_TAG) {
        const uint64_t address = value >> 3;
        forced_ = true;
        forced_value_ = 0;
        if (address >= 1 && address <= nodes_.size())
            forced_value_ = nodes_[size_t(address - 1)].instruction();
    }
}

unsigned Hub::vdr_width() const {
    if (selected_ == 0)
        return hub_ir_ == HUB_READOUT ? 4 : 1;
    if (selected_ > nodes_.size())
        return 1;
    return nodes_[selected_ - 1].dr_width();
}

void Hub::vdr_capture(uint8_t *bits) {
    if (selected_ == 0) {
        if (hub_ir_ == HUB_READOUT) {
            const uint32_t word = info_words_[readout_ / 8];
            bits[0] = uint8_t((word >> (4 * (readout_ % 8))) & 0xF);
            readout_ = (readout_ + 1) % (8 * info_words_.size());
        }
        return;
    }
    if (Node *n = selected_node())
        n->dr_capture(bits);
}

void Hub::vdr_update(const uint8_t *bits) {
    if (Node *n = selected_node())
        n->dr_update(bits);
}

void Hub::idle(uint64_t clocks) {
    for (Node &n : nodes_)
        n.idle(clocks);
}

} // namespace detail
} // namespace scxsim
