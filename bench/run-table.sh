#!/bin/bash
# The performance dashboard: runs the benchmark pairs of a Release build and prints one table, every
# figure beside its reference from the same run, as the median of the interleaved rounds.
#   bench/run-table.sh <build folder>
# The raw output of every program (console text and JSON) is kept in <build folder>/bench-results.
# The programs use loopback only; run this inside a private network namespace (make bench does).
set -u
build=${1:?usage: run-table.sh <build folder>}
out="$build/bench-results"
mkdir -p "$out"
rm -f "$out"/*.json "$out"/*.txt "$out"/memory.values

# program, row: label, reference label, unit, better (higher/lower), goal (ratio subject/reference)
rows=(
  "bench_crc|verify|image verification (64 MiB, 4096-byte blocks; CPU time)|plain read|MB/s|higher|0.80"
  "bench_download|block|acknowledged 4096-byte block over the emulator|bare exchange|us|lower|1.10"
  "bench_tcp_stream|stream|raw router stream through CTcpPort (7300-byte writes)|bare socket|MB/s|higher|0.90"
  "memory|check|peak memory of a Check with 256 MiB of images|images' size|MiB|budget|16"
  "memory|emulator|emulator's growth over a 64 MiB router image|bytes it keeps|MiB|budget|16"
)

failed=0
for program in bench_crc bench_download bench_tcp_stream; do
  extra=()
  [ "$program" = bench_crc ] && extra=(--table-only)
  echo "running $program ..." >&2
  if ! "$build/bench/$program" --benchmark_filter='^table/' --benchmark_out="$out/$program.json" \
      --benchmark_out_format=json "${extra[@]}" > "$out/$program.txt" 2>&1; then
    echo "$program failed: see $out/$program.txt" >&2
    failed=1
  fi
done

# the memory figures come from the real programs, one run each (peak memory does not need rounds)
echo "running the memory figures ..." >&2
if ! "$(dirname "$0")/memory.sh" "$build" "$out" > "$out/memory.values" 2> "$out/memory.txt"; then
  echo "the memory figures failed: see $out/memory.txt" >&2
  failed=1
fi

# "row role value" for every run that reported a value and no error
values() {
  awk '
    /"name":/ { name = $2; gsub(/[",]/, "", name); err = 0 }
    /"error_occurred": true/ { err = 1 }
    /"value":/ { v = $2; gsub(/,/, "", v); if (!err && name ~ /^table\//) { split(name, p, "/"); print p[2], p[3], v } }
  ' "$out"/*.json 2>/dev/null
  cat "$out/memory.values" 2>/dev/null
}
all=$(values)

# median of the values of one row and role; prints nothing when there are none
median() {
  local list
  list=$(printf '%s\n' "$all" | awk -v r="$1" -v s="$2" '$1 == r && $2 == s { print $3 }' | sort -g)
  [ -z "$list" ] && return
  local n
  n=$(printf '%s\n' "$list" | wc -l)
  if [ $((n % 2)) -eq 1 ]; then
    printf '%s\n' "$list" | sed -n "$(((n + 1) / 2))p"
  else
    printf '%s\n' "$list" | sed -n "$((n / 2)),$((n / 2 + 1))p" | awk '{ s += $1 } END { printf "%.6g\n", s / 2 }'
  fi
}
# (largest - smallest) / median of one row and role, in percent
spread() {
  printf '%s\n' "$all" | awk -v r="$1" -v s="$2" -v m="$3" '$1 == r && $2 == s {
      if (n == 0 || $3 < lo) lo = $3; if (n == 0 || $3 > hi) hi = $3; n++ }
    END { if (n > 0 && m > 0) printf "%.0f%%", 100 * (hi - lo) / m; else printf "-" }'
}

printf '\nMedian of %s interleaved rounds (reference and subject alternate). %s, load average %s\n' \
  5 "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-55s %-14s %12s %12s %8s %9s %9s %s\n' "figure" "reference" "reference" "figure" "spread" "ratio" "goal" "result"
for row in "${rows[@]}"; do
  IFS='|' read -r program key label reflabel unit better goal <<< "$row"
  ref=$(median "$key" reference)
  sub=$(median "$key" subject)
  if [ -z "$ref" ] || [ -z "$sub" ]; then
    printf '%-55s %-14s %12s %12s %8s %9s %9s %s\n' "$label" "$reflabel" "-" "-" "-" "-" "-" "no result ($program)"
    failed=1
    continue
  fi
  awk -v label="$label" -v reflabel="$reflabel" -v ref="$ref" -v fig="$sub" -v unit="$unit" -v better="$better" \
      -v goal="$goal" -v spr="$(spread "$key" subject "$sub")" 'BEGIN {
    ratio = fig / ref
    if (better == "budget") {
      # what the figure may add to the reference, in its unit
      ok = fig - ref <= goal; r = sprintf("%+.1f %s", fig - ref, unit); g = sprintf("<= +%d %s", goal, unit)
    } else if (better == "higher") {
      ok = ratio >= goal; r = sprintf("%.1f%%", 100 * ratio); g = sprintf(">= %.0f%%", 100 * goal)
    } else {
      ok = ratio <= goal; r = sprintf("%.2fx", ratio); g = sprintf("<= %.2fx", goal)
    }
    printf "%-55s %-14s %12s %12s %8s %9s %9s %s\n", label, reflabel, sprintf("%.1f %s", ref, unit),
      sprintf("%.1f %s", fig, unit), spr, r, g, ok ? "pass" : "short"
  }'
done
printf '(spread: largest minus smallest of the figure'"'"'s rounds, over their median; the memory figures are\n'
printf ' one run each, peak resident memory; raw output in %s)\n' "$out"
exit $failed
