// The encoding of a fuzz input: a sequence of operations, each one byte
// naming it followed by the bytes of its arguments. Reads past the end give
// zeros, so every byte string decodes.
#ifndef SLD_TESTS_FUZZ_FUZZ_INPUT_H
#define SLD_TESTS_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

enum class Op : uint8_t {
    get_version,
    scan_log, // sub: enable, disable, clear, walk
    get_hardware,
    get_hardware_name,
    get_persistent_id,
    refresh_hardware,
    get_device,
    refresh_device,
    hub_open,
    hub_close,
    scx_device_open,
    raw_close,
    get_scx_open_id,
    number_of_nodes,
    node_info,
    node_open,
    node_close,
    hub_lock,
    hub_unlock,
    node_lock,
    node_unlock,
    access_ir,
    access_dr,
    batch,
    rti,
    flush,
    delay,
    broadcast_begin,
    broadcast_end,
    hot_plug,        // sub: see HotPlug
    fault,           // sub: see FaultKind
    open_many_hubs,  // the same hub opened up to 256 times
    open_many_nodes, // a node opened up to 600 times
    count
};

enum class HotPlug : uint8_t {
    remove_cable,
    add_cable,
    renew_chain_handle,
    set_flags,
    set_name,
    set_idcode,
    remove_device,
    insert_device,
    replace_device,
    foreign_lock_device,
    foreign_unlock_device,
    foreign_lock_chain,
    foreign_unlock_chain,
    count
};

enum class FaultKind : uint8_t { fail_call, fail_every, clear, fail_allocation, count };

// Argument bytes that pick a hub or node id: below this value they name an
// id the model knows, above it one of a table of edge values.
const uint8_t PICK_KNOWN_LIMIT = 192;

class FuzzInput {
  public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size), at_(0) {}

    bool done() const { return at_ >= size_; }
    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() {
        uint16_t low = u8();
        return static_cast<uint16_t>(low | (u8() << 8));
    }
    uint32_t u32() {
        uint32_t low = u16();
        return low | (static_cast<uint32_t>(u16()) << 16);
    }
    bool flag() { return (u8() & 1) != 0; }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t at_;
};

#endif
