#!/usr/bin/env bash
# Estimates kernels' cycles per 64 bytes on cores that are not at hand, with
# llvm-mca. The kernel runs under qemu on the first bytes of each benchmark
# shape, one instruction to a block, so that qemu's log of the blocks it
# executes is the exact stream of instructions, which llvm-mca then times on
# the core's model. Two lengths are run and subtracted, so start-up and the
# end of input drop out.
#
# What llvm-mca leaves out: branch prediction (a mispredicted branch costs
# nothing here), caches (every load hits), and calls, each of which it takes
# for 100 cycles of latency. So a call is timed as what the code after it
# waits on: on aarch64 and riscv64 the move of the return address into its
# register; on x86-64, where a call pushes the return address, a push (the
# store and the step of the stack pointer, which the callee's own pushes and
# stack loads wait on), of the stack pointer for a direct call and of the
# register or memory an indirect call takes its target from, which the call
# reads too. A return is left as it is: its jump, predicted by the return
# stack on a real core, holds nothing up in llvm-mca either. On RISC-V, a
# vector instruction is timed for the element width and grouping (LMUL) of
# the vsetvli before it, over the core's whole vector length, whatever vl is.
#
#   bench/mca.sh [-t aarch64|x86_64|riscv64] [CPU ...]
#     aarch64 (the default): the NEON kernels (dotprod, neon) and the
#       scalar scanner, on neoverse-v2, neoverse-n2 and cortex-a76 unless
#       CPUs are named (LLVM 19 times cortex-a76 with its Cortex-A57 model;
#       neoverse-n1, the A76's server sibling, has a model of its own).
#     x86_64: the AVX2 and SSE4 kernels and the scalar scanner, built by the
#       host's g++ and traced on qemu's Haswell (AVX2, no AVX-512), on
#       skylake, alderlake and znver3 unless CPUs are named.
#     riscv64 (rv64gc): every kernel of the build and the scalar scanner, on
#       sifive-u74 unless CPUs are named; qemu's CPU has what the model's has
#       (sifive-u74: no vector unit; sifive-p670 and sifive-x280: V, with
#       128- and 512-bit registers), and a kernel that stops on an
#       instruction the CPU lacks is left out of its table.
#   Each kernel sums, then folds with `mix` (a * 31 + b through its pointer).
#   Every object is compiled as the release build compiles it (-O3 -DNDEBUG,
#   without the hardening, a few instructions a call), each kernel with its
#   own flags from the build's kernel_flags.txt, by the target's g++ or by
#   $CXX (CXX=clang++-19, say; given --target for a cross target).
#   MCA_KEEP=1 keeps the work directory: the traces, as assembly, and more.
#   MCA_KERNELS='avx2,avx2 mix' times only the runs named, split by commas.
# Needs qemu-user, llvm-19 (llvm-mca-19, llvm-objdump-19), python3, and
# g++-TARGET-linux-gnu (g++ on x86_64).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() {
  sed -n '/^#   bench\/mca.sh/,/^# g++-TARGET/s/^# \{0,1\}//p' "$0"
  exit "$1"
}
die() {
  echo "mca.sh: $*" >&2
  exit 1
}

target=aarch64
while (($#)); do
  case $1 in
    -t) target=${2:?"-t wants aarch64, x86_64 or riscv64"}; shift 2 ;;
    -h | --help) usage 0 ;;
    -*) usage 2 >&2 ;;
    *) break ;;
  esac
done
cpus=("$@")

# Per target: how to build for it, the vector kernels timed (all the build
# has, if none are named), the CPUs, and the rewriting of calls (PATTERN=MOVE
# pairs, split by ';').
configure=(--toolchain "cmake/toolchains/$target-linux-gnu.cmake")
gxx=$target-linux-gnu-g++
flags=()
case $target in
  aarch64)
    vectors=(dotprod neon)
    default_cpus=(neoverse-v2 neoverse-n2 cortex-a76)
    calls='bl target=adr x30, target;blr (\w+)=mov x30, \1'
    ;;
  x86_64)
    gxx=g++
    configure=(-DCMAKE_CXX_COMPILER="${CXX:-$gxx}")
    vectors=(avx2 sse4)
    default_cpus=(skylake alderlake znver3)
    calls='callq? target=pushq %rsp;callq? \*(.+)=pushq \1'
    ;;
  riscv64)
    flags=(-march=rv64gc)
    vectors=()
    default_cpus=(sifive-u74)
    # Clang's build has the RVV kernel, which GCC before 13 cannot build.
    if [[ $(${CXX:-$gxx} --version 2>/dev/null) == *clang* ]]; then
      configure=(--toolchain cmake/toolchains/riscv64-linux-gnu-clang.cmake)
    fi
    calls='jal target=auipc ra, 0;jalr (\w+)=addi ra, \1, 0'
    ;;
  *) die "no target $target (aarch64, x86_64 or riscv64)" ;;
esac
((${#cpus[@]})) || cpus=("${default_cpus[@]}")

# qemu's CPU for a core model: one that runs what the core runs.
qemu_cpu() {
  case $target:$1 in
    aarch64:*) echo max ;;
    x86_64:*) echo Haswell ;;
    riscv64:sifive-u74) echo rv64,v=false ;;
    riscv64:sifive-p670) echo rv64,v=true,vlen=128,vext_spec=v1.0 ;;
    riscv64:sifive-x280) echo rv64,v=true,vlen=512,vext_spec=v1.0 ;;
    *) die "no qemu CPU known for $1 (qemu_cpu in $0)" ;;
  esac
}

for cpu in "${cpus[@]}"; do
  qemu_cpu "$cpu" >/dev/null
  if [[ $(llvm-mca-19 -mtriple="$target" -mcpu="$cpu" /dev/null 2>&1) == *"not a recognized processor"* ]]; then
    die "llvm-mca-19 has no model of $cpu for $target (llvm-mca-19 -mtriple=$target -mcpu=help)"
  fi
done

work=$(mktemp -d)
if [[ -n ${MCA_KEEP-} ]]; then
  echo "mca.sh: the work directory is $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
# The kernel table as a build for the target configures it, and every
# kernel in it, each with its own flags, as an object of its own.
cmake -S . -B "$work/build" "${configure[@]}" -DINTSUM_TESTS=OFF -DINTSUM_BENCH=OFF >/dev/null
# shellcheck disable=SC2206 # CXX may carry flags of its own
cxx=(${CXX:-$gxx})
if [[ $target != x86_64 && $("${cxx[0]}" --version) == *clang* ]]; then
  cxx+=(--target="$target-linux-gnu")
fi
opt=(-O3 -DNDEBUG)
compile() {  # compile OBJECT SOURCE [FLAG ...]
  local object=$1 source=$2
  shift 2
  "${cxx[@]}" -std=c++20 "${opt[@]}" "${flags[@]}" "$@" -Isrc -Iinclude -Ibench -I"$work/build/generated" \
    -c "$source" -o "$work/$object.o"
}
objects=(sequential_compute kernels scan_scalar mca_trace)
compile sequential_compute src/sequential_compute.cpp
compile kernels src/core/kernels.cpp
compile scan_scalar src/portable/scan_scalar.cpp
compile mca_trace bench/mca_trace.cpp
built=()
while read -r name source kernel_flags; do
  # shellcheck disable=SC2086 # the kernel's flags, one word each
  compile "scan_$name" "$source" $kernel_flags
  objects+=("scan_$name")
  built+=("$name")
done <"$work/build/kernel_flags.txt"
((${#vectors[@]})) || vectors=("${built[@]}")
paths=()
for o in "${objects[@]}"; do paths+=("$work/$o.o"); done
"$gxx" -static "${paths[@]}" -o "$work/trace" -Wl,-Map="$work/map"
llvm-objdump-19 -d --no-show-raw-insn "$work/trace" >"$work/dis"

# Each kernel summing, then folding with a combiner of the caller's ("mix").
kernels=()
for k in "${vectors[@]}" scalar; do kernels+=("$k"); done
for k in "${vectors[@]}" scalar; do kernels+=("$k mix"); done
if [[ -n ${MCA_KERNELS-} ]]; then
  IFS=, read -r -a kernels <<<"$MCA_KERNELS"
fi
shapes=(wide small mixed)
short=8192 long=16384

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

# Turns qemu's log, one instruction to a block, into the instructions run,
# in order, with branch targets replaced by one label llvm-mca can resolve,
# and calls rewritten as the header says.
to_asm() {
  python3 - "$work/dis" "$1" "$calls" <<'PY'
import re, sys
insns = {}
for line in open(sys.argv[1]):
    m = re.match(r'\s+([0-9a-f]+):\s+(\S.*)$', line)
    if m:
        insns[int(m.group(1), 16)] = re.split(r'\s(?://|#) ', m.group(2))[0].strip()
calls = [(re.compile(r'^%s$' % c.split('=')[0].replace(' ', r'\s+')), c.split('=')[1])
         for c in sys.argv[3].split(';')]
out = []
for line in open(sys.argv[2]):
    m = re.search(r'\[[0-9a-f]+/([0-9a-f]+)/', line)
    if not m:
        continue
    i = insns.get(int(m.group(1), 16))
    if i is None or '<unknown>' in i:
        sys.exit('mca.sh: no instruction that llvm-objdump-19 reads at 0x%s' % m.group(1))
    i = re.sub(r'0x[0-9a-f]+ <[^>]*>', 'target', i)
    for call, move in calls:
        i = call.sub(move, i)
    out.append(i)
print('\n'.join(out))
print('target:')
PY
}

# The instructions a run executes, as a file of assembly, which depends on
# the CPU only through qemu's; fails with qemu's status (132: an instruction
# qemu's CPU lacks).
trace() {  # trace KERNEL SHAPE BYTES QEMU_CPU, where KERNEL may be "NAME mix"
  local -a run
  read -r -a run <<<"$1"
  local s="$work/${4//[^A-Za-z0-9]/_}_${run[0]}${run[1]:+_mix}_$2_$3.s" status=0
  if [[ ! -f $s ]]; then
    # The outer redirection quiets bash's own word on a killed run.
    { (ulimit -c 0; "qemu-$target" -cpu "$4" -singlestep -d exec,nochain -dfilter "$(ranges "$1")" -D "$work/log" \
      "$work/trace" "${run[0]}" "$2" "$3" ${run[1]:+"${run[1]}"}) >/dev/null 2>"$work/qemu.err"; } 2>/dev/null ||
      status=$?
    ((status == 0)) || return "$status"
    to_asm "$work/log" >"$s"
  fi
  echo "$s"
}

cycles() {  # cycles ASM CPU
  llvm-mca-19 -mtriple="$target" -mcpu="$2" -iterations=1 "$1" 2>"$work/mca.err" |
    awk '/^Total Cycles:/ { print $3 }' | grep . ||
    die "llvm-mca-19 -mcpu=$2 failed on $1: $(head -3 "$work/mca.err")"
}

echo "compiled by $("${cxx[0]}" --version | head -1), ${opt[*]}; traced by $("qemu-$target" --version | head -1)"
for cpu in "${cpus[@]}"; do
  qcpu=$(qemu_cpu "$cpu")
  echo
  echo "llvm-mca-19 -mtriple=$target -mcpu=$cpu (qemu -cpu $qcpu): cycles per 64 bytes (bytes $short to $long of each shape)"
  printf '%-14s' kernel
  printf ' %8s' "${shapes[@]}"
  echo
  skipped=()
  for k in "${kernels[@]}"; do
    status=0
    trace "$k" "${shapes[0]}" "$short" "$qcpu" >/dev/null || status=$?
    if ((status == 132)); then
      skipped+=("$k")
      continue
    fi
    ((status == 0)) || die "qemu failed ($status) on $k: $(head -3 "$work/qemu.err")"
    printf '%-14s' "$k"
    for s in "${shapes[@]}"; do
      if ! ta=$(trace "$k" "$s" "$short" "$qcpu") || ! tb=$(trace "$k" "$s" "$long" "$qcpu"); then
        die "qemu failed on $k, $s: $(head -3 "$work/qemu.err")"
      fi
      a=$(cycles "$ta" "$cpu")
      b=$(cycles "$tb" "$cpu")
      awk -v a="$a" -v b="$b" -v n=$((long - short)) 'BEGIN { printf " %8.1f", (b - a) * 64 / n }'
    done
    echo
  done
  if ((${#skipped[@]})); then
    echo "left out, as qemu -cpu $qcpu lacks an instruction they run: ${skipped[*]}"
  fi
done
