// The exported scan-log functions. Switching the log and reading its head
// are single atomic operations and take no lock; clearing frees records,
// so it waits for running scans by taking the library mutex.
#include "frame/manager.h"

void sld_enable_scx_log(void) {
    ROZI_VUV_MANAGER::get_manager()->enable_scx_log();
}

void sld_disable_scx_log(void) {
    ROZI_VUV_MANAGER::get_manager()->disable_scx_log();
}

void sld_clear_scx_log(void) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    manager->lock_mutex();
    manager->clear_scx_log();
    manager->unlock_mutex();
}

void sld_get_scx_log_head(SLD_SCX_LOG_RECORD **head) {
    ROZI_VUV_MANAGER *manager = ROZI_VUV_MANAGER::get_manager();
    if (head == nullptr)
        return;
    *head = manager->get_scx_log_head();
}
