#!/usr/bin/python3
'''Seeded convergence check: random user actions on the simulated camera,
mirrored by the real daemon, must always settle.

Each seed makes one scenario: a channel count, a set of the camera's
behaviour switches and steps of user actions, each step one action or a
burst queued while the daemon is stopped.  After every step the daemon must
settle within a number of calls proportional to channels x actions (a
recall: 2 per other channel).  Where one user acted on one channel at a
time and no call was made to fail, every channel must hold exactly the
presets of a reference model that applies the actions alone to one channel
and report the preset it reports, and the daemon must log no warning.
Every scenario ends with the daemon alive and exiting 0 within a second of
SIGTERM.  A failing scenario is shrunk to the shortest action list that
still fails the same way.

Usage: convergence.py --seeds N --first S [--channels 2,4-8]
       [--behaviours default,quiet-noop,moving-head+keeps-name]
       [--budget SECONDS] [--shrink-budget SECONDS]

--behaviours lists the switch sets a scenario draws from, comma-separated;
"+" joins the switches of one set, "default" is the set of none.  Without
it a scenario draws one switch or none, adds keeps-name about half the
time, and now and then one more.
'''

import argparse
import random
import subprocess
import sys
import time
from pathlib import Path
from typing import NamedTuple

import dbus

sys.path.insert(0, str(Path(__file__).resolve().parent))

from change_signals import FULL_BUFFER  # noqa: E402
from testbed import (CallBoundExceeded, Testbed,  # noqa: E402
                     sanitizer_build)

# The camera's behaviour switches, in the order the camera names them.
BEHAVIOURS = ('keeps-name', 'after-highest', 'moving-head', 'quiet-noop',
              'resave-as-created', 'late-signals', 'old-home-signal')

# Boundaries of the echo buffers (32 records) and the bus's limit (72).
CHANNEL_WEIGHTS = {2: 22, 3: 18, 4: 14, 5: 8, 6: 6, 8: 6, 12: 5, 16: 4,
                   24: 3, 32: 3, 33: 3, 48: 3, 64: 2, 72: 3}
BUFFER_SIZE = 32
LISTING_NAME_BYTES = 95
FAULT_METHODS = ('QueryPresets', 'GetPresets', 'SetPresetName',
                 'SetPresetNumber', 'RenamePreset', 'UpdatePreset',
                 'RemovePresetName', 'GetPtzPresetState', 'GotoPresetNumber')
WORDS = ('Door', 'Gate', 'Dock', 'Lobby', 'Roof', 'Hall', 'Yard', 'Lift')


class Action(NamedTuple):
    op: str          # name, number, rename, move, home, remove or recall
    channel: int
    number: int = 0  # the preset acted on; 0 for a creation by name
    name: str = ''
    home: bool = False
    pan: float = 0.0
    tilt: float = 0.0

    def __str__(self):
        what = {
            'name': f'create "{self.name}" by name',
            'number': f'create preset {self.number} by number',
            'rename': f'rename preset {self.number} to "{self.name}"',
            'move': f'move to ({self.pan:g}, {self.tilt:g}), save preset '
                    f'{self.number}',
            'home': f'make preset {self.number} home',
            'remove': f'remove preset {self.number}',
            'recall': f'recall preset {self.number}',
        }[self.op]
        return f'channel {self.channel}: {what}' + (
            ' as home' if self.home else '')


class Fault(NamedTuple):
    channel: int
    method: str
    count: int

    def __str__(self):
        return f'{self.method} on channel {self.channel} fails {self.count}x'


class Step(NamedTuple):
    burst: bool      # queued while the daemon is stopped
    actions: tuple
    faults: tuple = ()

    def lines(self):
        faults = [f'(fault) {fault}' for fault in self.faults]
        if self.burst:
            return faults + ['burst: ' + '; '.join(map(str, self.actions))]
        return faults + [str(action) for action in self.actions]


def switch_set(names):
    '''Switch names as a scenario holds them: a tuple in BEHAVIOURS' order,
    without "default".'''
    return tuple(name for name in BEHAVIOURS if name in set(names))


def behaviour_name(switches):
    return '+'.join(switches) or 'default'


class Scenario(NamedTuple):
    seed: int
    channels: int
    behaviour: tuple  # switches, as switch_set gives them
    kind: str        # plain, crowd (several channels a burst), faults, flood
    steps: tuple

    @property
    def eligible(self):
        '''One user on one channel at a time and no failed call: the
        model and warning checks apply.'''
        return self.kind == 'plain'

    def actions(self):
        return [action for step in self.steps for action in step.actions]

    def describe(self):
        return (f'seed {self.seed}: {self.channels} channels, behaviour '
                f'{behaviour_name(self.behaviour)}, {self.kind} scenario')


class Invalid(Exception):
    '''An action no user could take at that point.'''


class Model:
    '''One channel under the users' actions alone, by the camera's rules
    (of the switches, keeps-name and after-highest change what a channel
    holds; the others only when and what it signals).'''

    def __init__(self, behaviour):
        self.behaviour = behaviour
        self.presets = {}     # number -> (name, pan, tilt)
        self.home = 0
        self.head = (0.0, 0.0)
        self.reported = 0     # the preset the channel reports
        self.history = {}     # number -> every name it had
        self.touched = set()  # presets changed in the current burst
        self.burst_ops = set()

    def copy(self):
        other = Model(self.behaviour)
        other.presets, other.home = dict(self.presets), self.home
        other.head, other.touched = self.head, set(self.touched)
        other.reported, other.burst_ops = self.reported, set(self.burst_ops)
        other.history = {n: set(names) for n, names in self.history.items()}
        return other

    def holder(self, name):
        return next((n for n, p in self.presets.items() if p[0] == name), 0)

    def name_free(self, name, number):
        if self.holder(name) not in (0, number):
            raise Invalid(f'name "{name}" is taken')

    def apply(self, action, in_burst):
        op, number = action.op, action.number
        if op == 'name':
            self.name_free(action.name, 0)
            if 'after-highest' in self.behaviour:
                number = max(self.presets, default=0) + 1
            else:
                number = min(set(range(1, len(self.presets) + 2))
                             - set(self.presets))
        elif op != 'number' and number not in self.presets:
            raise Invalid(f'no preset {number}')
        if in_burst and op == 'move':
            raise Invalid('the head moves in a burst')
        ops = self.burst_ops | {'home' if action.home else op}
        if in_burst and 'recall' in ops and ops & {'name', 'number', 'home'}:
            # the daemon saves where the head is when it mirrors a save,
            # and a recall in the burst has moved it by then
            raise Invalid('a save or a home in a burst with a recall')
        if in_burst and op == 'remove' and number in self.touched:
            # the burst's earlier change of it cannot be read back from a
            # listing that no longer holds it
            raise Invalid('removal of a preset changed in its burst')
        name, pan, tilt = self.presets.get(number, ('', 0.0, 0.0))
        if in_burst and op == 'home' and (pan, tilt) != self.head:
            raise Invalid('home in a burst away from the head')
        if op == 'name':
            name = action.name
        elif op == 'number' and not ('keeps-name' in self.behaviour
                                     and number in self.presets):
            name = f'Pos{number}'
        elif op == 'rename':
            name = action.name
        self.name_free(name, number)
        if op == 'move':
            self.head = (action.pan, action.tilt)
            self.reported = 0
        elif op == 'recall' or (op == 'home' and not in_burst):
            # a home outside a burst is recalled first (see take)
            self.head = (pan, tilt)
            self.reported = number
        if op == 'remove':
            del self.presets[number]
            self.home = 0 if self.home == number else self.home
        elif op == 'rename':
            self.presets[number] = (name, pan, tilt)
        elif op in ('name', 'number', 'move'):
            self.presets[number] = (name,) + self.head
        if op != 'remove':
            self.history.setdefault(number, set()).add(name)
        if action.home or op == 'home':
            self.home = number
        if in_burst:
            self.touched.add(number)
            self.burst_ops |= ops

    def end_step(self):
        self.touched.clear()
        self.burst_ops.clear()

    def channel_state(self):
        return {'home': self.home, 'presets': dict(self.presets),
                'reported': self.reported}


def replay(scenario):
    '''The model after each step; Invalid when an action cannot be taken
    (as once the action that created its preset is gone).'''
    model = Model(scenario.behaviour)
    states = []
    for step in scenario.steps:
        for action in step.actions:
            model.apply(action, step.burst)
        model.end_step()
        states.append(model.channel_state())
    return states


class Generator:
    '''Draws one scenario from a seed, keeping a model of the camera as
    its users see it so that every action can be taken.'''

    def __init__(self, seed, channels=(), behaviours=()):
        self.rng = rng = random.Random(seed)
        self.seed = seed
        counts = sorted(channels) or list(CHANNEL_WEIGHTS)
        self.channels = rng.choices(
            counts, [CHANNEL_WEIGHTS.get(c, 5) for c in counts])[0]
        self.behaviour = self.draw_behaviour(behaviours)
        kinds = ['plain'] * 14 + ['crowd'] * 3 + ['faults'] * 3
        if self.channels <= 4:
            kinds.append('flood')
        self.kind = rng.choice(kinds)
        self.model = Model(self.behaviour)
        self.named = 0

    def draw_behaviour(self, sets):
        '''One of the sets given, else one switch or none, with keeps-name
        about half the time and now and then a third.'''
        rng = self.rng
        if sets:
            return rng.choice(sets)
        switches = {rng.choice(('default',) + BEHAVIOURS)}
        if rng.random() < 0.5:
            switches.add('keeps-name')
        if rng.random() < 0.15:
            switches.add(rng.choice(BEHAVIOURS))
        return switch_set(switches)

    def scenario(self):
        rng = self.rng
        count = rng.randint(2, 5) if self.channels > 16 \
            else rng.randint(3, 10)
        steps = [self.step(index) for index in range(count)]
        if self.kind == 'flood':
            steps += self.flood()
        return Scenario(self.seed, self.channels, self.behaviour, self.kind,
                        tuple(steps))

    def step(self, index):
        rng = self.rng
        burst = rng.random() < 0.3
        channel = rng.randint(1, self.channels)
        actions = []
        for _ in range(rng.randint(2, 5) if burst else 1):
            if burst and self.kind == 'crowd':
                channel = rng.randint(1, self.channels)
            actions.append(self.action(channel, burst))
        faults = ()
        if self.kind == 'faults' and (index == 0 or rng.random() < 0.3):
            faults = (Fault(rng.randint(1, self.channels),
                            rng.choice(FAULT_METHODS), rng.randint(1, 3)),)
        self.model.end_step()
        return Step(burst, tuple(actions), faults)

    def flood(self):
        '''More renames queued at once than an echo buffer holds.'''
        channel = self.rng.randint(1, self.channels)
        steps = []
        if not self.model.presets:
            create = Action('number', channel, 1)
            self.model.apply(create, False)
            self.model.end_step()
            steps.append(Step(False, (create,)))
        renames = []
        for _ in range(self.rng.randint(BUFFER_SIZE + 1, BUFFER_SIZE + 6)):
            number = self.pick(self.model.presets)
            renames.append(Action('rename', channel, number,
                                  name=self.fresh_name()))
            self.model.apply(renames[-1], True)
        return steps + [Step(True, tuple(renames))]

    def action(self, channel, in_burst):
        '''A random action the user can take, applied to the model.'''
        model = self.model
        ops = {'name': 3, 'number': 3}
        if model.presets:
            ops.update(rename=3, remove=2)
            if not in_burst:
                ops.update(move=2, home=2, recall=1.5)
            else:
                ops.update(recall=1)
                if self.at_head():
                    ops.update(home=1)
        while True:
            op = self.rng.choices(list(ops), list(ops.values()))[0]
            action = self.make(op, channel, in_burst)
            trial = model.copy()
            try:
                trial.apply(action, in_burst)
            except Invalid:
                continue
            self.model = trial
            return action

    def at_head(self):
        return [n for n, p in self.model.presets.items()
                if p[1:] == self.model.head]

    def make(self, op, channel, in_burst):
        rng, model = self.rng, self.model
        if op == 'name':
            return Action(op, channel, name=self.fresh_name(),
                          home=rng.random() < 0.1)
        if op == 'number':
            free = [n for n in range(1, max(model.presets, default=0) + 4)
                    if n not in model.presets]
            numbers = model.presets if model.presets and rng.random() < 0.4 \
                else free
            return Action(op, channel, self.pick(numbers),
                          home=rng.random() < 0.25)
        number = self.pick(self.at_head() if op == 'home' and in_burst
                           else model.presets)
        if op == 'rename':
            return Action(op, channel, number, name=self.new_name(number))
        if op == 'move':
            return Action(op, channel, number, pan=5.0 * rng.randint(-6, 6),
                          tilt=5.0 * rng.randint(-3, 3))
        return Action(op, channel, number)

    def pick(self, numbers):
        return self.rng.choice(sorted(numbers))

    def fresh_name(self):
        self.named += 1
        roll = self.rng.random()
        if roll < 0.05:
            return longest_name(f'{self.named} Lüftung, loading bay')
        if roll < 0.12:
            return f'Tür {self.named}'
        return f'{self.rng.choice(WORDS)} {self.named}'

    def new_name(self, number):
        '''Mostly a fresh name; sometimes one it had, or its default.'''
        roll = self.rng.random()
        current = self.model.presets[number][0]
        earlier = sorted(self.model.history[number] - {current})
        if roll < 0.2 and earlier:
            return self.rng.choice(earlier)
        if roll < 0.35 and current != f'Pos{number}':
            return f'Pos{number}'
        return self.fresh_name()


def longest_name(start):
    '''start padded to the 95 bytes a listing entry carries at most.'''
    raw = (start + ', north side' * 10).encode()[:LISTING_NAME_BYTES]
    return raw.decode(errors='ignore').rstrip(' ,')


def generate(seed, channels=(), behaviours=()):
    return Generator(seed, channels, behaviours).scenario()


# --- running one scenario ---

# An update that makes a preset home on another channel costs a lookup, a
# save and a rename there, and their echoes; the source's lookups come once.
CALLS_PER_OTHER_CHANNEL = 5
SOURCE_CALLS = 2


class Failure(Exception):
    def __init__(self, check, message, step=None):
        super().__init__(check, message)
        self.check = check    # settle, bound, model, warning, crash, sigterm
        self.message = message
        self.step = step      # index of the step after which it was seen
        self.log = []

    def __str__(self):
        where = f' after step {self.step + 1}' if self.step is not None \
            else ''
        return f'{self.check}{where}: {self.message}'


def call_bound(channels, steps, behaviour=()):
    '''The most calls the daemon may make for these steps: one walk per
    change, for a recall a state query and a goto per other channel, on a
    camera that also signals the home it replaces the reads of those extra
    signals, and for each change disturbed by a failed call or another user
    one walk per echo.'''
    walk = CALLS_PER_OTHER_CHANNEL * (channels - 1) + SOURCE_CALLS
    recall = 2 * (channels - 1)
    bound = 0
    for step in steps:
        for action in step.actions:
            if action.op == 'recall':
                bound += recall
                continue
            bound += walk
            if action.op == 'home' and not step.burst:
                bound += recall  # looked at first
            if 'old-home-signal' in behaviour \
                    and (action.op == 'home' or action.home):
                bound += channels * channels
        disturbed = sum(fault.count for fault in step.faults)
        if step.burst and len({a.channel for a in step.actions}) > 1:
            disturbed += len(step.actions)
        if len(step.actions) > BUFFER_SIZE:
            disturbed += len(step.actions)
        bound += disturbed * channels * walk
    return bound


def take(camera, action, in_burst):
    '''Takes a user's action on the camera.'''
    ch, number = action.channel, action.number
    if action.op == 'name':
        camera.user_create_by_name(ch, action.name, action.home)
    elif action.op == 'number':
        camera.user_create_by_number(ch, number, action.home)
    elif action.op == 'rename':
        camera.user_rename(ch, number, action.name)
    elif action.op == 'move':
        camera.user_move(action.pan, action.tilt)
        camera.user_update_position(ch, number)
    elif action.op == 'home':
        if not in_burst:
            camera.user_recall(ch, number)  # looks at it first
        camera.user_make_home(ch, number)
    elif action.op == 'remove':
        camera.user_remove(ch, number)
    elif action.op == 'recall':
        camera.user_recall(ch, number)


def differ(expected, channel):
    '''How a channel's presets, home and reported preset differ from the
    model's.'''
    def text(preset):
        return f'"{preset[0]}" at ({preset[1]:g}, {preset[2]:g})' \
            if preset else 'none'
    presets = {n: tuple(p) for n, p in channel['presets'].items()}
    wanted = expected['presets']
    differences = [f'preset {n} is {text(presets.get(n))}, expected '
                   f'{text(wanted.get(n))}'
                   for n in sorted(set(presets) | set(wanted))
                   if presets.get(n) != wanted.get(n)]
    if channel['home'] != expected['home']:
        differences.append(f'home is {channel["home"]}, expected '
                           f'{expected["home"]}')
    if channel['reported'] != expected['reported']:
        differences.append(f'reports preset {channel["reported"]}, expected '
                           f'{expected["reported"]}')
    return differences


class Rig:
    '''One bus and one camera for one channel count, reset between
    scenarios; a fresh daemon for each scenario.'''

    def __init__(self, channels):
        self.channels = channels
        self.tb = Testbed()
        try:
            self.tb.start_bus()
            self.camera = self.tb.start_camera(channels)
        except BaseException:
            self.tb.close()
            raise

    def close(self):
        self.tb.close()

    def run(self, scenario):
        '''None when the scenario passes, else its first Failure.  A daemon
        that does not answer its first probe is no scenario's failure: the
        testbed's NoFirstAnswer ends the whole run.'''
        tb, camera = self.tb, self.camera
        camera.reset()
        camera.set_behaviour(scenario.behaviour)
        tb.forget_log()
        tb.start_daemon()
        failure = None
        try:
            tb.wait_subscribed(self.channels)
            camera.clear_journal()
            self.play(scenario)
            self.check_warnings(scenario)
        except Failure as found:
            failure = found
        except RuntimeError as err:  # the daemon died
            failure = Failure('crash', str(err).splitlines()[0])
        except TimeoutError as err:
            failure = Failure('settle', str(err))
        ended = self.stop()
        failure = failure or ended
        if failure is not None:
            failure.log = self.log_tail()
        return failure

    def play(self, scenario):
        states = replay(scenario) if scenario.eligible else None
        for index, step in enumerate(scenario.steps):
            for fault in step.faults:
                self.camera.fail_method(fault.channel, fault.method,
                                        fault.count)
            try:
                if step.burst:
                    self.burst(step.actions)
                else:
                    for action in step.actions:
                        take(self.camera, action, False)
            except dbus.exceptions.DBusException as err:
                if scenario.eligible:
                    raise Failure('model', 'the camera refused a user '
                                  f'action: {err.get_dbus_message()}',
                                  index) from None
            self.settle(call_bound(self.channels, scenario.steps[:index + 1],
                                   scenario.behaviour), index)
            if states is not None:
                self.compare(states[index], index)

    def burst(self, actions):
        '''The actions' signals all wait for the daemon before it handles
        the first.'''
        with self.tb.daemon_paused():
            for action in actions:
                take(self.camera, action, True)

    def settle(self, bound, index):
        try:
            self.tb.settle_counting(bound)
        except CallBoundExceeded as err:
            raise Failure('bound', str(err), index) from None
        except TimeoutError as err:
            self.tb.check_daemon_alive()
            raise Failure('settle', str(err), index) from None

    def compare(self, expected, index):
        channels = self.camera.state()['channels']
        for number, channel in sorted(channels.items()):
            differences = differ(expected, channel)
            if differences:
                raise Failure('model', f'channel {number}: '
                              + '; '.join(differences), index)

    def messages(self):
        self.tb.sink.flush()
        return self.tb.log_messages()

    def check_warnings(self, scenario):
        if not scenario.eligible:
            return
        messages = self.messages()
        if messages:
            overflow = [m for m in messages if m == FULL_BUFFER]
            raise Failure('warning', f'{len(messages)} warnings, '
                          f'{len(overflow)} of them buffer overflows; '
                          f'the first: {messages[0]}')

    def stop(self):
        '''SIGTERM; a Failure unless the daemon was alive and exited 0
        within a second.'''
        daemon = self.tb.daemon
        if daemon.poll() is not None:
            self.tb.sink.flush()
            return Failure('crash', f'the daemon exited with '
                           f'{daemon.returncode}')
        seconds = 3 if sanitizer_build() else 1
        try:
            status, _ = self.tb.stop_daemon(seconds)
        except subprocess.TimeoutExpired:
            return Failure('sigterm', f'still running {seconds} s '
                           'after SIGTERM')
        if status != 0:
            return Failure('sigterm', f'exit status {status} on SIGTERM')
        return None

    def log_tail(self):
        lines = self.messages()
        output = self.tb.daemon_output().strip()
        return lines + (output.splitlines() if output else [])


# --- shrinking ---

def candidates(scenario, failed_step):
    '''Smaller scenarios: cut after the failing step, then without one
    step, one action of a burst or one fault.'''
    steps = scenario.steps
    if failed_step is not None and failed_step + 1 < len(steps):
        yield scenario._replace(steps=steps[:failed_step + 1])
    for i in reversed(range(len(steps))):
        yield scenario._replace(steps=steps[:i] + steps[i + 1:])
    for i, step in enumerate(steps):
        for j in range(len(step.actions) if len(step.actions) > 1 else 0):
            smaller = step._replace(
                actions=step.actions[:j] + step.actions[j + 1:])
            yield scenario._replace(steps=steps[:i] + (smaller,)
                                    + steps[i + 1:])
        for j in range(len(step.faults)):
            smaller = step._replace(
                faults=step.faults[:j] + step.faults[j + 1:])
            yield scenario._replace(steps=steps[:i] + (smaller,)
                                    + steps[i + 1:])


def shrink(rig, scenario, failure, seconds):
    '''The smallest scenario found within seconds that fails the same
    check, with its failure.'''
    deadline = time.monotonic() + seconds
    improved = True
    while improved and time.monotonic() < deadline:
        improved = False
        for candidate in candidates(scenario, failure.step):
            if time.monotonic() > deadline:
                break
            try:
                replay(candidate)
            except Invalid:
                continue
            again = rig.run(candidate)
            if again is not None and again.check == failure.check:
                scenario, failure, improved = candidate, again, True
                break
    return scenario, failure


def report(out, scenario, failure, shrunk, shrunk_failure):
    out.write(f'FAIL {scenario.describe()}\n  {failure}\n')
    total = len(scenario.actions())
    out.write(f'  shortest failing action list ({len(shrunk.actions())} of '
              f'{total} actions): {shrunk_failure}\n')
    for i, step in enumerate(shrunk.steps, 1):
        for line in step.lines():
            out.write(f'    {i}. {line}\n')
    tail = shrunk_failure.log[-15:] or ['(nothing logged)']
    out.write('  daemon log tail:\n')
    for line in tail:
        out.write(f'    {line}\n')
    out.flush()


# --- running ---

def run_seeds(seeds, channels=(), behaviours=(), budget=None,
              shrink_budget=120.0, out=sys.stdout):
    '''Runs a scenario per seed; returns the failed scenarios.'''
    rigs = {}
    failed = []
    ran = 0
    start = time.monotonic()
    shrinking = 0.0
    try:
        for seed in seeds:
            if budget is not None and time.monotonic() - start > budget:
                break
            scenario = generate(seed, channels, behaviours)
            if scenario.channels not in rigs:
                rigs[scenario.channels] = Rig(scenario.channels)
            rig = rigs[scenario.channels]
            failure = rig.run(scenario)
            ran += 1
            if failure is None:
                continue
            began = time.monotonic()
            shrunk, shrunk_failure = shrink(rig, scenario, failure,
                                            shrink_budget)
            shrinking += time.monotonic() - began
            report(out, scenario, failure, shrunk, shrunk_failure)
            failed.append((scenario, failure, shrunk, shrunk_failure))
    finally:
        for rig in rigs.values():
            rig.close()
    elapsed = time.monotonic() - start
    rate = ran / max(elapsed - shrinking, 1e-9) * 60
    out.write(f'{ran} scenarios, {len(failed)} failed, {elapsed:.0f} s '
              f'({rate:.0f} scenarios per minute without shrinking)\n')
    if failed:
        out.write('failing seeds: '
                  + ' '.join(str(s.seed) for s, *_ in failed) + '\n')
    out.flush()
    return failed


def channel_list(text):
    '''"2,4-8" -> [2, 4, 5, 6, 7, 8]'''
    counts = []
    for part in text.split(','):
        low, _, high = part.partition('-')
        counts += range(int(low), int(high or low) + 1)
    if any(c < 2 or c > 72 for c in counts):
        raise argparse.ArgumentTypeError('channel counts are 2 to 72')
    return counts


def behaviour_list(text):
    '''"default,moving-head+keeps-name" -> [(), ('keeps-name',
    'moving-head')]'''
    sets = [set(part.split('+')) - {'default'} for part in text.split(',')]
    unknown = set().union(*sets) - set(BEHAVIOURS)
    if unknown:
        raise argparse.ArgumentTypeError(f'unknown behaviours {unknown}')
    return [switch_set(names) for names in sets]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--seeds', type=int, default=20)
    parser.add_argument('--first', type=int, default=1)
    parser.add_argument('--channels', type=channel_list, default=())
    parser.add_argument('--behaviours', type=behaviour_list, default=())
    parser.add_argument('--budget', type=float, default=None,
                        help='start no scenario after this many seconds')
    parser.add_argument('--shrink-budget', type=float, default=120.0)
    args = parser.parse_args(argv)
    failed = run_seeds(range(args.first, args.first + args.seeds),
                       args.channels, args.behaviours, args.budget,
                       args.shrink_budget)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
