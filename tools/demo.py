#!/usr/bin/python3
'''Shows ptz-preset-sync keeping the channels of a simulated camera in step.

A private system bus, a simulated camera and the real daemon are started.
Then a user changes presets on one channel at a time; after each step the
demo prints the calls the daemon made on the camera, every channel's
presets, and whether the channels are in step.  It ends with SIGTERM and
the daemon's syslog lines.  Exit status 0 only when every step ended in
step and the daemon exited with 0, so it doubles as a smoke check.

Usage: demo.py [--channels N] [--all-calls]
'''

import argparse
import collections
import os
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / 'tests' / 'integration'))

# pylint: disable=wrong-import-position
from testbed import (DAEMON_IDENT, LOG_DAEMON, PROBE_MESSAGE,  # noqa: E402
                     SIGNAL_MEMBERS, Testbed, daemon_binary,
                     subscription_rules, timeout)

# Positions closer than this count as the same (the daemon's own threshold).
POSITION_TOLERANCE = 2.0
# A step that still brings calls after this long never settles.
SETTLE_SECONDS = 3
STOP_SECONDS = 15
RECALL_SPEED = 40

# Calls that only read; the compact view counts them instead of listing them.
LOOK_UPS = {'GetNumberOfChannels', 'GetPresets', 'QueryPresets',
            'GetPtzPresetState'}
# Argument labels after the "Operator", 0 that every preset method begins with.
ARG_LABELS = {
    'QueryPresets': ('positions',),
    'SetPresetName': ('', 'home'),
    'SetPresetNumber': ('', 'home'),
    'RenamePreset': ('', ''),
    'UpdatePreset': ('', ''),
    'RemovePresetName': ('',),
    'GotoPresetNumber': ('', 'speed'),
}
SEVERITIES = ('emerg', 'alert', 'crit', 'err', 'warning', 'notice', 'info',
              'debug')


class Style:
    '''ANSI emphasis, only for a terminal.'''

    def __init__(self, enabled):
        self.enabled = enabled

    def _wrap(self, code, text):
        return f'\033[{code}m{text}\033[0m' if self.enabled else text

    def bold(self, text):
        return self._wrap('1', text)

    def dim(self, text):
        return self._wrap('2', text)

    def verdict(self, ok, good='yes', bad='no'):
        return self._wrap('32' if ok else '31;1', good if ok else bad)


def channel_of(path):
    tail = path.rsplit('/', 1)[-1]
    return tail if tail.isdigit() else 'cam'


def format_value(value):
    if isinstance(value, bool):
        return 'true' if value else 'false'
    if isinstance(value, str):
        return f'"{value}"'
    if isinstance(value, float):
        return f'{value:g}'
    return str(value)


def format_call(entry):
    '''"SetPresetName("Door", home=false)": the role and the reserved 0 of
    the preset methods are left out, they are the same on every call.'''
    args = list(entry.args)
    labels = ARG_LABELS.get(entry.member)
    if labels and args[:2] == ['Operator', 0] and len(args) == 2 + len(labels):
        args = args[2:]
    else:
        labels = ('',) * len(args)
    shown = [f'{label}={format_value(arg)}' if label else format_value(arg)
             for label, arg in zip(labels, args)]
    return f'{entry.member}({", ".join(shown)})'


def print_calls(journal, all_calls):
    changes = [e for e in journal if all_calls or e.member not in LOOK_UPS]
    for entry in changes:
        print(f'    ch {channel_of(entry.path):>3}  {format_call(entry)}')
    if not journal:
        print('    (no call)')
    elif not changes:
        print('    (no change made)')
    look_ups = collections.Counter(
        e.member for e in journal if e.member in LOOK_UPS)
    if look_ups and not all_calls:
        counted = ', '.join(f'{count} {member}'
                            for member, count in sorted(look_ups.items()))
        total = sum(look_ups.values())
        print(f'    + {total} look-up{"s" if total > 1 else ""} ({counted})')


def preset_cell(number, preset, home):
    mark = '*' if number == home else ''
    return f'{number} {preset.name}{mark} ({preset.pan:g}, {preset.tilt:g})'


def print_table(state):
    channels = state['channels']
    numbers = sorted({n for ch in channels.values() for n in ch['presets']})
    cells = {c: {n: preset_cell(n, ch['presets'][n], ch['home'])
                 for n in ch['presets']}
             for c, ch in channels.items()}
    widths = {n: max(len(cells[c].get(n, '')) for c in channels)
              for n in numbers}
    pan, tilt = state['head']
    print(f'    head at ({pan:g}, {tilt:g}); '
          'now = the preset the channel reports, * = home')
    print('     ch  now  presets')
    for c in sorted(channels):
        reported = channels[c]['reported'] or '-'
        row = '   '.join(cells[c].get(n, '').ljust(widths[n])
                         for n in numbers).rstrip()
        print(f'    {c:>3}  {reported!s:>3}  {row or "(none)"}')


def differences(state):
    '''Why the channels are not in step (empty: they are), each channel
    compared with the first.'''
    channels = state['channels']
    first = min(channels)
    ref = channels[first]
    found = []
    for c in sorted(channels)[1:]:
        ch = channels[c]
        if sorted(ch['presets']) != sorted(ref['presets']):
            found.append(f'channel {c} holds presets {sorted(ch["presets"])}'
                         f', channel {first} {sorted(ref["presets"])}')
            continue
        for n, preset in ch['presets'].items():
            other = ref['presets'][n]
            if preset.name != other.name:
                found.append(f'channel {c} names preset {n} '
                             f'"{preset.name}", not "{other.name}"')
            if abs(preset.pan - other.pan) >= POSITION_TOLERANCE \
                    or abs(preset.tilt - other.tilt) >= POSITION_TOLERANCE:
                found.append(f'channel {c} has preset {n} at '
                             f'({preset.pan:g}, {preset.tilt:g}), not at '
                             f'({other.pan:g}, {other.tilt:g})')
        if ch['home'] != ref['home']:
            found.append(f'channel {c} has home {ch["home"] or "none"}, '
                         f'not {ref["home"] or "none"}')
        if ch['reported'] != ref['reported']:
            found.append(f'channel {c} reports preset {ch["reported"]}, '
                         f'not {ref["reported"]}')
    return found


def check_recall_speed(journal):
    '''Every mirrored recall carries the announced speed.'''
    wrong = [e.args[-1] for e in journal
             if e.member == 'GotoPresetNumber' and e.args[-1] != RECALL_SPEED]
    return [f'GotoPresetNumber sent with speed {speed}, not {RECALL_SPEED}'
            for speed in wrong[:1]]


class Demo:
    def __init__(self, tb, channels, all_calls, style):
        self.tb = tb
        self.camera = None
        self.channels = channels
        self.all_calls = all_calls
        self.style = style
        self.steps = []

    def ch(self, n):
        '''Channel n of the story, folded onto the camera's channels.'''
        return (n - 1) % self.channels + 1

    # --- the story ---

    def build_steps(self):
        '''(description, action on the camera, extra check of the
        journal); the first step starts everything.'''
        c = self.ch
        self.steps = [
            ('Start-up: the daemon asks the camera for its channel count '
             'and subscribes to every channel.', None, None),
            (f'On channel {c(1)} the user points the head at (30, 10) and '
             'saves it as a new preset named "Door".',
             lambda cam: (cam.user_move(30, 10),
                          cam.user_create_by_name(c(1), 'Door')), None),
            (f'On channel {c(2)} the user points the head at (-45, 5) and '
             'saves it as preset number 3 (the camera names it "Pos3").',
             lambda cam: (cam.user_move(-45, 5),
                          cam.user_create_by_number(c(2), 3)), None),
            (f'On channel {c(3)} the user points the head at (90, -20) and '
             'saves it as "Gate"; it lands on the free number 2, so the '
             'others get it by number, then renamed.',
             lambda cam: (cam.user_move(90, -20),
                          cam.user_create_by_name(c(3), 'Gate')), None),
            (f'On channel {c(4)} the user renames preset 3 "Pos3" to '
             '"Window".',
             lambda cam: cam.user_rename(c(4), 3, 'Window'), None),
            ('The user moves the head to (100, -15) and, on channel '
             f'{c(2)}, saves preset 2 "Gate" there again.',
             lambda cam: (cam.user_move(100, -15),
                          cam.user_update_position(c(2), 2)), None),
            (f'On channel {c(3)} the user makes preset 2 "Gate" the home '
             'preset.',
             lambda cam: cam.user_make_home(c(3), 2), None),
            (f'On channel {c(4)} the user removes preset 3 "Window".',
             lambda cam: cam.user_remove(c(4), 3), None),
            (f'The camera announces recall speed {RECALL_SPEED}, then on '
             f'channel {c(1)} the user recalls preset 1 "Door".',
             self.recall, check_recall_speed),
        ]

    def recall(self, cam):
        # After the last settling probe: a probe resets the recall speed.
        cam.announce_speed(self.ch(1), RECALL_SPEED)
        cam.user_recall(self.ch(1), 1)

    # --- running ---

    def settle(self):
        '''The journal once the daemon has handled every echo, or None when
        it is still calling after SETTLE_SECONDS.'''
        deadline = time.monotonic() + timeout(SETTLE_SECONDS)
        before = len(self.camera.journal())
        while True:
            left = (deadline - time.monotonic()) / timeout(1)
            if left <= 0:
                return None
            try:
                self.tb.probe(seconds=left)
            except TimeoutError:
                return None
            journal = self.camera.journal()
            if len(journal) == before:
                return journal
            before = len(journal)

    def start(self):
        '''Bus, camera and daemon; the daemon's subscriptions, counted.'''
        self.camera = self.tb.start(self.channels)
        rules = subscription_rules(self.tb.daemon_match_rules())
        counts = collections.Counter(rule['member'] for rule in rules)
        return ', '.join(
            f'{counts[m]} {m}' for m in SIGNAL_MEMBERS)

    def run_step(self, index, description, action, extra_check):
        '''Prints one step; returns whether the daemon went quiet and
        whether the channels ended in step.'''
        s = self.style
        print(s.bold(f'Step {index}/{len(self.steps)}: ') + description)
        began = time.monotonic()
        subscribed = None
        if action is None:
            subscribed = self.start()
        else:
            self.camera.clear_journal()
            action(self.camera)
        journal = self.settle()
        took = time.monotonic() - began
        if journal is None:
            self.report_unsettled(took)
            return False, False
        print(s.dim(f'  calls by the daemon ({took * 1000:.0f} ms):'))
        print_calls(journal, self.all_calls)
        if subscribed:
            print(f'    subscribed: {subscribed}')
        state = self.camera.state()
        print_table(state)
        problems = differences(state)
        if extra_check:
            problems += extra_check(journal)
        for problem in problems:
            print(f'    ! {problem}')
        print(f'  in step: {s.verdict(not problems)}')
        print()
        return True, not problems

    def report_unsettled(self, took):
        journal = self.camera.journal()
        if not self.tb.daemon_running():
            print(f'  the daemon exited during this step after {took:.1f} s,'
                  f' having made {len(journal)} calls')
            print(f'  in step: {self.style.verdict(False)} (the remaining '
                  'steps are not run)')
            print()
            return
        changes = [e for e in journal if e.member not in LOOK_UPS]
        print(f'  the daemon is still calling after {took:.1f} s: '
              f'{len(journal)} calls, {len(changes)} of them changes; '
              'the most frequent changes:')
        frequent = collections.Counter(
            (channel_of(e.path), format_call(e)) for e in changes)
        for (channel, call), count in frequent.most_common(4):
            print(f'    ch {channel:>3}  {call}  x{count}')
        print(f'  in step: {self.style.verdict(False)} (it never settled, '
              'so the remaining steps are not run)')
        print()

    def run(self):
        '''Every step until one leaves the daemon busy; the verdicts.'''
        self.build_steps()
        verdicts = []
        for index, (description, action, check) in enumerate(self.steps, 1):
            settled, in_step = self.run_step(index, description, action,
                                             check)
            verdicts.append(in_step)
            if not settled:
                break
        return verdicts

    def stop(self):
        '''SIGTERM; prints the exit status and the daemon's log.'''
        s = self.style
        if self.tb.daemon is None:
            return None
        print(s.bold('Stop: ') + 'SIGTERM to the daemon.')
        try:
            status, lines = self.tb.stop_daemon(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            print(f'  the daemon did not exit within {STOP_SECONDS} s; '
                  'killed')
            status, lines = None, self.tb.log_lines()
        print(f'  exit status: {status}')
        probes = {PROBE_MESSAGE.format(space) for space in self.tb.probes_sent}
        shown = [line for line in lines if line.message not in probes]
        print(f'  syslog: the daemon logs failures only, as warnings '
              f'({len(lines) - len(shown)} lines "Received unsupported space '
              'in speed signal:<n>" left out: they answer the settling '
              "probes, the demo's own PresetSpeed signals with an unused "
              'space):')
        for line in shown:
            facility = 'daemon' if line.facility == LOG_DAEMON \
                else str(line.facility >> 3)
            severity = SEVERITIES[line.severity] if line.priority >= 0 \
                else '?'
            print(f'    {facility}.{severity} {line.ident or DAEMON_IDENT}'
                  f'[{line.pid}]: {line.message}')
        if not shown:
            print('    (none)')
        return status


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description='Shows ptz-preset-sync keeping the channels of a '
                    'simulated camera in step.')
    parser.add_argument('--channels', type=int, default=4, metavar='N',
                        help='channels of the simulated camera, 1 to 64 '
                             '(default 4)')
    parser.add_argument('--all-calls', action='store_true',
                        help='list every call, look-ups included')
    args = parser.parse_args(argv)
    if not 1 <= args.channels <= 64:
        parser.error('--channels takes 1 to 64')
    return args


def main(argv):
    args = parse_args(argv)
    style = Style(sys.stdout.isatty() and 'NO_COLOR' not in os.environ)
    binary = daemon_binary()
    if not binary.is_file():
        print(f'demo: {binary} is not built (run tools/demo.sh)',
              file=sys.stderr)
        return 2
    began = time.monotonic()
    print(style.bold(f'ptz-preset-sync on a simulated {args.channels}-channel '
                     'camera, on a private system bus'))
    print(f'daemon: {binary}')
    print()
    with Testbed() as tb:
        demo = Demo(tb, args.channels, args.all_calls, style)
        try:
            verdicts = demo.run()
        except (RuntimeError, TimeoutError, OSError) as err:
            print(f'demo: stopped: {err}')
            verdicts = []
        status = demo.stop()
        output = tb.daemon_output()
    if output:
        print('daemon stdout/stderr:\n' + output.rstrip())
    total = len(demo.steps)
    passed = verdicts.count(True)
    ok = passed == total and status == 0
    print()
    print(f'demo: {passed} of {total} steps in step, daemon exit status '
          f'{status}, {time.monotonic() - began:.1f} s: '
          f'{style.verdict(ok, "passed", "FAILED")}')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
