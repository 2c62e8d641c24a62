#!/usr/bin/env bash
# Remakes the generated seeds under fuzz/seeds/: make-fuzz-seeds writes the
# files only this program's writers make, cwebp and heif-enc turn its photo
# pictures into WebP, HEIC and AVIF seeds, and the small files of the format
# corpus (tests/corpus) join the thumbnail and dispatch targets. Hand-made
# seeds in the same folders stay. A thumbnail seed ends in its settings
# byte; a dispatch or sealed seed starts with its choice byte.
#
#   fuzz/make-seeds.sh [BUILD]     (BUILD holds tools/make-fuzz-seeds; default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tool=$build/tools/make-fuzz-seeds
if [[ ! -x "$tool" ]]; then
  echo "fuzz/make-seeds.sh: build $tool first (cmake --build $build --target make-fuzz-seeds)" >&2
  exit 2
fi
seeds=fuzz/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" "$work"
for target in "$work"/fuzz_*; do
  mkdir -p "$seeds/$(basename "$target")"
  cp "$target"/* "$seeds/$(basename "$target")/"
done

# Appends the settings byte $2 to a copy of $1 named $3.
with_settings() { { cat "$1"; printf "\\x$2"; } >"$3"; }

mkdir -p "$seeds/fuzz_thumb_webp" "$seeds/fuzz_thumb_heif" "$seeds/fuzz_webp_reader" "$seeds/fuzz_heif_reader"
cwebp -quiet -lossless "$work/sources/photo.png" -o "$work/photo_lossless.webp"
cwebp -quiet -q 85 "$work/sources/photo_alpha.png" -o "$work/photo_alpha.webp"
heif-enc -L "$work/sources/heif_source.png" -o "$work/photo.heic" >/dev/null
heif-enc -A -q 70 "$work/sources/photo_alpha.png" -o "$work/photo_alpha.avif" >/dev/null
with_settings "$work/photo_lossless.webp" 47 "$seeds/fuzz_thumb_webp/photo_lossless.webp"
with_settings "$work/photo_alpha.webp" a2 "$seeds/fuzz_thumb_webp/photo_alpha.webp"
with_settings "$work/photo.heic" 1c "$seeds/fuzz_thumb_heif/photo.heic"
with_settings "$work/photo_alpha.avif" e5 "$seeds/fuzz_thumb_heif/photo_alpha.avif"
cp "$work/photo_lossless.webp" "$seeds/fuzz_webp_reader/"
cp "$work/photo.heic" "$seeds/fuzz_heif_reader/"

# The format corpus's small files, each with a settings byte of its own.
n=0
for pair in png:png webp:webp heif:heif tiff:tiff; do
  folder=${pair%%:*} target=fuzz_thumb_${pair##*:}
  for f in tests/corpus/"$folder"/*; do
    n=$(((n * 37 + 11) % 256))
    with_settings "$f" "$(printf %02x $n)" "$seeds/$target/corpus_$(basename "$f")"
  done
done

# The dispatch target: its first byte picks the extension (an index into
# kExtensions in fuzz_load_dispatch.cpp) and the load flags, its second the
# key (0 none, 2 "key"); sealed files are sealed with "key".
mkdir -p "$seeds/fuzz_load_dispatch"
dispatch() { { printf "\\x$2\\x00"; cat "$1"; } >"$seeds/fuzz_load_dispatch/$3"; }
sealed() {
  "$tool" --seal key "$1" "$work/sealed"
  { printf "\\x$2\\x02"; cat "$work/sealed"; } >"$seeds/fuzz_load_dispatch/sealed_$3"
}
sealed tests/corpus/png/rgba16_interlaced.png 05 rgba16_interlaced.png
sealed tests/corpus/webp/lossless.webp 07 lossless.webp
sealed tests/corpus/heif/alpha.heic 08 alpha.heic
sealed tests/corpus/tiff/rgba8_tiles_deflate.tif 0b rgba8_tiles_deflate.tif
sealed fuzz/seeds/fuzz_exif_reader/jpeg_with_exif.jpg 00 exif.jpg
dispatch tests/corpus/png/rgba8.png 05 rgba8.png
dispatch tests/corpus/png/palette8_trns.png 1b palette8_trns.png
dispatch tests/corpus/webp/alpha_lossy.webp 07 alpha_lossy.webp
dispatch tests/corpus/heif/rgb.heic 08 rgb.heic
dispatch tests/corpus/heif/alpha.avif 0a alpha.avif
dispatch tests/corpus/tiff/rgb8_tiles_lzw.tif 0b rgb8_tiles_lzw.tif
dispatch tests/corpus/tiff/cmyk8_strips_lzw.tif 0c cmyk8_strips_lzw.tif
dispatch fuzz/seeds/fuzz_gif_reader/plain_89a.gif 0d plain_89a.gif
dispatch fuzz/seeds/fuzz_bmp_reader/w40_24bit.bmp 0f w40_24bit.bmp
dispatch fuzz/seeds/fuzz_targa_reader/"$(ls fuzz/seeds/fuzz_targa_reader | head -1)" 10 first.tga
dispatch fuzz/seeds/fuzz_fits_reader/bitpix8.fts 11 bitpix8.fts
dispatch fuzz/seeds/fuzz_exif_reader/jpeg_with_exif.jpg 00 exif.jpg
dispatch fuzz/seeds/fuzz_exif_reader/jpeg_with_exif.jpg 03 exif.jfif
dispatch fuzz/seeds/fuzz_exif_reader/jpeg_with_exif.jpg 94 exif_no_extension
echo "fuzz/make-seeds.sh: seeds written under $seeds" >&2
