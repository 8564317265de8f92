'''The load patterns: the stand-in commands of a burst, and the calls and log
lines the service owes for them.

Everything a burst sends comes from one connection, in one stream: the
user's actions and, where the pattern delivers them, the echoes the camera
would send back for the service's own calls.  The stand-in runs with its
echoes routed nowhere, and the user's actions are sent as plain signals
(`state`, `change`) or as changes only of the source channel's own list
(`create`, `update`, `remove`), so the camera changes only through the
service's calls, in the order the service makes them.  However far ahead of
the service the stand-in reads, what each signal finds is then fixed by the
pattern alone, and so are the calls it costs.

The echo records are modelled as the service keeps them:

- configuration changes: three buffers, by the kind of the change that was
  mirrored, 32 records each; a signal of a kind whose buffer is full empties
  that buffer, is logged and dropped, before anything else.  A mirrored
  change whose calls succeeded leaves one record in the buffer of its own
  kind (a creation by number one record, owing its saves and its renames):
  number, name, source, a serial (walks in the order they run), and for
  each channel called whether it owes an echo under the name (NAMED:
  renames, updates, saves by name, removals) or of a save by number (SAVED:
  a creation under "Pos<n>"; the patterns make nothing home);
- a created or updated signal from channel c is an echo when a record in
  the created or updated buffer owes c an echo of that number that it fits
  (a removal only against the removed buffer): oldest serial first, SAVED
  before NAMED; the echo is taken off, c's echoes owed in older records (all
  three buffers) lapse, and so does c's SAVED in the same record when the
  signal matched its NAMED; a record goes when it owes nothing;
- any other valid change is mirrored (one that makes a preset home puts
  what its channel owes home records in doubt; the patterns make none); the
  source of a record is never owed anything;
- a creation of a number another channel holds brings that channel in step
  as an update would (the source's entry looked up once, then the entry
  there), instead of saving it by number there;
- recalls: one buffer of 32; a recall that finds it full empties it and is
  lost, silently.  A state-1 signal (c, p) is an echo when a record of p
  owes c one (taken off; what c owes older records lapses), a repeat when
  the newest record is of p from c (dropped), else a recall: what c owes
  is put in doubt (no echo in doubt ever comes here, so it is dropped from
  the model as if lapsed), every other channel is asked for its state and sent to p where it
  reports another preset, and a record owes an echo from each channel sent.

Calls are (channel, method, preset number, name) as the stand-in reports
them; methods without a number or a name report 0 and ''.
'''

import sys
from pathlib import Path
from typing import Dict, List, NamedTuple, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / 'integration'))

from change_signals import (CREATED, FULL_BUFFER, REMOVED,  # noqa: E402
                            UPDATED)
from testbed import PROBE_MESSAGE  # noqa: E402

# Capacity of every echo buffer.
BUFFER_SIZE = 32
# Bytes of a name that a record keeps.
RECORD_NAME_BYTES = 95
# What a channel owes a change record.
NAMED, SAVED = 1, 2

Call = Tuple[int, str, int, str]


class Burst(NamedTuple):
    commands: List[str]   # stand-in commands, in order
    calls: List[Call]     # the calls the service owes, in order
    logs: List[str]       # its log messages, in order (probes included)
    signals: int          # signals the commands emit
    actions: int          # user actions among them (recalls or changes)


def kept_name(name):
    '''A name as a record keeps it: cut within 95 bytes at a character.'''
    raw = name.encode()
    if len(raw) <= RECORD_NAME_BYTES:
        return name
    cut = RECORD_NAME_BYTES
    while cut and raw[cut] & 0xC0 == 0x80:
        cut -= 1
    return raw[:cut].decode()


class ChangeRecord:
    '''One mirrored change and, by channel, the echoes still owed it.'''

    def __init__(self, number, name, source, serial, owed):
        self.number, self.name, self.source = number, kept_name(name), source
        self.serial = serial
        self.owed = {n: flags for n, flags in owed.items() if flags}

    def fits(self, channel, kind, number, name):
        '''Which owed echo of `channel` the change is: SAVED (a creation
        under "Pos<n>"; the patterns save nothing as home), NAMED or 0.'''
        owed = self.owed.get(channel, 0)
        if not owed or number != self.number:
            return 0
        name = kept_name(name)
        if owed & SAVED and kind == CREATED and name == f'Pos{number}':
            return SAVED
        if owed & NAMED and name == self.name:
            return NAMED
        return 0

    def lapse(self, channel, flags):
        left = self.owed.get(channel, 0) & ~flags
        if left:
            self.owed[channel] = left
        else:
            self.owed.pop(channel, None)


class ChangeRecords:
    '''The three change echo buffers.'''

    def __init__(self):
        self.buffers: Dict[int, List[ChangeRecord]] = {
            CREATED: [], UPDATED: [], REMOVED: []}
        self.serial = 0

    def full(self, kind):
        return len(self.buffers[kind]) >= BUFFER_SIZE

    def empty(self):
        return not any(self.buffers.values())

    def records(self):
        return [r for buffer in self.buffers.values() for r in buffer]

    def _settle(self):
        for kind, buffer in self.buffers.items():
            self.buffers[kind] = [r for r in buffer if r.owed]

    def take_echo(self, kind, channel, number, name):
        '''True when the change is an echo a record owes: taken off, and
        what the channel owed before it lapses.'''
        searched = [REMOVED] if kind == REMOVED else [CREATED, UPDATED]
        fits = sorted(((r.serial, r, r.fits(channel, kind, number, name))
                       for k in searched for r in self.buffers[k]),
                      key=lambda fit: fit[0])
        found = next(((r, match) for _, r, match in fits if match), None)
        if found is None:
            return False
        record, match = found
        # A save comes before the rename after it on one channel.
        record.lapse(channel, NAMED | SAVED if match == NAMED else SAVED)
        for older in self.records():
            if older.serial < record.serial:
                older.lapse(channel, NAMED | SAVED)
        self._settle()
        return True

    def record(self, kind, number, name, source, owed):
        '''A walk's record, when its calls left any echo owed.'''
        record = ChangeRecord(number, name, source, self.serial + 1, owed)
        if record.owed:
            self.serial += 1
            self.buffers[kind].append(record)


class RecallRecord(NamedTuple):
    preset: int
    source: int
    owed: set   # channels whose echo of our goto is still to come


class RecallRecords:
    '''The recall echo buffer, oldest first.'''

    def __init__(self):
        self.records: List[RecallRecord] = []

    def full(self):
        return len(self.records) >= BUFFER_SIZE

    def take_echo(self, channel, preset):
        for index, record in enumerate(self.records):
            if record.preset == preset and channel in record.owed:
                record.owed.discard(channel)
                for older in self.records[:index]:
                    older.owed.discard(channel)
                self._settle()
                return True
        return False

    def repeat(self, channel, preset):
        return bool(self.records) and \
            self.records[-1][:2] == (preset, channel)

    def lapse(self, channel):
        for record in self.records:
            record.owed.discard(channel)
        self._settle()

    def record(self, preset, source, sent):
        if sent:
            self.records.append(RecallRecord(preset, source, set(sent)))

    def _settle(self):
        self.records = [r for r in self.records if r.owed]


# What a signal meets at the service's echo filter.
RESET, ECHO, REPEAT, MIRRORED = 'reset', 'echo', 'repeat', 'mirrored'


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
        self.recalls = RecallRecords()

    def change(self, kind, channel, number, name):
        '''A configuration change reaching the filter: a full buffer is
        emptied and the change dropped; an owed echo is taken off; anything
        else is to be mirrored.'''
        if self.records.full(kind):
            self.records.buffers[kind].clear()
            self.logs.append(FULL_BUFFER)
            return RESET
        if self.records.take_echo(kind, channel, number, name):
            return ECHO
        return MIRRORED

    def recall(self, channel, preset):
        '''A state-1 signal reaching the recall filter.'''
        if self.recalls.full():
            self.recalls.records.clear()
            return RESET
        if self.recalls.take_echo(channel, preset):
            return ECHO
        if self.recalls.repeat(channel, preset):
            return REPEAT
        self.recalls.lapse(channel)
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
    them (each owed, so it costs nothing), then 33 with none: the records
    still owe channels 3 and up whatever channels 1 and 2 lapse, so 32 of
    them fill the buffer and the 33rd recall empties it and is dropped.

    Every recall costs 2(K-1) calls: each other channel is asked for its
    state and sent to the preset.  The user's recall is only signalled, so
    its own channel still reports the preset it was last sent to.
    '''

    ROUND = 100
    ECHOED = 67
    # Presets 2..40 by turns: 39 apart, more than a full buffer's 33, so a
    # recall never meets the record of an earlier one of the same preset,
    # and never a channel already at it (each is at one of the last few).
    PRESETS = 40
    PRESET_CYCLE = PRESETS - 1

    def __init__(self, channels):
        if channels < 3:
            raise ValueError('the round is laid out for 3 or more channels')
        self.channels = channels
        self.index = 0  # recalls so far, across bursts
        # The preset each channel reports: 1 as the stand-in starts.
        self.reported = {n: 1 for n in range(1, channels + 1)}

    def burst(self, rounds, first_space):
        b = BurstBuilder(first_space)
        for _ in range(rounds):
            for _ in range(self.ROUND):
                self._recall(b)
                self.index += 1
            assert not b.recalls.records
            b.probe()
        return b.build()

    def _recall(self, b):
        position = self.index % self.ROUND
        source = 1 + self.index % 2
        preset = 2 + self.index % self.PRESET_CYCLE
        b.signal(f'state {source} {preset} 1', user_action=True)
        met = b.recall(source, preset)
        assert (met == RESET) == (position == self.ROUND - 1), met
        if met != MIRRORED:
            return
        sent = []
        for n in others(self.channels, source):
            b.calls.append((n, 'GetPtzPresetState', 0, ''))
            if self.reported[n] != preset:
                b.calls.append((n, 'GotoPresetNumber', preset, ''))
                self.reported[n] = preset
                sent.append(n)
        assert len(sent) == self.channels - 1
        b.recalls.record(preset, source, sent)
        if position >= self.ECHOED:
            return  # its echoes are lost; its record stays
        for echo in sent:
            b.signal(f'state {echo} {preset} 1')
            assert b.recall(echo, preset) == ECHO


class ChangePattern:
    '''Presets created, updated and removed, from channels 1 and 2 by turns,
    each under a number of its own and a name that is not the default one
    (so every creation renames).  The numbers start at 100,000: no channel
    ever lists that many presets (16, and at most those of one burst,
    however far ahead the stand-in reads), so a number is never its source's
    preset count and creation always goes by number.  The heads never move.

    No creation meets a fresh number another channel holds: brought in step,
    that channel would be compared with the source's entry, which the
    source's own removal later in the burst may already have taken when the
    service reads it.

    A round of 100 changes, which leaves every buffer empty:

    - a preset listed beforehand on every channel, moved on the first other
      channel (an update, with every echo: the two channels it is not at are
      updated; the source, where it is or already gone, is not), then
      removed on the source, with every echo;
    - preset 1 saved again in place on channel 1 and reported as a creation:
      every other channel holds it, and each is looked up (the source once)
      and found in step, so it costs no change and leaves no record;
    - 13 creations and removals with every echo delivered right after them;
    - a full-buffer block with no echoes delivered: 32 creations, one record
      each owing all six echoes, fill the created buffer; a creation finds it
      full, logs, empties it and is dropped (its preset stays on its source
      alone); a creation with every echo follows, in an empty buffer;
    - 30 removals of those presets with no echoes, one record each, the
      first one signalled again by its source right after it, which, coming
      from the record's source, is mirrored (and finds no other channel
      listing the preset); 2 removals of presets listed beforehand on their
      source and the first other channel only; the removal of the dropped
      creation's preset finds the buffer full, logs, empties it and is
      dropped;
    - the removals, with every echo, of the last 2 presets of the 32 and of
      the one created with every echo.
    '''

    ECHOED_PAIRS = 13
    FIRST_NUMBER = 100000
    LISTED_ONCE = 2
    # Removals of the block's creations that come without echoes.
    UNECHOED_REMOVALS = BUFFER_SIZE - LISTED_ONCE
    PRESETS = 16
    MOVED_PAN = 50
    SAVED_AGAIN = (1, 1, 'Preset1')   # channel, number, name as listed

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
            self._saved_again(b, *self.SAVED_AGAIN)
            for _ in range(self.ECHOED_PAIRS):
                preset = self._next()
                self._create(b, *preset, echoes=True)
                self._remove(b, *preset, echoes=True)
            self._block(b)
            assert b.records.empty() and b.actions - actions == 100
            b.probe()
        return b.build()

    def _block(self, b):
        full = [self._next() for _ in range(BUFFER_SIZE)]
        listed_once = [self._next() for _ in range(self.LISTED_ONCE)]
        dropped = self._next()
        echoed = self._next()
        # Listed beforehand on its source and the first other channel only.
        for source, number, name in listed_once:
            for n in (source, others(self.channels, source)[0]):
                b.quietly(f'preset {n} {number} 0 0 {name}')
        for preset in full:
            self._create(b, *preset)
        assert b.records.full(CREATED)
        assert self._create(b, *dropped) == RESET
        self._create(b, *echoed, echoes=True)
        for index, preset in enumerate(full[:self.UNECHOED_REMOVALS]):
            self._remove(b, *preset)
            if index == 0:
                self._remove(b, *preset, listing=[], again=True)
        for source, number, name in listed_once:
            self._remove(b, source, number, name,
                         listing=others(self.channels, source)[:1])
        assert b.records.full(REMOVED)
        assert self._remove(b, *dropped) == RESET
        for preset in full[self.UNECHOED_REMOVALS:] + [echoed]:
            self._remove(b, *preset, echoes=True)

    def _next(self):
        source = 1 + self.used % 2
        number = self.FIRST_NUMBER + self.used
        self.used += 1
        return source, number, f'Load {number}'

    def _echo(self, b, echo, kind, number, name):
        '''An echo of our own call, as the camera sends it: owed, so it
        costs nothing.'''
        b.signal(f'change {echo} {kind} {number} 0 {name}')
        met = b.change(kind, echo, number, name)
        assert met == ECHO, f'the echo of {kind} {number} {name} on ' \
            f'{echo} met {met}'

    def _create(self, b, source, number, name, echoes=False):
        '''The user saves the preset on `source`; no other channel lists
        it.  echoes: every echo of the service's calls delivered right after
        the change, else none.'''
        b.signal(f'create {source} {number} {name}', user_action=True)
        met = b.change(CREATED, source, number, name)
        if met != MIRRORED:
            return met
        b.calls.append((source, 'GetPresets', 0, ''))
        channels = others(self.channels, source)
        for n in channels:
            b.calls += [(n, 'QueryPresets', 0, ''),
                        (n, 'SetPresetNumber', number, ''),
                        (n, 'RenamePreset', number, name)]
        b.records.record(CREATED, number, name, source,
                         {n: SAVED | NAMED for n in channels})
        for echo in channels if echoes else []:
            self._echo(b, echo, CREATED, number, f'Pos{number}')
            self._echo(b, echo, UPDATED, number, name)
        return met

    def _saved_again(self, b, source, number, name):
        '''A preset every channel holds, where the source holds it, saved
        again there: the source's entry is read once, at the first channel
        holding the number, and each such channel's entry after its listing.
        '''
        b.signal(f'create {source} {number} {name}', user_action=True)
        assert b.change(CREATED, source, number, name) == MIRRORED
        b.calls.append((source, 'GetPresets', 0, ''))
        for index, n in enumerate(others(self.channels, source)):
            b.calls.append((n, 'QueryPresets', 0, ''))
            if index == 0:
                b.calls.append((source, 'QueryPresets', 0, ''))
            b.calls.append((n, 'QueryPresets', 0, ''))

    def _moved_on_another_channel(self, b, source, number, name):
        '''A preset listed beforehand on every channel, moved on the first
        other channel (an update, with every echo), then removed on `source`
        with every echo.

        The source's copy is listed where the mover's goes, so the update's
        walk finds it there unmoved, or already gone if the stand-in took
        the removal first: either way it makes no call there, and updates
        the other two, listed elsewhere.'''
        mover, *rest = others(self.channels, source)
        pan = self.MOVED_PAN
        for n in (source, mover):
            b.quietly(f'preset {n} {number} {pan} 0 {name}')
        for n in rest:
            b.quietly(f'preset {n} {number} 0 0 {name}')
        b.signal(f'update {mover} {number} {pan} 0 {name}', user_action=True)
        assert b.change(UPDATED, mover, number, name) == MIRRORED
        b.calls.append((mover, 'QueryPresets', 0, ''))
        for n in others(self.channels, mover):
            b.calls.append((n, 'QueryPresets', 0, ''))
            if n in rest:
                b.calls.append((n, 'UpdatePreset', number, name))
        b.records.record(UPDATED, number, name, mover,
                         {n: NAMED for n in rest})
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
        b.records.record(REMOVED, number, name, source,
                         {n: NAMED for n in removed})
        for echo in removed if echoes else []:
            self._echo(b, echo, REMOVED, number, name)
        return met
