"""The Python drivers' shared helpers: settings from the environment, the collector as the real
peer, Windows programs under Wine, a virtual display, readers of what a crash leaves (minidump,
package, JPEG) and the list of test programs the build made.

Drivers are run through the package's entry, `python3 tests/vxtest DRIVER ...`, and end with
`vxtest.main()`.
"""
import sys
import unittest

# ctest's SKIP_RETURN_CODE for the drivers: a driver whose cases partly could not check says so
# instead of passing.
EXIT_SKIPPED = 77


def exit_code(result):
    if not result.wasSuccessful():
        return 1
    if result.skipped:
        return EXIT_SKIPPED
    return 0 if result.testsRun > 0 else 1


def main():
    """unittest.main for the driver run as __main__, with the exit codes of the entry."""
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    result = program.result
    for test, reason in result.skipped:
        print("SKIPPED %s: %s" % (test.id(), reason), file=sys.stderr)
    if result.testsRun == 0:
        print("no test ran", file=sys.stderr)
    sys.exit(exit_code(result))
