#!/usr/bin/env bash
# Line coverage of the vector kernels by the fuzz comparison alone
# (`ctest -R fuzz`): GCC --coverage builds of the presets `coverage` (x86-64,
# the AVX-512 kernel emulated so that it runs on any x86-64 CPU, AVX2
# native) and `coverage-aarch64` (NEON, under qemu-aarch64), then gcov.
# Prints the share of lines run in each kernel file: src/scan_NAME.cpp for
# every kernel the build has, and every header of src/ with code that they
# run (all but avx512.h, whose stand-ins for intrinsics exist only in the
# emulated test build).
# Fails if any is below MIN percent.
#
#   tools/coverage.sh [x86_64|aarch64|all]     (default all; MIN=95)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

which=${1:-all}
min=${MIN:-95}
case $which in
  x86_64 | aarch64 | all) ;;
  *) echo "usage: $0 [x86_64|aarch64|all]" >&2; exit 2 ;;
esac

status=0

# measure PRESET GCOV
measure() {
  local preset=$1 gcov=$2 dir=build/$1
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # Counts add up across runs: start from none.
  find "$dir" -name '*.gcda' -delete
  ctest --test-dir "$dir" -R fuzz --output-on-failure
  # Kernel names from the build's own list, so a new kernel is expected too.
  local kernels
  kernels=$(cut -d' ' -f1 "$dir/kernel_flags.txt" | tr '\n' ' ')
  local out
  out=$(mktemp -d)
  # Every object with counts, wherever CMake put it; gcov writes JSON.
  while IFS= read -r gcda; do
    (cd "$out" && "$gcov" --json-format --stdout --object-directory "$(dirname "$gcda")" "$gcda") \
      >>"$out/all.json" 2>/dev/null || echo "gcov failed on $gcda" >&2
  done < <(find "$PWD/$dir" -name '*.gcda')
  python3 - "$min" "$out/all.json" $kernels <<'EOF' || status=1
import fnmatch, json, os, sys

least, data, kernels = float(sys.argv[1]), sys.argv[2], sys.argv[3:]
# Line -> whether it ran, merged over every object (a header counts once).
lines = {}
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

# Found by name, wherever they are under src/.
def named(pattern):
    return sorted(name for name in lines if fnmatch.fnmatch(os.path.basename(name), pattern))

wanted = []
for k in kernels:
    wanted += named(f"scan_{k}.cpp") or [f"scan_{k}.cpp"]
wanted += [h for h in named("*.h") if os.path.basename(h) != "avx512.h"] or ["block.h"]
failed = False
for name in wanted:
    seen = lines.get(name)
    if not seen:
        print(f"  {name:24} no coverage data")
        failed = True
        continue
    run = sum(seen.values())
    share = 100.0 * run / len(seen)
    low = share < least
    failed |= low
    missed = sorted(n for n, ran in seen.items() if not ran)
    note = f"  not run: {', '.join(map(str, missed))}" if missed else ""
    print(f"  {name:24} {share:5.1f}% of {len(seen)} lines{' BELOW ' + str(least) + '%' if low else ''}{note}")
sys.exit(1 if failed else 0)
EOF
  rm -rf "$out"
}

if [[ $which != aarch64 ]]; then
  measure coverage gcov-12
fi
if [[ $which != x86_64 ]]; then
  measure coverage-aarch64 aarch64-linux-gnu-gcov-12
fi
exit $status
