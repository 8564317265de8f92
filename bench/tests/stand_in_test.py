#!/usr/bin/python3
"""The stand-in process as the load tests drive it: commands on stdin, calls on stdout.

    stand_in_test.py PATH-TO-ptz-stand-in
"""
import os
import select
import subprocess
import sys
import time
import unittest

from gi.repository import Gio, GLib

from private_bus import PrivateBusTestCase

STAND_IN = sys.argv.pop(1) if len(sys.argv) > 1 else "build/bench/ptz-stand-in"
COORDINATOR = "com.orvo.PTZ.Coordinator"
CHANNEL_SERVICE = "com.orvo.Ptz1"


class StandInTest(PrivateBusTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.connection = Gio.DBusConnection.new_for_address_sync(
            cls.address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)

    @classmethod
    def tearDownClass(cls):
        cls.connection.close_sync(None)
        super().tearDownClass()

    def setUp(self):
        self.process = subprocess.Popen([STAND_IN, "--channels", "3"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, env=self.env)
        self.pending = ""
        self.assertEqual(self.line().split()[0], "ready")
        self.signals = []
        self.subscription = self.connection.signal_subscribe(
            None, None, None, None, None, Gio.DBusSignalFlags.NONE,
            lambda *args: self.signals.append((args[3], args[4], args[5].unpack())))
        # The match rule goes out unanswered: a round trip to the bus puts it in place before
        # the stand-in, told through its pipe, emits anything.
        self.connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "GetId", None, None,
                                  Gio.DBusCallFlags.NONE, 5000, None)

    def tearDown(self):
        self.connection.signal_unsubscribe(self.subscription)
        self.process.stdin.close()
        self.process.wait(timeout=5)

    def line(self, timeout=5.0):
        # Read the pipe ourselves: a buffered reader would hide lines from select().
        while "\n" not in self.pending:
            ready, _, _ = select.select([self.process.stdout], [], [], timeout)
            self.assertTrue(ready, "the stand-in wrote nothing")
            chunk = os.read(self.process.stdout.fileno(), 4096).decode()
            self.assertTrue(chunk, "the stand-in closed its output")
            self.pending += chunk
        line, self.pending = self.pending.split("\n", 1)
        return line

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        self.process.stdin.write("sync\n")
        self.process.stdin.flush()
        self.assertEqual(self.line(), "synced")

    def call(self, path, method, args=None, name=COORDINATOR, interface=COORDINATOR):
        return self.connection.call_sync(name, path, interface, method, args, None,
                                         Gio.DBusCallFlags.NONE, 5000, None).unpack()

    def wait_for_signals(self, count, timeout=5.0):
        deadline = time.monotonic() + timeout
        while len(self.signals) < count and time.monotonic() < deadline:
            GLib.MainContext.default().iteration(False)
            time.sleep(0.001)
        return self.signals

    def test_answers_from_the_camera_model_and_reports_each_call(self):
        self.assertEqual(self.call("/com/orvo/PTZ/Coordinator", "GetNumberOfChannels"), (3,))
        listing = self.call("/com/orvo/PTZ/Coordinator/2", "QueryPresets",
                            GLib.Variant("(sib)", ("Operator", 0, True)))[0]
        self.assertEqual(len(listing), 16)
        self.assertEqual(listing[2], "presetposno3=Preset3:pan=30.00:tilt=-3.00:home=0")
        home, presets = self.call("/com/orvo/Ptz1/Channel/1", "GetPresets",
                                  name=CHANNEL_SERVICE, interface="com.orvo.Ptz1.Channel")
        self.assertEqual((home, len(presets)), (0, 16))
        words = self.line().split()
        self.assertEqual(words[0], "call")
        self.assertEqual(words[2], self.connection.get_unique_name())
        self.assertEqual(words[3:7], ["0", "GetNumberOfChannels", "0", "1"])
        self.assertEqual(self.line().split()[3:7], ["2", "QueryPresets", "0", "1"])
        self.assertEqual(self.line().split()[3:7], ["1", "GetPresets", "0", "1"])

    def test_a_change_echoes_as_the_camera_signals_it(self):
        self.call("/com/orvo/PTZ/Coordinator/2", "SetPresetNumber",
                  GLib.Variant("(siib)", ("Operator", 0, 40, True)))
        self.call("/com/orvo/PTZ/Coordinator/2", "GotoPresetNumber",
                  GLib.Variant("(siii)", ("Operator", 0, 40, 7)))
        signals = self.wait_for_signals(2)
        self.assertEqual(signals[0], ("com.orvo.Ptz1", "PresetConfigurationChanged2",
                                      (40, "Pos40", 1, {"SET_HOME": True}, {})))
        self.assertEqual(signals[1], (COORDINATOR, "PtzPresetState", (2, 40, 1)))
        self.assertEqual(self.line().split()[4:7], ["SetPresetNumber", "40", "1"])
        self.assertEqual(self.line().split()[4:7], ["GotoPresetNumber", "40", "1"])
        self.assertEqual(self.call("/com/orvo/PTZ/Coordinator/2", "GetPtzPresetState")[0], 40)

    def test_user_actions_change_the_camera_and_signal(self):
        self.send("recall 1 5")
        self.send("create 3 9 Back door")
        self.send("remove 2 4")
        signals = self.wait_for_signals(3)
        self.assertEqual(signals[0][1:], ("PtzPresetState", (1, 5, 1)))
        self.assertEqual(signals[1][1:], ("PresetConfigurationChanged2",
                                          (9, "Back door", 1, {"SET_HOME": False}, {})))
        self.assertEqual(signals[2][2][:3], (4, "Preset4", 3))
        listing = self.call("/com/orvo/PTZ/Coordinator/3", "QueryPresets",
                            GLib.Variant("(sib)", ("Operator", 0, False)))[0]
        self.assertIn("presetposno9=Back door:home=0", listing)

    def test_injected_failures_wrong_roles_and_missing_presets_answer_errors(self):
        self.send("fail 2 GotoPresetNumber 1")
        cases = [("GotoPresetNumber", ("Operator", 0, 3, 0), "(siii)", False),
                 ("GotoPresetNumber", ("Operator", 0, 3, 0), "(siii)", True),
                 ("RemovePresetName", ("Viewer", 0, "Preset3"), "(sis)", False),
                 ("RenamePreset", ("Operator", 0, 77, "Gate"), "(siis)", False)]
        for method, args, signature, succeeds in cases:
            with self.subTest(method=method, args=args):
                try:
                    self.call("/com/orvo/PTZ/Coordinator/2", method,
                              GLib.Variant(signature, args))
                    answered = True
                except GLib.Error:
                    answered = False
                self.assertEqual(answered, succeeds)
                words = self.line().split()
                self.assertEqual((words[4], words[6]), (method, "1" if succeeds else "0"))

    def test_echoes_can_be_silenced_and_bad_commands_are_named(self):
        self.send("route none")
        self.call("/com/orvo/PTZ/Coordinator/1", "GotoPresetNumber",
                  GLib.Variant("(siii)", ("Operator", 0, 2, 0)))
        self.line()
        self.process.stdin.write("jump 1 2\n")
        self.process.stdin.flush()
        self.assertEqual(self.line(), "error jump 1 2")
        self.assertEqual(self.wait_for_signals(1, timeout=0.3), [])


if __name__ == "__main__":
    unittest.main()
