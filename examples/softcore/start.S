/* Start-up: a stack at the top of RAM, a zeroed .bss, then main(). When
 * main returns, its result goes to a0 and the hart stops on an ebreak
 * (a debugger sees it halt there; without one it traps and loops). */
    .option arch, +zicsr    /* csrw; the C code needs only rv32i */
    .section .text.start, "ax"
    .globl _start
_start:
    la      sp, __stack_top
    la      t0, __bss_start
    la      t1, __bss_end
1:  bgeu    t0, t1, 2f
    sw      zero, 0(t0)
    addi    t0, t0, 4
    j       1b
2:  la      t0, trap
    csrw    mtvec, t0
    call    main
    .globl  finished
finished:
    ebreak
trap:
    j       trap
