#!/usr/bin/env bash
# Builds and runs every test. With --sanitize: the same suite under ASan + UBSan in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${1:-}" == --sanitize ]]; then
  scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELLUMCAST_SANITIZE=ON
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp"  # leaks inside system libraries
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)" -LE "browser|packaging"
else
  scripts/build.sh build
  ctest --test-dir build --output-on-failure -j"$(nproc)"
fi
