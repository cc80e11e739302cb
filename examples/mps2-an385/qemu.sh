# Sourced by run.sh and by the end-to-end test: builds the firmware and
# starts it in QEMU with its UART on a new pseudo-terminal.

# build_firmware EXAMPLE_DIR BUILD_DIR [CMAKE_OPTION...]: BUILD_DIR/firmware.elf
# and firmware-tests.elf, quietly unless the build fails.
build_firmware() {
    fw_source=$1
    fw_build=$2
    shift 2
    mkdir -p "$fw_build"
    if ! { cmake -S "$fw_source" -B "$fw_build" -G Ninja "$@" && cmake --build "$fw_build"; } >"$fw_build/build.log" 2>&1; then
        cat "$fw_build/build.log" >&2
        echo "the firmware did not build" >&2
        return 1
    fi
}

# start_qemu FIRMWARE LOG: sets qemu_pid, and qemu_line to the pty that
# QEMU names on its "char device redirected to" line. Start the host's
# program only after that: QEMU makes the pty then.
start_qemu() {
    : >"$2"
    qemu-system-arm -M mps2-an385 -display none -monitor none -serial pty \
        -kernel "$1" </dev/null >"$2" 2>&1 &
    qemu_pid=$!
    qemu_line=
    tries=0
    while :; do
        qemu_line=$(sed -n 's|.*char device redirected to \(/dev/[^ ]*\).*|\1|p' "$2")
        [ -n "$qemu_line" ] && return 0
        if ! kill -0 "$qemu_pid" 2>/dev/null || [ "$tries" -gt 200 ]; then
            cat "$2" >&2
            echo "QEMU did not report its serial line" >&2
            return 1
        fi
        tries=$((tries + 1))
        sleep 0.05
    done
}

stop_qemu() {
    if [ -n "${qemu_pid:-}" ]; then
        kill "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
        qemu_pid=
    fi
}
