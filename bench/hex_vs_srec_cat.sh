#!/bin/sh
# The HEX loader side by side with srec_cat (Debian package srecord) converting the same files to
# binary: throughput in MB (10^6 bytes) of HEX text per second, and their ratio.
#
# Usage: bench/hex_vs_srec_cat.sh [build directory, default build] [srec_cat runs, default 7]
#
# The benchmark binary writes its HEX files into a scratch folder (HEX_BENCH_DIR) while it measures
# the loader; srec_cat then converts each of those files `runs` times, and its fastest run counts,
# start-up included, since that is what converting a file with it costs.
set -eu

build=${1:-build}
runs=${2:-7}
bench="$build/reflsh_bench"

if ! command -v srec_cat >/dev/null 2>&1; then
  echo "srec_cat is not installed (Debian package srecord): nothing to compare with." >&2
  exit 77
fi
if [ ! -x "$bench" ]; then
  echo "$bench not found: build with -DREFLSH_BENCH=ON first." >&2
  exit 1
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM

# The loader: bytes_per_second of each image size, from the JSON report.
HEX_BENCH_DIR="$dir" "$bench" --benchmark_filter='^LoadHex/' --benchmark_format=json \
  --benchmark_min_time=0.5 >"$dir/bench.json"

loader_rate() {  # $1: image bytes -> HEX bytes per second
  awk -v want="\"LoadHex/$1\"" '
    /"name":/ { split($0, f, ": "); name = f[2]; sub(/,$/, "", name) }
    /"bytes_per_second":/ && name == want { split($0, f, ": "); sub(/,$/, "", f[2]); print f[2]; exit }
  ' "$dir/bench.json"
}

now_ns() { date +%s%N; }

printf '%-10s %12s %14s %14s %8s\n' "image" "HEX bytes" "loader MB/s" "srec_cat MB/s" "ratio"
status=0
for size in 131072 1048576; do
  hex="$dir/hex_$size.hex"
  if [ ! -s "$hex" ]; then
    echo "the benchmark wrote no $hex" >&2
    exit 1
  fi
  bytes=$(wc -c <"$hex")
  best=""
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(now_ns)
    srec_cat "$hex" -intel -o "$dir/out.bin" -binary
    end=$(now_ns)
    took=$((end - start))
    if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
    i=$((i + 1))
  done
  loader=$(loader_rate "$size")
  awk -v size="$size" -v bytes="$bytes" -v loader="$loader" -v ns="$best" 'BEGIN {
    l = loader / 1e6; s = bytes / (ns / 1e9) / 1e6
    printf "%-10s %12d %14.1f %14.1f %7.1fx\n", (size / 1024) " KiB", bytes, l, s, l / s
    exit !(l >= 500 && l / s >= 10)
  }' || status=1
done
if [ "$status" -ne 0 ]; then
  echo "below target: the loader should reach 500 MB/s and 10 times srec_cat" >&2
fi
exit "$status"
