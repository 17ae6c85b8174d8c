/* Shared declarations of the ARM and MIPS samples. */
#ifndef PROG_H
#define PROG_H

#define QUEUE_SIZE 8
#define LOW_MARK (QUEUE_SIZE / 4)
#define SQUARE(x) ((x) * (x))
#define FLAG_READY 0x01u
#define FLAG_ERROR 0x80u

typedef unsigned char byte_t;
typedef short sample_t;

enum mode { MODE_IDLE, MODE_RUN = 3, MODE_FAULT = -1 };

struct status {
    unsigned ready : 1;
    unsigned error : 1;
    unsigned count : 6;
    byte_t code;
};

union word {
    unsigned long whole;
    byte_t bytes[4];
    struct { unsigned short low, high; } halves;
};

struct queue {
    sample_t items[QUEUE_SIZE];
    int head, tail;
    struct status state;
    enum mode mode;
};

extern int checksum(const byte_t *data, int length);
extern long scale(sample_t value, int shift);

#endif
