/* A ring of entries in external memory; the oldest is overwritten. */
#include "ring.h"

extern __data unsigned int clock;

__xdata entry_t ring[6];
__pdata unsigned char ring_count;
__bit __at(0x20) ring_full;

static __pdata unsigned char head;

void ring_put(unsigned char kind, long reading)
{
    __xdata entry_t *e = &ring[head];

    e->kind = kind;
    e->stamp = clock;
    e->u.reading = reading;
    if (++head == 6)
        head = 0;
    if (ring_count < 6)
        ring_count++;
    else
        ring_full = 1;
}

__xdata entry_t *ring_get(unsigned char k)
{
    unsigned char at = head + 6 - ring_count + k;

    if (at >= 6)
        at -= 6;
    return &ring[at];
}

unsigned char checksum(const unsigned char *p, unsigned char n) __reentrant
{
    unsigned char sum = 0;
    unsigned char k;

    for (k = 0; k < n; k++)
        sum += p[k];
    return sum;
}
