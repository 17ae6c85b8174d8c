; H8/300 sample, second file: a helper function with line numbers and a static
; variable with a name too long to be kept in place.
        .file   "util.c"
        .section .text
        .global _twice
        .def    _twice
        .val    _twice
        .scl    2
        .type   044
        .endef
_twice:
        .def    .bf
        .val    .
        .scl    101
        .line   1
        .endef
        .ln     3
        add.w   r0,r0
        .ln     4
        mov.w   r0,@last_result_value
        .ln     5
        rts
        .def    .ef
        .val    .
        .scl    101
        .line   6
        .endef
        .def    _twice
        .val    .
        .scl    -1
        .endef

        .section .data
last_result_value:
        .word   0
