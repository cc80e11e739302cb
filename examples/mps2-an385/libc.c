/* The three C library functions the client library calls (through the
 * compiler's builtins). With a C library linked, leave this file out. */
#include <stddef.h>

void* memcpy(void* to, const void* from, size_t n);
void* memset(void* to, int value, size_t n);
size_t strlen(const char* text);

void* memcpy(void* to, const void* from, size_t n) {
    unsigned char* t = to;
    const unsigned char* f = from;
    while (n--) *t++ = *f++;
    return to;
}

void* memset(void* to, int value, size_t n) {
    unsigned char* t = to;
    while (n--) *t++ = (unsigned char)value;
    return to;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return (size_t)(end - text);
}
