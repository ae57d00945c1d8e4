#!/bin/sh
# Checks the packages made by `cmake --workflow --preset package` as their
# users meet them. Run it as root; it installs what it lacks with apt-get.
# - A .deb: lintian (pedantic) reports no error, no hardening tag and no
#   section to strip, dpkg installs it, and dpkg -r leaves nothing behind.
#   intsum_*.deb: hardening-check finds no missing protection, intsum and
#   its man page work from another directory. libintsum-dev_*.deb: the
#   README's example (examples/largest) builds against it through the CMake
#   package and through pkg-config, and runs. Installs into this system, so
#   run it on a machine without intsum or libintsum-dev.
# - A -static.tar.gz: its files, a static binary with no interpreter and no
#   library, which sums the example in a root holding nothing but itself and
#   the file (under qemu-ARCH-static, copied into that root, for another
#   processor).
#   usage: tools/check-package.sh [build/package/*.deb | intsum-*-static.tar.gz]...
set -eu
cd "$(dirname "$0")/.."
repo=$(pwd)
examples=$repo/examples
[ $# -gt 0 ] || set -- build/package/*.deb

need() {  # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return
  echo "installing $2 for $1"
  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$2"; } >/dev/null </dev/null
}

check_deb() {
  deb=$1
  name=$(dpkg-deb -f "$deb" Package)
  need lintian lintian
  if dpkg-query -W "$name" >/dev/null 2>&1; then
    echo "$name is installed already; not touching it" >&2
    exit 1
  fi

  echo "lintian -I --pedantic:"
  status=0
  lintian -I --pedantic --fail-on error "$deb" >/tmp/intsum-lintian.$$ || status=$?
  cat /tmp/intsum-lintian.$$
  test $status = 0
  if grep -E ' (hardening-[a-z-]+|binary-has-unneeded-section|static-library-has-unneeded-sections)' \
    /tmp/intsum-lintian.$$; then
    echo "lintian: a binary lacks a protection or has sections to strip" >&2
    exit 1
  fi

  dpkg -i "$deb"
  # Removed again on every path, so a failed check leaves nothing installed.
  work=$(mktemp -d)
  trap 'dpkg-query -W "$name" >/dev/null 2>&1 && dpkg -r "$name" >/dev/null; rm -rf "$work" /tmp/intsum-lintian.$$' EXIT
  # What it put in place, and whether each is a directory, for the removal.
  dpkg -L "$name" | while read -r f; do
    if [ -d "$f" ]; then echo "d $f"; else echo "f $f"; fi
  done >"$work/files"
  cd /
  case $name in
    intsum) check_program ;;
    libintsum-dev) check_library ;;
    *) echo "no checks for the package $name" >&2; exit 1 ;;
  esac

  dpkg -r "$name"
  left=0
  while read -r type f; do
    if [ "$f" = /. ] || [ ! -e "$f" ]; then continue; fi
    # dpkg keeps a directory that another package has, or that holds others' files.
    if [ "$type" = d ] && { dpkg-query -S "$f" >/dev/null 2>&1 || [ -n "$(ls -A "$f")" ]; }; then
      continue
    fi
    echo "left behind: $f"
    left=1
  done <"$work/files"
  test $left = 0
  rm -rf "$work" /tmp/intsum-lintian.$$
  trap - EXIT
  cd "$repo"
}

# intsum, installed: it and its man page work from another directory.
check_program() {
  need hardening-check devscripts
  test "$(intsum "$examples/numbers.txt")" = "Result: 4950"
  test "$(command -v intsum)" = /usr/bin/intsum
  # Stripped, and its library dependencies declared.
  file -L /usr/bin/intsum | grep -q ', stripped'
  dpkg-query -W -f='${Depends}\n' intsum | grep -q 'libc6'
  test -f /usr/share/doc/intsum/copyright
  if command -v man >/dev/null 2>&1; then
    man -P cat intsum | grep -q 'sum the integers in a text file'
  fi
  # "unknown" is not a failure: stack clash probes appear only in functions
  # with frames over a page, and intsum has none.
  echo "hardening-check:"
  hardening-check /usr/bin/intsum | tee /tmp/intsum-lintian.$$ || true
  if grep -q ': no' /tmp/intsum-lintian.$$; then
    echo "hardening-check: a protection is missing" >&2
    exit 1
  fi
}

# libintsum-dev, installed: the README's example builds against it where the
# system keeps it, through the CMake package and through pkg-config, as a
# position-independent program (Debian's compilers make one by default), and
# finds the largest integer of the example.
check_library() {
  need cmake cmake
  need make make
  need c++ g++
  need pkg-config pkgconf
  test -f /usr/share/doc/libintsum-dev/copyright
  if ! { cmake -S "$repo/examples/largest" -B "$work/cmake" && cmake --build "$work/cmake"; } >"$work/cmake.log" 2>&1; then
    cat "$work/cmake.log"
    exit 1
  fi
  test "$("$work/cmake/largest" "$examples/numbers.txt")" = "Largest: 99"
  echo "pkg-config --cflags --libs intsum: $(pkg-config --cflags --libs intsum)"
  # shellcheck disable=SC2046 # pkg-config's flags, one word each
  c++ -Wall -Werror "$repo/examples/largest/largest.cpp" $(pkg-config --cflags --libs intsum) -o "$work/largest"
  test "$("$work/largest" "$examples/numbers.txt")" = "Largest: 99"
  file "$work/largest" | grep -q 'pie executable'
  echo "the example, built through the CMake package and through pkg-config: Largest: 99"
}

check_static() {
  tarball=$1
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  tar -C "$work" -xzf "$tarball"
  top=$work/$(basename "$tarball" .tar.gz)
  for f in bin/intsum share/man/man1/intsum.1.gz share/doc/intsum/copyright; do
    test -f "$top/$f" || { echo "$tarball: no $f" >&2; exit 1; }
  done
  bin=$top/bin/intsum

  # Static: no interpreter, no library. static-pie (a DYN file) keeps the
  # dynamic program's read-only relocations and immediate binding.
  readelf -lW "$bin" >"$work/segments"
  readelf -dW "$bin" >"$work/dynamic"
  if grep -q 'INTERP' "$work/segments" || grep -q '(NEEDED)' "$work/dynamic"; then
    echo "$tarball: bin/intsum is not static" >&2
    exit 1
  fi
  if readelf -hW "$bin" | grep -q 'Type: *DYN'; then
    grep -q 'GNU_RELRO' "$work/segments"
    grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' "$work/dynamic"
    echo "static-pie, relro, now"
  else
    echo "static, not position-independent"
  fi
  file "$bin" | grep -q ', stripped'
  if command -v man >/dev/null 2>&1; then
    man -l -P cat "$top/share/man/man1/intsum.1.gz" | grep -q 'sum the integers in a text file'
  fi

  # The empty root: the binary, the file, and for another processor the
  # emulator, itself static.
  root=$work/root
  mkdir "$root"
  cp "$bin" "$root/intsum"
  cp "$examples/numbers.txt" "$root/numbers.txt"
  case $(readelf -hW "$bin" | sed -n 's/^ *Machine: *//p') in
    *X86-64*) arch=x86_64 ;;
    AArch64) arch=aarch64 ;;
    RISC-V) arch=riscv64 ;;
    'IBM S/390') arch=s390x ;;
    *) arch=unknown ;;
  esac
  run=""
  if [ "$arch" != "$(uname -m)" ]; then
    need "qemu-$arch-static" qemu-user-static
    cp "$(command -v "qemu-$arch-static")" "$root/qemu"
    file "$root/qemu" | grep -q 'static'
    run=/qemu
  else
    # The root really has no C library: a dynamic program cannot start there.
    cp /usr/bin/env "$root/env"
    if chroot "$root" /env true 2>/dev/null; then
      echo "a dynamic program ran in the empty root; the check proves nothing" >&2
      exit 1
    fi
    rm "$root/env"
  fi
  echo "the root holds: $(cd "$root" && find . ! -name . | sort | tr '\n' ' ')"
  got=$(chroot "$root" $run /intsum /numbers.txt)
  echo "chroot: ${run:+$run }/intsum /numbers.txt: $got"
  test "$got" = "Result: 4950"
  rm -rf "$work"
  trap - EXIT
}

for package in "$@"; do
  case $package in
    *.deb) check_deb "$package" ;;
    *-static.tar.gz) check_static "$package" ;;
    *) echo "not a .deb or a -static.tar.gz: $package" >&2; exit 1 ;;
  esac
  echo "package check passed: $package"
done
