#!/usr/bin/env bash
# Regenerates the format corpus in this folder: PNG and TIFF files written by
# libpng and libtiff (tools/make_format_corpus.cpp, with their exact reference
# pixels), WebP files made by cwebp/img2webp with references by dwebp, HEIC and
# AVIF files made by heif-enc with references by heif-convert, and damaged
# files cut or altered from those, which must be refused with the code given.
# MANIFEST.tsv lists them all: file, expect (decode | refuse | partial),
# reference PAM, result code, what the file exercises.
#
#   tests/corpus/make.sh [BUILD_DIR]     (needs webp, libheif-examples; builds make-format-corpus)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
cmake --build "$build" --target make-format-corpus >/dev/null
tool=$build/tools/make-format-corpus
cd "$here"
rm -rf png tiff webp heif damaged reference MANIFEST.tsv
mkdir -p png tiff webp heif damaged reference
"$tool" "$here"

rows=()
row() { rows+=("$1	$2	$3	$4	$5"); }

# WebP: lossy, lossless, alpha, animated (its first frame is source_rgb.png).
cwebp -quiet -q 80 source_rgb.png -o webp/lossy.webp
cwebp -quiet -lossless source_rgb.png -o webp/lossless.webp
cwebp -quiet -lossless -exact source_rgba.png -o webp/alpha_lossless.webp
cwebp -quiet -q 80 -alpha_q 100 source_rgba.png -o webp/alpha_lossy.webp
img2webp -loop 0 -lossless source_rgb.png -d 100 -lossy source_rgba.png -o webp/animated.webp >/dev/null 2>&1
for f in lossy lossless alpha_lossless alpha_lossy; do
  dwebp -quiet -pam webp/$f.webp -o reference/$f.webp.pam
done
"$tool" --png-to-pam source_rgb.png reference/animated.webp.pam
row webp/lossy.webp decode reference/lossy.webp.pam 0 "lossy VP8"
row webp/lossless.webp decode reference/lossless.webp.pam 0 "lossless VP8L"
row webp/alpha_lossless.webp decode reference/alpha_lossless.webp.pam 0 "lossless with alpha"
row webp/alpha_lossy.webp decode reference/alpha_lossy.webp.pam 0 "lossy with an ALPH chunk (VP8X)"
row webp/animated.webp decode reference/animated.webp.pam 0 "animation: the first frame"

# HEIC and AVIF, 8-bit, with and without alpha.
heif-enc -q 80 source_rgb.png -o heif/rgb.heic >/dev/null
heif-enc -q 80 source_rgba.png -o heif/alpha.heic >/dev/null
heif-enc -A -q 80 source_rgb.png -o heif/rgb.avif >/dev/null
heif-enc -A -q 80 source_rgba.png -o heif/alpha.avif >/dev/null
for f in rgb.heic alpha.heic rgb.avif alpha.avif; do
  heif-convert heif/$f reference/tmp.png >/dev/null
  "$tool" --png-to-pam reference/tmp.png reference/$f.pam
  rm -f reference/tmp.png reference/tmp-*.png
done
row heif/rgb.heic decode reference/rgb.heic.pam 0 "HEIC (HEVC) 8-bit"
row heif/alpha.heic decode reference/alpha.heic.pam 0 "HEIC with an alpha image"
row heif/rgb.avif decode reference/rgb.avif.pam 0 "AVIF (AV1) 8-bit"
row heif/alpha.avif decode reference/alpha.avif.pam 0 "AVIF with alpha"

# Damaged files.
size() { stat -c %s "$1"; }
head -c 20 png/rgb8.png > damaged/png_cut_in_ihdr.png
row damaged/png_cut_in_ihdr.png refuse "" 40 "PNG cut inside IHDR: premature end"
cp png/rgb8.png damaged/png_bad_ihdr_crc.png
printf '\x7f' | dd of=damaged/png_bad_ihdr_crc.png bs=1 seek=17 conv=notrunc status=none
row damaged/png_bad_ihdr_crc.png refuse "" 261 "PNG whose IHDR fails its CRC"
printf 'this is no image\n' > damaged/png_not_png.png
row damaged/png_not_png.png refuse "" 260 "text named .png"
head -c $(( $(size png/rgb8.png) - 40 )) png/rgb8.png > damaged/png_cut_in_idat.png
row damaged/png_cut_in_idat.png partial "" 0 "PNG cut in its image data: the rows before the cut"
: > damaged/empty.png
row damaged/empty.png refuse "" 40 "zero-byte PNG"
head -c 20 webp/lossy.webp > damaged/webp_cut_in_header.webp
row damaged/webp_cut_in_header.webp refuse "" 271 "WebP cut inside its header"
head -c $(( $(size webp/lossless.webp) / 2 )) webp/lossless.webp > damaged/webp_cut_in_data.webp
row damaged/webp_cut_in_data.webp refuse "" 273 "lossless WebP cut in half"
printf 'RIFF\x10\x00\x00\x00WAVEfmt ' > damaged/webp_not_webp.webp
row damaged/webp_not_webp.webp refuse "" 270 "a RIFF file that is no WebP"
: > damaged/empty.webp
row damaged/empty.webp refuse "" 40 "zero-byte WebP"
head -c 100 heif/rgb.heic > damaged/heic_cut_in_header.heic
row damaged/heic_cut_in_header.heic refuse "" 282 "HEIC cut inside its boxes"
head -c $(( $(size heif/rgb.avif) - 60 )) heif/rgb.avif > damaged/avif_cut_in_data.avif
row damaged/avif_cut_in_data.avif refuse "" 282 "AVIF whose image data is cut short"
printf 'GIF89a not a heif file at all' > damaged/heic_not_heif.heic
row damaged/heic_not_heif.heic refuse "" 280 "a GIF named .heic"
# Coded pictures of 8200 x 8200 (over the pixel cap) behind boxes that state
# 32 x 24: the decoders refuse them before their pixels are allocated.
"$tool" --flat-png 8200 8200 flat.png
heif-enc -q 10 -p preset=ultrafast flat.png -o damaged/heic_coded_over_cap.heic >/dev/null
heif-enc -A -q 10 -p speed=9 flat.png -o damaged/avif_coded_over_cap.avif >/dev/null
"$tool" --set-ispe damaged/heic_coded_over_cap.heic 32 24
"$tool" --set-ispe damaged/avif_coded_over_cap.avif 32 24
rm -f flat.png
row damaged/heic_coded_over_cap.heic refuse "" 250 "HEVC picture of 8200 x 8200 stated as 32 x 24"
row damaged/avif_coded_over_cap.avif refuse "" 250 "AV1 picture of 8200 x 8200 stated as 32 x 24"
# Found by fuzzing: libheif reads the grid's canvas past the end of its data.
cp ../../fuzz/regressions/fuzz_heif_reader/grid_canvas_read_past_idat.heic damaged/heic_grid_past_its_data.heic
row damaged/heic_grid_past_its_data.heic refuse "" 282 "a grid whose description runs past its data"
: > damaged/empty.avif
row damaged/empty.avif refuse "" 40 "zero-byte AVIF"
head -c 200 tiff/rgb8_strips_none.tif > damaged/tiff_cut.tif
row damaged/tiff_cut.tif refuse "" 290 "TIFF cut before its directory"
printf 'II\x2a\x00\xff\xff\xff\x7f' > damaged/tiff_bad_offset.tif
row damaged/tiff_bad_offset.tif refuse "" 290 "TIFF whose directory offset points past the end"
: > damaged/empty.tif
row damaged/empty.tif refuse "" 40 "zero-byte TIFF"

rm -f source_rgba.png source_rgb.png source_rgb16.png
{
  printf 'file\texpect\treference\tcode\texercises\n'
  cat MANIFEST.part
  printf '%s\n' "${rows[@]}"
} > MANIFEST.tsv
rm -f MANIFEST.part
echo "corpus: $(($(wc -l < MANIFEST.tsv) - 1)) files, $(du -sh . | cut -f1)"
