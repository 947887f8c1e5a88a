#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the normal build, the same
# suite built with AddressSanitizer and UndefinedBehaviorSanitizer, and a
# short run of every fuzz target.
#   scripts/test.sh            all three (what CI runs)
#   scripts/test.sh --quick    the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc)

scripts/setup.sh clang libclang-rt-14-dev

echo "== build and test"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build/test
QT_QPA_PLATFORM=offscreen ctest --test-dir build/test --output-on-failure -j"$jobs"
[ $quick -eq 1 ] && exit 0

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DVELTRANE_SANITIZE=ON \
  -DVELTRANE_BUILD_BENCH=OFF >/dev/null
ninja -C build/asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  QT_QPA_PLATFORM=offscreen ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== fuzz every target for a minute"
fuzz/run.sh "${VELTRANE_FUZZ_SECONDS:-60}"
