/* The program's entry: globals of every kind, a static local, nested blocks. */
#include "shapes.h"

struct node nodes[4];
volatile unsigned int ticks;
const sample_t limits[2] = {-100, 100};
static byte_t buffer[16];
static enum colour last = BLUE;
char letter = 'x';
signed char small = -3;
unsigned short count = 7;
unsigned long mask = 0xF0F0;
float ratio = 1.5f;
union word scratch;
struct flags status;
label_t banner = "ready";
int (*dispatch)(int, char);

static int handle(int code, char kind) {
    static int calls;
    calls = calls + 1;
    return code + kind + calls;
}

int main(void) {
    int k;
    sample_t sum = 0;
    dispatch = handle;
    for (k = 0; k < 4; ++k) {
        struct node *n = &nodes[k];
        n->next = k < 3 ? &nodes[k + 1] : 0;
        n->colour = (enum colour)k;
        {
            byte_t inner = buffer[k];
            sum = (sample_t)(sum + inner + n->flags.level);
        }
    }
    last = RED;
    ticks = ticks + 1;
    return walk(nodes, sum) + (int)total(limits, 2) + dispatch(1, letter);
}
