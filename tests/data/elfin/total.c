/* A third unit: a pointer parameter and a register-sized local. */
#include "shapes.h"

long total(const sample_t *values, int count) {
    long sum = 0;
    int k;
    for (k = 0; k < count; ++k) sum += values[k];
    return sum;
}
