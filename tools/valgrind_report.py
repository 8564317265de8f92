#!/usr/bin/python3
'''Runs integration tests with the daemon under valgrind and sums up what
valgrind found in every daemon run.

Usage: valgrind_report.py [TEST ...]   (names as run.py takes them; none: the
whole suite)

A daemon that a test leaves running is ended with SIGTERM at teardown, not
killed, so that every run ends with valgrind's leak check.  Exits non-zero
when a test fails, or when any run has an error or a definite or indirect
leak.
'''

import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
TESTS = REPO / 'tests' / 'integration'

os.environ['PTZ_TEST_VALGRIND'] = '1'
sys.path.insert(0, str(TESTS))

import run  # noqa: E402  (the suite's runner, after its path is set)
import testbed  # noqa: E402

ERRORS = re.compile(r'ERROR SUMMARY: (\d+) errors')
LOST = re.compile(r'(definitely|indirectly|possibly) lost: ([\d,]+) bytes')
SUPPRESSED = re.compile(r'ERROR SUMMARY: .*\(suppressed: (\d+) from')


class Run:
    def __init__(self, test, output):
        self.test = test
        self.output = output
        errors = ERRORS.findall(output)
        self.finished = bool(errors)
        self.errors = sum(int(n) for n in errors)
        self.lost = {kind: 0 for kind in ('definitely', 'indirectly',
                                          'possibly')}
        for kind, count in LOST.findall(output):
            self.lost[kind] += int(count.replace(',', ''))
        self.suppressed = sum(int(n) for n in SUPPRESSED.findall(output))

    @property
    def clean(self):
        return self.errors == 0 and self.lost['definitely'] == 0 \
            and self.lost['indirectly'] == 0


runs = []
current_test = ['']
_close = testbed.Testbed.close
_start_test = run.CountingResult.startTest


def start_test(result, test):
    current_test[0] = test.id()
    _start_test(result, test)


def close_after_sigterm(tb):
    '''Ends a daemon still running with SIGTERM, then closes as usual.'''
    if not tb.closed and tb.daemon is not None and tb.daemon.poll() is None:
        tb.daemon.send_signal(signal.SIGTERM)
        try:
            tb.daemon.wait(testbed.timeout(10))
        except subprocess.TimeoutExpired:
            pass  # close() kills it; the run then has no leak summary
    had_daemon = tb.daemon is not None and not tb.closed
    _close(tb)
    if had_daemon:
        runs.append(Run(current_test[0], tb.daemon_output()))


def main(names):
    testbed.Testbed.close = close_after_sigterm
    run.CountingResult.startTest = start_test
    started = time.monotonic()
    status = run.main(names)
    minutes = (time.monotonic() - started) / 60
    finished = [r for r in runs if r.finished]
    unclean = [r for r in finished if not r.clean]
    print(f'valgrind: {len(runs)} daemon runs in {minutes:.1f} min, '
          f'{len(finished)} with a leak check; '
          f'{sum(r.errors for r in finished)} errors, '
          f'{sum(r.lost["definitely"] for r in finished)} bytes definitely '
          f'and {sum(r.lost["indirectly"] for r in finished)} indirectly '
          f'lost, {sum(r.lost["possibly"] for r in finished)} possibly lost '
          f'(not counted), {sum(r.suppressed for r in finished)} suppressed')
    for r in unclean:
        print(f'--- {r.test}\n{r.output}')
    for r in runs:
        if 'Memcheck' not in r.output:
            print(f'valgrind: a run not under valgrind in {r.test}')
        elif not r.finished:
            print(f'valgrind: a run killed before its leak check in {r.test}')
    return 1 if status or unclean else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
