/* Types of every kind C has, for the ELF read checks. */
#ifndef SHAPES_H
#define SHAPES_H

typedef unsigned char byte_t;
typedef short sample_t;
typedef const char *label_t;

enum colour { RED, GREEN = 4, BLUE = -2 };

struct flags {
    unsigned ready : 1;
    unsigned level : 3;
    unsigned spare : 12;
    signed delta : 4;
};

union word {
    unsigned long whole;
    byte_t bytes[4];
    struct {
        unsigned short low, high;
    } halves;
};

struct node {
    struct node *next;
    sample_t values[2][3];
    enum colour colour;
    struct flags flags;
    union word word;
    label_t name;
    int (*handler)(int, char);
};

extern struct node nodes[4];
extern volatile unsigned int ticks;
extern const sample_t limits[2];

int walk(struct node *first, int depth);
long total(const sample_t *values, int count);

#endif
