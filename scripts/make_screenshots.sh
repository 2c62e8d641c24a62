#!/usr/bin/env bash
# Renders the documentation's pictures into docs/images/:
#   window-run.png, window-header-footer.png, window-publishing.png,
#   dialog-select-directory.png
#     the desktop window and the folder dialog, drawn offscreen after a run
#     over the sample tree;
#   catalog-page.png, catalog-folder.png
#     catalog pages of that run, as headless Chromium shows them;
#   modern-phone.png, modern-viewer-phone.png, modern-desktop.png
#     the modern style of the same tree on a 390 px phone and a desktop.
# Usage: scripts/make_screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
out="$root/docs/images"

[[ -f "$build/CMakeCache.txt" ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target vellumcast-screenshot make-sample-tree vellumcast-cli

# A fixed place, so that the pictures show the same starting path every time.
work="${TMPDIR:-/tmp}/vellumcast-screenshots"
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
sample="$work/Pictures"
"$build/tools/make-sample-tree" "$sample" >/dev/null

mkdir -p "$out"
# Offscreen, with a fixed locale and the settings kept inside $work.
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 \
  "$build/src/ui/vellumcast-screenshot" "$out" "$sample"

shoot() {  # shoot PAGE PNG WIDTH HEIGHT
  /usr/bin/chromium --headless --no-sandbox --disable-gpu --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --hide-scrollbars --user-data-dir="$work/chromium" \
    --window-size="$3,$4" --screenshot="$2" "file://$1" >/dev/null 2>&1
  [[ -s "$2" ]] || { echo "no screenshot of $1" >&2; exit 1; }
  echo "wrote $2"
}
shoot "$sample/vellumcast.html" "$out/catalog-page.png" 760 290
shoot "$sample/animals/vellumcast.html" "$out/catalog-folder.png" 760 310

modern="$work/Modern"
"$build/tools/make-sample-tree" "$modern" >/dev/null
"$build/src/vellumcast-cli" index --style=modern "$modern" >/dev/null
shoot "$modern/vellumcast.html" "$out/modern-phone.png" 390 844
# The viewer page of portrait.jpg (its name comes from the image name).
shoot "$modern/vellumcast-view-33201860f37c14c3.html" "$out/modern-viewer-phone.png" 390 844
shoot "$modern/animals/vellumcast.html" "$out/modern-desktop.png" 1280 640
