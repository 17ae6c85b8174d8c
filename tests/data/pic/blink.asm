; Blink: a small relocatable PIC16F877A program for the PIC reader tests.
        list    p=16f877a
        include <p16f877a.inc>

        global  main, counter

        udata
counter res     1
delay   res     2

        udata_shr
flags   res     1

reset   code    0x000
        goto    main

prog    code
main:
        bsf     STATUS, RP0
        clrf    TRISB
        bcf     STATUS, RP0
loop:
        incf    counter, f
        movf    counter, w
        movwf   PORTB
        call    wait
        goto    loop

wait:
        movlw   0x10
        movwf   delay
wait1:
        decfsz  delay, f
        goto    wait1
        return

table   code    0x200
        retlw   'A'
        retlw   'B'
        end
