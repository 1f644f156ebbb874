// Hub locks: the device lock of the hub's handle plus one level of the
// library mutex that the locking thread keeps until it unlocks.
#include "frame/manager.h"
#include "hub/hub.h"

SLD_ERROR ROZI_VUV_HUB::lock(unsigned long timeout) {
    return lock_with_style(timeout, SCX_PACK_STYLE_AUTO);
}

SLD_ERROR ROZI_VUV_HUB::lock_manual(unsigned long timeout) {
    return lock_with_style(timeout, SCX_PACK_STYLE_MANUAL);
}

SLD_ERROR ROZI_VUV_HUB::lock_with_style(unsigned long timeout, SCX_PACK_STYLE style) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    // Decided from this thread's list alone: no level, no SCX call.
    if (manager->is_hub_locked(this))
        return SLD_ALREADY_LOCKED;

    ROZI_VUV_CALL_LEVEL level(manager);
    SCX_ERROR r = scx_lock(open_handle, timeout, style);
    if (r != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(r);
        return manager->last_error;
    }
    if (!manager->set_hub_locked(this)) {
        // Without a list entry nobody could release the hold: undo it.
        scx_unlock(open_handle);
        manager->last_error = SLD_NO_FREE_SLOT;
        return SLD_NO_FREE_SLOT;
    }
    // While the device was not held, another handle or client may have
    // loaded another instruction: the first scan of this hold loads its own.
    cached_ir = SLD_IR_UNKNOWN;
    level.keep(); // released by unlock()
    return SLD_OK;
}

SLD_ERROR ROZI_VUV_HUB::unlock() {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (!manager->is_hub_locked(this))
        return SLD_NOT_LOCKED;

    SLD_ERROR result = SLD_OK;
    SCX_ERROR r = scx_unlock(open_handle);
    if (r != SCX_NO_ERROR) {
        manager->set_last_error_from_scx_error(r);
        result = manager->last_error;
    }
    // The hold ends even when the device refused to unlock.
    manager->set_hub_unlocked(this);
    manager->unlock_mutex();
    return result;
}

void ROZI_VUV_HUB::release_hold_at_destruction() {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (!manager->is_hub_locked(this))
        return;
    if (open_handle != nullptr)
        scx_unlock(open_handle);
    manager->set_hub_unlocked(this);
    manager->unlock_mutex();
}
