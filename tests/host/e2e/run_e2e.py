"""Runs end-to-end test modules with unittest, verbosely. Exits 77 when every test was
skipped (ctest then reports the run as skipped, with the reasons in its output)."""

import sys
import unittest

if __name__ == "__main__":
    suite = unittest.defaultTestLoader.loadTestsFromNames(sys.argv[1:])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun > 0 and len(result.skipped) == result.testsRun:
        for test, reason in result.skipped[:1]:
            print("SKIPPED: %s" % reason)
        sys.exit(77)
