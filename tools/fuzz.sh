#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/, replays each
# target's seed corpus (and any saved finding of it under fuzz/crashes/),
# then fuzzes each target for ONDIVAL_FUZZ_SECONDS seconds (20 unless
# told). Fails when any target crashes, reports a sanitizer error or breaks
# one of its invariants; the input that did it is kept under
# build-fuzz/findings/<target>/.
#
#   tools/fuzz.sh                     every target
#   tools/fuzz.sh fuzz_dates          only the targets named
#   ONDIVAL_FUZZ_SECONDS=600 tools/fuzz.sh fuzz_import
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${ONDIVAL_FUZZ_SECONDS:-20}
jobs=$(nproc 2>/dev/null || echo 2)
build=build-fuzz

CC=${CC:-clang-14} CXX=${CXX:-clang++-14} \
  cmake -S . -B "$build" -DONDIVAL_FUZZ=ON -DONDIVAL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz_targets

# Longest input worth trying per target: a few record lines for the
# parsers (an overlong line included), a short text for the dates, a small
# export for the whole call.
declare -A max_len=(
  [fuzz_licence_record]=600
  [fuzz_perf_record]=600
  [fuzz_dos_letters]=1024
  [fuzz_dates]=64
  [fuzz_import]=16384
  [fuzz_export_archive]=8192
)
declare -A extra=([fuzz_import]="-dict=$root/fuzz/import.dict")

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_licence_record fuzz_perf_record fuzz_dos_letters fuzz_dates fuzz_import
                                  fuzz_export_archive)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=()
summary=()
for t in "${targets[@]}"; do
  [ -n "${max_len[$t]:-}" ] || { echo "fuzz.sh: unknown target $t" >&2; exit 2; }
  bin="$root/$build/fuzz/$t"
  seeds="$root/fuzz/corpus/$t"
  work="$root/$build/corpus-work/$t"
  findings="$root/$build/findings/$t"
  log="$root/$build/logs/$t.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"

  echo "== $t: replaying the seeds"
  # A finding kept under fuzz/crashes/ stays in the replay after its fix.
  saved=()
  for f in "$root"/fuzz/crashes/"$t"-*; do [ -e "$f" ] && saved+=("$f"); done
  if ! { "$bin" -runs=0 -artifact_prefix="$findings/" "$seeds" &&
         { [ ${#saved[@]} -eq 0 ] || "$bin" -artifact_prefix="$findings/" "${saved[@]}"; }; } >"$log.replay" 2>&1; then
    tail -n 40 "$log.replay"
    failed+=("$t (replay)")
    summary+=("$(printf '%-20s %12s  %s' "$t" - 'FAILED on a seed')")
    continue
  fi

  echo "== $t: fuzzing for ${seconds}s (max_len ${max_len[$t]})"
  # New inputs go to the work corpus; the committed seeds stay as they are.
  status=ok
  # shellcheck disable=SC2086
  if ! "$bin" "$work" "$seeds" -max_total_time="$seconds" -max_len="${max_len[$t]}" -timeout=25 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" ${extra[$t]:-} >"$log" 2>&1; then
    status=FAILED
    failed+=("$t")
    grep -a -E 'ERROR|SUMMARY|invariant broken|Test unit written' "$log" | head -n 20 || true
  fi
  execs=$(grep -a -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -n 1)
  [ -n "$execs" ] || execs=$(grep -a -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  corpus=$(find "$work" -type f | wc -l)
  summary+=("$(printf '%-20s %12s  %s' "$t" "${execs:-?}" "$status, work corpus $corpus inputs, log $log")")
done

echo
printf '%-20s %12s  %s\n' target executions result
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]} (inputs under $build/findings/)" >&2
  exit 1
fi
