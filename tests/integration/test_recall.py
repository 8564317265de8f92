'''Recall speed and recall mirroring: a preset recalled on one channel moves
every other channel to it at the last announced speed, and the recalls that
our own GotoPresetNumber calls cause are dropped instead of bouncing back.

The recall echo buffer cannot be seen from outside; the tests read it from
the calls: a channel owes a record the echo of our goto exactly when a
recall of that preset from that channel makes no call at all.  Where the
echoes must come at chosen moments, the other channel acknowledges our
gotos without moving (so it sends no echo) and the recalls are emitted by
hand.
'''

import unittest

from base import DaemonTestCase
from change_signals import (goto, goto_failed, state_failed, state_query,
                            unsupported_space)
from testbed import COORDINATOR, coordinator_path


class RecallTestCase(DaemonTestCase):

    def start_with_presets(self, channels, presets=(5,), reported=None):
        '''A subscribed daemon; every channel holds the presets and reports
        what `reported` ({channel: preset}) says, else no preset.'''
        camera = self.start(channels)
        self.channels = channels
        self.seed_spots(range(1, channels + 1), presets)
        for channel, preset in (reported or {}).items():
            camera.set_reported_preset(channel, preset)
        return camera

    def recall_signal(self, channel, preset, state=1):
        '''PtzPresetState (channel, preset, state), emitted on the object of
        that channel, or on channel 1's when there is no such channel.'''
        path_channel = channel if 1 <= channel <= self.channels else 1
        self.camera.emit_raw(coordinator_path(path_channel), COORDINATOR,
                             'PtzPresetState', 'iii',
                             [channel, preset, state])

    def acknowledge_gotos_without_moving(self, channel):
        '''The channel answers GotoPresetNumber with an empty reply and
        neither moves nor sends the recall signal.'''
        self.camera.reply_wrong_type(channel, 'GotoPresetNumber', '', [])

    def reported(self):
        return {channel: values['reported'] for channel, values
                in self.camera.state()['channels'].items()}

    def assertCallsAfterSettling(self, expected):
        '''Once every signal is handled, the calls since the start are
        exactly these.'''
        self.tb.settle()
        self.assertJournal(expected)

    def gotos_after_settling(self):
        self.tb.settle()
        return [call for call in self.journal()
                if call[1] == 'GotoPresetNumber']


class RecallSpeedTest(RecallTestCase):

    def test_gotos_carry_last_announced_speed_on_every_channel(self):
        # (channel, first field, speed) of each PresetSpeed, in order; the
        # recall comes from channel 3, so channels 1 and 2 are moved
        cases = [
            ('nothing announced yet', [], 0),
            ('announced on channel 1', [(1, 0, 40)], 40),
            ('last announcement wins, whichever channel sent it',
             [(1, 0, 40), (2, 0, 25)], 25),
            ('negative speed passes as it is', [(2, 0, -10)], -10),
            ('speed 0 replaces an earlier speed', [(1, 0, 40), (1, 0, 0)],
             0),
            ('the first field is not the speed', [(1, 7, 30)], 30),
        ]
        for label, announcements, speed in cases:
            with self.case(label):
                camera = self.start_with_presets(3)
                for channel, first, announced in announcements:
                    camera.announce_speed(channel, announced, first=first)
                camera.user_recall(3, 5)
                self.assertEqual(self.gotos_after_settling(),
                                 [goto(1, 5, speed), goto(2, 5, speed)])
                self.assertWarnings([])

    def test_unsupported_space_or_payload_of_wrong_type_sets_speed_zero(self):
        # each follows an announced speed 25; an unsupported space is
        # logged, a payload that is not "(iii)" is not, and neither may
        # end in a GLib critical (fatal here)
        cases = [
            ('space 3', 'iii', [0, 40, 3], [unsupported_space(3)]),
            ('negative space', 'iii', [0, 40, -1], [unsupported_space(-1)]),
            ('two values', 'ii', [0, 40], []),
            ('four values', 'iiii', [0, 40, 0, 0], []),
            ('unsigned space', 'iiu', [0, 40, 0], []),
            ('one tuple', '(iii)', [(0, 40, 0)], []),
            ('a string', 's', ['40'], []),
            ('no values', '', [], []),
        ]
        for label, signature, args, messages in cases:
            with self.case(label):
                camera = self.start_with_presets(3)
                camera.announce_speed(1, 25)
                camera.emit_raw(coordinator_path(2), COORDINATOR,
                                'PresetSpeed', signature, args)
                camera.user_recall(3, 5)
                self.assertEqual(self.gotos_after_settling(),
                                 [goto(1, 5, 0), goto(2, 5, 0)])
                self.assertWarnings(messages)


class RecallMirroringTest(RecallTestCase):

    def test_recall_moves_other_channels_elsewhere_in_ascending_order(self):
        camera = self.start_with_presets(4, presets=(3, 5),
                                         reported={1: 3, 3: 5})
        camera.announce_speed(4, 60)
        camera.user_recall(2, 5)
        self.assertCallsAfterSettling([
            state_query(1), goto(1, 5, 60),
            state_query(3),                  # already at 5: left alone
            state_query(4), goto(4, 5, 60),
            # the echoes of channels 1 and 4 are both owed: no more calls
        ])
        self.assertEqual(self.reported(), {1: 5, 2: 5, 3: 5, 4: 5})
        self.assertWarnings([])

    def test_a_recall_costs_two_calls_per_other_channel_however_the_head_moves(
            self):
        # every channel holds presets 1 and 2, far apart; a user recalls 1
        # on channel 1 of the camera as it is, then 2 on the last channel of
        # a head that takes 30 to 150 ms to get there, reporting no preset
        # meanwhile, the user's own channel included
        for channels in range(2, 73):
            with self.case(f'{channels} channels'):
                camera = self.start_with_presets(channels, presets=(1, 2))
                for channel in range(1, channels + 1):
                    camera.seed_preset(channel, 2, 'Spot 2', 60.0, 30.0)
                for behaviour, source, preset in (('default', 1, 1),
                                                  ('moving-head', channels, 2)):
                    camera.set_behaviour(behaviour)
                    camera.clear_journal()
                    camera.user_recall(source, preset)
                    self.tb.settle()
                    calls = self.journal()
                    sent = [int(path.rsplit('/', 1)[1])
                            for path, member, _ in calls
                            if member == 'GotoPresetNumber']
                    self.assertLessEqual(len(calls), 2 * (channels - 1),
                                         behaviour)
                    self.assertEqual(sorted(sent), sorted(set(sent)),
                                     behaviour)
                    self.assertNotIn(source, sent, behaviour)
                    self.assertEqual(set(self.reported().values()), {preset},
                                     behaviour)
                self.assertWarnings([])

    def test_failed_calls_are_logged_and_walk_goes_on(self):
        # three channels reporting no preset; preset 5 recalled on channel
        # 1 unless said otherwise; each fault hits the next call only.
        # Whether a record was kept shows in what the echoes cost: every
        # channel sent there owes one, whatever the others did.
        def fault(channel, method):
            return lambda camera: camera.fail_method(channel, method, 1)

        def state_reply(signature, args):
            return lambda camera: camera.reply_wrong_type(
                2, 'GetPtzPresetState', signature, args, 1)

        queried_past_channel_2 = [state_query(2), state_query(3),
                                  goto(3, 5)]
        cases = [
            ('state query fails on channel 2',
             fault(2, 'GetPtzPresetState'), None,
             queried_past_channel_2, [state_failed(2)]),
            ('state reply "(i)" on channel 2', state_reply('i', [0]), None,
             queried_past_channel_2, [state_failed(2)]),
            ('state reply "(iii)" on channel 2',
             state_reply('iii', [0, 0, 0]), None,
             queried_past_channel_2, [state_failed(2)]),
            ('state reply "(ui)" on channel 2', state_reply('ui', [0, 0]),
             None, queried_past_channel_2, [state_failed(2)]),
            ('empty state reply on channel 2', state_reply('', []), None,
             queried_past_channel_2, [state_failed(2)]),
            ('goto fails on channel 2, succeeds on 3',
             fault(2, 'GotoPresetNumber'), None,
             [state_query(2), goto(2, 5), state_query(3), goto(3, 5)],
             [goto_failed(5, 2)]),
            ('goto succeeds on channel 2, state query fails on 3',
             fault(3, 'GetPtzPresetState'), None,
             [state_query(2), goto(2, 5), state_query(3)],
             [state_failed(3)]),
            # channel 2's echo is owed even so; 3 is not retried
            ('goto succeeds on channel 2, fails on 3',
             fault(3, 'GotoPresetNumber'), None,
             [state_query(2), goto(2, 5), state_query(3), goto(3, 5)],
             [goto_failed(5, 3)]),
            ('goto succeeds on channel 2, channel 3 is already there',
             lambda camera: camera.set_reported_preset(3, 5), None,
             [state_query(2), goto(2, 5), state_query(3)], []),
            ('negative preset, missing everywhere', None, (1, -4),
             [state_query(2), goto(2, -4), state_query(3), goto(3, -4)],
             [goto_failed(-4, 2), goto_failed(-4, 3)]),
        ]
        for label, set_up, signal, calls, messages in cases:
            with self.case(label):
                camera = self.start_with_presets(3)
                if set_up:
                    set_up(camera)
                if signal:
                    self.recall_signal(*signal)
                else:
                    camera.user_recall(1, 5)
                self.assertCallsAfterSettling(calls)
                self.assertWarnings(messages)


class RecallEchoFilterTest(RecallTestCase):

    def test_echo_from_other_channel_consumes_record_and_makes_no_call(self):
        camera = self.start_with_presets(2, presets=(3, 5), reported={2: 3})
        camera.user_recall(1, 5)
        self.assertCallsAfterSettling([state_query(2), goto(2, 5)])
        # the record is gone: the same recall again is a recall of its own
        self.recall_signal(2, 5)
        self.assertCallsAfterSettling([state_query(2), goto(2, 5),
                                       state_query(1)])
        self.assertEqual(self.reported(), {1: 5, 2: 5})

    def test_repeat_from_recorded_channel_is_dropped_and_record_stays(self):
        self.start_with_presets(2, reported={1: 5})
        self.acknowledge_gotos_without_moving(2)
        mirrored = [state_query(2), goto(2, 5)]
        self.recall_signal(1, 5)
        self.assertCallsAfterSettling(mirrored)
        self.recall_signal(1, 5)
        self.assertCallsAfterSettling(mirrored)
        self.recall_signal(2, 5)             # the echo, still expected
        self.assertCallsAfterSettling(mirrored)
        self.recall_signal(2, 5)             # no record left
        self.assertCallsAfterSettling(mirrored + [state_query(1)])

    def test_each_channel_owes_the_echoes_of_our_gotos_in_order(self):
        self.start_with_presets(2, reported={1: 7})
        self.acknowledge_gotos_without_moving(2)
        recorded = [state_query(2), goto(2, 5), state_query(2), goto(2, 7)]
        self.recall_signal(1, 5)
        self.recall_signal(1, 7)
        self.assertCallsAfterSettling(recorded)
        # the echo of the later goto: the earlier one's is not coming
        self.recall_signal(2, 7)
        self.assertCallsAfterSettling(recorded)
        # so this is channel 2's own recall, mirrored (its echo is owed)
        self.recall_signal(2, 5)
        self.assertCallsAfterSettling(recorded + [state_query(1), goto(1, 5)])
        self.assertEqual(self.reported()[1], 5)

    def test_with_three_channels_every_echo_is_owed(self):
        camera = self.start_with_presets(3)
        camera.user_recall(1, 5)
        walked = [state_query(2), goto(2, 5), state_query(3), goto(3, 5)]
        self.assertCallsAfterSettling(walked)
        self.assertEqual(self.reported(), {1: 5, 2: 5, 3: 5})
        # both echoes took their owed places: a recall now is one of its own
        self.recall_signal(2, 5)
        self.assertCallsAfterSettling(walked + [state_query(1),
                                                state_query(3)])

    def test_full_buffer_is_emptied_by_next_recall_which_is_lost(self):
        self.start_with_presets(2)
        self.acknowledge_gotos_without_moving(2)
        filled = []
        for preset in range(1, 33):
            self.recall_signal(1, preset)
            filled += [state_query(2), goto(2, preset)]
        self.assertCallsAfterSettling(filled)
        self.recall_signal(1, 33)
        self.assertCallsAfterSettling(filled)
        # {1, 1} went with the rest: this is a recall of its own
        self.camera.set_reported_preset(1, 1)
        self.recall_signal(2, 1)
        self.assertCallsAfterSettling(filled + [state_query(1)])
        self.recall_signal(1, 33)
        self.assertCallsAfterSettling(filled + [state_query(1),
                                                state_query(2), goto(2, 33)])
        self.assertWarnings([])

    def test_states_other_than_one_change_nothing(self):
        self.start_with_presets(2)
        self.acknowledge_gotos_without_moving(2)
        for state in (0, 2, -1):
            self.recall_signal(1, 5, state)
        self.assertCallsAfterSettling([])
        mirrored = [state_query(2), goto(2, 5)]
        self.recall_signal(1, 5)
        for state in (0, 2):
            self.recall_signal(2, 5, state)
        self.assertCallsAfterSettling(mirrored)
        self.recall_signal(2, 5)             # the record is still there
        self.assertCallsAfterSettling(mirrored)
        self.camera.set_reported_preset(1, 5)
        self.recall_signal(2, 5)
        self.assertCallsAfterSettling(mirrored + [state_query(1)])
        self.assertWarnings([])


class RecallRecordHygieneTest(RecallTestCase):
    '''A record is kept only for a recall that this very signal mirrored
    with a successful goto; anything else would later swallow a real
    recall of its preset, or fill the buffer with records never echoed.'''

    def mirrored_recall_first(self):
        '''A recall of preset 7 mirrored and echoed: the walk that decided
        last ended with a successful goto.'''
        self.camera.user_recall(1, 7)
        self.assertCallsAfterSettling([state_query(2), goto(2, 7)])
        self.camera.clear_journal()

    def assertLaterRecallMirrored(self, calls_before):
        self.camera.user_recall(2, 5)
        self.assertCallsAfterSettling(calls_before
                                      + [state_query(1), goto(1, 5)])
        self.assertEqual(self.reported(), {1: 5, 2: 5})

    def test_unmirrored_signal_leaves_no_record(self):
        cases = [
            ('channel above the count', (9, 5), False),
            ('channel just above the count', (3, 5), False),
            ('channel 0', (0, 5), False),
            ('negative channel', (-2, 5), False),
            ('preset 0 with an empty buffer', (1, 0), False),
            ('channel above the count, after a mirrored recall', (9, 5),
             True),
        ]
        for label, signal, warm in cases:
            with self.case(label):
                self.start_with_presets(2, presets=(5, 7))
                if warm:
                    self.mirrored_recall_first()
                self.recall_signal(*signal)
                self.assertCallsAfterSettling([])
                self.assertLaterRecallMirrored([])
                self.assertWarnings([])

    def test_recall_whose_only_state_query_fails_leaves_no_record(self):
        for warm in (False, True):
            with self.case('after a mirrored recall' if warm
                           else 'first recall'):
                camera = self.start_with_presets(2, presets=(5, 7))
                if warm:
                    self.mirrored_recall_first()
                camera.fail_method(2, 'GetPtzPresetState', 1)
                self.recall_signal(1, 5)
                self.assertLaterRecallMirrored([state_query(2)])
                self.assertWarnings([state_failed(2)])


class MalformedRecallSignalTest(RecallTestCase):

    def test_state_signal_of_wrong_type_is_ignored(self):
        # each would read as a recall of 5 on channel 1 if taken loosely;
        # reading one as "(iii)" would end in a GLib critical (fatal here)
        payloads = [
            ('ii', [1, 5]),
            ('iiii', [1, 5, 1, 0]),
            ('iiu', [1, 5, 1]),
            ('uii', [1, 5, 1]),
            ('(iii)', [(1, 5, 1)]),
            ('s', ['1 5 1']),
            ('', []),
        ]
        camera = self.start_with_presets(2)
        for signature, args in payloads:
            camera.emit_raw(coordinator_path(1), COORDINATOR,
                            'PtzPresetState', signature, args)
            self.tb.settle()
            self.assertEqual(self.journal(), [], f'payload "({signature})"')
        self.assertWarnings([])
        camera.user_recall(1, 5)
        self.assertCallsAfterSettling([state_query(2), goto(2, 5)])


if __name__ == '__main__':
    unittest.main()
