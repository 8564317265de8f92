'''Changes that once went round the channels for ever, or lost a name: each
settles with exactly the calls it needs, no buffer reset and every channel
in step; and SIGTERM ends the service at once even while signals flood in.
'''

import signal
import subprocess
import time
import unittest

from base import DaemonTestCase
from change_signals import UPDATED, emit_change_with_flags
from testbed import sanitizer_build, timeout


def seeded(channels, presets):
    '''Presets {number: name} on each of channels, at the head's position.'''
    return [(channel, number, name) for channel in channels
            for number, name in presets.items()]


def walk_calls(channels, per_other_channel, first=1):
    '''Calls of one walk: `first` on the source, then some per other one.'''
    return first + (channels - 1) * per_other_channel


class SettlingTest(DaemonTestCase):

    def queued(self, action):
        '''The signals of action reach the daemon before it handles one.'''
        def run(camera):
            with self.tb.daemon_paused():
                action(camera)
        return run

    def in_step(self):
        '''Per channel: (home, {number: (name, pan, tilt)}).'''
        return {n: (home, {number: tuple(preset)
                           for number, preset in presets.items()})
                for n, (home, _, presets) in self.channel_states().items()}

    @staticmethod
    def at_rest(home, presets):
        '''(home, presets), a preset given by its name alone being at the
        head's first position.'''
        return home, {number: (p, 0.0, 0.0) if isinstance(p, str) else p
                      for number, p in presets.items()}

    def test_changes_settle_in_step_with_the_calls_they_need(self):
        def make_home(*numbers):
            return lambda camera: [camera.user_make_home(1, n)
                                   for n in numbers]

        def rename(*pairs):
            return lambda camera: [camera.user_rename(1, n, name)
                                   for n, name in pairs]

        def create(*names):
            return lambda camera: [camera.user_create_by_name(1, name)
                                   for name in names]

        def settled_then(*actions):
            '''Each action, queued when it is a list, settled before the
            next.'''
            def run(camera):
                for action in actions:
                    if isinstance(action, list):
                        with self.tb.daemon_paused():
                            for queued in action:
                                queued(camera)
                    else:
                        action(camera)
                    self.tb.settle()
            return run

        abc = {1: 'A', 2: 'B', 3: 'C'}
        everywhere = range(1, 41)
        # label, behaviour, channels, seeded presets, action, queued,
        # expected calls, expected (home, presets) per channel
        rows = [
            ('three presets made home, queued', 'default', 16,
             seeded(everywhere, abc), make_home(1, 2, 3), True,
             3 * walk_calls(16, 2), lambda n: (3, abc)),
            ('three presets made home', 'default', 16,
             seeded(everywhere, abc), make_home(1, 2, 3), False,
             3 * walk_calls(16, 2), lambda n: (3, abc)),
            # two by number and renamed, the third by name
            ('three creations, queued', 'default', 16, [],
             create('A', 'B', 'C'), True,
             2 * walk_calls(16, 3) + walk_calls(16, 2), lambda n: (0, abc)),
            ('three renames, queued', 'default', 16,
             seeded(everywhere, abc), rename((1, 'X'), (2, 'Y'), (3, 'Z')),
             True, 3 * walk_calls(16, 2),
             lambda n: (0, {1: 'X', 2: 'Y', 3: 'Z'})),
            # the first four are stale once channel 1 shows R5
            ('five quick renames', 'default', 9, seeded(everywhere, {5: 'D'}),
             rename(*[(5, f'R{k}') for k in range(1, 6)]), True,
             4 + walk_calls(9, 2), lambda n: (0, {5: 'R5'})),
            # the second is stale by the time it is handled: channel 1
            # shows A again, and the third, A, is mirrored
            ('renames A, B, A, queued', 'default', 4,
             seeded(everywhere, {5: 'D'}),
             rename((5, 'A'), (5, 'B'), (5, 'A')), True,
             walk_calls(4, 2) + 1 + walk_calls(4, 1), lambda n: (0, {5: 'A'})),
            ('one home update on 34 channels', 'default', 34,
             seeded(everywhere, {5: 'D'}), make_home(5), False,
             walk_calls(34, 2), lambda n: (5, {5: 'D'})),
            ('one creation on 40 channels', 'default', 40, [], create('D'),
             False, walk_calls(40, 2), lambda n: (0, {1: 'D'})),
            # channel 3 is given preset 5 by number: a save and a rename
            ('made home where channel 3 lacks it', 'default', 4,
             seeded((1, 2, 4), {5: 'Door'}), make_home(5), False,
             walk_calls(4, 2) + 1, lambda n: (5, {5: 'Door'})),
            ('made home twice where channel 3 holds another preset',
             'default', 4,
             seeded((1, 2, 4), {5: 'Door'}) + [(3, 1, 'Hall')],
             make_home(5, 5), True, walk_calls(4, 2) + 1 + walk_calls(4, 2),
             lambda n: (5, {1: 'Hall', 5: 'Door'} if n == 3
                        else {5: 'Door'})),
        ] + [
            (f'made home where channel 3 calls it Door ({behaviour})',
             behaviour, 4, seeded((1, 2, 4), {5: 'Gate'}) + [(3, 5, 'Door')],
             make_home(5), False, walk_calls(4, 2) + 1,
             lambda n: (5, {5: 'Gate'}))
            for behaviour in ('default', 'keeps-name')
        ] + [
            # a home walk's call that changed nothing, on a platform that
            # then signals nothing, must not take the user's own change
            # for its echo
            ('made home twice where nothing changes, then home on 2',
             'quiet-noop', 2, [],
             settled_then(lambda c: c.user_create_by_name(1, 'Hall 1'),
                          [lambda c: c.user_make_home(1, 1),
                           lambda c: c.user_make_home(1, 1),
                           lambda c: c.user_create_by_name(1, 'Dock 3', True)],
                          lambda c: c.user_make_home(2, 1)),
             False, 15, lambda n: (1, {1: 'Hall 1', 2: 'Dock 3'})),
            # a save again reported as a creation brings the other channels
            # in step
            ('saved again by number, reported as created', 'resave-as-created',
             3, [],
             settled_then(lambda c: c.user_create_by_name(3, 'Door 1'),
                          lambda c: c.user_create_by_number(2, 1)),
             False, 13, lambda n: (0, {1: 'Pos1'})),
            # saved again as home by number, preset 5 already bears its
            # default name there: no rename whose echo never comes waits to
            # take the user's own save of it
            ('made home as Pos5 where 2 calls it Door, then moved on 2',
             'quiet-noop', 2, [(1, 5, 'Pos5'), (2, 5, 'Door')],
             settled_then(lambda c: c.user_make_home(1, 5),
                          lambda c: c.user_move(20.0, 5.0),
                          lambda c: c.user_update_position(2, 5)),
             False, 7, lambda n: (5, {5: ('Pos5', 20.0, 5.0)})),
        ]
        for (label, behaviour, channels, presets, action, queued, calls,
             expected) in rows:
            with self.case(label):
                camera = self.start(channels)
                camera.set_behaviour(behaviour)
                for channel, number, name in presets:
                    if channel <= channels:
                        camera.seed_preset(channel, number, name)
                (self.queued(action) if queued else action)(camera)
                self.assertEqual(self.tb.settle_counting(2 * calls), calls)
                self.assertEqual(self.in_step(), {
                    n: self.at_rest(*expected(n))
                    for n in range(1, channels + 1)})
                self.assertLogMessages([])
                self.stop(0)

    def test_sigterm_ends_the_service_at_once_under_a_flood(self):
        camera = self.start(4)
        for channel in range(1, 5):
            camera.seed_preset(channel, 5, 'Door')
        connection = self.tb.connection()
        # home updates that each take a walk over the other channels: far
        # more than the service can handle before it is told to stop
        for _ in range(5000):
            emit_change_with_flags(connection, 1, 5, 'Door', UPDATED,
                                   [('SET_HOME', True)])
        connection.flush()
        self.tb.wait_for_call('SetPresetName')
        sent = time.monotonic()
        self.tb.daemon.send_signal(signal.SIGTERM)
        try:
            status = self.tb.daemon.wait(timeout(10))
        except subprocess.TimeoutExpired:
            self.fail('still running 10 s after SIGTERM')
        limit = 3.0 if sanitizer_build() else 1.0
        self.assertLess(time.monotonic() - sent, timeout(limit))
        self.assertEqual(status, 0)
        self.assertSanitizersQuiet()


if __name__ == '__main__':
    unittest.main()
