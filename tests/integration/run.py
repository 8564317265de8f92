#!/usr/bin/python3
'''Runs the integration tests; any failure, error or skipped test fails.

Usage: run.py [TEST ...]   (names as unittest takes them, e.g.
test_lifecycle.LifecycleTest); without names every test_*.py here runs.
PTZ_TEST_BUS=broker runs them on dbus-broker instead of dbus-daemon.
PTZ_TEST_VALGRIND=1 runs every daemon under valgrind: a test fails on any
valgrind error or definite or indirect leak of its daemons, and the last
line sums up every daemon run.

Once the daemons of two tests have not answered the first thing they were
asked (testbed.NoFirstAnswer), the run stops: the daemon under test is not
in service, and every test left would only wait for it in turn.
'''

import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import testbed  # noqa: E402  (after its directory is on the path)

# Tests whose daemons did not answer before the run stops.
UNANSWERED_TESTS = 2


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0
        self.unanswered = []  # ids of tests whose daemon did not answer

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.passed += 1

    def addError(self, test, err):
        super().addError(test, err)
        self._note_unanswered(test, err)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._note_unanswered(test, err)

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._note_unanswered(test, err)

    def _note_unanswered(self, test, err):
        if not issubclass(err[0], testbed.NoFirstAnswer) \
                or test.id() in self.unanswered:
            return
        self.unanswered.append(test.id())
        if len(self.unanswered) >= UNANSWERED_TESTS:
            self.stream.writeln(
                f'\nthe daemons of {len(self.unanswered)} tests did not '
                'answer the first thing they were asked: stopping the run')
            self.stop()


def main(names):
    print(f'private system bus: {testbed.bus_kind()}', flush=True)
    started = time.monotonic()
    loader = unittest.TestLoader()
    if names:
        suite = loader.loadTestsFromNames(names)
    else:
        suite = loader.discover(str(HERE), pattern='test_*.py',
                                top_level_dir=str(HERE))
    total = suite.countTestCases()
    runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2,
                                     resultclass=CountingResult)
    result = runner.run(suite)
    failed = (len(result.failures) + len(result.errors)
              + len(result.unexpectedSuccesses))
    skipped = len(result.skipped)
    not_run = total - result.testsRun
    summary = f'{result.passed} passed, {failed} failed'
    if skipped:
        summary += f', {skipped} skipped'
    if not_run:
        summary += f', {not_run} not run'
    print(summary, flush=True)
    if testbed.under_valgrind():
        print(testbed.valgrind_summary(time.monotonic() - started),
              flush=True)
    return 0 if result.passed and not failed and not skipped \
        and not not_run else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
