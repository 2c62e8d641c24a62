#!/usr/bin/env bash
# Builds the command line, makes the sample tree in build/sample and indexes it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build
rm -rf build/sample
build/tools/make-sample-tree build/sample
build/src/vellumcast-cli index --createthumbs=1 build/sample
echo "Top catalog page: $(pwd)/build/sample/vellumcast.html"
