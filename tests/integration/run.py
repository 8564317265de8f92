#!/usr/bin/python3
'''Runs the integration tests; any failure, error or skipped test fails.

Usage: run.py [TEST ...]   (names as unittest takes them, e.g.
test_lifecycle.LifecycleTest); without names every test_*.py here runs.
PTZ_TEST_BUS=broker runs them on dbus-broker instead of dbus-daemon.
'''

import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.passed += 1


def main(names):
    sys.path.insert(0, str(HERE))
    from testbed import bus_kind
    print(f'private system bus: {bus_kind()}', flush=True)
    loader = unittest.TestLoader()
    if names:
        suite = loader.loadTestsFromNames(names)
    else:
        suite = loader.discover(str(HERE), pattern='test_*.py',
                                top_level_dir=str(HERE))
    runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2,
                                     resultclass=CountingResult)
    result = runner.run(suite)
    failed = (len(result.failures) + len(result.errors)
              + len(result.unexpectedSuccesses))
    skipped = len(result.skipped)
    summary = f'{result.passed} passed, {failed} failed'
    if skipped:
        summary += f', {skipped} skipped'
    print(summary, flush=True)
    return 0 if result.passed and not failed and not skipped else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
