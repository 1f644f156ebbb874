/* A small program to debug on the softcore board: it sums a table through
 * a helper function, counts calls in a global, and records its result in
 * a global before returning. mix() works signed and unsigned bytes and
 * halfwords into a checksum, so that a wrong load, store, shift or
 * comparison in the core shows in one number. */

volatile unsigned calls;
volatile unsigned result;

volatile int checksum;

static const unsigned table[8] = {3, 1, 4, 1, 5, 9, 2, 6};
static signed char bytes[4] = {-3, 7, -128, 127};
static short halves[3] = {-300, 1200, -32768};
static unsigned char ubytes[2] = {200, 55};

__attribute__((noinline)) int mix(void) {
    int acc = 0;
    for (int i = 0; i < 4; ++i)
        acc = (acc << 3) ^ bytes[i];
    for (int i = 0; i < 3; ++i)
        acc += halves[i] >> 2;
    acc |= ubytes[0] < ubytes[1] ? 0x100000 : 0x200000;
    acc &= ~(acc < 0 ? 1 : 2);
    bytes[0] = (signed char)acc;
    halves[0] = (short)(acc >> 7);
    return acc + bytes[0] + halves[0] + (int)((unsigned)acc >> 29);
}

__attribute__((noinline)) unsigned add_scaled(unsigned total, unsigned value, unsigned shift) {
    unsigned scaled = value << shift;
    calls = calls + 1;
    return total + scaled;
}

int main(void) {
    unsigned total = 0;
    for (unsigned i = 0; i < 8; ++i)
        total = add_scaled(total, table[i], i & 1);
    result = total;
    checksum = mix();
    return 0;
}
