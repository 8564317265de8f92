'''Long runs of one kind of change each on four channels, from every channel
in turn: after every change the channels are in step and every other channel
was changed exactly once, so every echo of ours was recognised.

CI runs these with the daemon under valgrind (meson test --setup valgrind);
each run ends with SIGTERM, so valgrind's leak check runs and decides the exit
status.
'''

import unittest

from base import DaemonTestCase
from change_signals import goto, modifying
from testbed import coordinator_path, under_valgrind

CHANNELS = (1, 2, 3, 4)


def others(channel):
    return [n for n in CHANNELS if n != channel]


class LongScenarioTest(DaemonTestCase):

    def assertInStep(self, label):
        channels = self.channel_states()
        self.assertEqual(channels, {n: channels[1] for n in CHANNELS}, label)

    def round(self, label, action):
        '''Runs one change and returns its calls once everything settled.'''
        calls = self.settled_journal(action)
        self.assertInStep(label)
        return calls

    def assertOnceOnEachOther(self, calls, members, source, label):
        targets = sorted(path for path, member, _ in calls
                         if member in members)
        self.assertEqual(targets, [coordinator_path(n)
                                   for n in others(source)], label)

    def finish(self):
        self.assertWarnings([])
        self.stop(0)
        if under_valgrind():
            self.assertIn('ERROR SUMMARY: 0 errors', self.tb.daemon_output())

    def seed_everywhere(self, numbers):
        self.seed_spots(CHANNELS, numbers,
                        lambda number: (10.0 * number, -1.0 * number))

    def test_thirty_recalls_move_every_other_channel_once_at_its_speed(self):
        camera = self.start(len(CHANNELS))
        self.seed_everywhere(range(1, 7))
        for r in range(30):
            source, preset, speed = r % 4 + 1, r * 5 % 6 + 1, 10 + r
            label = f'recall {r}: preset {preset} on channel {source}'

            def recall():
                # after the last probe, which resets the speed
                camera.announce_speed(source, speed)
                camera.user_recall(source, preset)
            calls = self.round(label, recall)
            self.assertEqual(
                [call for call in calls if call[1] == 'GotoPresetNumber'],
                [goto(n, preset, speed) for n in others(source)], label)
            self.assertEqual(self.channel_states()[1][1], preset, label)
        self.finish()

    def test_thirty_creations_by_name_and_by_number_end_in_step(self):
        camera = self.start(len(CHANNELS))
        members = set()
        for r in range(30):
            source, home = r % 4 + 1, r % 5 == 2
            if r >= 12 and r % 3 == 0:
                # numbers with gaps: the creations by name that follow are
                # made by number and renamed on the other channels
                label = f'creation {r}: number {40 + r} on {source}'
                action = (lambda: camera.user_create_by_number(
                    source, 40 + r, home))
            else:
                label = f'creation {r}: by name on {source}'
                action = (lambda: camera.user_create_by_name(
                    source, f'Spot {r}', home))
            calls = self.round(label, action)
            self.assertOnceOnEachOther(
                calls, ('SetPresetName', 'SetPresetNumber'), source, label)
            members.update(member for _, member, _ in calls)
        self.assertEqual(len(self.channel_states()[1][2]), 30)
        # both ways of creating were taken
        self.assertLessEqual({'SetPresetName', 'SetPresetNumber',
                              'RenamePreset'}, members)
        self.finish()

    def test_thirty_renames_moves_and_home_changes_end_in_step(self):
        camera = self.start(len(CHANNELS))
        self.seed_everywhere(range(1, 7))
        for r in range(10):
            number = r % 6 + 1
            renamed, moved, made_home = (r % 4 + 1, (r + 1) % 4 + 1,
                                         (r + 2) % 4 + 1)
            steps = [
                (f'round {r}: rename of {number} on {renamed}', renamed,
                 'RenamePreset',
                 lambda: camera.user_rename(renamed, number, f'Spot {r}')),
                # 5 apart from every other position: always a move
                (f'round {r}: move of {number} on {moved}', moved,
                 'UpdatePreset',
                 lambda: (camera.user_move(100.0 + 5 * r, -20.0 - r),
                          camera.user_update_position(moved, number))),
                (f'round {r}: {number} made home on {made_home}', made_home,
                 'SetPresetName',
                 lambda: camera.user_make_home(made_home, number)),
            ]
            for label, source, member, action in steps:
                calls = self.round(label, action)
                self.assertOnceOnEachOther(calls, (member,), source, label)
                self.assertEqual(len(modifying(calls)), 3, label)
        self.assertEqual(self.channel_states()[1][0], 4)
        self.finish()

    def test_thirty_six_removals_leave_every_channel_empty(self):
        camera = self.start(len(CHANNELS))
        self.seed_everywhere(range(1, 37))
        for r in range(36):
            # 7 and 36 are coprime: every preset once, in a scattered order
            source, number = r % 4 + 1, r * 7 % 36 + 1
            label = f'removal {r}: preset {number} on {source}'
            calls = self.round(
                label, lambda: camera.user_remove(source, number))
            self.assertOnceOnEachOther(calls, ('RemovePresetName',), source,
                                       label)
        self.assertEqual(self.channel_states()[1][2], {})
        self.finish()


if __name__ == '__main__':
    unittest.main()
