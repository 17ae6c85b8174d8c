/* The logger's record ring in external memory (sdcc, 8051, large model). */
#ifndef RING_H
#define RING_H

typedef struct {
    unsigned char kind;
    unsigned int stamp;
    union {
        long reading;
        unsigned char raw[4];
    } u;
} entry_t;

extern __xdata entry_t ring[6];
extern __pdata unsigned char ring_count;
extern __bit __at(0x20) ring_full;

void ring_put(unsigned char kind, long reading);
__xdata entry_t* ring_get(unsigned char k);
unsigned char checksum(const unsigned char* p, unsigned char n) __reentrant;

#endif
