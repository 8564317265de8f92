'''Intake of configuration changes and the echo filter, seen from the bus.

What the echo buffers hold cannot be seen from outside; a record is there
exactly when an echo of its change from another channel makes no call.
'''

import unittest

from base import DaemonTestCase
from change_signals import (CREATED, FULL_BUFFER, REMOVED, UPDATED,
                            emit_change, emit_change_with_flags, get_presets,
                            modifying, query, remove_preset, rename_preset,
                            set_preset_name, set_preset_number,
                            succeed_without_effect)
from testbed import CHANNEL_SERVICE, channel_path


class ChangeIntakeTest(DaemonTestCase):

    def test_invalid_kind_or_preset_zero_is_ignored_silently(self):
        camera = self.start(2)
        camera.seed_preset(2, 5, 'Door')
        for number, kind in ((5, 0), (5, 4), (5, 0xFFFFFFFF), (0, CREATED),
                             (0, UPDATED), (0, REMOVED)):
            emit_change(camera, 1, number, 'Door', kind)
        self.tb.settle()
        self.assertJournal([])
        # the same removal with a valid kind and number is mirrored
        emit_change(camera, 1, 5, 'Door', REMOVED)
        self.tb.settle()
        self.assertJournal([query(2), remove_preset(2, 'Door')])
        self.assertLogMessages([])

    def test_echo_filter_takes_what_each_channel_owes_in_order(self):
        camera = self.start(2)
        camera.serve_listing(2, ['presetposno5=Door', 'presetposno6=Gate'])
        succeed_without_effect(camera, 2, 'RemovePresetName')
        mirrored_on_2 = [query(2), remove_preset(2, 'Door')]
        steps = [
            ('a removal on 1 is mirrored and recorded', 1, 5, 'Door',
             mirrored_on_2),
            ('a second one is recorded behind it', 1, 6, 'Gate',
             [query(2), remove_preset(2, 'Gate')]),
            # we never call the source channel, so it cannot echo us
            ('a repeat from the recorded channel is a change of its own', 1,
             5, 'Door', mirrored_on_2),
            ('another preset from 2 is a change of its own', 2, 7, 'Lift',
             [query(1)]),
            # channel 2 signals our calls' effects in order: the first
            # removal's echo is not coming
            ('the second record is compared too', 2, 6, 'Gate', []),
            ("the repeat's record takes the next echo", 2, 5, 'Door', []),
            ('and was the last one owed', 2, 5, 'Door', [query(1)]),
            ('the repeat is recorded again', 1, 5, 'Door', mirrored_on_2),
            ('a removal of 5 under another name is a change of its own', 2,
             5, 'Gate', [query(1)]),
            ('and leaves the echo owed', 2, 5, 'Door', []),
        ]
        for label, channel, number, name, calls in steps:
            journal = self.settled_journal(
                lambda: emit_change(camera, channel, number, name, REMOVED))
            self.assertEqual(journal, calls, label)
        self.assertLogMessages([])

    def test_full_buffer_is_emptied_and_the_change_dropped(self):
        camera = self.start(2)
        camera.serve_listing(
            2, [f'presetposno{n}=P{n}' for n in range(1, 34)]
            + ['presetposno50=Old:pan=0:tilt=0'])
        for method in ('RemovePresetName', 'SetPresetNumber', 'RenamePreset'):
            succeed_without_effect(camera, 2, method)
        camera.seed_preset(1, 50, 'Door')

        def fill():
            # one record in each of the other two buffers, 32 removals
            emit_change(camera, 1, 40, 'Pos40', CREATED)
            emit_change(camera, 1, 50, 'Door', UPDATED)
            for n in range(1, 33):
                emit_change(camera, 1, n, f'P{n}', REMOVED)
        self.assertEqual(
            modifying(self.settled_journal(fill)),
            [set_preset_number(2, 40), rename_preset(2, 50, 'Door')]
            + [remove_preset(2, f'P{n}') for n in range(1, 33)])
        self.assertLogMessages([])

        self.assertEqual(self.settled_journal(
            lambda: emit_change(camera, 1, 33, 'P33', REMOVED)), [])
        self.assertWarnings([FULL_BUFFER])
        # not just the oldest record went: the echo of the second removal
        # is a new change
        self.assertEqual(self.settled_journal(
            lambda: emit_change(camera, 2, 2, 'P2', REMOVED)), [query(1)])

        def echo_others():
            emit_change(camera, 2, 40, 'Pos40', CREATED)
            emit_change(camera, 2, 50, 'Door', UPDATED)
        self.assertEqual(self.settled_journal(echo_others), [])
        self.assertWarnings([FULL_BUFFER])

    def test_set_home_is_set_by_any_true_entry_of_the_exact_key(self):
        rows = [
            ('no flags', [], False),
            ('false', [('SET_HOME', False)], False),
            ('true', [('SET_HOME', True)], True),
            ('false then true', [('SET_HOME', False), ('SET_HOME', True)],
             True),
            ('true then false', [('SET_HOME', True), ('SET_HOME', False)],
             True),
            ('other letter case', [('Set_Home', True)], False),
            ('another key', [('HOME', True), ('SET_HOME', False)], False),
        ]
        self.start(2)
        for number, (_, flags, _) in enumerate(rows, 1):
            emit_change_with_flags(self.tb.connection(), 1, number,
                                   f'Pos{number}', CREATED, flags)
        self.tb.settle()
        sent = {args[2]: args[3] for _, member, args in self.journal()
                if member == 'SetPresetNumber'}
        self.assertEqual({label: sent.get(number) for number, (label, _, _)
                          in enumerate(rows, 1)},
                         {label: home for label, _, home in rows})
        self.assertJournal(
            call for number, (_, _, home) in enumerate(rows, 1)
            for call in (get_presets(1), query(2),
                         set_preset_number(2, number, home)))

    def test_payload_of_another_type_is_ignored(self):
        camera = self.start(2)
        payloads = [
            ('usua{sb}', [1, 'Pos1', 1, {'SET_HOME': True}]),
            ('isua{sb}a{sv}', [1, 'Pos1', 1, {}, {}]),
            ('usua{ss}a{sv}', [1, 'Pos1', 1, {'SET_HOME': 'true'}, {}]),
            ('usua{sb}a{sv}s', [1, 'Pos1', 1, {}, {}, 'more']),
            ('', []),
        ]
        for signature, args in payloads:
            camera.emit_raw(channel_path(1), CHANNEL_SERVICE,
                            'PresetConfigurationChanged2', signature, args)
        self.tb.settle()
        self.assertJournal([])
        # nothing was recorded either: the same change, well typed, is new
        emit_change(camera, 1, 1, 'Pos1', CREATED)
        self.tb.settle()
        self.assertJournal([get_presets(1), query(2), set_preset_number(2, 1)])
        self.assertLogMessages([])
        self.stop(0)

    def test_channels_from_ten_up_are_read_whole(self):
        camera = self.start(12)
        for channel in (2, 12):
            camera.seed_preset(channel, 5, 'Door')
        calls = self.settled_journal(lambda: camera.user_remove(12, 5))
        self.assertEqual(calls, [query(1), query(2), remove_preset(2, 'Door')]
                         + [query(n) for n in range(3, 12)])

        calls = self.settled_journal(
            lambda: camera.user_create_by_name(10, 'Door'))
        first_walk = [get_presets(10)]
        for n in (1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12):
            first_walk += [query(n), set_preset_name(n, 'Door')]
        self.assertEqual(calls[:len(first_walk)], first_walk)
        self.assertEqual(modifying(calls[len(first_walk):]), [])
        presets = {n: channel['presets']
                   for n, channel in camera.state()['channels'].items()}
        self.assertEqual(presets, {n: {1: ('Door', 0.0, 0.0)}
                                   for n in range(1, 13)})
        self.assertLogMessages([])

    def test_long_names_do_not_block_the_echo_filter(self):
        camera = self.start(2)
        # 95 bytes fall inside a two-byte character in the second name
        for name in ('x' * 200, '\u00e9' * 200):
            calls = self.settled_journal(
                lambda: camera.user_create_by_name(1, name))
            self.assertEqual(modifying(calls), [set_preset_name(2, name)])
        calls = self.settled_journal(
            lambda: camera.user_create_by_name(1, 'Gate'))
        self.assertEqual(calls, [get_presets(1), query(2),
                                 set_preset_name(2, 'Gate')])
        self.assertLogMessages([])


if __name__ == '__main__':
    unittest.main()
