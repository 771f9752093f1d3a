"""Runs one driver with this package importable, as its own unittest program:

    python3 tests/vxtest DRIVER [unittest arguments: -v, a class, Class.test_case, -k pattern]

DRIVER is a file path, absolute or relative to the current folder or to tests/. Settings come from
the environment only (see vxtest/settings.py). Exit code 0: every case passed; 1: a case failed;
77: none failed but some were skipped, each with its reason in the output.
"""
import os
import runpy
import sys

TESTS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def driver_path(name):
    for candidate in (name, os.path.join(TESTS_DIR, name)):
        if os.path.isfile(candidate):
            return os.path.abspath(candidate)
    sys.exit("vxtest: no driver %s (looked in the current folder and in %s)" % (name, TESTS_DIR))


if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] in ("-h", "--help"):
        sys.exit(__doc__)
    # The only place that touches the search path: Python put this package's own folder first.
    sys.path[0] = TESTS_DIR
    path = driver_path(sys.argv[1])
    sys.argv = [path] + sys.argv[2:]
    runpy.run_path(path, run_name="__main__")
