// Write-behind: write-only DR scans of a handle that holds its device lock
// are held back and go with the next message to the server (a read, a
// flush, the unlock), or on their own after HOLD_WAIT. A thread sends those
// that nobody else sends.
#include <thread>

#include "openocd_backend.h"

namespace scxopenocd {
namespace detail {

bool OpenOcdBackend::hold_scan(const DeviceHandle &device, unsigned long length, std::string_view value) {
    const std::string bits = hex_number(length);
    if (!servers_[device.server]->hold(device.generation, device.owner, length, "dr",
                                       {device.owner, device.tap, bits, value})) {
        return false;
    }
    std::call_once(sender_started_, [this] {
        // The backend is never destroyed, so the thread may outlive main.
        std::thread([this] {
            std::unique_lock<std::mutex> wait_for(sender_mutex_);
            while (true) {
                sender_wake_.wait(wait_for, [this] { return sender_due_; });
                sender_due_ = false;
                wait_for.unlock();
                std::this_thread::sleep_for(HOLD_WAIT);
                bool still_holding = false;
                for (const auto &server : servers_) {
                    server->send_held(false);
                    still_holding = still_holding || server->holding();
                }
                wait_for.lock();
                sender_due_ = sender_due_ || still_holding;
            }
        }).detach();
    });
    {
        std::lock_guard<std::mutex> hold(sender_mutex_);
        sender_due_ = true;
    }
    sender_wake_.notify_one();
    return true;
}

SCX_ERROR OpenOcdBackend::held_failure(const DeviceHandle &device) {
    Reply reply;
    if (!servers_[device.server]->take_held_failure(device.owner, &reply)) {
        return SCX_NO_ERROR;
    }
    return answer_of(CallOutcome::answered, reply);
}

} // namespace detail
} // namespace scxopenocd
