'''The daemon's signal subscriptions and what they let through.'''

import unittest

from base import DaemonTestCase
from change_signals import (CHANGE_SIGNAL, CHANNEL_IFACE, CHANGE_SIGNATURE,
                            CREATED, get_presets, unsupported_space)
from testbed import (CHANNEL_SERVICE, COORDINATOR, channel_path,
                     coordinator_path, expected_subscriptions,
                     parse_match_rule)


class SubscriptionTest(DaemonTestCase):

    def test_two_channels_subscribe_three_signals_each_exactly(self):
        self.start(2)
        rules = [parse_match_rule(rule)
                 for rule in self.tb.daemon_match_rules()]
        # the proxies' own rules name a sender; the subscriptions do not
        self.assertCountEqual([rule for rule in rules if 'sender' not in rule],
                              expected_subscriptions(2))
        self.stop(0)

    def test_only_signals_matching_interface_member_and_path_are_handled(self):
        change = (CHANGE_SIGNAL, CHANGE_SIGNATURE,
                  [5, 'Door', CREATED, {'SET_HOME': False}, {}])
        speed = ('PresetSpeed', 'iii', [0, 0, 777])
        speed_warning = [unsupported_space(777)]
        first_call = [get_presets(1)]
        cases = [
            ('change from the channel service', channel_path(1),
             CHANNEL_SERVICE, change, first_call, []),
            ('change with the object interface', channel_path(1),
             CHANNEL_IFACE, change, [], []),
            ('speed from the coordinator', coordinator_path(2), COORDINATOR,
             speed, [], speed_warning),
            ('speed with another interface', coordinator_path(2),
             CHANNEL_SERVICE, speed, [], []),
            ('speed from a channel service object', channel_path(2),
             COORDINATOR, speed, [], []),
        ]
        for label, path, interface, signal, calls, messages in cases:
            with self.case(label):
                camera = self.start(2)
                member, signature, args = signal
                camera.emit_raw(path, interface, member, signature, args)
                self.tb.settle()
                self.assertEqual(self.journal()[:len(calls)], calls)
                if not calls:
                    self.assertJournal([])
                self.assertLogMessages(messages)


if __name__ == '__main__':
    unittest.main()
