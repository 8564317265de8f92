'''The integration testbed with the native stand-in in place of the simulated
camera: a private system bus (the system bus's own limits), the stand-in
process driven through its stdin and stdout, and the daemon in its private
mount namespace with its syslog captured.

    with LoadBed() as bed:
        bed.start(channels=4, presets=40)
        result = bed.flood(burst)     # a load_patterns.Burst
'''

import os
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import NamedTuple

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / 'integration'))

from testbed import REPO, STATS_IFACE, Testbed  # noqa: E402

STAND_IN = Path(os.environ.get(
    'PTZ_STAND_IN_BIN', REPO / 'build' / 'bench' / 'ptz-stand-in'))
UNIT = REPO / 'packaging' / 'ptz-preset-sync.service.in'


def unit_environment():
    '''The variables the systemd unit gives the daemon, which its memory
    after a burst depends on.'''
    pairs = (line.partition('=')[2].partition('=')
             for line in UNIT.read_text().splitlines()
             if line.startswith('Environment='))
    return {name: value for name, _, value in pairs}


class StandInProcess:
    '''The stand-in, its output lines collected by a thread; echo is where
    the signals its methods cause go (see bench/README.md).'''

    def __init__(self, env, channels, presets, stderr, echo='none',
                 binary=STAND_IN):
        if not binary.is_file():
            raise FileNotFoundError(
                f'{binary} not built (tools/setup.sh builds it, or set '
                'PTZ_STAND_IN_BIN)')
        self.process = subprocess.Popen(
            [str(binary), '--channels', str(channels), '--presets',
             str(presets), '--echo', echo],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr,
            env=env)
        ready = self.process.stdout.readline().decode().split()
        if len(ready) != 3 or ready[0] != 'ready':
            raise RuntimeError(f'the stand-in did not start: {ready}')
        self.bus_name = ready[1]
        self.lines = []
        self.syncs = 0
        self.sync_times = []  # time.monotonic() of each "synced"
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.writer = None

    def _read(self):
        for raw in self.process.stdout:
            line = raw.rstrip(b'\n')
            with self.cond:
                self.lines.append(line)
                if line == b'synced':
                    self.syncs += 1
                    self.sync_times.append(time.monotonic())
                    self.cond.notify_all()

    def send(self, commands):
        '''Writes the commands from a thread of their own, as fast as the
        stand-in reads them; wait_written() returns once all are written.'''
        data = ''.join(command + '\n' for command in commands).encode()

        def write():
            self.process.stdin.write(data)
            self.process.stdin.flush()
        self.writer = threading.Thread(target=write, daemon=True)
        self.writer.start()

    def wait_written(self, seconds):
        self.writer.join(seconds)
        if self.writer.is_alive():
            raise TimeoutError('the stand-in stopped reading its commands')

    def sync(self, seconds=30):
        '''Returns the number of lines it wrote before answering "sync".'''
        with self.cond:
            wanted = self.syncs + 1
        self.process.stdin.write(b'sync\n')
        self.process.stdin.flush()
        with self.cond:
            if not self.cond.wait_for(lambda: self.syncs >= wanted, seconds):
                raise TimeoutError('the stand-in did not answer "sync"')
            return len(self.lines) - 1

    def output(self, start, end):
        with self.cond:
            return self.lines[start:end]

    def close(self):
        try:
            self.process.stdin.close()
            self.process.wait(5)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        self.reader.join(5)
        self.process.stdout.close()


class Flood(NamedTuple):
    seconds: float       # first command written .. last probe logged
    emitted: float       # first command written .. every signal sent
    calls: list          # (channel, method, number, name) as reported
    strays: list         # reported calls of another sender, or unanswered
    errors: list         # commands the stand-in could not carry out
    logs: list           # the daemon's log messages during the burst


def parse_call(line):
    '''A "call" line as (sender, answered, (channel, method, number, name)).'''
    _, _, sender, channel, method, number, ok, name = \
        line.decode().split(' ', 7)
    return sender, ok == '1', (int(channel), method, int(number), name)


class LoadBed(Testbed):

    def __init__(self):
        super().__init__()
        self.stand_in = None
        self.daemon_name = None
        self._mark = 0

    def daemon_env(self, bus_address=None):
        '''The daemon runs as its unit runs it.'''
        return {**super().daemon_env(bus_address), **unit_environment()}

    def start(self, channels=4, presets=16):
        '''Bus, stand-in and a subscribed daemon, idle.'''
        self.start_bus()
        with self.log_file('stand-in') as err:
            self.stand_in = StandInProcess(self.child_env(), channels,
                                           presets, err)
        self.start_daemon()
        self.wait_subscribed(channels)
        self.daemon_name = self.daemon_connection()
        self._mark = self.stand_in.sync() + 1
        return self.stand_in

    def flood(self, burst, seconds=600):
        '''Sends a burst and waits until the daemon logged its last probe.'''
        logged = len(self.log_lines())
        last = burst.logs[-1]
        syncs = len(self.stand_in.sync_times)
        started = time.monotonic()
        # The stand-in answers "sync" once it has sent every signal before.
        self.stand_in.send(burst.commands + ['sync'])
        self._wait_logged(last, seconds)
        elapsed = time.monotonic() - started
        self.stand_in.wait_written(5)
        # The last call's line comes before the stand-in's answer to "sync".
        end = self.stand_in.sync()
        emitted = self.stand_in.sync_times[syncs] - started
        lines = self.stand_in.output(self._mark, end)
        self._mark = end + 1
        calls, strays, errors = [], [], []
        for line in lines:
            if line == b'synced':
                continue
            if line.startswith(b'call '):
                sender, answered, call = parse_call(line)
                if sender == self.daemon_name and answered:
                    calls.append(call)
                else:
                    strays.append(line.decode())
            else:
                errors.append(line.decode(errors='replace'))
        self.sink.flush()
        logs = [line.message for line in self.log_lines()[logged:]]
        return Flood(elapsed, emitted, calls, strays, errors, logs)

    def _wait_logged(self, message, seconds):
        '''Waits for a log line, failing at once when the daemon exits.'''
        deadline = time.monotonic() + seconds
        while True:
            try:
                self.sink.wait_for(lambda line: line.message == message, 1,
                                   repr(message))
                return
            except TimeoutError:
                self.check_daemon_alive()
                if time.monotonic() > deadline:
                    raise

    def still_connected(self):
        '''The daemon runs and the bus still knows its connection.'''
        return self.daemon_running() and \
            self.daemon_connection() == self.daemon_name

    def private_dirty_kib(self):
        text = Path(f'/proc/{self.daemon.pid}/smaps_rollup').read_text()
        for line in text.splitlines():
            if line.startswith('Private_Dirty:'):
                return int(line.split()[1])
        raise RuntimeError('no Private_Dirty in smaps_rollup')

    def connection_stats(self, name):
        '''The bus's figures for one connection (queues, match rules).'''
        stats = self.bus_proxy(STATS_IFACE).GetConnectionStats(name)
        return {str(key): int(value) for key, value in stats.items()
                if key != 'UniqueName'}

    def close(self):
        if self.stand_in is not None:
            self.stand_in.close()
        super().close()
