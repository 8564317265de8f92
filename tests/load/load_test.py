#!/usr/bin/python3
'''Load: floods of recalls and configuration changes, sent to the daemon as
fast as the bus takes them, from the native stand-in of the camera.

    tests/load/load_test.py [--short] [--report FILE] [unittest arguments]

Each load starts a private system bus, the stand-in and the daemon, then
sends three equal bursts: 10,000 recalls at 4 channels, 1,000 recalls at 16
channels, 10,000 configuration changes at 4 channels each (--short: 300, 100
and 300).  After each burst the daemon must still be on the bus, must have
made exactly the calls the pattern owes (the same count per method and
channel, in the same order) and logged exactly the messages owed; once it
goes idle after each burst, its private dirty memory must be back within
1 MiB of what it was idle before the first.  load_patterns.py describes the
patterns.
'''

import argparse
import collections
import json
import sys
import time
import unittest

from load_bed import LoadBed
from load_patterns import ChangePattern, RecallPattern

BURSTS = 3
# How far above its idle figure the daemon's memory may stay once a burst
# has been handled, and how long it has to give the rest back.
MEMORY_SLACK_KIB = 1024
MEMORY_RETURN_SECONDS = 2.0
# Rounds per burst: a recall round is 100 recalls, a change round 100 changes.
SCALES = {
    'full': {'recalls_4': 100, 'recalls_16': 10, 'changes_4': 100},
    'short': {'recalls_4': 3, 'recalls_16': 1, 'changes_4': 3},
}
SETTINGS = {'scale': 'full'}
FIGURES = {}


def counts(calls):
    '''{(method, channel): calls}'''
    return dict(collections.Counter((method, channel)
                                    for channel, method, _, _ in calls))


def first_difference(expected, seen):
    for index, (want, got) in enumerate(zip(expected, seen)):
        if want != got:
            return index
    return min(len(expected), len(seen))


def log(text):
    print(text, flush=True)


class LoadTest(unittest.TestCase):

    maxDiff = None

    def rounds(self, load):
        return SCALES[SETTINGS['scale']][load]

    def assertCallsAsOwed(self, burst, flood, label):
        self.assertEqual(flood.errors, [], f'{label}: stand-in errors')
        self.assertEqual(flood.strays, [],
                         f'{label}: calls of another sender, or failed')
        owed, made = counts(burst.calls), counts(flood.calls)
        wrong = [f'{method} on {channel}: owed {owed.get(key, 0)}, '
                 f'made {made.get(key, 0)}'
                 for key in sorted(owed.keys() | made.keys())
                 for method, channel in [key]
                 if owed.get(key) != made.get(key)]
        self.assertEqual(wrong, [], f'{label}: calls per method and channel')
        if flood.calls != burst.calls:
            at = first_difference(burst.calls, flood.calls)
            self.fail(f'{label}: calls differ from #{at}: owed '
                      f'{burst.calls[at:at + 4]}, made '
                      f'{flood.calls[at:at + 4]}')

    def run_load(self, load, pattern, channels, presets):
        rounds = self.rounds(load)
        figures = FIGURES.setdefault(load, {'channels': channels,
                                            'bursts': []})
        with LoadBed() as bed:
            bed.start(channels, presets)
            figures['match_rules'] = len(bed.daemon_match_rules())
            figures['private_dirty_kib_idle'] = bed.private_dirty_kib()
            log(f'\n{load}: {channels} channels, {figures["match_rules"]} '
                'match rules, private dirty '
                f'{figures["private_dirty_kib_idle"]} KiB idle')
            space = 1000
            for number in range(1, BURSTS + 1):
                burst = pattern.burst(rounds, space)
                space += len(burst.commands)
                flood = bed.flood(burst)
                label = f'{load} burst {number}'
                self.assertTrue(bed.still_connected(),
                                f'{label}: the daemon left the bus')
                self.assertCallsAsOwed(burst, flood, label)
                self.assertEqual(flood.logs, burst.logs,
                                 f'{label}: log messages')
                figures['bursts'].append(
                    self.burst_figures(bed, burst, flood))
                figures['bursts'][-1]['private_dirty_kib_once_idle'] = \
                    self.memory_once_idle(
                        bed, figures['private_dirty_kib_idle'])
                self.report_burst(label, figures['bursts'][-1])
            status, _ = bed.stop_daemon()
            self.assertEqual(status, 0)
        idle = figures['private_dirty_kib_idle']
        memory = [b['private_dirty_kib_once_idle'] for b in figures['bursts']]
        self.assertLessEqual(max(memory) - idle, MEMORY_SLACK_KIB,
                             f'{load}: private dirty memory idle {idle} KiB, '
                             f'once idle after each burst {memory} KiB')

    def memory_once_idle(self, bed, idle):
        '''Private dirty once the daemon has given back what the burst took,
        or after MEMORY_RETURN_SECONDS if it does not.'''
        deadline = time.monotonic() + MEMORY_RETURN_SECONDS
        while True:
            now = bed.private_dirty_kib()
            if now - idle <= MEMORY_SLACK_KIB or time.monotonic() > deadline:
                return now
            time.sleep(0.05)

    def burst_figures(self, bed, burst, flood):
        stats = bed.connection_stats(bed.daemon_name)
        owed = counts(burst.calls)
        made = counts(flood.calls)
        return {
            'actions': burst.actions,
            'signals': burst.signals,
            'calls': len(flood.calls),
            'calls_owed': len(burst.calls),
            'seconds': round(flood.seconds, 3),
            'emitted_seconds': round(flood.emitted, 3),
            'signals_per_second': round(burst.signals / flood.seconds),
            'actions_per_second': round(burst.actions / flood.seconds),
            'calls_per_second': round(len(flood.calls) / flood.seconds),
            'private_dirty_kib': bed.private_dirty_kib(),
            # The largest queue the bus held for the daemon so far.
            'bus_peak_queue_to_daemon_bytes': stats['PeakOutgoingBytes'],
            'per_method': {
                method: {'owed': sum(n for (m, _), n in owed.items()
                                     if m == method),
                         'made': sum(n for (m, _), n in made.items()
                                     if m == method)}
                for method in sorted({m for m, _ in owed.keys() | made.keys()})
            },
            'resets_logged': sum('exceed' in m for m in flood.logs),
        }

    def report_burst(self, label, b):
        log(f'  {label}: {b["actions"]} actions, {b["signals"]} signals, '
            f'{b["calls"]}/{b["calls_owed"]} calls; all sent after '
            f'{b["emitted_seconds"]:.2f} s, handled after '
            f'{b["seconds"]:.2f} s: '
            f'{b["signals_per_second"]} signals/s, '
            f'{b["calls_per_second"]} calls/s; private dirty '
            f'{b["private_dirty_kib"]} KiB, once idle '
            f'{b["private_dirty_kib_once_idle"]} KiB; bus queue peak '
            f'{b["bus_peak_queue_to_daemon_bytes"]} B; '
            f'{b["resets_logged"]} resets logged')
        for method, n in b['per_method'].items():
            log(f'    {method}: owed {n["owed"]}, made {n["made"]}')

    def test_recalls_at_4_channels_are_all_mirrored_at_full_speed(self):
        self.run_load('recalls_4', RecallPattern(4), 4, RecallPattern.PRESETS)

    def test_recalls_at_16_channels_are_all_mirrored_at_full_speed(self):
        self.run_load('recalls_16', RecallPattern(16), 16,
                      RecallPattern.PRESETS)

    def test_configuration_changes_at_4_channels_are_all_mirrored(self):
        self.run_load('changes_4', ChangePattern(4), 4, ChangePattern.PRESETS)


def summary():
    rules = {f['channels']: f['match_rules'] for f in FIGURES.values()
             if 'match_rules' in f}
    result = {'scale': SETTINGS['scale'], 'loads': FIGURES}
    if len(rules) >= 2:
        (low, low_rules), (high, high_rules) = min(rules.items()), \
            max(rules.items())
        per_channel = (high_rules - low_rules) // (high - low)
        base = low_rules - per_channel * low
        result['match_rules'] = {
            'per_channel': per_channel, 'fixed': base,
            'largest_channel_count_within_512': (512 - base) // per_channel}
        log(f'\nmatch rules: {per_channel} per channel + {base}; '
            f'{result["match_rules"]["largest_channel_count_within_512"]} '
            'channels fit the 512 per connection')
    return result


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--short', action='store_true')
    parser.add_argument('--report')
    options, rest = parser.parse_known_args()
    SETTINGS['scale'] = 'short' if options.short else 'full'
    started = time.monotonic()
    program = unittest.main(argv=[sys.argv[0], '-v'] + rest, exit=False)
    result = summary()
    result['seconds'] = round(time.monotonic() - started, 1)
    log(f'load ({SETTINGS["scale"]}): {result["seconds"]} s in all')
    if options.report:
        with open(options.report, 'w') as out:
            json.dump(result, out, indent=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
