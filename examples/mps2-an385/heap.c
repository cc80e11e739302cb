/* The firmware's part of newlib's system calls (client/hostfs_newlib.c
 * does the files and the console): the heap for malloc, which stdio uses
 * for its FILE objects and buffers. From the end of .bss up to the stack's
 * reserve (mps2-an385.ld). */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern char __heap_start[], __heap_end[];

void* _sbrk(ptrdiff_t increment);

void* _sbrk(ptrdiff_t increment) {
    static char* top = __heap_start;
    if (increment > __heap_end - top || increment < __heap_start - top) {
        errno = ENOMEM;
        return (void*)-1;
    }
    char* old = top;
    top += increment;
    return old;
}
