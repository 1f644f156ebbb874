// Write-behind: write-only scans of a handle that holds its device lock
// are held back and go with the next message to the server (a read, a
// flush, the unlock), or on their own after HOLD_WAIT. A thread sends those
// that nobody else sends, and gives up grants kept after an unlock once
// they have waited KEEP_WAIT or somebody waits for them.
#include <thread>

#include "openocd_backend.h"

namespace scxopenocd {
namespace detail {

bool OpenOcdBackend::hold_call(const DeviceHandle &device, unsigned long bits, const char *op,
                               std::initializer_list<std::string_view> args) {
    if (!servers_[device.server]->hold(device.generation, device.owner, bits, op, args)) {
        return false;
    }
    wake_sender();
    return true;
}

void OpenOcdBackend::wake_sender() {
    std::call_once(sender_started_, [this] {
        // The backend is never destroyed, so the thread may outlive main.
        std::thread([this] {
            std::unique_lock<std::mutex> wait_for(sender_mutex_);
            while (true) {
                sender_wake_.wait(wait_for, [this] { return sender_due_; });
                sender_due_ = false;
                wait_for.unlock();
                std::this_thread::sleep_for(HOLD_WAIT);
                bool still_due = false;
                for (const auto &server : servers_) {
                    server->send_held(false);
                    still_due = still_due || server->holding();
                }
                still_due = release_kept(false) || still_due;
                wait_for.lock();
                sender_due_ = sender_due_ || still_due;
            }
        }).detach();
    });
    {
        std::lock_guard<std::mutex> hold(sender_mutex_);
        sender_due_ = true;
    }
    sender_wake_.notify_one();
}

bool OpenOcdBackend::release_kept(bool all) {
    struct Release {
        uintptr_t token;
        DeviceHandle device;
    };
    std::vector<Release> due;
    bool still_kept = false;
    {
        std::lock_guard<std::mutex> hold(state_);
        const Clock::time_point now = Clock::now();
        for (auto &entry : devices_) {
            DeviceHandle &device = entry.second;
            if (!device.kept) {
                continue;
            }
            if (all || now - device.kept_since >= KEEP_WAIT || servers_[device.server]->waiters()) {
                device.kept = false;
                device.releasing = true;
                due.push_back({entry.first, device});
            } else {
                still_kept = true;
            }
        }
    }
    for (const Release &release : due) {
        const DeviceHandle &device = release.device;
        Reply reply;
        servers_[device.server]->call(device.generation, "unlock",
                                      {"d." + device.tap, device.owner, device.epoch}, REPLY_WAIT, &reply,
                                      device.owner);
        std::lock_guard<std::mutex> hold(state_);
        const auto it = devices_.find(release.token);
        if (it != devices_.end()) {
            it->second.releasing = false;
        }
    }
    if (!due.empty()) {
        released_.notify_all();
    }
    return still_kept;
}

SCX_ERROR OpenOcdBackend::held_failure(SCX_OPEN *handle, const DeviceHandle &device) {
    CallOutcome outcome = CallOutcome::answered;
    Reply reply;
    if (!servers_[device.server]->take_held_failure(device.owner, &outcome, &reply)) {
        return SCX_NO_ERROR;
    }
    note_reply(handle, reply);
    return answer_of(outcome, reply);
}

} // namespace detail
} // namespace scxopenocd
