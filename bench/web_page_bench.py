#!/usr/bin/env python3
"""The browser page as a user meets it, beside the naive Python script on the
same file: generated records, converted in Debian's headless Chromium from
choosing the file to the finished download, and by bench/naive_mint.py, in
turn, several times. Prints each time and the medians, in records per second.

usage: web_page_bench.py --page=build/default/web/mint.html
         --generate=build/default/bench/generate_records [--records=1000000] [--runs=5]
         [--mintbatch=build/default/tools/batch/mintbatch]

The page's download is checked against mintbatch's output when --mintbatch
is given (outside the timing)."""
import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "web"))
from mint_page import Browser  # noqa: E402


def page_run(browser, page, input_path):
    """Seconds from choosing the file to the download on disk, and the download."""
    browser.open(page)
    start = time.monotonic()
    browser.choose_file(input_path)
    error = browser.run(seconds=1200)
    if error:
        raise RuntimeError(error)
    output = browser.download("download-output", seconds=600)
    seconds = time.monotonic() - start
    return seconds, output


def python_run(input_path, output_path):
    start = time.monotonic()
    subprocess.run(["/usr/bin/python3", str(HERE / "naive_mint.py"), str(input_path), str(output_path)], check=True)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--generate", required=True)
    parser.add_argument("--mintbatch")
    parser.add_argument("--records", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    scratch = pathlib.Path(tempfile.mkdtemp(prefix="mint-web-bench."))
    input_path = scratch / "records.csv"
    with open(input_path, "wb") as out:
        subprocess.run([args.generate, str(args.records)], stdout=out, check=True)
    print(f"{args.records:,} records, {input_path.stat().st_size / 1e6:.1f} MB; "
          f"{os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.1f} at the start")
    expected = None
    if args.mintbatch:
        reference = scratch / "mintbatch.csv"
        subprocess.run([args.mintbatch, str(input_path), str(reference)], check=True)
        expected = reference.read_bytes()

    downloads = scratch / "downloads"
    downloads.mkdir()
    browser = Browser(downloads)
    page_times, python_times = [], []
    try:
        for run in range(args.runs):
            seconds, output = page_run(browser, args.page, input_path)
            if expected is not None and output.read_bytes() != expected:
                raise RuntimeError("the page's download differs from mintbatch's output")
            output.unlink()
            page_times.append(seconds)
            python_times.append(python_run(input_path, scratch / "python.csv"))
            print(f"run {run + 1}: page {page_times[-1]:.2f} s, naive Python {python_times[-1]:.2f} s, "
                  f"load average {os.getloadavg()[0]:.1f}", flush=True)
    finally:
        browser.quit()
    page = statistics.median(page_times)
    python = statistics.median(python_times)
    print(f"page, from choosing the file to the download: median {page:.2f} s "
          f"({args.records / page:,.0f} records/s), range {min(page_times):.2f}-{max(page_times):.2f} s")
    print(f"naive Python script: median {python:.2f} s ({args.records / python:,.0f} records/s), "
          f"range {min(python_times):.2f}-{max(python_times):.2f} s")
    print(f"the page is {python / page:.1f} times as fast (medians)")


if __name__ == "__main__":
    main()
