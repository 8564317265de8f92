'''Start-up, set-up failures, channel counts and the exit status.'''

import unittest

from base import DaemonTestCase
from testbed import subscription_rules


class LifecycleTest(DaemonTestCase):

    def test_clean_start_and_sigterm_exit_zero_and_log_nothing(self):
        for channels in (1, 4):
            with self.case(f'{channels} channels'):
                self.start(channels)
                self.quiet_period()
                self.assertEqual(self.stop(0), [])

    def test_failed_setup_keeps_running_then_reports_and_exits_one(self):
        def no_bus(tb):
            tb.start_daemon(bus_address=f'unix:path={tb.dir}/no-such-bus')

        def no_coordinator(tb):
            tb.start_bus()
            tb.start_daemon()
            tb.wait_connected()

        def channel_count_fault(fault):
            def start(tb):
                tb.start_bus()
                fault(tb.start_camera(2))
                tb.start_daemon()
                tb.wait_for_call('GetNumberOfChannels')
            return start

        def wrong_reply(signature, args):
            return channel_count_fault(lambda camera: camera.reply_wrong_type(
                0, 'GetNumberOfChannels', signature, args))

        cases = {
            'no bus reachable': no_bus,
            'coordinator absent': no_coordinator,
            'GetNumberOfChannels fails': channel_count_fault(
                lambda camera: camera.fail_method(0, 'GetNumberOfChannels')),
            'channel count as a string': wrong_reply('s', ['2']),
            'channel count unsigned': wrong_reply('u', [2]),
            'channel count with a second value': wrong_reply('ii', [2, 0]),
            'empty reply': wrong_reply('', []),
        }
        for label, start in cases.items():
            with self.case(label):
                start(self.tb)
                self.quiet_period()
                if self.tb.bus_address:
                    self.assertEqual(
                        subscription_rules(self.tb.daemon_match_rules()), [])
                self.assertStartFailureOnly()

    def test_channel_count_below_one_runs_without_channels(self):
        # a negative count is taken as no channels at all
        for channels in (0, -3):
            with self.case(f'{channels} channels'):
                camera = self.tb.start(channels)
                self.quiet_period()
                self.assertEqual(
                    subscription_rules(self.tb.daemon_match_rules()), [])
                self.assertEqual([e.member for e in camera.journal()],
                                 ['GetNumberOfChannels'])
                self.assertEqual(self.stop(0), [])


if __name__ == '__main__':
    unittest.main()
