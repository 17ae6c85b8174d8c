/* The meter: samples a port, filters the values and shows them. */
#include "meter.h"

__sfr __at(0x90) P1;

__data unsigned char mode = 1;
__idata unsigned char history[4];
__xdata struct sample log[8];
__code const char banner[] = "METER";
__bit running;
__bit __at(0x08) overflow;

static __data unsigned int ticks;
static __xdata unsigned char next_slot;
static __bit __at(0x09) blink;

void timer0(void) __interrupt(1)
{
    static unsigned char divider;
    if (++divider == 10) {
        divider = 0;
        ticks++;
        blink = !blink;
        LED = blink;
    }
}

static void record(int value)
{
    log[next_slot].value = value;
    log[next_slot].channel = mode;
    log[next_slot].flags = overflow;
    next_slot = (next_slot + 1) & 7;
    history[next_slot & 3] = value >> 8;
}

void main(void)
{
    unsigned char k;
    int value;

    for (k = 0; banner[k]; k++)
        display_put(banner[k]);
    filter_reset();
    running = 1;
    while (running) {
        value = filter_step(P1);
        overflow = value > 200;
        record(value);
        display_number(value);
        if (ticks > 1000)
            running = 0;
    }
}
