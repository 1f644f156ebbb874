// The frame around every scan of a hub: one level of the library mutex with
// the last error reset, and, when the calling thread does not hold the hub
// lock, the device locked for this one operation and unlocked at its end.
#ifndef SLD_HUB_IMPLICIT_LOCK_H
#define SLD_HUB_IMPLICIT_LOCK_H

#include "frame/manager.h"
#include "hub/hub.h"

const unsigned long SLD_IMPLICIT_LOCK_TIMEOUT = 6000;

class ROZI_VUV_IMPLICIT_LOCK {
  public:
    ROZI_VUV_IMPLICIT_LOCK(ROZI_VUV_MANAGER *manager, ROZI_VUV_HUB *hub)
        : manager_(manager), level_(manager), handle_(hub->open_handle), held_(manager->is_hub_locked(hub)),
          taken_(false), result_(SLD_OK) {
        if (held_)
            return;
        SCX_ERROR r = scx_lock(handle_, SLD_IMPLICIT_LOCK_TIMEOUT, SCX_PACK_STYLE_AUTO);
        if (r != SCX_NO_ERROR)
            record(r);
        else
            taken_ = true;
    }

    // A safety net: every path is expected to end through fail() or finish().
    ~ROZI_VUV_IMPLICIT_LOCK() {
        if (taken_)
            scx_unlock(handle_);
    }

    ROZI_VUV_IMPLICIT_LOCK(const ROZI_VUV_IMPLICIT_LOCK &) = delete;
    ROZI_VUV_IMPLICIT_LOCK &operator=(const ROZI_VUV_IMPLICIT_LOCK &) = delete;

    // The device may be scanned: the thread holds the hub, or the implicit
    // lock was granted.
    bool ready() const { return result_ == SLD_OK; }
    // The thread holds the hub lock, so the instruction cache may be trusted.
    bool held() const { return held_; }
    SLD_ERROR result() const { return result_; }

    // Ends the operation on a failed SCX call: its code becomes the result;
    // an implicit lock is released with its own result ignored.
    SLD_ERROR fail(SCX_ERROR r) {
        record(r);
        if (taken_) {
            taken_ = false;
            scx_unlock(handle_);
        }
        return result_;
    }

    // Ends the operation after its calls succeeded; a failed release of the
    // implicit lock becomes the result.
    SLD_ERROR finish() {
        if (taken_) {
            taken_ = false;
            SCX_ERROR r = scx_unlock(handle_);
            if (r != SCX_NO_ERROR)
                record(r);
        }
        return result_;
    }

  private:
    void record(SCX_ERROR r) {
        manager_->set_last_error_from_scx_error(r);
        result_ = manager_->last_error;
    }

    ROZI_VUV_MANAGER *manager_;
    ROZI_VUV_CALL_LEVEL level_; // released last, after any unlock above
    SCX_OPEN *handle_;
    bool held_;
    bool taken_;
    SLD_ERROR result_;
};

#endif
