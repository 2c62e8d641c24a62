#!/usr/bin/env bash
# Builds the Debian package with CPack, installs it into this system with
# dpkg, runs the installed vellumcast-cli on a small tree and removes the
# package again. Needs root and dpkg; exit 77 (skipped) without them.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail

build=${1:?usage: package_test.sh BUILD_DIR}
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[[ $(id -u) == 0 ]] || skip "installing a package needs root"
command -v dpkg >/dev/null && command -v dpkg-deb >/dev/null || skip "dpkg is missing"
command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (package dpkg-dev) is missing"
command -v cpack >/dev/null || skip "cpack is missing"
[[ -f $build/CPackConfig.cmake ]] || fail "$build/CPackConfig.cmake missing: configure the build first"
# A vellumcast package this test did not install stays untouched.
if dpkg-query -W -f='${Status}' vellumcast 2>/dev/null | grep -q "install ok installed"; then
  skip "a vellumcast package is installed already"
fi

work=$(mktemp -d)
installed=0
cleanup() {
  if [[ $installed == 1 ]]; then dpkg -r vellumcast >/dev/null || echo "could not remove vellumcast" >&2; fi
  rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/vellumcast_*.deb)
[[ -f $deb ]] || fail "no .deb written"

info=$(dpkg-deb -I "$deb")
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q "libjpeg62-turbo" <<<"$depends" || fail "Depends lacks libjpeg62-turbo: $info"
grep -q "libc6" <<<"$depends" || fail "Depends lacks libc6"
contents=$(dpkg-deb -c "$deb")
grep -q " ./usr/bin/vellumcast-cli$" <<<"$contents" || fail "no /usr/bin/vellumcast-cli in the package"

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { installed=1; cat "$work/dpkg.log"; fail "dpkg -i"; }
installed=1

[[ $(/usr/bin/vellumcast-cli --version) == "vellumcast-cli "* ]] || fail "--version"
# A black 200x150 24-bit BMP in a tree of two folders.
mkdir -p "$work/tree/trip"
{
  printf '\x42\x4d\xc6\x5f\x01\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\xc8\x00\x00\x00\x96\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00\x90\x5f\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  head -c 90000 /dev/zero
} >"$work/tree/trip/a.bmp"
out=$(/usr/bin/vellumcast-cli index --createthumbs "$work/tree")
expected=$'Directories Processed: 1\nFiles Processed: 1\nIndices Created: 2'
[[ $out == "$expected" ]] || fail "index printed: $out"
[[ -f $work/tree/trip/vellumcast.html ]] && compgen -G "$work/tree/trip/quarto_tn/quarto_tn*.jpg" >/dev/null || fail "no catalog written"
if grep -q " ./usr/bin/vellumcast$" <<<"$contents"; then
  grep -q " ./usr/share/applications/vellumcast.desktop$" <<<"$contents" || fail "no desktop entry"
  QT_QPA_PLATFORM=offscreen ldd /usr/bin/vellumcast | grep -q "not found" && fail "vellumcast misses a library"
fi

dpkg -r vellumcast >/dev/null
installed=0
[[ ! -e /usr/bin/vellumcast-cli ]] || fail "dpkg -r left /usr/bin/vellumcast-cli"
echo "package installed, ran and removed: $(basename "$deb")"
