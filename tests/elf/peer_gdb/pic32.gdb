# gdb's answers about the ELF file symvert writes from tests/data/debug/pic32 (see peer_gdb.py),
# worked out from the sample's .sdb and .sym files (the former check's model of what
# the writer puts in DWARF); each "> " line is a command, the lines below its answer.
> info functions
All defined functions:
File crc.c:
4:	ul _crc32(ul);
File main.c:
27:	int _main();
20:	static struct node *_take();
File spi.c:
8:	unsigned char _spi_xfer();
> info variables
All defined variables:
File crc.c:
1:	static ul _table[256];
File main.c:
6:	volatile ul _LATA;
6:	struct node *_free_list;
6:	struct node _pool[8];
6:	double _scale[4];
6:	static volatile unsigned int _irq_count;
File spi.c:
1:	static union frame _last;
1:	static struct port *_spi1;
> maint info line-table
crc.obj crc.c 4 0x9d001300
crc.obj crc.c 5 0x9d001310
crc.obj crc.c END 0x9d0013f8
main.obj main.c 13 0x9d000800
main.obj main.c 14 0x9d000808
main.obj main.c 17 0x9d00087c
main.obj main.c 20 0x9d001401
main.obj main.c 21 0x9d001405
main.obj main.c 27 0x9d001000
main.obj main.c 28 0x9d001008
main.obj main.c 31 0x9d001020
main.obj main.c 34 0x9d001040
main.obj main.c 38 0x9d0011f8
main.obj main.c END 0x9d00147f
spi.obj spi.c 8 0x9d001200
spi.obj spi.c 9 0x9d001208
spi.obj spi.c END 0x9d0012f8
> info scope _main
Symbol _i is a variable at frame base reg $sp offset 0+23
Symbol _n is a variable at frame base reg $sp offset 0+27
Symbol _sum is a variable at frame base reg $sp offset 0+31
Symbol _b is a variable at frame base reg $sp offset 0+35
Symbol _crc is a variable in $s1
> info address _LATA
Symbol "_LATA" is static storage at address 0xbf886030.
> info address _pool
Symbol "_pool" is static storage at address 0xa0000000.
> info address _free_list
Symbol "_free_list" is static storage at address 0xa00000a0.
> info address _scale
Symbol "_scale" is static storage at address 0x9d002000.
> info address _irq_count
Symbol "_irq_count" is static storage at address 0xa00000a4.
> info line main.c:13
Line 13 of "main.c" starts at address 0x9d000800 and ends at 0x9d000808.
> info line _isr_timer
Line 13 of "main.c" starts at address 0x9d000800 and ends at 0x9d000808.
> info line main.c:14
Line 14 of "main.c" starts at address 0x9d000808 and ends at 0x9d00087c.
> info line main.c:17
Line 17 of "main.c" starts at address 0x9d00087c and ends at 0x9d001000.
> info line main.c:27
Line 27 of "main.c" starts at address 0x9d001000 and ends at 0x9d001008.
> info line _main
Line 27 of "main.c" starts at address 0x9d001000 and ends at 0x9d001008.
> info line main.c:28
Line 28 of "main.c" starts at address 0x9d001008 and ends at 0x9d001020.
> info line main.c:31
Line 31 of "main.c" starts at address 0x9d001020 and ends at 0x9d001040.
> info line main.c:34
Line 34 of "main.c" starts at address 0x9d001040 and ends at 0x9d0011f8.
> info line main.c:38
Line 38 of "main.c" starts at address 0x9d0011f8 and ends at 0x9d001401.
> info address _spi1
Symbol "_spi1" is static storage at address 0xa00000a8.
> info address _last
Symbol "_last" is static storage at address 0xa00000ac.
> info address _table
Symbol "_table" is static storage at address 0x9d002020.
> ptype struct node
type = struct node {
    struct sample s;
    struct node *next;
    struct node *prev;
}
> ptype/o struct sample
/* offset      |    size */  type = struct sample {
/*      0      |       1 */    enum sensor_kind kind;
/*      1      |       1 */    unsigned char id;
/*      2      |       2 */    unsigned short flags;
/*      4      |       4 */    float value;
/*      8      |       4 */    ul stamp;
                               /* total size (bytes):   12 */
                             }
> ptype union frame
type = union frame {
    ul word;
    unsigned char b[4];
}
> ptype struct port
type = struct port {
    volatile ul con;
    volatile ul stat;
    volatile ul buf;
}
> ptype enum sensor_kind
type = enum sensor_kind {SK_NONE, SK_TEMP, SK_HUMID, SK_PRESS = 4}
> whatis _pool
type = struct node [8]
> whatis _free_list
type = struct node *
> whatis _scale
type = double [4]
> whatis _table
type = ul [256]
> whatis _LATA
type = volatile ul
> whatis _irq_count
type = volatile unsigned int
> ptype _u32
type = ul
> ptype _u16
type = unsigned short
> whatis _spi1
type = struct port *
> whatis _last
type = union frame
> ptype _crc32
type = ul (ul)
> ptype _spi_xfer
type = unsigned char ()
