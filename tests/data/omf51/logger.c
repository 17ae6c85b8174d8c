/* The logger: stamps readings and keeps them in the ring. */
#include "ring.h"

__sfr __at(0xA0) P2;
__sbit __at(0xA0) P2_0;

__data unsigned int clock;
__idata unsigned char stack_mark;
__code const char *__code const names[3] = {"idle", "temp", "volt"};
__bit __at(0x21) busy;

static __xdata long total;
static __xdata entry_t *__data last;

static long scaled(long value, unsigned char shift)
{
    while (shift--)
        value += value;
    return value;
}

void tick(void) __interrupt(3) __using(1)
{
    clock++;
}

void main(void)
{
    unsigned char k;
    static __xdata unsigned char sums[6];

    for (k = 0; k < 6; k++) {
        busy = 1;
        ring_put(k % 3, scaled(P2, k));
        busy = 0;
    }
    for (k = 0; k < ring_count; k++) {
        last = ring_get(k);
        total += last->u.reading;
        sums[k] = checksum(last->u.raw, sizeof last->u.raw);
    }
    P2_0 = ring_full;
}
