#!/usr/bin/env bash
# Compares the x86 vector kernels of two revisions on this machine, in one
# process, trial by trial in turn (bench/kernel_ab.cpp): steadier than two
# benchmark runs on a shared machine. Each kernel alone, on 256 KiB inputs.
#
#   bench/kernel_ab.sh OLD_REV [NEW_REV] [-k KERNEL] [-t TRIALS]
#
# NEW_REV defaults to the working tree. KERNEL is avx2 or avx512 (both when
# not given). Both revisions' kernels are built with this tree's flags.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 2; }
old="" new="" kernels=() trials=21
while (($#)); do
  case $1 in
    -k) kernels+=("$2"); shift 2 ;;
    -t) trials=$2; shift 2 ;;
    -h|--help) usage ;;
    *) if [[ -z $old ]]; then old=$1; elif [[ -z $new ]]; then new=$1; else usage; fi; shift ;;
  esac
done
[[ -n $old ]] || usage
((${#kernels[@]})) || kernels=(avx2 avx512)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree() {  # REV DIR: the sources of REV, or of the working tree
  mkdir -p "$2"
  if [[ -n $1 ]]; then git archive "$1" src | tar -x -C "$2"; else cp -r src "$2"; fi
}
tree "$old" "$work/a"
tree "$new" "$work/b"

cxx=${CXX:-g++}
for k in avx2 avx512; do
  # The kernel's target flags, as CMakeLists.txt gives them.
  read -r -a flags <<<"$(sed -n "s|^ *intsum_kernel(src/scan_$k.cpp \(.*\))|\1|p" CMakeLists.txt)"
  for t in a b; do
    "$cxx" -std=c++20 -O3 -DNDEBUG -w -Dintsum="intsum_$t" "${flags[@]}" -c "$work/$t/src/scan_$k.cpp" \
      -o "$work/${k}_$t.o"
  done
done
# This tree's kernel table, to skip the kernels this CPU cannot run.
for f in kernels scan_scalar scan_avx2 scan_avx512; do
  read -r -a flags <<<"$(sed -n "s|^ *intsum_kernel(src/$f.cpp \(.*\))|\1|p" CMakeLists.txt)"
  "$cxx" -std=c++20 -O3 -DNDEBUG -w "${flags[@]}" -c "src/$f.cpp" -o "$work/table_$f.o"
done
"$cxx" -std=c++20 -O3 -DNDEBUG -Isrc -Ibench bench/kernel_ab.cpp "$work"/*.o -o "$work/kernel_ab"

echo "A: ${old}  B: ${new:-working tree}  ($trials trials, median GiB/s; B/A is the median of the per-trial ratios)"
for k in "${kernels[@]}"; do "$work/kernel_ab" "$k" "$trials"; done
