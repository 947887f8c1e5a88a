#!/usr/bin/env python3
"""Generates the benchmark database: about 1,000,000 rows in four tables,
100+ MB, with integers, reals, texts, blobs, NULLs and some rows that
overflow their page. Deterministic.

    bench/make_bench_db.py OUT.db
"""
import os
import random
import sqlite3
import sys

out = sys.argv[1] if len(sys.argv) > 1 else "build/bench/bench.db"
os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
if os.path.exists(out):
    os.remove(out)
rng = random.Random(1234567)
words = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel", "india",
         "juliett", "kilo", "lima", "mike", "november", "oscar", "papa", "quebec", "romeo"]

db = sqlite3.connect(out)
db.executescript("""
PRAGMA page_size = 4096;
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE events(id INTEGER PRIMARY KEY, ts REAL, kind TEXT, user_id INTEGER, amount REAL, note TEXT);
CREATE TABLE users(id INTEGER PRIMARY KEY, name TEXT, email TEXT, created REAL, score INTEGER, avatar BLOB);
CREATE TABLE documents(id INTEGER PRIMARY KEY, title TEXT, body TEXT, version INTEGER);
CREATE TABLE tags(event_id INTEGER, tag TEXT, weight REAL);
CREATE INDEX events_user ON events(user_id);
""")


def text(n):
    return " ".join(rng.choice(words) for _ in range(n))


db.executemany("INSERT INTO events VALUES(?,?,?,?,?,?)",
               ((i, 1.7e9 + i * 0.37, rng.choice(words), rng.randrange(1, 100000),
                 round(rng.uniform(-1000, 1000), 4), None if i % 7 == 0 else text(rng.randrange(3, 14)))
                for i in range(1, 700001)))
db.executemany("INSERT INTO users VALUES(?,?,?,?,?,?)",
               ((i, f"user {i}", f"user{i}@example.org", 1.6e9 + i, rng.randrange(-2**40, 2**40),
                 rng.randbytes(rng.randrange(8, 48))) for i in range(1, 100001)))
db.executemany("INSERT INTO documents VALUES(?,?,?,?)",
               ((i, text(6), text(rng.randrange(600, 2400)) if i % 10 == 0 else text(rng.randrange(20, 120)),
                 rng.randrange(1, 9)) for i in range(1, 20001)))
db.executemany("INSERT INTO tags VALUES(?,?,?)",
               ((rng.randrange(1, 700001), rng.choice(words), rng.random()) for _ in range(180000)))
db.commit()
db.execute("VACUUM")
db.close()
rows = 700000 + 100000 + 20000 + 180000
print(f"{out}: {os.path.getsize(out)} bytes, {rows} rows")
