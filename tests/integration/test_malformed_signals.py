'''Malformed signals, as any peer on the bus may send them: each is ignored
or handled by the ordinary rules, makes no call that is not due, ends in no
GLib critical (fatal here) and no crash, and the next good change is
mirrored as usual.

Kinds 0, 4 and the largest uint32 and preset 0 of configuration changes are
in test_change_intake, with other payloads of the wrong type; states 0 and
2, preset 0 and short or long payloads of the recall signals in
test_recall.
'''

import unittest

from base import DaemonTestCase
from change_signals import (CHANGE_SIGNAL, CHANGE_SIGNATURE, CREATED,
                            REMOVED, UPDATED, create_by_name_failed,
                            create_by_number_failed, get_presets, goto,
                            goto_failed, lookup, query, remove_preset,
                            rename_preset, set_preset_name, set_preset_number,
                            state_query, unsupported_space)
from testbed import CHANNEL_SERVICE, COORDINATOR, channel_path, \
    coordinator_path

INT32_MAX = 2**31 - 1
INT32_MIN = -2**31
UINT32_MAX = 2**32 - 1

NAME_96 = 'x' * 94 + '\u00e9'   # 96 bytes; a cut at 95 splits the last one
NAME_10K = 'n' * 10_000
NAME_1M = 'm' * 1_000_000
MANY_FLAGS = {f'FLAG_{n}': n % 2 == 0 for n in range(998)}


def change(number, name, kind, flags=None, properties=None):
    '''A PresetConfigurationChanged2 payload.'''
    return CHANGE_SIGNATURE, [number, name, kind,
                              {'SET_HOME': False} if flags is None else flags,
                              {} if properties is None else properties]


class ConfigurationChangeTest(DaemonTestCase):
    '''Two channels that both hold 1 "A" and 2 "B"; channel 1 sends.'''

    # what a good change of each kind costs once the change before it has
    # left nothing behind: its calls, and no more once its echo came back
    GOOD_CHANGES = {
        CREATED: (lambda camera: camera.user_create_by_number(1, 9),
                  [get_presets(1), query(2), set_preset_number(2, 9)]),
        UPDATED: (lambda camera: camera.user_rename(1, 1, 'Hall'),
                  [lookup(1), lookup(2), rename_preset(2, 1, 'Hall')]),
        REMOVED: (lambda camera: camera.user_remove(1, 2),
                  [query(2), remove_preset(2, 'B')]),
    }

    def test_malformed_change_is_ignored_or_mirrored_by_the_rules(self):
        creation_start = [get_presets(1), query(2)]
        cases = [
            # label, presets seeded {channel: {number: name}}, payload,
            # calls, messages
            ('only the number', {}, ('u', [3]), [], []),
            ('one field too many', {},
             ('usua{sb}a{sv}u', change(3, 'Door', CREATED)[1] + [7]), [],
             []),
            ('the name as an object path', {},
             ('uoua{sb}a{sv}', [3, '/Door', CREATED, {}, {}]), [], []),
            ('flags of int values', {},
             ('usua{si}a{sv}', [3, 'Door', CREATED, {'SET_HOME': 1}, {}]),
             [], []),
            ('all fields in one struct', {},
             ('(usua{sb}a{sv})', [change(3, 'Door', CREATED)[1]]), [], []),
            # read as a signed preset number: -1 is not 0 and is passed on,
            # the camera refuses it
            ('largest uint32 number, created', {},
             change(UINT32_MAX, 'Door', CREATED),
             creation_start + [set_preset_number(2, -1)],
             [create_by_number_failed(-1, 2)]),
            ('number 2^31, removed', {},
             change(2**31, 'B', REMOVED), [query(2)], []),
            ('number 2^31, updated', {},
             change(2**31, 'B', UPDATED), [lookup(1)], []),
            ('empty name', {1: {3: ''}}, change(3, '', CREATED),
             creation_start + [set_preset_name(2, '')],
             [create_by_name_failed(3, '', 2)]),
            ('name of 96 bytes', {1: {3: NAME_96}},
             change(3, NAME_96, CREATED),
             creation_start + [set_preset_name(2, NAME_96)], []),
            ('name of 10,000 bytes', {1: {3: NAME_10K}},
             change(3, NAME_10K, CREATED),
             creation_start + [set_preset_name(2, NAME_10K)], []),
            ('name of 1,000,000 bytes', {1: {3: NAME_1M}},
             change(3, NAME_1M, CREATED),
             creation_start + [set_preset_name(2, NAME_1M)], []),
            # a listing entry keeps at most 95 bytes of name, so the
            # source's own entry cannot be read
            ('name of 10,000 bytes, updated', {1: {1: NAME_10K}},
             change(1, NAME_10K, UPDATED), [lookup(1)], []),
            ('name of 1,000,000 bytes, removed', {2: {3: NAME_1M}},
             change(3, NAME_1M, REMOVED),
             [query(2), remove_preset(2, NAME_1M)], []),
            ('1,000 flags, SET_HOME true among them', {1: {3: 'Door'}},
             change(3, 'Door', CREATED,
                    dict(MANY_FLAGS, SET_HOME=True, LAST=False),
                    {f'p{n}': n for n in range(1000)}),
             creation_start + [set_preset_name(2, 'Door', True)], []),
            ('1,000 flags, no SET_HOME', {1: {3: 'Door'}},
             change(3, 'Door', CREATED,
                    dict(MANY_FLAGS, SET_HOME_=True, set_home=True)),
             creation_start + [set_preset_name(2, 'Door', False)], []),
        ]
        for label, seeds, (signature, args), calls, messages in cases:
            with self.case(label):
                camera = self.start(2)
                for channel in (1, 2):
                    camera.seed_preset(channel, 1, 'A')
                    camera.seed_preset(channel, 2, 'B')
                    for number, name in seeds.get(channel, {}).items():
                        camera.seed_preset(channel, number, name)
                camera.emit_raw(channel_path(1), CHANNEL_SERVICE,
                                CHANGE_SIGNAL, signature, args)
                self.tb.settle()
                self.assertJournal(calls)
                self.assertWarnings(messages)

                kind = args[2] if signature == CHANGE_SIGNATURE else CREATED
                action, good_calls = self.GOOD_CHANGES[kind]
                camera.clear_journal()
                action(camera)
                self.tb.settle()
                self.assertJournal(good_calls)
                self.assertWarnings(messages)
                self.stop(0)


class RecallSignalTest(DaemonTestCase):
    '''One daemon for a whole table: every row is followed by a good recall
    that must cost exactly its two calls, so no row left a record behind.'''

    def start_with_presets(self):
        camera = self.start(2)
        self.seed_spots((1, 2), (5, 7))
        self.good_presets = iter([7, 5] * 20)
        return camera

    def good_recall(self, label, speed=0):
        preset = next(self.good_presets)
        self.camera.clear_journal()
        self.camera.user_recall(1, preset)
        self.tb.settle()
        self.assertJournal([state_query(2), goto(2, preset, speed)])
        self.assertEqual(self.camera.state()['channels'][2]['reported'],
                         preset, label)

    def test_malformed_recall_signal_is_ignored_or_mirrored_by_the_rules(
            self):
        def signal(channel, preset, state=1):
            return 'iii', [channel, preset, state]

        cases = [
            ('unsigned fields', ('uuu', [1, 5, 1]), [], []),
            ('a string state', ('iis', [1, 5, '1']), [], []),
            ('largest int32 preset', signal(1, INT32_MAX),
             [state_query(2), goto(2, INT32_MAX)],
             [goto_failed(INT32_MAX, 2)]),
            ('lowest int32 preset', signal(1, INT32_MIN),
             [state_query(2), goto(2, INT32_MIN)],
             [goto_failed(INT32_MIN, 2)]),
            ('preset -1, the bits of the largest uint32', signal(1, -1),
             [state_query(2), goto(2, -1)], [goto_failed(-1, 2)]),
            ('largest int32 channel', signal(INT32_MAX, 5), [], []),
            ('lowest int32 channel', signal(INT32_MIN, 5), [], []),
            ('largest int32 state', signal(1, 5, INT32_MAX), [], []),
            ('lowest int32 state', signal(1, 5, INT32_MIN), [], []),
        ]
        camera = self.start_with_presets()
        messages = []
        for label, (signature, args), calls, new_messages in cases:
            messages += new_messages
            with self.subTest(label):
                camera.clear_journal()
                camera.emit_raw(coordinator_path(1), COORDINATOR,
                                'PtzPresetState', signature, args)
                self.tb.settle()
                self.assertJournal(calls)
                self.assertWarnings(messages)
                self.good_recall(label)
        self.stop(0)

    def test_malformed_speed_signal_sets_the_speed_by_the_rules(self):
        # each row follows an announced speed of 25; the speed the next
        # recall carries shows what the row left
        cases = [
            ('largest int32 speed', ('iii', [0, INT32_MAX, 0]), INT32_MAX,
             []),
            ('lowest int32 speed', ('iii', [0, INT32_MIN, 0]), INT32_MIN,
             []),
            ('first field at the limit', ('iii', [INT32_MIN, 30, 0]), 30, []),
            ('largest int32 space', ('iii', [0, 30, INT32_MAX]), 0,
             [unsupported_space(INT32_MAX)]),
            ('lowest int32 space', ('iii', [0, 30, INT32_MIN]), 0,
             [unsupported_space(INT32_MIN)]),
            ('unsigned fields', ('uuu', [0, UINT32_MAX, 0]), 0, []),
            ('a string speed', ('isi', [0, '30', 0]), 0, []),
        ]
        camera = self.start_with_presets()
        messages = []
        for label, (signature, args), speed, new_messages in cases:
            messages += new_messages
            with self.subTest(label):
                camera.announce_speed(2, 25)
                camera.emit_raw(coordinator_path(2), COORDINATOR,
                                'PresetSpeed', signature, args)
                # the speed signals make no call: the recall's are all
                self.good_recall(label, speed)
                self.assertWarnings(messages)
        self.stop(0)


if __name__ == '__main__':
    unittest.main()
