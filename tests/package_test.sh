#!/bin/sh
# The Debian package as make package builds it: the program, the man page,
# the three completions, the README and the licence; its version is the one
# tolvane --version prints; it needs only the C and C++ libraries; unpacked
# into a scratch root, its tolvane runs. Exits 77 (skipped) without dpkg.
#
# usage: tests/package_test.sh CPACK BUILD_DIR MAN_PAGE WORK_DIR
set -u
cpack=$1
build=$2
page=$3
work=$4
for tool in dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: no $tool here (Debian: dpkg-dev; scripts/install-deps.sh build installs it)"
        exit 77
    fi
done
. "$(dirname "$0")/script_start.sh"

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAILED: cpack"
    exit 1
fi
set -- "$work"/tolvane_*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "FAILED: cpack wrote no tolvane_*.deb in $work: $(ls "$work")"
    exit 1
fi
deb=$1

dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./||' >"$work/contents"
for file in usr/bin/tolvane usr/share/man/man1/tolvane.1 usr/share/bash-completion/completions/tolvane \
    usr/share/zsh/vendor-completions/_tolvane usr/share/fish/vendor_completions.d/tolvane.fish \
    usr/share/doc/tolvane/README.md usr/share/doc/tolvane/LICENSE; do
    grep -qxF "$file" "$work/contents" || fail "the package holds no $file"
done

root=$work/root
dpkg -x "$deb" "$root" || fail "dpkg -x $deb"
version=$("$root/usr/bin/tolvane" --version) || fail "the packaged tolvane --version: status $?"
case $version in
"tolvane $(dpkg-deb -f "$deb" Version) ("*) ;;
*) fail "the package's version $(dpkg-deb -f "$deb" Version) is not the one of: $version" ;;
esac
cmp -s "$page" "$root/usr/share/man/man1/tolvane.1" || fail "the packaged man page is not $page"
cmp -s "$build/completions/tolvane.bash" "$root/usr/share/bash-completion/completions/tolvane" ||
    fail "the packaged bash completion is not the one built"

# Only libc, libgcc and libstdc++, each at some version.
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package names no dependencies"
echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | while read -r package; do
    case $package in
    libc6 | libgcc-s1 | libstdc++6) ;;
    *) echo "$package" ;;
    esac
done >"$work/others"
[ -s "$work/others" ] && fail "the package depends on more than the C and C++ libraries: $depends"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
rm -rf "$work"
echo "$(basename "$deb"): $version; depends on $depends"
