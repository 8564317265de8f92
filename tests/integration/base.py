'''unittest base for tests that run the daemon against the simulated camera.'''

import contextlib
import subprocess
import sys
import unittest

from change_signals import CALL_WIRE
from testbed import (DAEMON_IDENT, LOG_DAEMON, LOG_ERR, LOG_WARNING,
                     START_FAILURE, NoFirstAnswer, Testbed, timeout)


SANITIZER_MARKERS = ('ERROR: AddressSanitizer', 'ERROR: LeakSanitizer',
                     'runtime error:')


class DaemonTestCase(unittest.TestCase):
    '''Each test, and each case of a table-driven test, gets its own bus,
    camera and daemon (self.tb); whatever it leaves running is stopped, and
    a failure prints what the daemon logged.  Once a case's daemon has not
    answered the first thing it was asked, the test ends there.'''

    # Whether a failure prints the bus's log too.
    DUMP_BUS_LOG = False

    # Where nothing can be observed (a daemon that never reaches the bus, a
    # subscription that must not come), this long without a change counts.
    QUIET_PERIOD = 0.3

    def setUp(self):
        self.tb = Testbed()
        self.camera = None
        self._dumped = False
        self._unanswered_case = None
        self.addCleanup(lambda: self.tb.close())

    @contextlib.contextmanager
    def case(self, label, make_testbed=Testbed, **params):
        '''A subtest on a fresh testbed, made by make_testbed.'''
        if self._unanswered_case is not None:
            raise NoFirstAnswer(f'case {label!r} and those after it not run: '
                                f'the daemon of case '
                                f'{self._unanswered_case!r} did not answer')
        with self.subTest(label, **params):
            self.tb.close()
            self.tb = make_testbed()
            self.camera = None
            try:
                yield
            except BaseException:
                if self.tb.no_answer is not None:
                    self._unanswered_case = label
                self._dump_daemon_log(label)
                raise
            finally:
                self.tb.close()

    def start(self, channels=2, extra_env=None):
        '''Bus, camera and a subscribed daemon; the journal starts empty.'''
        self.camera = self.tb.start(channels, extra_env)
        self.camera.clear_journal()
        return self.camera

    def run(self, result=None):
        result = result or self.defaultTestResult()
        problems = len(result.failures) + len(result.errors)
        super().run(result)
        if len(result.failures) + len(result.errors) > problems \
                and not self._dumped:
            self._dump_daemon_log()
        return result

    def _dump_daemon_log(self, label=''):
        self._dumped = True
        out = sys.stderr
        out.write(f'\n--- daemon log of {self.id()} {label} ---\n')
        for line in self.tb.log_lines():
            out.write(f'<{line.priority}> {line.message}\n')
        output = self.tb.daemon_output()
        if output:
            out.write('--- daemon stdout/stderr ---\n' + output)
        if self.DUMP_BUS_LOG:
            out.write('--- bus log ---\n' + self.tb.bus_log())
        out.write('--- end ---\n')

    def quiet_period(self):
        '''Waits for what cannot be observed; fails if the daemon exits.'''
        if self.tb.daemon.poll() is None:
            try:
                self.tb.daemon.wait(timeout(self.QUIET_PERIOD))
            except subprocess.TimeoutExpired:  # still running, as it should
                return
        self.fail(f'daemon exited with {self.tb.daemon.returncode}')

    # --- the camera ---

    def seed_spots(self, channels, numbers,
                   position=lambda number: (0.0, 0.0)):
        '''Presets "Spot N" of the numbers on each of channels, each at
        position(N).'''
        for channel in channels:
            for number in numbers:
                self.camera.seed_preset(channel, number, f'Spot {number}',
                                        *position(number))

    def channel_states(self):
        '''Per channel: (home, reported preset, {number: Preset}).'''
        return {n: (ch['home'], ch['reported'], ch['presets'])
                for n, ch in self.camera.state()['channels'].items()}

    def preset_names(self):
        '''Per channel: {number: name}.'''
        return {n: {number: preset.name for number, preset in presets.items()}
                for n, (_, _, presets) in self.channel_states().items()}

    def settled_journal(self, action):
        '''The calls that action leads to, once every echo is handled.'''
        self.camera.clear_journal()
        action()
        self.tb.settle()
        return self.journal()

    # --- assertions ---

    def journal(self):
        '''The calls since the journal was last cleared, as (path, member,
        args) tuples; each must have come with its method's interface and
        signature.'''
        entries = self.camera.journal()
        for e in entries:
            self.assertEqual((e.interface, e.signature),
                             CALL_WIRE.get(e.member), e)
        return [(e.path, e.member, e.args) for e in entries]

    def assertJournal(self, expected):
        '''The calls made, in order: a list of (path, member, args).'''
        self.assertEqual(self.journal(), list(expected))

    def assertLogMessages(self, expected):
        '''The daemon's messages so far, in order, probes left out.'''
        self.tb.sink.flush()
        self.assertEqual(self.tb.log_messages(), list(expected))

    def assertWarnings(self, expected):
        '''The messages are as expected, each a warning of the daemon.'''
        self.assertLogMessages(expected)
        for line in self.tb.log_lines():
            self.assertEqual((line.priority, line.ident, line.pid),
                             (LOG_DAEMON | LOG_WARNING, DAEMON_IDENT,
                              self.tb.daemon.pid), line.raw)

    def assertSanitizersQuiet(self):
        '''A sanitizer build of the daemon reported nothing.'''
        output = self.tb.daemon_output() or ''
        for marker in SANITIZER_MARKERS:
            self.assertNotIn(marker, output)

    def assertStartFailureOnly(self):
        '''The daemon exits 1 on SIGTERM, having logged the failed start
        alone, as an error.'''
        lines = self.stop(1)
        self.assertEqual(
            [(line.priority, line.ident, line.pid, line.message)
             for line in lines],
            [(LOG_DAEMON | LOG_ERR, DAEMON_IDENT, self.tb.daemon.pid,
              START_FAILURE)])

    def stop(self, expected_status=0):
        '''SIGTERM; asserts the exit status and returns the log lines.'''
        status, lines = self.tb.stop_daemon()
        self.assertSanitizersQuiet()
        self.assertEqual(status, expected_status,
                         f'exit status {status}; log: '
                         f'{[line.message for line in lines]}')
        return lines
