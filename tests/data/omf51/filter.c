/* A four-tap moving filter over the samples: weights 1, 2, 2, 1, sum over 8. */
#include "meter.h"

__xdata int taps[4];
__code const unsigned char weights[4] = {1, 2, 2, 1};
__bit __at(0x0A) saturated;

static __data unsigned char position;

static int clamp(int sum)
{
    if (sum > 255) {
        saturated = 1;
        return 255;
    }
    saturated = 0;
    return sum;
}

void filter_reset(void)
{
    unsigned char k;
    for (k = 0; k < 4; k++)
        taps[k] = 0;
    position = 0;
}

int filter_step(int input)
{
    int sum = 0;
    unsigned char k;

    taps[position] = input;
    position = (position + 1) & 3;
    for (k = 0; k < 4; k++) {
        sum += taps[(position + k) & 3];
        if (weights[k] == 2)
            sum += taps[(position + k) & 3];
    }
    return clamp(sum >> 3);
}
