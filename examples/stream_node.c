/*
 * stream_node: talks to the byte-stream node (a console, node 1) of a
 * device: sends a line to the device and collects whatever the device has
 * sent to the host.
 *
 *   stream_node [CABLE [DEVICE]]
 *
 * CABLE and DEVICE as list_hubs or `sldtool list` print them (the device
 * string whole); by default the first device of the default simulated board.
 *
 * The stream node's instructions: 1 DATA, a 9-bit register; written with
 * bit 8 set, bits 0-7 are a byte for the device; captured with bit 8 set,
 * bits 0-7 are the next byte from the device. 2 STATUS, 16 bits captured:
 * bits 0-7 the bytes waiting for the host, bits 8-15 the room left towards
 * the device.
 */
#include <stdio.h>
#include <string.h>

#include "sld.h"
#include "sld_status.h"

#define DEFAULT_CABLE "SimCable-1"
#define DEFAULT_DEVICE "@1: SIM-FPGA-A (0x020A10DD)"
#define NODE_INDEX 1
#define LOCK_TIMEOUT 6000

#define IR_DATA 1
#define IR_STATUS 2
#define DATA_BITS 9
#define STATUS_BITS 16
#define MAX_RECEIVED 256

static const char MESSAGE[] = "hello, device\n";

static int failed(const char *call, SLD_ERROR status) {
    fprintf(stderr, "stream_node: %s failed: %s, %s\n", call, sld_status_name(status),
            sld_status_text(status));
    return 1;
}

static SLD_ERROR read_status(int node_id, unsigned *waiting, unsigned *room) {
    unsigned char bits[2] = {0, 0};
    SLD_ERROR status = sld_node_access_ir(node_id, IR_STATUS, NULL, 0);
    if (status == SLD_OK) {
        status = sld_node_access_dr(node_id, STATUS_BITS, NULL, bits, 0);
    }
    *waiting = bits[0];
    *room = bits[1];
    return status;
}

/* One DATA scan: sends byte when send is set; stores a received byte. */
static SLD_ERROR exchange(int node_id, int send, unsigned char byte, char *received, unsigned *count) {
    unsigned char out[2], in[2] = {0, 0};
    SLD_ERROR status;
    out[0] = send ? byte : 0;
    out[1] = send ? 1 : 0; /* scan bit 8: a byte for the device */
    status = sld_node_access_dr(node_id, DATA_BITS, out, in, 0);
    if (status == SLD_OK && (in[1] & 1) && *count < MAX_RECEIVED) {
        received[(*count)++] = (char)in[0];
    }
    return status;
}

static int talk(int node_id) {
    char received[MAX_RECEIVED + 1];
    unsigned count = 0, waiting = 0, room = 0, sent = 0;
    size_t i;
    SLD_ERROR status = read_status(node_id, &waiting, &room);
    if (status != SLD_OK) {
        return failed("reading the status", status);
    }
    printf("before: %u bytes waiting for the host, room for %u bytes towards the device\n", waiting, room);
    status = sld_node_access_ir(node_id, IR_DATA, NULL, 0);
    for (i = 0; status == SLD_OK && i < strlen(MESSAGE) && sent < room; ++i, ++sent) {
        status = exchange(node_id, 1, (unsigned char)MESSAGE[i], received, &count);
    }
    /* Collect what the device still has for us. */
    while (status == SLD_OK && waiting > 0 && count < MAX_RECEIVED) {
        status = read_status(node_id, &waiting, &room);
        if (status == SLD_OK && waiting > 0) {
            status = sld_node_access_ir(node_id, IR_DATA, NULL, 0);
        }
        if (status == SLD_OK && waiting > 0) {
            status = exchange(node_id, 0, 0, received, &count);
        }
    }
    if (status == SLD_OK) {
        status = read_status(node_id, &waiting, &room);
    }
    if (status != SLD_OK) {
        return failed("a scan", status);
    }
    received[count] = '\0';
    printf("sent %u bytes\n", sent);
    printf("received %u bytes: \"%s\"\n", count, received);
    printf("after: %u bytes waiting for the host, room for %u bytes towards the device\n", waiting, room);
    return 0;
}

int main(int argc, char **argv) {
    int hub_id = -1, node_id = -1, result;
    const char *cable = argc > 1 ? argv[1] : DEFAULT_CABLE;
    const char *device = argc > 2 ? argv[2] : DEFAULT_DEVICE;
    SLD_ERROR status;

    if (argc > 3 || (argc > 1 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: stream_node [CABLE [DEVICE]]\n  default: %s \"%s\"\n", DEFAULT_CABLE,
                DEFAULT_DEVICE);
        return 2;
    }
    status = sld_hub_open(cable, device, &hub_id);
    if (status != SLD_OK) {
        return failed("sld_hub_open", status);
    }
    status = sld_node_open(hub_id, NODE_INDEX, &node_id);
    if (status != SLD_OK) {
        result = failed("sld_node_open", status);
    } else {
        status = sld_node_lock(node_id, LOCK_TIMEOUT);
        if (status != SLD_OK) {
            result = failed("sld_node_lock", status);
        } else {
            result = talk(node_id);
            status = sld_node_unlock(node_id);
            if (status != SLD_OK) {
                result = failed("sld_node_unlock", status);
            }
        }
        status = sld_node_close(node_id);
        if (status != SLD_OK) {
            result = failed("sld_node_close", status);
        }
    }
    status = sld_hub_close(hub_id);
    if (status != SLD_OK) {
        result = failed("sld_hub_close", status);
    }
    return result;
}
