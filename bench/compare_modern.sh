#!/usr/bin/env bash
# The modern style's images against vipsthumbnail: bench/modern_bench (1x and
# 2x thumbnails and web copies of every photo, on every core) and
# vipsthumbnail run on every core (xargs -P<cores>) making the same three
# sizes (cell, twice the cell, 2048 long side, never enlarged; quality 85,
# metadata stripped, turned upright; vips makes every web copy, vellumcast
# only those of photos over 2048 pixels or turned), on the same JPEG files,
# interleaved, several runs each. Prints wall time, CPU time and peak resident memory per run,
# then the peak memory of one very large JPEG for both.
#
#   bench/compare_modern.sh [--build=DIR] [--folder=DIR] [--count=200]
#       [--runs=3] [--cell=140x100] [--huge-mp=100]
#
# --folder: a folder of .jpg files (thumbnail folders left out); made with
#   bench/make_photo_corpus when it holds none. Default /tmp/vc_modern_corpus.
# Needs the Release build of modern_bench and make_photo_corpus, GNU time and
# Debian's libvips-tools (VELLUMCAST_BENCH_DEPS=1 scripts/install-deps.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-release"
folder=/tmp/vc_modern_corpus
count=200
runs=3
cell=140x100
huge_mp=100
for arg in "$@"; do
  case "$arg" in
    --build=*) build=${arg#*=} ;;
    --folder=*) folder=${arg#*=} ;;
    --count=*) count=${arg#*=} ;;
    --runs=*) runs=${arg#*=} ;;
    --cell=*) cell=${arg#*=} ;;
    --huge-mp=*) huge_mp=${arg#*=} ;;
    *) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
build=$(cd "$build" 2>/dev/null && pwd) || { echo "no build folder: $build" >&2; exit 2; }
bench="$build/bench/modern_bench"
maker="$build/bench/make_photo_corpus"
for tool in "$bench" "$maker"; do
  [[ -x "$tool" ]] || { echo "missing $tool; build the targets modern_bench make_photo_corpus" >&2; exit 1; }
done
command -v vipsthumbnail >/dev/null || { echo "vipsthumbnail (libvips-tools) is needed" >&2; exit 1; }
gnu_time=/usr/bin/time
[[ -x $gnu_time ]] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }
cores=$(nproc)
cell_w=${cell%x*}
cell_h=${cell#*x}

list_jpegs() { find "$1" -name quarto_tn -prune -o -type f -iname '*.jpg' -print | LC_ALL=C sort; }

mkdir -p "$folder"
if [[ -z $(list_jpegs "$folder" | head -1) ]]; then
  "$maker" --folder="$folder" --count="$count"
fi
images=$(list_jpegs "$folder" | wc -l)

scratch=$(mktemp -d /tmp/vc_modern_compare.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Three vipsthumbnail calls per batch of files, the batches spread over the cores.
run_vips() {
  local source=$1 out=$2
  rm -rf "$out"
  mkdir -p "$out"
  list_jpegs "$source" | xargs -d '\n' -P"$cores" -n 25 sh -c '
    out=$0
    vipsthumbnail --size="'"$cell_w"'x'"$cell_h"'>" -o "$out/%s-1x.jpg[Q=85,strip]" "$@" &&
    vipsthumbnail --size="'"$((cell_w * 2))"'x'"$((cell_h * 2))"'>" -o "$out/%s-2x.jpg[Q=85,strip]" "$@" &&
    vipsthumbnail --size="2048x2048>" -o "$out/%s-web.jpg[Q=85,strip]" "$@"' "$out"
}

measure() {  # label, command...
  local label=$1
  shift
  "$gnu_time" -f "$label: wall %e s, cpu %U+%S s, peak RSS %M KB" "$@" 2>&1 >/dev/null | tail -1
}

echo "images: $images in $folder; cores: $cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((run = 1; run <= runs; run++)); do
  measure "vellumcast modern run $run" "$bench" --folder="$folder" --cell="$cell"
  measure "vipsthumbnail     run $run" bash -c "$(declare -f list_jpegs run_vips); cores=$cores; run_vips '$folder' '$scratch/vips'"
done
measure "vellumcast modern reuse (unchanged files)" "$bench" --folder="$folder" --cell="$cell" --keep

if ((huge_mp > 0)); then
  huge="$scratch/huge"
  "$maker" --folder="$huge" --huge-mp="$huge_mp" >/dev/null
  measure "vellumcast modern, one ${huge_mp} MP image" "$bench" --folder="$huge" --cell="$cell"
  measure "vipsthumbnail,     one ${huge_mp} MP image" bash -c "$(declare -f list_jpegs run_vips); cores=$cores; run_vips '$huge' '$scratch/vips_huge'"
fi
