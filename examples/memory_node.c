/*
 * memory_node: writes four words into the memory node (node 0) of a device
 * and reads them back.
 *
 *   memory_node [CABLE [DEVICE]]
 *
 * CABLE and DEVICE as list_hubs or `sldtool list` print them (the device
 * string whole, "@1: auto0.tap (0x020A10DD)" for the first TAP behind an
 * OpenOCD server); by default the first device of the default simulated
 * board.
 *
 * The memory node's instructions: 1 loads the address register (8 bits for
 * 256 words), 2 writes a word and moves to the next address, 3 reads a word
 * and moves to the next. The whole sequence runs under the hub lock, so no
 * other thread or JTAG client can select another node in between.
 */
#include <stdio.h>

#include "sld.h"
#include "sld_status.h"

#define DEFAULT_CABLE "SimCable-1"
#define DEFAULT_DEVICE "@1: SIM-FPGA-A (0x020A10DD)"
#define NODE_INDEX 0
#define LOCK_TIMEOUT 6000

#define IR_ADDRESS 1
#define IR_WRITE 2
#define IR_READ 3
#define ADDRESS_BITS 8
#define WORD_BITS 32
#define WORD_COUNT 4
#define START_ADDRESS 0x10

static const unsigned long WORDS[WORD_COUNT] = {0x12345678UL, 0xCAFEF00DUL, 0x0BADBEEFUL, 0x00C0FFEEUL};

static int failed(const char *call, SLD_ERROR status) {
    fprintf(stderr, "memory_node: %s failed: %s, %s\n", call, sld_status_name(status),
            sld_status_text(status));
    return 1;
}

/* Scan bit j is bit j % 8 of byte j / 8: a word goes least significant byte first. */
static void word_to_bits(unsigned long word, unsigned char bits[4]) {
    int i;
    for (i = 0; i < 4; ++i) {
        bits[i] = (unsigned char)((word >> (8 * i)) & 0xFF);
    }
}

static unsigned long bits_to_word(const unsigned char bits[4]) {
    return (unsigned long)bits[0] | (unsigned long)bits[1] << 8 | (unsigned long)bits[2] << 16 |
           (unsigned long)bits[3] << 24;
}

static SLD_ERROR set_address(int node_id, unsigned char address) {
    SLD_ERROR status = sld_node_access_ir(node_id, IR_ADDRESS, NULL, 0);
    if (status != SLD_OK) {
        return status;
    }
    return sld_node_access_dr(node_id, ADDRESS_BITS, &address, NULL, 0);
}

/* Writes WORDS from START_ADDRESS on, then reads them into read_back. */
static int write_and_read(int node_id, unsigned long read_back[WORD_COUNT]) {
    unsigned char bits[4];
    int i;
    SLD_ERROR status = set_address(node_id, START_ADDRESS);
    if (status == SLD_OK) {
        status = sld_node_access_ir(node_id, IR_WRITE, NULL, 0);
    }
    for (i = 0; status == SLD_OK && i < WORD_COUNT; ++i) {
        word_to_bits(WORDS[i], bits);
        status = sld_node_access_dr(node_id, WORD_BITS, bits, NULL, 0);
    }
    if (status == SLD_OK) {
        status = set_address(node_id, START_ADDRESS);
    }
    if (status == SLD_OK) {
        status = sld_node_access_ir(node_id, IR_READ, NULL, 0);
    }
    for (i = 0; status == SLD_OK && i < WORD_COUNT; ++i) {
        status = sld_node_access_dr(node_id, WORD_BITS, NULL, bits, 0);
        read_back[i] = bits_to_word(bits);
    }
    return status == SLD_OK ? 0 : failed("a scan", status);
}

int main(int argc, char **argv) {
    int hub_id = -1, node_id = -1, result = 0, i;
    unsigned long read_back[WORD_COUNT] = {0};
    const char *cable = argc > 1 ? argv[1] : DEFAULT_CABLE;
    const char *device = argc > 2 ? argv[2] : DEFAULT_DEVICE;
    SLD_ERROR status;

    if (argc > 3 || (argc > 1 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: memory_node [CABLE [DEVICE]]\n  default: %s \"%s\"\n", DEFAULT_CABLE,
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
        goto close_hub;
    }
    status = sld_node_lock(node_id, LOCK_TIMEOUT);
    if (status != SLD_OK) {
        result = failed("sld_node_lock", status);
        goto close_node;
    }
    result = write_and_read(node_id, read_back);
    /* Unlock on every path once the lock is held. */
    status = sld_node_unlock(node_id);
    if (status != SLD_OK) {
        result = failed("sld_node_unlock", status);
    }
    for (i = 0; result == 0 && i < WORD_COUNT; ++i) {
        printf("word %d at 0x%02X: wrote 0x%08lX, read 0x%08lX%s\n", i, START_ADDRESS + i, WORDS[i],
               read_back[i], WORDS[i] == read_back[i] ? "" : "  MISMATCH");
        if (WORDS[i] != read_back[i]) {
            result = 1;
        }
    }
close_node:
    status = sld_node_close(node_id);
    if (status != SLD_OK) {
        result = failed("sld_node_close", status);
    }
close_hub:
    status = sld_hub_close(hub_id);
    if (status != SLD_OK) {
        result = failed("sld_hub_close", status);
    }
    return result;
}
