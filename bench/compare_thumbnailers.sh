#!/usr/bin/env bash
# Thumbnail runs side by side: vellumcast-cli index --createthumbs=1 (fast and
# --straightforward=1), vipsthumbnail, ImageMagick's and GraphicsMagick's
# mogrify -thumbnail, and the entropy-decoding floor (bench/entropy_floor), on
# the same JPEG files, interleaved, several runs each. Prints a table of
# medians (wall and CPU time, images per second, peak resident memory) and
# the ratios that matter, then the peak memory of one very large JPEG.
#
#   bench/compare_thumbnailers.sh [--build=DIR] [--folder=DIR] [--count=200]
#       [--runs=3] [--cell=120x80] [--huge-mp=100] [--progressive-percent=0]
#       [--formats-mp=0]
#
# --folder: a folder of .jpg files (searched below, thumbnail folders left
#   out); made with bench/make_photo_corpus when it holds no corpus.txt and
#   no .jpg files. Default /tmp/vellumcast_compare (200 photos of 2-12 MP).
# --huge-mp=0 leaves out the large-image memory measurement.
# --formats-mp=N (with vips) adds one file per folder made from an N-megapixel
#   photo: a PNG of N MP, a WebP of N/2 MP and an uncompressed TIFF of N MP,
#   each thumbnailed by index --formats=all --createthumbs=1 and by
#   vipsthumbnail, runs times: median CPU time and peak resident memory.
# Needs: the Release build of vellumcast-cli, entropy_floor and
# make_photo_corpus (see bench/README.md), GNU time, and for the other
# thumbnailers Debian's libvips-tools, imagemagick and graphicsmagick
# (VELLUMCAST_BENCH_DEPS=1 scripts/install-deps.sh); a missing one is left out.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-release"
folder=/tmp/vellumcast_compare
count=200
runs=3
cell=120x80
huge_mp=100
progressive=0
formats_mp=0
for arg in "$@"; do
  case "$arg" in
    --build=*) build=${arg#*=} ;;
    --folder=*) folder=${arg#*=} ;;
    --count=*) count=${arg#*=} ;;
    --runs=*) runs=${arg#*=} ;;
    --cell=*) cell=${arg#*=} ;;
    --huge-mp=*) huge_mp=${arg#*=} ;;
    --progressive-percent=*) progressive=${arg#*=} ;;
    --formats-mp=*) formats_mp=${arg#*=} ;;
    *) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
# The runs change folder: a relative build folder must not depend on it.
build=$(cd "$build" 2>/dev/null && pwd) || { echo "no build folder: $build" >&2; exit 2; }
cell_w=${cell%x*}
cell_h=${cell#*x}

cli="$build/src/vellumcast-cli"
floor="$build/bench/entropy_floor"
maker="$build/bench/make_photo_corpus"
for tool in "$cli" "$floor" "$maker"; do
  if [[ ! -x "$tool" ]]; then
    echo "missing $tool; build it first:" >&2
    echo "  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLUMCAST_BUILD_UI=OFF" >&2
    echo "  cmake --build build-release --target vellumcast-cli entropy_floor make_photo_corpus" >&2
    exit 1
  fi
done
gnu_time=/usr/bin/time
[[ -x $gnu_time ]] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }
cores=$(nproc)

list_jpegs() { find "$1" -name quarto_tn -prune -o -type f -iname '*.jpg' -print | LC_ALL=C sort; }

mkdir -p "$folder"
if [[ ! -f "$folder/corpus.txt" && -z $(list_jpegs "$folder" | head -1) ]]; then
  "$maker" --folder="$folder" --count="$count" --progressive-percent="$progressive"
fi
mapfile -t files < <(list_jpegs "$folder")
images=${#files[@]}
((images > 0)) || { echo "no .jpg files in $folder" >&2; exit 1; }
bytes=$(du -cb "${files[@]}" | tail -1 | cut -f1)
# Megapixels from the corpus plan, when the corpus was made here.
megapixels="?"
if [[ -f "$folder/corpus.txt" ]]; then
  megapixels=$(awk 'NR > 1 && split($2, s, "x") == 2 { mp += s[1] * s[2] / 1e6 } END { printf "%.0f", mp }' "$folder/corpus.txt")
fi

scratch=$(mktemp -d /tmp/vellumcast_compare_out.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
results="$scratch/results.txt"
: > "$results"

have() { command -v "$1" > /dev/null 2>&1; }
tools=(fast straightforward floor discard)
have vipsthumbnail && tools+=(vips)
[[ -x /usr/bin/mogrify ]] && tools+=(imagemagick)
have gm && tools+=(graphicsmagick)

# One timed run of a tool; appends "tool wall user sys maxrss_kb" to the results.
run_tool() {
  local tool=$1 out="$scratch/out" timing="$scratch/time.txt"
  rm -rf "$out" && mkdir -p "$out"
  case "$tool" in
    fast)
      (cd "$folder" && $gnu_time -o "$timing" -f "%e %U %S %M" "$cli" index --createthumbs=1 \
        --cellwidth="$cell_w" --cellheight="$cell_h" "$folder" > /dev/null 2>&1) ;;
    straightforward)
      (cd "$folder" && $gnu_time -o "$timing" -f "%e %U %S %M" "$cli" index --createthumbs=1 \
        --straightforward=1 --cellwidth="$cell_w" --cellheight="$cell_h" "$folder" > /dev/null 2>&1) ;;
    floor)
      $gnu_time -o "$timing" -f "%e %U %S %M" "$floor" --quiet "${files[@]}" > /dev/null ;;
    discard)
      $gnu_time -o "$timing" -f "%e %U %S %M" "$floor" --quiet --discard "${files[@]}" > /dev/null ;;
    vips)
      $gnu_time -o "$timing" -f "%e %U %S %M" vipsthumbnail --size="$cell" -o "$out/%s.jpg[Q=90]" \
        "${files[@]}" > /dev/null 2>&1 ;;
    imagemagick)
      $gnu_time -o "$timing" -f "%e %U %S %M" /usr/bin/mogrify -path "$out" -thumbnail "$cell" \
        -quality 90 "${files[@]}" > /dev/null 2>&1 ;;
    graphicsmagick)
      $gnu_time -o "$timing" -f "%e %U %S %M" gm mogrify -output-directory "$out" -create-directories \
        -thumbnail "$cell" -quality 90 "${files[@]}" > /dev/null 2>&1 ;;
  esac
  echo "$tool $(cat "$timing" | tail -1)" >> "$results"
  # Outputs are removed untimed, so every run starts from the bare corpus.
  case "$tool" in
    fast | straightforward) "$cli" clean "$folder" > /dev/null 2>&1; rm -f "$folder/fn.log" ;;
  esac
  rm -rf "$out"
}

echo "corpus: $images JPEG files, $((bytes / 1048576)) MiB, $megapixels MP, in $folder"
echo "cell: $cell; cores: $cores; runs: $runs (interleaved: ${tools[*]})"
cat "${files[@]}" > /dev/null  # into the page cache before the first run
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((run = 1; run <= runs; run++)); do
  for tool in "${tools[@]}"; do
    run_tool "$tool"
  done
  echo "run $run/$runs done (load $(cut -d' ' -f1 /proc/loadavg))" >&2
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print 0; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_of() { awk -v t="$1" -v c="$2" '$1 == t { print $c }' "$results"; }
cpu_of() { awk -v t="$1" '$1 == t { print $3 + $4 }' "$results"; }
declare -A wall cpu rss
for tool in "${tools[@]}"; do
  wall[$tool]=$(column_of "$tool" 2 | median)
  cpu[$tool]=$(cpu_of "$tool" | median)
  rss[$tool]=$(column_of "$tool" 5 | median)
done

echo
printf "%-34s %9s %9s %9s %11s\n" "tool (median of $runs)" "wall s" "CPU s" "images/s" "peak RSS"
label() {
  case "$1" in
    fast) echo "vellumcast index (fast)" ;;
    straightforward) echo "vellumcast index --straightforward=1" ;;
    floor) echo "entropy decoding floor (1 thread)" ;;
    discard) echo "  the same, coefficients discarded" ;;
    vips) echo "vipsthumbnail" ;;
    imagemagick) echo "ImageMagick mogrify -thumbnail" ;;
    graphicsmagick) echo "GraphicsMagick mogrify -thumbnail" ;;
  esac
}
for tool in "${tools[@]}"; do
  printf "%-34s %9.2f %9.2f %9.1f %8.1f MiB\n" "$(label "$tool")" "${wall[$tool]}" "${cpu[$tool]}" \
    "$(awk -v n="$images" -v w="${wall[$tool]}" 'BEGIN { print (w > 0 ? n / w : 0) }')" \
    "$(awk -v k="${rss[$tool]}" 'BEGIN { print k / 1024 }')"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
echo
echo "ratios of medians (wall):"
floor_per_core=$(awk -v f="${wall[floor]}" -v c="$cores" 'BEGIN { print f / c }')
printf "  fast / (floor / %d cores)          %6s   (goal <= 1.3)\n" "$cores" "$(ratio "${wall[fast]}" "$floor_per_core")"
[[ -n ${wall[vips]:-} ]] && printf "  fast / vipsthumbnail               %6s   (goal <= 0.5)\n" "$(ratio "${wall[fast]}" "${wall[vips]}")"
[[ -n ${wall[imagemagick]:-} ]] && printf "  ImageMagick mogrify / fast         %6s   (goal >= 5)\n" "$(ratio "${wall[imagemagick]}" "${wall[fast]}")"
[[ -n ${wall[graphicsmagick]:-} ]] && printf "  GraphicsMagick mogrify / fast      %6s\n" "$(ratio "${wall[graphicsmagick]}" "${wall[fast]}")"
printf "  straightforward / fast             %6s\n" "$(ratio "${wall[straightforward]}" "${wall[fast]}")"
echo "ratios of medians (CPU time, steadier on a shared machine):"
printf "  fast / floor                       %6s\n" "$(ratio "${cpu[fast]}" "${cpu[floor]}")"
printf "  straightforward / fast             %6s\n" "$(ratio "${cpu[straightforward]}" "${cpu[fast]}")"
echo "load average before: $load_before; after: $load_after"

if [[ $huge_mp != 0 ]]; then
  huge="$folder.huge"
  "$maker" --folder="$huge" --huge-mp="$huge_mp" > /dev/null
  huge_file=$(list_jpegs "$huge" | head -1)
  dims=$(awk 'NR == 2 { print $2 }' "$huge/huge_corpus.txt")
  echo
  echo "one ${huge_mp}-megapixel JPEG ($dims, $(($(stat -c %s "$huge_file") / 1048576)) MiB), peak resident memory:"
  for mode in 0 1; do
    (cd "$huge" && $gnu_time -o "$scratch/time.txt" -f "%e %M" "$cli" index --createthumbs=1 \
      --straightforward=$mode "$huge" > /dev/null 2>&1)
    read -r seconds kb < "$scratch/time.txt"
    "$cli" clean "$huge" > /dev/null 2>&1; rm -f "$huge/fn.log"
    printf "  vellumcast index %-22s %8.1f MiB %7.2f s\n" \
      "$([[ $mode == 0 ]] && echo "(fast)" || echo "--straightforward=1")" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$seconds"
  done
  if have vipsthumbnail; then
    $gnu_time -o "$scratch/time.txt" -f "%e %M" vipsthumbnail --size="$cell" -o "$scratch/%s.jpg" "$huge_file" > /dev/null 2>&1
    read -r seconds kb < "$scratch/time.txt"
    printf "  %-39s %8.1f MiB %7.2f s\n" "vipsthumbnail" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$seconds"
  fi
fi

if [[ $formats_mp != 0 ]] && have vips && have vipsthumbnail; then
  formats="$folder.formats"
  if [[ ! -f "$formats/tiff/big.tif" ]]; then
    rm -rf "$formats" && mkdir -p "$formats/png" "$formats/webp" "$formats/tiff"
    "$maker" --folder="$formats/source" --huge-mp="$formats_mp" > /dev/null
    photo=$(list_jpegs "$formats/source" | head -1)
    vips copy "$photo" "$formats/png/big.png"
    vips resize "$photo" "$formats/webp/big.webp[Q=80]" 0.7071
    vips copy "$photo" "$formats/tiff/big.tif"
    rm -rf "$formats/source"
  fi
  echo
  echo "one file per folder, index --formats=all --createthumbs=1 against vipsthumbnail --size=$cell"
  echo "(median of $runs; CPU = user + system):"
  printf "  %-6s %-12s %9s %9s %11s %11s\n" "format" "size" "CPU s" "vips CPU" "peak RSS" "vips peak"
  for kind in png webp tiff; do
    file=$(find "$formats/$kind" -maxdepth 1 -type f -name 'big.*' | head -1)
    : > "$scratch/formats.txt"
    for ((run = 1; run <= runs; run++)); do
      "$cli" clean "$formats/$kind" > /dev/null 2>&1; rm -f "$formats/$kind/fn.log"
      (cd "$formats/$kind" && $gnu_time -o "$scratch/time.txt" -f "%U %S %M" "$cli" index --formats=all \
        --createthumbs=1 --cellwidth="$cell_w" --cellheight="$cell_h" "$formats/$kind" > /dev/null 2>&1)
      echo "ours $(tail -1 "$scratch/time.txt")" >> "$scratch/formats.txt"
      $gnu_time -o "$scratch/time.txt" -f "%U %S %M" vipsthumbnail --size="$cell" -o "$scratch/%s.jpg" "$file" \
        > /dev/null 2>&1
      echo "vips $(tail -1 "$scratch/time.txt")" >> "$scratch/formats.txt"
    done
    "$cli" clean "$formats/$kind" > /dev/null 2>&1; rm -f "$formats/$kind/fn.log"
    cpu_ours=$(awk '$1 == "ours" { print $2 + $3 }' "$scratch/formats.txt" | median)
    cpu_vips=$(awk '$1 == "vips" { print $2 + $3 }' "$scratch/formats.txt" | median)
    rss_ours=$(awk '$1 == "ours" { print $4 }' "$scratch/formats.txt" | median)
    rss_vips=$(awk '$1 == "vips" { print $4 }' "$scratch/formats.txt" | median)
    printf "  %-6s %-12s %9.2f %9.2f %7.1f MiB %7.1f MiB   CPU %sx, peak %sx\n" "$kind" \
      "$(vipsheader -f width "$file")x$(vipsheader -f height "$file")" "$cpu_ours" "$cpu_vips" \
      "$(awk -v k="$rss_ours" 'BEGIN { print k / 1024 }')" "$(awk -v k="$rss_vips" 'BEGIN { print k / 1024 }')" \
      "$(ratio "$cpu_ours" "$cpu_vips")" "$(ratio "$rss_ours" "$rss_vips")"
  done
fi
