/* The main module of the ARM and MIPS samples: a small queue of samples. */
#include "prog.h"

struct queue input;
union word last_word = { 0x12345678ul };
const char banner[] = "symvert";
volatile unsigned ticks;
static int overruns;
static const sample_t limits[2][3] = { { -5, 0, 5 }, { -50, 0, 50 } };

#undef LOW_MARK
#define LOW_MARK 1

static int push(struct queue *q, sample_t value)
{
    int next = (q->tail + 1) % QUEUE_SIZE;
    if (next == q->head) {
        overruns++;
        q->state.error = 1;
        return 0;
    }
    q->items[q->tail] = value;
    q->tail = next;
    q->state.count++;
    return 1;
}

static int pop(struct queue *q, sample_t *value)
{
    if (q->head == q->tail)
        return 0;
    *value = q->items[q->head];
    q->head = (q->head + 1) % QUEUE_SIZE;
    q->state.count--;
    return 1;
}

static sample_t clamp(sample_t value, int range)
{
    const sample_t *bounds = limits[range & 1];
    if (value < bounds[0])
        return bounds[0];
    if (value > bounds[2])
        return bounds[2];
    return value;
}

enum mode step(struct queue *q, int range)
{
    sample_t value;
    long total = 0;
    int taken = 0;

    while (pop(q, &value)) {
        value = clamp(value, range);
        total += scale(value, range);
        taken++;
    }
    if (taken < LOW_MARK)
        q->mode = MODE_IDLE;
    else if (total > SQUARE(100))
        q->mode = MODE_FAULT;
    else
        q->mode = MODE_RUN;
    last_word.whole = (unsigned long)total;
    return q->mode;
}

int main(void)
{
    int k;
    byte_t flags = FLAG_READY;

    for (k = 0; k < QUEUE_SIZE + 2; k++) {
        if (!push(&input, (sample_t)(k * 7 - 20)))
            flags |= FLAG_ERROR;
        ticks++;
    }
    input.state.ready = 1;
    input.state.code = flags;
    step(&input, ticks & 1);
    return checksum(last_word.bytes, sizeof last_word.bytes) + overruns;
}
