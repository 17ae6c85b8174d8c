/* A small program seen from the ELF side: gcc's DWARF 2 for it and symvert's,
   written from the symbol file and side file this tool chain makes for it. */

typedef unsigned char u8;

enum mode { MODE_OFF, MODE_SLOW = 2, MODE_FAST = 5 };

struct flags {
    unsigned char ready : 1;
    unsigned char error : 1;
    unsigned char retries : 3;
    unsigned char : 3;
};

struct channel {
    enum mode mode;
    unsigned short period;
    struct flags state;
    u8 name[4];
    struct channel *next;
};

union word {
    unsigned long whole;
    unsigned char bytes[4];
};

struct channel channels[2];
union word last_word;
unsigned long ticks;
static int counter;
static u8 history[8];
static const u8 limits[2] = { 3, 7 };

int scale(int value, unsigned short factor)
{
    long sum;
    u8 k;
    struct channel *ch;

    sum = 0;
    ch = &channels[0];
    for (k = 0; k < limits[1]; k++)
        sum += (long)value * factor + ch->name[k];
    return (int)sum;
}

int main(void)
{
    int i;
    union word w;

    w.whole = ticks;
    for (i = 0; i < 2; i++) {
        channels[i].mode = MODE_SLOW;
        channels[i].state.ready = 1;
        history[i] = w.bytes[i];
    }
    counter = scale(i, channels[0].period);
    last_word = w;
    return counter;
}
