#!/usr/bin/env python3
"""Builds samples/shop_damaged.db: a small shop database with one leaf page of
the orders table overwritten by random bytes, as a disk fault leaves it.

Deterministic: the same bytes every run. Run from the project folder.
"""
import os
import random
import sqlite3
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "shop_damaged.db")
rng = random.Random(20261211)

if os.path.exists(OUT):
    os.remove(OUT)
db = sqlite3.connect(OUT)
db.executescript("""
PRAGMA page_size = 4096;
CREATE TABLE customers(id INTEGER PRIMARY KEY, name TEXT NOT NULL, email TEXT, city TEXT);
CREATE TABLE products(sku TEXT PRIMARY KEY, title TEXT, price REAL, photo BLOB);
CREATE TABLE orders(id INTEGER PRIMARY KEY, customer_id INTEGER, sku TEXT, qty INTEGER, placed_at TEXT, note TEXT);
CREATE INDEX orders_customer ON orders(customer_id);
CREATE VIEW big_orders AS SELECT * FROM orders WHERE qty >= 10;
CREATE TRIGGER orders_qty AFTER INSERT ON orders WHEN new.qty < 0 BEGIN SELECT RAISE(ABORT, 'negative qty'); END;
""")
cities = ["Lisbon", "Oslo", "Kraków", "Tokyo", "Austin", "Nairobi"]
for i in range(1, 201):
    db.execute("INSERT INTO customers VALUES(?,?,?,?)",
               (i, f"Customer {i:03d}", None if i % 17 == 0 else f"c{i}@example.org", rng.choice(cities)))
for i in range(1, 41):
    photo = bytes(rng.randrange(256) for _ in range(rng.randrange(16, 64)))
    db.execute("INSERT INTO products VALUES(?,?,?,?)", (f"SKU-{i:04d}", f"Product {i}", round(rng.uniform(1, 500), 2), photo))
for i in range(1, 1501):
    note = "gift wrap, " * rng.randrange(0, 40) if i % 50 == 0 else None
    db.execute("INSERT INTO orders VALUES(?,?,?,?,?,?)",
               (i, rng.randrange(1, 201), f"SKU-{rng.randrange(1, 41):04d}", rng.randrange(1, 20),
                f"2026-{rng.randrange(1, 13):02d}-{rng.randrange(1, 29):02d}", note))
db.commit()
orders_root = db.execute("SELECT rootpage FROM sqlite_master WHERE name='orders'").fetchone()[0]
db.close()

data = bytearray(open(OUT, "rb").read())
page_size = 4096


def page(n):
    return data[(n - 1) * page_size:n * page_size]


# The leaves of orders, found from its interior root.
root = page(orders_root)
assert root[0] == 5, "orders should span more than one page"
cells = struct.unpack(">H", root[3:5])[0]
leaves = [struct.unpack(">I", root[struct.unpack(">H", root[12 + 2 * i:14 + 2 * i])[0]:][:4])[0] for i in range(cells)]
victim = leaves[len(leaves) // 2]
start = (victim - 1) * page_size
data[start:start + page_size] = bytes(rng.randrange(256) for _ in range(page_size))
open(OUT, "wb").write(data)
print(f"{OUT}: {len(data)} bytes, orders leaf page {victim} overwritten")
