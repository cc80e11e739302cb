#!/bin/sh
# scripts/install-deps.sh against a PATH of stand-ins: every tool there
# means silence and status 0, whoever runs it; a missing tool is named
# without apt-get, refused politely without root, and installed as root
# (the Arm compiler, newlib and QEMU without recommends, libFuzzer after
# clang).
# Needs no root: "root" and apt-get are stand-ins too.
#
# usage: tests/install_deps_test.sh SCRIPT WORK_DIR
set -u
script=$1
work=$2
. "$(dirname "$0")/script_start.sh"

tools="cmake ninja gcc g++ make groff man dpkg-shlibdeps x86_64-w64-mingw32-g++-posix wine wine64
tmux picocom sz rz ser2net socat arm-none-eabi-gcc qemu-system-arm xmllint zsh fish"

# A tool that does nothing and succeeds.
stub() {
    printf '#!/bin/sh\nexit 0\n' >"$1/$2"
    chmod +x "$1/$2"
}

# stub_clang DIR VERSION MARKER: a clang of that version whose libFuzzer
# links only once MARKER is there (its runtime "installed").
stub_clang() {
    cat >"$1/clang" <<EOF
#!/bin/sh
for a in "\$@"; do
    case \$a in
    -dumpversion) echo $2.0.6; exit 0 ;;
    -fsanitize=fuzzer) [ -e "$3" ]; exit \$? ;;
    esac
done
exit 0
EOF
    chmod +x "$1/clang"
}

newlib_dir=usr/lib/arm-none-eabi/newlib
pyserial_dir=usr/lib/python3/dist-packages/serial

# A machine: a bin directory with every tool but those named, an id that
# says FAKE_UID, GoogleTest's files and newlib under its root.
machine() {
    name=$1
    shift
    dir=$work/$name
    mkdir -p "$dir/bin" "$dir/root/usr/src/googletest" "$dir/root/$newlib_dir" "$dir/root/$pyserial_dir"
    : >"$dir/root/usr/src/googletest/CMakeLists.txt"
    : >"$dir/root/$pyserial_dir/rfc2217.py"
    : >"$dir/root/$newlib_dir/libc_nano.a"
    printf '#!/bin/sh\necho "${FAKE_UID:-1000}"\n' >"$dir/bin/id"
    chmod +x "$dir/bin/id"
    for t in $tools; do stub "$dir/bin" "$t"; done
    stub_clang "$dir/bin" 14 "$dir/bin/.libfuzzer"
    : >"$dir/bin/.libfuzzer"
    for gone in "$@"; do
        case $gone in
        GoogleTest) rm -rf "$dir/root/usr/src/googletest" ;;
        newlib) rm -rf "$dir/root/$newlib_dir" ;;
        libFuzzer) rm -f "$dir/bin/.libfuzzer" ;;
        *) rm -f "$dir/bin/$gone" ;;
        esac
    done
}

# An apt-get that logs its calls and "installs" the tools of a package;
# its clang is version 19.
with_apt() {
    dir=$work/$1
    mkdir -p "$dir/packages"
    stub_clang "$dir/packages" 19 "$dir/bin/.libfuzzer"
    cat >"$dir/bin/apt-get" <<EOF
#!/bin/sh
PATH=/usr/bin:/bin
echo "\$*" >>"$dir/apt.log"
[ "\$1" = install ] || exit 0
for p in "\$@"; do
    case \$p in
    ninja-build) printf '#!/bin/sh\nexit 0\n' >"$dir/bin/ninja"; chmod +x "$dir/bin/ninja" ;;
    ser2net) printf '#!/bin/sh\nexit 0\n' >"$dir/bin/ser2net"; chmod +x "$dir/bin/ser2net" ;;
    qemu-system-arm) printf '#!/bin/sh\nexit 0\n' >"$dir/bin/qemu-system-arm"; chmod +x "$dir/bin/qemu-system-arm" ;;
    libnewlib-arm-none-eabi) mkdir -p "$dir/root/$newlib_dir"; : >"$dir/root/$newlib_dir/libc_nano.a" ;;
    clang) cp "$dir/packages/clang" "$dir/bin/clang" ;;
    libclang-rt-*-dev) : >"$dir/bin/.libfuzzer" ;;
    esac
done
exit 0
EOF
    chmod +x "$dir/bin/apt-get"
}
# run NAME SET [UID]: the script on that machine's PATH alone; sets out
# (both streams) and status.
run() {
    dir=$work/$1
    out=$(cd "$dir" && PATH="$dir/bin" FAKE_UID=${3:-1000} TOLVANE_DEPS_ROOT="$dir/root" \
        /bin/sh "$script" "$2" 2>&1)
    status=$?
}

expect_silent() {
    [ "$status" -eq 0 ] || fail "$1: status $status"
    [ -z "$out" ] || fail "$1: printed: $out"
}
says() {
    case $out in
    *"$2"*) ;;
    *) fail "$1: does not say '$2' in: $out" ;;
    esac
}
not_says() {
    case $out in
    *"$2"*) fail "$1: says '$2' in: $out" ;;
    esac
}
apt_log() { cat "$work/$1/apt.log" 2>/dev/null; }

# Everything there: nothing printed, status 0, apt-get never asked, as a
# user and as root.
machine complete
with_apt complete
for set_name in build all; do
    run complete "$set_name"
    expect_silent "all present, $set_name, user"
    run complete "$set_name" 0
    expect_silent "all present, $set_name, root"
done
[ -z "$(apt_log complete)" ] || fail "all present: apt-get was called: $(apt_log complete)"

# The full set's tools do not matter to the build set.
machine builder wine wine64 tmux qemu-system-arm clang newlib zsh fish
run builder build
expect_silent "build set with the full set's tools missing"
run builder all
[ "$status" -ne 0 ] || fail "full set with tools missing: status 0"
for t in wine64 tmux qemu-system-arm clang libFuzzer newlib libnewlib-arm-none-eabi zsh fish; do
    says "full set, no apt-get" "$t"
done

# Each smaller set asks only for its own: the demo set for no GoogleTest,
# the QEMU examples' set for no MinGW, Wine or clang.
machine demo GoogleTest groff man dpkg-shlibdeps wine wine64 qemu-system-arm
run demo demo
expect_silent "demo set with the build set's tools missing"
run demo build
[ "$status" -ne 0 ] || fail "build set without GoogleTest: status 0"
machine qemuset wine wine64 x86_64-w64-mingw32-g++-posix clang tmux
run qemuset qemu
expect_silent "qemu set with MinGW, Wine and clang missing"
machine qemuless qemu-system-arm xmllint
run qemuless qemu
[ "$status" -ne 0 ] || fail "qemu set without QEMU: status 0"
says "qemu set without QEMU" qemu-system-arm
says "qemu set without xmllint" libxml2-utils
not_says "qemu set without QEMU" wine
run qemuless nothing
[ "$status" -eq 2 ] || fail "an unknown set: status $status"

# newlib that the Arm compiler finds (Arm's own toolchain) is newlib too.
machine armgcc newlib
cat >"$work/armgcc/bin/arm-none-eabi-gcc" <<EOF
#!/bin/sh
[ "\$1" = -print-file-name=libc_nano.a ] && echo "$work/armgcc/bin/libc_nano.a"
exit 0
EOF
run armgcc all
[ "$status" -ne 0 ] || fail "newlib nowhere: status 0"
says "newlib nowhere" libnewlib-arm-none-eabi
: >"$work/armgcc/bin/libc_nano.a"
run armgcc all
expect_silent "newlib that the Arm compiler finds"

# No apt-get: the missing tool and its package named, status 1.
machine bare ninja
run bare build
[ "$status" -eq 1 ] || fail "ninja missing, no apt-get: status $status"
says "ninja missing, no apt-get" ninja-build
says "ninja missing, no apt-get" "no apt-get"
printf '%s\n' "$out" | grep -qx "tolvane needs, for 'scripts/install-deps.sh build': ninja" ||
    fail "ninja missing, no apt-get: not named alone in: $out"
not_says "ninja missing, no apt-get" "Run as root"

machine nogtest GoogleTest
run nogtest build
[ "$status" -eq 1 ] || fail "GoogleTest missing: status $status"
says "GoogleTest missing" libgtest-dev

# apt-get there, but not root: the command to run, nothing installed.
machine user ninja
with_apt user
run user build
[ "$status" -eq 1 ] || fail "ninja missing, user: status $status"
says "ninja missing, user" "Run as root"
says "ninja missing, user" ninja-build
[ -z "$(apt_log user)" ] || fail "ninja missing, user: apt-get was called: $(apt_log user)"

# Root: only what is missing, the Arm compiler, newlib and QEMU without
# recommends.
machine root ninja qemu-system-arm ser2net newlib
with_apt root
run root all 0
[ "$status" -eq 0 ] || fail "root install: status $status: $out"
expected="update -qq
install -y -qq ninja-build ser2net
install -y -qq --no-install-recommends libnewlib-arm-none-eabi qemu-system-arm"
[ "$(apt_log root)" = "$expected" ] || fail "root install: apt-get was called with:
$(apt_log root)
instead of:
$expected"
run root all 0
expect_silent "root, run again"

# The build set asks for nothing of the full set.
machine rootbuild ninja qemu-system-arm
with_apt rootbuild
run rootbuild build 0
[ "$status" -eq 0 ] || fail "root, build set: status $status: $out"
[ "$(apt_log rootbuild)" = "update -qq
install -y -qq ninja-build" ] || fail "root, build set: apt-get was called with: $(apt_log rootbuild)"

# libFuzzer's package follows the clang that is there, or that came.
machine fuzz libFuzzer
with_apt fuzz
run fuzz all 0
[ "$status" -eq 0 ] || fail "libFuzzer missing: status $status: $out"
says "libFuzzer missing" libclang-rt-14-dev
machine noclang clang libFuzzer
with_apt noclang
run noclang all 0
[ "$status" -eq 0 ] || fail "clang missing: status $status: $out"
[ "$(apt_log noclang)" = "update -qq
install -y -qq clang
install -y -qq libclang-rt-19-dev" ] || fail "clang missing: apt-get was called with: $(apt_log noclang)"

# A package that does not bring its tool: named, status 1.
machine broken tmux
with_apt broken
run broken all 0
[ "$status" -eq 1 ] || fail "tmux not brought by its package: status $status"
says "tmux not brought by its package" "Still missing after the install: tmux"

run complete frob
[ "$status" -eq 2 ] || fail "unknown set: status $status"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "install-deps.sh: silent when all is there; names, refuses or installs what is missing"
