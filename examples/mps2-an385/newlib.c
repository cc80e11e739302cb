/* The example board with newlib: plain C library calls, fopen, fprintf,
 * fscanf, fseek, rename, remove, stat, mkdir, time, printf and fgets on
 * stdin, reach the host through tolvane (client/hostfs_newlib.c
 * underneath). One line per step, "ok" or "not ok", then PASS or FAIL;
 * nothing before holds either word. Then exit tells the host the status.
 * It asks for a line on stdin: tolvane --expect 'type a line' --send 'hi\r'. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "uart.h"

static int failures;

static void report(const char* step, int ok) {
    printf("%s %s\n", ok ? "ok" : "not ok", step);
    failures += !ok;
}

/* Every byte value, twice: every escape on the way, and more than once
 * through newlib's buffer. */
static int write_bytes(void) {
    unsigned char all[512];
    for (int i = 0; i < 512; ++i) all[i] = (unsigned char)i;
    FILE* f = fopen("bytes.bin", "wb");
    if (!f) return 0;
    const size_t written = fwrite(all, 1, sizeof all, f);
    return (fclose(f) == 0) & (written == sizeof all);
}

static int read_and_seek(void) {
    unsigned char got[600];
    FILE* f = fopen("bytes.bin", "rb");
    if (!f) return 0;
    int ok = fread(got, 1, sizeof got, f) == 512 && feof(f);
    for (int i = 0; ok && i < 512; ++i) ok = got[i] == (unsigned char)i;
    ok = ok && fseek(f, 0, SEEK_END) == 0 && ftell(f) == 512;
    ok = ok && fseek(f, 300, SEEK_SET) == 0 && fgetc(f) == 300 % 256 && ftell(f) == 301;
    ok = ok && fseek(f, -2, SEEK_CUR) == 0 && fgetc(f) == 299 % 256;
    ok = ok && fseek(f, -1, SEEK_END) == 0 && fgetc(f) == 255 && fgetc(f) == EOF;
    return (fclose(f) == 0) & ok;
}

/* r+: a byte overwritten in place, the rest kept. */
static int update_in_place(void) {
    unsigned char got[16];
    FILE* f = fopen("bytes.bin", "r+b");
    if (!f) return 0;
    int ok = fseek(f, 10, SEEK_SET) == 0 && fputc('X', f) == 'X';
    ok = ok && fseek(f, 0, SEEK_SET) == 0 && fread(got, 1, sizeof got, f) == sizeof got;
    ok = ok && got[9] == 9 && got[10] == 'X' && got[11] == 11;
    return (fclose(f) == 0) & ok;
}

static int write_text(void) {
    FILE* f = fopen("notes.txt", "w");
    if (!f) return 0;
    int ok = fprintf(f, "%d apples and %s\n", 3, "pears") == 19;
    ok = ok && fprintf(f, "total %ld\n", -12345L) > 0 && fputs("last line\n", f) >= 0;
    return (fclose(f) == 0) & ok;
}

static int read_text(void) {
    char word[16], line[32];
    int apples = 0;
    FILE* f = fopen("notes.txt", "r");
    if (!f) return 0;
    int ok = fscanf(f, "%d apples and %15s", &apples, word) == 2 && apples == 3 && strcmp(word, "pears") == 0;
    ok = ok && fgets(line, sizeof line, f) && strcmp(line, "\n") == 0;
    ok = ok && fgets(line, sizeof line, f) && strcmp(line, "total -12345\n") == 0 && ftell(f) == 32;
    ok = ok && fgets(line, sizeof line, f) && strcmp(line, "last line\n") == 0;
    ok = ok && fgets(line, sizeof line, f) == NULL && feof(f);
    return (fclose(f) == 0) & ok;
}

static int append_text(void) {
    char line[32];
    FILE* f = fopen("notes.txt", "a");
    if (!f) return 0;
    int ok = fputs("appended\n", f) >= 0;
    ok = (fclose(f) == 0) & ok;
    f = fopen("notes.txt", "r");
    if (!f) return 0;
    ok = ok && fseek(f, -9, SEEK_END) == 0 && fgets(line, sizeof line, f) && strcmp(line, "appended\n") == 0;
    return (fclose(f) == 0) & ok;
}

static int rename_notes(void) {
    if (rename("notes.txt", "kept.txt") != 0) return 0;
    errno = 0;
    FILE* f = fopen("notes.txt", "r");
    if (f || errno != ENOENT) return 0;
    f = fopen("kept.txt", "r");
    return f && fclose(f) == 0;
}

static int remove_scratch(void) {
    FILE* f = fopen("scratch.tmp", "w");
    if (!f || fclose(f) != 0 || remove("scratch.tmp") != 0) return 0;
    errno = 0;
    return fopen("scratch.tmp", "r") == NULL && remove("scratch.tmp") == -1 && errno == ENOENT;
}

/* The POSIX calls underneath, and their errors. */
static int descriptors(void) {
    char got[8];
    int fd = open("raw.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 3) return 0;
    int ok = write(fd, "abc", 3) == 3 && lseek(fd, 0, SEEK_END) == 3 && lseek(fd, 0, SEEK_CUR) == 3;
    ok = (close(fd) == 0) & ok;
    ok = ok && open("raw.bin", O_WRONLY | O_CREAT | O_EXCL, 0644) == -1 && errno == EEXIST;
    ok = ok && fopen("raw.bin", "wbx") == NULL && errno == EEXIST;
    fd = open("raw.bin", O_RDONLY);
    ok = ok && fd >= 3 && read(fd, got, sizeof got) == 3 && memcmp(got, "abc", 3) == 0;
    ok = ok && write(fd, "x", 1) == -1 && errno == EBADF;
    ok = (close(fd) == 0) & ok;
    ok = ok && close(fd) == -1 && errno == EBADF && isatty(1) && !isatty(fd);
    return ok;
}

/* The rest of the C runtime: a host file's size, a directory made and
 * removed, the host's clock (any time after 2020 will do). */
static int runtime(void) {
    struct stat st;
    int ok = stat("bytes.bin", &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 512;
    ok = ok && mkdir("made", 0755) == 0 && stat("made", &st) == 0 && S_ISDIR(st.st_mode);
    ok = ok && mkdir("made", 0755) == -1 && errno == EEXIST;
    ok = ok && rmdir("made") == 0 && stat("made", &st) == -1 && errno == ENOENT;
    return ok && time(NULL) > 1577836800;
}

/* A line typed on the host's keyboard: Enter ends it. */
static int read_stdin(void) {
    char line[40];
    printf("type a line: ");
    fflush(stdout);
    if (!fgets(line, sizeof line, stdin)) return 0;
    line[strcspn(line, "\n")] = '\0';
    printf("got '%s'\n", line);
    return line[0] != '\0';
}

int main(void) {
    uart_init();
    uart_wait_for_host();
    printf("\nmps2-an385 with newlib: host files through fopen and printf\n");
    /* The framing bytes as text: the host shows them as they are. */
    printf("framing bytes as text: <%c%c%c>\n", 0x02, 0x03, 0x10);
    fprintf(stderr, "stderr is the console too\n");
    report("write bytes.bin", write_bytes());
    report("read back and seek in bytes.bin", read_and_seek());
    report("update bytes.bin in place", update_in_place());
    report("fprintf to notes.txt", write_text());
    report("fscanf and fgets from notes.txt", read_text());
    report("append to notes.txt", append_text());
    report("rename notes.txt to kept.txt", rename_notes());
    report("remove scratch.tmp", remove_scratch());
    report("open, write, lseek, read, close raw.bin", descriptors());
    report("stat, mkdir, rmdir and time", runtime());
    report("a line from stdin", read_stdin());
    printf("%s\n", failures ? "FAIL" : "PASS");
    exit(failures ? 1 : 0);
}
