'''The load patterns: the stand-in commands of a burst, and the calls and log
lines the service owes for them.

Everything a burst sends comes from one connection, in one stream: the
user's actions and, where the pattern delivers them, the echoes the camera
would send back for the service's own calls.  The stand-in runs with its
echoes routed nowhere, and the user's actions are sent as plain signals
(`state`, `change`) or as changes only of the source channel's own list
(`create`, `remove`), so the camera changes only through the service's calls,
in the order the service makes them.  However far ahead of the service the
stand-in reads, what each signal finds is then fixed by the pattern alone,
and so are the calls it costs:

- a recall is mirrored by asking every other channel for its state and
  sending to the preset each one that is not there; its echo from the first
  other channel is dropped; the echo from each further channel passes as a
  new recall (one record per recall);
- a creation by number is mirrored by counting the source's presets, then,
  per other channel that does not list it, saving it by number and renaming
  it; the creation echoes are dropped, each rename echo passes as an update
  that finds every channel in step (the rename is not recorded);
- a removal is mirrored by removing the preset, by name, from every other
  channel that lists it; its echoes are dropped;
- a buffer holds 32 records; a signal that finds its buffer full empties it
  and is itself dropped (a configuration change logs that).

Calls are (channel, method, preset number, name) as the stand-in reports
them; methods without a number or a name report 0 and ''.
'''

from typing import List, NamedTuple, Tuple

PROBE_MESSAGE = 'Received unsupported space in speed signal:{}'
RESET_MESSAGE = \
    'Received configuration_changed signals exceed MAX_BUFFER_SIGNAL_SIZE'

# Capacity of every echo buffer.
BUFFER_SIZE = 32

Call = Tuple[int, str, int, str]


class Burst(NamedTuple):
    commands: List[str]   # stand-in commands, in order
    calls: List[Call]     # the calls the service owes, in order
    logs: List[str]       # its log messages, in order (probes included)
    signals: int          # signals the commands emit
    actions: int          # user actions among them (recalls or changes)


class BurstBuilder:
    '''Collects one burst; every round ends with a probe, whose log line
    shows that everything before it was handled.'''

    def __init__(self, first_space):
        self.commands = []
        self.calls = []
        self.logs = []
        self.signals = 0
        self.actions = 0
        self.next_space = first_space

    def signal(self, command, user_action=False):
        self.commands.append(command)
        self.signals += 1
        self.actions += user_action

    def quietly(self, command):
        '''A change to the camera that signals nothing.'''
        self.commands.append(command)

    def probe(self):
        '''A speed announcement in an unsupported space: logged, no call.'''
        space = self.next_space
        self.next_space += 1
        self.signal(f'speed 1 0 {space}')
        self.logs.append(PROBE_MESSAGE.format(space))

    def build(self):
        return Burst(self.commands, self.calls, self.logs, self.signals,
                     self.actions)


def others(channels, channel):
    return [n for n in range(1, channels + 1) if n != channel]


class RecallPattern:
    '''Recalls from channels 1 and 2 by turns, each of a preset no channel
    is at.  A round of 100: 67 recalls with every echo delivered right after
    them, then 33 with none, so that 32 records fill the buffer and the 33rd
    recall empties it and is dropped.

    The user's recall is only signalled, so its own channel still reports
    the preset it was last sent to: the second echo, the first to pass as a
    new recall, sends it there too, and every later echo finds all channels
    at the preset.
    '''

    ROUND = 100
    ECHOED = 67
    # Presets 2..40 by turns: 39 apart, more than a full buffer's 33, so a
    # recall never meets the record of an earlier one of the same preset,
    # and never a channel already at it (each is at one of the last few).
    PRESETS = 40
    PRESET_CYCLE = PRESETS - 1

    def __init__(self, channels):
        if channels < 4:
            raise ValueError('the pattern needs at least 4 channels')
        self.channels = channels
        self.index = 0  # recalls so far, across bursts

    def burst(self, rounds, first_space):
        b = BurstBuilder(first_space)
        for _ in range(rounds):
            for _ in range(self.ROUND):
                self._recall(b)
                self.index += 1
            b.probe()
        return b.build()

    def _recall(self, b):
        position = self.index % self.ROUND
        source = 1 + self.index % 2
        preset = 2 + self.index % self.PRESET_CYCLE
        b.signal(f'state {source} {preset} 1', user_action=True)
        if position == self.ROUND - 1:
            return  # the buffer is full: emptied, and this recall dropped
        targets = others(self.channels, source)
        for n in targets:
            b.calls += [(n, 'GetPtzPresetState', 0, ''),
                        (n, 'GotoPresetNumber', preset, '')]
        if position >= self.ECHOED:
            return  # its echoes are lost; its record stays
        for k, echo in enumerate(targets):
            b.signal(f'state {echo} {preset} 1')
            if k == 0:
                continue  # takes the recall's record
            for n in others(self.channels, echo):
                b.calls.append((n, 'GetPtzPresetState', 0, ''))
                if k == 1 and n == source:
                    b.calls.append((n, 'GotoPresetNumber', preset, ''))


class ChangePattern:
    '''Presets created and removed again, from channels 1 and 2 by turns,
    each under a number of its own and a name that is not the default one
    (so every creation renames).  The numbers start at 100,000: no channel
    ever lists that many presets (16, and at most those of one burst,
    however far ahead the stand-in reads), so a number is never its source's
    preset count and creation always goes by number.

    A round of 50 changes: 11 creations and removals with every echo
    delivered right after them, then a full-buffer block per kind with no
    echoes delivered: ten changes applied to three channels (30 records),
    two applied to one channel each (31, then exactly 32 records: creations
    of presets two other channels list already, removals of presets only
    one other channel lists), and one that finds the buffer full, logs,
    empties it and is dropped.  The dropped creation leaves its preset
    nowhere else, so the dropped removal would have had nothing to remove.
    The two presets created on one channel are then removed with every
    echo.
    '''

    ECHOED_PAIRS = 11
    FIRST_NUMBER = 100000
    FULL = 10
    SINGLE = 2
    PRESETS = 16

    def __init__(self, channels):
        if channels != 4:
            raise ValueError('the block arithmetic is that of 4 channels')
        assert self.FULL * (channels - 1) + self.SINGLE == BUFFER_SIZE
        self.channels = channels
        self.used = 0  # preset numbers so far, across bursts

    def burst(self, rounds, first_space):
        b = BurstBuilder(first_space)
        for _ in range(rounds):
            for _ in range(self.ECHOED_PAIRS):
                preset = self._next()
                self._create(b, *preset, 'all')
                self._remove(b, *preset, 'all')
            self._block(b)
            b.probe()
        return b.build()

    def _block(self, b):
        full = [self._next() for _ in range(self.FULL)]
        listed_elsewhere = [self._next() for _ in range(self.SINGLE)]
        listed_once = [self._next() for _ in range(self.SINGLE)]
        dropped = self._next()
        # Listed beforehand on all other channels but the first.
        for source, number, name in listed_elsewhere:
            for n in others(self.channels, source)[1:]:
                b.quietly(f'preset {n} {number} 0 0 {name}')
        # Listed beforehand on its source and the first other channel only.
        for source, number, name in listed_once:
            for n in (source, others(self.channels, source)[0]):
                b.quietly(f'preset {n} {number} 0 0 {name}')
        for preset in full:
            self._create(b, *preset, 'none')
        for preset in listed_elsewhere:
            self._create(b, *preset, 'none', targets=1)
        self._create(b, *dropped, 'none', targets=0)
        b.logs.append(RESET_MESSAGE)
        for preset in full:
            self._remove(b, *preset, 'none')
        for preset in listed_once:
            self._remove(b, *preset, 'none', targets=1)
        self._remove(b, *dropped, 'none', targets=0)
        b.logs.append(RESET_MESSAGE)
        for preset in listed_elsewhere:
            self._remove(b, *preset, 'all')

    def _next(self):
        source = 1 + self.used % 2
        number = self.FIRST_NUMBER + self.used
        self.used += 1
        return source, number, f'Load {number}'

    def _create(self, b, source, number, name, echoes, targets=None):
        '''echoes: 'all' delivered right after the change, or 'none';
        targets: the first this many other channels lack the preset (all by
        default; 0: the change finds its buffer full and is dropped).'''
        b.signal(f'create {source} {number} {name}', user_action=True)
        if targets == 0:
            return
        b.calls.append((source, 'GetPresets', 0, ''))
        channels = others(self.channels, source)
        made = channels[:targets]
        for n in channels:
            b.calls.append((n, 'QueryPresets', 0, ''))
            if n in made:
                b.calls += [(n, 'SetPresetNumber', number, ''),
                            (n, 'RenamePreset', number, name)]
        for echo in made if echoes == 'all' else []:
            b.signal(f'change {echo} 1 {number} 0 Pos{number}')
            b.signal(f'change {echo} 2 {number} 0 {name}')
            b.calls += [(n, 'QueryPresets', 0, '')
                        for n in [echo] + others(self.channels, echo)]

    def _remove(self, b, source, number, name, echoes, targets=None):
        '''As _create: the first `targets` other channels list the preset.'''
        b.signal(f'remove {source} {number}', user_action=True)
        if targets == 0:
            return
        channels = others(self.channels, source)
        removed = channels[:targets]
        for n in channels:
            b.calls.append((n, 'QueryPresets', 0, ''))
            if n in removed:
                b.calls.append((n, 'RemovePresetName', 0, name))
        for echo in removed if echoes == 'all' else []:
            b.signal(f'change {echo} 3 {number} 0 {name}')
