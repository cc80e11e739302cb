/* The client side of tolvane's file service: host files through the serial
 * line, one function per request, shaped like the C calls. For C99 and C++.
 *
 * For firmware: no heap, no exceptions, no RTTI, no static constructors;
 * it needs memcpy, memset and strlen and nothing else from a C library.
 * Build client/hostfs.cpp and link/link.cpp (freestanding C++17 is enough)
 * and supply the two raw operations of your UART, below.
 *
 * Calls must not overlap (one request at a time), and nothing else may read
 * the line while a call runs.
 */
#ifndef TOLVANE_CLIENT_HOSTFS_H
#define TOLVANE_CLIENT_HOSTFS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Yours to write. link_get_raw waits for the next byte and returns 0..255.
 * It may return -1 instead, for example once a deadline of your choice has
 * passed: "no host". The call in progress then ends at once, sends nothing
 * more and returns its failure value (0 handle, -1, null; host_fread the
 * count it had). A host that comes late may still answer the abandoned
 * request, and the next call can stumble over that answer. */
int link_get_raw(void);
void link_put_raw(int byte); /* sends one byte */

typedef uint32_t host_file; /* a handle from the host; 0 is a failed open */

typedef struct host_find_record {
    uint16_t attributes; /* MS-DOS bits; 0x10 is a directory */
    uint16_t time;       /* hour << 11 | minute << 5 | second / 2 */
    uint16_t date;       /* (year - 1980) << 9 | month << 5 | day */
    uint32_t size;
    char name[14]; /* at most 13 characters and a NUL */
} host_find_record;

enum {
    /* Hosts take names of up to 79 bytes; older ones stopped reading there
     * and left a 79-byte name's ETX on the line, so names and patterns
     * longer than 78 bytes are refused here (texts for host_fputs go in
     * parts). */
    HOST_NAME_MAX_LENGTH = 78,
    HOST_LINE_MAX = 4096 /* largest size for host_fgets */
};

/* Bytes that arrive before the host answers a request are the host's
 * keyboard, typed while the target was asking. They go here (the default
 * drops them). Set it to feed your console input; null restores the default. */
void host_set_stray_byte_handler(void (*handler)(int byte));

host_file host_fopen(const char* name, const char* mode);
/* Reads up to count bytes; returns how many arrived (fewer at end of file). */
long host_fread(void* buffer, long count, host_file file);
/* Sends count bytes and returns count, or 0 when the host did not take the
 * request. The host answers nothing, so write errors are not seen. */
long host_fwrite(const void* data, long count, host_file file);
int host_fclose(host_file file);
int host_fgetc(host_file file); /* -1 at end of file */
int host_fputc(int c, host_file file);
/* Like fgets: at most size - 1 bytes and a NUL; null at end of file. */
char* host_fgets(char* buffer, int size, host_file file);
/* Texts of any length: longer ones go out as several requests. */
int host_fputs(const char* text, host_file file);
/* 0 with the record filled, nonzero when there is no (further) entry. */
int host_findfirst(const char* pattern, int attributes, host_find_record* record);
int host_findnext(host_find_record* record);
int host_remove(const char* name);
int host_rename(const char* old_name, const char* new_name);
long host_ftell(host_file file);
int host_fseek(host_file file, long offset, int origin);
int host_ungetc(int c, host_file file);

/* The C runtime beyond the streams. These calls return 0, or one of the
 * negative HOST_E numbers below: the host's reason (as errno), HOST_EIO
 * when no host answered, HOST_ENOSYS when the host does not serve the call.
 *
 * The first of them asks the host which requests it serves. An older
 * tolvane answers that with nothing at all, so these calls need a
 * link_get_raw that gives -1 once a deadline of yours has passed: the
 * answer "none" is then kept, and the calls fail with HOST_ENOSYS at once
 * from then on. Without a deadline the first call waits forever on such
 * a host. host_forget_host makes the next call ask again (a new host). */
typedef struct host_status {
    uint16_t kind;     /* HOST_KIND_FILE, HOST_KIND_DIRECTORY, HOST_KIND_OTHER */
    uint32_t size;     /* in bytes; 0xFFFFFFFF for 4 GiB and more */
    uint32_t modified; /* seconds since 1970-01-01 00:00 UTC */
} host_status;

enum {
    HOST_KIND_OTHER = 0,
    HOST_KIND_FILE = 1,
    HOST_KIND_DIRECTORY = 2
};

enum {
    HOST_EIO = -1, /* no host, or a reason not below */
    HOST_ENOENT = -2,
    HOST_EEXIST = -3,
    HOST_ENOTDIR = -4,
    HOST_ENOTEMPTY = -5,
    HOST_EACCES = -6,
    HOST_EROFS = -7, /* the host serves read-only (tolvane -p) */
    HOST_ENAMETOOLONG = -8,
    HOST_ENOSPC = -9,
    HOST_EBUSY = -10,
    HOST_EINVAL = -11,
    HOST_EBADF = -12,
    HOST_ENOSYS = -13 /* the host does not serve the call */
};

int host_stat(const char* name, host_status* status);
/* Output the host still holds for the stream counts in its size. */
int host_fstat(host_file file, host_status* status);
int host_mkdir(const char* name);
int host_rmdir(const char* name); /* an empty directory */
/* The host's clock: seconds since 1970-01-01 00:00 UTC, and microseconds. */
int host_time(uint32_t* seconds, uint32_t* microseconds);
/* Tells the host the program's exit status; the host answers nothing (a
 * tolvane without a terminal ends with it). */
int host_exit(long status);
void host_forget_host(void);

#ifdef __cplusplus
} /* extern "C" */

/* The same functions, as C++ code has always named them. */
namespace tolvane {
using ::host_fclose;
using ::host_file;
using ::host_find_record;
using ::host_findfirst;
using ::host_findnext;
using ::host_fgetc;
using ::host_fgets;
using ::host_fopen;
using ::host_fputc;
using ::host_fputs;
using ::host_fread;
using ::host_fseek;
using ::host_ftell;
using ::host_fwrite;
using ::host_remove;
using ::host_rename;
using ::host_set_stray_byte_handler;
using ::host_ungetc;
using ::host_exit;
using ::host_forget_host;
using ::host_fstat;
using ::host_mkdir;
using ::host_rmdir;
using ::host_stat;
using ::host_status;
using ::host_time;
using ::HOST_LINE_MAX;
using ::HOST_NAME_MAX_LENGTH;
}  // namespace tolvane
#endif

#endif
