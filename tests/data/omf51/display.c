/* A seven-segment display behind an external latch. */
#include "meter.h"

__idata char digits[5];
__xdata __at(0x4000) unsigned char latch;
__xdata char *__data cursor;

static __code const unsigned char segments[10] = {
    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F,
};
static __bit blank;

static __code const unsigned int powers[4] = {10000, 1000, 100, 10};

void display_put(char c)
{
    if (c >= '0' && c <= '9')
        latch = segments[c - '0'];
    else
        latch = blank ? 0 : 0x40;
}

void display_number(unsigned int n)
{
    unsigned char k;
    char d;

    for (k = 0; k < 4; k++) {
        for (d = '0'; n >= powers[k]; d++)
            n -= powers[k];
        digits[k] = d;
    }
    digits[4] = '0' + n;
    for (k = 0; k < 5; k++)
        display_put(digits[k]);
}
