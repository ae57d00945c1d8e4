#!/usr/bin/env bash
# Estimates kernels' cycles per 64 bytes on cores of other processors with
# llvm-mca, as no such machine is at hand. The kernel runs under qemu on the
# first bytes of each benchmark shape; qemu logs every block of instructions
# it executes, and llvm-mca times that exact instruction stream on the
# core's model. Two lengths are run and subtracted, so start-up and the end
# of input drop out. llvm-mca models no branch prediction: a mispredicted
# branch costs nothing here. Nor does it model calls (it would take each
# for 100 cycles of latency): a call is timed as the move of the return
# address into its register, which is what the code after it waits on.
#
#   bench/mca.sh [-t aarch64|riscv64] [CPU ...]
#     aarch64 (the default): the NEON kernel and the scalar scanner, on
#       ampere1 and neoverse-v1 unless CPUs are named;
#     riscv64 (rv64gc): the portable kernel and the scalar scanner, on
#       sifive-u74 unless CPUs are named.
# Needs g++-TARGET-linux-gnu, qemu-user, llvm-14 (llvm-mca-14, llvm-objdump-14), python3.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

target=aarch64
if [[ ${1-} == -t ]]; then
  target=${2:?"-t wants aarch64 or riscv64"}
  shift 2
fi
case $target in
  aarch64)
    flags=()
    vector=neon
    default_cpus=(ampere1 neoverse-v1)
    branches='b|bl|br|blr|ret|cbz|cbnz|tbz|tbnz|b\.\w+'
    calls='bl target=adr x30, target;blr (\w+)=mov x30, \1'
    ;;
  riscv64)
    flags=(-march=rv64gc)
    vector=portable
    default_cpus=(sifive-u74)
    branches='j|jal|jalr|jr|ret|beq|bne|blt|bge|bltu|bgeu|beqz|bnez|blez|bgez|bltz|bgtz|bgt|ble|bgtu|bleu'
    calls='jal target=auipc ra, 0;jalr (\w+)=addi ra, \1, 0'
    ;;
  *)
    echo "mca.sh: no target $target (aarch64 or riscv64)" >&2
    exit 2
    ;;
esac
cpus=("$@")
((${#cpus[@]})) || cpus=("${default_cpus[@]}")
# Each kernel summing, then folding with a combiner of the caller's ("mix").
kernels=("$vector" scalar "$vector mix" "scalar mix")
shapes=(wide small mixed)
short=8192 long=16384

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The kernel table as a build for the target configures it, and every
# kernel in it, each with its own flags, as an object of its own.
cmake -S . -B "$work/build" --toolchain "cmake/toolchains/$target-linux-gnu.cmake" \
  -DINTSUM_TESTS=OFF -DINTSUM_BENCH=OFF >/dev/null
compile() {  # compile OBJECT SOURCE [FLAG ...]
  local object=$1 source=$2
  shift 2
  "$target-linux-gnu-g++" -std=c++20 -O2 "${flags[@]}" "$@" -Isrc -Iinclude -Ibench -I"$work/build/generated" \
    -c "$source" -o "$work/$object.o"
}
objects=(sequential_compute kernels scan_scalar mca_trace)
compile sequential_compute src/sequential_compute.cpp
compile kernels src/core/kernels.cpp
compile scan_scalar src/portable/scan_scalar.cpp
compile mca_trace bench/mca_trace.cpp
while read -r name source kernel_flags; do
  # shellcheck disable=SC2086 # the kernel's flags, one word each
  compile "scan_$name" "$source" $kernel_flags
  objects+=("scan_$name")
done <"$work/build/kernel_flags.txt"
paths=()
for o in "${objects[@]}"; do paths+=("$work/$o.o"); done
"$target-linux-gnu-g++" -static "${paths[@]}" -o "$work/trace" -Wl,-Map="$work/map"
llvm-objdump-14 -d --no-show-raw-insn "$work/trace" > "$work/dis"

# The address ranges of a kernel's code: the text of its file; when folding,
# the combiner's too.
ranges() {
  local run
  read -r -a run <<<"$1"
  python3 - "$work/map" "$work/scan_${run[0]}.o" <<'PY'
import re, sys
ranges, section = [], None
for line in open(sys.argv[1]):
    m = re.match(r'^ (\.\S+)(?:\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S+))?\s*$', line)
    if m:
        section = m.group(1)
        if m.group(2) is None:
            continue
        start, size, source = m.group(2), m.group(3), m.group(4)
    else:
        m = re.match(r'^\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S+)\s*$', line)
        if not m or section is None:
            continue
        start, size, source = m.groups()
    if source == sys.argv[2] and section.startswith('.text') and int(size, 16) > 0:
        ranges.append('%s+%s' % (start, size))
print(','.join(ranges), end='')
PY
  if ((${#run[@]} > 1)); then
    nm -S "$work/trace" | awk '$4 ~ /_ZN6intsum5bench3mix/ { printf ",0x%s+0x%s", $1, $2 }'
  fi
}

# Turns qemu's log of executed blocks into the instructions they ran, in
# order, with branch targets replaced by one label llvm-mca can resolve,
# and calls by moves of the return address.
to_asm() {
  python3 - "$work/dis" "$1" "$branches" "$calls" <<'PY'
import re, sys
insns, order = {}, []
for line in open(sys.argv[1]):
    m = re.match(r'\s+([0-9a-f]+):\s+(\S.*)$', line)
    if m:
        a = int(m.group(1), 16)
        insns[a] = re.split(r'\s(?://|#) ', m.group(2))[0].strip()
        order.append(a)
nxt = {a: b for a, b in zip(order, order[1:])}
branch = re.compile(r'^(%s)\b' % sys.argv[3])
calls = [(re.compile(r'^%s$' % c.split('=')[0].replace(' ', r'\s+')), c.split('=')[1]) for c in sys.argv[4].split(';')]
out = []
for line in open(sys.argv[2]):
    m = re.search(r'\[[0-9a-f]+/([0-9a-f]+)/', line)
    if not m:
        continue
    a = int(m.group(1), 16)
    while a in insns:
        i = insns[a]
        i = re.sub(r'0x[0-9a-f]+ <[^>]*>', 'target', i)
        ends = branch.match(i)
        for call, move in calls:
            i = call.sub(move, i)
        out.append(i)
        if ends:
            break
        a = nxt.get(a)
print('\n'.join(out))
print('target:')
PY
}

cycles() {  # kernel shape bytes cpu, where kernel may be "NAME mix"
  local -a run
  read -r -a run <<<"$1"
  "qemu-$target" -d exec,nochain -dfilter "$(ranges "$1")" -D "$work/log" "$work/trace" "${run[0]}" "$2" "$3" \
    ${run[1]:+"${run[1]}"} > /dev/null
  to_asm "$work/log" > "$work/run.s"
  llvm-mca-14 -mtriple="$target" -mcpu="$4" -iterations=1 "$work/run.s" 2>/dev/null | awk '/^Total Cycles:/ { print $3 }'
}

for cpu in "${cpus[@]}"; do
  echo "llvm-mca-14 -mtriple=$target -mcpu=$cpu: cycles per 64 bytes (bytes $short to $long of each shape)"
  printf '%-14s' kernel
  printf ' %8s' "${shapes[@]}"
  echo
  for k in "${kernels[@]}"; do
    printf '%-14s' "$k"
    for s in "${shapes[@]}"; do
      a=$(cycles "$k" "$s" "$short" "$cpu")
      b=$(cycles "$k" "$s" "$long" "$cpu")
      awk -v a="$a" -v b="$b" -v n=$((long - short)) 'BEGIN { printf " %8.1f", (b - a) * 64 / n }'
    done
    echo
  done
done
