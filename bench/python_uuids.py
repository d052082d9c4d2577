#!/usr/bin/env python3
"""mint.uuids on a DataFrame against a naive pure-Python derivation, on the
same generated records, side by side.

usage: /usr/bin/python3 bench/python_uuids.py [BUILD_DIR] [N]
  BUILD_DIR defaults to build/default, N to 1000000.

The naive way reads the file with the csv module and derives every
identifier with hashlib, record by record (tests/reference/mint_reference.py,
the project's independent Python derivation). mint reads the file with
pandas and derives the whole column with mint.uuids. Both must give the same
identifiers. Times are wall-clock; the naive one is taken once (it is long),
mint's as the best of three runs.
"""
import csv
import importlib.util
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_reference():
    found = importlib.util.spec_from_file_location(
        "mint_reference", os.path.join(ROOT, "tests", "reference", "mint_reference.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def naive_rows(path):
    with open(path, encoding="latin-1", newline="") as file:
        rows = list(csv.reader(file))
    return rows[1:]


def naive_identifiers(reference, rows):
    return [reference.identifier(row + [""] * (13 - len(row))) for row in rows]


def best_of(runs, function):
    best, result = None, None
    for _ in range(runs):
        start = time.perf_counter()
        result = function()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "default")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    sys.path.insert(0, os.path.join(build, "bindings", "python"))
    import mint
    import pandas

    reference = load_reference()
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "records.csv")
        with open(path, "wb") as out:
            subprocess.run([os.path.join(build, "bench", "generate_records"), str(count), "42"], stdout=out,
                           check=True)

        read_naive, rows = best_of(1, lambda: naive_rows(path))
        derive_naive, expected = best_of(1, lambda: naive_identifiers(reference, rows))
        read_pandas, frame = best_of(3, lambda: pandas.read_csv(path, **mint.CSV_OPTIONS))
        derive_mint, identifiers = best_of(3, lambda: mint.uuids(frame))

    if identifiers.tolist() != expected:
        sys.exit("mint.uuids and the naive derivation disagree")
    print(f"{count} generated records, the same identifiers both ways (mint {mint.__version__})")
    print(f"{'':32} {'read s':>8} {'derive s':>9} {'total s':>8} {'derived/s':>12}")
    for what, read, derive in (("naive: csv module + hashlib", read_naive, derive_naive),
                               ("mint: pandas.read_csv + uuids", read_pandas, derive_mint)):
        print(f"{what:32} {read:8.3f} {derive:9.3f} {read + derive:8.3f} {count / derive:12,.0f}")
    print(f"mint.uuids is {derive_naive / derive_mint:.0f}x faster than the naive derivation; "
          f"with reading, {(read_naive + derive_naive) / (read_pandas + derive_mint):.0f}x")


if __name__ == "__main__":
    main()
