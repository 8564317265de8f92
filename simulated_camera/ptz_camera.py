'''Simulated multi-channel PTZ camera: the coordinator and the channel service.

Load it with `python3 -m dbusmock --system --template ptz_camera.py
--parameters '{"channels": 4}'` or with
`dbusmock.DBusTestCase.spawn_server_template(path, {'channels': 4})`.
Parameter `channels` (int, default 4) is what GetNumberOfChannels replies;
channel objects exist for 1 .. channels (none for 0 or a negative count).

What the camera's objects, methods and signals do, its listing entries,
errors and behaviour variants: README.md beside this file, which the
benchmark's native stand-in follows too.

Control surface for tests and demos: object "/com/orvo/Sim", interface
"com.orvo.Sim.Control", reached through either bus name.  Channel 0 in the
fault methods means the top object "/com/orvo/PTZ/Coordinator".

Acting as a user (signals and errors as the methods' in README.md):
  UserMove(d pan, d tilt)       every channel then reports no preset (0)
  UserCreateByName(i channel, s name, b home) -> i number
  UserCreateByNumber(i channel, i number, b home)
  UserRename(i channel, i number, s name)
  UserUpdatePosition(i channel, i number)    save the head position, kind 2
  UserMakeHome(i channel, i number)          kind 2 with SET_HOME true
  UserRemove(i channel, i number)            kind 3
  UserRecall(i channel, i number)            like GotoPresetNumber
  AnnounceSpeed(i channel, i first, i speed, i space)
                                   PresetSpeed on channel's coordinator object
  EmitRaw(s path, s interface, s member, s signature, av args)
Setting up without emitting anything:
  SetBehaviour(s name)          "default", "keeps-name" or "after-highest"
  Reset()                       no presets, homes or reported presets, head
                                at (0, 0), empty journal, no faults, default
                                behaviour
  SeedPreset(i channel, i number, s name, d pan, d tilt, b home)
  SetReportedPreset(i channel, i preset)
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
  GetState() -> s     JSON {"head": [pan, tilt], "behaviour": name,
                      "channels": {"N": {"reported": p, "home": h,
                      "presets": [[number, name, pan, tilt], ...]}}}
'''

import json

import dbus
import dbus.lowlevel
import dbus.service

import dbusmock

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

BEHAVIOURS = ('default', 'keeps-name', 'after-highest')

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


class Channel:
    def __init__(self, number):
        self.number = number
        self.presets = {}       # number -> [name, pan, tilt]
        self.home = 0
        self.reported = 0

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
        self.head = [0.0, 0.0]
        self.behaviour = 'default'
        self.journal = []
        self.failures = {}       # (path, member) -> [count, error name]
        self.wrong_replies = {}  # (path, member) -> [count, signature, args]
        self.listings = {}       # channel -> crafted entries

    def set_behaviour(self, name):
        if name not in BEHAVIOURS:
            raise fail(f'unknown behaviour {str(name)!r}', ERROR_INVALID_ARGS)
        self.behaviour = str(name)

    def reset(self):
        for ch in self.channels.values():
            ch.presets.clear()
            ch.home = 0
            ch.reported = 0
        self.head = [0.0, 0.0]
        self.behaviour = 'default'
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

    def save(self, ch, number, name, home):
        '''Stores the head position under number; returns the change kind.'''
        kind = KIND_UPDATED if number in ch.presets else KIND_CREATED
        ch.presets[number] = [name, self.head[0], self.head[1]]
        if home:
            ch.home = number
        self.emit_change(ch, number, kind, home)
        return kind

    def set_preset_name(self, ch, name, home):
        self.check_name(name)
        number = ch.number_of_name(name)
        if not number:
            number = ch.number_after_highest() \
                if self.behaviour == 'after-highest' \
                else ch.lowest_unused_number()
        self.save(ch, number, name, home)
        return number

    def set_preset_number(self, ch, number, home):
        # Saving by number gives the preset its default name, unless this
        # camera keeps the name of a preset saved again.
        self.check_number(number)
        name = f'Pos{number}'
        if self.behaviour == 'keeps-name' and number in ch.presets:
            name = ch.presets[number][0]
        self.save(ch, number, name, home)

    def rename(self, ch, number, name):
        self.check_name(name)
        ch.preset(number)[0] = name
        self.emit_change(ch, number, KIND_UPDATED, False)

    def update(self, ch, number, name):
        self.check_name(name)
        ch.preset(number)
        ch.presets[number] = [name, self.head[0], self.head[1]]
        self.emit_change(ch, number, KIND_UPDATED, False)

    def make_home(self, ch, number):
        ch.preset(number)
        ch.home = number
        self.emit_change(ch, number, KIND_UPDATED, True)

    def remove(self, ch, number):
        name = ch.preset(number)[0]
        del ch.presets[number]
        if ch.home == number:
            ch.home = 0
        self.emit(CHANNEL_PREFIX + str(ch.number), CHANNEL_BUS_NAME,
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
        self.head = [pan, tilt]
        ch.reported = number
        self.emit(COORDINATOR_PREFIX + str(ch.number), MAIN_IFACE,
                  'PtzPresetState', 'iii', [ch.number, number, 1])

    def move(self, pan, tilt):
        self.head = [float(pan), float(tilt)]
        for ch in self.channels.values():
            ch.reported = 0

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
        self.emit(CHANNEL_PREFIX + str(ch.number), CHANNEL_BUS_NAME,
                  'PresetConfigurationChanged2', 'usua{sb}a{sv}',
                  [number, ch.presets[number][0], kind,
                   {'SET_HOME': bool(home)},
                   dbus.Dictionary({}, signature='sv')])

    def emit(self, path, interface, member, signature, args):
        signal = dbus.lowlevel.SignalMessage(path, interface, member)
        signal.append(*typed_args(signature, args), signature=signature)
        self.connection.send_message(signal)

    def state(self):
        return json.dumps({
            'head': self.head,
            'behaviour': self.behaviour,
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

    def set_reported(ch, preset):
        ch.reported = preset

    def clear_journal(_):
        cam.journal.clear()

    return {
        'UserMove': ('dd', '', lambda _, pan, tilt: cam.move(pan, tilt)),
        'UserCreateByName': ('isb', 'i', user(cam.set_preset_name)),
        'UserCreateByNumber': ('iib', '', user(cam.set_preset_number)),
        'UserRename': ('iis', '', user(cam.rename)),
        'UserUpdatePosition': ('ii', '', user(
            lambda ch, n: cam.update(ch, n, ch.preset(n)[0]))),
        'UserMakeHome': ('ii', '', user(cam.make_home)),
        'UserRemove': ('ii', '', user(cam.remove)),
        'UserRecall': ('ii', '', user(cam.goto)),
        'AnnounceSpeed': ('iiii', '', user(announce)),
        'EmitRaw': ('ssssav', '', lambda _, *a: cam.emit(*a)),
        'SeedPreset': ('iisddb', '', user(seed)),
        'SetReportedPreset': ('ii', '', user(set_reported)),
        'SetBehaviour': ('s', '', lambda _, name: cam.set_behaviour(name)),
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
