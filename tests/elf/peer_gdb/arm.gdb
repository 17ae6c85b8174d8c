# gdb's answers about the ELF file symvert writes from tests/data/debug/arm (see peer_gdb.py),
# worked out from the sample's .sdb and .sym files (the former check's model of what
# the writer puts in DWARF); each "> " line is a command, the lines below its answer.
> info functions
All defined functions:
File irq.c:
15:	void _fiq();
6:	void _irq_dispatch();
File main.c:
19:	int _main();
12:	static void _toggle();
File timer.c:
6:	void _timer_start(unsigned short);
> info variables
All defined variables:
File irq.c:
1:	static volatile unsigned char _nesting;
1:	static void (*_vectors[8])();
File main.c:
5:	struct pio *_PIO;
5:	volatile ul _millis;
5:	unsigned char _pattern[8];
5:	struct blink _plan[3];
5:	b _state;
File timer.c:
1:	volatile ul _ticks;
1:	static struct tc *_TC0;
> maint info line-table
irq.obj irq.c 12 0x227c
irq.obj irq.c 15 0x2280
irq.obj irq.c 7 0x2200
irq.obj irq.c END 0x22fc
main.obj main.c 12 0x2180
main.obj main.c 13 0x2184
main.obj main.c 19 0x2000
main.obj main.c 20 0x2004
main.obj main.c 23 0x2010
main.obj main.c 26 0x2020
main.obj main.c 29 0x20fc
main.obj main.c END 0x21fe
timer.obj timer.c 6 0x2100
timer.obj timer.c 7 0x2104
timer.obj timer.c END 0x21fc
> info scope _toggle
Symbol _b is a variable in $r0
Symbol _mask is a variable in $r4
> info scope _main
Symbol _i is a variable at frame base reg $bad_register_number offset 0+2097247
Symbol _b is a variable at frame base reg $bad_register_number offset 0+2097251
Symbol _t is a variable in $r5
Symbol _pair is a variable in $r0
Symbol _due is a variable at frame base reg $bad_register_number offset 0+2097255
> info address _PIO
Symbol "_PIO" is static storage at address 0xff010000.
> info address _plan
Symbol "_plan" is static storage at address 0x200000.
> info address _pattern
Symbol "_pattern" is static storage at address 0x10000.
> info address _state
Symbol "_state" is static storage at address 0x200024.
> info address _millis
Symbol "_millis" is static storage at address 0x200028.
> info line main.c:19
Line 19 of "main.c" starts at address 0x2000 and ends at 0x2004.
> info line _main
Line 19 of "main.c" starts at address 0x2000 and ends at 0x2004.
> info line main.c:20
Line 20 of "main.c" starts at address 0x2004 and ends at 0x2010.
> info line main.c:23
Line 23 of "main.c" starts at address 0x2010 and ends at 0x2020.
> info line main.c:26
Line 26 of "main.c" starts at address 0x2020 and ends at 0x20fc.
> info line main.c:29
Line 29 of "main.c" starts at address 0x20fc and ends at 0x2180.
> info line main.c:12
Line 12 of "main.c" starts at address 0x2180 and ends at 0x2184.
> info line _toggle
Line 12 of "main.c" starts at address 0x2180 and ends at 0x2184.
> info line main.c:13
Line 13 of "main.c" starts at address 0x2184 and ends at 0x21fe.
> info address _TC0
Symbol "_TC0" is static storage at address 0x200030.
> info address _ticks
Symbol "_ticks" is static storage at address 0x200028.
> info scope _irq_dispatch
Symbol _src is a variable in $r9
Symbol _h is a variable at frame base reg $bad_register_number offset 0+2097279
> info scope _fiq
Scope for _fiq contains no locals or arguments.
> info address _vectors
Symbol "_vectors" is static storage at address 0x100.
> info address _nesting
Symbol "_nesting" is static storage at address 0x200034.
> info line irq.c:7
Line 7 of "irq.c" starts at address 0x2200 and ends at 0x227c.
> info line _irq_dispatch
Line 7 of "irq.c" starts at address 0x2200 and ends at 0x227c.
> info line irq.c:12
Line 12 of "irq.c" starts at address 0x227c and ends at 0x2280.
> info line irq.c:15
Line 15 of "irq.c" starts at address 0x2280 and ends at 0x22fc.
> info line _fiq
Line 15 of "irq.c" starts at address 0x2280 and ends at 0x22fc.
> ptype struct blink
type = struct blink {
    enum led which;
    unsigned char on : 1;
    unsigned char : 7;
    unsigned short period;
    ul next;
    struct blink *chain;
}
> ptype/o struct blink
/* offset      |    size */  type = struct blink {
/*      0      |       1 */    enum led which;
/*      1: 0   |       1 */    unsigned char on : 1;
/*      0: 3   |       1 */    unsigned char : 7;
/* XXX  6-bit hole       */
/*      2      |       2 */    unsigned short period;
/*      4      |       4 */    ul next;
/*      8      |       4 */    struct blink *chain;
                               /* total size (bytes):   12 */
                             }
> ptype struct pio
type = struct pio {
    volatile ul per;
    volatile ul pdr;
    volatile ul sodr;
    volatile ul codr;
}
> ptype struct tc
type = struct tc {
    volatile ul ccr;
    volatile ul cmr;
    volatile ul rc;
}
> ptype enum led
type = enum led {LED_RED = 1, LED_GREEN, LED_BLUE = 4, LED_ALL = 7}
> whatis _plan
type = struct blink [3]
> whatis _PIO
type = struct pio *
> whatis _TC0
type = struct tc *
> ptype _vectors
type = void (*[8])()
> ptype _handler
type = void (*)()
> ptype _reg32
type = volatile ul
> whatis _state
type = b
> ptype _pattern
type = unsigned char [8]
> whatis _millis
type = volatile ul
> ptype _nesting
type = volatile unsigned char
> ptype _timer_start
type = void (unsigned short)
> ptype _main
type = int ()
> ptype _toggle
type = void ()
