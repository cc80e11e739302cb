#!/bin/sh
# cmake --install puts the program in bin and its man page in share/man/man1.
# usage: tests/install_test.sh BUILD_DIR DEST PAGE
set -eu
build=$1
dest=$2
page=$3
rm -rf "$dest"
cmake --install "$build" --prefix "$dest" >/dev/null
test -x "$dest/bin/tolvane" || { echo "no $dest/bin/tolvane"; exit 1; }
cmp "$page" "$dest/share/man/man1/tolvane.1" || { echo "man page not installed"; exit 1; }
rm -rf "$dest"
echo "installed: bin/tolvane, share/man/man1/tolvane.1"
