#!/usr/bin/env python3
"""Reads back which job each printed page belongs to, from printer files:
the stream inspector checks each file and decodes its pages, and the marks
the load tests' documents carry on every page give the job's number and
the page's.

    page_marks.py PRNDECODE FILE...

Prints a line per file, tab-separated: the file, the inspector's verdict
(its last line, "check ok dialect=... pages=N" for a good stream; "empty"
for no bytes at all) and the pages in order, one word each: JOB.PAGE, or
"blank" for a page without marks (the blank back after an odd last page).
Files are read two or more at a time, one per processor.

The marks (scripts/app-lib.sh draws them) are one row of 16 black squares
across the foot of the page: a square at each end always, between them 9
bits of the job number and 5 bits of the page number, most significant
first.  The row is found wherever the page put it (a picture may be
scaled and moved, a back turned round): its end squares give the spacing
of the others.
"""
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

CELLS = 16
HEADER_FIELD = re.compile(rb"\s*(#[^\n]*\n\s*)*(\S+)")  # after white space and comments


def read_page(path):
    """A PBM or PGM page: width, height, its rows (PBM's as they are, packed
    eight pixels a byte with 1 for black; PGM's as a byte a pixel, 1 for
    black) and whether they are packed."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < (3 if data[:2] == b"P4" else 4):
        m = HEADER_FIELD.match(data, pos)
        fields.append(m.group(2))
        pos = m.end()
    pos += 1  # the one white-space byte before the samples
    width, height = int(fields[1]), int(fields[2])
    if fields[0] == b"P4":
        stride = (width + 7) // 8
        rows = [data[pos + y * stride:pos + (y + 1) * stride] for y in range(height)]
        return width, height, rows, True
    # Grey: black where a sample is under half the maximum.
    half = int(fields[3]) // 2
    table = bytes(1 if v < half else 0 for v in range(256))
    rows = [data[pos + y * width:pos + (y + 1) * width].translate(table) for y in range(height)]
    return width, height, rows, False


def black(rows, packed, x, y):
    row = rows[y]
    if packed:
        return (row[x // 8] >> (7 - x % 8)) & 1
    return row[x]


def long_runs(row, packed, min_run):
    """Centres (in pixels) of the black runs of at least min_run pixels."""
    if packed:
        pattern = re.compile(rb"\xff{%d,}" % max(1, min_run // 8))
        return [(m.start() + m.end()) * 4 for m in pattern.finditer(row)]
    pattern = re.compile(rb"\x01{%d,}" % min_run)
    return [(m.start() + m.end()) // 2 for m in pattern.finditer(row)]


def read_marks(path):
    width, height, rows, packed = read_page(path)
    # Squares are 20 pt on a 595 pt page; the text's strokes are far shorter.
    min_run = width * 10 // 595
    foot = range(height * 3 // 4, height)
    found = [y for y in foot if len(long_runs(rows[y], packed, min_run)) >= 2]
    # A back printed turned round (long-edge duplex) has them at its head.
    turned = not found
    if turned:
        found = [y for y in range(height // 4) if len(long_runs(rows[y], packed, min_run)) >= 2]
    if not found:
        return "blank"
    y = found[len(found) // 2]
    centres = long_runs(rows[y], packed, min_run)
    left, right = centres[0], centres[-1]
    pitch = (right - left) / (CELLS - 1)
    bits = []
    for k in range(CELLS):
        x = int(left + k * pitch)
        votes = sum(black(rows, packed, x + dx, y + dy) for dx in (-4, 0, 4) for dy in (-4, 0, 4))
        bits.append(1 if votes >= 5 else 0)
    if turned:
        bits.reverse()
    if bits[0] != 1 or bits[-1] != 1:
        return "unreadable"
    job = int("".join(map(str, bits[1:10])), 2)
    page = int("".join(map(str, bits[10:15])), 2)
    return "%d.%d" % (job, page)


def read_file(prndecode, path):
    if os.path.getsize(path) == 0:
        return "%s\tempty\t" % path
    pages = tempfile.mkdtemp()
    try:
        run = subprocess.run([prndecode, "--check", "--no-png", "-o", pages, path], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, errors="replace")
        verdict = (run.stdout.strip().splitlines() or ["no output"])[-1]
        names = sorted(f for f in os.listdir(pages) if re.match(r"page-\d+\.p[bg]m$", f))
        marks = " ".join(read_marks(os.path.join(pages, f)) for f in names)
    finally:
        shutil.rmtree(pages)
    return "%s\t%s\t%s" % (path, verdict, marks)


def main():
    with concurrent.futures.ThreadPoolExecutor(max(2, os.cpu_count() or 1)) as pool:
        for line in pool.map(lambda path: read_file(sys.argv[1], path), sys.argv[2:]):
            print(line, flush=True)


if __name__ == "__main__":
    main()
