#!/usr/bin/env bash
# Estimates each kernel's cycles per 64 bytes on an aarch64 core with
# llvm-mca, as no ARM machine is at hand. The kernel runs under qemu on the
# first bytes of each benchmark shape; qemu logs every block of instructions
# it executes, and llvm-mca times that exact instruction stream on the
# core's model. Two lengths are run and subtracted, so start-up and the end
# of input drop out. llvm-mca models no branch prediction: a mispredicted
# branch costs nothing here.
#
#   bench/mca.sh [CPU ...]     default: ampere1 neoverse-v1
# Needs g++-aarch64-linux-gnu, qemu-user, llvm-14 (llvm-mca-14, llvm-objdump-14), python3.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
cpus=("$@")
((${#cpus[@]})) || cpus=(ampere1 neoverse-v1)
# Each kernel summing, then folding with a combiner of the caller's ("mix").
kernels=(neon scalar "neon mix" "scalar mix")
shapes=(wide small mixed)
short=8192 long=16384

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The kernel table as an aarch64 build configures it.
cmake -S . -B "$work/build" --toolchain cmake/toolchains/aarch64-linux-gnu.cmake \
  -DINTSUM_TESTS=OFF -DINTSUM_BENCH=OFF >/dev/null
aarch64-linux-gnu-g++ -std=c++20 -O2 -static -Isrc -Ibench -I"$work/build/generated" \
  src/sequential_compute.cpp src/kernels.cpp \
  src/scan_scalar.cpp src/scan_neon.cpp bench/mca_trace.cpp -o "$work/trace"
llvm-objdump-14 -d --no-show-raw-insn "$work/trace" > "$work/dis"

# The address ranges of a kernel's code: its entry point and the functions of
# its file; when folding, the combiner and the batch that calls it too.
ranges() {
  local pattern
  case $1 in
    neon) pattern='sum_neon|neon_blocks' ;;
    scalar) pattern='sum_scalar' ;;
    "neon mix") pattern='fold_neon|neon_blocks|value_batch|_ZN6intsum5bench3mix' ;;
    "scalar mix") pattern='fold_scalar|_ZN6intsum5bench3mix' ;;
  esac
  nm -S "$work/trace" | awk -v p="$pattern" '$0 ~ p { printf "%s0x%s+0x%s", sep, $1, $2; sep = "," }'
}

# Turns qemu's log of executed blocks into the instructions they ran, in
# order, with branch targets replaced by one label llvm-mca can resolve.
to_asm() {
  python3 - "$work/dis" "$1" <<'PY'
import re, sys
insns, order = {}, []
for line in open(sys.argv[1]):
    m = re.match(r'\s+([0-9a-f]+):\s+(\S.*)$', line)
    if m:
        a = int(m.group(1), 16)
        insns[a] = m.group(2).split('//')[0].strip()
        order.append(a)
nxt = {a: b for a, b in zip(order, order[1:])}
branch = re.compile(r'^(b|bl|br|blr|ret|cbz|cbnz|tbz|tbnz|b\.\w+)\b')
out = []
for line in open(sys.argv[2]):
    m = re.search(r'\[[0-9a-f]+/([0-9a-f]+)/', line)
    if not m:
        continue
    a = int(m.group(1), 16)
    while a in insns:
        i = insns[a]
        i = re.sub(r'0x[0-9a-f]+ <[^>]*>', 'target', i)
        out.append(i)
        if branch.match(i):
            break
        a = nxt.get(a)
print('\n'.join(out))
print('target:')
PY
}

cycles() {  # kernel shape bytes cpu, where kernel may be "NAME mix"
  local -a run
  read -r -a run <<<"$1"
  qemu-aarch64 -d exec,nochain -dfilter "$(ranges "$1")" -D "$work/log" "$work/trace" "${run[0]}" "$2" "$3" \
    ${run[1]:+"${run[1]}"} > /dev/null
  to_asm "$work/log" > "$work/run.s"
  llvm-mca-14 -mtriple=aarch64 -mcpu="$4" -iterations=1 "$work/run.s" 2>/dev/null | awk '/^Total Cycles:/ { print $3 }'
}

for cpu in "${cpus[@]}"; do
  echo "llvm-mca-14 -mcpu=$cpu: cycles per 64 bytes (bytes $short to $long of each shape)"
  printf '%-10s' kernel
  printf ' %8s' "${shapes[@]}"
  echo
  for k in "${kernels[@]}"; do
    printf '%-10s' "$k"
    for s in "${shapes[@]}"; do
      a=$(cycles "$k" "$s" "$short" "$cpu")
      b=$(cycles "$k" "$s" "$long" "$cpu")
      awk -v a="$a" -v b="$b" -v n=$((long - short)) 'BEGIN { printf " %8.1f", (b - a) * 64 / n }'
    done
    echo
  done
done
