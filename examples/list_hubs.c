/*
 * list_hubs: every cable, every device on its chain, and for each device
 * with a usable hub the nodes behind it.
 *
 * Shows the enumeration calls, what to do with each status they return,
 * and that every hub id opened is closed again.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sld.h"
#include "sld_status.h"

static int failed(const char *call, SLD_ERROR status) {
    fprintf(stderr, "list_hubs: %s failed: %s, %s\n", call, sld_status_name(status), sld_status_text(status));
    return 1;
}

/* Prints the nodes of the hub on one device; returns 0, or 1 on failure. */
static int list_hub(const char *cable, const char *device) {
    int hub_id = -1;
    unsigned char count = 0;
    unsigned index;
    int result = 0;
    SLD_ERROR status = sld_hub_open(cable, device, &hub_id);

    if (status == SLD_HUB_NOT_FOUND || status == SLD_UNSUPPORTED_HUB) {
        printf("  %s: no usable hub (%s)\n", device, sld_status_name(status));
        return 0;
    }
    if (status != SLD_OK) {
        return failed("sld_hub_open", status);
    }
    status = sld_hub_get_number_of_nodes(hub_id, &count);
    if (status != SLD_OK) {
        result = failed("sld_hub_get_number_of_nodes", status);
        count = 0;
    } else {
        printf("  %s: hub with %u node%s\n", device, (unsigned)count, count == 1 ? "" : "s");
    }
    for (index = 0; index < count; ++index) {
        SLD_NODE_INFO info;
        status = sld_hub_get_node_info(hub_id, (unsigned char)index, &info);
        if (status != SLD_OK) {
            result = failed("sld_hub_get_node_info", status);
            break;
        }
        printf("    node %u: manufacturer %u, node id %u, version %u, instance %u\n", index,
               (unsigned)info.manufacturer_id, (unsigned)info.node_id, (unsigned)info.version,
               (unsigned)info.instance_id);
    }
    /* Close on every path once the hub id is open. */
    status = sld_hub_close(hub_id);
    if (status != SLD_OK) {
        result = failed("sld_hub_close", status);
    }
    return result;
}

/* Lists one cable; returns 0, or 1 on failure. */
static int list_cable(const char *cable) {
    unsigned long count = 0;
    unsigned long i;
    char **table = NULL;
    const char **devices;
    int result = 0;
    SLD_ERROR status = sld_get_device(cable, &count, &table);

    printf("%s\n", cable);
    if (status == SLD_DEVICE_NOT_FOUND) {
        printf("  no devices\n");
        return 0;
    }
    if (status != SLD_OK) {
        return failed("sld_get_device", status);
    }
    /* The device strings stay valid until the library is unloaded, but the
     * table holding them may be rebuilt when the chain is read again (as a
     * hub opening can do): keep the pointers. */
    devices = malloc(count * sizeof *devices);
    if (devices == NULL) {
        fprintf(stderr, "list_hubs: out of memory\n");
        return 1;
    }
    memcpy(devices, table, count * sizeof *devices);
    for (i = 0; i < count; ++i) {
        if (list_hub(cable, devices[i]) != 0) {
            result = 1;
        }
    }
    free(devices);
    return result;
}

int main(void) {
    unsigned long count = 0;
    unsigned long i;
    char **table = NULL;
    const char **cables;
    int result = 0;
    SLD_ERROR status = sld_get_hardware(&count, &table);

    if (status == SLD_HARDWARE_NOT_FOUND) {
        printf("no JTAG hardware\n");
        return 0;
    }
    if (status != SLD_OK) {
        return failed("sld_get_hardware", status);
    }
    /* The name table is the library's and is overwritten by the next
     * sld_get_hardware; the names themselves live until unload. */
    cables = malloc(count * sizeof *cables);
    if (cables == NULL) {
        fprintf(stderr, "list_hubs: out of memory\n");
        return 1;
    }
    memcpy(cables, table, count * sizeof *cables);
    for (i = 0; i < count; ++i) {
        if (list_cable(cables[i]) != 0) {
            result = 1;
        }
    }
    free(cables);
    return result;
}
