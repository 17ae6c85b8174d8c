; H8/300 sample, first file: code, initialised data and bss; global and static
; symbols; COFF line numbers for the functions (.def/.ln).
        .file   "main.c"
        .section .text
        .global _start
        .global _main
_start:
        mov.w   #stack_top,r7
        jsr     @_main
halt:   bra     halt

        .def    _main
        .val    _main
        .scl    2
        .type   044
        .endef
_main:
        .def    .bf
        .val    .
        .scl    101
        .line   1
        .endef
        .ln     12
        mov.w   @counter,r0
        .ln     13
        adds    #1,r0
        mov.w   r0,@counter
        .ln     14
        jsr     @_twice
        .ln     15
        rts
        .def    .ef
        .val    .
        .scl    101
        .line   16
        .endef
        .def    _main
        .val    .
        .scl    -1
        .endef

        .section .data
        .global counter
counter:
        .word   0x1234
message:
        .ascii  "hello, world"
        .byte   0

        .section .bss
        .global buffer
buffer: .space  32
stack:  .space  64
stack_top:
