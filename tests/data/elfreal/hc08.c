/* The HC08 sample: a counter with a structure, an array and two functions. */
struct counter {
    unsigned char step;
    int value;
};

struct counter total = { 2, 0 };
unsigned char history[4];
static char index;

int advance(struct counter *c, unsigned char times)
{
    unsigned char k;
    for (k = 0; k < times; k++)
        c->value += c->step;
    return c->value;
}

void main(void)
{
    int result = advance(&total, 3);
    history[index & 3] = (unsigned char)result;
    index++;
}
