/* host_gcov_dump (hostfs_gcov.h): libgcov turns each translation unit's
 * gcov information into the bytes of its .gcda file, in small pieces;
 * they go to the host in requests of up to HOST_GCOV_BUFFER bytes. Needs
 * no C library: the compiler's gcov.h and libgcov. */
#include "client/hostfs_gcov.h"

#include <gcov.h>

#include "client/hostfs.h"

#ifndef HOST_GCOV_BUFFER
#define HOST_GCOV_BUFFER 128
#endif

/* From the linker script: the section .gcov_info, one pointer per unit. */
extern const struct gcov_info* const __gcov_info_start[];
extern const struct gcov_info* const __gcov_info_end[];

/* The file being written: static, to keep the buffer off the stack. */
static struct {
    host_file file;
    int ok;
    unsigned used;
    unsigned char bytes[HOST_GCOV_BUFFER];
} gcda;

static void flush(void) {
    if (gcda.used > 0 && host_fwrite(gcda.bytes, (long)gcda.used, gcda.file) != (long)gcda.used) gcda.ok = 0;
    gcda.used = 0;
}

/* Called once per unit, before its bytes: the file under its last part. */
static void open_gcda(const char* name, void* arg) {
    const char* last = name;
    (void)arg;
    for (const char* p = name; p && *p; ++p)
        if (*p == '/' || *p == '\\') last = p + 1;
    gcda.file = last ? host_fopen(last, "wb") : 0;
    gcda.ok = gcda.file != 0;
    gcda.used = 0;
}

static void put_bytes(const void* data, unsigned count, void* arg) {
    const unsigned char* byte = data;
    (void)arg;
    if (!gcda.ok) return;
    while (count-- > 0) {
        if (gcda.used == sizeof gcda.bytes) flush();
        gcda.bytes[gcda.used++] = *byte++;
    }
}

/* Asked for only by value profiles (-fprofile-generate), never by --coverage. */
static void* no_memory(unsigned length, void* arg) {
    (void)length;
    (void)arg;
    return 0;
}

int host_gcov_dump(void) {
    const struct gcov_info* const* info = __gcov_info_start;
    const struct gcov_info* const* end = __gcov_info_end;
    int failed = 0;
    /* As in GCC's manual: the compiler must not take the two for distinct
     * objects, and the loop for one that never runs. */
    __asm__("" : "+r"(info));
    for (; info != end; ++info) {
        gcda.file = 0;
        __gcov_info_to_gcda(*info, open_gcda, put_bytes, no_memory, 0);
        if (gcda.ok) flush();
        if (gcda.file == 0 || (host_fclose(gcda.file) != 0) | !gcda.ok) ++failed;
    }
    return failed;
}
