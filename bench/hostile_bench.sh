#!/usr/bin/env bash
# Time and peak memory of a scan, a preview of every object (rows kept as the
# window keeps them) and a save, on hostile files of growing size: the time
# of each job should grow about as the file does.
#   bench/hostile_bench.sh [SIZE_MB...]        (default 1 4 16)
# HOSTILE_CASES="case ..." runs only those (bench/hostile_files.py --list).
# Each job runs in its own process under a 4 GB memory limit and 300 s.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 4 16)

scripts/setup.sh time
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANE_BUILD_TESTS=OFF -DVELTRANE_BUILD_GUI=OFF >/dev/null
ninja -C build/release hostile_bench >/dev/null
bench=build/release/bin/hostile_bench
data=build/hostile
mkdir -p "$data"

# "seconds peak-MB" of one job, or "limit" when it ran into a limit
measure() {
  local line
  /usr/bin/time -o "$data/time.txt" -f "%e %M %x" bash -c "ulimit -v 4000000; exec timeout 300 $*" >/dev/null 2>&1 || true
  line=$(tail -1 "$data/time.txt")
  set -- $line
  if [ "$3" != 0 ]; then echo "limit"; else awk -v s="$1" -v k="$2" 'BEGIN{printf "%.2f %.0f", s, k / 1024}'; fi
}

cases=${HOSTILE_CASES:-$(python3 bench/hostile_files.py --list | tr '\n' ' ')}
echo "| file | MB | scan s | scan MB | preview s | preview MB | save s | save MB |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
for c in $cases; do
  for mb in "${sizes[@]}"; do
    python3 bench/hostile_files.py "$data" $((mb * 1048576)) "$c" >/dev/null
    f=$data/$c.db
    real=$(awk -v b="$(stat -c %s "$f")" 'BEGIN{printf "%.1f", b / 1048576}')
    scan=$(measure "$bench" scan "$f")
    preview=$(measure "$bench" preview "$f")
    rm -f "$data/out.db"
    save=$(measure "$bench" save "$f" "$data/out.db")
    row="| $c | $real"
    for r in "$scan" "$preview" "$save"; do
      if [ "$r" = limit ]; then row+=" | limit | -"; else row+=" | ${r% *} | ${r#* }"; fi
    done
    echo "$row |"
    rm -f "$f" "$data/out.db"
  done
done
