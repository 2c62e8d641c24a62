#!/usr/bin/env bash
# Builds the command line, makes the sample tree and indexes it twice: the
# classic style in build/sample, the modern style in build/sample-modern.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build
rm -rf build/sample build/sample-modern
build/tools/make-sample-tree build/sample
build/tools/make-sample-tree build/sample-modern >/dev/null
build/src/vellumcast-cli index --createthumbs=1 build/sample
build/src/vellumcast-cli index --style=modern --firstpage=index.html build/sample-modern
echo "Top catalog page (classic): $(pwd)/build/sample/vellumcast.html"
echo "Top catalog page (modern):  $(pwd)/build/sample-modern/index.html"
