#!/usr/bin/env python3
"""Seed corpus for the fuzz targets: every fixture of ../shared/fixtures up to
400 KB, each behind the three harness bytes (detected; forced SQLite 3 with its
page size and encoding; forced SQLite 2), plus a few small files made here.

    fuzz/make_seeds.py OUT_DIR
"""
import os
import sqlite3
import sys
import tempfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
here = os.path.dirname(os.path.abspath(__file__))
fixtures = os.path.normpath(os.path.join(here, "..", "..", "shared", "fixtures"))


def put(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def page_size_byte(size):
    return max(0, min(7, (size // 512).bit_length() - 1))


for folder in ("sqlite3", "sqlite2"):
    for f in sorted(os.listdir(os.path.join(fixtures, folder))):
        if not f.endswith(".db"):
            continue
        data = open(os.path.join(fixtures, folder, f), "rb").read()
        if len(data) > 400_000:
            continue
        put(f"{folder}_{f}_detected", bytes([0, 0, 0]) + data)
        if folder == "sqlite3":
            ps = int.from_bytes(data[16:18], "big") or 4096
            ps = 65536 if ps == 1 else ps
            put(f"{folder}_{f}_forced", bytes([1, page_size_byte(ps), 1 if data[59:60] == b"\x02" else 0]) + data)
        else:
            put(f"{folder}_{f}_forced", bytes([2, 1, 0]) + data)

# Small files that reach the corners quickly.
with tempfile.TemporaryDirectory() as tmp:
    for enc in ("UTF-8", "UTF-16le"):
        p = os.path.join(tmp, "small.db")
        db = sqlite3.connect(p)
        db.executescript(f"""PRAGMA page_size=512; PRAGMA encoding='{enc}';
            CREATE TABLE t(id INTEGER PRIMARY KEY, a TEXT, b BLOB, c REAL);
            CREATE INDEX ta ON t(a, c); CREATE VIEW v AS SELECT a FROM t;
            CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END;""")
        for i in range(40):
            db.execute("INSERT INTO t VALUES(?,?,?,?)", (i, "x" * (i * 13), bytes(range(i % 256)), i / 3))
        db.commit()
        db.close()
        data = open(p, "rb").read()
        put(f"small_{enc}_detected", bytes([0, 0, 0]) + data)
        put(f"small_{enc}_forced", bytes([1, 0, 1 if enc != "UTF-8" else 0]) + data)
        os.remove(p)
print(f"{len(os.listdir(out))} seeds in {out}")
