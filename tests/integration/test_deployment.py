'''The service as its unit runs it: its own user, no capabilities, no network,
on a bus that refuses method calls unless a policy allows them, and telling
the service manager when it is ready.

PTZ_PRESET_SYNC_WRAPPER, e.g. "qemu-aarch64-static", starts the daemon
through that command (an ARM build on this machine).'''

import contextlib
import json
import os
import platform
import pwd
import socket
import subprocess
import unittest
import uuid
from pathlib import Path

from base import DaemonTestCase
from change_signals import (CHANNEL_IFACE, REMOVED, ROLE, emit_change,
                            query)
from testbed import (CHANNEL_SERVICE, CONTROL_IFACE, CONTROL_PATH, COORDINATOR,
                     COORDINATOR_PATH, PYTHON, REPO, Preset, Testbed,
                     channel_path, coordinator_path, subscription_rules,
                     timeout, wait_until)

POLICY = REPO / 'packaging' / 'ptz-preset-sync.conf'
SYSUSERS = REPO / 'packaging' / 'ptz-preset-sync.sysusers'
SERVICE_USER = 'ptz-preset-sync'
READY = 'READY=1\nSTATUS=Mirroring presets across {} channels'
# The sendto system call, where /proc/PID/wchan names no kernel function.
SENDTO = {'x86_64': 44, 'aarch64': 206}.get(platform.machine())
ACCESS_DENIED = 'org.freedesktop.DBus.Error.AccessDenied'
PROPERTIES = 'org.freedesktop.DBus.Properties'

# A system bus's default context: method calls need a policy's permission.
# The camera and the tests run as root, which may do anything.
DENY_BY_DEFAULT = '''<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <policy user="root">
    <allow own="*"/>
    <allow send_destination="*"/>
  </policy>
  {include}
</busconfig>
'''

# Run as the service user: makes each call and prints the error names
# ('' for a reply) as JSON.
CALLER = '''
import json, sys
import dbus
bus = dbus.bus.BusConnection(sys.argv[1])
results = []
for destination, path, interface, member, signature, args \
        in json.load(sys.stdin):
    try:
        bus.call_blocking(destination, path, interface, member, signature,
                          args, timeout=10)
        results.append('')
    except dbus.exceptions.DBusException as error:
        results.append(error.get_dbus_name())
print(json.dumps(results))
'''


def fill_queue(sock, name):
    '''Fills the receive queue of the datagram socket bound to name, so that
    a sender blocks; returns the number of junk datagrams queued.'''
    address = '\0' + name[1:] if name.startswith('@') else name
    queued = 0
    while True:
        # a fresh sender that cannot send a single datagram: the queue is full
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sender:
            sender.setblocking(False)
            sent = 0
            try:
                while sent < 10000:
                    sender.sendto(b'junk', address)
                    sent += 1
            except BlockingIOError:
                pass
        queued += sent
        if sent == 0:
            return queued


def blocked_sending(pid):
    '''Whether the process's main thread waits for room in a datagram
    socket's queue.'''
    proc = Path(f'/proc/{pid}')
    try:
        if (proc / 'wchan').read_text() == 'unix_wait_for_peer':
            return True
        return int((proc / 'syscall').read_text().split()[0]) == SENDTO
    except (OSError, ValueError):
        return False


def ensure_service_user():
    '''Creates the service user from the shipped sysusers entry.'''
    try:
        pwd.getpwnam(SERVICE_USER)
    except KeyError:
        subprocess.run(['systemd-sysusers', str(SYSUSERS)], check=True)


def as_user(user):
    '''A command prefix that drops to user the way the unit does.'''
    entry = pwd.getpwnam(user)
    return ['setpriv', f'--reuid={entry.pw_uid}', f'--regid={entry.pw_gid}',
            '--clear-groups', '--no-new-privs', '--inh-caps=-all',
            '--bounding-set=-all', '--']


class DeploymentTestbed(Testbed):
    '''A testbed whose bus refuses method calls by default and carries the
    shipped policy when asked; the daemon runs as user (then also in a
    network namespace of its own) and gets NOTIFY_SOCKET when given.'''

    def __init__(self, policy=True, user=None, notify_socket=None):
        super().__init__()
        self.policy = policy
        self.user = user
        self.notify_socket = notify_socket
        # another user must reach the bus, log and notify sockets in here
        os.chmod(self.dir, 0o755)
        os.chmod(self.sink.path, 0o666)

    def start_bus(self):
        config = self.dir / 'bus.conf'
        include = f'<include>{POLICY}</include>' if self.policy else ''
        config.write_text(DENY_BY_DEFAULT.format(include=include))
        return self.start_dbus_daemon(config)

    def rejections(self):
        return [line for line in self.bus_log().splitlines()
                if 'Rejected' in line]

    def daemon_command(self):
        command = super().daemon_command()
        if self.user:
            command = ['unshare', '--net'] + as_user(self.user) + command
        return command

    def daemon_env(self, bus_address=None):
        env = super().daemon_env(bus_address)
        if self.notify_socket:
            env['NOTIFY_SOCKET'] = self.notify_socket
        return env

    def call_as(self, user, calls):
        '''Makes calls as user; the error name of each, '' for a reply.'''
        done = subprocess.run(
            as_user(user) + [PYTHON, '-c', CALLER, self.bus_address],
            input=json.dumps(calls), capture_output=True, text=True,
            timeout=timeout(60), check=True)
        return json.loads(done.stdout)


class DeploymentTestCase(DaemonTestCase):

    DUMP_BUS_LOG = True

    @classmethod
    def setUpClass(cls):
        ensure_service_user()

    def deployed(self, label='', **testbed_args):
        '''A subtest on a fresh DeploymentTestbed.'''
        return self.case(
            label, make_testbed=lambda: DeploymentTestbed(**testbed_args))

    @contextlib.contextmanager
    def notify_listener(self, abstract=False):
        '''A datagram socket for readiness; yields (NOTIFY_SOCKET, socket).'''
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sock:
            if abstract:
                name = f'@ptz-sync-test-{uuid.uuid4().hex}'
                sock.bind('\0' + name[1:])
            else:
                name = str(self.tb.dir / 'notify.sock')
                sock.bind(name)
                os.chmod(name, 0o666)
            yield name, sock

    def assertNoDatagram(self, sock):
        sock.settimeout(self.QUIET_PERIOD)
        try:
            datagram = sock.recv(256)
        except socket.timeout:
            return
        self.fail(f'unexpected datagram {datagram!r}')


class BusPolicyTest(DeploymentTestCase):
    maxDiff = None

    def test_confined_service_user_mirrors_with_no_call_refused(self):
        with self.deployed(user=SERVICE_USER):
            with self.notify_listener() as (name, ready):
                self.tb.notify_socket = name
                camera = self.start(2)
                ready.settimeout(timeout(10))
                self.assertEqual(ready.recv(256), READY.format(2).encode())

                door = camera.user_create_by_name(1, 'Door')
                self.tb.settle()
                camera.user_create_by_number(1, 5)
                self.tb.settle()
                camera.user_rename(1, 5, 'Gate')
                self.tb.settle()
                camera.user_move(30.0, 10.0)
                camera.user_update_position(1, 5)
                self.tb.settle()
                camera.user_remove(1, door)
                self.tb.settle()
                camera.user_recall(1, 5)
                self.tb.settle()

                # the scenario makes every call the policy allows
                self.assertEqual(
                    {member for _, member, _ in self.journal()},
                    {'QueryPresets', 'GetPresets', 'SetPresetName',
                     'SetPresetNumber', 'RenamePreset', 'UpdatePreset',
                     'RemovePresetName', 'GetPtzPresetState',
                     'GotoPresetNumber'})
                channels = camera.state()['channels']
                for n in (1, 2):
                    self.assertEqual(channels[n]['presets'],
                                     {5: Preset('Gate', 30.0, 10.0)})
                self.assertEqual(channels[2]['reported'], 5)
                self.assertEqual(self.tb.rejections(), [])
                self.stop(0)
                self.assertEqual(self.tb.log_messages(), [])

    def test_refused_calls_fail_the_setup(self):
        cases = {
            'no policy installed': dict(policy=False, user=SERVICE_USER),
            'policy of another user': dict(policy=True, user='nobody'),
        }
        for label, testbed_args in cases.items():
            with self.deployed(label, **testbed_args):
                camera = self._start_unready(2)
                self.quiet_period()
                self.assertTrue(any('GetNumberOfChannels' in line
                                    for line in self.tb.rejections()),
                                self.tb.bus_log())
                self.assertEqual(camera.journal(), [])
                self.assertEqual(
                    subscription_rules(self.tb.daemon_match_rules()), [])
                self.assertStartFailureOnly()

    def _start_unready(self, channels):
        self.tb.start_bus()
        camera = self.tb.start_camera(channels)
        self.tb.start_daemon()
        self.tb.wait_connected()
        return camera

    def test_policy_allows_exactly_the_calls_of_the_service(self):
        def on(destination, path, interface, member, signature='', *args):
            return (destination, path, interface, member, signature, args)

        def preset(member, signature='', *args):
            # every preset method with parameters opens with role and 0
            return on(COORDINATOR, coordinator_path(1), COORDINATOR, member,
                      signature, *((ROLE, 0) + args if args else ()))

        allowed = {
            'GetNumberOfChannels': on(COORDINATOR, COORDINATOR_PATH,
                                      COORDINATOR, 'GetNumberOfChannels'),
            'QueryPresets': preset('QueryPresets', 'sib', False),
            'SetPresetName': preset('SetPresetName', 'sisb', 'Probe', False),
            'SetPresetNumber': preset('SetPresetNumber', 'siib', 9, False),
            'RenamePreset': preset('RenamePreset', 'siis', 9, 'Probe 9'),
            'UpdatePreset': preset('UpdatePreset', 'siis', 9, 'Probe 9'),
            'GetPtzPresetState': preset('GetPtzPresetState'),
            'GotoPresetNumber': preset('GotoPresetNumber', 'siii', 9, 1),
            'RemovePresetName': preset('RemovePresetName', 'sis', 'Probe 9'),
            'GetPresets': on(CHANNEL_SERVICE, channel_path(1), CHANNEL_IFACE,
                             'GetPresets'),
            'GetAll of the coordinator': on(
                COORDINATOR, coordinator_path(1), PROPERTIES, 'GetAll', 's',
                COORDINATOR),
            'GetAll of the channel service': on(
                CHANNEL_SERVICE, channel_path(1), PROPERTIES, 'GetAll', 's',
                CHANNEL_IFACE),
        }
        refused = {
            'a property written': on(COORDINATOR, coordinator_path(1),
                                     PROPERTIES, 'Set', 'ssv', COORDINATOR,
                                     'x', 1),
            'a property read alone': on(COORDINATOR, coordinator_path(1),
                                        PROPERTIES, 'Get', 'ss', COORDINATOR,
                                        'x'),
            'introspection': on(COORDINATOR, coordinator_path(1),
                                'org.freedesktop.DBus.Introspectable',
                                'Introspect'),
            'the camera control': on(COORDINATOR, CONTROL_PATH, CONTROL_IFACE,
                                     'GetState'),
            'the camera control by the other name': on(
                CHANNEL_SERVICE, CONTROL_PATH, CONTROL_IFACE, 'GetState'),
            'another method of the coordinator': preset('GotoHome'),
            'a known method on another interface': on(
                COORDINATOR, coordinator_path(1), 'com.orvo.PTZ.Other',
                'GetPtzPresetState'),
            'a method without an interface': on(
                COORDINATOR, COORDINATOR_PATH, None, 'GetNumberOfChannels'),
        }
        calls = {**allowed, **refused}
        with self.deployed():
            self.tb.start_bus()
            self.tb.start_camera(2)
            errors = self.tb.call_as(SERVICE_USER, list(calls.values()))
        self.assertEqual(
            {label: error == ACCESS_DENIED
             for label, error in zip(calls, errors)},
            {label: label in refused for label in calls})


class ReadinessTest(DeploymentTestCase):

    def test_ready_once_when_subscribed(self):
        for abstract in (False, True):
            with self.deployed('abstract' if abstract else 'path'):
                with self.notify_listener(abstract) as (name, ready):
                    self.assertReadyAfterSubscribing(name, ready)

    def assertReadyAfterSubscribing(self, name, ready):
        '''With the notify socket's queue full, the service blocks sending
        its notice. A change signalled meanwhile reaches it only through its
        own subscription: channel 3's PresetConfigurationChanged2, which
        comes with the bus name as interface, not the interface of the proxies
        (a proxy's match rule would let a coordinator signal in unsubscribed).
        The bus handles a connection's AddMatch calls in order, so every
        subscription made before that one is in place too.'''
        self.tb.notify_socket = name
        self.tb.start_bus()
        camera = self.camera = self.tb.start_camera(3)
        junk = fill_queue(ready, name)
        self.tb.start_daemon()
        wait_until(lambda: blocked_sending(self.tb.daemon.pid), 10,
                   'the daemon to wait sending its notice')
        camera.clear_journal()
        emit_change(camera, 3, 9, 'Probe', REMOVED)
        ready.settimeout(timeout(10))
        for _ in range(junk):
            self.assertEqual(ready.recv(256), b'junk')
        self.assertEqual(ready.recv(256), READY.format(3).encode())
        self.assertNoDatagram(ready)
        # the removal, lost unless subscribed, looks for preset 9 elsewhere
        self.tb.settle(3)
        self.assertJournal([query(1), query(2)])
        self.stop(0)
        self.assertEqual(self.tb.log_messages(), [])

    def test_no_readiness_after_failed_setup(self):
        with self.deployed():
            with self.notify_listener() as (name, ready):
                self.tb.notify_socket = name
                self.tb.start_bus()
                self.tb.start_daemon()
                self.tb.wait_connected()
                self.assertNoDatagram(ready)
                self.quiet_period()
                self.assertStartFailureOnly()

    def test_unusable_notify_socket_changes_nothing(self):
        cases = {
            'relative name': 'notify.sock',
            'no one listening': '/nonexistent/notify.sock',
            'name longer than a socket address': '/' + 'n' * 200,
        }
        for label, name in cases.items():
            with self.deployed(label, notify_socket=name):
                camera = self.start(2)
                camera.user_create_by_name(1, 'Door')
                self.tb.settle()
                self.assertIn(1, camera.state()['channels'][2]['presets'])
                self.stop(0)
                self.assertEqual(self.tb.log_messages(), [])


if __name__ == '__main__':
    unittest.main()
