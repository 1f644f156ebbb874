// The scan log: a list of public records, appended by scanning threads
// under the library mutex and read by callers without it. The switch and
// the head are atomics; a head is published with release order after its
// record is complete, so a reader that sees it sees the record's fields.
#include "frame/manager.h"

#include <cstdint>
#include <cstring>

#include "frame/memory.h"

void ROZI_VUV_MANAGER::enable_scx_log() {
    log_enabled.store(true, std::memory_order_release);
}

void ROZI_VUV_MANAGER::disable_scx_log() {
    log_enabled.store(false, std::memory_order_release);
}

SLD_SCX_LOG_RECORD *ROZI_VUV_MANAGER::get_scx_log_head() {
    return log_head.load(std::memory_order_acquire);
}

namespace {

void frame_append_log_record(ROZI_VUV_MANAGER *manager, SLD_SCX_LOG_RECORD *record) {
    if (manager->log_tail == nullptr) {
        manager->log_tail = record;
        manager->log_head.store(record, std::memory_order_release);
    } else {
        manager->log_tail->next = record;
        manager->log_tail = record;
    }
}

} // namespace

void ROZI_VUV_MANAGER::log_scx_access_ir(unsigned long value) {
    if (!log_enabled.load(std::memory_order_acquire))
        return;
    // A record that cannot be allocated is dropped; the scan goes on.
    SLD_SCX_LOG_RECORD *record = sld_new<SLD_SCX_LOG_RECORD>();
    if (record == nullptr)
        return;
    record->kind = SLD_LOG_IR;
    record->value = static_cast<unsigned int>(value);
    record->data = nullptr;
    record->next = nullptr;
    frame_append_log_record(this, record);
}

void ROZI_VUV_MANAGER::log_scx_access_dr(unsigned long length, const unsigned char *write_bits) {
    if (!log_enabled.load(std::memory_order_acquire))
        return;
    SLD_SCX_LOG_RECORD *record = sld_new<SLD_SCX_LOG_RECORD>();
    if (record == nullptr)
        return;
    record->kind = SLD_LOG_DR;
    record->value = static_cast<unsigned int>(length);
    record->data = nullptr;
    record->next = nullptr;
    // The copy matches the recorded 32-bit length; counted in 64 bits so that
    // a length near 2^32 does not wrap to an empty copy.
    std::uint64_t bytes = (static_cast<std::uint64_t>(record->value) + 7) / 8;
    if (write_bits != nullptr && bytes > 0) {
        unsigned char *copy = sld_new_array<unsigned char>(static_cast<std::size_t>(bytes));
        if (copy == nullptr) {
            sld_delete(record);
            return;
        }
        std::memcpy(copy, write_bits, static_cast<std::size_t>(bytes));
        record->data = copy;
    }
    frame_append_log_record(this, record);
}

void ROZI_VUV_MANAGER::clear_scx_log() {
    // Detach first, so a reader that fetches the head from now on gets null.
    SLD_SCX_LOG_RECORD *record = log_head.exchange(nullptr, std::memory_order_acq_rel);
    log_tail = nullptr;
    while (record != nullptr) {
        SLD_SCX_LOG_RECORD *next = record->next;
        if (record->kind == SLD_LOG_DR && record->data != nullptr)
            sld_delete_array(record->data);
        sld_delete(record);
        record = next;
    }
}
