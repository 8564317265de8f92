"""A private system bus for the benchmark's tests: a dbus-daemon with the benchmark's own
configuration, for the whole of a test class."""
import os
import subprocess
import unittest

BUS_CONF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bus.conf")


class PrivateBusTestCase(unittest.TestCase):
    """cls.address is the bus's address, cls.env the environment that makes it the system
    bus."""

    @classmethod
    def setUpClass(cls):
        cls.bus = subprocess.Popen(
            ["dbus-daemon", f"--config-file={BUS_CONF}", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, text=True)
        cls.address = cls.bus.stdout.readline().strip()
        if not cls.address:
            cls.bus.wait()
            cls.bus.stdout.close()
            raise RuntimeError(f"dbus-daemon did not start (exit status {cls.bus.returncode})")
        cls.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=cls.address)

    @classmethod
    def tearDownClass(cls):
        cls.bus.terminate()
        cls.bus.wait()
        cls.bus.stdout.close()
