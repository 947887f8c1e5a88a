#!/usr/bin/env bash
# Builds the reference sqlite3 shell used by the benchmarks and the evaluation:
# SQLite's own `.recover` needs the page virtual table, which Debian's sqlite3
# leaves out. The sources come from the npm package `sqlite3`, which ships the
# SQLite amalgamation with its shell; they are built into build/reference/ and
# never into the product.
#   bench/setup_reference.sh [OUT_DIR]   -> OUT_DIR/sqlite3-ref
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/reference}
mkdir -p "$out"
out=$(cd "$out" && pwd)
if [ -x "$out/sqlite3-ref" ]; then
  echo "$out/sqlite3-ref"
  exit 0
fi
command -v npm >/dev/null || { echo "npm is needed to fetch the SQLite sources" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack sqlite3 --silent >/dev/null && tar xzf sqlite3-*.tgz \
   && tar xzf package/deps/sqlite-autoconf-*.tar.gz)
src=$(echo "$work"/sqlite-autoconf-*)
gcc -O2 -DSQLITE_ENABLE_DBPAGE_VTAB -DSQLITE_THREADSAFE=0 -DSQLITE_OMIT_LOAD_EXTENSION \
    -I"$src" "$src/shell.c" "$src/sqlite3.c" -lm -o "$out/sqlite3-ref"
echo "$out/sqlite3-ref"
