#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a given time.
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default 60 s, all four)
# The seed corpus is made from the fixtures; what a run finds stays in
# build/fuzz/corpus/TARGET, crashes in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(detect scan preview save)

scripts/setup.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_FUZZ=ON \
  -DVELTRANE_BUILD_GUI=OFF -DVELTRANE_BUILD_TESTS=OFF -DVELTRANE_BUILD_BENCH=OFF >/dev/null
ninja -C build/fuzz $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

seeds=build/fuzz/seeds
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds"
  python3 fuzz/make_seeds.py "$seeds"
fi
mkdir -p build/fuzz/artifacts build/fuzz/logs
status=0
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t
  log=build/fuzz/logs/$t.log
  mkdir -p "$corpus"
  echo "== fuzz_$t for ${seconds}s"
  rc=0
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/fuzz/bin/fuzz_$t "$corpus" "$seeds" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -max_len=420000 -artifact_prefix=build/fuzz/artifacts/$t- -print_final_stats=1 >"$log" 2>&1 || rc=$?
  grep -E '^(#[0-9]+ +DONE|stat::|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written|INFO: Seed)' "$log" || true
  if [ $rc -ne 0 ]; then
    echo "fuzz_$t failed with status $rc; the whole output is in $log"
    status=1
  fi
done
exit $status
