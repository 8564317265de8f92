'''Simulated multi-channel PTZ camera: the coordinator and the channel service.

Load it with `python3 -m dbusmock --system --template ptz_camera.py
--parameters '{"channels": 4}'` or with
`dbusmock.DBusTestCase.spawn_server_template(path, {'channels': 4})`.
Parameter `channels` (int, default 4) is what GetNumberOfChannels replies;
channel objects exist for 1 .. channels (none for 0 or a negative count).

What the camera's objects, methods and signals do, its listing entries,
errors and behaviour switches: README.md beside this file, which the
benchmark's native stand-in follows too (it plays no switch).  Head
arrivals, make-homes waiting for the head and late signals run from GLib
timeouts on the template's main loop.

Control surface for tests and demos: object "/com/orvo/Sim", interface
"com.orvo.Sim.Control", reached through either bus name.  Channel 0 in the
fault methods means the top object "/com/orvo/PTZ/Coordinator".

Acting as a user (signals and errors as the methods' in README.md):
  UserMove(d pan, d tilt)       every channel then reports no preset (0)
  UserCreateByName(i channel, s name, b home) -> i number
  UserCreateByNumber(i channel, i number, b home)
  UserRename(i channel, i number, s name)
  UserUpdatePosition(i channel, i number)    save the head position, kind 2
  UserMakeHome(i channel, i number)          kind 2 with SET_HOME true;
                                   under moving-head, once the head is there
  UserRemove(i channel, i number)            kind 3
  UserRecall(i channel, i number)            like GotoPresetNumber
  AnnounceSpeed(i channel, i first, i speed, i space)
                                   PresetSpeed on channel's coordinator object
  EmitRaw(s path, s interface, s member, s signature, av args)
Setting up without emitting anything:
  SetBehaviour(s switches)      comma-separated switches, replacing the set
                                ("" or "default": none): keeps-name,
                                after-highest, moving-head, quiet-noop,
                                resave-as-created, late-signals,
                                old-home-signal; an unknown one: InvalidArgs
  Reset()                       no presets, homes or reported presets, head
                                at (0, 0), empty journal, no faults, no
                                switch, nothing pending
  SeedPreset(i channel, i number, s name, d pan, d tilt, b home)
  SetReportedPreset(i channel, i preset)   also drops its pending arrival
Faults (count: -1 for every call, K for the next K calls, 0 to clear):
  FailMethod(i channel, s method, i count, s error_name)   '' = default name
  ReplyWrongType(i channel, s method, s signature, av args, i count)
  ServeListing(i channel, as entries)   QueryPresets replies these instead
  ClearListing(i channel)
  ClearFaults()                         faults and crafted listings
Observation:
  GetJournal() -> s   JSON list of [path, interface, member, signature,
                      [args]]: every method call on the two services in
                      arrival order, including rejected and faulted ones,
                      without Properties, Introspectable, Peer, Mock and
                      control calls
  ClearJournal()
  GetJournalLength() -> u   the number of entries GetJournal would list
  Pending() -> u      head arrivals, make-homes waiting for the head and
                      late signals not yet done
  GetState() -> s     JSON {"head": [pan, tilt] (where it is or heads),
                      "behaviour": the switches in SWITCHES' order,
                      comma-separated, or "default",
                      "channels": {"N": {"reported": p, "home": h,
                      "presets": [[number, name, pan, tilt], ...]}}}
'''

import itertools
import json
import math
import random
import time

import dbus
import dbus.lowlevel
import dbus.service

import dbusmock
from gi.repository import GLib

BUS_NAME = 'com.orvo.PTZ.Coordinator'
MAIN_OBJ = '/com/orvo/PTZ/Coordinator'
MAIN_IFACE = 'com.orvo.PTZ.Coordinator'
SYSTEM_BUS = True

CHANNEL_BUS_NAME = 'com.orvo.Ptz1'
CHANNEL_IFACE = 'com.orvo.Ptz1.Channel'
COORDINATOR_PREFIX = MAIN_OBJ + '/'
CHANNEL_PREFIX = '/com/orvo/Ptz1/Channel/'
CONTROL_OBJ = '/com/orvo/Sim'
CONTROL_IFACE = 'com.orvo.Sim.Control'

ERROR_FAILED = 'com.orvo.PTZ.Error.Failed'
ERROR_INVALID_ARGS = 'org.freedesktop.DBus.Error.InvalidArgs'
ERROR_UNKNOWN_METHOD = 'org.freedesktop.DBus.Error.UnknownMethod'
ROLE = 'Operator'

# SetBehaviour's switches, in the order GetState names them.
SWITCHES = ('keeps-name', 'after-highest', 'moving-head', 'quiet-noop',
            'resave-as-created', 'late-signals', 'old-home-signal')
DEFAULT_BEHAVIOUR = 'default'

# moving-head: the head takes 2 ms per unit of pan/tilt distance, 30 to 150.
TRAVEL_MS_PER_UNIT = 2.0
TRAVEL_MS = (30, 150)
# late-signals: each signal leaves 20 to 60 ms after its cause, the delays
# drawn from an RNG seeded again at every Reset, so a run repeats.
LATE_MS = (20, 60)
LATE_SEED = 0

KIND_CREATED = 1
KIND_UPDATED = 2
KIND_REMOVED = 3

# member -> (object kind, in signature, out signature)
METHODS = {
    'GetNumberOfChannels': ('top', '', 'i'),
    'QueryPresets': ('coordinator', 'sib', 'as'),
    'SetPresetName': ('coordinator', 'sisb', ''),
    'SetPresetNumber': ('coordinator', 'siib', ''),
    'RenamePreset': ('coordinator', 'siis', ''),
    'UpdatePreset': ('coordinator', 'siis', ''),
    'RemovePresetName': ('coordinator', 'sis', ''),
    'GetPtzPresetState': ('coordinator', '', 'ii'),
    'GotoPresetNumber': ('coordinator', 'siii', ''),
    'GetPresets': ('channel', '', 'ua(us)'),
}

KIND_INTERFACES = {
    'top': MAIN_IFACE,
    'coordinator': MAIN_IFACE,
    'channel': CHANNEL_IFACE,
}

# Calls that clients and tools make by themselves stay out of the journal.
UNJOURNALED_INTERFACES = {
    dbus.PROPERTIES_IFACE,
    dbus.INTROSPECTABLE_IFACE,
    'org.freedesktop.DBus.Peer',
    dbusmock.MOCK_IFACE,
    CONTROL_IFACE,
}


def fail(message, name=ERROR_FAILED):
    return dbus.exceptions.DBusException(message, name=name)


def plain(value):
    '''A D-Bus value as plain JSON-able Python data.'''
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (bytes, bytearray)):
        return list(value)
    if isinstance(value, int):
        return int(value)
    if isinstance(value, float):
        return float(value)
    if isinstance(value, str):
        return str(value)
    if isinstance(value, dict):
        return {str(plain(k)): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return repr(value)


def typed_args(signature, args):
    '''Arguments converted to the D-Bus types of a signature.'''
    try:
        msg = dbus.lowlevel.MethodCallMessage('a.b', '/a', 'a.b', 'a')
        msg.append(*args, signature=signature)
        return msg.get_args_list()
    except Exception as err:
        raise fail(f'arguments do not fit "{signature}": {err}',
                   ERROR_INVALID_ARGS) from err


def parse_behaviour(text):
    '''SetBehaviour's argument as a set of switches.'''
    text = str(text)
    if text in ('', DEFAULT_BEHAVIOUR):
        return frozenset()
    names = text.split(',')
    unknown = [name for name in names if name not in SWITCHES]
    if unknown:
        raise fail(f'unknown behaviour {", ".join(unknown)!r}',
                   ERROR_INVALID_ARGS)
    return frozenset(names)


def travel_seconds(start, end):
    '''How long the head takes from start to end under moving-head.'''
    ms = TRAVEL_MS_PER_UNIT * math.hypot(end[0] - start[0], end[1] - start[1])
    return min(max(ms, TRAVEL_MS[0]), TRAVEL_MS[1]) / 1000


class Timeline:
    '''What the camera still has to do, each at its time: head arrivals,
    deferred user actions and late signals, run from one GLib timeout.
    Work due at one time runs in the order it was planned.'''

    def __init__(self):
        self.events = []    # [due, order, work], sorted
        self.order = itertools.count()
        self.source = 0

    def __len__(self):
        return len(self.events)

    def at(self, due, work):
        '''Plans work (a function) at monotonic time due; returns a handle
        for cancel().'''
        event = [due, next(self.order), work]
        self.events.append(event)
        self.events.sort(key=lambda e: e[:2])
        self.arm()
        return event

    def cancel(self, event):
        if event in self.events:
            self.events.remove(event)
            self.arm()

    def clear(self):
        self.events.clear()
        self.arm()

    def arm(self):
        if self.source:
            GLib.source_remove(self.source)
            self.source = 0
        if self.events:
            wait = self.events[0][0] - time.monotonic()
            self.source = GLib.timeout_add(max(0, math.ceil(wait * 1000)),
                                           self.run)

    def run(self):
        self.source = 0
        try:
            # GLib counts whole milliseconds: what is due within one runs now
            while self.events \
                    and self.events[0][0] <= time.monotonic() + 0.001:
                self.events.pop(0)[2]()
        finally:
            self.arm()  # one failed piece of work leaves the rest planned
        return False


class Channel:
    def __init__(self, number):
        self.number = number
        self.presets = {}       # number -> [name, pan, tilt]
        self.home = 0
        self.reported = 0
        self.arrival = None     # the head's pending arrival for this channel

    def preset(self, number):
        if number not in self.presets:
            raise fail(f'channel {self.number} has no preset {number}')
        return self.presets[number]

    def number_of_name(self, name):
        for number in sorted(self.presets):
            if self.presets[number][0] == name:
                return number
        return 0

    def lowest_unused_number(self):
        number = 1
        while number in self.presets:
            number += 1
        return number

    def number_after_highest(self):
        return max(self.presets, default=0) + 1


class Camera:
    def __init__(self, connection, channel_count):
        self.connection = connection
        self.channel_count = channel_count
        self.channels = {n: Channel(n) for n in range(1, channel_count + 1)}
        # where the head is, or is heading to, and when it gets there
        self.head = [0.0, 0.0]
        self.head_due = 0.0
        self.switches = frozenset()
        self.timeline = Timeline()
        self.deferred = []       # user actions waiting for the head
        self.late_rng = random.Random(LATE_SEED)
        self.late_due = 0.0      # when the last late signal leaves
        self.journal = []
        self.failures = {}       # (path, member) -> [count, error name]
        self.wrong_replies = {}  # (path, member) -> [count, signature, args]
        self.listings = {}       # channel -> crafted entries

    def set_behaviour(self, text):
        self.switches = parse_behaviour(text)

    def behaviour(self):
        return ','.join(name for name in SWITCHES
                        if name in self.switches) or DEFAULT_BEHAVIOUR

    def reset(self):
        for ch in self.channels.values():
            ch.presets.clear()
            ch.home = 0
            ch.reported = 0
            ch.arrival = None
        self.head = [0.0, 0.0]
        self.head_due = 0.0
        self.switches = frozenset()
        self.timeline.clear()
        self.deferred.clear()
        self.late_rng = random.Random(LATE_SEED)
        self.late_due = 0.0
        self.journal.clear()
        self.clear_faults()

    # --- model ---

    def channel(self, number):
        if number not in self.channels:
            raise fail(f'no channel {number}', ERROR_INVALID_ARGS)
        return self.channels[number]

    @staticmethod
    def check_caller(role, reserved):
        if role != ROLE or reserved != 0:
            raise fail(f'bad role or reserved value: {str(role)!r}, '
                       f'{int(reserved)}', ERROR_INVALID_ARGS)

    @staticmethod
    def check_name(name):
        if not name:
            raise fail('empty preset name', ERROR_INVALID_ARGS)

    @staticmethod
    def check_number(number):
        if number <= 0:
            raise fail(f'bad preset number {number}', ERROR_INVALID_ARGS)

    def save(self, ch, number, name, home, kind_again=KIND_UPDATED):
        '''Stores the head position under number, signalled as kind_again
        when number existed.'''
        preset = [name, self.head[0], self.head[1]]
        if 'quiet-noop' in self.switches and ch.presets.get(number) == preset \
                and (not home or ch.home == number):
            return
        kind = kind_again if number in ch.presets else KIND_CREATED
        ch.presets[number] = preset
        if home:
            self.set_home(ch, number)
        self.emit_change(ch, number, kind, home)

    def set_home(self, ch, number):
        '''Makes number the home; some platforms also signal the home it
        replaces, as an update without the home flag.'''
        replaced, ch.home = ch.home, number
        if 'old-home-signal' in self.switches and replaced not in (0, number):
            self.emit_change(ch, replaced, KIND_UPDATED, False)

    def set_preset_name(self, ch, name, home):
        self.check_name(name)
        number = ch.number_of_name(name)
        if not number:
            number = ch.number_after_highest() \
                if 'after-highest' in self.switches \
                else ch.lowest_unused_number()
        self.save(ch, number, name, home)
        return number

    def set_preset_number(self, ch, number, home):
        # Saving by number gives the preset its default name, unless this
        # camera keeps the name of a preset saved again.
        self.check_number(number)
        name = f'Pos{number}'
        if 'keeps-name' in self.switches and number in ch.presets:
            name = ch.presets[number][0]
        self.save(ch, number, name, home, KIND_CREATED
                  if 'resave-as-created' in self.switches else KIND_UPDATED)

    def rename(self, ch, number, name):
        self.check_name(name)
        if 'quiet-noop' in self.switches and ch.preset(number)[0] == name:
            return
        ch.preset(number)[0] = name
        self.emit_change(ch, number, KIND_UPDATED, False)

    def update(self, ch, number, name):
        self.check_name(name)
        preset = [name, self.head[0], self.head[1]]
        if 'quiet-noop' in self.switches and ch.preset(number) == preset:
            return
        ch.preset(number)
        ch.presets[number] = preset
        self.emit_change(ch, number, KIND_UPDATED, False)

    def make_home(self, ch, number):
        ch.preset(number)
        self.set_home(ch, number)
        self.emit_change(ch, number, KIND_UPDATED, True)

    def user_make_home(self, ch, number):
        '''A user's make home; while the head travels, it waits for it.'''
        ch.preset(number)
        if 'moving-head' not in self.switches \
                or time.monotonic() >= self.head_due:
            self.make_home(ch, number)
            return

        def arrived():
            self.deferred.remove(work)
            if number in ch.presets:  # else removed on the way: nothing
                self.make_home(ch, number)
        work = self.timeline.at(self.head_due, arrived)
        self.deferred.append(work)

    def remove(self, ch, number):
        name = ch.preset(number)[0]
        del ch.presets[number]
        if ch.home == number:
            ch.home = 0
        self.signal(CHANNEL_PREFIX + str(ch.number), CHANNEL_BUS_NAME,
                    'PresetConfigurationChanged2', 'usua{sb}a{sv}',
                    [number, name, KIND_REMOVED, {'SET_HOME': False},
                     dbus.Dictionary({}, signature='sv')])

    def remove_by_name(self, ch, name):
        number = ch.number_of_name(name)
        if not number:
            raise fail(f'channel {ch.number} has no preset named '
                       f'{str(name)!r}')
        self.remove(ch, number)

    def goto(self, ch, number):
        _, pan, tilt = ch.preset(number)
        target = [pan, tilt]
        if 'moving-head' in self.switches:
            # the channel reports nothing until the head is there; a goto
            # where the head already heads does not delay it
            now = time.monotonic()
            if target != self.head or self.head_due <= now:
                self.head_due = now + travel_seconds(self.head, target)
            self.cancel_arrival(ch)
            ch.reported = 0

            def arrived():
                ch.arrival = None
                ch.reported = number
            ch.arrival = self.timeline.at(self.head_due, arrived)
        else:
            ch.reported = number
        self.head = target
        self.signal(COORDINATOR_PREFIX + str(ch.number), MAIN_IFACE,
                    'PtzPresetState', 'iii', [ch.number, number, 1])

    def cancel_arrival(self, ch):
        if ch.arrival is not None:
            self.timeline.cancel(ch.arrival)
            ch.arrival = None

    def move(self, pan, tilt):
        # the user stops the head where they send it: no arrival is left,
        # and the make-homes that waited for one take effect now
        self.head = [float(pan), float(tilt)]
        self.head_due = 0.0
        for ch in self.channels.values():
            self.cancel_arrival(ch)
            ch.reported = 0
        for work in list(self.deferred):
            self.timeline.cancel(work)
            work[2]()

    def set_reported(self, ch, preset):
        self.cancel_arrival(ch)
        ch.reported = preset

    def listing(self, ch, with_positions):
        if ch.number in self.listings:
            return list(self.listings[ch.number])
        entries = []
        for number in sorted(ch.presets):
            name, pan, tilt = ch.presets[number]
            fields = [f'presetposno{number}={name}']
            if with_positions:
                fields += [f'pan={pan:.2f}', f'tilt={tilt:.2f}']
            fields.append(f'home={int(number == ch.home)}')
            entries.append(':'.join(fields))
        return dbus.Array(entries, signature='s')

    def emit_change(self, ch, number, kind, home):
        self.signal(CHANNEL_PREFIX + str(ch.number), CHANNEL_BUS_NAME,
                    'PresetConfigurationChanged2', 'usua{sb}a{sv}',
                    [number, ch.presets[number][0], kind,
                     {'SET_HOME': bool(home)},
                     dbus.Dictionary({}, signature='sv')])

    def signal(self, path, interface, member, signature, args):
        '''A signal the camera's own work causes: sent now, or under
        late-signals 20 to 60 ms later, never before an earlier one.'''
        if 'late-signals' not in self.switches:
            self.emit(path, interface, member, signature, args)
            return
        message = self.message(path, interface, member, signature, args)
        delay = self.late_rng.randint(*LATE_MS) / 1000
        self.late_due = max(time.monotonic() + delay, self.late_due)
        self.timeline.at(self.late_due,
                         lambda: self.connection.send_message(message))

    @staticmethod
    def message(path, interface, member, signature, args):
        signal = dbus.lowlevel.SignalMessage(path, interface, member)
        signal.append(*typed_args(signature, args), signature=signature)
        return signal

    def emit(self, path, interface, member, signature, args):
        self.connection.send_message(
            self.message(path, interface, member, signature, args))

    def state(self):
        return json.dumps({
            'head': self.head,
            'behaviour': self.behaviour(),
            'channels': {
                str(n): {
                    'reported': ch.reported,
                    'home': ch.home,
                    'presets': [[number] + ch.presets[number]
                                for number in sorted(ch.presets)],
                }
                for n, ch in self.channels.items()
            },
        })

    # --- routing, journal and faults ---

    def object_of(self, path):
        '''(object kind, channel) of a path of ours, else (None, 0).'''
        if path == MAIN_OBJ:
            return 'top', 0
        for kind, prefix in (('coordinator', COORDINATOR_PREFIX),
                             ('channel', CHANNEL_PREFIX)):
            tail = path[len(prefix):] if path.startswith(prefix) else ''
            if tail.isdigit() and str(int(tail)) == tail \
                    and int(tail) in self.channels:
                return kind, int(tail)
        return None, 0

    def path_of(self, channel, member):
        if member not in METHODS:
            raise fail(f'unknown method {member}', ERROR_INVALID_ARGS)
        kind = METHODS[member][0]
        if kind == 'top':
            return MAIN_OBJ
        self.channel(channel)
        if kind == 'coordinator':
            return COORDINATOR_PREFIX + str(channel)
        return CHANNEL_PREFIX + str(channel)

    @staticmethod
    def take(faults, key):
        '''The fault set for key, counting down its remaining uses.'''
        fault = faults.get(key)
        if fault is None:
            return None
        if fault[0] > 0:
            fault[0] -= 1
            if fault[0] == 0:
                del faults[key]
        return fault

    def filter(self, connection, msg):
        if msg.get_type() != dbus.lowlevel.MESSAGE_TYPE_METHOD_CALL:
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        interface = msg.get_interface() or ''
        if interface in UNJOURNALED_INTERFACES:
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        path, member = msg.get_path(), msg.get_member()
        signature = msg.get_signature()
        self.journal.append([path, interface, member, signature,
                             plain(msg.get_args_list())])
        kind, _ = self.object_of(path)
        method = METHODS.get(member)
        if kind is None or method is None:
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        if method[0] != kind:
            reply = dbus.lowlevel.ErrorMessage(
                msg, ERROR_UNKNOWN_METHOD, f'no method {member} at {path}')
        elif interface != KIND_INTERFACES[kind]:
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        elif signature != method[1]:
            reply = dbus.lowlevel.ErrorMessage(
                msg, ERROR_INVALID_ARGS,
                f'{member} takes "{method[1]}", not "{signature}"')
        elif (failure := self.take(self.failures, (path, member))):
            reply = dbus.lowlevel.ErrorMessage(
                msg, failure[1], f'{member} made to fail')
        elif (wrong := self.take(self.wrong_replies, (path, member))):
            reply = dbus.lowlevel.MethodReturnMessage(msg)
            reply.append(*wrong[2], signature=wrong[1])
        else:
            return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED
        connection.send_message(reply)
        return dbus.lowlevel.HANDLER_RESULT_HANDLED

    def fail_method(self, channel, member, count, error_name):
        key = (self.path_of(channel, member), member)
        self.failures.pop(key, None)
        if count != 0:
            self.failures[key] = [count, error_name or ERROR_FAILED]

    def reply_wrong_type(self, channel, member, signature, args, count):
        key = (self.path_of(channel, member), member)
        self.wrong_replies.pop(key, None)
        if count != 0:
            self.wrong_replies[key] = [count, signature,
                                       typed_args(signature, args)]

    def clear_faults(self):
        self.failures.clear()
        self.wrong_replies.clear()
        self.listings.clear()


def no_reply(_):
    return None


def add_object(mock, path, interface, methods):
    '''methods: name -> (in signature, out signature, function).'''
    mock.AddObject(path, interface, dbus.Dictionary({}, signature='sv'), [])
    obj = dbusmock.get_object(path)
    for name, (in_sig, out_sig, func) in methods.items():
        obj.AddMethod(interface, name, in_sig, out_sig, func)


def service_methods(functions):
    '''Service methods with the signatures of METHODS.'''
    return {name: METHODS[name][1:] + (func,)
            for name, func in functions.items()}


def coordinator_methods(cam, ch):
    def with_caller(func):
        def call(_, role, reserved, *args):
            cam.check_caller(role, reserved)
            return func(*args)
        return call

    return service_methods({
        'QueryPresets': with_caller(
            lambda with_positions: cam.listing(ch, with_positions)),
        'SetPresetName': with_caller(
            lambda name, home: no_reply(cam.set_preset_name(ch, name, home))),
        'SetPresetNumber': with_caller(
            lambda number, home: cam.set_preset_number(ch, number, home)),
        'RenamePreset': with_caller(
            lambda number, name: cam.rename(ch, number, name)),
        'UpdatePreset': with_caller(
            lambda number, name: cam.update(ch, number, name)),
        'RemovePresetName': with_caller(
            lambda name: cam.remove_by_name(ch, name)),
        'GetPtzPresetState': lambda _: (ch.reported, int(ch.reported != 0)),
        'GotoPresetNumber': with_caller(
            lambda number, _speed: cam.goto(ch, number)),
    })


def channel_methods(ch):
    def presets(_):
        return (dbus.UInt32(ch.home),
                dbus.Array([(n, ch.presets[n][0]) for n in sorted(ch.presets)],
                           signature='(us)'))
    return service_methods({'GetPresets': presets})


def control_methods(cam):
    def user(func):
        return lambda _, channel, *args: func(cam.channel(channel), *args)

    def seed(ch, number, name, pan, tilt, home):
        cam.check_number(number)
        ch.presets[number] = [name, float(pan), float(tilt)]
        if home:
            ch.home = number

    def announce(ch, first, speed, space):
        cam.emit(COORDINATOR_PREFIX + str(ch.number), MAIN_IFACE,
                 'PresetSpeed', 'iii', [first, speed, space])

    def serve_listing(_, channel, entries):
        cam.listings[cam.channel(channel).number] = [str(e) for e in entries]

    def clear_journal(_):
        cam.journal.clear()

    return {
        'UserMove': ('dd', '', lambda _, pan, tilt: cam.move(pan, tilt)),
        'UserCreateByName': ('isb', 'i', user(cam.set_preset_name)),
        'UserCreateByNumber': ('iib', '', user(cam.set_preset_number)),
        'UserRename': ('iis', '', user(cam.rename)),
        'UserUpdatePosition': ('ii', '', user(
            lambda ch, n: cam.update(ch, n, ch.preset(n)[0]))),
        'UserMakeHome': ('ii', '', user(cam.user_make_home)),
        'UserRemove': ('ii', '', user(cam.remove)),
        'UserRecall': ('ii', '', user(cam.goto)),
        'AnnounceSpeed': ('iiii', '', user(announce)),
        'EmitRaw': ('ssssav', '', lambda _, *a: cam.emit(*a)),
        'SeedPreset': ('iisddb', '', user(seed)),
        'SetReportedPreset': ('ii', '', user(cam.set_reported)),
        'SetBehaviour': ('s', '', lambda _, text: cam.set_behaviour(text)),
        'Pending': ('', 'u', lambda _: len(cam.timeline)),
        'Reset': ('', '', lambda _: cam.reset()),
        'FailMethod': ('isis', '', lambda _, *a: cam.fail_method(*a)),
        'ReplyWrongType': ('issavi', '',
                           lambda _, *a: cam.reply_wrong_type(*a)),
        'ServeListing': ('ias', '', serve_listing),
        'ClearListing': ('i', '',
                         lambda _, channel: no_reply(
                             cam.listings.pop(channel, None))),
        'ClearFaults': ('', '', lambda _: cam.clear_faults()),
        'GetJournal': ('', 's', lambda _: json.dumps(cam.journal)),
        'GetJournalLength': ('', 'u', lambda _: len(cam.journal)),
        'ClearJournal': ('', '', clear_journal),
        'GetState': ('', 's', lambda _: cam.state()),
    }


def load(mock, parameters):
    channel_count = int(parameters.get('channels', 4))
    connection = mock.bus_name.get_bus()
    # Both services live on this one connection, as on the camera.
    mock.channel_bus_name = dbus.service.BusName(
        CHANNEL_BUS_NAME, connection, allow_replacement=True,
        replace_existing=True, do_not_queue=True)
    cam = Camera(connection, channel_count)
    mock.camera = cam
    connection.add_message_filter(cam.filter)

    in_sig, out_sig = METHODS['GetNumberOfChannels'][1:]
    mock.AddMethod(MAIN_IFACE, 'GetNumberOfChannels', in_sig, out_sig,
                   lambda _: channel_count)
    for ch in cam.channels.values():
        add_object(mock, COORDINATOR_PREFIX + str(ch.number), MAIN_IFACE,
                   coordinator_methods(cam, ch))
        add_object(mock, CHANNEL_PREFIX + str(ch.number), CHANNEL_IFACE,
                   channel_methods(ch))
    add_object(mock, CONTROL_OBJ, CONTROL_IFACE, control_methods(cam))
