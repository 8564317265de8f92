'''Faults of the platform around the service: services absent at start or
leaving the bus, methods failing or never answering, the bus going away.

Besides the simulated camera's own fault methods, these tests give the
camera three more through its dbusmock interface: giving up and taking
back one of its bus names, and leaving one method's calls unanswered.
'''

import time
import unittest

from base import DaemonTestCase
from change_signals import (NO_PRESET_COUNT, QUERY_FAILED,
                            create_by_name_failed, create_by_number_failed,
                            get_presets, goto, goto_failed, lookup_failed,
                            query, remove_failed, rename_failed,
                            rename_preset, set_preset_name, set_preset_number,
                            state_failed, state_query, update_failed)
from testbed import (CHANNEL_SERVICE, CONTROL_IFACE, COORDINATOR,
                     COORDINATOR_PATH, coordinator_path, subscription_rules,
                     timeout)

MOCK_IFACE = 'org.freedesktop.DBus.Mock'
NAME_FLAG_DO_NOT_QUEUE = 4

# Run in the camera process by dbusmock, with "self" the coordinator's top
# object and "args" the call's arguments.
RELEASE_NAME = 'self.bus_name.get_bus().release_name(args[0])'
REQUEST_NAME = ('ret = self.bus_name.get_bus().request_name(args[0], '
                f'{NAME_FLAG_DO_NOT_QUEUE})')
NEVER_ANSWER = '''
import dbus.lowlevel as lowlevel


def swallow(connection, message, path=args[0], member=args[1],
            lowlevel=lowlevel):
    if (message.get_type() == lowlevel.MESSAGE_TYPE_METHOD_CALL
            and message.get_path() == path
            and message.get_member() == member):
        return lowlevel.HANDLER_RESULT_HANDLED
    return lowlevel.HANDLER_RESULT_NOT_YET_HANDLED


# after the camera's own filter, which journals the call
self.bus_name.get_bus().add_message_filter(swallow)
'''
EXTRA_METHODS = {
    'ReleaseName': ('s', '', RELEASE_NAME),
    'RequestName': ('s', 'u', REQUEST_NAME),
    'NeverAnswer': ('ss', '', NEVER_ANSWER),
}


class PlatformFaultTest(DaemonTestCase):

    def add_camera_methods(self):
        top = self.tb.connection().get_object(COORDINATOR, COORDINATOR_PATH,
                                              introspect=False)
        for name, (in_sig, out_sig, code) in EXTRA_METHODS.items():
            top.AddMethod(CONTROL_IFACE, name, in_sig, out_sig, code,
                          dbus_interface=MOCK_IFACE)

    def camera_call(self, method, signature, *args, via=COORDINATOR):
        return self.tb.connection().call_blocking(
            via, COORDINATOR_PATH, CONTROL_IFACE, method, signature, args)

    def never_answer(self, channel, method):
        self.camera_call('NeverAnswer', 'ss', coordinator_path(channel),
                         method)

    def start_camera(self, channels, presets=()):
        '''Bus and camera, with presets on every channel, and no daemon.'''
        self.tb.start_bus()
        self.camera = self.tb.start_camera(channels)
        self.add_camera_methods()
        self.seed_spots(range(1, channels + 1), presets)
        return self.camera

    def start_with_presets(self, channels, presets=(5,)):
        self.start_camera(channels, presets)
        self.tb.start_daemon()
        self.tb.wait_subscribed(channels)
        self.camera.clear_journal()
        return self.camera

    def test_setup_fails_while_the_coordinator_is_absent(self):
        # the channel service alone is of no use
        self.start_camera(2)
        self.camera_call('ReleaseName', 's', COORDINATOR)
        self.tb.start_daemon()
        self.tb.wait_connected()
        self.quiet_period()
        self.assertEqual(subscription_rules(self.tb.daemon_match_rules()), [])
        self.assertStartFailureOnly()

    def test_channel_service_is_needed_only_once_called(self):
        camera = self.start_camera(2, presets=(1,))
        self.camera_call('ReleaseName', 's', CHANNEL_SERVICE)
        self.tb.start_daemon()
        self.tb.wait_subscribed(2)
        camera.clear_journal()

        # recalls never ask the channel service
        camera.user_recall(1, 1)
        self.tb.settle()
        self.assertJournal([state_query(2), goto(2, 1)])
        # a creation cannot count the source's presets, so it is made by
        # number and renamed
        camera.clear_journal()
        camera.user_create_by_name(1, 'Door')
        self.tb.settle()
        self.assertJournal([query(2), set_preset_number(2, 2),
                            rename_preset(2, 2, 'Door')])
        self.assertWarnings([NO_PRESET_COUNT])

        self.camera_call('RequestName', 's', CHANNEL_SERVICE)
        camera.clear_journal()
        camera.user_create_by_name(1, 'Gate')
        self.tb.settle()
        self.assertJournal([get_presets(1), query(2),
                            set_preset_name(2, 'Gate')])
        channels = self.channel_states()
        self.assertEqual(channels[1], channels[2])
        self.assertWarnings([NO_PRESET_COUNT])
        self.stop(0)

    def test_method_failing_on_one_channel_leaves_only_that_one_behind(self):
        # three channels holding preset 1 "Door"; the change comes from
        # channel 1 and the method fails on every call on one channel
        def create_by_name(camera):
            camera.user_create_by_name(1, 'Gate')

        def rename(camera):
            camera.user_rename(1, 1, 'Gate')

        def move(camera):
            camera.user_move(40.0, -15.0)
            camera.user_update_position(1, 1)

        def recall(camera):
            camera.user_recall(1, 1)

        door, both = {1: 'Door'}, {1: 'Door', 2: 'Gate'}
        cases = [
            # label, failing channel, method, action, message, channel 2
            # afterwards (reported, presets)
            ('GetPresets', 1, 'GetPresets', create_by_name, NO_PRESET_COUNT,
             (0, both)),
            ('QueryPresets in a removal', 2, 'QueryPresets',
             lambda camera: camera.user_remove(1, 1), QUERY_FAILED,
             (0, door)),
            ('QueryPresets in an update', 2, 'QueryPresets', rename,
             lookup_failed(1, 2), (0, door)),
            ('SetPresetName', 2, 'SetPresetName', create_by_name,
             create_by_name_failed(2, 'Gate', 2), (0, door)),
            ('SetPresetNumber', 2, 'SetPresetNumber',
             lambda camera: camera.user_create_by_number(1, 7),
             create_by_number_failed(7, 2), (0, door)),
            ('RenamePreset', 2, 'RenamePreset', rename,
             rename_failed(1, 'Gate', 2), (0, door)),
            ('UpdatePreset', 2, 'UpdatePreset', move,
             update_failed(1, 'Door', 2), (0, door)),
            ('RemovePresetName', 2, 'RemovePresetName',
             lambda camera: camera.user_remove(1, 1),
             remove_failed(1, 'Door', 2), (0, door)),
            ('GetPtzPresetState', 2, 'GetPtzPresetState', recall,
             state_failed(2), (0, door)),
            ('GotoPresetNumber', 2, 'GotoPresetNumber', recall,
             goto_failed(1, 2), (0, door)),
        ]
        errors = ['', 'org.freedesktop.DBus.Error.AccessDenied',
                  'org.freedesktop.DBus.Error.UnknownMethod',
                  'org.freedesktop.DBus.Error.NoReply',
                  'org.freedesktop.DBus.Error.LimitsExceeded']
        for n, (label, failing, method, action, message,
                (reported, presets)) in enumerate(cases):
            with self.case(label):
                camera = self.start(3)
                for channel in (1, 2, 3):
                    camera.seed_preset(channel, 1, 'Door')
                camera.fail_method(failing, method, -1,
                                   errors[n % len(errors)])
                action(camera)
                self.tb.settle()
                channels = self.channel_states()
                self.assertEqual(channels[3], channels[1])
                names = self.preset_names()
                self.assertEqual((channels[2][1], names[2]),
                                 (reported, presets))
                self.assertWarnings([message])

                # once the fault is gone the next change reaches all three
                camera.clear_faults()
                camera.user_create_by_number(3, 9)
                self.tb.settle()
                names = self.preset_names()
                for channel in (1, 2, 3):
                    self.assertEqual(names[channel].get(9), 'Pos9', channel)
                self.assertWarnings([message])
                self.stop(0)

    def test_coordinator_leaving_mid_walk_fails_the_rest_then_comes_back(
            self):
        camera = self.start_with_presets(4)
        daemon = self.tb.daemon.pid
        self.never_answer(2, 'GotoPresetNumber')
        camera.user_recall(1, 5)
        self.tb.wait_for_call('GotoPresetNumber')
        self.assertJournal([state_query(2), goto(2, 5)])

        # the unanswered call fails as its callee leaves, the rest find
        # nobody to call
        self.tb.camera_process.terminate()
        self.tb.camera_process.wait()
        walk_failures = [goto_failed(5, 2), state_failed(3), state_failed(4)]
        self.tb.wait_for_log(walk_failures[-1])
        self.assertWarnings(walk_failures)

        # a new camera process under the same names, with no restart of
        # the daemon
        self.camera = camera = self.tb.start_camera(4)
        self.seed_spots((1, 2, 3, 4), (7,))
        camera.user_recall(2, 7)
        self.tb.settle()
        camera.user_create_by_name(3, 'Door')
        self.tb.settle()
        channels = self.channel_states()
        self.assertEqual(channels[2][1], 7)
        self.assertEqual(channels, {n: channels[2] for n in (1, 2, 3, 4)})
        self.assertEqual(self.preset_names()[1], {1: 'Door', 7: 'Spot 7'})
        self.assertEqual(self.tb.daemon.pid, daemon)
        self.assertWarnings(walk_failures)
        self.stop(0)

    def test_unanswered_call_blocks_the_walk_until_its_timeout(self):
        # the only test that waits the call timeout of 25 s
        camera = self.start_with_presets(3)
        self.never_answer(2, 'GotoPresetNumber')
        started = time.monotonic()
        camera.user_recall(1, 5)
        self.tb.wait_for_call('GotoPresetNumber')
        # a change while the walk is blocked waits for it, and is not lost
        camera.user_create_by_number(3, 9)
        self.tb.wait_for_log(goto_failed(5, 2), seconds=60)
        self.assertGreaterEqual(time.monotonic() - started, 24.0)
        self.tb.settle()
        self.assertEqual(self.journal()[:4], [state_query(2), goto(2, 5),
                                              state_query(3), goto(3, 5)])
        self.assertEqual([self.channel_states()[n][1] for n in (1, 2, 3)],
                         [5, 0, 5])
        names = self.preset_names()
        self.assertEqual([names[n] for n in (1, 2, 3)],
                         [{5: 'Spot 5', 9: 'Pos9'}] * 3)
        self.assertWarnings([goto_failed(5, 2)])
        self.stop(0)

    def test_bus_going_away_ends_the_daemon_with_status_zero(self):
        # GLib raises SIGTERM when the bus connection is lost; the daemon
        # takes it as an ordinary stop
        def idle():
            return []

        def in_a_walk():
            self.never_answer(2, 'GotoPresetNumber')
            self.camera.user_recall(1, 5)
            self.tb.wait_for_call('GotoPresetNumber')
            # the unanswered call and the rest of the walk fail at once
            return [goto_failed(5, 2), state_failed(3)]

        for label, before in (('idle', idle), ('in a walk', in_a_walk)):
            with self.case(label):
                self.start_with_presets(3)
                messages = before()
                self.tb.bus_process.terminate()
                self.tb.bus_process.wait()
                self.tb.daemon.wait(timeout(10))
                self.stop(0)
                self.assertWarnings(messages)


if __name__ == '__main__':
    unittest.main()
