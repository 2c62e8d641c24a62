#!/usr/bin/env bash
# Installs what building, testing and benchmarking need, from Debian packages.
# Idempotent: quiet and quick when everything is present already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libjpeg62-turbo-dev libgtest-dev
  libexif-dev liblcms2-dev
  libkainjow-mustache-dev libcmark-dev
  libexiv2-dev nlohmann-json3-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  qt6-base-dev
  clang libclang-rt-14-dev llvm
  chromium nodejs npm
  xvfb xauth fonts-liberation
  libpng-dev libwebp-dev libheif-dev libaom-dev libde265-dev libtiff-dev
  webp libheif-examples libtiff-tools
  dpkg-dev file
)
if [[ "${VELLUMCAST_BENCH_DEPS:-0}" == 1 ]]; then
  packages+=(libvips-tools imagemagick graphicsmagick time)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    # node/npm may come from outside Debian on some machines; accept them when on PATH.
    if [[ "$p" == nodejs ]] && command -v node >/dev/null; then continue; fi
    if [[ "$p" == npm ]] && command -v npm >/dev/null; then continue; fi
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The browser tests drive Debian's chromium through playwright-core and check
# pages with axe-core and html-validate: install when any package is missing.
browser_packages_missing() {
  local name
  for name in $(node -e 'for (const n of Object.keys(require("./tests/browser/package.json").dependencies || {})) console.log(n)'); do
    [[ -d "tests/browser/node_modules/$name" ]] || return 0
  done
  return 1
}
if [[ -f tests/browser/package.json ]] && browser_packages_missing; then
  (cd tests/browser && npm ci --no-audit --no-fund --silent >/dev/null 2>&1 || npm install --no-audit --no-fund --silent >/dev/null)
fi
