#!/bin/sh
# make install PREFIX=... puts the program in bin, its man page in
# share/man/man1 and its completions where bash, zsh and fish look for
# them, DESTDIR stages it, and make uninstall with the same variables
# removes those files and no others, also after another cmake --install
# has rewritten CMake's manifest.
#
# usage: tests/install_test.sh SOURCE_DIR WORK_DIR
set -u
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
page=$src/docs/tolvane.1
# Outside /usr, zsh looks in site-functions.
completions="share/bash-completion/completions/tolvane share/zsh/site-functions/_tolvane
share/fish/vendor_completions.d/tolvane.fish"
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# The make of a user at the shell, not the one running these tests.
mk() {
    (unset MAKEFLAGS MFLAGS MAKELEVEL && make -s -C "$src" "$@") >"$work/make.log" 2>&1 || {
        cat "$work/make.log"
        fail "make $*"
    }
}

installed() { # installed DIR WHAT
    if [ -x "$1/bin/tolvane" ]; then
        "$1/bin/tolvane" -x >/dev/null
        [ $? -eq 2 ] || fail "$2: the installed tolvane does not take a usage error as tolvane does"
    else
        fail "$2: no $1/bin/tolvane"
    fi
    cmp -s "$page" "$1/share/man/man1/tolvane.1" || fail "$2: no man page in $1/share/man/man1"
    for file in $completions; do
        [ -s "$1/$file" ] || fail "$2: no $1/$file"
    done
}
gone() { # gone DIR WHAT
    [ ! -e "$1/bin/tolvane" ] || fail "$2: $1/bin/tolvane is still there"
    [ ! -e "$1/share/man/man1/tolvane.1" ] || fail "$2: $1/share/man/man1/tolvane.1 is still there"
    for file in $completions; do
        [ ! -e "$1/$file" ] || fail "$2: $1/$file is still there"
    done
}

prefix=$(mktemp -d "$work/prefix.XXXXXX")
mk install PREFIX="$prefix"
installed "$prefix" "make install PREFIX=$prefix"

stage=$work/stage
mk install DESTDIR="$stage" PREFIX=/opt/tolvane
installed "$stage/opt/tolvane" "make install DESTDIR=$stage PREFIX=/opt/tolvane"

# Another install rewrites CMake's manifest; make uninstall must not care.
cmake --install "$src/build/default" --prefix "$work/other" >/dev/null

mk uninstall PREFIX="$prefix"
gone "$prefix" "make uninstall PREFIX=$prefix"
installed "$stage/opt/tolvane" "make uninstall PREFIX=$prefix, the staged install"
[ -x "$work/other/bin/tolvane" ] || fail "make uninstall PREFIX=$prefix removed a file it had not installed"

mk uninstall DESTDIR="$stage" PREFIX=/opt/tolvane
gone "$stage/opt/tolvane" "make uninstall DESTDIR=$stage PREFIX=/opt/tolvane"

# Once more: nothing left there, and it says so.
mk uninstall PREFIX="$prefix"
grep -q "Nothing installed from this tree in $prefix" "$work/make.log" ||
    fail "a second make uninstall says: $(cat "$work/make.log")"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
rm -rf "$work"
echo "make install PREFIX= and DESTDIR=: bin/tolvane, the man page, the completions; make uninstall removed them"
