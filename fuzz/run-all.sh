#!/usr/bin/env bash
# Builds every fuzz target (clang, into build-fuzz/) and runs each one for
# SECONDS (default 300), seeded from a scratch copy of its committed seeds,
# its regression inputs and, when present, its folder of the shared corpus.
# Every finding (crash, sanitizer report, leak, time-out, memory blow-up) is
# written as a reproducer into one folder. Exits non-zero on any finding or
# when a target cannot be built.
#
#   fuzz/run-all.sh [SECONDS]
#
# Environment: VELLUMCAST_CORPUS_DIR (default ../shared/corpus from the repo),
# VELLUMCAST_FUZZ_BUILD (default build-fuzz), VELLUMCAST_FUZZ_JOBS (targets at
# a time, default 1; 2 suits a 2-core machine), VELLUMCAST_FUZZ_SKIP (targets
# left out), VELLUMCAST_FUZZ_TARGETS (a
# space-separated subset of target names).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
if ! [[ "$seconds" =~ ^[1-9][0-9]{0,6}$ ]]; then
  echo "usage: fuzz/run-all.sh [SECONDS]   (a whole number of seconds per target, 1 or more)" >&2
  exit 2
fi
jobs_at_once=${VELLUMCAST_FUZZ_JOBS:-1}
if ! [[ "$jobs_at_once" =~ ^[1-9][0-9]?$ ]]; then
  echo "fuzz/run-all.sh: VELLUMCAST_FUZZ_JOBS must be a whole number from 1 to 99" >&2
  exit 2
fi
build=${VELLUMCAST_FUZZ_BUILD:-build-fuzz}
corpus=${VELLUMCAST_CORPUS_DIR:-../shared/corpus}

# The shared corpus folder each target reads; targets not named here run on
# their seeds and regression inputs only. The sealed-file target takes whole
# image files of every kind (its first byte picks key and reader).
declare -A corpus_folders=(
  [fuzz_bmp_reader]="bmp"
  [fuzz_fits_reader]="fits"
  [fuzz_gif_reader]="gif"
  [fuzz_jpeg_adapter]="jpeg"
  [fuzz_jpeg_row_stream]="jpeg"
  [fuzz_exif_reader]="jpeg"
  [fuzz_targa_reader]="tga"
  [fuzz_sealed_reader]="bmp fits gif tga"
)

scripts/install-deps.sh

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLUMCAST_FUZZ=ON -DVELLUMCAST_BUILD_UI=OFF -DVELLUMCAST_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
nice -n 10 cmake --build "$build" --target vellumcast_fuzzers -j"$(nproc)"

# Every fuzz/fuzz_<name>.cpp is a target.
targets=()
for source in fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  if [[ -n "${VELLUMCAST_FUZZ_TARGETS:-}" && " $VELLUMCAST_FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  if [[ " ${VELLUMCAST_FUZZ_SKIP:-} " == *" $name "* ]]; then continue; fi
  targets+=("$name")
done
if ((${#targets[@]} == 0)); then
  echo "fuzz/run-all.sh: no target to run" >&2
  exit 2
fi

findings=$build/findings
logs=$build/fuzz-logs
scratch=$build/fuzz-corpus
# The findings of this run only.
rm -rf "$findings" && mkdir -p "$findings" "$logs"
rm -f "$logs"/*.result
# Targets that read their input from a file write it once per input: in memory
# (/dev/shm) where possible, which is many times faster than a disk.
tmp_parent=$build
if [[ -d /dev/shm && -w /dev/shm ]]; then tmp_parent=/dev/shm; fi
fuzz_tmp=$(mktemp -d "$tmp_parent/vellumcast-fuzz.XXXXXX")
trap 'rm -rf "$fuzz_tmp"' EXIT
export TMPDIR=$fuzz_tmp
# A sanitizer report ends the run at once, with a stack, as a crash.
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
# Leaks of system libraries (not ours) are listed in fuzz/lsan.supp.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Runs one target; records its outcome in $logs/<target>.result.
run_target() {
  local name=$1 program=$build/fuzz/$1 dir=$scratch/$1 log=$logs/$1.log
  rm -rf "$dir" && mkdir -p "$dir"
  local from
  for from in "fuzz/seeds/$name" "fuzz/regressions/$name"; do
    if [[ -d "$from" ]]; then find "$from" -maxdepth 1 -type f -exec cp -t "$dir" {} +; fi
  done
  local folder note="seeds only"
  if [[ -n "${corpus_folders[$name]:-}" ]]; then
    note="seeds"
    for folder in ${corpus_folders[$name]}; do
      if [[ -d "$corpus/$folder" ]]; then
        # Prefixed names: files of different folders never replace each other.
        for f in "$corpus/$folder"/*; do
          if [[ -f "$f" ]]; then cp "$f" "$dir/${folder}_$(basename "$f")"; fi
        done
        note+=" + corpus/$folder"
      else
        note+=" (corpus/$folder missing)"
      fi
    done
  fi
  local before after status=0
  # libFuzzer also keeps inputs slower than 10 s (slow-unit-*) for a look;
  # only a crash, leak, time-out or memory blow-up counts as a finding.
  before=$(find "$findings" -maxdepth 1 -name "$name-*" ! -name "$name-slow-unit-*" | wc -l)
  # A finding stops libFuzzer with a non-zero status; the script continues
  # with the other targets and fails at the end.
  nice -n 19 "$program" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -close_fd_mask=3 -artifact_prefix="$findings/$name-" "$dir" >"$log" 2>&1 || status=$?
  after=$(find "$findings" -maxdepth 1 -name "$name-*" ! -name "$name-slow-unit-*" | wc -l)
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if ((status != 0 || after > before)); then
    echo "FAIL $name (status $status, ${runs:-?} runs, $note)" >"$logs/$name.result"
  else
    echo "ok   $name (${seconds}s, ${runs:-?} runs, $note)" >"$logs/$name.result"
  fi
}

echo "fuzzing ${#targets[@]} targets for ${seconds}s each, $jobs_at_once at a time; logs in $logs" >&2
for name in "${targets[@]}"; do
  rm -f "$logs/$name.result"
  if [[ ! -x "$build/fuzz/$name" ]]; then
    echo "FAIL $name (not built)" >"$logs/$name.result"
    continue
  fi
  while (($(jobs -rp | wc -l) >= jobs_at_once)); do wait -n || true; done
  run_target "$name" &
done
wait

failed=0
for name in "${targets[@]}"; do
  result=$(cat "$logs/$name.result" 2>/dev/null || echo "FAIL $name (no result)")
  echo "$result"
  if [[ "$result" == FAIL* ]]; then
    failed=1
    if [[ -f "$logs/$name.log" ]]; then
      grep -E -m 12 'ERROR|runtime error|SUMMARY|Test unit written|==[0-9]+==' "$logs/$name.log" | awk '!seen[$0]++' | sed 's/^/    /' || true
    fi
  fi
done
if ((failed)); then
  echo "fuzz/run-all.sh: findings in $findings (reproduce: $build/fuzz/<target> <file>;" \
    "commit the file under fuzz/regressions/<target>/ once mended)" >&2
  exit 1
fi
echo "fuzz/run-all.sh: every target ran clean" >&2
