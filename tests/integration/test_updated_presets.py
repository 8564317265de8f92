'''Updates mirrored onto the other channels: what each channel receives, the
position threshold, the echoes owed for the calls made, the result of a walk
over several channels, and whole updates on the simulated camera.

Where only the walk matters, the listings are served exactly and the other
channels acknowledge the modifying calls without acting on them, so no echo
follows and the journal holds the walk alone.  The echoes that the walk's
record owes (one for each call that succeeded and will echo) are read from
the bus: an update echo of preset 5 from another channel that the record
still owes makes no call and takes one off; with another name, or with none
left, the echo is mirrored again, which here stops at the lookup on its own
channel.'''

import collections
import unittest

from base import DaemonTestCase
from change_signals import (UPDATED, create_by_number_failed, emit_change,
                            listing_entry, lookup, lookup_failed, modifying,
                            rename_failed, rename_preset, set_home_failed,
                            set_preset_name, set_preset_number,
                            succeed_without_effect, update_failed,
                            update_preset)
from testbed import Preset

PRESET = 5
EDITS = ('SetPresetName', 'SetPresetNumber', 'RenamePreset', 'UpdatePreset')


def entry(name, pan=0.0, tilt=0.0, number=PRESET):
    '''A listing entry, of preset 5 unless said otherwise.'''
    return listing_entry(number, name, pan, tilt)


class UpdateWalkTestCase(DaemonTestCase):

    def start_with_listings(self, *listings):
        '''A daemon on one channel per listing, served as serve() says.'''
        self.start(len(listings))
        self.serve(*listings)

    def serve(self, *listings):
        '''Channel n serves listings[n - 1] (None: its query fails); every
        modifying call succeeds without changing anything or sending an
        echo.'''
        self.camera.clear_faults()
        for channel, entries in enumerate(listings, 1):
            if entries is None:
                self.camera.fail_method(channel, 'QueryPresets')
            else:
                self.camera.serve_listing(channel, entries)
            for method in EDITS:
                succeed_without_effect(self.camera, channel, method)
        self.camera.clear_journal()

    def assertWalk(self, source, name, home, expected):
        '''The update of preset 5 signalled by source makes exactly these
        calls.'''
        emit_change(self.camera, source, PRESET, name, UPDATED, home)
        self.tb.settle()
        self.assertJournal(expected)

    def echo_is_mirrored(self, name, channel):
        emit_change(self.camera, channel, PRESET, name, UPDATED,
                    isinstance(name, Home))
        self.tb.settle()
        calls = self.journal()
        self.camera.clear_journal()
        self.assertIn(calls, ([], [lookup(channel)]))
        return bool(calls)

    def prepare_echoes(self, channel):
        # a mirrored echo then stops at its source lookup, silently
        self.camera.fail_method(channel, 'QueryPresets', 0)
        self.camera.serve_listing(channel, [])
        self.camera.clear_journal()

    def assertEchoes(self, echoes, echo_channel=2):
        '''Update echoes of preset 5, in order, each (name, dropped) from
        echo_channel or (channel, name, dropped): what the walk's record
        owed each channel, echo by echo.'''
        echoes = [e if len(e) == 3 else (echo_channel,) + tuple(e)
                  for e in echoes]
        for channel in sorted({channel for channel, _, _ in echoes}):
            self.prepare_echoes(channel)
        self.assertEqual(
            [(channel, name, not self.echo_is_mirrored(name, channel))
             for channel, name, _ in echoes], echoes)

    def assertRecorded(self, name, echo_channel=2):
        '''The walk owes exactly one echo under name.'''
        self.assertEchoes([(name, True), (name, False)], echo_channel)

    def assertNothingRecorded(self, name, echo_channel=2):
        self.assertEchoes([(name, False)], echo_channel)


class Home(str):
    '''An echo's name, the echo flagged "SET_HOME" as a save as home is.'''


class DecisionTableTest(UpdateWalkTestCase):
    '''Two channels; the update comes from channel 1 and names preset 5
    Gate unless a case says otherwise.'''

    def test_missing_preset_without_home_is_left_alone(self):
        cases = [
            ('other numbers only', [entry('Lamp', number=15),
                                    entry('Lamp', number=50)], []),
            ('listing fails', None, [lookup_failed(PRESET, 2)]),
        ]
        for label, listing, messages in cases:
            with self.case(label):
                self.start_with_listings([entry('Gate')], listing)
                self.assertWalk(1, 'Gate', False, [lookup(1), lookup(2)])
                self.assertWarnings(messages)
                self.assertNothingRecorded('Gate')

    def test_missing_preset_made_home_is_saved_by_number(self):
        # only the number counts: another preset named Gate does not; the
        # save keeps the number here and echoes under Pos5 (as a creation,
        # or as an update on a platform that reports it so), the rename
        # under Gate
        save = set_preset_number(2, PRESET, True)
        cases = [
            ('other numbers only', 'Gate',
             [entry('Gate', 90, 90, number=15)], [], [
                 save, rename_preset(2, PRESET, 'Gate')], 'Gate'),
            ('listing fails', 'Gate', None, [lookup_failed(PRESET, 2)], [
                save, rename_preset(2, PRESET, 'Gate')], 'Gate'),
            ('named Pos5', 'Pos5', [], [], [save], Home('Pos5')),
        ]
        for label, name, listing, messages, calls, echo in cases:
            with self.case(label):
                self.start_with_listings([entry(name)], listing)
                self.assertWalk(1, name, True, [lookup(1), lookup(2)] + calls)
                self.assertWarnings(messages)
                self.assertRecorded(echo)

    def test_same_name_made_home_is_saved_by_name_whatever_its_position(self):
        for label, pan in (('far away', 90.0), ('in place', 10.0)):
            with self.case(label):
                self.start_with_listings([entry('Gate', 10, 20)],
                                         [entry('Gate', pan, 20)])
                self.assertWalk(1, 'Gate', True, [
                    lookup(1), lookup(2), set_preset_name(2, 'Gate', True)])
                self.assertWarnings([])
                self.assertRecorded(Home('Gate'))

    def test_same_name_is_updated_when_moved_by_two_or_more(self):
        # (source pan, tilt), (channel 2 pan, tilt), moved
        cases = [
            ('pan exactly 2.0 apart', (10, 20), (12, 20), True),
            ('tilt exactly 2.0 lower', (10, 20), (10, 18), True),
            ('1.99 apart in both', (10, 20), (11.99, 21.99), False),
            ('pan 0.5 and tilt 3.0 apart', (10, 20), (10.5, 23), True),
            ('pan not a number on channel 2', (10, 20), ('nan', 20), False),
            ('pan not a number at the source, tilt 3.0 apart',
             ('nan', 20), (10, 23), True),
            # 2.1 - 0.1 reaches 2.0 in double precision only
            ('2.0 apart only in double precision', (0.1, 0), (2.1, 0),
             False),
        ]
        self.start(2)  # each case leaves nothing recorded
        for label, source, other, moved in cases:
            with self.subTest(label):
                self.serve([entry('Gate', *source)], [entry('Gate', *other)])
                update = [update_preset(2, PRESET, 'Gate')] if moved else []
                self.assertWalk(1, 'Gate', False,
                                [lookup(1), lookup(2)] + update)
                if moved:
                    self.assertRecorded('Gate')
                else:  # no call, so nothing to record
                    self.assertNothingRecorded('Gate')
        self.assertWarnings([])

    def test_other_name_is_updated_when_moved_else_renamed(self):
        cases = [
            ('moved', 30, [update_preset(2, PRESET, 'Gate')]),
            ('in place', 10, [rename_preset(2, PRESET, 'Gate')]),
        ]
        for label, pan, calls in cases:
            with self.case(label):
                self.start_with_listings([entry('Gate', 10, 20)],
                                         [entry('Door', pan, 20)])
                self.assertWalk(1, 'Gate', False,
                                [lookup(1), lookup(2)] + calls)
                self.assertWarnings([])
                self.assertRecorded('Gate')

    def test_other_name_made_home_is_saved_by_number_then_updated_or_renamed(
            self):
        # channel 2 calls it Door: its save echoes under Pos5, or under Door
        # where the platform keeps names, and the rename or update after it
        # under the new name; a change of channel 2's own in between is
        # mirrored and leaves them owed
        save = set_preset_number(2, PRESET, True)
        cases = [
            ('in place', 'Gate', 10, [save, rename_preset(2, PRESET, 'Gate')],
             [(Home('Pos5'), True), ('Gate', True), ('Gate', False)]),
            ('moved', 'Gate', 30, [save, update_preset(2, PRESET, 'Gate')],
             [(Home('Door'), True), ('Pos5', False), ('Gate', True),
              ('Gate', False)]),
            # a platform may keep the name Door: looked at again, the
            # channel still shows it, so it is renamed even so
            ('in place, named Pos5', 'Pos5', 10,
             [save, lookup(2), rename_preset(2, PRESET, 'Pos5')],
             [(Home('Pos5'), True), ('Pos5', True), ('Pos5', False)]),
            ('moved, named Pos5', 'Pos5', 30,
             [save, lookup(2), update_preset(2, PRESET, 'Pos5')],
             [(Home('Pos5'), True), ('Pos5', True), ('Pos5', False)]),
        ]
        self.start(2)  # each case consumes its record
        for label, name, pan, calls, echoes in cases:
            with self.subTest(label):
                self.serve([entry(name, 10, 20)], [entry('Door', pan, 20)])
                self.assertWalk(1, name, True,
                                [lookup(1), lookup(2)] + calls)
                self.assertEchoes(echoes)
        self.assertWarnings([])


class WalkOverChannelsTest(UpdateWalkTestCase):

    def test_every_save_of_a_home_update_is_owed_its_echo(self):
        # a home update of Gate from channel 1 over channels 2 and 3
        def by_name(n):
            return [entry('Gate')], [set_preset_name(n, 'Gate', True)]

        def missing(n):
            # its save echoes as a creation, not as an update
            return [], [set_preset_number(n, PRESET, True),
                        rename_preset(n, PRESET, 'Gate')]

        def by_number(n):
            return [entry('Door')], [set_preset_number(n, PRESET, True),
                                     rename_preset(n, PRESET, 'Gate')]

        # each channel owes what its own calls cause, in their order: a
        # rename's echo shows that the save before it is not coming
        cases = [
            ('by name, then by number', by_name, by_number,
             [(3, Home('Pos5'), True), (2, Home('Gate'), True),
              (3, 'Gate', True), (2, 'Gate', False), (3, 'Gate', False)]),
            ('by number, then by name', by_number, by_name,
             [(2, Home('Door'), True), (3, Home('Gate'), True),
              (2, 'Gate', True), (2, 'Gate', False), (3, 'Door', False)]),
            ('by number, then missing', by_number, missing,
             [(2, 'Gate', True), (2, Home('Pos5'), False),
              (3, Home('Pos5'), True), (3, 'Gate', True),
              (3, 'Gate', False)]),
        ]
        for label, second, third, echoes in cases:
            with self.case(label):
                (listing2, calls2), (listing3, calls3) = second(2), third(3)
                self.start_with_listings([entry('Gate')], listing2, listing3)
                self.assertWalk(1, 'Gate', True, [lookup(1), lookup(2)]
                                + calls2 + [lookup(3)] + calls3)
                self.assertEchoes(echoes)

    def test_failed_save_by_number_ends_the_walk(self):
        # from channel 2: channel 1 is saved by name, channel 3 by number
        # (which fails), channel 4 would be saved by name but is not reached
        self.start_with_listings([entry('Gate')], [entry('Gate')],
                                 [entry('Door')], [])
        self.camera.fail_method(3, 'SetPresetNumber')
        self.assertWalk(2, 'Gate', True, [
            lookup(2), lookup(1), set_preset_name(1, 'Gate', True),
            lookup(3), set_preset_number(3, PRESET, True)])
        self.assertWarnings([create_by_number_failed(PRESET, 3, home=True)])
        # channel 1's save still echoes
        self.assertRecorded(Home('Gate'), echo_channel=1)

    def test_only_the_calls_that_succeeded_are_owed_echoes(self):
        # channels 2 and 3 moved, channel 4 in place and left alone; one
        # update fails, the other's echo is owed whatever the walk's result
        for failing in (2, 3):
            with self.case(f'failure on {failing}'):
                self.start_with_listings(
                    [entry('Gate')], [entry('Gate', 5)], [entry('Gate', 5)],
                    [entry('Gate')])
                self.camera.fail_method(failing, 'UpdatePreset')
                self.assertWalk(1, 'Gate', False, [
                    lookup(1), lookup(2), update_preset(2, PRESET, 'Gate'),
                    lookup(3), update_preset(3, PRESET, 'Gate'), lookup(4)])
                self.assertWarnings([update_failed(PRESET, 'Gate', failing)])
                self.assertRecorded('Gate', echo_channel=5 - failing)

    def test_failed_call_is_logged_and_the_walk_goes_on(self):
        # channels 2 and 3 take the same case; only channel 2 fails
        def save_and_rename(n):
            return [set_preset_number(n, PRESET, True),
                    rename_preset(n, PRESET, 'Gate')]

        # channel 2 owes nothing but what succeeded there
        def once(name):
            return [(2, name, False), (3, name, True), (3, name, False)]
        cases = [
            ('update of a moved preset', False, entry('Gate', 5),
             'UpdatePreset', lambda n: [update_preset(n, PRESET, 'Gate')],
             update_failed(PRESET, 'Gate', 2), once('Gate')),
            ('rename', False, entry('Door'), 'RenamePreset',
             lambda n: [rename_preset(n, PRESET, 'Gate')],
             rename_failed(PRESET, 'Gate', 2), once('Gate')),
            ('home save by name', True, entry('Gate'), 'SetPresetName',
             lambda n: [set_preset_name(n, 'Gate', True)],
             set_home_failed(PRESET, 'Gate', 2), once(Home('Gate'))),
            # the save by number on channel 2 succeeded and echoes
            ('rename after a home save by number', True, entry('Door'),
             'RenamePreset', save_and_rename, rename_failed(PRESET, 'Gate', 2),
             [(2, Home('Pos5'), True), (2, Home('Pos5'), False),
              (3, Home('Door'), True), (3, 'Gate', True), (3, 'Gate', False)]),
        ]
        for label, home, other, method, calls, message, echoes in cases:
            with self.case(label):
                self.start_with_listings([entry('Gate')], [other], [other])
                self.camera.fail_method(2, method)
                self.assertWalk(1, 'Gate', home, [lookup(1), lookup(2)]
                                + calls(2) + [lookup(3)] + calls(3))
                self.assertWarnings([message])
                self.assertEchoes(echoes)

    def test_source_without_the_preset_looks_at_no_other_channel(self):
        # a home update: every other channel lacks preset 5 and would be
        # saved by name if it were looked at
        def wrong_type(camera):
            camera.reply_wrong_type(2, 'QueryPresets', 'i', [1])

        cases = [
            ('preset missing', [entry('Gate', number=15)], None, []),
            ('entry without a position', ['presetposno5=Gate:home=0'],
             None, []),
            ('listing fails', None, None, [lookup_failed(PRESET, 2)]),
            ('listing of another type', [entry('Gate')], wrong_type,
             [lookup_failed(PRESET, 2)]),
        ]
        for label, listing, fault, messages in cases:
            with self.case(label):
                self.start_with_listings([], listing, [], [])
                if fault:
                    fault(self.camera)
                self.assertWalk(2, 'Gate', True, [lookup(2)])
                self.assertWarnings(messages)

    def test_single_channel_looks_up_the_source_only(self):
        self.start_with_listings([entry('Gate')])
        self.assertWalk(1, 'Gate', True, [lookup(1)])
        self.assertWarnings([])


class UpdateOnCameraTest(DaemonTestCase):
    '''Whole updates on the simulated camera, echoes included.'''

    def settle_or_fail(self, limit=200):
        '''Settles, or fails once the calls since the journal was cleared
        exceed limit.'''
        before = -1
        while True:
            calls = self.journal()
            if len(calls) > limit:
                counts = collections.Counter(call[1] for call in calls)
                self.fail(f'still calling after {len(calls)} calls: '
                          f'{dict(counts)}')
            if len(calls) == before:
                return
            before = len(calls)
            self.tb.probe()

    def presets(self):
        '''Per channel: (home, {number: Preset}).'''
        return {n: (home, presets)
                for n, (home, _, presets) in self.channel_states().items()}

    def test_update_on_one_of_four_channels_brings_the_others_in_step(self):
        def rename(camera):
            camera.user_rename(1, PRESET, 'Gate')

        def move(camera):
            camera.user_move(40.0, -15.0)
            camera.user_update_position(3, PRESET)

        def make_home(camera):
            camera.user_make_home(2, PRESET)

        others = {1: (2, 3, 4), 2: (1, 3, 4), 3: (1, 2, 4)}
        cases = [
            ('rename', rename, 1,
             lambda n: rename_preset(n, PRESET, 'Gate'),
             0, Preset('Gate', 10.0, 20.0)),
            ('move', move, 3, lambda n: update_preset(n, PRESET, 'Door'),
             0, Preset('Door', 40.0, -15.0)),
            ('make home', make_home, 2,
             lambda n: set_preset_name(n, 'Door', True),
             PRESET, Preset('Door', 10.0, 20.0)),
        ]
        for label, action, source, call, home, preset in cases:
            with self.case(label):
                camera = self.start(4)
                camera.user_move(10.0, 20.0)
                for channel in range(1, 5):
                    camera.seed_preset(channel, PRESET, 'Door', 10, 20)
                    camera.seed_preset(channel, 3, 'Hall', -30, 5)
                action(camera)
                self.settle_or_fail()
                self.assertEqual(modifying(self.journal()),
                                 [call(n) for n in others[source]])
                hall = Preset('Hall', -30.0, 5.0)
                self.assertEqual(
                    self.presets(),
                    {n: (home, {3: hall, PRESET: preset})
                     for n in range(1, 5)})
                self.assertWarnings([])

    def test_rename_made_home_in_one_update_settles_on_the_new_name(self):
        # channel 1's preset 5, Door on both, is renamed Gate and made home;
        # channel 2's save by number echoes as Pos5, the name recorded
        camera = self.start(2)
        camera.seed_preset(1, PRESET, 'Gate', home=True)
        camera.seed_preset(2, PRESET, 'Door')
        emit_change(camera, 1, PRESET, 'Gate', UPDATED, home=True)
        self.settle_or_fail()
        gate = {PRESET: Preset('Gate', 0.0, 0.0)}
        self.assertEqual(self.presets(), {1: (PRESET, gate),
                                          2: (PRESET, gate)})
        self.assertEqual(modifying(self.journal()), [
            set_preset_number(2, PRESET, True),
            rename_preset(2, PRESET, 'Gate')])


if __name__ == '__main__':
    unittest.main()
