'''A preset created on one channel is created on the channels lacking it.'''

import unittest

from base import DaemonTestCase
from change_signals import (CREATED, NO_PRESET_COUNT, QUERY_FAILED,
                            create_by_name_failed, create_by_number_failed,
                            emit_change, get_presets, lookup, modifying,
                            query, rename_failed, rename_preset,
                            set_preset_name, set_preset_number,
                            succeed_without_effect, update_preset)


class CreatedPresetTest(DaemonTestCase):

    def seed(self, channels, presets):
        for channel in channels:
            for number, name in presets.items():
                self.camera.seed_preset(channel, number, name)

    def test_by_name_only_when_the_number_is_the_source_count(self):
        cases = [
            # the new preset is number 3 of 3 on channel 1
            ('by name', {1: 'A', 2: 'B'},
             lambda camera: camera.user_create_by_name(1, 'Door', True),
             [get_presets(1), query(2), set_preset_name(2, 'Door', True)],
             'Door'),
            # number 3 of 4: created as Pos3, then renamed; both echoes
            # (a creation under Pos3, an update under Door) are dropped
            ('by number and renamed', {1: 'A', 2: 'B', 4: 'D'},
             lambda camera: camera.user_create_by_name(1, 'Door', True),
             [get_presets(1), query(2), set_preset_number(2, 3, True),
              rename_preset(2, 3, 'Door')],
             'Door'),
            ('by number, named Pos3 already', {1: 'A', 2: 'B', 4: 'D'},
             lambda camera: camera.user_create_by_number(1, 3, True),
             [get_presets(1), query(2), set_preset_number(2, 3, True)],
             'Pos3'),
        ]
        for label, seeded, create, calls, name in cases:
            with self.case(label):
                camera = self.start(2)
                self.seed((1, 2), seeded)
                create(camera)
                self.tb.settle()
                self.assertJournal(calls)
                self.assertEqual(self.preset_names()[2][3], name)
                self.assertEqual(camera.state()['channels'][2]['home'], 3)
                self.assertLogMessages([])

    def test_channels_that_have_the_number_are_brought_in_step(self):
        # a platform may report a save by number of a preset it holds as a
        # creation: such a channel is updated as the preset's update would
        # update it, once the source's entry is read
        camera = self.start(4)
        camera.seed_preset(2, 3, 'Other')
        camera.seed_preset(3, 3, 'Other', pan=20.0)
        camera.user_create_by_number(1, 3)
        self.tb.settle()
        self.assertJournal([get_presets(1), query(2), lookup(1), lookup(2),
                            rename_preset(2, 3, 'Pos3'), query(3),
                            lookup(3), update_preset(3, 3, 'Pos3'), query(4),
                            set_preset_number(4, 3)])
        self.assertEqual(self.preset_names(), {
            n: {3: 'Pos3'} for n in range(1, 5)})
        self.assertEqual({n: presets[3].pan for n, (_, _, presets)
                          in self.channel_states().items()},
                         {n: 0.0 for n in range(1, 5)})
        # every echo was owed: the same change from channel 1 is mirrored
        # again, and finds every channel in step
        camera.clear_journal()
        emit_change(camera, 1, 3, 'Pos3', CREATED)
        self.tb.settle()
        self.assertJournal([get_presets(1), query(2), lookup(1), lookup(2),
                            query(3), lookup(3), query(4), lookup(4)])

    def test_failure_on_one_channel_leaves_it_behind_alone(self):
        # the echo of the creation that succeeded is dropped whatever the
        # walk's result; nothing is retried on the channel that failed
        walk = [get_presets(1), query(2), set_preset_name(2, 'Door'),
                query(3), set_preset_name(3, 'Door')]
        door = {1: 'Door'}
        for failing in (2, 3):
            with self.case(f'failure on {failing}'):
                camera = self.start(3)
                camera.fail_method(failing, 'SetPresetName', 1)
                camera.user_create_by_name(1, 'Door')
                self.tb.settle()
                self.assertJournal(walk)
                self.assertEqual(self.preset_names(), {
                    n: {} if n == failing else door for n in (1, 2, 3)})
                self.assertWarnings(
                    [create_by_name_failed(1, 'Door', failing)])

    def test_failed_creation_by_number_is_logged_and_the_walk_goes_on(self):
        first_calls = [get_presets(1), query(2), set_preset_number(2, 5, True)]
        rest_of_walk = [query(3), set_preset_number(3, 5, True),
                        rename_preset(3, 5, 'Door')]
        cases = [
            ('SetPresetNumber', create_by_number_failed(5, 2, home=True),
             first_calls + rest_of_walk, {1: 'A'}),
            # the preset stays under its default name on 2
            ('RenamePreset', rename_failed(5, 'Door', 2),
             first_calls + [rename_preset(2, 5, 'Door')] + rest_of_walk,
             {1: 'A', 5: 'Pos5'}),
        ]
        for method, message, calls, left_on_2 in cases:
            with self.case(method):
                camera = self.start(3)
                self.seed((1, 2, 3), {1: 'A'})
                camera.seed_preset(1, 5, 'Door')
                camera.fail_method(2, method, 1)
                emit_change(camera, 1, 5, 'Door', CREATED, home=True)
                self.tb.settle()
                self.assertJournal(calls)
                self.assertEqual(self.preset_names()[2], left_on_2)
                self.assertEqual(self.preset_names()[3], {1: 'A', 5: 'Door'})
                self.assertWarnings([message])

    def test_unreadable_source_count_creates_by_number(self):
        faults = {
            'GetPresets fails': lambda camera: camera.fail_method(
                1, 'GetPresets', 1),
            'reply of another array type': lambda camera:
                camera.reply_wrong_type(1, 'GetPresets', 'ua(ss)',
                                        [0, [('1', 'Door')]], 1),
            'reply without the array': lambda camera:
                camera.reply_wrong_type(1, 'GetPresets', 'u', [0], 1),
        }
        for label, fault in faults.items():
            with self.case(label):
                camera = self.start(2)
                fault(camera)
                camera.user_create_by_name(1, 'Door')
                self.tb.settle()
                self.assertJournal([
                    get_presets(1), query(2), set_preset_number(2, 1),
                    rename_preset(2, 1, 'Door')])
                self.assertEqual(self.preset_names()[2], {1: 'Door'})
                self.assertWarnings([NO_PRESET_COUNT])

    def test_unreadable_target_listing_counts_as_lacking_the_preset(self):
        faults = {
            'listing read': (None, []),
            'QueryPresets fails': (lambda camera: camera.fail_method(
                2, 'QueryPresets', 1), [QUERY_FAILED]),
            'reply of one string': (lambda camera: camera.reply_wrong_type(
                2, 'QueryPresets', 's', ['presetposno1=Door'], 1),
                [QUERY_FAILED]),
            'reply with a second field': (
                lambda camera: camera.reply_wrong_type(
                    2, 'QueryPresets', 'asb', [['presetposno1=Door'], True],
                    1), [QUERY_FAILED]),
        }
        for label, (fault, messages) in faults.items():
            with self.case(label):
                camera = self.start(2)
                camera.seed_preset(2, 1, 'Door')
                for method in ('SetPresetNumber', 'RenamePreset'):
                    succeed_without_effect(camera, 2, method)
                if fault:
                    fault(camera)
                camera.user_create_by_name(1, 'Door')
                self.tb.settle()
                # read, the listing shows the preset in step there; not
                # read, it cannot show that the number follows, so the
                # preset is saved by number, keeping its number whatever
                attempted = [set_preset_number(2, 1),
                             rename_preset(2, 1, 'Door')] if fault \
                    else [lookup(1), lookup(2)]
                self.assertJournal([get_presets(1), query(2)] + attempted)
                self.assertWarnings(messages)

    def test_listing_numbers_beyond_int32_are_not_wrapped(self):
        camera = self.start(2)
        # 4294967300 and -4294967290 wrap to 4 and 6 in 32 bits
        camera.serve_listing(2, ['presetposno4294967300=Big:home=0',
                                 'presetposno-4294967290=Low:home=0',
                                 'presetposno7=Seven:home=0'])
        for number in (4, 6, 7):
            camera.user_create_by_number(1, number)
        self.tb.settle()
        self.assertEqual(modifying(self.journal()),
                         [set_preset_number(2, 4), set_preset_number(2, 6)])
        self.assertLogMessages([])

    def test_four_channels_end_in_step_and_every_echo_is_recognised(self):
        camera = self.start(4)
        self.seed((1, 2, 3, 4), {1: 'A', 2: 'B', 4: 'D'})
        camera.user_create_by_name(1, 'Door')
        self.tb.settle()
        calls = self.journal()
        self.assertEqual(modifying(calls), [
            call for n in (2, 3, 4) for call in (
                set_preset_number(n, 3), rename_preset(n, 3, 'Door'))])
        # every creation echo is recognised: none is taken for a creation
        self.assertEqual([call for call in calls if call[1] == 'GetPresets'],
                         [get_presets(1)])
        for n, presets in self.preset_names().items():
            self.assertEqual(presets, {1: 'A', 2: 'B', 3: 'Door', 4: 'D'}, n)
        self.assertLogMessages([])


if __name__ == '__main__':
    unittest.main()
