#!/bin/sh
# Checks the .deb made by `cmake --workflow --preset package` as its users
# meet it: lintian reports no error, dpkg installs it, intsum and its man page
# work from another directory, and dpkg -r leaves nothing behind. Installs
# into this system, so run it as root on a machine that does not have intsum
# installed already.
#   usage: tools/check-package.sh [build/package/intsum_*.deb]
set -eu
cd "$(dirname "$0")/.."
deb=${1:-$(ls build/package/intsum_*.deb)}
examples=$(pwd)/examples

if dpkg-query -W intsum >/dev/null 2>&1; then
  echo "intsum is installed already; not touching it" >&2
  exit 1
fi

echo "lintian:"
lintian --fail-on error "$deb"

dpkg -i "$deb"
# Removed again on every path, so a failed check leaves nothing installed.
trap 'dpkg-query -W intsum >/dev/null 2>&1 && dpkg -r intsum >/dev/null; rm -f /tmp/intsum-files.$$' EXIT
dpkg -L intsum >/tmp/intsum-files.$$
cd /
test "$(intsum "$examples/numbers.txt")" = "Result: 4950"
test "$(command -v intsum)" = /usr/bin/intsum
# Stripped, and its library dependencies declared.
file -L /usr/bin/intsum | grep -q ', stripped'
dpkg-query -W -f='${Depends}\n' intsum | grep -q 'libc6'
test -f /usr/share/doc/intsum/copyright
if command -v man >/dev/null 2>&1; then
  man -P cat intsum | grep -q 'sum the integers in a text file'
fi

dpkg -r intsum
left=0
while read -r f; do
  case $f in
    /. | /usr | /usr/bin | /usr/share | /usr/share/doc | /usr/share/man | /usr/share/man/man1) ;;
    *) if [ -e "$f" ]; then echo "left behind: $f"; left=1; fi ;;
  esac
done </tmp/intsum-files.$$
test $left = 0
echo "package check passed: $deb"
