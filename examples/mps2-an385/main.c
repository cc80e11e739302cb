/* Host files from bare-metal C through tolvane: write, read back, list,
 * rename and remove, one console line per step, then PASS or FAIL. */
#include "client/hostfs.h"
#include "uart.h"

#define SEEK_FROM_END 2
#define NOTES "first line\n2nd line\n"

static int failures;

static void report(const char* step, int ok) {
    uart_puts(step);
    uart_puts(ok ? ": ok\r\n" : ": FAILED\r\n");
    if (!ok) ++failures;
}

static void put_number(unsigned long n) {
    char digits[12];
    int i = 0;
    do digits[i++] = (char)('0' + n % 10); while ((n /= 10) != 0);
    while (i > 0) uart_putc(digits[--i]);
}

static int same(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

/* Every byte value, so every escape is on the way. */
static int write_bytes(void) {
    unsigned char all[256];
    for (int i = 0; i < 256; ++i) all[i] = (unsigned char)i;
    host_file f = host_fopen("bytes.bin", "wb");
    if (f == 0) return 0;
    long sent = host_fwrite(all, sizeof all, f);
    return (host_fclose(f) == 0) & (sent == 256);
}

static int read_bytes(void) {
    unsigned char got[300];
    host_file f = host_fopen("bytes.bin", "rb");
    if (f == 0) return 0;
    int ok = host_fread(got, sizeof got, f) == 256 && host_fgetc(f) == -1;
    for (int i = 0; ok && i < 256; ++i) ok = got[i] == i;
    return (host_fclose(f) == 0) & ok;
}

static int write_text(void) {
    host_file f = host_fopen("notes.txt", "w");
    if (f == 0) return 0;
    int ok = host_fputs("first line\n", f) >= 0 && host_fputc('2', f) == '2' && host_fputs("nd line\n", f) >= 0;
    return (host_fclose(f) == 0) & ok;
}

static int read_text(void) {
    char line[40];
    host_file f = host_fopen("notes.txt", "r");
    if (f == 0) return 0;
    int ok = host_fgets(line, sizeof line, f) && same(line, "first line\n");
    ok = ok && host_fgets(line, sizeof line, f) && same(line, "2nd line\n");
    ok = ok && host_fgets(line, sizeof line, f) == 0;
    ok = ok && host_fseek(f, 0, SEEK_FROM_END) == 0 && host_ftell(f) == (long)sizeof NOTES - 1;
    ok = ok && host_fseek(f, 0, 0) == 0 && host_fgetc(f) == 'f';
    ok = ok && host_ungetc('F', f) == 'F' && host_fgetc(f) == 'F';
    return (host_fclose(f) == 0) & ok;
}

/* Lists *.*, one line per entry; true if both files are there. */
static int list_files(void) {
    host_find_record entry;
    int found = 0;
    for (int r = host_findfirst("*.*", 0, &entry); r == 0; r = host_findnext(&entry)) {
        uart_puts("  ");
        uart_puts(entry.name);
        uart_puts(" ");
        put_number(entry.size);
        uart_puts("\r\n");
        if (same(entry.name, "bytes.bin") && entry.size == 256) found |= 1;
        if (same(entry.name, "notes.txt") && entry.size == sizeof NOTES - 1) found |= 2;
    }
    return found == 3;
}

static int rename_notes(void) {
    return host_rename("notes.txt", "log.txt") == 0 && host_fopen("notes.txt", "r") == 0;
}

static int remove_scratch(void) {
    host_file f = host_fopen("scratch.tmp", "w");
    if (f == 0 || host_fclose(f) != 0) return 0;
    return host_remove("scratch.tmp") == 0 && host_fopen("scratch.tmp", "r") == 0;
}

int main(void) {
    uart_init();
    uart_wait_for_host();
    uart_puts("\r\nmps2-an385: host files through tolvane\r\n");
    report("write bytes.bin", write_bytes());
    report("read back bytes.bin", read_bytes());
    report("write notes.txt", write_text());
    report("read back notes.txt", read_text());
    report("list *.*", list_files());
    report("rename notes.txt to log.txt", rename_notes());
    report("remove scratch.tmp", remove_scratch());
    uart_puts(failures ? "FAIL\r\n" : "PASS\r\n");
    return 0;
}
