#!/bin/sh
# Installs the Debian packages tolvane needs, only for tools that are not
# there: a tool already on the PATH is never asked of the package manager.
# Prints nothing and exits 0 when everything is there; safe to run again.
#
# usage: scripts/install-deps.sh [demo|build|qemu|all]
#   demo   make demo: cmake, ninja, g++ and make, nothing more
#   build  make, make install, make package: the demo set, GoogleTest,
#          groff and man (the man-page check), dpkg-shlibdeps (the
#          package's dependencies)
#   qemu   make example-qemu*: the build set, the Arm compiler and newlib,
#          QEMU, xmllint (the CI example's report)
#   all    (the default) make test, make bench, make fuzz, make example-qemu:
#          the build set and MinGW-w64, Wine, tmux, picocom, lrzsz, ser2net,
#          socat, pyserial (an RFC 2217 client), the Arm compiler and
#          newlib, QEMU, xmllint, clang with libFuzzer, zsh and fish (their
#          completions' tests)
#
# Without apt-get it names what is missing and exits 1. As a user other
# than root it does the same, with the command that would install it.
# TOLVANE_DEPS_ROOT (for the tests) is put before the paths of the files
# it looks for, such as GoogleTest's sources.
set -eu

set_name=${1:-all}
case $set_name in
demo | build | qemu | all) ;;
*)
    echo "usage: $0 [demo|build|qemu|all]" >&2
    exit 2
    ;;
esac
root=${TOLVANE_DEPS_ROOT:-}

# The Arm compiler and newlib would bring a C++ library for Arm and QEMU its
# GUI, more than a gigabyte; the example board needs neither (QEMU runs
# -display none).
lean_packages="gcc-arm-none-eabi libnewlib-arm-none-eabi qemu-system-arm"

on_path() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || return 1
    done
}

# The native build takes GoogleTest as installed or from its sources; the
# MinGW build needs the sources.
has_gtest() {
    [ -f "$root/usr/src/googletest/CMakeLists.txt" ] ||
        [ -f "$root/usr/include/gtest/gtest.h" ] ||
        [ -f "$root/usr/local/include/gtest/gtest.h" ]
}
has_gtest_sources() { [ -f "$root/usr/src/googletest/CMakeLists.txt" ]; }

has_wine64() { on_path wine64 || [ -x "$root/usr/lib/wine/wine64" ]; }

# newlib for the Arm compiler: Debian's package, or one the compiler finds
# (toolchains from Arm bring their own).
has_newlib() {
    [ -f "$root/usr/lib/arm-none-eabi/newlib/libc_nano.a" ] && return 0
    on_path arm-none-eabi-gcc || return 1
    nano=$(arm-none-eabi-gcc -print-file-name=libc_nano.a 2>/dev/null) || return 1
    case $nano in
    /*) [ -f "$nano" ] ;;
    *) return 1 ;;
    esac
}
# ser2net lives in sbin, which a user's PATH may lack.
has_ser2net() { on_path ser2net || [ -x "$root/usr/sbin/ser2net" ]; }

# Debian's pyserial, for the system's python3 (a pyenv's may lack it).
has_pyserial() { [ -f "$root/usr/lib/python3/dist-packages/serial/rfc2217.py" ]; }

# libFuzzer is clang's runtime, in a package named after clang's version:
# known only once clang is there.
has_libfuzzer() {
    on_path clang || return 1
    printf 'int LLVMFuzzerTestOneInput(const char* d, unsigned long n) { (void)d; (void)n; return 0; }\n' |
        clang -fsanitize=fuzzer -x c - -o /dev/null >/dev/null 2>&1
}
libfuzzer_package() {
    on_path clang || return 0
    version=$(clang -dumpversion 2>/dev/null) || return 0
    echo "libclang-rt-${version%%.*}-dev"
}

missing_names=""
missing_packages=""
# need NAME "PACKAGES" CHECK [ARGS...]: notes NAME and its packages when
# the check fails. Empty PACKAGES: another missing tool must come first.
need() {
    name=$1
    packages=$2
    shift 2
    "$@" && return 0
    missing_names="$missing_names $name"
    for p in $packages; do
        case " $missing_packages " in
        *" $p "*) ;;
        *) missing_packages="$missing_packages $p" ;;
        esac
    done
}

check() {
    missing_names=""
    missing_packages=""
    need cmake cmake on_path cmake
    need ninja ninja-build on_path ninja
    need g++ g++ on_path gcc g++
    need make make on_path make
    [ "$set_name" != demo ] || return 0
    need GoogleTest "libgtest-dev googletest" has_gtest
    need groff groff-base on_path groff
    need man man-db on_path man
    need dpkg-shlibdeps dpkg-dev on_path dpkg-shlibdeps
    [ "$set_name" != build ] || return 0
    need arm-none-eabi-gcc gcc-arm-none-eabi on_path arm-none-eabi-gcc
    need newlib libnewlib-arm-none-eabi has_newlib
    need qemu-system-arm qemu-system-arm on_path qemu-system-arm
    need xmllint libxml2-utils on_path xmllint
    [ "$set_name" = all ] || return 0
    need "GoogleTest sources" googletest has_gtest_sources
    need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64 on_path x86_64-w64-mingw32-g++-posix
    need wine wine on_path wine
    need wine64 wine64 has_wine64
    need tmux tmux on_path tmux
    need picocom picocom on_path picocom
    need sz/rz lrzsz on_path sz rz
    need ser2net ser2net has_ser2net
    need socat socat on_path socat
    need pyserial python3-serial has_pyserial
    need clang clang on_path clang
    need libFuzzer "$(libfuzzer_package)" has_libfuzzer
    need zsh zsh on_path zsh
    need fish fish on_path fish
}

# Names the missing tools and their Debian packages on standard error.
tell_missing() {
    echo "tolvane needs, for 'scripts/install-deps.sh $set_name':$missing_names" >&2
    echo "Debian packages:$missing_packages" >&2
}

check
[ -z "$missing_names" ] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
    tell_missing
    echo "There is no apt-get here: install these with your system's package manager," >&2
    echo "then run make again. (The build alone needs no such check:" >&2
    echo "cmake --preset default && cmake --build --preset default)" >&2
    exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
    tell_missing
    echo "Run as root to install them: sudo $0 $set_name" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
updated=no
# Two rounds at most: libFuzzer's package is known once clang is installed.
for round in 1 2; do
    plain=""
    lean=""
    for p in $missing_packages; do
        case " $lean_packages " in
        *" $p "*) lean="$lean $p" ;;
        *) plain="$plain $p" ;;
        esac
    done
    if [ -n "$plain$lean" ]; then
        echo "Installing:$plain$lean"
        if [ "$updated" = no ]; then
            apt-get update -qq
            updated=yes
        fi
        [ -z "$plain" ] || apt-get install -y -qq $plain >/dev/null
        [ -z "$lean" ] || apt-get install -y -qq --no-install-recommends $lean >/dev/null
    fi
    check
    [ -z "$missing_names" ] && exit 0
done
echo "Still missing after the install:$missing_names" >&2
tell_missing
exit 1
