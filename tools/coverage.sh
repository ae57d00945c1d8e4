#!/usr/bin/env bash
# Line coverage of the kernels by the fuzz comparison alone (`ctest -R
# fuzz`): GCC --coverage builds of the presets `coverage` (x86-64, the
# AVX-512 kernel emulated so that it runs on any x86-64 CPU, AVX2 native) and
# `coverage-aarch64` (NEON, under qemu-aarch64), then gcov; and for the RVV
# kernel, which only Clang builds and whose profile runtime Debian has for no
# riscv64, `coverage-riscv64`: fuzz_replay under qemu-riscv64 at 128 to
# 1024-bit vectors, qemu's log of the instructions it translated, and the
# line tables of the binary (llvm-objdump-19 -l), which say the lines they
# come from. A line with code there counts as run if any instruction of it
# ran, as gcov counts it.
# Prints the share of lines run in each kernel file: src/*/scan_NAME.cpp for
# every kernel a build has, and every header of src/ with code that the
# kernels run (all but x86/avx512/intrinsics.h, whose stand-ins for
# intrinsics exist only in the emulated test build). A header built on more
# than one processor counts a line as run if any build runs it: some paths
# are taken only on one of them. The riscv64 build answers for src/riscv/
# alone, as its line tables are no gcov's for the headers it shares.
# Fails if any is below MIN percent.
#
#   tools/coverage.sh [x86_64|aarch64|riscv64|all]     (default all; MIN=95)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

which=${1:-all}
min=${MIN:-95}
case $which in
  x86_64 | aarch64 | riscv64 | all) ;;
  *) echo "usage: $0 [x86_64|aarch64|riscv64|all]" >&2; exit 2 ;;
esac

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# measure PRESET GCOV: gcov's JSON of every object into $out/PRESET.json,
# and the build's kernels into $out/PRESET.kernels.
measure() {
  local preset=$1 gcov=$2 dir=build/$1
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # Counts add up across runs: start from none.
  find "$dir" -name '*.gcda' -delete
  ctest --test-dir "$dir" -R fuzz --output-on-failure
  cut -d' ' -f1 "$dir/kernel_flags.txt" >"$out/$preset.kernels"
  echo scalar >>"$out/$preset.kernels"
  mkdir -p "$out/$preset"
  while IFS= read -r gcda; do
    (cd "$out/$preset" && "$gcov" --json-format --stdout --object-directory "$(dirname "$gcda")" "$gcda") \
      >>"$out/$preset.json" 2>/dev/null || echo "gcov failed on $gcda" >&2
  done < <(find "$PWD/$dir" -name '*.gcda')
}

# measure_in_qemu: the riscv64 build's lines in src/riscv/, run or not, as
# gcov's JSON into $out/coverage-riscv64.json, and its kernels there.
measure_in_qemu() {
  local preset=coverage-riscv64 dir=build/coverage-riscv64 bits
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  rm -f "$out"/riscv64-*.log
  for bits in 128 256 512 1024; do
    qemu-riscv64 -L /usr/riscv64-linux-gnu -cpu "rv64,v=true,vlen=$bits,vext_spec=v1.0" \
      -d in_asm -D "$out/riscv64-$bits.log" "$dir/tests/fuzz_replay" fuzz/corpus 2000
  done
  awk '$2 ~ /^src\/riscv\// { print $1 }' "$dir/kernel_flags.txt" >"$out/$preset.kernels"
  llvm-objdump-19 -d -l --no-show-raw-insn "$dir/tests/fuzz_replay" >"$out/riscv64.dis"
  python3 - "$out/riscv64.dis" "$out"/riscv64-*.log >"$out/$preset.json" <<'PY'
import json, re, sys
# Addresses qemu translated: each of a translated block's instructions ran.
ran = set()
for log in sys.argv[2:]:
    for line in open(log):
        m = re.match(r'^0x([0-9a-f]+):', line)
        if m:
            ran.add(int(m.group(1), 16))
# The line of each instruction: the last "; FILE:LINE" before it.
files, where = {}, None
for line in open(sys.argv[1]):
    m = re.match(r'^; (\S*/src/riscv/\S+):(\d+)$', line)
    if m:
        where = (m.group(1), int(m.group(2)))
        continue
    if line.startswith(';'):
        where = None
        continue
    m = re.match(r'^\s+([0-9a-f]+):', line)
    if m and where and where[1] != 0:
        seen = files.setdefault(where[0], {})
        seen[where[1]] = seen.get(where[1], 0) + (int(m.group(1), 16) in ran)
    elif not m:
        where = None
print(json.dumps({"files": [{"file": f, "lines": [{"line_number": n, "count": c} for n, c in sorted(l.items())]}
                            for f, l in sorted(files.items())]}))
PY
}

if [[ $which == x86_64 || $which == all ]]; then
  measure coverage gcov-12
fi
if [[ $which == aarch64 || $which == all ]]; then
  measure coverage-aarch64 aarch64-linux-gnu-gcov-12
fi
if [[ $which == riscv64 || $which == all ]]; then
  measure_in_qemu
fi

echo "=== lines run, of the lines with code"
python3 - "$min" "$out" <<'EOF'
import fnmatch, glob, json, os, sys

least, out = float(sys.argv[1]), sys.argv[2]
# File below src/ -> line -> whether it ran, merged over every object and build.
lines, kernels = {}, set()
for data in sorted(glob.glob(os.path.join(out, "*.json"))):
    kernels |= set(open(data[: -len(".json")] + ".kernels").read().split())
    with open(data) as f:
        for record in f:
            record = record.strip()
            if not record:
                continue
            for entry in json.loads(record)["files"]:
                # The path below the last src/, whatever prefix the build gave it.
                pieces = os.path.normpath(entry["file"]).split(os.sep)
                if "src" not in pieces:
                    continue
                under = pieces[len(pieces) - 1 - pieces[::-1].index("src") + 1:]
                seen = lines.setdefault(os.path.join(*under), {})
                for line in entry["lines"]:
                    n = line["line_number"]
                    seen[n] = seen.get(n, False) or line["count"] > 0

def named(pattern):
    return sorted(name for name in lines if fnmatch.fnmatch(os.path.basename(name), pattern))

wanted = []
for k in sorted(kernels):
    wanted += named(f"scan_{k}.cpp") or [f"scan_{k}.cpp"]
wanted += [h for h in named("*.h") if h != os.path.join("x86", "avx512", "intrinsics.h")] or ["block/block.h"]
failed = False
for name in wanted:
    seen = lines.get(name)
    if not seen:
        print(f"  {name:30} no coverage data")
        failed = True
        continue
    run = sum(seen.values())
    share = 100.0 * run / len(seen)
    low = share < least
    failed |= low
    missed = sorted(n for n, ran in seen.items() if not ran)
    note = f"  not run: {', '.join(map(str, missed))}" if missed else ""
    print(f"  {name:30} {share:5.1f}% of {len(seen)} lines{' BELOW ' + str(least) + '%' if low else ''}{note}")
sys.exit(1 if failed else 0)
EOF
