#!/usr/bin/env bash
# Times intsum on generated inputs against each of its kernels, the example
# program (the fold with a combiner of its own), a plain stdio loop, a bare
# read(2) loop, wc -l and awk, and prints the results as Markdown tables.
set -euo pipefail
shopt -s inherit_errexit

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build/release"
data="$repo/bench/data"
mib=128
runs=5
shapes=(wide small mixed)
# Single quotes on purpose: $1 is awk's, not the shell's.
# shellcheck disable=SC2016
awk_sum='{s+=$1} END {print s}'

usage() {
  cat <<EOF
Usage: bench/run.sh [-b BUILD_DIR] [-d DATA_DIR] [-s MIB] [-n RUNS]

  -b BUILD_DIR  build to measure (default: build/release)
  -d DATA_DIR   where the inputs are kept (default: bench/data)
  -s MIB        size of each input in MiB (default: 128)
  -n RUNS       runs per command; the median is reported (default: 5)

This script does not build anything. Build first, from the repository root:
  cmake --workflow --preset release
EOF
}

die() {
  echo "run.sh: $*" >&2
  exit 1
}

note() { echo "run.sh: $*" >&2; }

positive_int() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }

parse_args() {
  local opt
  while getopts ":b:d:s:n:h" opt; do
    case $opt in
      b) build=$OPTARG ;;
      d) data=$OPTARG ;;
      s) mib=$OPTARG ;;
      n) runs=$OPTARG ;;
      h) usage; exit 0 ;;
      :) usage >&2; die "-$OPTARG needs a value" ;;
      *) usage >&2; die "unknown option -$OPTARG" ;;
    esac
  done
  shift $((OPTIND - 1))
  (($# == 0)) || { usage >&2; die "unexpected argument: $1"; }
  positive_int "$mib" || die "-s wants a whole number of MiB, not '$mib'"
  positive_int "$runs" || die "-n wants a whole number of runs, not '$runs'"
}

check_tools() {
  intsum="$build/intsum"
  gen="$build/bench/intsum_gen"
  stdio_sum="$build/bench/stdio_sum"
  kernel_run="$build/bench/intsum_kernel"
  checksum="$build/intsum_checksum"
  read_loop="$build/bench/read_loop"
  local b
  for b in "$intsum" "$gen" "$stdio_sum" "$kernel_run" "$checksum" "$read_loop"; do
    [[ -x $b ]] || die "$b not found; build first with: cmake --workflow --preset release"
  done
  # Peak memory is optional: without GNU time the column says so.
  have_gnu_time=0
  [[ -x /usr/bin/time ]] && have_gnu_time=1
  mapfile -t kernels < <("$kernel_run" list)
  ((${#kernels[@]} > 0)) || die "intsum_kernel list names no kernel"
  best_kernel=$("$kernel_run" best)
}

file_for() { echo "$data/$1.txt"; }

# The generator stops at the first separator past the size, so a good file
# is at most one short record longer than asked for.
size_ok() {
  local size=$1 want=$((mib * 1048576))
  ((size >= want && size < want + 64))
}

make_inputs() {
  mkdir -p "$data"
  local shape file
  for shape in "${shapes[@]}"; do
    file=$(file_for "$shape")
    if [[ -f $file ]] && size_ok "$(stat -c %s "$file")"; then continue; fi
    note "generating $file ($mib MiB)"
    # Through a temporary name, so an interrupted run leaves no short file.
    "$gen" "$shape" "$mib" "$file.tmp"
    mv "$file.tmp" "$file"
  done
}

# Median wall time, in microseconds, of $runs runs of the command. The
# clock is bash's own, so no extra process lands inside the timed span.
median_us() {
  local -a samples=()
  local i t0 t1
  for ((i = 0; i < runs; i++)); do
    t0=${EPOCHREALTIME//[!0-9]/}
    "$@" >/dev/null || die "'$*' failed with status $? while being timed"
    t1=${EPOCHREALTIME//[!0-9]/}
    samples+=($((t1 - t0)))
  done
  printf '%s\n' "${samples[@]}" | sort -n |
    awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# Every program that claims to sum modulo 2^32 must print the same line;
# a fast wrong answer is worth nothing.
check_results() {
  local file=$1 want got k
  want=$("$intsum" "$file") || die "intsum failed on $file"
  [[ $want =~ ^Result:\ -?[0-9]+$ ]] || die "intsum printed '$want' for $file"
  local -a bad=()
  for k in "${kernels[@]}"; do
    got=$("$kernel_run" "$k" "$file") || got="failed with status $?"
    [[ $got == "$want" ]] || bad+=("intsum_kernel $k: '$got'")
  done
  got=$("$stdio_sum" "$file") || got="failed with status $?"
  [[ $got == "$want" ]] || bad+=("stdio_sum: '$got'")
  # The read loop sums nothing, but must have read every byte.
  got=$("$read_loop" "$file") || got="failed with status $?"
  [[ $got == "$(stat -c %s "$file")" ]] || bad+=("read_loop: '$got' bytes")
  if ((${#bad[@]} > 0)); then
    echo "run.sh: RESULTS DIFFER on $file; intsum: '$want'" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
  fi
  agreed=$want
}

peak_rss_mib() {
  local file=$1 out
  if ((have_gnu_time == 0)); then
    echo "n/a (no /usr/bin/time)"
    return
  fi
  out=$(mktemp)
  /usr/bin/time -f %M -o "$out" "$intsum" "$file" >/dev/null
  awk '{ printf "%.1f MiB", $1 / 1024 }' "$out"
  rm -f "$out"
}

# Times everything on one shape and prints its table.
bench_shape() {
  local shape=$1 file size k
  file=$(file_for "$shape")
  size=$(stat -c %s "$file")
  # Read it once so every command finds it in the page cache.
  cat "$file" >/dev/null
  check_results "$file"

  local -a labels=() times=()
  note "timing $shape: intsum"
  labels+=("intsum"); times+=("$(median_us "$intsum" "$file")")
  for k in "${kernels[@]}"; do
    note "timing $shape: intsum_kernel $k"
    labels+=("intsum_kernel $k"); times+=("$(median_us "$kernel_run" "$k" "$file")")
  done
  note "timing $shape: intsum_checksum"
  labels+=("intsum_checksum (the fold with another combiner)"); times+=("$(median_us "$checksum" "$file")")
  note "timing $shape: stdio_sum"
  labels+=("stdio_sum"); times+=("$(median_us "$stdio_sum" "$file")")
  local stdio_us=${times[-1]}
  note "timing $shape: wc -l"
  labels+=("wc -l"); times+=("$(median_us wc -l "$file")")
  local wc_us=${times[-1]}
  note "timing $shape: read_loop"
  labels+=("read_loop (read(2) alone, 128 KiB at a time)"); times+=("$(median_us "$read_loop" "$file")")
  if [[ $shape == small ]]; then
    note "timing $shape: awk"
    labels+=("awk '$awk_sum'"); times+=("$(median_us awk "$awk_sum" "$file")")
  fi

  echo
  echo "### $shape ($size bytes)"
  echo
  echo "intsum, every kernel and stdio_sum agree: \`$agreed\`; read_loop read every byte. intsum peak RSS: $(peak_rss_mib "$file")."
  echo
  echo "| command | median ms | MiB/s | time vs wc -l | speed vs stdio_sum |"
  echo "|---|---:|---:|---:|---:|"
  local i
  for i in "${!labels[@]}"; do
    awk -v label="${labels[i]}" -v us="${times[i]}" -v size="$size" -v wc="$wc_us" -v stdio="$stdio_us" 'BEGIN {
      us = (us > 0) ? us : 1
      printf "| `%s` | %.1f | %.0f | %.2fx | %.2fx |\n", label, us / 1000, size / 1048576 / (us / 1e6), us / wc, stdio / us
    }'
  done
}

print_header() {
  local cpu sizes="" shape file rev
  cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
  for shape in "${shapes[@]}"; do
    file=$(file_for "$shape")
    sizes+="${sizes:+, }$shape $(stat -c %s "$file") bytes"
  done
  rev=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
  echo "## intsum benchmark"
  echo
  echo "- CPU: ${cpu:-unknown} ($(nproc) logical CPUs)"
  echo "- kernels this CPU runs: ${kernels[*]}; intsum picks: $best_kernel"
  echo "- files ($mib MiB asked): $sizes"
  echo "- command: \`$cmdline\` (build $build, commit $rev)"
  echo "- $runs runs per command, median wall time, warm page cache, output to /dev/null"
}

main() {
  printf -v cmdline '%q ' "$0" "$@"
  cmdline=${cmdline% }
  parse_args "$@"
  check_tools
  make_inputs
  print_header
  local shape
  for shape in "${shapes[@]}"; do
    bench_shape "$shape"
  done
}

main "$@"
