'''The debug trace: one line per handled signal, at debug priority, only when
G_MESSAGES_DEBUG lets the service's log domain through.'''

import re
import unittest

from base import DaemonTestCase
from change_signals import (CHANGE_SIGNAL, FULL_BUFFER, REMOVED, UPDATED,
                            emit_change, succeed_without_effect)
from testbed import (CHANNEL_SERVICE, COORDINATOR, DAEMON_IDENT, LOG_DAEMON,
                     LOG_WARNING, PROBE_MESSAGE, channel_path,
                     coordinator_path)

LOG_DEBUG = 7
PROBE_TRACE = re.compile(r'speed 0 in space (\d+): unsupported space, '
                         r'speed 0 for every channel\Z')
# The walk's duration varies; everything else of a line is exact.
DURATION = re.compile(r' in \d+\.\d ms\Z')
MIRRORED_CALLS = re.compile(r': (?:not )?mirrored[^:]*, (\d+) calls? in T ms\Z')


def mirrored(subject, calls):
    return f'{subject}: mirrored, {calls} calls in T ms'


class TraceTest(DaemonTestCase):
    maxDiff = None

    def run_scenario(self, env):
        '''Every decision once, on 3 channels; returns the expected trace.'''
        camera = self.start(3, extra_env=env)
        trace = []

        # a creation by name owes one echo per other channel
        camera.user_create_by_name(1, 'Door')
        self.tb.settle()
        door = 'created preset 1 "Door" on channel'
        trace += [mirrored(f'{door} 1', 5),
                  f'{door} 2: echo of our own change, 1 more owed',
                  f'{door} 3: echo of our own change, 0 more owed']

        # an update under a name the source no longer shows is stale: only
        # its home is made, under the name shown
        emit_change(camera, 1, 1, 'Gate', UPDATED)
        emit_change(camera, 1, 1, 'Gate', UPDATED, home=True)
        self.tb.settle()
        gate = 'updated preset 1 "Gate"'
        trace += [f'{gate} on channel 1: not mirrored, stale, the source '
                  'shows another name, 1 call in T ms',
                  f'{gate} as home on channel 1: mirrored as "Door", '
                  '5 calls in T ms',
                  'updated preset 1 "Door" as home on channel 2: echo of our '
                  'own change, 1 more owed',
                  'updated preset 1 "Door" as home on channel 3: echo of our '
                  'own change, 0 more owed']

        def state(*args, signature='iii'):
            camera.emit_raw(coordinator_path(1), COORDINATOR,
                            'PtzPresetState', signature, list(args))
        camera.emit_raw(channel_path(2), CHANNEL_SERVICE, CHANGE_SIGNAL, 's',
                        ['x'])
        emit_change(camera, 2, 1, 'Door', 7)
        state(1, 1, 0)
        state('x', signature='s')
        state(1, 0, 1)
        camera.emit_raw(coordinator_path(1), COORDINATOR, 'PresetSpeed', 's',
                        ['x'])
        camera.announce_speed(1, 5)
        camera.announce_speed(1, 5, space=9)
        self.tb.settle()
        trace += ['change of type (s) on channel 2: ignored, wrong type',
                  'changed (kind 7) preset 1 "Door" on channel 2: '
                  'ignored, invalid',
                  'state 0 of preset 1 on channel 1: ignored, not a recall',
                  'preset state of type (s): ignored, wrong type',
                  'recall of preset 0 on channel 1: ignored, invalid',
                  'speed of type (s): wrong type, speed 0 for every channel',
                  'speed 5 in space 0: set for every channel',
                  PROBE_MESSAGE.format(9),
                  'speed 5 in space 9: unsupported space, '
                  'speed 0 for every channel']

        # the repeat waits behind the recall, the echoes behind its walk;
        # each channel sent there owes the record one
        with self.tb.daemon_paused():
            camera.user_recall(1, 1)
            state(1, 1, 1)
        self.tb.settle()
        trace += [mirrored('recall of preset 1 on channel 1', 4),
                  'recall of preset 1 on channel 1: repeat, dropped',
                  'recall of preset 1 on channel 2: echo of our own recall',
                  'recall of preset 1 on channel 3: echo of our own recall']

        # 32 removals whose echoes never come fill the buffer
        for channel in (2, 3):
            camera.serve_listing(channel, [f'presetposno{n}=P{n}'
                                           for n in range(1, 34)])
            succeed_without_effect(camera, channel, 'RemovePresetName')
        for n in range(1, 34):
            emit_change(camera, 1, n, f'P{n}', REMOVED)
        self.tb.settle()
        trace += [mirrored(f'removed preset {n} "P{n}" on channel 1', 4)
                  for n in range(1, 33)]
        trace += [FULL_BUFFER, 'removed preset 33 "P33" on channel 1: '
                  'dropped, full buffer emptied']
        return trace

    def messages(self, lines):
        '''(priority, text) of the lines, durations as T, without the
        harness's speed probes and their trace lines.'''
        kept = set(self.tb.log_messages())

        def ours(text):
            probe = PROBE_TRACE.match(text)
            return text in kept and not (
                probe and PROBE_MESSAGE.format(probe.group(1)) not in kept)
        return [(line.priority, DURATION.sub(' in T ms', line.message))
                for line in lines if ours(line.message)]

    def test_one_line_per_signal_only_when_the_domain_is_asked_for(self):
        rows = {
            'our domain': ({'G_MESSAGES_DEBUG': DAEMON_IDENT}, True),
            'all domains': ({'G_MESSAGES_DEBUG': 'all'}, True),
            'another domain': ({'G_MESSAGES_DEBUG': 'other-domain'}, False),
            'unset': ({}, False),
        }
        for label, (env, traced) in rows.items():
            with self.case(label):
                expected = self.run_scenario(env)
                lines = self.stop(0)
                for line in lines:
                    self.assertEqual((line.ident, line.pid),
                                     (DAEMON_IDENT, self.tb.daemon.pid))
                warnings = (FULL_BUFFER, PROBE_MESSAGE.format(9))
                wanted = [
                    (LOG_DAEMON | (LOG_WARNING if text in warnings
                                   else LOG_DEBUG), text)
                    for text in expected if traced or text in warnings]
                messages = self.messages(lines)
                if label == 'all domains':
                    # GLib's own debug lines come too
                    messages = [m for m in messages if m in wanted]
                self.assertEqual(messages, wanted)
                if traced:
                    # every call the service made is counted in one walk
                    counted = sum(int(match.group(1)) for _, text in messages
                                  if (match := MIRRORED_CALLS.search(text)))
                    self.assertEqual(counted, len(self.camera.journal()))


if __name__ == '__main__':
    unittest.main()
