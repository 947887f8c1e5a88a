#!/usr/bin/env python3
"""Recovery evaluation: for every case of the SQLite 3 fixtures (and damaged
copies of the SQLite 2 fixtures) the share of true rows that come back
exactly, from `veltrane-recover save` and from SQLite's own
`sqlite3 FILE .recover | sqlite3 OUT`, side by side, with the totals.

A true row counts as recovered when a row of the same-named table, or of a
lost-and-found table (its bookkeeping columns dropped), equals it as a whole:
an integer equals a real of the same value, a text never equals a blob,
reals compare exactly. Each recovered row matches at most one true row. The
SQLite 2 cases compare every value as text (CAST AS TEXT), since SQLite 2
keeps every value as the text it was written as.

    bench/evaluate.py --tool build/release/bin/veltrane-recover --ref build/reference/sqlite3-ref
"""
import argparse
import collections
import json
import os
import random
import shutil
import sqlite3
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "fixtures"))


def norm(value):
    """A comparable form of a value: ('n',) null, ('num', x), ('t', s), ('b', bytes)."""
    if value is None:
        return ("n",)
    if isinstance(value, bool):
        return ("num", int(value))
    if isinstance(value, (int, float)):
        return ("num", value)
    if isinstance(value, str):
        return ("t", value)
    if isinstance(value, (bytes, bytearray, memoryview)):
        return ("b", bytes(value))
    if isinstance(value, dict) and "real" in value:
        return ("num", float(value["real"]))
    if isinstance(value, dict) and "blob" in value:
        return ("b", bytes.fromhex(value["blob"]))
    return ("?", repr(value))


def key(row):
    return tuple(norm(v) for v in row)


def quote(name):
    return '"' + name.replace('"', '""') + '"'


def read_tables(path, as_text=False):
    """{lower-case table name: (columns, rows)} of a database; {} when it cannot be read.
    as_text: every value as CAST(value AS TEXT), as the SQLite 2 library hands them out."""
    out = {}
    if not os.path.exists(path):
        return out
    try:
        db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
        db.text_factory = lambda b: b.decode("utf-8", "replace")
        names = [r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type='table'")]
        for name in names:
            try:
                cur = db.execute(f"SELECT * FROM {quote(name)}")
                cols = [d[0] for d in cur.description]
                if as_text:
                    cur.close()
                    texts = ", ".join(f"CAST({quote(c)} AS TEXT)" for c in cols)
                    cur = db.execute(f"SELECT {texts} FROM {quote(name)}")
                out[name.lower()] = (cols, cur.fetchall())
            except sqlite3.Error:
                pass
        db.close()
    except sqlite3.Error:
        pass
    return out


def score(truth_tables, recovered):
    """(rows recovered exactly, true rows) over all tables of a truth."""
    found = total = 0
    lost = []  # rows of lost-and-found tables: (values, rowid)
    for name, (cols, rows) in recovered.items():
        if name.startswith("lost_and_found"):
            lower = [c.lower() for c in cols]
            if "nfield" in lower:  # .recover's form: rootpgno, pgno, nfield, id, c0, c1, ...
                first = lower.index("nfield") + 2
                for r in rows:
                    lost.append((list(r[first:first + (r[lower.index("nfield")] or 0)]), r[lower.index("id")]))
            else:  # ours: page number and rowid first, then the values
                for r in rows:
                    lost.append((list(r[2:]), r[1]))
    for tname, t in truth_tables.items():
        cols = t["columns"]
        truth_rows = t["rows"]
        total += len(truth_rows)
        pool = collections.Counter()
        rec = recovered.get(tname.lower())
        if rec:
            rcols, rrows = rec
            index = {c.lower(): i for i, c in enumerate(rcols)}
            if all(c.lower() in index for c in cols):
                order = [index[c.lower()] for c in cols]
                for r in rrows:
                    pool[key([r[i] for i in order])] += 1
        ipk = t.get("ipk")
        for values, rowid in lost:
            if len(values) < len(cols):
                values = values + [None] * (len(cols) - len(values))
            if len(values) != len(cols):
                continue
            if ipk is not None and ipk >= 0 and values[ipk] is None:
                values = list(values)
                values[ipk] = rowid
            pool[key(values)] += 1
        for row in truth_rows:
            k = key(row)
            if pool[k] > 0:
                pool[k] -= 1
                found += 1
    return found, total


def sqlite2_ipk(sql, cols):
    """The INTEGER PRIMARY KEY column of a SQLite 2 table (stored as NULL, its value is the rowid), or None."""
    body = (sql or "")[(sql or "").find("(") + 1:]
    depth, part, parts = 0, "", []
    for ch in body:
        if ch == "(":
            depth += 1
        elif ch == ")":
            if depth == 0:
                break
            depth -= 1
        if ch == "," and depth == 0:
            parts.append(part)
            part = ""
        else:
            part += ch
    parts.append(part)
    for p in parts:
        words = p.upper().split()
        if len(words) >= 4 and words[1] == "INTEGER" and words[2:4] == ["PRIMARY", "KEY"]:
            name = p.split()[0].strip('"[]`')
            for i, c in enumerate(cols):
                if c.lower() == name.lower():
                    return i
    return None


def sqlite2_truth(path):
    j = json.load(open(path))
    sql = {m[1]: m[4] for m in j["sqlite_master"] if m[0] == "table"}
    tables = {}
    for name, rows in j["expected_rows"].items():
        cols = j["columns"][name]
        tables[name] = {"columns": cols, "rows": rows, "ipk": sqlite2_ipk(sql.get(name), cols)}
    return tables


def damaged_sqlite2(workdir):
    """Damaged copies of the SQLite 2 fixtures: (case, path, truth tables)."""
    rng = random.Random(4242)
    folder = os.path.join(FIXTURES, "sqlite2")
    cases = []
    for f in sorted(os.listdir(folder)):
        if not f.endswith(".db"):
            continue
        base = f[:-3]
        data = open(os.path.join(folder, f), "rb").read()
        truth = sqlite2_truth(os.path.join(folder, base + ".json"))
        pages = len(data) // 1024
        variants = {"intact": data}
        if pages > 3:
            variants["truncate"] = data[: (pages * 3 // 4) * 1024]
        garbage = bytearray(data)
        if pages > 2:
            victim = rng.randrange(3, pages + 1)
            garbage[(victim - 1) * 1024:victim * 1024] = bytes(rng.randrange(256) for _ in range(1024))
            variants["garbage_page"] = bytes(garbage)
        for kind, blob in variants.items():
            p = os.path.join(workdir, f"sqlite2_{base}__{kind}.db")
            open(p, "wb").write(blob)
            cases.append((f"sqlite2/{base}__{kind}", p, truth))
    return cases


def run_tool(tool, src, out):
    if os.path.exists(out):
        os.remove(out)
    subprocess.run([tool, "save", "-q", src, "-o", out, "--overwrite"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)


def run_recover(ref, src, out):
    if os.path.exists(out):
        os.remove(out)
    dump = subprocess.run([ref, src, ".recover"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=600)
    subprocess.run([ref, out], input=dump.stdout, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default="build/release/bin/veltrane-recover")
    ap.add_argument("--ref", default="build/reference/sqlite3-ref")
    ap.add_argument("--only", help="substring of the case names to run")
    ap.add_argument("--json", help="write the per-case figures to this file")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="veltrane-eval-")
    try:
        manifest = json.load(open(os.path.join(FIXTURES, "sqlite3", "manifest.json")))["cases"]
        cases = []
        for name, c in sorted(manifest.items()):
            truth = json.load(open(os.path.join(FIXTURES, "sqlite3", c["truth"])))["tables"]
            cases.append((f"sqlite3/{name}", os.path.join(FIXTURES, "sqlite3", c["db"]), truth))
        cases += damaged_sqlite2(work)
        if args.only:
            cases = [c for c in cases if args.only in c[0]]

        results = []
        for name, path, truth in cases:
            src = os.path.join(work, "src_" + os.path.basename(path))
            shutil.copyfile(path, src)  # both tools get a copy of their own
            out_tool = os.path.join(work, "tool.db")
            out_ref = os.path.join(work, "ref.db")
            run_tool(args.tool, src, out_tool)
            run_recover(args.ref, src, out_ref)
            # SQLite 2 keeps every value as text: the rows compare as texts.
            as_text = name.startswith("sqlite2/")
            t_found, total = score(truth, read_tables(out_tool, as_text))
            r_found, _ = score(truth, read_tables(out_ref, as_text))
            results.append({"case": name, "rows": total, "tool": t_found, "recover": r_found})
            print(f"{name:48s} {total:7d}  tool {t_found:7d}  .recover {r_found:7d}", file=sys.stderr)

        def pct(a, b):
            return f"{100.0 * a / b:.1f}%" if b else "-"

        print("| case | true rows | veltrane-recover | sqlite3 .recover |")
        print("| --- | ---: | ---: | ---: |")
        tt = tr = tn = 0
        for r in results:
            mark = "" if r["tool"] >= r["recover"] else " (below)"
            print(f"| {r['case']} | {r['rows']} | {pct(r['tool'], r['rows'])}{mark} | {pct(r['recover'], r['rows'])} |")
            tt += r["tool"]
            tr += r["recover"]
            tn += r["rows"]
        print(f"| **total** | {tn} | **{pct(tt, tn)}** | {pct(tr, tn)} |")
        if args.json:
            json.dump(results, open(args.json, "w"), indent=1)
        below = [r["case"] for r in results if r["tool"] < r["recover"]]
        if below:
            print(f"\nbelow .recover: {', '.join(below)}", file=sys.stderr)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
