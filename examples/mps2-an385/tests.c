/* The example board as a test runner for CI: it runs its checks, writes
 * report.xml (JUnit XML) onto the host through tolvane, then prints PASS or
 * FAIL as its last line, for
 *     tolvane -d OUT --expect PASS --fail FAIL --timeout 60
 * Until then nothing it prints holds either word. Built with
 * -DPLANT_FAILURE=ON one check fails on purpose. Built as
 * firmware-coverage (WRITE_COVERAGE) it also writes its .gcda files onto
 * the host before its last line. */
#include <stddef.h>
#include <stdint.h>

#include "client/hostfs.h"
#include "uart.h"

#ifdef WRITE_COVERAGE
#include "client/hostfs_gcov.h"
#endif

#ifndef PLANT_FAILURE
#define PLANT_FAILURE 0
#endif

void* memcpy(void* to, const void* from, size_t n);
void* memset(void* to, int value, size_t n);
size_t strlen(const char* text);

/* A check returns 0, or why it went wrong. */
typedef const char* (*check)(void);

static int same_bytes(const void* a, const void* b, size_t n) {
    const unsigned char* x = a;
    const unsigned char* y = b;
    while (n > 0 && *x == *y) ++x, ++y, --n;
    return n == 0;
}

static const char* arithmetic(void) {
    /* volatile: computed on the board, not by the compiler. */
    volatile uint64_t all_ones = UINT64_MAX;
    volatile int32_t minus_seven = -7, two = 2;
    volatile uint32_t max32 = UINT32_MAX;
    if (all_ones / 10u != 1844674407370955161ull || all_ones % 10u != 5u) return "64-bit division";
    if (minus_seven / two != -3 || minus_seven % two != -1) return "signed division truncates toward zero";
    if (max32 * max32 != 1u) return "32-bit product wraps";
    return 0;
}

static uint32_t crc32(const unsigned char* bytes, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    while (n--) {
        crc ^= *bytes++;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

static const char* checksum(void) {
    return crc32((const unsigned char*)"123456789", 9) == 0xCBF43926u ? 0 : "CRC-32 check value";
}

/* The C library functions of libc.c. */
static const char* strings(void) {
    char text[32];
    if (strlen("") != 0 || strlen("tolvane") != 7) return "strlen";
    memset(text, 'x', sizeof text);
    memcpy(text + 3, "board", 6);
    if (!same_bytes(text, "xxxboard", 9) || text[9] != 'x' || text[31] != 'x') return "memcpy and memset";
    return 0;
}

static int initialised = 42;
static char greeting[] = "hello";
static uint32_t zeroed[64];

/* What startup.c sets up before main. */
static const char* startup(void) {
    if (initialised != 42 || !same_bytes(greeting, "hello", 6)) return ".data not copied";
    for (size_t i = 0; i < sizeof zeroed / sizeof zeroed[0]; ++i)
        if (zeroed[i] != 0) return ".bss not cleared";
    return 0;
}

static uint32_t scratch[2048];

static const char* ram(void) {
    for (uint32_t pass = 0; pass < 2; ++pass) {
        const uint32_t flip = pass ? 0xFFFFFFFFu : 0;
        for (uint32_t i = 0; i < 2048; ++i) scratch[i] = (i * 2654435761u) ^ flip;
        for (uint32_t i = 0; i < 2048; ++i)
            if (scratch[i] != ((i * 2654435761u) ^ flip)) return "8 KB pattern read back";
    }
    return 0;
}

static const char* systick(void) {
    const uint32_t start = uart_milliseconds();
    for (uint32_t spins = 0; uart_milliseconds() - start < 5; ++spins)
        if (spins > 100000000u) return "SysTick does not count";
    return 0;
}

/* Every byte value to a file on the host and back. */
static const char* host_round_trip(void) {
    unsigned char all[256], back[300];
    for (int i = 0; i < 256; ++i) all[i] = (unsigned char)i;
    host_file f = host_fopen("roundtrip.bin", "wb");
    if (f == 0) return "open for writing";
    const long written = host_fwrite(all, sizeof all, f);
    if (host_fclose(f) != 0 || written != 256) return "write";
    f = host_fopen("roundtrip.bin", "rb");
    if (f == 0) return "open for reading";
    const long got = host_fread(back, sizeof back, f);
    host_fclose(f);
    if (got != 256 || !same_bytes(all, back, 256)) return "bytes read back";
    return host_remove("roundtrip.bin") == 0 ? 0 : "remove";
}

/* The failure a CI job must catch: on only with PLANT_FAILURE. */
static const char* planted(void) {
    volatile int sum = 0;
    for (int i = 1; i <= 10; ++i) sum += i;
    return sum == (PLANT_FAILURE ? 56 : 55) ? 0 : "sum of 1..10 is not 56 (planted)";
}

static const struct {
    const char* name;
    check run;
} tests[] = {
    {"arithmetic", arithmetic}, {"checksum", checksum}, {"strings", strings}, {"startup", startup},
    {"ram", ram},               {"systick", systick},       {"host_round_trip", host_round_trip}, {"planted", planted},
};
#define TEST_COUNT (sizeof tests / sizeof tests[0])

static const char* why[TEST_COUNT];
static uint32_t took_ms[TEST_COUNT];

/* Decimal, into a buffer of 12. */
static const char* number(unsigned long n) {
    static char digits[12];
    char* p = digits + sizeof digits - 1;
    *p = '\0';
    do *--p = (char)('0' + n % 10); while ((n /= 10) != 0);
    return p;
}

/* Milliseconds as seconds with three decimals. */
static const char* seconds(uint32_t ms) {
    static char text[16];
    const char* whole = number(ms / 1000u);
    size_t n = strlen(whole);
    memcpy(text, whole, n);
    text[n++] = '.';
    text[n++] = (char)('0' + ms / 100u % 10u);
    text[n++] = (char)('0' + ms / 10u % 10u);
    text[n++] = (char)('0' + ms % 10u);
    text[n] = '\0';
    return text;
}

/* Writes the report; false when the host did not take it. */
static int put(host_file f, const char* text, int* ok) {
    if (*ok && host_fputs(text, f) < 0) *ok = 0;
    return *ok;
}

static int write_report(unsigned failures, uint32_t total_ms) {
    host_file f = host_fopen("report.xml", "w");
    if (f == 0) return 0;
    int ok = 1;
    put(f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite name=\"mps2-an385\" tests=\"", &ok);
    put(f, number(TEST_COUNT), &ok);
    put(f, "\" failures=\"", &ok);
    put(f, number(failures), &ok);
    put(f, "\" errors=\"0\" skipped=\"0\" time=\"", &ok);
    put(f, seconds(total_ms), &ok);
    put(f, "\">\n", &ok);
    for (size_t i = 0; i < TEST_COUNT; ++i) {
        put(f, "  <testcase classname=\"mps2-an385\" name=\"", &ok);
        put(f, tests[i].name, &ok);
        put(f, "\" time=\"", &ok);
        put(f, seconds(took_ms[i]), &ok);
        if (why[i] == 0) {
            put(f, "\"/>\n", &ok);
            continue;
        }
        /* The texts hold nothing XML would have to escape. */
        put(f, "\">\n    <failure message=\"", &ok);
        put(f, why[i], &ok);
        put(f, "\" type=\"check\"/>\n  </testcase>\n", &ok);
    }
    put(f, "</testsuite>\n", &ok);
    return (host_fclose(f) == 0) & ok;
}

int main(void) {
    uart_init();
    uart_wait_for_host();
    uart_puts("\r\nmps2-an385: ");
    uart_puts(number(TEST_COUNT));
    uart_puts(" checks\r\n");
    unsigned failures = 0;
    const uint32_t start = uart_milliseconds();
    for (size_t i = 0; i < TEST_COUNT; ++i) {
        const uint32_t began = uart_milliseconds();
        why[i] = tests[i].run();
        took_ms[i] = uart_milliseconds() - began;
        failures += why[i] != 0;
        /* TAP's words: "not ok" is no FAIL, so the run goes on to its report. */
        uart_puts(why[i] ? "not ok " : "ok ");
        uart_puts(number(i + 1));
        uart_puts(" - ");
        uart_puts(tests[i].name);
        if (why[i]) {
            uart_puts(": ");
            uart_puts(why[i]);
        }
        uart_puts("\r\n");
    }
    const int reported = write_report(failures, uart_milliseconds() - start);
    uart_puts(reported ? "report.xml written\r\n" : "report.xml not written\r\n");
    int covered = 1;
#ifdef WRITE_COVERAGE
    const int unwritten = host_gcov_dump();
    uart_puts(unwritten ? "coverage: .gcda files not written\r\n" : "coverage: .gcda files written\r\n");
    covered = unwritten == 0;
#endif
    uart_puts(failures == 0 && reported && covered ? "PASS\r\n" : "FAIL\r\n");
    return 0;
}
