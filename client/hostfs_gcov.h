/* Coverage onto the host: host_gcov_dump writes the .gcda file of every
 * translation unit built with --coverage -fprofile-info-section into a
 * host file, through the client library, with no C library (GCC 12 and
 * later: its libgcov's __gcov_info_to_gcda). Call it when the code under
 * test has run, for example just before the test runner's last line.
 *
 * Build the code to measure with --coverage -fprofile-info-section (the
 * gcov information then goes into the section .gcov_info instead of
 * constructors), link with --coverage or -lgcov, build client/hostfs_gcov.c
 * itself without them (its counts would change while it writes them), and
 * give .gcov_info its place in your linker script, as GCC's manual does
 * (Profiling and Test Coverage in Freestanding Environments):
 *
 *     .gcov_info : {
 *         PROVIDE(__gcov_info_start = .);
 *         KEEP(*(.gcov_info))
 *         PROVIDE(__gcov_info_end = .);
 *     } > FLASH
 *
 * Each file goes under the last part of the name GCC gave it, such as
 * "tests.c.gcda" for CMake's tests.c.obj: flat in the directory tolvane
 * serves (-d OUT), where no directory need be made. gcov reads it beside its
 * .gcno file from the build: copy one to the other (as
 * examples/mps2-an385/coverage.sh does). Two sources of one name in two
 * directories would share a file: compiled with -fprofile-dir=.
 * -fprofile-prefix-path=BUILD_DIR, the path is in the name
 * ("CMakeFiles#fw.dir#src#tests.c.gcda"), to be renamed on the host. Names
 * over 78 bytes cannot go. What runs after the call is not in its counts.
 *
 * Only --coverage's counters: -fprofile-generate's value profiles would
 * need memory from the heap, which this does not give.
 */
#ifndef TOLVANE_CLIENT_HOSTFS_GCOV_H
#define TOLVANE_CLIENT_HOSTFS_GCOV_H

#ifdef __cplusplus
extern "C" {
#endif

/* Returns how many files could not be written: 0 when all went over. The
 * counters go on counting: a second call writes the sums so far. */
int host_gcov_dump(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
