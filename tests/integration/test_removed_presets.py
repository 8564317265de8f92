'''A preset removed on one channel is removed from the channels listing it.'''

import unittest

from base import DaemonTestCase
from change_signals import (QUERY_FAILED, query, remove_failed,
                            remove_preset, succeed_without_effect)


class RemovedPresetTest(DaemonTestCase):

    def test_created_then_removed_on_four_channels(self):
        camera = self.start(4)
        camera.user_create_by_name(1, 'Door')
        self.tb.settle()
        self.assertEqual(self.preset_names(),
                         {n: {1: 'Door'} for n in (1, 2, 3, 4)})
        camera.clear_journal()
        camera.user_remove(1, 1)
        self.tb.settle()
        # the three echoes are recognised
        self.assertJournal([
            query(2), remove_preset(2, 'Door'), query(3),
            remove_preset(3, 'Door'), query(4), remove_preset(4, 'Door')])
        self.assertEqual(self.preset_names(), {n: {} for n in (1, 2, 3, 4)})
        self.assertLogMessages([])

    def test_channels_listing_the_number_are_sent_the_signals_name(self):
        camera = self.start(3)
        camera.seed_preset(1, 4, 'Door')
        camera.seed_preset(2, 4, 'Gate')
        succeed_without_effect(camera, 2, 'RemovePresetName')
        camera.user_remove(1, 4)
        self.tb.settle()
        # channel 3 does not list number 4 and is left alone
        self.assertJournal([query(2), remove_preset(2, 'Door'), query(3)])
        self.assertLogMessages([])

    def test_failures_are_logged_per_channel_and_the_walk_goes_on(self):
        # a removal on channel 2; channels 1 and 3 list preset 4 as well.
        # The echo of the removal that succeeded is dropped whatever the
        # walk's result, and nothing is retried on the channel that failed.
        walk = [query(1), remove_preset(1, 'Door'), query(3),
                remove_preset(3, 'Door')]
        door = {4: 'Door'}
        cases = [
            ('success on 1, failure on 3', 3, 'RemovePresetName', walk,
             {1: {}, 3: door}, [remove_failed(4, 'Door', 3)]),
            ('failure on 1, success on 3', 1, 'RemovePresetName', walk,
             {1: door, 3: {}}, [remove_failed(4, 'Door', 1)]),
            ('listing of 1 unreadable', 1, 'QueryPresets',
             [query(1), query(3), remove_preset(3, 'Door')],
             {1: door, 3: {}}, [QUERY_FAILED]),
        ]
        for label, failing, method, calls, left, messages in cases:
            with self.case(label):
                camera = self.start(3)
                for channel in (1, 2, 3):
                    camera.seed_preset(channel, 4, 'Door')
                camera.fail_method(failing, method, 1)
                camera.user_remove(2, 4)
                self.tb.settle()
                self.assertJournal(calls)
                self.assertEqual(self.preset_names(), {2: {}, **left})
                self.assertWarnings(messages)


if __name__ == '__main__':
    unittest.main()
