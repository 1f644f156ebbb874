// Node models: memory, byte stream, probe/source, plain shift registers and
// a RISC-V debug transport (riscv_dtm.h).
#include "node.h"

#include <cstring>

#include "bits.h"

namespace scxsim {
namespace detail {

namespace {

const uint64_t MEM_ADDRESS = 1, MEM_WRITE = 2, MEM_READ = 3;
const uint64_t STREAM_DATA = 1, STREAM_STATUS = 2;
const uint64_t PROBE_PROBE = 1, PROBE_SOURCE = 2;

// Copies a stored vector of `width` bits into a capture buffer.
void capture_vector(const std::vector<uint8_t> &v, uint8_t *bits) {
    std::memcpy(bits, v.data(), v.size());
}

void store_vector(std::vector<uint8_t> &v, unsigned width, const uint8_t *bits) {
    std::memcpy(v.data(), bits, v.size());
    if (width % 8)
        v.back() = uint8_t(v.back() & ((1u << (width % 8)) - 1));
}

} // namespace

bool Fifo::push(uint8_t b) {
    if (count_ == buf_.size())
        return false;
    buf_[(head_ + count_) % buf_.size()] = b;
    ++count_;
    return true;
}

bool Fifo::pop(uint8_t *b) {
    if (count_ == 0)
        return false;
    *b = buf_[head_];
    head_ = (head_ + 1) % buf_.size();
    --count_;
    return true;
}

Node::Node(const NodeDesc &desc) : desc_(desc) {
    switch (desc_.kind) {
    case NodeKind::memory:
        memory_.assign(desc_.depth, 0);
        address_width_ = bit_length(desc_.depth - 1);
        if (address_width_ == 0)
            address_width_ = 1;
        break;
    case NodeKind::stream:
        to_device_ = Fifo(desc_.depth);
        to_host_ = Fifo(desc_.depth);
        break;
    case NodeKind::probe:
        probe_.assign(bytes_for(desc_.probe_width), 0);
        source_.assign(bytes_for(desc_.source_width), 0);
        break;
    case NodeKind::shift:
        for (const ShiftRegisterDesc &r : desc_.registers)
            shift_.emplace_back(bytes_for(r.width), 0);
        break;
    case NodeKind::riscv:
        riscv_ = std::make_unique<RiscvDtm>(desc_);
        break;
    }
}

int Node::shift_index() const {
    for (size_t i = 0; i < desc_.registers.size(); ++i)
        if (desc_.registers[i].instruction == instruction_)
            return int(i);
    return -1;
}

unsigned Node::dr_width() const {
    switch (desc_.kind) {
    case NodeKind::memory:
        if (instruction_ == MEM_ADDRESS)
            return address_width_;
        if (instruction_ == MEM_WRITE || instruction_ == MEM_READ)
            return desc_.width;
        break;
    case NodeKind::stream:
        if (instruction_ == STREAM_DATA)
            return 9;
        if (instruction_ == STREAM_STATUS)
            return 16;
        break;
    case NodeKind::probe:
        if (instruction_ == PROBE_PROBE)
            return desc_.probe_width;
        if (instruction_ == PROBE_SOURCE)
            return desc_.source_width;
        break;
    case NodeKind::shift: {
        const int i = shift_index();
        if (i >= 0)
            return desc_.registers[size_t(i)].width;
        break;
    }
    case NodeKind::riscv:
        return riscv_->dr_width(instruction_);
    }
    return 1; // bypass
}

void Node::dr_capture(uint8_t *bits) {
    switch (desc_.kind) {
    case NodeKind::memory:
        if (instruction_ == MEM_ADDRESS)
            put_u64(bits, address_width_, address_);
        else if (instruction_ == MEM_WRITE || instruction_ == MEM_READ)
            put_u64(bits, desc_.width, memory_[address_]);
        break;
    case NodeKind::stream:
        if (instruction_ == STREAM_DATA) {
            uint8_t b;
            if (to_host_.pop(&b))
                put_u64(bits, 9, 0x100u | b);
        } else if (instruction_ == STREAM_STATUS) {
            const size_t waiting = to_host_.size() > 255 ? 255 : to_host_.size();
            const size_t room = to_device_.room() > 255 ? 255 : to_device_.room();
            put_u64(bits, 16, waiting | room << 8);
        }
        break;
    case NodeKind::probe:
        if (instruction_ == PROBE_PROBE)
            capture_vector(probe_, bits);
        else if (instruction_ == PROBE_SOURCE)
            capture_vector(source_, bits);
        break;
    case NodeKind::shift: {
        const int i = shift_index();
        if (i >= 0)
            capture_vector(shift_[size_t(i)], bits);
        break;
    }
    case NodeKind::riscv:
        riscv_->dr_capture(instruction_, bits);
        break;
    }
}

void Node::dr_update(const uint8_t *bits) {
    switch (desc_.kind) {
    case NodeKind::memory:
        if (instruction_ == MEM_ADDRESS) {
            address_ = static_cast<unsigned long>(get_u64(bits, address_width_) % desc_.depth);
        } else if (instruction_ == MEM_WRITE) {
            memory_[address_] = get_u64(bits, desc_.width);
            address_ = (address_ + 1) % desc_.depth;
        } else if (instruction_ == MEM_READ) {
            address_ = (address_ + 1) % desc_.depth;
        }
        break;
    case NodeKind::stream:
        if (instruction_ == STREAM_DATA) {
            const uint64_t v = get_u64(bits, 9);
            if (v & 0x100)
                to_device_.push(uint8_t(v)); // a full FIFO drops the byte
        }
        break;
    case NodeKind::probe:
        if (instruction_ == PROBE_SOURCE)
            store_vector(source_, desc_.source_width, bits);
        break;
    case NodeKind::shift: {
        const int i = shift_index();
        if (i >= 0)
            store_vector(shift_[size_t(i)], desc_.registers[size_t(i)].width, bits);
        break;
    }
    case NodeKind::riscv:
        riscv_->dr_update(instruction_, bits);
        break;
    }
}

void Node::idle(uint64_t clocks) {
    if (riscv_)
        riscv_->idle(clocks);
}

bool Node::memory_peek(unsigned long address, uint64_t *word) const {
    if (desc_.kind != NodeKind::memory || address >= desc_.depth || !word)
        return false;
    *word = memory_[address];
    return true;
}

bool Node::memory_poke(unsigned long address, uint64_t word) {
    if (desc_.kind != NodeKind::memory || address >= desc_.depth || (word & ~low_mask(desc_.width)))
        return false;
    memory_[address] = word;
    return true;
}

bool Node::stream_send(const std::vector<uint8_t> &bytes) {
    if (desc_.kind != NodeKind::stream || bytes.size() > to_host_.room())
        return false;
    for (uint8_t b : bytes)
        to_host_.push(b);
    return true;
}

std::vector<uint8_t> Node::stream_receive() {
    std::vector<uint8_t> out;
    uint8_t b;
    while (to_device_.pop(&b))
        out.push_back(b);
    return out;
}

bool Node::probe_set(const std::vector<uint8_t> &bits) {
    if (desc_.kind != NodeKind::probe || bits.size() != probe_.size())
        return false;
    store_vector(probe_, desc_.probe_width, bits.data());
    return true;
}

std::vector<uint8_t> Node::source_get() const {
    return source_;
}

} // namespace detail
} // namespace scxsim
