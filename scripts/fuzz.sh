#!/usr/bin/env bash
# Runs every fuzz target of a build tree (configured with -DVORNA_FUZZ=ON)
# for a fixed time on its seed corpus in fuzz/corpus/<Name>/, which holds the
# inputs of every finding so far as regression cases. Fails when any target
# finds a crash, a hang, a leak, undefined behaviour or an unbounded
# allocation, and prints the input.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
#   VORNA_FUZZ_JOBS: targets run at once (default: half the cores)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seconds="${2:-${VORNA_FUZZ_SECONDS:-25}}"
jobs="${VORNA_FUZZ_JOBS:-$(( $(nproc) / 2 > 0 ? $(nproc) / 2 : 1 ))}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The file parsers' targets write their input to a private home for every
# run: in memory that is many times faster than on disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

targets=()
for f in "$build"/fuzz/fuzz_*; do
  [ -f "$f" ] && [ -x "$f" ] && targets+=("$f")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets in $build/fuzz" >&2
  exit 1
fi

run_one() {
  local bin="$1" name corpus dir
  name="${bin##*/fuzz_}"
  corpus="$here/fuzz/corpus/$name"
  dir="$work/$name"
  mkdir -p "$dir/found" "$dir/artifacts" "$corpus"
  # New inputs go to a scratch folder (the first one); the repository's
  # corpus is only read. A single allocation over 256 MB counts as a finding.
  if ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0:${ASAN_OPTIONS:-}" \
     "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
       -max_len=16384 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
       "$dir/found" "$corpus" >"$dir/log" 2>&1; then
    echo ok >"$dir/status"
  else
    echo failed >"$dir/status"
  fi
}
export -f run_one
export here work seconds

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$1"' _ {}

failed=0
printf '%-22s %12s %10s  %s\n' target executions exec/s result
for bin in "${targets[@]}"; do
  name="${bin##*/fuzz_}"
  dir="$work/$name"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -n1)"
  status="$(cat "$dir/status" 2>/dev/null || echo failed)"
  printf '%-22s %12s %10s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "$status"
  if [ "$status" != ok ]; then
    failed=1
    echo "---- fuzz_$name found a problem:" >&2
    grep -v '^#[0-9]' "$dir/log" | tail -n 60 >&2
    for a in "$dir"/artifacts/*; do
      [ -f "$a" ] || continue
      echo "---- input $(basename "$a") (base64; add it to fuzz/corpus/$name/ once fixed):" >&2
      base64 -w 0 "$a" | head -c 4096 >&2
      echo >&2
    done
  fi
done
exit "$failed"
