#!/usr/bin/env python3
"""mintbatch's progress line: shown on a terminal once a run has lasted about
a second, updated in place and erased at the end; never on a pipe unless
--progress asks for it; never with --no-progress. The input comes through a
FIFO fed in two halves with a pause between them, so the run lasts long
enough whatever the machine's speed.

usage: progress_pty.py MINTBATCH GENERATE_RECORDS
"""
import os
import pty
import subprocess
import sys
import tempfile
import threading
import time

mintbatch, generate = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
records = subprocess.run([generate, "20000", "3"], check=True, capture_output=True).stdout
half = records.index(b"\n", len(records) // 2) + 1


def run(options, terminal):
    """Runs mintbatch on a slowly fed FIFO; returns what reached standard
    error and the output file's content."""
    fifo = os.path.join(work, "in.fifo")
    output = os.path.join(work, "out.csv")
    if os.path.exists(fifo):
        os.unlink(fifo)
    os.mkfifo(fifo)
    if terminal:
        error_side, error_end = pty.openpty()
    else:
        error_side, error_end = os.pipe()
    process = subprocess.Popen([mintbatch, *options, fifo, output], stdout=subprocess.DEVNULL,
                               stderr=error_end, stdin=subprocess.DEVNULL)
    os.close(error_end)

    def feed():
        with open(fifo, "wb") as writer:
            writer.write(records[:half])
            writer.flush()
            time.sleep(1.6)
            writer.write(records[half:])

    feeder = threading.Thread(target=feed)
    feeder.start()
    seen = b""
    while True:
        try:
            chunk = os.read(error_side, 4096)
        except OSError:  # a terminal's reading side reports the end this way
            break
        if not chunk:
            break
        seen += chunk
    feeder.join()
    status = process.wait()
    os.close(error_side)
    with open(output, "rb") as written:
        return status, seen, written.read()


failures = 0


def check(name, condition, detail):
    global failures
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": " + repr(detail[-300:])))
    failures += 0 if condition else 1


status, seen, reference = run(["--no-progress"], terminal=True)
check("--no-progress on a terminal shows nothing", status == 0 and seen == b"", seen)

status, seen, output = run([], terminal=True)
erase = b"\r\x1b[K"
check("a terminal gets a progress line", status == 0 and b" records, " in seen and b" MB read" in seen
      and b"records/s" in seen, seen)
check("the line updates in place and is erased at the end", seen.endswith(erase) and b"\n" not in seen, seen)
check("progress changes no output byte", output == reference, len(output))

status, seen, _ = run([], terminal=False)
check("a pipe gets nothing by default", status == 0 and seen == b"", seen)

status, seen, _ = run(["--progress"], terminal=False)
check("--progress forces it onto a pipe", status == 0 and b" records, " in seen and seen.endswith(erase), seen)

sys.exit(1 if failures else 0)
