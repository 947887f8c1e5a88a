#!/usr/bin/env bash
# Speed and memory of a scan, a preview of the largest table and a save of a
# ~1,000,000-row, 100+ MB database, side by side with two references on the
# same file: SQLite's own recovery (`sqlite3 FILE .recover | sqlite3 OUT`)
# and the physical limit for writing those rows (a plain copy of the intact
# tables through SQLite: ATTACH and INSERT INTO ... SELECT).
#   bench/run_bench.sh [RUNS]      (best of RUNS, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}

scripts/setup.sh time
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANE_BUILD_TESTS=OFF >/dev/null
ninja -C build/release veltrane-recover >/dev/null
ref=$(bench/setup_reference.sh build/reference | tail -1)
tool=build/release/bin/veltrane-recover
data=build/benchdata
mkdir -p "$data"
[ -f "$data/bench.db" ] || python3 bench/make_bench_db.py "$data/bench.db" >/dev/null

# best "seconds max-kilobytes" of $runs runs of a shell command
measure() {
  local best="" line
  for _ in $(seq "$runs"); do
    rm -f "$data"/out-*.db
    /usr/bin/time -o "$data/time.txt" -f "%e %M" bash -c "$1" >/dev/null 2>&1 || true
    line=$(tail -1 "$data/time.txt")
    if [ -z "$best" ] || awk -v a="${line% *}" -v b="${best% *}" 'BEGIN{exit !(a<b)}'; then best=$line; fi
  done
  echo "$best"
}

tables=$("$ref" "$data/bench.db" "SELECT name FROM sqlite_master WHERE type='table'")
copy_sql="ATTACH '$data/bench.db' AS src;"
while read -r t; do
  sql=$("$ref" "$data/bench.db" "SELECT sql FROM sqlite_master WHERE name='$t'")
  copy_sql+=" $sql; INSERT INTO main.$t SELECT * FROM src.$t;"
done <<< "$tables"
copy_sql="BEGIN; $copy_sql COMMIT;"

scan=$(measure "$tool scan -q $data/bench.db")
preview=$(measure "$tool show -q $data/bench.db events")
save=$(measure "$tool save -q $data/bench.db -o $data/out-tool.db --overwrite")
recover=$(measure "$ref $data/bench.db .recover | $ref $data/out-recover.db")
copy=$(measure "$ref $data/out-copy.db \"$copy_sql\"")

rows=$("$ref" "$data/bench.db" "SELECT (SELECT count(*) FROM events)+(SELECT count(*) FROM users)+(SELECT count(*) FROM documents)+(SELECT count(*) FROM tags)")
size=$(stat -c %s "$data/bench.db")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "-" }'; }
mb() { awk -v k="$1" 'BEGIN{printf "%.0f", k / 1024}'; }

echo "Benchmark database: $rows rows, $((size / 1000000)) MB; best of $runs runs"
echo
echo "| job | seconds | peak memory (MB) |"
echo "| --- | ---: | ---: |"
echo "| veltrane-recover scan | ${scan% *} | $(mb "${scan#* }") |"
echo "| veltrane-recover show events (700,000 rows, headless preview) | ${preview% *} | $(mb "${preview#* }") |"
echo "| veltrane-recover save | ${save% *} | $(mb "${save#* }") |"
echo "| sqlite3 .recover \\| sqlite3 | ${recover% *} | $(mb "${recover#* }") |"
echo "| plain copy (ATTACH, INSERT INTO ... SELECT) | ${copy% *} | $(mb "${copy#* }") |"
echo
echo "save is $(ratio "${recover% *}" "${save% *}") times faster than the .recover pipeline and takes $(ratio "${save% *}" "${copy% *}") times the plain copy."
