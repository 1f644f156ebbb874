/* A small program to debug on the softcore board: it sums a table through
 * a helper function, counts calls in a global, and records its result in
 * a global before returning. */

volatile unsigned calls;
volatile unsigned result;

static const unsigned table[8] = {3, 1, 4, 1, 5, 9, 2, 6};

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
    return 0;
}
