#!/usr/bin/env bash
# Builds every fuzz target (clang, into build-fuzz/) and runs each one for
# SECONDS (default 300), seeded from a scratch copy of its committed seeds,
# its regression inputs and, when present, its folder of the shared corpus.
# Every finding (crash, sanitizer report, leak, time-out, memory blow-up) is
# written as a reproducer into one folder. Exits non-zero on any finding or
# when a target cannot be built.
#
#   fuzz/run-all.sh [--coverage] [SECONDS]
#
# With --coverage, a second copy of the targets is built afterwards with
# clang source coverage (build-fuzz-coverage/, the replay programs without
# libFuzzer or sanitizers), every target's corpus as the run left it (seeds
# and all it found) is run through it, and one line per source file of src/
# tells how many of its coverage regions (clang's edges of the code's
# control flow) the targets reached: "covered/total edges".
#
# Environment: VELLUMCAST_CORPUS_DIR (default ../shared/corpus from the repo),
# VELLUMCAST_FUZZ_BUILD (default build-fuzz), VELLUMCAST_FUZZ_JOBS (targets at
# a time, default 1; 2 suits a 2-core machine), VELLUMCAST_FUZZ_SKIP (targets
# left out), VELLUMCAST_FUZZ_TARGETS (a
# space-separated subset of target names).
set -euo pipefail
cd "$(dirname "$0")/.."

coverage=0
if [[ "${1:-}" == --coverage ]]; then
  coverage=1
  shift
fi
seconds=${1:-300}
if (($# > 1)) || ! [[ "$seconds" =~ ^[1-9][0-9]{0,6}$ ]]; then
  echo "usage: fuzz/run-all.sh [--coverage] [SECONDS]   (a whole number of seconds per target, 1 or more)" >&2
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
  [fuzz_thumb_jpeg]="jpeg"
  [fuzz_image_dates]="jpeg"
)

# The longest input libFuzzer may make per target (-max_len). Whatever reads
# a file gets room for several times the readers' 4,096-byte buffer, and the
# image targets for real-size files (their seeds reach about 100 KB); the
# others what their input can sensibly be.
default_max_len=65536
declare -A max_lens=(
  [fuzz_bmp_reader]=262144
  [fuzz_fits_reader]=262144
  [fuzz_gif_reader]=262144
  [fuzz_heif_reader]=262144
  [fuzz_jpeg_adapter]=262144
  [fuzz_jpeg_row_stream]=262144
  [fuzz_png_reader]=262144
  [fuzz_sealed_reader]=262144
  [fuzz_targa_reader]=262144
  [fuzz_tiff_reader]=262144
  [fuzz_webp_reader]=262144
  [fuzz_exif_reader]=131072
  [fuzz_thumb_jpeg]=262144
  [fuzz_thumb_png]=262144
  [fuzz_thumb_webp]=262144
  [fuzz_thumb_heif]=262144
  [fuzz_thumb_tiff]=262144
  [fuzz_load_dispatch]=262144
  [fuzz_icc_profile]=131072
  [fuzz_raster_stages]=131072
  [fuzz_image_dates]=131072
  [fuzz_int_parse]=16384
  [fuzz_index_options]=16384
  [fuzz_names]=16384
  [fuzz_photo_metadata]=262144
  [fuzz_xmp_sidecar]=262144
  [fuzz_markdown_sidecar]=262144
  [fuzz_takeout_json]=262144
  [fuzz_video_poster]=262144
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
  nice -n 19 "$program" -max_total_time="$seconds" -max_len="${max_lens[$name]:-$default_max_len}" \
    -timeout=30 -rss_limit_mb=2048 \
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

# Runs every target's corpus through the coverage build and prints the table.
report_coverage() {
  local cov_build=$build-coverage
  CC=clang CXX=clang++ cmake -S . -B "$cov_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELLUMCAST_FUZZ_COVERAGE=ON -DVELLUMCAST_BUILD_UI=OFF -DVELLUMCAST_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
  nice -n 10 cmake --build "$cov_build" --target vellumcast_fuzzers -j"$(nproc)" >/dev/null
  local profiles=$cov_build/profiles name program
  rm -rf "$profiles" && mkdir -p "$profiles"
  local programs=()
  for name in "${targets[@]}"; do
    program=$cov_build/fuzz/replay_$name
    if [[ ! -x "$program" || ! -d "$scratch/$name" ]]; then continue; fi
    # A corpus input never fails a clean target; should one, its profile is lost.
    if ! LLVM_PROFILE_FILE="$profiles/$name.profraw" nice -n 19 "$program" "$scratch/$name" \
      >"$logs/$name.coverage.log" 2>&1; then
      echo "coverage: the replay of $name stopped early (see $logs/$name.coverage.log)" >&2
    fi
    programs+=("$program")
  done
  if ((${#programs[@]} == 0)) || ! compgen -G "$profiles/*.profraw" >/dev/null; then
    echo "coverage: no profile was written" >&2
    return 1
  fi
  # Every target defines its own LLVMFuzzerTestOneInput and helpers of the
  # same names, which llvm-profdata reports as "functions with mismatched
  # data"; the library's functions are the same code in every target.
  llvm-profdata merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"
  local objects=("${programs[0]}") p
  for p in "${programs[@]:1}"; do objects+=(-object "$p"); done
  # Listing fuzz/ too makes the repository the names' common prefix: "src/...".
  llvm-cov report "${objects[@]}" -instr-profile="$profiles/merged.profdata" "$PWD/src" "$PWD/fuzz" \
    >"$profiles/report.txt"
  echo "coverage of src/ over the corpora ($profiles/report.txt in full):"
  local file
  # Filename Regions Missed ... as llvm-cov prints them; a source file that no
  # target links shows as such, a header only when it holds code.
  find src -name '*.cpp' -o -name '*.h' | sort | while read -r file; do
    # Built through ccache with a base folder, the names are relative to the
    # build folder ("../src/..."): compared without the leading "../".
    awk -v f="$file" '
      { name = $1; sub(/^(\.\.\/)+/, "", name) }
      name == f { found = 1; printf "  %6d/%-6d edges %5.1f%%  %s\n", $2 - $3, $2, $2 ? 100 * ($2 - $3) / $2 : 100, f }
      END { if (!found && f ~ /\.cpp$/) printf "       -/-      edges  (no target)  %s\n", f }' "$profiles/report.txt"
  done
}

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
coverage_failed=0
if ((coverage)); then
  report_coverage || coverage_failed=1
fi
if ((failed)); then
  echo "fuzz/run-all.sh: findings in $findings (reproduce: $build/fuzz/<target> <file>;" \
    "commit the file under fuzz/regressions/<target>/ once mended)" >&2
  exit 1
fi
if ((coverage_failed)); then
  echo "fuzz/run-all.sh: the coverage table could not be made" >&2
  exit 1
fi
echo "fuzz/run-all.sh: every target ran clean" >&2
