/* The C runtime on the host with newlib: stat, mkdir, unlink, rmdir, time,
 * gettimeofday, and exit's status. Made for a run without a terminal
 * (tolvane -d DIR </dev/null): tolvane ends with the status the board
 * exits with, here 3. It prints what it saw: the size of given.txt, the
 * host's time, and whether the directory came and went. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "uart.h"

static int directory_comes_and_goes(void) {
    struct stat st;
    FILE* f;
    if (mkdir("made", 0755) != 0 || stat("made", &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    f = fopen("made/file.txt", "w");
    if (!f || fputs("12345", f) < 0 || fclose(f) != 0) return 0;
    if (stat("made/file.txt", &st) != 0 || st.st_size != 5) return 0;
    if (rmdir("made") == 0) return 0; /* not empty yet */
    return unlink("made/file.txt") == 0 && rmdir("made") == 0 && stat("made", &st) != 0;
}

int main(void) {
    struct stat st;
    struct timeval now;
    uart_init();
    uart_wait_for_host();
    printf("\nmps2-an385: the C runtime on the host\n");
    printf("given.txt: %ld bytes\n", stat("given.txt", &st) == 0 ? (long)st.st_size : -1L);
    printf("time: %lu\n", (unsigned long)time(NULL));
    if (gettimeofday(&now, NULL) == 0)
        printf("gettimeofday: %lu.%06lu\n", (unsigned long)now.tv_sec, (unsigned long)now.tv_usec);
    printf("directory made and removed: %s\n", directory_comes_and_goes() ? "yes" : "no");
    exit(3);
}
