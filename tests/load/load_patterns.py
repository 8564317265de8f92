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
- a configuration change leaves one echo record per kind its calls echo in
  (number, name, source channel), owing every one of those echoes: a
  creation by number saves the preset by number and renames it on each
  other channel that does not list it, and so owes the saves (echoed as
  creations under "Pos<n>") in a record among the creations and the renames
  in one among the updates; a record of another kind than the change's own
  is kept only if that buffer has room;
- a change from another channel than the oldest record's source, with its
  number and a name it still owes, is an echo: one is taken off, and the
  record goes once it owes nothing; anything else, a signal from the
  record's own source included, is mirrored as a change;
- an update is mirrored by looking the preset up on its source, then on
  every other channel, and updating it where it moved;
- a removal is mirrored by removing the preset, by name, from every other
  channel that lists it;
- a buffer holds 32 records; a signal that finds its buffer full empties it
  and is itself dropped (a configuration change logs that).

Calls are (channel, method, preset number, name) as the stand-in reports
them; methods without a number or a name report 0 and ''.
'''

import sys
from pathlib import Path
from typing import List, NamedTuple, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'integration'))

from change_signals import (CREATED, FULL_BUFFER, REMOVED,  # noqa: E402
                            UPDATED)
from testbed import PROBE_MESSAGE  # noqa: E402

# Capacity of every echo buffer.
BUFFER_SIZE = 32

Call = Tuple[int, str, int, str]


class Burst(NamedTuple):
    commands: List[str]   # stand-in commands, in order
    calls: List[Call]     # the calls the service owes, in order
    logs: List[str]       # its log messages, in order (probes included)
    signals: int          # signals the commands emit
    actions: int          # user actions among them (recalls or changes)


class Record:
    '''One mirrored change in one kind's buffer, and the echoes it owes:
    `named` under the change's name, `saved` of saves by number, under
    "Pos<n>" (the stand-in names every preset saved by number so).'''

    def __init__(self, number, name, source, named=0, saved=0):
        self.number, self.name, self.source = number, name, source
        self.named, self.saved = named, saved


class ChangeRecords:
    '''The three change echo buffers, kept as the rule keeps them.'''

    def __init__(self):
        self.buffers = {CREATED: [], UPDATED: [], REMOVED: []}

    def full(self, kind):
        return len(self.buffers[kind]) >= BUFFER_SIZE

    def empty(self):
        return not any(self.buffers.values())

    def record(self, own_kind, owed):
        '''owed: {kind: Record} for the kinds in which the walk's calls
        echo.'''
        for kind, record in owed.items():
            if record.named + record.saved and \
                    (kind == own_kind or not self.full(kind)):
                self.buffers[kind].append(record)

    def take_echo(self, kind, channel, number, name):
        '''True when the change is an echo the oldest record still owes.'''
        buffer = self.buffers[kind]
        if not buffer:
            return False
        oldest = buffer[0]
        if oldest.number != number or oldest.source == channel:
            return False
        if oldest.named and name == oldest.name:
            oldest.named -= 1
        elif oldest.saved and name == f'Pos{number}':
            oldest.saved -= 1
        else:
            return False
        if not oldest.named + oldest.saved:
            buffer.pop(0)
        return True


# What a configuration change meets at the service's echo filter.
RESET, ECHO, MIRRORED = 'reset', 'echo', 'mirrored'


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
        self.records = ChangeRecords()

    def change(self, kind, channel, number, name):
        '''A configuration change reaching the filter: a full buffer is
        emptied and the change dropped; an owed echo is taken off its
        record; anything else is to be mirrored.'''
        if self.records.full(kind):
            self.records.buffers[kind].clear()
            self.logs.append(FULL_BUFFER)
            return RESET
        if self.records.take_echo(kind, channel, number, name):
            return ECHO
        return MIRRORED

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
    preset count and creation always goes by number.  The heads never move,
    so every copy a creation saves is where its source's copy is.

    A round of 100 changes, which leaves every buffer empty:

    - 14 creations and removals with every echo delivered right after them;
      the first preset is listed beforehand on the first other channel, and
      moved there in between (an update, with every echo);
    - a full-buffer block with no echoes delivered: 32 creations, one record
      each among the creations and one among the updates, whether applied
      to three channels (30, made beforehand on no other channel) or to one
      (2, listed beforehand on the two others but the first);
    - a creation that finds the created buffer full, logs, empties it and is
      dropped: its preset stays on its source alone;
    - a creation with every echo delivered, whose record among the updates
      finds no room: its first rename echo finds the updated buffer full,
      logs and empties it; the other two pass as updates, looked up on every
      channel and found in step;
    - 32 removals with no echoes, one record each, whether applied to three
      channels (the 30) or one (2 presets listed beforehand on their source
      and the first other channel only); the first one signalled again by
      its source right after it, which, coming from the record's source, is
      mirrored (and finds no other channel listing the preset); the removal
      of the dropped creation's preset finds the buffer full, logs, empties
      it and is dropped;
    - the removals, with every echo, of the 2 presets created on one channel
      and of the one created with every echo.
    '''

    ECHOED_PAIRS = 14
    FIRST_NUMBER = 100000
    SINGLE = 2
    FULL = BUFFER_SIZE - SINGLE
    PRESETS = 16
    MOVED_PAN = 50

    def __init__(self, channels):
        if channels != 4:
            raise ValueError('the round is laid out for 4 channels')
        self.channels = channels
        self.used = 0  # preset numbers so far, across bursts

    def burst(self, rounds, first_space):
        b = BurstBuilder(first_space)
        for _ in range(rounds):
            actions = b.actions
            self._moved_on_another_channel(b, *self._next())
            for _ in range(self.ECHOED_PAIRS - 1):
                preset = self._next()
                self._create(b, *preset, echoes=True)
                self._remove(b, *preset, echoes=True)
            self._block(b)
            assert b.records.empty() and b.actions - actions == 100
            b.probe()
        return b.build()

    def _block(self, b):
        full = [self._next() for _ in range(self.FULL)]
        listed_elsewhere = [self._next() for _ in range(self.SINGLE)]
        listed_once = [self._next() for _ in range(self.SINGLE)]
        dropped = self._next()
        echoed = self._next()
        # Listed beforehand on all other channels but the first.
        for source, number, name in listed_elsewhere:
            for n in others(self.channels, source)[1:]:
                b.quietly(f'preset {n} {number} 0 0 {name}')
        # Listed beforehand on its source and the first other channel only.
        for source, number, name in listed_once:
            for n in (source, others(self.channels, source)[0]):
                b.quietly(f'preset {n} {number} 0 0 {name}')
        for preset in full:
            self._create(b, *preset)
        for source, number, name in listed_elsewhere:
            self._create(b, source, number, name,
                         lacking=others(self.channels, source)[:1])
        assert b.records.full(CREATED) and b.records.full(UPDATED)
        assert self._create(b, *dropped) == RESET
        self._create(b, *echoed, echoes=True)
        for index, preset in enumerate(full):
            self._remove(b, *preset)
            if index == 0:
                self._remove(b, *preset, listing=[], again=True)
        for source, number, name in listed_once:
            self._remove(b, source, number, name,
                         listing=others(self.channels, source)[:1])
        assert b.records.full(REMOVED)
        assert self._remove(b, *dropped) == RESET
        for preset in listed_elsewhere + [echoed]:
            self._remove(b, *preset, echoes=True)

    def _next(self):
        source = 1 + self.used % 2
        number = self.FIRST_NUMBER + self.used
        self.used += 1
        return source, number, f'Load {number}'

    def _echo(self, b, echo, kind, number, name):
        '''An echo of our own call, as the camera sends it.  Only a rename
        echo can miss its record here: it is then mirrored as an update of a
        preset every channel holds under that name, where the walk saved it,
        and costs only the look-ups.'''
        b.signal(f'change {echo} {kind} {number} 0 {name}')
        met = b.change(kind, echo, number, name)
        if met == MIRRORED:
            assert kind == UPDATED, 'only rename echoes may go unrecorded'
            b.calls += [(n, 'QueryPresets', 0, '')
                        for n in [echo] + others(self.channels, echo)]

    def _create(self, b, source, number, name, echoes=False, lacking=None):
        '''The user saves the preset on `source`; the other channels in
        `lacking` do not list it (all by default).  echoes: every echo of
        the service's calls delivered right after the change, else none.'''
        b.signal(f'create {source} {number} {name}', user_action=True)
        met = b.change(CREATED, source, number, name)
        if met != MIRRORED:
            return met
        b.calls.append((source, 'GetPresets', 0, ''))
        channels = others(self.channels, source)
        made = channels if lacking is None else lacking
        for n in channels:
            b.calls.append((n, 'QueryPresets', 0, ''))
            if n in made:
                b.calls += [(n, 'SetPresetNumber', number, ''),
                            (n, 'RenamePreset', number, name)]
        b.records.record(CREATED, {
            CREATED: Record(number, name, source, saved=len(made)),
            UPDATED: Record(number, name, source, named=len(made))})
        for echo in made if echoes else []:
            self._echo(b, echo, CREATED, number, f'Pos{number}')
            self._echo(b, echo, UPDATED, number, name)
        return met

    def _moved_on_another_channel(self, b, source, number, name):
        '''A preset the first other channel lists beforehand at another
        position, created on `source` with every echo, moved there (an
        update, with every echo), then removed on `source` with every echo.

        The source's copy is put where the first other channel's is, so the
        update's walk finds it there unmoved, or already gone if the
        stand-in took the removal first: either way it makes no call there,
        and updates the two channels the creation saved it on.'''
        mover, *rest = others(self.channels, source)
        pan = self.MOVED_PAN
        b.quietly(f'preset {mover} {number} {pan} 0 {name}')
        self._create(b, source, number, name, echoes=True, lacking=rest)
        b.quietly(f'preset {source} {number} {pan} 0 {name}')
        b.signal(f'update {mover} {number} {pan} 0 {name}', user_action=True)
        assert b.change(UPDATED, mover, number, name) == MIRRORED
        b.calls.append((mover, 'QueryPresets', 0, ''))
        for n in others(self.channels, mover):
            b.calls.append((n, 'QueryPresets', 0, ''))
            if n in rest:
                b.calls.append((n, 'UpdatePreset', number, name))
        b.records.record(UPDATED, {
            UPDATED: Record(number, name, mover, named=len(rest))})
        for echo in rest:
            self._echo(b, echo, UPDATED, number, name)
        self._remove(b, source, number, name, echoes=True)

    def _remove(self, b, source, number, name, echoes=False, listing=None,
                again=False):
        '''As _create: the other channels in `listing` list the preset
        (all by default).  again: the source signals a removal it already
        signalled, and its list stays as it is.'''
        if again:
            b.signal(f'change {source} {REMOVED} {number} 0 {name}',
                     user_action=True)
        else:
            b.signal(f'remove {source} {number}', user_action=True)
        met = b.change(REMOVED, source, number, name)
        if met != MIRRORED:
            return met
        channels = others(self.channels, source)
        removed = channels if listing is None else listing
        for n in channels:
            b.calls.append((n, 'QueryPresets', 0, ''))
            if n in removed:
                b.calls.append((n, 'RemovePresetName', 0, name))
        b.records.record(REMOVED, {
            REMOVED: Record(number, name, source, named=len(removed))})
        for echo in removed if echoes else []:
            self._echo(b, echo, REMOVED, number, name)
        return met
