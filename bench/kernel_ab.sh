#!/usr/bin/env bash
# Compares the vector kernels of two revisions on this machine, in one
# process, trial by trial in turn (bench/kernel_ab.cpp): steadier than two
# benchmark runs on a shared machine. Each kernel alone, on 256 KiB inputs.
#
#   bench/kernel_ab.sh OLD_REV [NEW_REV] [-k KERNEL] [-t TRIALS] [-c]
#
# NEW_REV defaults to the working tree. KERNEL is one of this build's vector
# kernels (all that both revisions have, when not given). Both revisions'
# kernels are built with the flags that this tree's build gives them. With
# -c, the kernels fold with a * 31 + b through its pointer instead of summing.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 2; }
old="" new="" kernels=() trials=21 side=() what="sum"
while (($#)); do
  case $1 in
    -k) kernels+=("$2"); shift 2 ;;
    -t) trials=$2; shift 2 ;;
    -c) side=(-DINTSUM_AB_FOLD); what="fold with a * 31 + b"; shift ;;
    -h|--help) usage ;;
    *) if [[ -z $old ]]; then old=$1; elif [[ -z $new ]]; then new=$1; else usage; fi; shift ;;
  esac
done
[[ -n $old ]] || usage

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree() {  # REV DIR: the sources of REV, or of the working tree, with include/ where it has one
  mkdir -p "$2"
  if [[ -n $1 ]]; then
    local dirs=(src)
    if git cat-file -e "$1:include" 2>/dev/null; then dirs+=(include); fi
    git archive "$1" "${dirs[@]}" | tar -x -C "$2"
  else
    cp -r src "$2"
    if [[ -d include ]]; then cp -r include "$2"; fi
  fi
}
tree "$old" "$work/a"
tree "$new" "$work/b"

# This tree's build: the kernels' flags, and its kernel table for the CPU check.
cxx=${CXX:-g++}
cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
  -DINTSUM_TESTS=OFF -DINTSUM_BENCH=OFF >/dev/null
cmake --build "$work/build" --target intsum_core -j 2 >/dev/null
declare -A flags
ordered=()
while read -r name _ rest; do flags[$name]=$rest; ordered+=("$name"); done <"$work/build/kernel_flags.txt"

# A revision's file of that name, wherever its layout keeps it.
source_of() { find "$work/$1/src" -name "$2" -print -quit; }

if ((${#kernels[@]} == 0)); then
  for k in "${ordered[@]}"; do
    [[ -n $(source_of a "scan_$k.cpp") && -n $(source_of b "scan_$k.cpp") ]] && kernels+=("$k")
  done
fi
: >"$work/ab_kernels.h"
for k in "${kernels[@]}"; do
  [[ -v flags[$k] ]] || { echo "no vector kernel '$k' in this build" >&2; exit 2; }
  echo "INTSUM_AB_KERNEL($k)" >>"$work/ab_kernels.h"
  for t in a b; do
    read -r -a f <<<"${flags[$k]}"
    "$cxx" -std=c++20 -O3 -DNDEBUG -w -Dintsum="intsum_$t" "${f[@]}" -I"$work/$t/src" -I"$work/$t/include" \
      -c "$(source_of "$t" "scan_$k.cpp")" -o "$work/${k}_$t.o"
    "$cxx" -std=c++20 -O3 -DNDEBUG -w -Dintsum="intsum_$t" -DINTSUM_AB_KERNEL_NAME="$k" -I"$work/$t/src" -I"$work/$t/include" \
      -I"$(dirname "$(source_of "$t" scan.h)")" "${side[@]}" -c bench/kernel_ab_side.cpp -o "$work/side_${k}_$t.o"
  done
done
# Each side's byte-at-a-time scanner, which a kernel may hand bytes to.
for t in a b; do
  "$cxx" -std=c++20 -O3 -DNDEBUG -w -Dintsum="intsum_$t" -I"$work/$t/src" -I"$work/$t/include" \
    -c "$(source_of "$t" scan_scalar.cpp)" \
    -o "$work/scalar_$t.o"
done
"$cxx" -std=c++20 -O3 -DNDEBUG -Isrc -Iinclude -Ibench -I"$work" bench/kernel_ab.cpp "$work"/*.o \
  "$work/build/libintsum.a" -o "$work/kernel_ab"

echo "A: ${old}  B: ${new:-working tree}  ($what, $trials trials, median GiB/s; B/A is the median of the per-trial ratios)"
for k in "${kernels[@]}"; do "$work/kernel_ab" "$k" "$trials"; done
