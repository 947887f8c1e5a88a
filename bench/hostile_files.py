#!/usr/bin/env python3
"""Hostile database files of a chosen size, built byte by byte: each is a
shape that makes a careless reader do work or take memory out of proportion
to the file (many tiny cells, cells inside cells, repeated cell pointers,
shared and looping overflow chains, deep and wide trees, very wide tables,
huge column lists, many tables over one tree), for SQLite 3 and SQLite 2.

    bench/hostile_files.py OUT_DIR SIZE_BYTES [CASE...]

writes OUT_DIR/CASE.db for every case (all when none is named) and prints
the case names. The files are only approximately SIZE_BYTES long.
"""
import os
import struct
import sys


# ---- SQLite 3 ----

def varint(v):
    """SQLite's variable-length integer (1..9 bytes)."""
    if v < 0:
        v &= (1 << 64) - 1
    if v > 0x00FFFFFFFFFFFFFF:
        out = [v & 0xFF]
        v >>= 8
        for _ in range(8):
            out.append((v & 0x7F) | 0x80)
            v >>= 7
        return bytes(reversed(out))
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append((v & 0x7F) | 0x80)
        v >>= 7
    return bytes(reversed(out))


def record(values):
    """A record of None, int, str (text) or bytes (blob) values."""
    types, body = [], b""
    for v in values:
        if v is None:
            types.append(0)
        elif isinstance(v, int):
            if v in (0, 1):
                types.append(8 + v)
            else:
                types.append(6)
                body += struct.pack(">q", v)
        elif isinstance(v, str):
            b = v.encode()
            types.append(13 + 2 * len(b))
            body += b
        else:
            types.append(12 + 2 * len(v))
            body += v
    head = b"".join(varint(t) for t in types)
    size = len(head) + 1
    if len(varint(size)) > 1:
        size = len(head) + len(varint(len(head) + 2))
    return varint(size) + head + body


class Db3:
    """A SQLite 3 file of whole pages; page 1 carries the database header."""

    def __init__(self, page_size=4096):
        self.ps = page_size
        self.usable = page_size
        self.pages = [bytearray(page_size)]

    def alloc(self):
        self.pages.append(bytearray(self.ps))
        return len(self.pages)

    def page(self, n):
        return self.pages[n - 1]

    def local_size(self, p):
        u = self.usable
        x = u - 35
        if p <= x:
            return p
        m = ((u - 12) * 32 // 255) - 23
        k = m + (p - m) % (u - 4)
        return k if k <= x else m

    def leaf_cell(self, rowid, payload, overflow=None):
        """A table-leaf cell; the part that does not fit goes to new overflow
        pages (or to the page numbers given, whose contents are not written)."""
        local = self.local_size(len(payload))
        cell = varint(len(payload)) + varint(rowid) + payload[:local]
        if local == len(payload):
            return cell
        if overflow is not None:
            return cell + struct.pack(">I", overflow)
        rest = payload[local:]
        first = None
        prev = None
        while rest:
            n = self.alloc()
            chunk, rest = rest[:self.usable - 4], rest[self.usable - 4:]
            self.page(n)[4:4 + len(chunk)] = chunk
            if prev is None:
                first = n
            else:
                struct.pack_into(">I", self.page(prev), 0, n)
            prev = n
        return cell + struct.pack(">I", first)

    def write_leaf(self, n, cells, pointers=None):
        """A table leaf holding cells packed from the page end; pointers
        (indexes into cells, repeats allowed) default to every cell once."""
        p = self.page(n)
        hdr = 100 if n == 1 else 0
        end = self.ps
        offsets = []
        for c in cells:
            end -= len(c)
            p[end:end + len(c)] = c
            offsets.append(end)
        ptrs = [offsets[i] for i in (pointers if pointers is not None else range(len(cells)))]
        assert hdr + 8 + 2 * len(ptrs) <= end, "cells do not fit"
        p[hdr] = 13
        struct.pack_into(">HHHB", p, hdr + 1, 0, len(ptrs), end if end < 65536 else 0, 0)
        for i, o in enumerate(ptrs):
            struct.pack_into(">H", p, hdr + 8 + 2 * i, o)

    def write_raw_leaf(self, n, pointers, content_start):
        """A table leaf whose cell pointers are given as offsets."""
        p = self.page(n)
        hdr = 100 if n == 1 else 0
        p[hdr] = 13
        struct.pack_into(">HHHB", p, hdr + 1, 0, len(pointers), content_start % 65536, 0)
        for i, o in enumerate(pointers):
            struct.pack_into(">H", p, hdr + 8 + 2 * i, o)

    def write_interior(self, n, children, pointers=None):
        p = self.page(n)
        hdr = 100 if n == 1 else 0
        cells = [struct.pack(">I", c) + varint(i + 1) for i, c in enumerate(children[:-1])]
        end = self.ps
        offsets = []
        for c in cells:
            end -= len(c)
            p[end:end + len(c)] = c
            offsets.append(end)
        ptrs = [offsets[i] for i in (pointers if pointers is not None else range(len(cells)))]
        assert hdr + 12 + 2 * len(ptrs) <= end, "children do not fit"
        p[hdr] = 5
        struct.pack_into(">HHHBI", p, hdr + 1, 0, len(ptrs), end % 65536, 0, children[-1])
        for i, o in enumerate(ptrs):
            struct.pack_into(">H", p, hdr + 12 + 2 * i, o)

    def tree_over(self, leaves):
        """Interior pages over the leaves; returns the root."""
        fan = (self.ps - 12) // 10
        level = leaves
        while len(level) > 1:
            up = []
            for i in range(0, len(level), fan):
                group = level[i:i + fan]
                if len(group) == 1:
                    up.append(group[0])
                    continue
                n = self.alloc()
                self.write_interior(n, group)
                up.append(n)
            level = up
        return level[0]

    def schema(self, entries, pointers=None):
        """Page 1 as the schema leaf: (type, name, root, sql) rows."""
        cells = [self.leaf_cell(i + 1, record([t, name, name, root, sql]))
                 for i, (t, name, root, sql) in enumerate(entries)]
        self.write_leaf(1, cells, pointers)

    def bytes(self):
        h = self.page(1)
        h[0:16] = b"SQLite format 3\0"
        struct.pack_into(">H", h, 16, self.ps if self.ps < 65536 else 1)
        h[18], h[19], h[20], h[21], h[22], h[23] = 1, 1, self.ps - self.usable, 64, 32, 32
        struct.pack_into(">IIIIIIIIIIII", h, 24, 1, len(self.pages), 0, 0, 1, 4, 0, 0, 1, 0, 0, 0)
        struct.pack_into(">II", h, 92, 1, 3046000)
        return b"".join(bytes(p) for p in self.pages)


def pages_for(size, ps):
    return max(4, size // ps)


def s3_tiny_cells(size):
    """Leaves full of the smallest cells a row can have (2-byte records)."""
    db = Db3(4096)
    db.alloc()  # page 2: the table's root, written last
    leaves, rowid = [], 1
    per_leaf = (4096 - 8) // 8
    while len(db.pages) < pages_for(size, 4096) - 1:
        n = db.alloc()
        cells = []
        for _ in range(per_leaf):
            cells.append(db.leaf_cell(rowid, b"\x02\x08"))
            rowid += 1
        db.write_leaf(n, cells)
        leaves.append(n)
    root = db.tree_over(leaves)
    db.schema([("table", "t", 2, "CREATE TABLE t(a)")])
    db.page(2)[:] = db.page(root)
    return db.bytes()


def s3_repeated_pointers(size):
    """64 KB leaves whose every cell pointer names one cell with a 32 KB text."""
    db = Db3(65536)
    db.alloc()
    leaves = []
    text = "x" * (db.usable // 2 - 64)
    while len(db.pages) < pages_for(size, 65536) - 1:
        n = db.alloc()
        cell = db.leaf_cell(len(leaves) + 1, record([text]))
        count = (db.ps - 8 - len(cell)) // 2
        db.write_leaf(n, [cell], [0] * count)
        leaves.append(n)
    root = db.tree_over(leaves) if len(leaves) > 1 else leaves[0]
    db.schema([("table", "t", 2, "CREATE TABLE t(a)")])
    db.page(2)[:] = db.page(root)
    return db.bytes()


def s3_nested_cells(size):
    """64 KB leaves whose cells start every 5 bytes, each inside the one
    before it, each holding a text of up to 32 KB: cells inside cells."""
    db = Db3(65536)
    db.alloc()
    leaves = []
    length = 32000
    t = 13 + 2 * length
    group = varint(t)  # the payload length of a cell and the serial type of the one before
    assert len(group) == 3
    unit = group + b"\x01\x04"  # rowid 1, record header size 4
    count = (db.ps - 8) // 7
    start = db.ps - 5 * count
    while len(db.pages) < pages_for(size, 65536) - 1:
        n = db.alloc()
        p = db.page(n)
        for k in range(count):
            p[start + 5 * k:start + 5 * k + 5] = unit
        db.write_raw_leaf(n, [start + 5 * k for k in range(count)], start)
        leaves.append(n)
    root = db.tree_over(leaves) if len(leaves) > 1 else leaves[0]
    db.schema([("table", "t", 2, "CREATE TABLE t(a)")])
    db.page(2)[:] = db.page(root)
    return db.bytes()


def s3_shared_overflow(size):
    """512-byte pages: one long overflow chain, named by the cells of many
    leaves, each declaring a payload that fills the whole chain."""
    db = Db3(512)
    db.alloc()
    chain_pages = pages_for(size, 512) // 2
    first = len(db.pages) + 1
    for i in range(chain_pages):
        n = db.alloc()
        struct.pack_into(">I", db.page(n), 0, n + 1 if i + 1 < chain_pages else 0)
        db.page(n)[4:] = b"y" * (512 - 4)
    length = chain_pages * (512 - 4)
    payload_head = record(["y" * length])[:db.local_size(len(record(["y" * length])))]
    total = len(record(["y" * length]))
    leaves = []
    while len(db.pages) < pages_for(size, 512) - 1:
        n = db.alloc()
        cell = varint(total) + varint(len(leaves) + 1) + payload_head + struct.pack(">I", first)
        db.write_leaf(n, [cell] * ((512 - 8) // (len(cell) + 2)))
        leaves.append(n)
    root = db.tree_over(leaves) if len(leaves) > 1 else leaves[0]
    db.schema([("table", "t", 2, "CREATE TABLE t(a)")])
    db.page(2)[:] = db.page(root)
    return db.bytes()


def s3_overflow_loop(size):
    """Cells whose overflow chains loop back on themselves and declare the
    largest payload the file could hold."""
    db = Db3(512)
    db.alloc()
    a, b = db.alloc(), db.alloc()
    struct.pack_into(">I", db.page(a), 0, b)
    struct.pack_into(">I", db.page(b), 0, a)
    declared = pages_for(size, 512) * (512 - 4)
    head = record(["z" * declared])
    local = db.local_size(len(head))
    leaves = []
    while len(db.pages) < pages_for(size, 512) - 1:
        n = db.alloc()
        cell = varint(len(head)) + varint(len(leaves) + 1) + head[:local] + struct.pack(">I", a)
        db.write_leaf(n, [cell] * ((512 - 8) // (len(cell) + 2)))
        leaves.append(n)
    root = db.tree_over(leaves) if len(leaves) > 1 else leaves[0]
    db.schema([("table", "t", 2, "CREATE TABLE t(a)")])
    db.page(2)[:] = db.page(root)
    return db.bytes()


def s3_deep_tree(size):
    """Interior pages each naming the next as every child, down to one leaf,
    and every page named again from the last interior page."""
    db = Db3(512)
    total = pages_for(size, 512)
    for _ in range(total - 1):
        db.alloc()
    leaf = total
    db.write_leaf(leaf, [db.leaf_cell(1, record([1]))])
    for n in range(2, total):
        nxt = n + 1
        children = [nxt] * ((512 - 12) // 7)
        if n == total - 1:
            children = list(range(2, min(total, 2 + (512 - 12) // 7))) + [leaf]
        db.write_interior(n, children)
    db.schema([("table", "t", 2, "CREATE TABLE t(a)")])
    return db.bytes()


def s3_wide_table(size):
    """A table of 32,000 columns whose rows are the smallest records."""
    db = Db3(4096)
    db.alloc()
    columns = ", ".join(f"c{i}" for i in range(32000))
    leaves, rowid = [], 1
    per_leaf = (4096 - 8) // 8
    budget = pages_for(size, 4096) - 1
    sql = f"CREATE TABLE t({columns})"
    schema_pages = len(sql) // 4000 + 2
    while len(db.pages) + schema_pages < budget:
        n = db.alloc()
        cells = []
        for _ in range(per_leaf):
            cells.append(db.leaf_cell(rowid, b"\x02\x08"))
            rowid += 1
        db.write_leaf(n, cells)
        leaves.append(n)
    root = db.tree_over(leaves) if len(leaves) > 1 else leaves[0]
    db.schema([("table", "t", 2, sql)])
    db.page(2)[:] = db.page(root)
    return db.bytes()


def s3_long_index(size):
    """An index statement whose column list fills the file."""
    db = Db3(4096)
    n_cols = max(10, size // 2 - 100)
    sql = "CREATE INDEX i ON t(" + ",".join("a" for _ in range(n_cols // 2)) + ")"
    # Blanks at the end until the record's local part leaves room on page 1.
    while db.local_size(len(record(["index", "i", "i", 0, sql]))) > 3000:
        sql += " "
    db.alloc()
    db.write_leaf(2, [db.leaf_cell(1, record([1]))])
    db.schema([("table", "t", 2, "CREATE TABLE t(a)"), ("index", "i", 0, sql)])
    return db.bytes()


def s3_many_tables(size):
    """Thousands of schema rows, every table rooted at one large tree."""
    db = Db3(4096)
    db.alloc()
    leaves, rowid = [], 1
    per_leaf = (4096 - 8) // 8
    half = pages_for(size, 4096) // 2
    while len(db.pages) < half:
        n = db.alloc()
        cells = []
        for _ in range(per_leaf):
            cells.append(db.leaf_cell(rowid, b"\x02\x08"))
            rowid += 1
        db.write_leaf(n, cells)
        leaves.append(n)
    root = db.tree_over(leaves)
    db.page(2)[:] = db.page(root)
    # The schema: leaves of small rows, all naming root page 2, under page 1.
    schema_leaves, i = [], 0
    while len(db.pages) < 2 * half:
        n = db.alloc()
        cells, used = [], 8
        while True:
            c = db.leaf_cell(i + 1, record(["table", f"t{i}", f"t{i}", 2, f"CREATE TABLE t{i}(a)"]))
            if used + len(c) + 2 > 4096:
                break
            cells.append(c)
            used += len(c) + 2
            i += 1
        db.write_leaf(n, cells)
        schema_leaves.append(n)
    fan = (4096 - 112) // 10
    children = schema_leaves
    if len(children) > fan:
        chunk = -(-len(children) // fan)
        children = [db.tree_over(children[k:k + chunk]) for k in range(0, len(children), chunk)]
    if len(children) == 1:
        children = children * 2
    db.write_interior(1, children)
    return db.bytes()


def s3_repeated_schema(size):
    """Page 1 names one schema cell in every pointer; its statement's text
    runs over an overflow chain that fills the file."""
    db = Db3(4096)
    db.alloc()
    db.write_leaf(2, [db.leaf_cell(1, record([1]))])
    filler = "x" * max(1000, size - 8192)
    cell = db.leaf_cell(1, record(["table", "t", "t", 2, f"CREATE TABLE t(a /* {filler} */)"]))
    count = (4096 - 108 - len(cell)) // 2
    db.write_leaf(1, [cell], [0] * count)
    return db.bytes()


# ---- SQLite 2 ----

class Db2:
    """A SQLite 2.1 file of 1024-byte little-endian pages."""

    def __init__(self):
        p1 = bytearray(1024)
        magic = b"** This file contains an SQLite 2.1 database **"
        p1[:len(magic)] = magic
        struct.pack_into("<I", p1, 48, 0xdae37528)
        self.pages = [p1, bytearray(1024)]

    def alloc(self):
        self.pages.append(bytearray(1024))
        return len(self.pages)

    def page(self, n):
        return self.pages[n - 1]

    def write_cells(self, n, cells, right=0):
        """cells: (left child, rowid, data) packed in key order from offset 8;
        data beyond 232 bytes goes to new overflow pages."""
        p = self.page(n)
        at = 8
        first = at if cells else 0
        struct.pack_into("<IHH", p, 0, right, first, 0)
        for k, (left, rowid, data) in enumerate(cells):
            size = 16 + min(len(data), 232) + (4 if len(data) > 232 else 0)
            size = (size + 3) & ~3
            nxt = at + size if k + 1 < len(cells) else 0
            assert at + size <= 1024
            struct.pack_into("<IHHBBH", p, at, left, 4, nxt, 0, len(data) >> 16, len(data) & 0xFFFF)
            struct.pack_into(">I", p, at + 12, (rowid ^ 0x80000000) & 0xFFFFFFFF)
            p[at + 16:at + 16 + min(len(data), 232)] = data[:232]
            if len(data) > 232:
                rest = data[232:]
                prev = None
                while rest:
                    o = self.alloc()
                    chunk, rest = rest[:1020], rest[1020:]
                    self.page(o)[4:4 + len(chunk)] = chunk
                    if prev is None:
                        struct.pack_into("<I", p, at + 248, o)
                    else:
                        struct.pack_into("<I", self.page(prev), 0, o)
                    prev = o
            at = at + size
        return at

    def bytes(self):
        return b"".join(bytes(p) for p in self.pages)


def record2(fields):
    body = sum(len(f) + 1 for f in fields if f is not None)
    count = len(fields) + 1
    width = 1
    if count + body >= 256:
        width = 2
    if width == 2 and 2 * count + body >= 65536:
        width = 3
    out = bytearray()
    off = width * count

    def put(v):
        for b in range(width):
            out.append((v >> (8 * b)) & 0xFF)
    put(off)
    for f in fields:
        if f is not None:
            off += len(f) + 1
        put(off)
    for f in fields:
        if f is not None:
            out += f.encode() + b"\0"
    return bytes(out)


def s2_wide_table(size):
    """SQLite 2: a table of 20,000 columns whose rows are 2-byte records, on
    pages that each name the next as their right child."""
    db = Db2()
    columns = ", ".join(f"c{i}" for i in range(20000))
    root = db.alloc()
    db.write_cells(2, [(0, 1, record2(["table", "t", "t", str(root), f"create table t({columns})"]))])
    pages = max(4, size // 1024)
    n, rowid = root, 1
    while True:
        cells = [(0, rowid + k, b"\x01\x01") for k in range(50)]
        rowid += 50
        last = len(db.pages) >= pages
        db.write_cells(n, cells, right=0 if last else len(db.pages) + 1)
        if last:
            break
        n = db.alloc()
    return db.bytes()


def s2_chains(size):
    """SQLite 2: every cell's overflow chain is the same long one, and every
    page names the next as its right child."""
    db = Db2()
    root = db.alloc()
    db.write_cells(2, [(0, 1, record2(["table", "t", "t", str(root), "create table t(a)"]))])
    pages = max(8, size // 1024)
    first = len(db.pages) + 1
    chain = pages // 2
    for i in range(chain):
        o = db.alloc()
        struct.pack_into("<I", db.page(o), 0, o + 1 if i + 1 < chain else 0)
        db.page(o)[4:] = b"w" * 1020
    prev = root
    while len(db.pages) < pages:
        n = db.alloc()
        p = db.page(n)
        at = 8
        struct.pack_into("<IHH", p, 0, 0, 8, 0)
        k = 0
        while at + 256 <= 1024:
            nxt = at + 252 if at + 252 + 256 <= 1024 else 0
            struct.pack_into("<IHHBBH", p, at, 0, 4, nxt, 0, 0xFF, 0xFFFF)
            struct.pack_into(">I", p, at + 12, (k + 1) ^ 0x80000000)
            struct.pack_into("<I", p, at + 248, first)
            at += 252
            k += 1
        struct.pack_into("<I", db.page(prev), 0, n)
        prev = n
    return db.bytes()


CASES = {
    "s3_tiny_cells": s3_tiny_cells,
    "s3_repeated_pointers": s3_repeated_pointers,
    "s3_nested_cells": s3_nested_cells,
    "s3_shared_overflow": s3_shared_overflow,
    "s3_overflow_loop": s3_overflow_loop,
    "s3_deep_tree": s3_deep_tree,
    "s3_wide_table": s3_wide_table,
    "s3_long_index": s3_long_index,
    "s3_many_tables": s3_many_tables,
    "s3_repeated_schema": s3_repeated_schema,
    "s2_wide_table": s2_wide_table,
    "s2_chains": s2_chains,
}


def main():
    if sys.argv[1:] == ["--list"]:
        print("\n".join(CASES))
        return
    out, size = sys.argv[1], int(sys.argv[2])
    names = sys.argv[3:] or list(CASES)
    os.makedirs(out, exist_ok=True)
    for name in names:
        data = CASES[name](size)
        with open(os.path.join(out, name + ".db"), "wb") as f:
            f.write(data)
        print(name)


if __name__ == "__main__":
    main()
