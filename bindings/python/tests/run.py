#!/usr/bin/env python3
"""Runs one test module of this directory with unittest.

usage: run.py MODULE

Exit status 0 when its tests pass, 1 when one fails, and 77 (CTest's skip
status here) when every test was skipped, for example because pandas or dask
is not installed; the reasons are printed.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: run.py MODULE")
    suite = unittest.defaultTestLoader.loadTestsFromName(sys.argv[1])
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if not result.wasSuccessful():
        return 1
    # A module that skips itself in setUpModule counts one skip and no test run.
    if result.skipped and result.testsRun <= len(result.skipped):
        return 77
    return 0 if result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
