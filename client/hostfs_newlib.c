/* newlib's system calls on the client library; what they do and what
 * they cannot do is told in hostfs_newlib.h. Plain C99 over the public
 * calls of hostfs.h, no heap: a table of the host files open. */
#define _XOPEN_SOURCE 700 /* S_IFCHR where the C library is not newlib (the tests) */

#include "client/hostfs_newlib.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include "client/hostfs.h"

#ifndef HOSTFS_NEWLIB_FILES
#define HOSTFS_NEWLIB_FILES 8
#endif
#ifndef HOSTFS_NEWLIB_CRLF
#define HOSTFS_NEWLIB_CRLF 1
#endif

#define CONSOLE_FDS 3 /* 0, 1 and 2 */
#define DLE 0x10
#define COUNT_MAX 0x7FFFFFFF /* a request's count is a signed 32-bit number */

enum { CAN_READ = 1, CAN_WRITE = 2 };

/* Descriptor 3 + i is files[i]; a handle of 0 is a free entry. */
static struct {
    host_file handle;
    unsigned char access;
} files[HOSTFS_NEWLIB_FILES];

/* Keys that came while a request ran, for the next reads of stdin. */
static unsigned char keys[16];
static unsigned keys_in, keys_out; /* count up; the difference is the number held */
static int keys_attached;

static void keep_key(int byte) {
    if (keys_in - keys_out < sizeof keys) keys[keys_in++ % sizeof keys] = (unsigned char)byte;
}

/* Every request starts from open, unlink, rename or a call beyond the
 * streams: they call this first. */
static void attach_keys(void) {
    if (!keys_attached) host_set_stray_byte_handler(keep_key);
    keys_attached = 1;
}

/* Not inlined: one call is smaller than errno's access at every failure. */
__attribute__((noinline)) static int fail(int error) {
    errno = error;
    return -1;
}

/* The table entry of a host file's descriptor, or -1. */
static int entry_of(int fd) {
    const int i = fd - CONSOLE_FDS;
    if (i < 0 || i >= HOSTFS_NEWLIB_FILES || files[i].handle == 0) return -1;
    return i;
}

/* errno for a HOST_E result of hostfs.h, -1 to HOST_ENOSYS in turn. */
static const unsigned char host_errors[] = {EIO,    ENOENT,    EEXIST, ENOTDIR, ENOTEMPTY, EACCES, EROFS,
                                            ENAMETOOLONG, ENOSPC, EBUSY,  EINVAL,  EBADF,     ENOSYS};

static int fail_host(int result) {
    const int i = -1 - result;
    return fail(i >= 0 && i < (int)sizeof host_errors ? host_errors[i] : EIO);
}

/* 0, or -1 with EOVERFLOW for a size that a 32-bit off_t cannot hold. */
static int fill_status(const host_status* from, struct stat* status) {
    memset(status, 0, sizeof *status);
    if (sizeof(off_t) < 8 && from->size > 0x7FFFFFFFu) return fail(EOVERFLOW);
    status->st_mode = from->kind == HOST_KIND_FILE ? S_IFREG | 0666 : from->kind == HOST_KIND_DIRECTORY ? S_IFDIR | 0777 : 0;
    status->st_nlink = 1;
    status->st_size = (off_t)from->size;
    status->st_mtime = status->st_atime = status->st_ctime = (time_t)from->modified;
    return 0;
}

static int fits(const char* name) { return strlen(name) <= HOST_NAME_MAX_LENGTH; }

/* The fopen mode: letter r, w or a; '+' where the letter alone does not
 * give the access asked for; always binary; x for O_EXCL (only with w). */
static host_file open_as(const char* name, int flags, char letter) {
    const int access = flags & O_ACCMODE;
    char mode[5];
    char* m = mode;
    *m++ = letter;
    if (access == O_RDWR || (letter == 'r' && access == O_WRONLY) || (letter == 'w' && access == O_RDONLY))
        *m++ = '+';
    *m++ = 'b';
    if (letter == 'w' && (flags & O_EXCL)) *m++ = 'x';
    *m = '\0';
    return host_fopen(name, mode);
}

int _open(const char* name, int flags, ...) {
    const int access = flags & O_ACCMODE;
    const int exclusive = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
    int i = 0;
    char letter = 'r';
    while (i < HOSTFS_NEWLIB_FILES && files[i].handle != 0) ++i;
    if (access != O_RDONLY && access != O_WRONLY && access != O_RDWR) return fail(EINVAL);
    if (!fits(name)) return fail(ENAMETOOLONG);
    if (i == HOSTFS_NEWLIB_FILES) return fail(EMFILE);
    if ((flags & O_APPEND) && (exclusive || (access != O_RDONLY && (flags & O_TRUNC)))) return fail(EINVAL);
    if (exclusive) letter = 'w';
    else if (access != O_RDONLY && (flags & O_APPEND)) letter = 'a';
    else if (access != O_RDONLY && (flags & O_TRUNC)) letter = 'w';

    attach_keys();
    files[i].handle = open_as(name, flags, letter);
    if (files[i].handle == 0 && letter == 'r' && (flags & O_CREAT)) files[i].handle = open_as(name, flags, 'w');
    if (files[i].handle == 0) return fail(exclusive ? EEXIST : ENOENT);
    files[i].access = (unsigned char)(access == O_RDONLY ? CAN_READ : access == O_WRONLY ? CAN_WRITE : CAN_READ | CAN_WRITE);
    return CONSOLE_FDS + i;
}

int _close(int fd) {
    const int i = entry_of(fd);
    host_file handle;
    if (fd >= 0 && fd < CONSOLE_FDS) return 0;
    if (i < 0) return fail(EBADF);
    handle = files[i].handle;
    files[i].handle = 0; /* closed, even when the host says otherwise */
    return host_fclose(handle) == 0 ? 0 : fail(EIO);
}

/* One key: a DLE's byte is taken as it is. Waits as long as it takes. */
static int next_key(void) {
    int byte;
    if (keys_in != keys_out) return keys[keys_out++ % sizeof keys];
    while ((byte = link_get_raw()) < 0) {
    }
    if (byte == DLE)
        while ((byte = link_get_raw()) < 0) {
        }
    return byte;
}

int _read(int fd, void* buffer, size_t count) {
    const int i = entry_of(fd);
    if (fd == 0 && count > 0) {
        const int key = next_key();
        *(unsigned char*)buffer = (unsigned char)(HOSTFS_NEWLIB_CRLF && key == '\r' ? '\n' : key);
        return 1;
    }
    if (fd == 0) return 0;
    if (i < 0 || !(files[i].access & CAN_READ)) return fail(EBADF);
    if (count > COUNT_MAX) count = COUNT_MAX;
    return (int)host_fread(buffer, (long)count, files[i].handle);
}

/* Terminal text: the framing bytes after a DLE, so the host shows them. */
static void put_text_byte(int byte) {
    if (HOSTFS_NEWLIB_CRLF && byte == '\n') link_put_raw('\r');
    if (byte == 0x02 || byte == 0x03 || byte == DLE) link_put_raw(DLE);
    link_put_raw(byte);
}

int _write(int fd, const void* data, size_t count) {
    const int i = entry_of(fd);
    const unsigned char* bytes = data;
    if (count > COUNT_MAX) count = COUNT_MAX;
    if (fd == 1 || fd == 2) {
        for (size_t n = 0; n < count; ++n) put_text_byte(bytes[n]);
        return (int)count;
    }
    if (i < 0 || !(files[i].access & CAN_WRITE)) return fail(EBADF);
    if (count == 0) return 0;
    return host_fwrite(data, (long)count, files[i].handle) == (long)count ? (int)count : fail(EIO);
}

long _lseek(int fd, long offset, int whence) {
    const int i = entry_of(fd);
    long position;
    if (fd >= 0 && fd < CONSOLE_FDS) return fail(ESPIPE);
    if (i < 0) return fail(EBADF);
    if (whence < SEEK_SET || whence > SEEK_END || offset != (long)(int32_t)offset) return fail(EINVAL);
    /* (0, SEEK_CUR) is how newlib's ftell asks: the position alone will do. */
    if ((offset != 0 || whence != SEEK_CUR) && host_fseek(files[i].handle, offset, whence) != 0) return fail(EINVAL);
    position = host_ftell(files[i].handle);
    return position >= 0 ? position : fail(EIO);
}

/* st_blksize stays 0: newlib then keeps to plain seeks, one request each. */
int _fstat(int fd, struct stat* status) {
    const int i = entry_of(fd);
    host_status host;
    int result;
    if (fd < 0 || (fd >= CONSOLE_FDS && i < 0)) return fail(EBADF);
    memset(status, 0, sizeof *status);
    if (fd < CONSOLE_FDS) {
        status->st_mode = S_IFCHR;
        return 0;
    }
    result = host_fstat(files[i].handle, &host);
    if (result == HOST_ENOSYS) return 0; /* an older host: a file of no type */
    if (result != 0) return fail_host(result);
    return fill_status(&host, status);
}

int _stat(const char* name, struct stat* status) {
    host_status host;
    int result;
    attach_keys();
    result = host_stat(name, &host);
    if (result != 0) return fail_host(result);
    return fill_status(&host, status);
}

int HOSTFS_NEWLIB_NAME(mkdir)(const char* name, mode_t mode) {
    int result;
    (void)mode; /* the host's own */
    attach_keys();
    result = host_mkdir(name);
    return result == 0 ? 0 : fail_host(result);
}

int HOSTFS_NEWLIB_NAME(rmdir)(const char* name) {
    int result;
    attach_keys();
    result = host_rmdir(name);
    return result == 0 ? 0 : fail_host(result);
}

__attribute__((weak)) int _gettimeofday(struct timeval* now, void* zone) {
    uint32_t seconds, microseconds;
    int result;
    attach_keys();
    result = host_time(&seconds, &microseconds);
    if (result != 0) return fail_host(result);
    if (now) {
        now->tv_sec = (time_t)seconds;
        now->tv_usec = (suseconds_t)microseconds;
    }
    if (zone) memset(zone, 0, 2 * sizeof(int)); /* struct timezone: UTC */
    return 0;
}

/* The host's clock in milliseconds since the first call, as user time. */
__attribute__((weak)) clock_t _times(struct tms* buffer) {
    static uint32_t start_seconds, start_microseconds, started;
    uint32_t seconds, microseconds;
    clock_t ticks;
    int result;
    attach_keys();
    result = host_time(&seconds, &microseconds);
    if (result != 0) return (clock_t)fail_host(result);
    if (!started) {
        start_seconds = seconds;
        start_microseconds = microseconds;
        started = 1;
    }
    ticks = (clock_t)((seconds - start_seconds) * 1000u + microseconds / 1000u - start_microseconds / 1000u);
    memset(buffer, 0, sizeof *buffer);
    buffer->tms_utime = ticks;
    return ticks;
}

__attribute__((weak, noreturn)) void HOSTFS_NEWLIB_NAME(_exit)(int status) {
    attach_keys();
    host_exit(status);
    for (;;) {
    }
}

int _isatty(int fd) {
    if (fd >= 0 && fd < CONSOLE_FDS) return 1;
    errno = entry_of(fd) < 0 ? EBADF : ENOTTY;
    return 0;
}

int _unlink(const char* name) {
    if (!fits(name)) return fail(ENAMETOOLONG);
    attach_keys();
    return host_remove(name) == 0 ? 0 : fail(ENOENT);
}

int _rename_r(struct _reent* reent, const char* old_name, const char* new_name) {
    (void)reent; /* errno is the current one's */
    if (!fits(old_name) || !fits(new_name)) return fail(ENAMETOOLONG);
    attach_keys();
    return host_rename(old_name, new_name) == 0 ? 0 : fail(ENOENT);
}
