#!/usr/bin/python3
"""The driver checks every call: a peer that makes the design's calls passes, one that makes
more or others fails the run.

    driver_test.py BENCH-DRIVER BENCH-FLOOR SERVICE
"""
import os
import subprocess
import sys
import tempfile
import unittest

from private_bus import PrivateBusTestCase

DRIVER, FLOOR, SERVICE = sys.argv[1:4]
del sys.argv[1:4]
HERE = os.path.dirname(os.path.abspath(__file__))
ECHO_BLIND = f"/usr/bin/python3 {os.path.join(HERE, 'echo_blind_peer.py')}"
KINDS = ["recall", "create-by-name", "create-by-number", "update-moved", "remove"]


class DriverTest(PrivateBusTestCase):
    def ops(self, service, kind, *extra):
        return subprocess.run([DRIVER, "ops", "--service", service, "--kind", kind,
                               "--channels", "3", "--count", "4", *extra],
                              env=self.env, capture_output=True, text=True, timeout=60)

    def test_the_service_makes_the_calls_of_the_design_for_every_kind(self):
        for kind in KINDS:
            with self.subTest(kind=kind):
                run = self.ops(SERVICE, kind)
                self.assertEqual(run.returncode, 0, run.stderr)

    def test_the_floor_makes_the_same_calls_as_the_design_requires(self):
        for kind in KINDS:
            with self.subTest(kind=kind):
                run = self.ops(FLOOR, kind)
                self.assertEqual(run.returncode, 0, run.stderr)

    def bursts(self, service):
        with tempfile.TemporaryDirectory() as out:
            return subprocess.run([DRIVER, "--service", service, "--floor", FLOOR, "--out",
                                   os.path.join(out, "results.json"), "--stages", "bursts",
                                   "--channels", "3", "--bursts", "2", "--burst-size", "100",
                                   "--pause", "100"],
                                  env=self.env, capture_output=True, text=True, timeout=60)

    def test_bursts_pass_with_the_calls_of_the_design_and_fail_with_others(self):
        # Two bursts of each kind run through the full echo buffers twice over.
        run = self.bursts(SERVICE)
        self.assertEqual(run.returncode, 0, run.stderr)
        # The floor keeps no echo buffer, so it mirrors the recall a full buffer drops.
        run = self.bursts(FLOOR)
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr, r"burst 1 of recalls, 3 channels: call \d+ was")

    def test_calls_for_echoes_fail_the_run(self):
        # Every echo is owed, so a peer that mirrors its own gotos' echoes as recalls calls more.
        run = self.ops(ECHO_BLIND, "recall")
        self.assertEqual(run.returncode, 1)
        self.assertIn("GetPtzPresetState", run.stderr)


if __name__ == "__main__":
    unittest.main()
