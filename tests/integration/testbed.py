'''A private system bus, the simulated camera and the daemon under test.

Used by the integration tests and the demo:

    with Testbed() as tb:
        camera = tb.start(channels=4)     # bus, camera, daemon, subscribed
        camera.user_create_by_name(1, 'Door')
        tb.settle()
        status, lines = tb.stop_daemon()

The daemon runs with G_DEBUG=fatal-criticals in a private mount namespace
whose /dev/log is the testbed's datagram socket, so every syslog line it
writes is captured exactly.  Set PTZ_PRESET_SYNC_BIN to test another binary
and PTZ_TEST_VALGRIND=1 to run it under valgrind: then a daemon still running
at close() is ended with SIGTERM, so that valgrind checks for leaks, and
close() fails on any valgrind error or definite or indirect leak of any of
the testbed's daemons (valgrind_summary() sums up every run).

A daemon that does not answer in time the first thing it is asked (READY=1
and the start-up handshake, or the first settling probe) fails the test at
once with its log, and marks the testbed: its later waits fail at once too
(NoFirstAnswer), instead of each waiting out its own timeout.

The private bus is a dbus-daemon, or a dbus-broker with PTZ_TEST_BUS=broker.
The harness uses only what both buses answer: the daemon counts as in
service once it has said READY=1 on the testbed's notify socket and has
reacted to a signal of its last subscription, and its match rules are those
a bus monitor saw it add.
'''

import contextlib
import functools
import itertools
import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path
from typing import NamedTuple, Optional

import dbus
import dbus.lowlevel

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
BUS_CONFIG = HERE / 'system-bus.conf'
CAMERA_TEMPLATE = REPO / 'simulated_camera' / 'ptz_camera.py'
PYTHON = '/usr/bin/python3'

DAEMON_IDENT = 'ptz-preset-sync'
START_FAILURE = 'Could not start service due to failure in DBus setup!'
PROBE_MESSAGE = 'Received unsupported space in speed signal:{}'

# How long the daemon has for the first thing it is asked, beyond timeout():
# a daemon in service answers in milliseconds.
FIRST_ANSWER_SECONDS = 5

LOG_DAEMON = 3 << 3
LOG_ERR = 3
LOG_WARNING = 4

COORDINATOR = 'com.orvo.PTZ.Coordinator'
COORDINATOR_PATH = '/com/orvo/PTZ/Coordinator'
CHANNEL_SERVICE = 'com.orvo.Ptz1'
CHANNEL_PATH = '/com/orvo/Ptz1/Channel'
CONTROL_PATH = '/com/orvo/Sim'
CONTROL_IFACE = 'com.orvo.Sim.Control'
DBUS_NAME = 'org.freedesktop.DBus'
DBUS_PATH = '/org/freedesktop/DBus'
STATS_IFACE = 'org.freedesktop.DBus.Debug.Stats'  # dbus-daemon only

BUS_KINDS = ('dbus-daemon', 'broker')

SIGNAL_MEMBERS = ('PresetConfigurationChanged2', 'PtzPresetState',
                  'PresetSpeed')

# Inside the private mount namespace: a tmpfs-backed overlay on /dev, so
# /dev/log can be created there and our socket bound onto it.
NAMESPACE_SCRIPT = '''set -e
mount -t tmpfs tmpfs "$1"
mkdir "$1/upper" "$1/work"
layers="lowerdir=/dev,upperdir=$1/upper,workdir=$1/work"
mount -t overlay overlay -o "$layers" /dev
: > /dev/log
mount --bind "$2" /dev/log
shift 2
exec "$@"
'''

# dbus-broker is started through its launcher, the controller the bare broker
# needs, in a mount namespace of its own.  The launcher wants no running
# systemd: it logs to the journal socket, here the testbed's datagram socket
# bound over a private /run, and it connects to the bus it serves as "the
# system bus", which DBUS_SYSTEM_BUS_ADDRESS names.  It takes its listening
# socket the way systemd passes one (fd 3, LISTEN_FDS, LISTEN_PID; the shell
# keeps its pid through exec) and says READY=1 on NOTIFY_SOCKET once the
# bus is up.  The socket arrives on stdin.
BROKER_SCRIPT = '''set -e
mount -t tmpfs tmpfs /run
mkdir -p /run/systemd/journal
: > /run/systemd/journal/socket
mount --bind "$1" /run/systemd/journal/socket
shift
export LISTEN_FDS=1 LISTEN_PID=$$
exec 3<&0 </dev/null
exec "$@"
'''

# What a bus monitor records: the calls that add and remove match rules, and
# the bus's error replies (to an AddMatch it refused, say).
MONITOR_RULES = (
    "type='method_call',interface='org.freedesktop.DBus',member='AddMatch'",
    "type='method_call',interface='org.freedesktop.DBus',member='RemoveMatch'",
    "type='error',sender='org.freedesktop.DBus'",
)
MONITOR_CALL = re.compile(
    r'method call time=\S+ sender=(\S+) -> destination=\S+ serial=(\d+) '
    r'path=[^;]*; interface=org\.freedesktop\.DBus; member=(\w+)$')
MONITOR_ERROR = re.compile(
    r'error time=\S+ sender=\S+ -> destination=(\S+) error_name=\S+ '
    r'reply_serial=(\d+)$')
MONITOR_STRING = re.compile(r'   string "(.*)"$')

# The testbed's own datagrams on the log socket; syslog lines begin with '<'.
MARKER = b'\0marker'
STOP = b'\0stop'

VALGRIND_ERRORS = re.compile(r'ERROR SUMMARY: (\d+) errors')
VALGRIND_LOST = re.compile(
    r'(definitely|indirectly|possibly) lost: ([\d,]+) bytes')
VALGRIND_SUPPRESSED = re.compile(r'ERROR SUMMARY: .*\(suppressed: (\d+) from')

SYSLOG_LINE = re.compile(
    r'<(\d+)>(\w{3} [ \d]\d \d\d:\d\d:\d\d) (.*?)(?:\[(\d+)\])?: (.*)\Z',
    re.DOTALL)


def daemon_binary():
    return Path(os.environ.get('PTZ_PRESET_SYNC_BIN',
                               REPO / 'build' / 'ptz-preset-sync'))


@functools.lru_cache(maxsize=None)
def _built_with_sanitizers(binary):
    try:
        data = Path(binary).read_bytes()
    except OSError:
        return False
    return b'__asan_init' in data or b'__ubsan_handle' in data


def sanitizer_build():
    '''Whether the daemon under test was built with ASan or UBSan: it runs
    slower and checks its heap at exit.'''
    return _built_with_sanitizers(str(daemon_binary()))


def bus_kind():
    '''Which bus the testbed starts: PTZ_TEST_BUS, dbus-daemon by default.'''
    kind = os.environ.get('PTZ_TEST_BUS') or 'dbus-daemon'
    if kind not in BUS_KINDS:
        raise ValueError(f'PTZ_TEST_BUS={kind!r}: expected one of {BUS_KINDS}')
    return kind


def under_valgrind():
    return os.environ.get('PTZ_TEST_VALGRIND') == '1'


def daemon_wrapper():
    '''A command the daemon runs under (qemu-aarch64-static for ARM).'''
    return shlex.split(os.environ.get('PTZ_PRESET_SYNC_WRAPPER', ''))


def timeout(seconds):
    '''A timeout stretched for the slower runs, under valgrind or an
    emulator.'''
    if under_valgrind():
        return seconds * 20
    return seconds * (4 if daemon_wrapper() else 1)


def wait_until(predicate, seconds, what):
    '''Polls predicate until it returns a true value, which is returned.'''
    deadline = time.monotonic() + timeout(seconds)
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f'timed out waiting for {what}')
        time.sleep(0.01)


def channel_path(channel):
    return f'{CHANNEL_PATH}/{channel}'


def coordinator_path(channel):
    return f'{COORDINATOR_PATH}/{channel}'


def parse_match_rule(rule):
    '''A match rule string as a dict of its keys and unquoted values.'''
    return {key: value.replace("'\\''", "'") for key, value in
            re.findall(r"(\w+)='((?:[^']|'\\'')*)'", rule)}


def expected_subscriptions(channels):
    '''The match rules of the daemon's three subscriptions per channel.'''
    rules = []
    for n in range(1, channels + 1):
        rules += [
            {'type': 'signal', 'interface': CHANNEL_SERVICE,
             'member': 'PresetConfigurationChanged2', 'path': channel_path(n)},
            {'type': 'signal', 'interface': COORDINATOR,
             'member': 'PtzPresetState', 'path': coordinator_path(n)},
            {'type': 'signal', 'interface': COORDINATOR,
             'member': 'PresetSpeed', 'path': coordinator_path(n)},
        ]
    return rules


def subscription_rules(rules):
    '''The parsed rules that concern the three signals the daemon handles.'''
    parsed = [parse_match_rule(rule) for rule in rules]
    return [rule for rule in parsed if rule.get('member') in SIGNAL_MEMBERS]


def typed(signature, args):
    '''Arguments converted to the D-Bus types of a signature.'''
    msg = dbus.lowlevel.MethodCallMessage('a.b', '/a', 'a.b', 'a')
    msg.append(*args, signature=signature)
    return msg.get_args_list()


class NoFirstAnswer(AssertionError):
    '''The daemon did not answer in time the first thing it was asked.'''


class ValgrindRun(NamedTuple):
    '''What valgrind found in one daemon run.'''
    output: str
    finished: bool       # valgrind got to its error and leak summary
    errors: int
    lost: dict           # bytes by kind: definitely, indirectly, possibly
    suppressed: int

    @classmethod
    def parse(cls, output):
        errors = VALGRIND_ERRORS.findall(output)
        lost = dict.fromkeys(('definitely', 'indirectly', 'possibly'), 0)
        for kind, count in VALGRIND_LOST.findall(output):
            lost[kind] += int(count.replace(',', ''))
        return cls(output, bool(errors), sum(map(int, errors)), lost,
                   sum(map(int, VALGRIND_SUPPRESSED.findall(output))))

    def problem(self):
        '''Why the run fails, or None.'''
        if 'Memcheck' not in self.output:
            return 'the daemon did not run under valgrind'
        if not self.finished:
            return 'the daemon ended before valgrind\'s leak check'
        if self.errors or self.lost['definitely'] or self.lost['indirectly']:
            return (f'valgrind found {self.errors} errors, '
                    f'{self.lost["definitely"]} bytes definitely and '
                    f'{self.lost["indirectly"]} indirectly lost')
        return None


# Every daemon run under valgrind in this process, as each testbed closed.
VALGRIND_RUNS = []


def valgrind_summary(seconds):
    '''One line on every daemon run under valgrind so far.'''
    finished = [run for run in VALGRIND_RUNS if run.finished]

    def total(kind):
        return sum(run.lost[kind] for run in finished)
    return (f'valgrind: {len(VALGRIND_RUNS)} daemon runs in '
            f'{seconds / 60:.1f} min, {len(finished)} with a leak check; '
            f'{sum(run.errors for run in finished)} errors, '
            f'{total("definitely")} bytes definitely and '
            f'{total("indirectly")} indirectly lost, {total("possibly")} '
            'possibly lost (not counted), '
            f'{sum(run.suppressed for run in finished)} suppressed')


class CallBoundExceeded(Exception):
    '''The daemon made more calls than a scenario allows.'''

    def __init__(self, count, bound):
        super().__init__(f'{count} calls made, at most {bound} allowed')
        self.count = count
        self.bound = bound


class LogLine(NamedTuple):
    priority: int
    ident: str
    pid: Optional[int]
    message: str
    raw: bytes

    @property
    def facility(self):
        return self.priority & ~7

    @property
    def severity(self):
        return self.priority & 7

    @classmethod
    def parse(cls, datagram):
        text = datagram.rstrip(b'\0').decode('utf-8', 'replace')
        match = SYSLOG_LINE.match(text)
        if not match:
            return cls(-1, '', None, text, datagram)
        pid = int(match.group(4)) if match.group(4) else None
        return cls(int(match.group(1)), match.group(3), pid, match.group(5),
                   datagram)


class SyslogSink:
    '''A datagram socket standing in for /dev/log, drained by a thread so
    that a chatty daemon never blocks on a full socket queue.'''

    def __init__(self, path):
        self.path = str(path)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.lines = []
        self.markers_seen = 0
        self.markers_sent = 0
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._drain, daemon=True)
        self.thread.start()

    def _drain(self):
        while True:
            datagram = self.sock.recv(65536)
            with self.cond:
                if datagram == MARKER:
                    self.markers_seen += 1
                elif datagram == STOP:
                    self.cond.notify_all()
                    return
                else:
                    self.lines.append(LogLine.parse(datagram))
                self.cond.notify_all()

    def _send(self, datagram):
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sender:
            sender.sendto(datagram, self.path)

    def flush(self, seconds=5):
        '''Returns once every datagram sent before the call is recorded.'''
        with self.cond:
            self.markers_sent += 1
            wanted = self.markers_sent
        self._send(MARKER)
        with self.cond:
            if not self.cond.wait_for(lambda: self.markers_seen >= wanted,
                                      timeout(seconds)):
                raise TimeoutError('the log socket was not drained')

    def snapshot(self):
        with self.cond:
            return list(self.lines)

    def wait_for(self, predicate, seconds, what):
        with self.cond:
            if not self.cond.wait_for(
                    lambda: any(predicate(line) for line in self.lines),
                    timeout(seconds)):
                raise TimeoutError(f'timed out waiting for log line {what}')

    def close(self):
        self._send(STOP)
        self.thread.join()
        self.sock.close()


class BusMonitor:
    '''A dbus-monitor that records which connection added and removed which
    match rule; both buses pass these calls to monitors.'''

    def __init__(self, address, seconds=10):
        self.lines = []
        self.cond = threading.Condition()
        self.marks = itertools.count(1)
        self.process = subprocess.Popen(
            ['dbus-monitor', '--address', address, *MONITOR_RULES],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.thread = threading.Thread(target=self._drain, daemon=True)
        self.thread.start()
        # A monitor gives its unique name back: from then on it sees all.
        with self.cond:
            if not self.cond.wait_for(
                    lambda: any('member=NameLost' in line
                                for line in self.lines)
                    or self.process.poll() is not None,
                    timeout(seconds)) or self.process.poll() is not None:
                raise RuntimeError('dbus-monitor did not start: '
                                   + '\n'.join(self.lines))

    def _drain(self):
        for line in self.process.stdout:
            with self.cond:
                self.lines.append(line.rstrip('\n'))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def match_rules(self, sender, connection, seconds=10):
        '''The rules sender added and has not removed, oldest first, once
        the monitor has seen all the bus handled before the call.'''
        mark = f"type='signal',path='/com/orvo/Harness/Mark{next(self.marks)}'"
        for member in ('AddMatch', 'RemoveMatch'):
            connection.call_blocking(DBUS_NAME, DBUS_PATH, DBUS_NAME, member,
                                     's', (mark,))
        # the mark's two calls came after everything handled before
        with self.cond:
            if not self.cond.wait_for(
                    lambda: self.lines.count(f'   string "{mark}"') == 2,
                    timeout(seconds)):
                raise TimeoutError('the bus monitor fell behind')
            lines = list(self.lines)
        added = []  # (serial, rule) of sender's AddMatch calls
        call = None
        for line in lines:
            found = MONITOR_CALL.match(line)
            if found:
                call = found.groups()
                continue
            string = MONITOR_STRING.match(line)
            if call and string and call[0] == sender:
                _, serial, member = call
                rule = string.group(1)
                if member == 'AddMatch':
                    added.append((serial, rule))
                elif member == 'RemoveMatch':
                    for entry in added:
                        if entry[1] == rule:
                            added.remove(entry)
                            break
            call = None
            refused = MONITOR_ERROR.match(line)
            if refused and refused.group(1) == sender:
                added = [entry for entry in added
                         if entry[0] != refused.group(2)]
        return [rule for _, rule in added]

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()
        self.thread.join()
        self.process.stdout.close()


class JournalEntry(NamedTuple):
    path: str
    interface: str
    member: str
    signature: str
    args: tuple


class Preset(NamedTuple):
    name: str
    pan: float
    tilt: float


class Camera:
    '''Client of the simulated camera's control surface; method names follow
    the control methods (UserMove -> user_move), channels are 1-based.'''

    def __init__(self, connection):
        self.connection = connection

    def _call(self, method, signature='', *args):
        return self.connection.call_blocking(
            COORDINATOR, CONTROL_PATH, CONTROL_IFACE, method, signature, args,
            timeout=timeout(25))

    def user_move(self, pan, tilt):
        self._call('UserMove', 'dd', pan, tilt)

    def user_create_by_name(self, channel, name, home=False):
        return int(self._call('UserCreateByName', 'isb', channel, name, home))

    def user_create_by_number(self, channel, number, home=False):
        self._call('UserCreateByNumber', 'iib', channel, number, home)

    def user_rename(self, channel, number, name):
        self._call('UserRename', 'iis', channel, number, name)

    def user_update_position(self, channel, number):
        self._call('UserUpdatePosition', 'ii', channel, number)

    def user_make_home(self, channel, number):
        self._call('UserMakeHome', 'ii', channel, number)

    def user_remove(self, channel, number):
        self._call('UserRemove', 'ii', channel, number)

    def user_recall(self, channel, number):
        self._call('UserRecall', 'ii', channel, number)

    def announce_speed(self, channel, speed, space=0, first=0):
        self._call('AnnounceSpeed', 'iiii', channel, first, speed, space)

    def emit_raw(self, path, interface, member, signature, args):
        '''Emits any signal from the camera's connection (even malformed).'''
        self._call('EmitRaw', 'ssssav', path, interface, member, signature,
                   typed(signature, args))

    def seed_preset(self, channel, number, name, pan=0.0, tilt=0.0,
                    home=False):
        '''Puts a preset in place without any signal.'''
        self._call('SeedPreset', 'iisddb', channel, number, name, pan, tilt,
                   home)

    def set_reported_preset(self, channel, preset):
        '''Sets what the channel reports, without any signal.'''
        self._call('SetReportedPreset', 'ii', channel, preset)

    def fail_method(self, channel, method, count=-1, error_name=''):
        '''count -1: every call; K: the next K calls; 0: no longer.
        Channel 0 is the top coordinator object.'''
        self._call('FailMethod', 'isis', channel, method, count, error_name)

    def reply_wrong_type(self, channel, method, signature, args, count=-1):
        self._call('ReplyWrongType', 'issavi', channel, method, signature,
                   typed(signature, args), count)

    def serve_listing(self, channel, entries):
        self._call('ServeListing', 'ias', channel, entries)

    def clear_listing(self, channel):
        self._call('ClearListing', 'i', channel)

    def clear_faults(self):
        self._call('ClearFaults')

    def set_behaviour(self, switches):
        '''The camera's behaviour switches (see the camera), as SetBehaviour's
        string ("default", "keeps-name,moving-head") or a list of names.'''
        if not isinstance(switches, str):
            switches = ','.join(switches)
        self._call('SetBehaviour', 's', switches)

    def pending(self):
        '''How many head arrivals, make-homes waiting for the head and late
        signals the camera has not yet done.'''
        return int(self._call('Pending'))

    def behaviour(self):
        return json.loads(str(self._call('GetState')))['behaviour']

    def reset(self):
        '''Back to a camera just started: no presets, no faults, no
        behaviour switch, nothing pending, head at (0, 0), empty journal.'''
        self._call('Reset')

    def journal_length(self):
        '''How many calls the journal holds, without fetching them.'''
        return int(self._call('GetJournalLength'))

    def journal(self):
        '''Every call on the two services so far, in arrival order.'''
        return [JournalEntry(path, interface, member, signature, tuple(args))
                for path, interface, member, signature, args
                in json.loads(str(self._call('GetJournal')))]

    def clear_journal(self):
        self._call('ClearJournal')

    def state(self):
        '''{'head': (pan, tilt), 'channels': {n: {'reported': p, 'home': h,
        'presets': {number: Preset}}}}'''
        raw = json.loads(str(self._call('GetState')))
        return {
            'head': tuple(raw['head']),
            'channels': {
                int(n): {
                    'reported': ch['reported'],
                    'home': ch['home'],
                    'presets': {number: Preset(name, pan, tilt)
                                for number, name, pan, tilt in ch['presets']},
                }
                for n, ch in raw['channels'].items()
            },
        }


class Testbed:
    '''One private bus with at most one camera and one daemon.  Everything
    it starts is stopped by close(), also after a failed test.'''

    def __init__(self):
        self.dir = Path(tempfile.mkdtemp(prefix='ptz-sync-test-'))
        self.bus_address = None
        self.bus_process = None
        self.camera_process = None
        self.camera = None
        self.daemon = None
        self.daemon_status = None
        self.sink = SyslogSink(self.dir / 'log.sock')
        self.bus_journal = None
        self.monitor = None
        self._connection = None
        self._probe_spaces = itertools.count(424201)
        self.probes_sent = set()
        # The daemon's notify socket, which another user may write to.
        self.ready_path = self.dir / 'ready.sock'
        self._ready = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self._ready.bind(str(self.ready_path))
        os.chmod(self.ready_path, 0o666)
        self._ready_expected = False
        # The start-up handshake's signals, left out of the log.
        self._handshake_spaces = itertools.count(1900000001)
        self._handshake_messages = set()
        self._saved_output = None
        # Whether the daemon now running has answered a probe yet, and why
        # the testbed no longer waits for its daemon (None: it does).
        self._answered = False
        self.no_answer = None
        self._daemon_pids = []
        self.closed = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- bus ---

    def start_bus(self):
        '''The private system bus of the kind PTZ_TEST_BUS names.'''
        if bus_kind() == 'broker':
            return self._start_broker()
        return self.start_dbus_daemon(BUS_CONFIG)

    def start_dbus_daemon(self, config):
        '''A dbus-daemon with the given configuration file as the private
        system bus, whatever PTZ_TEST_BUS says; returns its address.'''
        socket_path = self.dir / 'system_bus_socket'
        with self.log_file('dbus-daemon') as err:
            self.bus_process = subprocess.Popen(
                ['dbus-daemon', f'--config-file={config}', '--nofork',
                 f'--address=unix:path={socket_path}', '--print-address=1'],
                stdout=subprocess.PIPE, stderr=err, text=True)
        address = self.bus_process.stdout.readline().strip()
        if not address:
            raise RuntimeError('dbus-daemon did not start: '
                               + self._read_log_file('dbus-daemon'))
        self.bus_address = address
        return address

    def _start_broker(self, seconds=10):
        socket_path = self.dir / 'system_bus_socket'
        address = f'unix:path={socket_path}'
        self.bus_journal = SyslogSink(self.dir / 'bus-journal.sock')
        ready_path = self.dir / 'bus-ready.sock'
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address,
                   NOTIFY_SOCKET=str(ready_path))
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as listener, \
                socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as ready, \
                self.log_file('dbus-broker') as err:
            listener.bind(str(socket_path))
            os.chmod(socket_path, 0o666)  # as dbus-daemon leaves its socket
            listener.listen(64)
            ready.bind(str(ready_path))
            self.bus_process = subprocess.Popen(
                ['unshare', '-m', '/bin/sh', '-c', BROKER_SCRIPT, 'sh',
                 self.bus_journal.path, 'dbus-broker-launch',
                 '--scope', 'system', f'--config-file={BUS_CONFIG}'],
                env=env, stdin=listener.fileno(), stdout=err,
                stderr=subprocess.STDOUT)
            deadline = time.monotonic() + timeout(seconds)
            ready.settimeout(0.05)
            while True:
                try:
                    if b'READY=1' in ready.recv(4096).split(b'\n'):
                        break
                except socket.timeout:
                    pass
                if self.bus_process.poll() is not None \
                        or time.monotonic() > deadline:
                    raise RuntimeError('dbus-broker did not start: '
                                       + self.bus_log())
        self.bus_address = address
        return address

    def bus_log(self):
        '''What the bus wrote: dbus-daemon's output, or dbus-broker's output
        and the messages of its journal entries.'''
        text = self._read_log_file(
            'dbus-broker' if self.bus_journal else 'dbus-daemon')
        if self.bus_journal:
            for line in self.bus_journal.snapshot():
                text += ''.join(field[len('MESSAGE='):] + '\n' for field
                                in line.message.split('\n')
                                if field.startswith('MESSAGE='))
        return text

    def _stop_bus(self):
        '''Ends the bus; the launcher of dbus-broker ends once its broker
        has, and reaps it.'''
        process = self.bus_process
        if process is None or process.poll() is not None:
            return
        if self.bus_journal:
            try:
                children = Path(f'/proc/{process.pid}/task/{process.pid}/'
                                'children').read_text().split()
            except OSError:
                children = []
            for child in children:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(int(child), signal.SIGTERM)
            if not children:
                process.terminate()
        else:
            process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()

    def connection(self):
        '''The testbed's own connection to the private bus.'''
        if self._connection is None:
            self._connection = dbus.bus.BusConnection(self.bus_address)
        return self._connection

    def bus_proxy(self, interface=DBUS_NAME):
        return dbus.Interface(self.connection().get_object(
            DBUS_NAME, DBUS_PATH, introspect=False), interface)

    def child_env(self, bus_address=None):
        env = dict(os.environ)
        env['DBUS_SYSTEM_BUS_ADDRESS'] = bus_address or self.bus_address
        return env

    # --- camera ---

    def start_camera(self, channels=4):
        '''Starts the simulated camera and returns its Camera client.'''
        params = json.dumps({'channels': channels})
        with self.log_file('camera') as err:
            self.camera_process = subprocess.Popen(
                [PYTHON, '-m', 'dbusmock', '--system', '--template',
                 str(CAMERA_TEMPLATE), '--parameters', params,
                 '--logfile', str(self.dir / 'camera-calls.log')],
                env=self.child_env(), stdout=subprocess.DEVNULL, stderr=err)
        camera = Camera(self.connection())
        bus = self.bus_proxy()

        def ready():
            if self.camera_process.poll() is not None:
                raise RuntimeError('camera exited: '
                                   + self._read_log_file('camera'))
            if not bus.NameHasOwner(CHANNEL_SERVICE):
                return False
            camera.state()
            return True
        wait_until(ready, 20, 'the simulated camera')
        self.camera = camera
        return camera

    # --- daemon ---

    def daemon_command(self):
        '''The command that runs the daemon inside its namespace.'''
        binary = daemon_binary()
        if not binary.is_file():
            raise FileNotFoundError(f'daemon binary {binary} not built')
        command = daemon_wrapper() + [str(binary)]
        if under_valgrind():
            # one log per run; the daemon may run as another user
            logs = self.dir / 'valgrind'
            logs.mkdir(exist_ok=True)
            logs.chmod(0o777)
            command = ['valgrind', '--leak-check=full',
                       '--errors-for-leak-kinds=definite,indirect',
                       '--error-exitcode=99',
                       f'--log-file={logs}/%p.log'] + command
        return command

    def daemon_env(self, bus_address=None):
        env = self.child_env(bus_address)
        env['G_DEBUG'] = 'fatal-criticals'
        # not the runner's service manager, if any: the testbed's
        env['NOTIFY_SOCKET'] = str(self.ready_path)
        env.pop('G_MESSAGES_DEBUG', None)  # no debug trace unless a test asks
        return env

    def start_daemon(self, bus_address=None, extra_env=None):
        '''Starts the daemon and waits until SIGTERM reaches its handler;
        extra_env adds to or overrides its environment.'''
        command = self.daemon_command()
        env = {**self.daemon_env(bus_address), **(extra_env or {})}
        namespace_dir = self.dir / 'namespace'
        namespace_dir.mkdir(exist_ok=True)
        address = bus_address or self.bus_address
        if self.monitor is None and address and address == self.bus_address:
            self.monitor = BusMonitor(address)
        self._ready_expected = env.get('NOTIFY_SOCKET') == str(self.ready_path)
        self._drain_ready()
        with self.log_file('daemon') as out:
            self.daemon = subprocess.Popen(
                ['unshare', '-m', '/bin/sh', '-c', NAMESPACE_SCRIPT, 'sh',
                 str(namespace_dir), self.sink.path] + command,
                env=env, stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT)
        self.daemon_status = None
        self._daemon_pids.append(self.daemon.pid)
        self._answered = False
        self._wait_sigterm_handled()
        return self.daemon.pid

    def _wait_sigterm_handled(self):
        if under_valgrind() or daemon_wrapper():
            # valgrind and qemu catch every signal themselves: wait for
            # the bus instead
            if self.bus_address:
                self.wait_connected()
            else:
                time.sleep(timeout(0.2))
            return
        launchers = {os.path.realpath(shutil.which(name))
                     for name in ('sh', 'unshare')}
        proc = Path(f'/proc/{self.daemon.pid}')

        def handled():
            self.check_daemon_alive()
            try:
                exe = os.readlink(proc / 'exe')
                status = (proc / 'status').read_text()
            except OSError:
                return False
            caught = re.search(r'^SigCgt:\s*([0-9a-f]+)', status, re.M)
            return exe not in launchers and caught \
                and int(caught.group(1), 16) & (1 << (signal.SIGTERM - 1))
        wait_until(handled, 10, 'the daemon to handle SIGTERM')

    def check_daemon_alive(self):
        '''Raises RuntimeError, with its output, if the daemon has exited.'''
        if self.daemon.poll() is not None:
            raise RuntimeError(
                f'daemon exited early with {self.daemon.returncode}: '
                + self._read_log_file('daemon'))

    def daemon_running(self):
        return self.daemon is not None and self.daemon.poll() is None

    def daemon_connection(self):
        '''The unique bus name of the daemon's connection, or None.'''
        bus = self.bus_proxy()
        for name in bus.ListNames():
            if not name.startswith(':'):
                continue
            try:
                if bus.GetConnectionUnixProcessID(name) == self.daemon.pid:
                    return str(name)
            except dbus.exceptions.DBusException:
                pass  # the connection went away meanwhile
        return None

    def wait_connected(self, seconds=10):
        self._check_answering()

        def connected():
            self.check_daemon_alive()
            return self.daemon_connection()
        return wait_until(connected, seconds, 'the daemon on the bus')

    def daemon_match_rules(self):
        '''The match rules of the daemon's connection: those the bus
        monitor saw it add, and not remove, up to this call.'''
        name = self.daemon_connection()
        if name is None or self.monitor is None:
            return []
        return self.monitor.match_rules(name, self.connection())

    def wait_subscribed(self, channels):
        '''Waits until the daemon's subscriptions for channels are in place:
        until it has said READY=1 (when it has the testbed's notify socket)
        and then reacted to a signal of its last subscription.  Each is a
        first answer (see FIRST_ANSWER_SECONDS).'''
        self._check_answering()
        try:
            if self._ready_expected:
                self._wait_ready(FIRST_ANSWER_SECONDS)
            self._wait_reacting(channels, FIRST_ANSWER_SECONDS)
        except TimeoutError as err:
            self._missed_first_answer(
                f'{err}; the daemon has the match rules '
                f'{self.daemon_match_rules()}')
        self._answered = True

    def _check_answering(self):
        if self.no_answer is not None:
            raise NoFirstAnswer(f'not waiting for a daemon that did not '
                                f'answer before: {self.no_answer}')

    def _missed_first_answer(self, what):
        '''Marks the testbed and fails with the daemon's log.'''
        self.no_answer = what
        with contextlib.suppress(TimeoutError):
            self.sink.flush()
        log = [f'<{line.priority}> {line.message}'
               for line in self.sink.snapshot()][-20:]
        output = self.daemon_output().splitlines()[-20:]
        raise NoFirstAnswer(
            f'the daemon did not answer within {FIRST_ANSWER_SECONDS} s '
            f'(scaled: {timeout(FIRST_ANSWER_SECONDS):g} s): {what}\n'
            '--- the daemon\'s last log lines ---\n'
            + '\n'.join(log or ['(none)'])
            + '\n--- its last output ---\n'
            + '\n'.join(output or ['(none)'])) from None

    def _drain_ready(self):
        '''Drops what an earlier daemon sent to the notify socket.'''
        self._ready.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            while True:
                self._ready.recv(4096)

    def _wait_ready(self, seconds):
        deadline = time.monotonic() + timeout(seconds)
        self._ready.settimeout(0.05)
        while True:
            try:
                if b'READY=1' in self._ready.recv(4096).split(b'\n'):
                    return
            except socket.timeout:
                pass
            self.check_daemon_alive()
            if time.monotonic() > deadline:
                raise TimeoutError('timed out waiting for READY=1')

    def _wait_reacting(self, channels, seconds):
        '''Emits PresetSpeed of the last channel until the daemon logs it.

        READY=1 follows the flush of the subscriptions' AddMatch calls, but
        a bus reads each connection at its own pace, so another client's
        signal may still be routed before them.  The daemon subscribes
        channel after channel, PresetSpeed last, and a bus handles one
        connection's messages in order: once this signal reaches the
        daemon, every subscription is in place.  Its speed, 0 in another
        space, is the speed the daemon starts with.'''
        deadline = time.monotonic() + timeout(seconds)
        wanted = set()
        while True:
            self.check_daemon_alive()
            space = next(self._handshake_spaces)
            message = PROBE_MESSAGE.format(space)
            wanted.add(message)
            self._handshake_messages.add(message)
            signal_message = dbus.lowlevel.SignalMessage(
                coordinator_path(channels), COORDINATOR, 'PresetSpeed')
            signal_message.append(0, 0, space, signature='iii')
            self.connection().send_message(signal_message)
            self.connection().flush()
            try:
                # a lost signal is sent again
                self.sink.wait_for(lambda line: line.message in wanted, 0.1,
                                   'of the start-up handshake')
                return
            except TimeoutError:
                if time.monotonic() > deadline:
                    raise TimeoutError('timed out waiting for the daemon to '
                                       'react to its last subscription') \
                        from None

    def wait_for_call(self, member, seconds=10):
        '''Waits until the camera's journal holds a call of member.'''
        self._check_answering()

        def called():
            self.check_daemon_alive()
            return [e for e in self.camera.journal() if e.member == member]
        return wait_until(called, seconds, f'a {member} call')

    def start(self, channels=4, extra_env=None):
        '''Bus, camera and daemon, returned once the daemon is in service;
        extra_env as start_daemon takes it.'''
        self.start_bus()
        camera = self.start_camera(channels)
        self.start_daemon(extra_env=extra_env)
        if channels > 0:
            self.wait_subscribed(channels)
        else:
            self.wait_for_call('GetNumberOfChannels')
        return camera

    def stop_daemon(self, seconds=10):
        '''SIGTERM, then the exit status and every captured log line.'''
        if self.daemon is not None and self.daemon_status is None:
            self.daemon.send_signal(signal.SIGTERM)
            try:
                self.daemon_status = self.daemon.wait(timeout(seconds))
            except subprocess.TimeoutExpired:
                self.daemon.kill()
                self.daemon.wait()
                raise
            # the daemon's last lines may still wait in the socket queue
            self.sink.flush()
        return self.daemon_status, self.log_lines()

    # --- the daemon's log ---

    def log_lines(self):
        '''Every syslog line the daemon wrote, probes included, but not
        those of the start-up handshake.'''
        return [line for line in self.sink.snapshot()
                if line.message not in self._handshake_messages]

    def log_messages(self, include_probes=False):
        '''The message texts, in order, without the settling probes.'''
        probes = {PROBE_MESSAGE.format(space) for space in self.probes_sent}
        return [line.message for line in self.log_lines()
                if include_probes or line.message not in probes]

    def wait_for_log(self, message, seconds=10):
        self._check_answering()
        self.sink.wait_for(lambda line: line.message == message, seconds,
                           repr(message))

    def daemon_output(self):
        '''What the daemon (and valgrind) wrote to stdout and stderr, in its
        last run.'''
        if self._saved_output is not None:
            return self._saved_output
        text = self._read_log_file('daemon')
        if self._daemon_pids:
            text += self._valgrind_log(self._daemon_pids[-1])
        return text

    def _valgrind_log(self, pid):
        path = self.dir / 'valgrind' / f'{pid}.log'
        return path.read_text(errors='replace') if path.exists() else ''

    # --- settling ---

    def probe(self, channel=1, seconds=10):
        '''Returns once the daemon has handled every signal sent before.
        Unless the daemon has answered before, this is its first answer.'''
        self._check_answering()
        space = next(self._probe_spaces)
        self.probes_sent.add(space)
        self.camera.announce_speed(channel, 0, space)
        message = PROBE_MESSAGE.format(space)
        if self._answered:
            self.wait_for_log(message, seconds)
            return
        try:
            self.wait_for_log(message, FIRST_ANSWER_SECONDS)
        except TimeoutError as err:
            self._missed_first_answer(f'{err}, the first settling probe')
        self._answered = True

    def wait_camera_done(self, seconds=10, meanwhile=None):
        '''Waits until the camera has nothing pending (a head on its way, a
        late signal), so that a probe comes after all it will signal;
        meanwhile() runs while something is.'''
        def done():
            if self.camera.pending() == 0:
                return True
            if meanwhile is not None:
                meanwhile()
            return False
        wait_until(done, seconds, 'the camera to finish what it has pending')

    def settle(self, channel=1, max_rounds=50):
        '''Probes until a round brings no new call and the camera has
        nothing pending; returns the journal.  A probe sets the daemon's
        speed to 0: announce speeds after it.'''
        before = len(self.camera.journal())
        for _ in range(max_rounds):
            self.wait_camera_done()
            self.probe(channel)
            journal = self.camera.journal()
            if len(journal) == before and not self.camera.pending():
                return journal
            before = len(journal)
        raise TimeoutError(f'still calling after {max_rounds} probes')

    @contextlib.contextmanager
    def daemon_paused(self):
        '''While the daemon is stopped, whatever is signalled waits for it:
        it receives all of it before it handles the first.'''
        pid = self.daemon.pid
        os.kill(pid, signal.SIGSTOP)
        try:
            stat = Path(f'/proc/{pid}/stat')
            while stat.read_text().rsplit(')', 1)[1].split()[0] != 'T':
                time.sleep(0.001)
            yield
        finally:
            os.kill(pid, signal.SIGCONT)

    def settle_counting(self, max_calls, channel=1, max_rounds=50):
        '''Like settle, but counts the journal instead of fetching it and
        gives up as soon as it holds more than max_calls calls, so that a
        daemon that never settles fails fast.  Returns the count.'''
        def within_bound():
            count = self.camera.journal_length()
            if count > max_calls:
                raise CallBoundExceeded(count, max_calls)
            return count
        before = self.camera.journal_length()
        for _ in range(max_rounds):
            # a daemon and camera that keep each other busy fail fast too
            self.wait_camera_done(meanwhile=within_bound)
            self.probe(channel)
            count = within_bound()
            if count == before and not self.camera.pending():
                return count
            before = count
        raise TimeoutError(f'still calling after {max_rounds} probes')

    def forget_log(self):
        '''Drops the log lines captured so far, so that a long run of
        daemons on one testbed keeps its probes fast.'''
        with self.sink.cond:
            self.sink.lines.clear()
        self.probes_sent.clear()

    # --- teardown ---

    def close(self):
        '''Stops everything; under valgrind, fails on what it found.'''
        if self.closed:
            return
        self.closed = True
        runs = []
        try:
            self._end_daemon()
            if self._connection is not None:
                self._connection.close()
                self._connection = None
            if self.monitor is not None:
                self.monitor.close()
            if self.camera_process is not None \
                    and self.camera_process.poll() is None:
                self.camera_process.terminate()
                try:
                    self.camera_process.wait(5)
                except subprocess.TimeoutExpired:
                    self.camera_process.kill()
                    self.camera_process.wait()
            self._stop_bus()
            if self.bus_process is not None and self.bus_process.stdout:
                self.bus_process.stdout.close()
        finally:
            self._saved_output = self.daemon_output()
            if under_valgrind():
                runs = [ValgrindRun.parse(self._valgrind_log(pid))
                        for pid in self._daemon_pids]
                VALGRIND_RUNS.extend(runs)
            self.sink.close()
            if self.bus_journal is not None:
                self.bus_journal.close()
            self._ready.close()
            shutil.rmtree(self.dir, ignore_errors=True)
        failed = [(run.problem(), run.output) for run in runs if run.problem()]
        if failed:
            raise AssertionError('\n'.join(
                f'{problem} in a daemon run:\n{output}'
                for problem, output in failed))

    def _end_daemon(self):
        '''Kills a daemon still running; under valgrind, ends it with
        SIGTERM, so that valgrind checks for leaks, and kills it only if
        it does not end.'''
        if self.daemon is None or self.daemon.poll() is not None:
            return
        if under_valgrind():
            self.daemon.send_signal(signal.SIGTERM)
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.daemon.wait(timeout(10))
                return
        self.daemon.kill()
        self.daemon.wait()

    def log_file(self, name):
        '''A new file in the testbed's directory for a process's output.'''
        return open(self.dir / f'{name}.out', 'wb')

    def _read_log_file(self, name):
        path = self.dir / f'{name}.out'
        return path.read_text(errors='replace') if path.exists() else ''
