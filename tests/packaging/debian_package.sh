#!/usr/bin/env bash
# Builds the Debian package from a build folder and has Debian's package checker look at the
# whole of it; anything it reports at warning level or above fails.
#
#   debian_package.sh <cpack> <build folder>
set -euo pipefail
cpack=$1
build=$2

if ! command -v lintian >/dev/null; then
    echo "SKIP: lintian is not installed (scripts/deps.sh test installs it)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
shopt -s nullglob
packages=("$work"/*.deb)
if [[ ${#packages[@]} -ne 1 ]]; then
    echo "expected one package, found ${#packages[@]}"
    cat "$work/cpack.log"
    exit 1
fi
echo "lintian $(lintian --version | awk '{print $2}') on $(basename "${packages[0]}"):"
lintian --fail-on error,warning --info "${packages[0]}"
echo "lintian: nothing at error or warning level"

# The manual page as man shows it lists every option of --help.
dpkg-deb -x "${packages[0]}" "$work/root"
manual=$(MANWIDTH=80 man -l "$work/root/usr/share/man/man1/tovik.1.gz" 2>/dev/null)
for option in --help --version; do
    if ! grep -q -- "$option" <<<"$manual"; then
        echo "the manual page does not mention $option:"
        echo "$manual"
        exit 1
    fi
done
echo "man: the manual page lists --help and --version"
