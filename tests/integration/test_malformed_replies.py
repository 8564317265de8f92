'''Malformed listings and replies from the platform services: huge or broken
listings are read without a crash, a reply of another type than the
method's counts as a failed call of that method, and a reply that nothing
reads counts as success whatever its type.  In each case the walk goes on
to the next channel.

The syntax of single entries is covered by the unit tests; failed
GetNumberOfChannels replies by test_lifecycle.
'''

import unittest

from base import DaemonTestCase
from change_signals import (CHANGE_SIGNAL, CHANGE_SIGNATURE, CREATED,
                            MODIFYING, NO_PRESET_COUNT, QUERY_FAILED, REMOVED,
                            UPDATED, emit_change, get_presets, goto,
                            listing_entry, lookup, lookup_failed, query,
                            remove_preset, rename_preset, set_preset_name,
                            set_preset_number, state_failed, state_query,
                            succeed_without_effect, update_preset)
from testbed import CHANNEL_SERVICE, COORDINATOR, channel_path, \
    coordinator_path

MEGABYTE = 1_000_000


def entry(number, name, pan=10.0, tilt=20.0):
    '''A listing entry, at (10, 20) unless said otherwise.'''
    return listing_entry(number, name, pan, tilt)


def fillers(count, first=100):
    '''count entries of other presets.'''
    return [entry(n, f'P{n}') for n in range(first, first + count)]


# Listings that break no rule but size; and entries that never count.
HUGE_NAME = 'D' * MEGABYTE


def overflowing(number):
    '''Entries whose numbers overflow the int32 range, one of them to
    number once cut to 32 bits.'''
    return [entry(2**32 + number, 'Door'), entry(2**31 + number, 'Door'),
            entry(str(number) * MEGABYTE, 'Door')]


BROKEN = ['', 'presetposno', 'presetposno=Door', 'PRESETPOSNO4=Door',
          'x' * MEGABYTE]


class ListingTest(DaemonTestCase):
    '''Three channels; channel 2 serves a crafted listing, channel 3 an
    ordinary one, and the modifying calls succeed without an echo.'''

    def start_served(self, listing2, listing3):
        camera = self.start(3)
        camera.serve_listing(2, listing2)
        camera.serve_listing(3, listing3)
        for channel in (2, 3):
            for method in MODIFYING:
                succeed_without_effect(camera, channel, method)
        camera.clear_journal()
        return camera

    def test_channels_are_asked_to_remove_what_their_listing_numbers(self):
        # a removal of preset 4 "Door" from channel 1; only the number of
        # each entry counts
        cases = [
            ('no entries', [], False),
            ('10,000 entries, preset 4 last',
             fillers(10_000) + ['presetposno4=Door:home=0'], True),
            ('10,000 entries without preset 4', fillers(10_000), False),
            ('entries of 1 MB, preset 4 last',
             [entry(7, HUGE_NAME), 'presetposno4=' + HUGE_NAME], True),
            ('numbers that overflow', overflowing(4), False),
            ('entries missing their pieces', BROKEN, False),
            ('broken entries before preset 4',
             BROKEN + ['presetposno4'], True),
        ]
        for label, listing, listed in cases:
            with self.case(label):
                camera = self.start_served(listing,
                                           ['presetposno4=Door:home=0'])
                emit_change(camera, 1, 4, 'Door', REMOVED)
                self.tb.settle()
                removal = [remove_preset(2, 'Door')] if listed else []
                self.assertJournal([query(2)] + removal
                                   + [query(3), remove_preset(3, 'Door')])
                self.assertWarnings([])
                self.stop(0)

    def test_channels_are_updated_by_their_first_readable_entry(self):
        # an update of preset 5 to "Gate" from channel 1; channel 2 is
        # renamed when its listing has a readable entry of preset 5
        cases = [
            ('no entries', [], False),
            ('10,000 entries, preset 5 last',
             fillers(10_000) + [entry(5, 'Door')], True),
            ('entry of 1 MB for preset 5', [entry(5, HUGE_NAME)], False),
            ('entries of 1 MB, then a readable one',
             [entry(5, HUGE_NAME), 'x' * MEGABYTE, entry(5, 'Door')], True),
            ('numbers that overflow', overflowing(5), False),
            ('entries missing their pieces',
             BROKEN + ['presetposno5=Door', 'presetposno5=Door:pan=10'],
             False),
        ]
        for label, listing, found in cases:
            with self.case(label):
                camera = self.start_served(listing, [entry(5, 'Door')])
                camera.serve_listing(1, [entry(5, 'Gate')])
                emit_change(camera, 1, 5, 'Gate', UPDATED)
                self.tb.settle()
                rename = [rename_preset(2, 5, 'Gate')] if found else []
                self.assertJournal([lookup(1), lookup(2)] + rename
                                   + [lookup(3), rename_preset(3, 5, 'Gate')])
                self.assertWarnings([])
                self.stop(0)


class ReplyTypeTest(DaemonTestCase):

    def test_reply_of_another_type_fails_the_call_and_the_walk_goes_on(self):
        # channel 2's next call of the method replies with the wrong type
        def removal(camera):
            for channel in (2, 3):
                camera.seed_preset(channel, 4, 'Door')
            emit_change(camera, 1, 4, 'Door', REMOVED)

        removal_calls = [query(2), query(3), remove_preset(3, 'Door')]

        def update(camera):
            for channel in (1, 2, 3):
                camera.seed_preset(channel, 5, 'Door', 10, 20)
            camera.user_rename(1, 5, 'Gate')

        update_calls = [lookup(1), lookup(2), lookup(3),
                        rename_preset(3, 5, 'Gate')]

        def creation(camera):
            # channel 2 sends; preset 1 is its only one
            camera.seed_preset(2, 1, 'Door')
            emit_change(camera, 2, 1, 'Door', CREATED)

        creation_calls = [get_presets(2), query(1), set_preset_number(1, 1),
                          rename_preset(1, 1, 'Door'), query(3),
                          set_preset_number(3, 1),
                          rename_preset(3, 1, 'Door')]

        def recall(camera):
            for channel in (1, 2, 3):
                camera.seed_preset(channel, 5, 'Spot')
            camera.user_recall(1, 5)

        recall_calls = [state_query(2), state_query(3), goto(3, 5)]

        cases = [
            # method, reply signature and values, action, calls, message
            ('QueryPresets', 'aas', [[['presetposno4=Door']]], removal,
             removal_calls, QUERY_FAILED),
            ('QueryPresets', 'ai', [[4]], removal, removal_calls,
             QUERY_FAILED),
            ('QueryPresets', '', [], removal, removal_calls, QUERY_FAILED),
            ('QueryPresets', 's', [entry(5, 'Door')], update, update_calls,
             lookup_failed(5, 2)),
            ('QueryPresets', 'asas', [[entry(5, 'Door')], []], update,
             update_calls, lookup_failed(5, 2)),
            ('QueryPresets', 'a{ss}', [{'presetposno5': 'Door'}], update,
             update_calls, lookup_failed(5, 2)),
            ('GetPresets', 'a(us)', [[(1, 'Door')]], creation,
             creation_calls, NO_PRESET_COUNT),
            ('GetPresets', 'ia(us)', [1, [(1, 'Door')]], creation,
             creation_calls, NO_PRESET_COUNT),
            ('GetPresets', '(ua(us))', [(1, [(1, 'Door')])], creation,
             creation_calls, NO_PRESET_COUNT),
            ('GetPresets', '', [], creation, creation_calls,
             NO_PRESET_COUNT),
            ('GetPtzPresetState', 'iu', [0, 0], recall, recall_calls,
             state_failed(2)),
            ('GetPtzPresetState', '(ii)', [(0, 0)], recall, recall_calls,
             state_failed(2)),
            ('GetPtzPresetState', 'ss', ['0', '0'], recall, recall_calls,
             state_failed(2)),
        ]
        for method, signature, values, action, calls, message in cases:
            with self.case(f'{method} replying "{signature}"'):
                camera = self.start(3)
                camera.reply_wrong_type(2, method, signature, values, 1)
                action(camera)
                self.tb.settle()
                # after these come the lookups that the echoes of the
                # renames in a creation lead to
                self.assertEqual(self.journal()[:len(calls)], calls)
                self.assertWarnings([message])
                self.stop(0)

    def test_reply_nothing_reads_counts_as_success_whatever_its_type(self):
        # the call succeeds, so its echo is expected: the echo, sent by
        # hand as the camera does not act, is dropped without a call
        def change(number, name, kind, channel=1):
            return (channel_path(channel), CHANNEL_SERVICE, CHANGE_SIGNAL,
                    CHANGE_SIGNATURE,
                    [number, name, kind, {'SET_HOME': False}, {}])

        def recall(channel):
            return (coordinator_path(channel), COORDINATOR, 'PtzPresetState',
                    'iii', [channel, 5, 1])

        def seed(channel, number, name):
            return lambda camera: camera.seed_preset(channel, number, name)

        def listings(other):
            def serve(camera):
                camera.serve_listing(1, [entry(5, 'Gate')])
                camera.serve_listing(2, [other])
            return serve

        cases = [
            # method, reply, set-up, signal, calls, echo
            ('SetPresetName', 's', ['done'], seed(1, 1, 'Door'),
             change(1, 'Door', CREATED),
             [get_presets(1), query(2), set_preset_name(2, 'Door')],
             change(1, 'Door', CREATED, 2)),
            ('SetPresetNumber', 'i', [1], None, change(5, 'Pos5', CREATED),
             [get_presets(1), query(2), set_preset_number(2, 5)],
             change(5, 'Pos5', CREATED, 2)),
            ('RenamePreset', 'ii', [0, 1], listings(entry(5, 'Door')),
             change(5, 'Gate', UPDATED),
             [lookup(1), lookup(2), rename_preset(2, 5, 'Gate')],
             change(5, 'Gate', UPDATED, 2)),
            ('UpdatePreset', 'as', [['done']],
             listings(entry(5, 'Door', pan=30)), change(5, 'Gate', UPDATED),
             [lookup(1), lookup(2), update_preset(2, 5, 'Gate')],
             change(5, 'Gate', UPDATED, 2)),
            ('RemovePresetName', 'a{sv}', [{'removed': 1}],
             seed(2, 5, 'Door'), change(5, 'Door', REMOVED),
             [query(2), remove_preset(2, 'Door')],
             change(5, 'Door', REMOVED, 2)),
            ('GotoPresetNumber', 'ua(us)', [0, [(5, 'Spot')]],
             seed(2, 5, 'Spot'), recall(1), [state_query(2), goto(2, 5)],
             recall(2)),
        ]
        for method, signature, values, set_up, signal, calls, echo in cases:
            with self.case(f'{method} replying "{signature}"'):
                camera = self.start(2)
                camera.reply_wrong_type(2, method, signature, values)
                if set_up:
                    set_up(camera)
                camera.emit_raw(*signal)
                self.tb.settle()
                self.assertJournal(calls)
                camera.emit_raw(*echo)
                self.tb.settle()
                self.assertJournal(calls)
                self.assertWarnings([])
                self.stop(0)


if __name__ == '__main__':
    unittest.main()
