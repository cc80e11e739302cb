/* The client library called from C, as firmware calls it. Built as C99
 * beside hostfs_test.cpp, which drives it over the fake line. */
#include "client/hostfs.h"

long c_save_and_find(const char* name, const char* text);

/* Saves text under name, then looks the name up: the size the host lists,
 * or -1. */
long c_save_and_find(const char* name, const char* text) {
    host_find_record record;
    host_file file = host_fopen(name, "w");
    if (file == 0) return -1;
    host_fputs(text, file);
    if (host_fclose(file) != 0) return -1;
    if (host_findfirst(name, 0, &record) != 0) return -1;
    return (long)record.size;
}
