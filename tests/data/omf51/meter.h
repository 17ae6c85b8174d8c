/* The meter's shared declarations (sdcc, 8051, small model). */
#ifndef METER_H
#define METER_H

struct sample {
    unsigned int value;
    unsigned char channel;
    unsigned char flags;
};

__sbit __at(0x97) LED; /* P1.7 */
extern __bit running;
extern __bit __at(0x08) overflow;
extern __xdata struct sample log[8];
extern __idata unsigned char history[4];

void filter_reset(void);
int filter_step(int input);
void display_put(char c);
void display_number(unsigned int n);

#endif
