/*
 * sld_status.h - the statuses of sld.h in words, for messages.
 *
 * Header only: the functions are static inline and add nothing to the
 * library's exports, so a program may use them with any libsld.so 1.x.
 *
 *     SLD_ERROR status = sld_hub_open(cable, device, &hub_id);
 *     if (status != SLD_OK)
 *         fprintf(stderr, "sld_hub_open: %s (%s)\n", sld_status_name(status), sld_status_text(status));
 */
#ifndef SLD_STATUS_H
#define SLD_STATUS_H

#include "sld.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One status: its name as in sld.h and a line of plain words. */
typedef struct SLD_STATUS_INFO {
    SLD_ERROR status;
    const char *name;
    const char *text;
} SLD_STATUS_INFO;

/* The entry of a status, or null for a value sld.h does not define. */
static inline const SLD_STATUS_INFO *sld_status_info(SLD_ERROR status) {
    static const SLD_STATUS_INFO statuses[] = {
        {SLD_OK, "SLD_OK", "success"},
        {SLD_HARDWARE_NOT_FOUND, "SLD_HARDWARE_NOT_FOUND", "no JTAG hardware of that name or persistent id"},
        {SLD_DEVICE_NOT_FOUND, "SLD_DEVICE_NOT_FOUND",
         "no such device on the chain, the chain has gone, or the hub id is not usable"},
        {SLD_INVALID_HUB_ID, "SLD_INVALID_HUB_ID", "the hub id is out of range or not open"},
        {SLD_UNSUPPORTED_HUB, "SLD_UNSUPPORTED_HUB",
         "the device's hub has a version this library does not support, or cannot capture that node's "
         "instruction"},
        {SLD_INVALID_NODE_ID, "SLD_INVALID_NODE_ID", "the node id is not open, or its node has gone"},
        {SLD_INVALID_NODE_INDEX, "SLD_INVALID_NODE_INDEX",
         "the node index is not below the hub's node count"},
        {SLD_JTAG_ERROR, "SLD_JTAG_ERROR", "the JTAG client library failed in an unexpected way"},
        {SLD_HUB_NOT_FOUND, "SLD_HUB_NOT_FOUND", "the device does not answer as a valid hub"},
        {SLD_NO_FREE_SLOT, "SLD_NO_FREE_SLOT", "all hub ids or node ids are in use, or memory ran out"},
        {SLD_HUB_HAS_OPEN_NODES, "SLD_HUB_HAS_OPEN_NODES", "the hub id still has node ids open"},
        {SLD_SERVER_ERROR, "SLD_SERVER_ERROR", "the JTAG server failed"},
        {SLD_STALE_ID, "SLD_STALE_ID",
         "the hardware or its chain changed and the id's hub is gone; open the hub again"},
        {SLD_BROADCAST_ACTIVE, "SLD_BROADCAST_ACTIVE",
         "the hub is broadcasting (begun twice, or a capture asked while it queues)"},
        {SLD_BROADCAST_INACTIVE, "SLD_BROADCAST_INACTIVE", "a broadcast was ended without being begun"},
        {SLD_NODE_ALREADY_QUEUED, "SLD_NODE_ALREADY_QUEUED",
         "a second instruction for the same node in one broadcast"},
        {SLD_ALREADY_LOCKED, "SLD_ALREADY_LOCKED",
         "the hub is already locked by this thread, or another client holds the device"},
        {SLD_NOT_LOCKED, "SLD_NOT_LOCKED", "the hub is not locked by this thread"},
        {SLD_SERVER_ERROR_70, "SLD_SERVER_ERROR_70", "the JTAG server reported an internal error (46)"},
        {SLD_NULL_ARGUMENT, "SLD_NULL_ARGUMENT", "a required pointer argument was null"},
    };
    unsigned i;
    for (i = 0; i < sizeof statuses / sizeof statuses[0]; ++i) {
        if (statuses[i].status == status) {
            return &statuses[i];
        }
    }
    return 0;
}

/* "SLD_STALE_ID" for 12; "unknown status" for a value sld.h does not define. */
static inline const char *sld_status_name(SLD_ERROR status) {
    const SLD_STATUS_INFO *info = sld_status_info(status);
    return info ? info->name : "unknown status";
}

/* One line saying what went wrong, for a user who has not read sld.h. */
static inline const char *sld_status_text(SLD_ERROR status) {
    const SLD_STATUS_INFO *info = sld_status_info(status);
    return info ? info->text : "a status sld.h does not define";
}

#ifdef __cplusplus
}
#endif

#endif /* SLD_STATUS_H */
