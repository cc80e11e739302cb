#!/bin/sh
# The shell completions written from the option table, in the shell itself
# as a user has them loaded: the options, the words of their arguments, and
# for -c the lines and profiles tolvane --list finds (a made-up
# /dev/serial/by-id and config file). Exits 77 (skipped) where the shell
# is not installed.
#
# usage: tests/completions_test.sh bash|zsh|fish COMPLETIONS_DIR TOLVANE WORK_DIR
set -u
shell=$1
scripts=$2
tolvane=$3
work=$4

if ! command -v "$shell" >/dev/null 2>&1; then
    echo "SKIP: $shell is not installed (scripts/install-deps.sh all installs it)"
    exit 77
fi
. "$(dirname "$0")/script_start.sh"

# What --list finds: one board on USB, and the profiles of two files.
by_id=usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
mkdir -p "$work/root/dev/serial/by-id" "$work/config/tolvane" "$work/home"
ln -s ../../ttyUSB0 "$work/root/dev/serial/by-id/$by_id"
printf '[default]\nbaudrate = 9600\n\n[board1]\ndevice = /dev/ttyS3\n\n[esp]\ndevice = usb:0403:6001\n' \
    >"$work/config/tolvane/config"
printf '[lab]\ndevice = rfc2217://lab:4001\n' >"$work/other.conf"

# The command lines, each completed at its end.
cat >"$work/lines" <<EOF
tolvane --bau
tolvane --parity 
tolvane --timestamp=24hour-
tolvane -b 96
tolvane -c 
tolvane --device=b
tolvane --config $work/other.conf -c 
tolvane -q --fl
EOF

# Each shell prints "== LINE", then what it offers there, one a line.
bash_driver() {
    # COMP_WORDS as bash splits the line: at blanks, and around = and :
    # (COMP_WORDBREAKS); the function is the one complete names.
    cat >"$work/driver.bash" <<'EOF'
source "$1/tolvane.bash"
registered=$(complete -p tolvane) || exit 1
function=${registered#*-F }
function=${function%% *}
while IFS= read -r line; do
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMP_WORDS=()
    rest=$line
    while [[ $rest =~ ^[[:blank:]]*([=:]+|[^[:blank:]=:]+) ]]; do
        COMP_WORDS+=("${BASH_REMATCH[1]}")
        rest=${rest:${#BASH_REMATCH[0]}}
    done
    [[ $line == *[[:blank:]] ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function" tolvane "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "== $line" "${COMPREPLY[@]}"
done <"$2"
EOF
    bash --norc --noprofile "$work/driver.bash" "$scripts" "$work/lines"
}

zsh_driver() {
    # An interactive zsh on a pty with the completion in its fpath; TAB at
    # the end of each line, compadd noting what it is given to offer.
    cat >"$work/driver.zsh" <<'EOF'
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PS1='' PROMPT2=''; fpath=(${(q)1} \$fpath); autoload -Uz compinit; compinit -u -d ${(q)3}/zcompdump"
zpty -w z 'typeset -ga hits; compadd() {
    [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]] && { builtin compadd "$@"; return; }
    local -a these; builtin compadd -O these "$@"; hits+=($these); builtin compadd "$@"; }'
# Reads up to the marker the shell prints; fails after 10 s.
upto() {
    local out="" chunk
    local -F deadline=$((SECONDS + 10))
    while (( SECONDS < deadline )); do
        zpty -rt z chunk 2>/dev/null && out+=$chunk || sleep 0.05
        [[ $out == *"$1"* ]] && { REPLY=$out; return 0; }
    done
    print -r -- "zsh: no $1 in: $out" >&2
    return 1
}
zpty -w z 'print -r -- @@"READY"'
upto @@READY || exit 1
for line in "${(@f)$(<$2)}"; do
    zpty -w -n z "$line"$'\t'
    zpty -w z $'\C-e\C-u''print -r -- @@"HITS" ${(pj:\n:)hits} @@"END"; hits=()'
    upto @@END || exit 1
    print -r -- "== $line"
    print -r -- ${${REPLY##*@@HITS }%% @@END*}
done
zpty -d z
EOF
    zsh -f "$work/driver.zsh" "$scripts" "$work/lines" "$work" | tr -d '\r'
}

fish_driver() {
    # fish's own completion of each line, without the descriptions; a
    # word after "--name=" as itself.
    fish --no-config -c 'source $argv[1]/tolvane.fish
        for line in (cat $argv[2])
            echo "== $line"
            complete -C"$line" | string replace -r "\t.*" "" | string replace -r "^--[a-z-]+=" ""
        end' "$scripts" "$work/lines"
}

HOME=$work/home XDG_CONFIG_HOME=$work/config TOLVANE_TEST_ROOT=$work/root \
    PATH=$(dirname "$tolvane"):$PATH "${shell}_driver" >"$work/offered" 2>"$work/errors"
[ -s "$work/errors" ] && fail "$shell printed: $(cat "$work/errors")"

# offered LINE: what the shell offered at the end of LINE, one a line.
offered() {
    awk -v line="== $1" '$0 == line { on = 1; next } /^== / { on = 0 } on' "$work/offered"
}
# expect LINE WORD...: each WORD is offered; refuse LINE WORD...: none is.
expect() {
    line=$1
    shift
    for word in "$@"; do
        offered "$line" | grep -qxF -- "$word" ||
            fail "$shell: '$line<TAB>' does not offer '$word'; it offers: $(offered "$line" | tr '\n' ' ')"
    done
}
refuse() {
    line=$1
    shift
    for word in "$@"; do
        ! offered "$line" | grep -qxF -- "$word" || fail "$shell: '$line<TAB>' offers '$word'"
    done
}

expect "tolvane --bau" --baudrate
[ "$(offered "tolvane --bau" | wc -l)" -eq 1 ] || fail "$shell: 'tolvane --bau<TAB>' is not --baudrate alone"
expect "tolvane --parity " none odd even mark space
refuse "tolvane --parity " --baudrate
expect "tolvane --timestamp=24hour-" 24hour-start 24hour-delta
refuse "tolvane --timestamp=24hour-" iso8601
expect "tolvane -b 96" 9600
expect "tolvane -c " board1 esp "/dev/serial/by-id/$by_id"
refuse "tolvane -c " default profiles no
expect "tolvane --device=b" board1
refuse "tolvane --device=b" esp
expect "tolvane --config $work/other.conf -c " lab "/dev/serial/by-id/$by_id"
refuse "tolvane --config $work/other.conf -c " board1
expect "tolvane -q --fl" --flow

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
rm -rf "$work"
echo "$shell: options, their words, and the lines and profiles of --list complete"
