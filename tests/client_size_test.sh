#!/bin/sh
# The client library as firmware builds it: freestanding C++ for Cortex-M0
# and M3 at -Os with only the compiler's own headers, no warnings, no
# static constructors, nothing from outside but memcpy, memset, strlen and
# the two raw line functions, and at most 2 KB of code. Its header also
# compiles as C99. host_gcov_dump (hostfs_gcov.c) builds with only the
# compiler's headers too and needs nothing but the library and libgcov;
# newlib's system calls (hostfs_newlib.c) build without a warning where
# newlib is installed. The sizes of both are printed.
# Exits 77 (skipped) when the Arm compiler is not there.
#
# usage: tests/client_size_test.sh SOURCE_DIR WORK_DIR
set -eu
src=$1
work=$2

if ! command -v arm-none-eabi-g++ >/dev/null; then
    echo "SKIPPED: arm-none-eabi-g++ not found (gcc-arm-none-eabi; scripts/install-deps.sh installs it)"
    exit 77
fi
mkdir -p "$work"
# -nostdinc with the compiler's own include directory: no C or C++ library
# headers can slip in, installed or not.
own=$(arm-none-eabi-gcc -print-file-name=include)
headers="-ffreestanding -nostdinc -isystem $own -I$src"
allowed="link_get_raw link_put_raw memcpy memset strlen"
limit=2048
status=0

for cpu in cortex-m0 cortex-m3; do
    arch="-mcpu=$cpu -mthumb"
    for f in client/hostfs link/link link/link_get; do
        arm-none-eabi-g++ $arch $headers -std=c++17 -Os -fno-exceptions -fno-rtti \
            -Wall -Wextra -Werror -c "$src/$f.cpp" -o "$work/$cpu-${f#*/}.o"
    done
    printf '#include "client/hostfs.h"\nint closes(host_file f) { return host_fclose(f); }\n' |
        arm-none-eabi-gcc $arch $headers -std=c99 -pedantic-errors -Wall -Wextra -Werror \
            -x c -c - -o "$work/$cpu-c99.o"
    lib=$work/$cpu-client.o
    arm-none-eabi-ld -r -o "$lib" "$work/$cpu-hostfs.o" "$work/$cpu-link.o" "$work/$cpu-link_get.o"

    undefined=$(arm-none-eabi-nm -u "$lib" | awk '{print $2}' | sort | tr '\n' ' ')
    for symbol in $undefined; do
        case " $allowed " in
        *" $symbol "*) ;;
        *) echo "$cpu: needs $symbol from outside"; status=1 ;;
        esac
    done
    if arm-none-eabi-objdump -h "$lib" | grep -q -E '\.(init_array|ctors)'; then
        echo "$cpu: has a static constructor"
        status=1
    fi
    text=$(arm-none-eabi-size "$lib" | awk 'NR == 2 {print $1}')
    echo "$cpu: text $text bytes (at most $limit); from outside: $undefined"
    [ "$text" -le "$limit" ] || { echo "$cpu: the library grew past $limit bytes"; status=1; }

    gcov=$work/$cpu-gcov.o
    arm-none-eabi-gcc $arch $headers -std=c99 -pedantic-errors -Os -Wall -Wextra -Werror \
        -c "$src/client/hostfs_gcov.c" -o "$gcov"
    for symbol in $(arm-none-eabi-nm -u "$gcov" | awk '{print $2}'); do
        case " host_fopen host_fwrite host_fclose __gcov_info_to_gcda __gcov_info_start __gcov_info_end " in
        *" $symbol "*) ;;
        *) echo "$cpu: host_gcov_dump needs $symbol"; status=1 ;;
        esac
    done
    echo "$cpu: hostfs_gcov.o text, data, bss: $(arm-none-eabi-size "$gcov" | awk 'NR == 2 {print $1 ", " $2 ", " $3}')"
    nano=$(arm-none-eabi-gcc $arch -print-file-name=libc_nano.a)
    if [ "${nano#/}" != "$nano" ] && [ -f "$nano" ]; then
        newlib=$work/$cpu-newlib.o
        arm-none-eabi-gcc $arch --specs=nano.specs -I"$src" -std=c99 -pedantic-errors -Os -Wall -Wextra -Werror \
            -ffunction-sections -c "$src/client/hostfs_newlib.c" -o "$newlib"
        echo "$cpu: hostfs_newlib.o text, data, bss: $(arm-none-eabi-size "$newlib" | awk 'NR == 2 {print $1 ", " $2 ", " $3}')"
    else
        echo "$cpu: hostfs_newlib.c not built: no newlib (libnewlib-arm-none-eabi)"
    fi
done
exit $status
