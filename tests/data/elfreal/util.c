/* The second module of the ARM samples: arithmetic helpers. */
#include "prog.h"

static unsigned calls;

int checksum(const byte_t *data, int length)
{
    int sum = 0;
    int k;

    calls++;
    for (k = 0; k < length; k++)
        sum = (sum << 1) ^ data[k];
    return sum & 0xFF;
}

long scale(sample_t value, int shift)
{
    long result = value;

    calls++;
    if (shift > 0)
        result <<= shift;
    return result;
}
