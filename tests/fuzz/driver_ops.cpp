// The API operations of the fuzz driver, each checked against the model.
#include <cstring>
#include <deque>

#include "driver.h"

namespace {

template <class T> T *marker() {
    static char cell;
    return reinterpret_cast<T *>(&cell);
}

const char *text_or_null(const std::string *text) {
    return text == nullptr ? nullptr : text->c_str();
}

bool same_info(const SLD_NODE_INFO &a, const SLD_NODE_INFO &b) {
    return a.instance_id == b.instance_id && a.manufacturer_id == b.manufacturer_id &&
           a.node_id == b.node_id && a.version == b.version;
}

bool all_zero(const SLD_NODE_INFO &info) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&info);
    for (size_t i = 0; i < sizeof info; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

} // namespace

void Driver::run_op(Op op) {
    begin_op(op);
    bool may_destroy = false;
    switch (op) {
    case Op::get_version:
        get_version();
        break;
    case Op::scan_log:
        scan_log();
        break;
    case Op::get_hardware:
        get_hardware();
        may_destroy = true;
        break;
    case Op::get_hardware_name:
        get_hardware_name();
        may_destroy = true;
        break;
    case Op::get_persistent_id:
        get_persistent_id();
        may_destroy = true;
        break;
    case Op::refresh_hardware: {
        SLD_ERROR got = sld_refresh_hardware();
        observe();
        // Out of memory is the one failure a refresh reports.
        expect(Api::refresh_hardware, got, got == SLD_NO_FREE_SLOT && out_of_memory() ? got : SLD_OK);
        may_destroy = true;
        break;
    }
    case Op::get_device:
        get_device();
        may_destroy = true;
        break;
    case Op::refresh_device:
        refresh_device();
        may_destroy = true;
        break;
    case Op::hub_open: {
        const std::string *name = pick_name();
        const std::string *device = pick_device();
        hub_open(name, device, in_.u8() % 32 == 31);
        // An open that retries on a fresh chain read ends hubs of changed devices.
        may_destroy = true;
        break;
    }
    case Op::hub_close:
        hub_close();
        break;
    case Op::scx_device_open:
        scx_device_open();
        break;
    case Op::raw_close:
        raw_close();
        break;
    case Op::get_scx_open_id:
        get_scx_open_id();
        break;
    case Op::number_of_nodes:
        number_of_nodes();
        break;
    case Op::node_info:
        node_info();
        break;
    case Op::node_open: {
        int hub_id = pick_hub_id();
        unsigned char index = in_.u8();
        ModelHub *hub = model_.live_hub(hub_id);
        if (hub != nullptr && index < 224)
            index = static_cast<unsigned char>(index % (hub->node_count + 1));
        node_open(hub_id, index, in_.u8() % 32 == 31);
        break;
    }
    case Op::node_close:
        node_close();
        break;
    case Op::hub_lock:
        hub_lock();
        break;
    case Op::hub_unlock:
        hub_unlock();
        break;
    case Op::node_lock:
        node_lock();
        break;
    case Op::node_unlock:
        node_unlock();
        break;
    case Op::access_ir:
        access_ir();
        break;
    case Op::access_dr:
        access_dr();
        break;
    case Op::batch:
        batch();
        break;
    case Op::rti:
        rti();
        break;
    case Op::flush:
        flush_or_delay(false);
        break;
    case Op::delay:
        flush_or_delay(true);
        break;
    case Op::broadcast_begin:
        broadcast_begin();
        break;
    case Op::broadcast_end:
        broadcast_end();
        break;
    case Op::hot_plug:
        hot_plug();
        break;
    case Op::fault:
        fault();
        break;
    case Op::open_many_hubs:
        open_many_hubs();
        may_destroy = true;
        break;
    case Op::open_many_nodes:
        open_many_nodes();
        break;
    case Op::count:
        break;
    }
    end_op(may_destroy);
}

void Driver::get_version() {
    uint8_t nulls = in_.u8() & 3;
    int major = -5;
    int minor = -5;
    SLD_ERROR got = sld_get_version(nulls & 1 ? nullptr : &major, nulls & 2 ? nullptr : &minor);
    if (nulls != 0) {
        expect(Api::get_version, got, SLD_NULL_ARGUMENT);
        if (major != -5 || minor != -5)
            mismatch("sld_get_version wrote a version when it refused");
        return;
    }
    expect(Api::get_version, got, SLD_OK);
    if (major != 1 || minor != 1)
        mismatch("sld_get_version wrote " + std::to_string(major) + "." + std::to_string(minor));
}

void Driver::scan_log() {
    switch (in_.u8() % 5) {
    case 0:
        sld_enable_scx_log();
        log_enabled_ = true;
        log_must_be_empty_ = false;
        return;
    case 1:
        sld_disable_scx_log();
        log_enabled_ = false;
        return;
    case 2:
        sld_clear_scx_log();
        log_must_be_empty_ = !log_enabled_;
        break;
    case 3:
        sld_get_scx_log_head(nullptr);
        return;
    default:
        break;
    }
    SLD_SCX_LOG_RECORD *head = marker<SLD_SCX_LOG_RECORD>();
    sld_get_scx_log_head(&head);
    if (head == marker<SLD_SCX_LOG_RECORD>())
        mismatch("sld_get_scx_log_head wrote nothing");
    if (log_must_be_empty_ && head != nullptr)
        mismatch("the scan log holds records it should not");
    unsigned long records = 0;
    unsigned sum = 0;
    for (SLD_SCX_LOG_RECORD *r = head; r != nullptr; r = r->next) {
        if (++records > 10000000UL)
            mismatch("the scan log does not end");
        if (r->kind == SLD_LOG_IR) {
            if (r->value != SLD_IR_SELECT_VIR && r->value != SLD_IR_SELECT_VDR)
                mismatch("an IR record of instruction " + std::to_string(r->value));
        } else if (r->kind == SLD_LOG_DR) {
            for (unsigned long i = 0; r->data != nullptr && i < (r->value + 7UL) / 8; ++i)
                sum += r->data[i];
        } else {
            mismatch("a scan log record of kind " + std::to_string(r->kind));
        }
    }
    history_.back() += " log records " + std::to_string(records) + " sum " + std::to_string(sum & 1);
}

void Driver::get_hardware() {
    uint8_t nulls = in_.u8() & 3;
    unsigned long count = 777;
    char **table = marker<char *>();
    SLD_ERROR got = sld_get_hardware(nulls & 1 ? nullptr : &count, nulls & 2 ? nullptr : &table);
    if (nulls != 0) {
        expect(Api::get_hardware, got, SLD_NULL_ARGUMENT);
        return;
    }
    observe();
    documented(Api::get_hardware, got);
    if (got == SLD_OK) {
        if (count == 0 || table == nullptr || table == marker<char *>())
            mismatch("sld_get_hardware succeeded without names");
        for (unsigned long i = 0; i < count && i < 1024; ++i)
            if (table[i] == nullptr || std::strlen(table[i]) > 4096)
                mismatch("sld_get_hardware listed a bad name");
        check_table(Api::get_hardware, table, count);
    } else if (got == SLD_HARDWARE_NOT_FOUND && count != 0) {
        mismatch("sld_get_hardware found nothing but wrote a count");
    }
    if (clean() && !out_of_memory()) {
        expect(Api::get_hardware, got, SLD_OK);
        std::vector<std::string> names(table, table + count);
        if (names != catalog_.hardware)
            mismatch("sld_get_hardware lists other names than on the untouched board");
    }
}

void Driver::get_hardware_name() {
    static const unsigned long IDS[] = {1, 2, 0, 3, 0xFFFFFFFFUL, 1000};
    unsigned long id = IDS[in_.u8() % 6];
    bool null_out = in_.u8() % 16 == 15;
    char *name = marker<char>();
    SLD_ERROR got = sld_get_hardware_name(id, null_out ? nullptr : &name);
    if (null_out) {
        expect(Api::get_hardware_name, got, SLD_NULL_ARGUMENT);
        return;
    }
    observe();
    documented(Api::get_hardware_name, got);
    if (got == SLD_OK && (name == nullptr || name == marker<char>()))
        mismatch("sld_get_hardware_name succeeded without a name");
    if (!clean() || out_of_memory())
        return;
    auto known = catalog_.short_names.find(id);
    if (known != catalog_.short_names.end()) {
        expect(Api::get_hardware_name, got, SLD_OK);
        if (known->second != name)
            mismatch("sld_get_hardware_name gave another name than on the untouched board");
    } else {
        expect(Api::get_hardware_name, got, SLD_HARDWARE_NOT_FOUND);
        if (name != nullptr)
            mismatch("sld_get_hardware_name wrote a name for an unknown id");
    }
}

void Driver::get_persistent_id() {
    const std::string *name = pick_name();
    bool null_out = in_.u8() % 16 == 15;
    unsigned long id = 777;
    SLD_ERROR got = sld_get_hardware_persistent_id(text_or_null(name), null_out ? nullptr : &id);
    if (name == nullptr || null_out) {
        expect(Api::get_hardware_persistent_id, got, SLD_NULL_ARGUMENT);
        if (id != 777)
            mismatch("sld_get_hardware_persistent_id wrote an id when it refused");
        return;
    }
    observe();
    documented(Api::get_hardware_persistent_id, got);
    if ((got == SLD_OK) != (id != 0) && got != SLD_NO_FREE_SLOT)
        mismatch("sld_get_hardware_persistent_id returned " + std::to_string(got) + " with id " +
                 std::to_string(id));
    if (!clean() || out_of_memory())
        return;
    auto known = catalog_.persistent_ids.find(*name);
    expect(Api::get_hardware_persistent_id, got, known == catalog_.persistent_ids.end() ? 1 : 0);
    if (known != catalog_.persistent_ids.end() && known->second != id)
        mismatch("sld_get_hardware_persistent_id gave another id than on the untouched board");
}

void Driver::get_device() {
    const std::string *name = pick_name();
    uint8_t nulls = in_.u8() & 3;
    unsigned long count = 777;
    char **table = marker<char *>();
    SLD_ERROR got =
        sld_get_device(text_or_null(name), nulls & 1 ? nullptr : &count, nulls & 2 ? nullptr : &table);
    if (name == nullptr || nulls != 0) {
        expect(Api::get_device, got, SLD_NULL_ARGUMENT);
        return;
    }
    observe();
    documented(Api::get_device, got);
    if (got == SLD_OK) {
        if (count == 0 || table == nullptr || table == marker<char *>())
            mismatch("sld_get_device succeeded without device strings");
        for (unsigned long i = 0; i < count; ++i) {
            if (table[i] == nullptr || table[i][0] != '@' || std::strlen(table[i]) > 127)
                mismatch("sld_get_device listed a malformed device string");
            bool seen = false;
            for (const std::string &d : seen_devices_)
                seen = seen || d == table[i];
            if (!seen && seen_devices_.size() < MAX_SEEN_DEVICES)
                seen_devices_.push_back(table[i]);
        }
        check_table(Api::get_device, table, count);
    } else if (got == SLD_DEVICE_NOT_FOUND && (count != 0 || table != nullptr) &&
               (count != 777 || table != marker<char *>())) {
        mismatch("sld_get_device found no devices but wrote something else than count 0 and null");
    }
    if (!clean() || out_of_memory())
        return;
    auto known = catalog_.device_answers.find(*name);
    if (known == catalog_.device_answers.end())
        return;
    expect(Api::get_device, got, known->second.status);
    if (got == SLD_OK && count != known->second.count)
        mismatch("sld_get_device counts another number of devices than on the untouched board");
}

void Driver::check_table(Api fn, char **table, unsigned long count) {
    std::vector<std::string> names(table, table + count);
    bool known = false;
    for (HandedTable &held : handed_tables_) {
        std::vector<std::string> now(held.table, held.table + held.names.size());
        if (held.fn == Api::get_device) {
            for (size_t i = 0; i < now.size(); ++i) {
                if (now[i].rfind("@" + std::to_string(i + 1) + ": ", 0) != 0)
                    mismatch("a device table handed out earlier holds a string of another position");
            }
            if (held.table == table) {
                known = true;
                if (held.fn != fn || held.names.size() != count)
                    mismatch("a device table handed out again with another length");
                held.names = names;
            }
            continue;
        }
        if (now != held.names)
            mismatch("a table of names handed out earlier no longer reads as it did");
        if (held.fn == fn && held.names == names) {
            known = true;
            if (held.table != table)
                mismatch(std::string(api_name(fn)) + " handed out another table for the same names");
        }
    }
    if (!known && handed_tables_.size() < MAX_HANDED_TABLES)
        handed_tables_.push_back(HandedTable{fn, table, names});
}

void Driver::refresh_device() {
    const std::string *name = pick_name();
    SLD_ERROR got = sld_refresh_device(text_or_null(name));
    observe();
    if (name == nullptr)
        expect(Api::refresh_device, got, SLD_NULL_ARGUMENT);
    else
        expect(Api::refresh_device, got, got == SLD_NO_FREE_SLOT && out_of_memory() ? got : SLD_OK);
}

void Driver::hub_open(const std::string *name, const std::string *device, bool null_id) {
    int id = -77;
    SLD_ERROR got = sld_hub_open(text_or_null(name), text_or_null(device), null_id ? nullptr : &id);
    if (name == nullptr || device == nullptr || null_id) {
        expect(Api::hub_open, got, SLD_NULL_ARGUMENT);
        if (id != -77)
            mismatch("sld_hub_open wrote a hub id when it refused");
        return;
    }
    observe();
    documented(Api::hub_open, got);
    const int want_id = model_.lowest_free_hub_id();
    auto cable = catalog_.persistent_ids.find(*name);
    const std::string key =
        (cable == catalog_.persistent_ids.end() ? std::string("?") : std::to_string(cable->second)) + "|" +
        *device;
    if (clean() && !out_of_memory() && !model_.device_held_elsewhere(nullptr, key)) {
        auto known = catalog_.opens.find({*name, *device});
        if (known != catalog_.opens.end())
            expect(Api::hub_open, got,
                   known->second == SLD_OK && want_id < 0 ? SLD_NO_FREE_SLOT : known->second);
    }
    if (got != SLD_OK) {
        if (id != (got == SLD_UNSUPPORTED_HUB ? -3 : -1))
            mismatch("sld_hub_open returned " + std::to_string(got) + " with hub id " + std::to_string(id));
        return;
    }
    if (want_id < 0 || id != want_id)
        mismatch("sld_hub_open gave hub id " + std::to_string(id) + ", the lowest free one is " +
                 std::to_string(want_id));
    notice_hubs_ended_by_open(id);
    SCX_OPEN *handle = nullptr;
    unsigned char count = 0;
    expect(Api::hub_get_scx_open_id, sld_hub_get_scx_open_id(id, &handle), SLD_OK);
    expect(Api::hub_get_number_of_nodes, sld_hub_get_number_of_nodes(id, &count), SLD_OK);
    if (handle == nullptr || count == 0)
        mismatch("an opened hub has no handle or no nodes");
    int shared = model_.alive_hub_with(handle);
    if (shared >= 0) {
        if (model_.hubs[static_cast<size_t>(shared)].node_count != count)
            mismatch("a shared hub reports another node count");
        model_.take_hub_id(id, shared);
        return;
    }
    ModelHub hub{handle, key, count, {}, true, false, false, true, std::vector<bool>(count, false)};
    for (unsigned index = 0; index < count; ++index) {
        SLD_NODE_INFO info;
        expect(Api::hub_get_node_info, sld_hub_get_node_info(id, static_cast<unsigned char>(index), &info),
               SLD_OK);
        hub.info.push_back(info);
    }
    model_.take_hub_id(id, model_.add_hub(hub));
}

// An open that retried on a fresh chain read may have ended hubs of changed
// devices, and the handle of one may have been reused for the new hub: the
// model learns of them before it decides whether the new id shares a hub.
void Driver::notice_hubs_ended_by_open(int new_id) {
    std::vector<bool> died(model_.hubs.size(), false);
    std::vector<bool> lives(model_.hubs.size(), false);
    for (int other : model_.hub_ids_in_use()) {
        if (other == new_id || model_.hub_refusal(other) != SLD_OK)
            continue;
        unsigned char count = 0;
        const size_t hub = static_cast<size_t>(model_.slots[other].hub);
        if (sld_hub_get_number_of_nodes(other, &count) == SLD_STALE_ID) {
            model_.mark_stale(other);
            died[hub] = true;
        } else {
            lives[hub] = true;
        }
    }
    for (size_t i = 0; i < died.size(); ++i)
        if (died[i] && lives[i])
            mismatch("an open ended only some hub ids of one hub object");
    model_.settle();
}

void Driver::hub_close() {
    int id = pick_hub_id();
    SLD_ERROR got = sld_hub_close(id);
    SLD_ERROR want = SLD_OK;
    if (id < 0 || id >= Model::HUB_IDS || !model_.slots[id].in_use)
        want = SLD_INVALID_HUB_ID;
    else if (model_.open_nodes(id) > 0)
        want = SLD_HUB_HAS_OPEN_NODES;
    expect(Api::hub_close, got, want);
    if (want == SLD_OK)
        model_.release_hub_id(id);
}

void Driver::scx_device_open() {
    const std::string *name = pick_name();
    const std::string *device = pick_device();
    bool null_out = in_.u8() % 16 == 15;
    SCX_OPEN *handle = marker<SCX_OPEN>();
    SLD_ERROR got =
        sld_scx_device_open(text_or_null(name), text_or_null(device), null_out ? nullptr : &handle);
    if (name == nullptr || device == nullptr || null_out) {
        expect(Api::scx_device_open, got, SLD_NULL_ARGUMENT);
        return;
    }
    documented(Api::scx_device_open, got);
    if (got == SLD_OK) {
        if (handle == nullptr || handle == marker<SCX_OPEN>())
            mismatch("sld_scx_device_open succeeded without a handle");
        raw_handles_.push_back(handle);
    } else if (handle != nullptr && handle != marker<SCX_OPEN>()) {
        mismatch("sld_scx_device_open failed with a handle");
    }
}

void Driver::raw_close() {
    uint8_t b = in_.u8();
    if (raw_handles_.empty())
        return;
    size_t i = b % raw_handles_.size();
    SCX_ERROR result = scx_close_device(raw_handles_[i]);
    raw_handles_.erase(raw_handles_.begin() + static_cast<long>(i));
    observe();
    if (clean() && result != SCX_NO_ERROR)
        mismatch("a raw handle from sld_scx_device_open does not close");
}

void Driver::get_scx_open_id() {
    int id = pick_hub_id();
    bool null_out = in_.u8() % 16 == 15;
    SCX_OPEN *handle = marker<SCX_OPEN>();
    SLD_ERROR got = sld_hub_get_scx_open_id(id, null_out ? nullptr : &handle);
    if (null_out) {
        expect(Api::hub_get_scx_open_id, got, SLD_NULL_ARGUMENT);
        return;
    }
    ModelHub *hub = model_.live_hub(id);
    expect(Api::hub_get_scx_open_id, got, hub != nullptr ? SLD_OK : SLD_DEVICE_NOT_FOUND);
    if (hub != nullptr ? handle != hub->handle : handle != marker<SCX_OPEN>())
        mismatch("sld_hub_get_scx_open_id wrote another handle than the hub's");
}

void Driver::number_of_nodes() {
    int id = pick_hub_id();
    bool null_out = in_.u8() % 16 == 15;
    unsigned char count = 99;
    SLD_ERROR got = sld_hub_get_number_of_nodes(id, null_out ? nullptr : &count);
    if (null_out) {
        expect(Api::hub_get_number_of_nodes, got, SLD_NULL_ARGUMENT);
        return;
    }
    expect(Api::hub_get_number_of_nodes, got, model_.hub_refusal(id));
    ModelHub *hub = model_.live_hub(id);
    if (count != (hub != nullptr ? hub->node_count : 0))
        mismatch("sld_hub_get_number_of_nodes wrote count " + std::to_string(count));
}

void Driver::node_info() {
    int id = pick_hub_id();
    unsigned char index = in_.u8();
    bool null_out = in_.u8() % 16 == 15;
    ModelHub *hub = model_.live_hub(id);
    if (hub != nullptr && index < 224)
        index = static_cast<unsigned char>(index % (hub->node_count + 1));
    SLD_NODE_INFO info;
    std::memset(&info, 0xAB, sizeof info);
    SLD_ERROR got = sld_hub_get_node_info(id, index, null_out ? nullptr : &info);
    if (null_out) {
        expect(Api::hub_get_node_info, got, SLD_NULL_ARGUMENT);
        return;
    }
    if (hub == nullptr) {
        expect(Api::hub_get_node_info, got, model_.hub_refusal(id));
    } else if (index >= hub->node_count) {
        expect(Api::hub_get_node_info, got, SLD_INVALID_NODE_INDEX);
    } else {
        expect(Api::hub_get_node_info, got, SLD_OK);
        if (!same_info(info, hub->info[index]))
            mismatch("sld_hub_get_node_info gave another record than after the open");
        return;
    }
    if (!all_zero(info))
        mismatch("sld_hub_get_node_info refused without clearing the record");
}

void Driver::node_open(int hub_id, unsigned char index, bool null_id) {
    int id = -77;
    SLD_ERROR got = sld_node_open(hub_id, index, null_id ? nullptr : &id);
    if (null_id) {
        expect(Api::node_open, got, SLD_NULL_ARGUMENT);
        return;
    }
    ModelHub *hub = model_.live_hub(hub_id);
    SLD_ERROR want = SLD_OK;
    int want_id = -1;
    if (hub == nullptr)
        want = model_.hub_refusal(hub_id);
    else if (index >= hub->node_count)
        want = SLD_INVALID_NODE_INDEX;
    else if ((want_id = model_.lowest_free_node_id()) < 0)
        want = SLD_NO_FREE_SLOT;
    expect(Api::node_open, got, want);
    if (id != want_id)
        mismatch("sld_node_open wrote node id " + std::to_string(id) + ", expected " +
                 std::to_string(want_id));
    if (want == SLD_OK)
        model_.take_node_id(id, hub_id, index);
}

void Driver::node_close() {
    int id = pick_node_id();
    SLD_ERROR got = sld_node_close(id);
    bool open = id >= 0 && id < Model::NODE_IDS && model_.nodes[id].hub_id >= 0;
    expect(Api::node_close, got, open ? SLD_OK : SLD_INVALID_NODE_ID);
    if (open)
        model_.release_node_id(id);
}

void Driver::lock(Api fn, SLD_ERROR refusal, ModelHub *hub, SLD_ERROR got) {
    observe();
    if (hub == nullptr) {
        expect(fn, got, refusal);
        return;
    }
    if (hub->held) {
        expect(fn, got, SLD_ALREADY_LOCKED);
        return;
    }
    documented(fn, got);
    if (predictable(hub))
        expect(fn, got, SLD_OK);
    hub->held = got == SLD_OK;
}

void Driver::unlock(Api fn, SLD_ERROR refusal, ModelHub *hub, SLD_ERROR got) {
    observe();
    if (hub == nullptr) {
        expect(fn, got, refusal);
        return;
    }
    if (!hub->held) {
        expect(fn, got, SLD_NOT_LOCKED);
        return;
    }
    documented(fn, got);
    if (clean())
        expect(fn, got, SLD_OK);
    hub->held = false;
}

void Driver::hub_lock() {
    int id = pick_hub_id();
    unsigned long timeout = pick_small();
    SLD_ERROR got = sld_hub_lock(id, timeout);
    lock(Api::hub_lock, SLD_DEVICE_NOT_FOUND, model_.live_hub(id), got);
}

void Driver::hub_unlock() {
    int id = pick_hub_id();
    SLD_ERROR got = sld_hub_unlock(id);
    unlock(Api::hub_unlock, SLD_DEVICE_NOT_FOUND, model_.live_hub(id), got);
}

void Driver::node_lock() {
    int id = pick_node_id();
    bool manual = in_.flag();
    unsigned long timeout = pick_small();
    SLD_ERROR got = manual ? sld_node_lock_manual(id, timeout) : sld_node_lock(id, timeout);
    NodeTarget target = model_.node(id);
    lock(manual ? Api::node_lock_manual : Api::node_lock, target.refusal, target.hub, got);
}

void Driver::node_unlock() {
    int id = pick_node_id();
    SLD_ERROR got = sld_node_unlock(id);
    NodeTarget target = model_.node(id);
    unlock(Api::node_unlock, target.refusal, target.hub, got);
}

void Driver::access_ir() {
    int id = pick_node_id();
    unsigned long value = in_.u32();
    bool capture = in_.flag();
    unsigned long delay = pick_small();
    unsigned long captured = 0xC0FFEE;
    SLD_ERROR got = sld_node_access_ir(id, value, capture ? &captured : nullptr, delay);
    observe();
    NodeTarget target = model_.node(id);
    if (target.hub == nullptr) {
        expect(Api::node_access_ir, got, target.refusal);
        return;
    }
    ModelHub &hub = *target.hub;
    if (hub.broadcasting) {
        // A scan that asks for a capture is refused and queues nothing.
        if (capture)
            expect(Api::node_access_ir, got, SLD_BROADCAST_ACTIVE);
        else if (hub.queue_known)
            expect(Api::node_access_ir, got, hub.queued[target.index] ? SLD_NODE_ALREADY_QUEUED : SLD_OK);
        else if (got != SLD_OK && got != SLD_NODE_ALREADY_QUEUED)
            mismatch("a queued instruction scan returned " + std::to_string(got));
        if (!capture)
            hub.queued[target.index] = true;
        if (captured != 0xC0FFEE)
            mismatch("an instruction scan wrote its capture word while the hub broadcasts");
        return;
    }
    documented(Api::node_access_ir, got);
    // Only a capture is refused for the hub's width, and before any scan.
    if (got == SLD_UNSUPPORTED_HUB && (!capture || captured != 0xC0FFEE))
        mismatch("an instruction scan was refused as unsupported without asking for a capture, or wrote "
                 "its capture word");
    if (predictable(&hub))
        expect(Api::node_access_ir, got, SLD_OK);
}

void Driver::access_dr() {
    int id = pick_node_id();
    unsigned long length = pick_length();
    uint8_t buffers = in_.u8();
    unsigned long delay = pick_small();
    std::vector<unsigned char> write((length + 7) / 8, static_cast<unsigned char>(buffers * 37));
    std::vector<unsigned char> read((length + 7) / 8, 0);
    SLD_ERROR got = sld_node_access_dr(id, length, buffers & 1 ? write.data() : nullptr,
                                       buffers & 2 ? read.data() : nullptr, delay);
    observe();
    NodeTarget target = model_.node(id);
    if (target.hub == nullptr) {
        expect(Api::node_access_dr, got, target.refusal);
        return;
    }
    documented(Api::node_access_dr, got);
    if (predictable(target.hub))
        expect(Api::node_access_dr, got, SLD_OK);
}

void Driver::batch() {
    bool null_records = in_.u8() % 32 == 31;
    int id = pick_node_id();
    unsigned count = in_.u8() % 9;
    std::vector<SLD_BATCH_ACCESS> records;
    std::deque<std::vector<unsigned char>> buffers;
    std::deque<unsigned long> captures;
    for (unsigned i = 0; i < count; ++i) {
        uint8_t kind = in_.u8() % 8;
        SLD_BATCH_ACCESS r = {0, 0, 0, 0, 0};
        if (kind >= 1 && kind <= 3) {
            r.kind = SLD_BATCH_IR;
            r.write = in_.u32();
            if (in_.flag()) {
                captures.push_back(0);
                r.read = reinterpret_cast<unsigned long>(&captures.back());
            }
            r.delay = pick_small();
        } else if (kind >= 4 && kind <= 6) {
            r.kind = SLD_BATCH_DR;
            r.length = pick_length() % (1UL << 16);
            uint8_t which = in_.u8();
            buffers.emplace_back((r.length + 7) / 8, static_cast<unsigned char>(which));
            if (which & 1)
                r.write = reinterpret_cast<unsigned long>(buffers.back().data());
            buffers.emplace_back((r.length + 7) / 8, 0);
            if (which & 2)
                r.read = reinterpret_cast<unsigned long>(buffers.back().data());
            r.delay = pick_small();
        } else {
            r.kind = kind == 0 ? SLD_BATCH_END : 3 + in_.u8();
        }
        records.push_back(r);
    }
    records.push_back(SLD_BATCH_ACCESS{SLD_BATCH_END, 0, 0, 0, 0});
    SLD_ERROR got = sld_node_batch_access(id, null_records ? nullptr : records.data());
    observe();
    if (null_records) {
        expect(Api::node_batch_access, got, SLD_NULL_ARGUMENT);
        return;
    }
    NodeTarget target = model_.node(id);
    if (target.hub == nullptr) {
        expect(Api::node_batch_access, got, target.refusal);
        return;
    }
    documented(Api::node_batch_access, got);
    // What the batch does when every scan succeeds.
    ModelHub &hub = *target.hub;
    SLD_ERROR predicted = SLD_OK;
    bool queued = hub.broadcasting && hub.queued[target.index];
    for (const SLD_BATCH_ACCESS &r : records) {
        if (r.kind != SLD_BATCH_IR && r.kind != SLD_BATCH_DR)
            break;
        if (r.kind == SLD_BATCH_IR && hub.broadcasting) {
            if (r.read != 0) {
                predicted = SLD_BROADCAST_ACTIVE;
                break;
            }
            if (queued) {
                predicted = SLD_NODE_ALREADY_QUEUED;
                break;
            }
            queued = true;
        }
    }
    if (!hub.queue_known) {
        // What was queued before is not known: only the documented set holds.
        if (hub.broadcasting && queued)
            hub.queued[target.index] = true;
        return;
    }
    if (predictable(&hub))
        expect(Api::node_batch_access, got, predicted);
    bool queue_answer = got == SLD_OK || got == SLD_NODE_ALREADY_QUEUED || got == SLD_BROADCAST_ACTIVE;
    if (queue_answer && got != predicted)
        mismatch("a batch returned " + std::to_string(got) + " where its queue gives " +
                 std::to_string(predicted));
    if (queue_answer) {
        if (hub.broadcasting && queued)
            hub.queued[target.index] = true;
    } else if (hub.broadcasting) {
        hub.queue_known = false;
    }
}

void Driver::rti() {
    int id = pick_node_id();
    unsigned long count = pick_small();
    SLD_ERROR got = sld_node_rti(id, count);
    observe();
    NodeTarget target = model_.node(id);
    if (target.hub == nullptr) {
        expect(Api::node_rti, got, target.refusal);
        return;
    }
    documented(Api::node_rti, got);
    if (predictable(target.hub))
        expect(Api::node_rti, got, SLD_OK);
}

void Driver::flush_or_delay(bool delay) {
    int id = pick_node_id();
    unsigned long amount = pick_small();
    Api fn = delay ? Api::node_delay : Api::node_flush;
    SLD_ERROR got = delay ? sld_node_delay(id, amount) : sld_node_flush(id);
    observe();
    NodeTarget target = model_.node(id);
    if (target.hub == nullptr) {
        expect(fn, got, target.refusal);
        return;
    }
    if (!target.hub->held) {
        expect(fn, got, SLD_NOT_LOCKED);
        return;
    }
    if (delay && amount == 0) {
        expect(fn, got, SLD_OK);
        return;
    }
    documented(fn, got);
    if (clean())
        expect(fn, got, SLD_OK);
}

void Driver::broadcast_begin() {
    int id = pick_hub_id();
    SLD_ERROR got = sld_hub_broadcast_begin(id);
    observe();
    ModelHub *hub = model_.live_hub(id);
    if (hub == nullptr) {
        expect(Api::hub_broadcast_begin, got, model_.hub_refusal(id));
        return;
    }
    if (hub->broadcasting) {
        expect(Api::hub_broadcast_begin, got, SLD_BROADCAST_ACTIVE);
        return;
    }
    if (got == SLD_NO_FREE_SLOT && out_of_memory())
        return;
    expect(Api::hub_broadcast_begin, got, SLD_OK);
    hub->broadcasting = true;
    hub->queue_known = true;
    hub->queued.assign(hub->node_count, false);
}

void Driver::broadcast_end() {
    int id = pick_hub_id();
    SLD_ERROR got = sld_hub_broadcast_end(id);
    observe();
    ModelHub *hub = model_.live_hub(id);
    if (hub == nullptr) {
        expect(Api::hub_broadcast_end, got, model_.hub_refusal(id));
        return;
    }
    if (!hub->broadcasting) {
        expect(Api::hub_broadcast_end, got, SLD_BROADCAST_INACTIVE);
        return;
    }
    // A failed scan of the sequence is the result; the end is complete anyway.
    documented(Api::hub_broadcast_end, got);
    if (got == SLD_BROADCAST_INACTIVE || predictable(hub))
        expect(Api::hub_broadcast_end, got, SLD_OK);
    hub->broadcasting = false;
    hub->queue_known = true;
    hub->queued.assign(hub->node_count, false);
    hub->held = false;
}

void Driver::open_many_hubs() {
    const std::string *name = pick_name();
    const std::string *device = pick_device();
    unsigned n = 1 + in_.u8();
    for (unsigned i = 0; i < n; ++i)
        hub_open(name, device, false);
}

void Driver::open_many_nodes() {
    int hub_id = pick_hub_id();
    unsigned char index = in_.u8() % 4;
    unsigned n = 1 + in_.u16() % 600;
    for (unsigned i = 0; i < n; ++i)
        node_open(hub_id, index, false);
}
