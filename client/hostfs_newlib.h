/* newlib's system calls on the client library: with client/hostfs_newlib.c
 * linked in, fopen, fprintf, fread, fseek, remove, rename... of newlib
 * (plain or nano) work on the host's files, and printf and getchar on the
 * host's console, through tolvane. A drop-in for semihosting
 * (--specs=rdimon.specs): no debugger, only the UART of hostfs.h.
 *
 * Link this file as an object (not from a library archive: newlib's own
 * references to _write and the rest come after the archives are scanned)
 * with client/hostfs.cpp and link/link.cpp, and no other set of system
 * calls for these names (no rdimon; nosys.specs is fine, it fills in the
 * rest). Yours to supply, as newlib needs them: _sbrk (the heap: stdio's
 * buffers and FILE objects come from malloc), and _kill, _getpid if you
 * use abort. _exit, _gettimeofday and _times are weak here: your own take
 * their place.
 *
 * Descriptors 0, 1 and 2 are the console. Writing them sends terminal text:
 * each 0x02, 0x03 and 0x10 goes after a DLE (the protocol's escape; the host
 * shows the byte), and LF goes out as CR LF. Reading descriptor 0 waits
 * as long as it takes for one key, first from the keys typed while a
 * request ran; CR comes as LF, so fgets and scanf on stdin end at Enter.
 * Keys are not echoed (tolvane --local-echo). HOSTFS_NEWLIB_CRLF=0 turns
 * both line-end maps off. Closing 0, 1 or 2 does nothing.
 *
 * Descriptors from 3 are host files, at most HOSTFS_NEWLIB_FILES (8) open
 * at once (EMFILE); close frees one even when the host's fclose fails.
 * open's flags become an fopen mode, always binary (newlib's fopen asks
 * for the first six, and with "x" for O_EXCL):
 *   O_RDONLY                  "rb"   O_RDWR                   "r+b"
 *   O_WRONLY|O_CREAT|O_TRUNC  "wb"   O_RDWR|O_CREAT|O_TRUNC   "w+b"
 *   O_WRONLY|O_CREAT|O_APPEND "ab"   O_RDWR|O_CREAT|O_APPEND  "a+b"
 *   O_WRONLY                  "r+b": the file must be there, and is kept
 *   O_CREAT|O_EXCL            "wbx", or "w+bx" to read too: EEXIST if there
 *   O_CREAT without O_TRUNC, O_APPEND or O_EXCL: first the file as it is
 *   ("rb", "r+b"), if that fails a new one ("w+b", "wb"): two requests,
 *   not one atomic step. Reads and writes follow the access asked for
 *   (EBADF), whatever the mode.
 * What cannot be mapped:
 * - O_TRUNC or O_APPEND without O_CREAT create a missing file all the same;
 *   O_TRUNC is ignored with O_RDONLY; O_TRUNC|O_APPEND and
 *   O_EXCL|O_APPEND are refused (EINVAL); the permission bits are ignored.
 * - errno of the stream calls is a guess, as the host sends no reason: a
 *   failed open or unlink is ENOENT (EEXIST with O_EXCL), a failed rename
 *   ENOENT, a failed seek EINVAL, a failed close EIO; a name over
 *   HOST_NAME_MAX_LENGTH bytes is ENAMETOOLONG. Write errors on the host
 *   are not reported at all. stat, fstat, mkdir, rmdir, gettimeofday and
 *   times set the host's reason; ENOSYS where the host does not serve
 *   them (an older tolvane: the first such call waits for link_get_raw's
 *   time-out), EIO where no host answered.
 * - read and write are one request each. read returns what came: 0 at the
 *   end of the file, and also when the host is gone (link_get_raw gave -1)
 *   before a byte came; write fails (EIO) only when the host is gone.
 * - lseek is the host's fseek then its ftell: positions are 32-bit signed
 *   on the line, so nothing beyond 2 GiB - 1.
 * - stat and fstat give the kind (S_IFREG, S_IFDIR, else no type), the
 *   size and the modification time (st_mtime, st_atime and st_ctime alike)
 *   from the host, one request each (EOVERFLOW for 2 GiB and more where
 *   off_t has 32 bits); st_blksize stays 0, so newlib keeps to plain
 *   seeks. An older host's file has no type and size 0. Console
 *   descriptors are S_IFCHR and isatty.
 * - mkdir ignores the mode (the host's own); rmdir takes an empty directory.
 * - gettimeofday (and time) is the host's clock in UTC; the time zone, if
 *   asked, is UTC. times (and clock) counts milliseconds of the host's
 *   clock since its first call, as user time: each call is a request.
 * - exit sends its status to the host (stdio flushed first, by newlib),
 *   then waits forever.
 * - rename is the host's rename, one request (this file supplies newlib's
 *   _rename_r; newlib's own would link and unlink). No link, opendir: the
 *   directory search of hostfs.h (host_findfirst) is there.
 * - Calls must not overlap (one thread, or a lock around stdio).
 *
 * The first request (open, unlink, rename, stat...) hands keys that come
 * during a request to stdin (host_set_stray_byte_handler); set your own
 * handler after it to take them instead.
 */
#ifndef TOLVANE_CLIENT_HOSTFS_NEWLIB_H
#define TOLVANE_CLIENT_HOSTFS_NEWLIB_H

#include <stddef.h>
#include <sys/types.h> /* mode_t, clock_t */

#ifdef __cplusplus
extern "C" {
#endif

struct stat;
struct _reent;
struct timeval;
struct tms;

/* The host's own C library has mkdir, rmdir and _exit: the tests build
 * these three under other names. */
#ifdef HOSTFS_NEWLIB_TEST_NAMES
#define HOSTFS_NEWLIB_NAME(name) hostfs_test##name
#else
#define HOSTFS_NEWLIB_NAME(name) name
#endif

/* newlib calls these; they are declared here for tests and the curious. */
int _open(const char* name, int flags, ...);
int _close(int fd);
int _read(int fd, void* buffer, size_t count);
int _write(int fd, const void* data, size_t count);
long _lseek(int fd, long offset, int whence);
int _fstat(int fd, struct stat* status);
int _isatty(int fd);
int _unlink(const char* name);
int _rename_r(struct _reent* reent, const char* old_name, const char* new_name);
int _stat(const char* name, struct stat* status);
int HOSTFS_NEWLIB_NAME(mkdir)(const char* name, mode_t mode);
int HOSTFS_NEWLIB_NAME(rmdir)(const char* name);
int _gettimeofday(struct timeval* now, void* zone);
clock_t _times(struct tms* buffer);
void HOSTFS_NEWLIB_NAME(_exit)(int status) __attribute__((noreturn));

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
