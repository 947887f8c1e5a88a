#!/usr/bin/env bash
# Builds the tool and recovers the bundled damaged sample database.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANE_BUILD_TESTS=OFF >/dev/null
ninja -C build/release veltrane-recover

work=build/sample
mkdir -p "$work"
cp samples/shop_damaged.db "$work/shop_damaged.db"
tool=build/release/bin/veltrane-recover

echo "== scan"
"$tool" scan "$work/shop_damaged.db"
echo "== save"
"$tool" save "$work/shop_damaged.db" --overwrite
echo
echo "Repaired database: $work/Repaired_shop_damaged.db"
