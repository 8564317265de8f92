'''One table of calls on the camera's two services, played on both of its
simulators: the python-dbusmock template and the benchmark's native
stand-in.  Each must reply, signal and list as simulated_camera/README.md
says, so a simulator that strays from the other fails here.

Every case starts from a camera with only the case's presets, the head where
the case points it and the channels reporting what it says, each simulator
set up through its own control surface.  A step is one call as a plain
message; what the test connection receives from then up to the call's reply
must be the step's signals, in order, then its reply.  Cases that need
behaviour switches run on the python camera alone (the stand-in plays
none); there a step's signals may come after its reply, or a step may wait
for the camera to have nothing pending before its call.

The stand-in is PTZ_STAND_IN_BIN, build/bench/ptz-stand-in by default.
'''

import sys
import unittest
from typing import NamedTuple

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
from gi.repository import GLib

from change_signals import (CHANGE_SIGNAL, CHANGE_SIGNATURE, CHANNEL_IFACE,
                            CREATED, REMOVED, ROLE, UPDATED)
from testbed import (CHANNEL_SERVICE, CONTROL_IFACE, CONTROL_PATH,
                     COORDINATOR, COORDINATOR_PATH, REPO, Testbed,
                     channel_path, coordinator_path, timeout, wait_until)

sys.path.insert(0, str(REPO / 'tests' / 'load'))
from load_bed import STAND_IN, StandInProcess  # noqa: E402

CHANNELS = 3

INVALID = 'org.freedesktop.DBus.Error.InvalidArgs'
FAILED = 'com.orvo.PTZ.Error.Failed'
UNKNOWN = 'org.freedesktop.DBus.Error.UnknownMethod'

# The reply signatures of the methods that reply with values.
REPLY_SIGNATURES = {'GetNumberOfChannels': 'i', 'QueryPresets': 'as',
                    'GetPtzPresetState': 'ii', 'GetPresets': 'ua(us)'}
ARGUMENT_TYPES = ((bool, 'b'), (int, 'i'), (str, 's'))


class Step(NamedTuple):
    channel: int         # 0: the coordinator's own object
    method: str
    args: tuple          # their signature follows from their Python types
    reply: object        # the reply's values, or an error name
    signals: list = []
    path: str = ''       # another object than the method's own
    timing: str = ''     # 'late': signals after the reply; 'arrived': the
    #                      call once nothing is pending, what came meanwhile
    #                      counts as its signals


class Case(NamedTuple):
    name: str
    steps: list
    presets: dict = {}   # channel: [(number, name, pan, tilt)]
    head: tuple = (5.0, 6.0)
    reported: dict = {}  # channel: preset (0 where not given)
    failures: list = []  # (channel, method, count) injected beforehand
    listings: dict = {}  # channel: its entries with positions at the end
    switches: str = ''   # SetBehaviour's; any makes the case python-only


def op(*args):
    '''A preset method's arguments, the role and the reserved 0 first.'''
    return (ROLE, 0) + args


def ask(channel, method, *args, reply=(), signals=(), path='', timing=''):
    return Step(channel, method, args, reply, list(signals), path, timing)


def changed(channel, number, name, kind, home=False):
    return (channel_path(channel), CHANNEL_SERVICE, CHANGE_SIGNAL,
            CHANGE_SIGNATURE, (number, name, kind, {'SET_HOME': home}, {}))


def recalled(channel, preset):
    return (coordinator_path(channel), COORDINATOR, 'PtzPresetState', 'iii',
            (channel, preset, 1))


def entry(number, name, pan, tilt, home=0):
    return f'presetposno{number}={name}:pan={pan:.2f}:tilt={tilt:.2f}' \
        f':home={home}'


SEEDED = {1: [(1, 'Door', 10.0, -1.0), (3, 'Gate', 30.5, -3.25)],
          2: [(1, 'Door', 12.0, 2.0)]}
# 150 ms of travel from any case's head
FAR = (9, 'Far', 185.0, -40.0)
SEEDED_LISTING = {1: [entry(1, 'Door', 10, -1), entry(3, 'Gate', 30.5, -3.25)],
                  2: [entry(1, 'Door', 12, 2)], 3: []}

CASES = [
    Case('what the camera lists and reports', presets=SEEDED,
         reported={1: 3}, steps=[
             ask(0, 'GetNumberOfChannels', reply=(CHANNELS,)),
             ask(1, 'QueryPresets', *op(True), reply=([
                 'presetposno1=Door:pan=10.00:tilt=-1.00:home=0',
                 'presetposno3=Gate:pan=30.50:tilt=-3.25:home=0'],)),
             ask(1, 'QueryPresets', *op(False), reply=([
                 'presetposno1=Door:home=0', 'presetposno3=Gate:home=0'],)),
             ask(1, 'GetPresets', reply=(0, [(1, 'Door'), (3, 'Gate')])),
             ask(1, 'GetPtzPresetState', reply=(3, 1)),
             ask(2, 'GetPtzPresetState', reply=(0, 0)),
             ask(3, 'QueryPresets', *op(True), reply=([],)),
             ask(3, 'GetPresets', reply=(0, [])),
         ], listings=SEEDED_LISTING),
    Case('saving by name: a new name takes the lowest unused number, a '
         'known one is saved again, at the head either way', presets=SEEDED,
         steps=[
             ask(1, 'SetPresetName', *op('Yard', False),
                 signals=[changed(1, 2, 'Yard', CREATED)]),
             ask(1, 'SetPresetName', *op('Gate', True),
                 signals=[changed(1, 3, 'Gate', UPDATED, True)]),
             # a false home flag leaves the home as it is
             ask(1, 'SetPresetName', *op('Gate', False),
                 signals=[changed(1, 3, 'Gate', UPDATED)]),
             ask(1, 'GetPresets',
                 reply=(3, [(1, 'Door'), (2, 'Yard'), (3, 'Gate')])),
         ], listings={1: [entry(1, 'Door', 10, -1), entry(2, 'Yard', 5, 6),
                          entry(3, 'Gate', 5, 6, home=1)]}),
    Case('of two presets of one name the lowest numbered is meant',
         presets={1: [(2, 'Hall', 1.0, 1.0), (4, 'Hall', 2.0, 2.0)]},
         steps=[
             ask(1, 'SetPresetName', *op('Hall', False),
                 signals=[changed(1, 2, 'Hall', UPDATED)]),
             ask(1, 'RemovePresetName', *op('Hall'),
                 signals=[changed(1, 2, 'Hall', REMOVED)]),
         ], listings={1: [entry(4, 'Hall', 2, 2)]}),
    Case('saving by number names the preset Pos<n>, new or not',
         presets=SEEDED, steps=[
             ask(1, 'SetPresetNumber', *op(5, False),
                 signals=[changed(1, 5, 'Pos5', CREATED)]),
             ask(1, 'SetPresetNumber', *op(1, True),
                 signals=[changed(1, 1, 'Pos1', UPDATED, True)]),
             ask(1, 'SetPresetNumber', *op(5, False),
                 signals=[changed(1, 5, 'Pos5', UPDATED)]),
         ], listings={1: [entry(1, 'Pos1', 5, 6, home=1),
                          entry(3, 'Gate', 30.5, -3.25),
                          entry(5, 'Pos5', 5, 6)]}),
    Case('a rename keeps the position, an update takes the head\'s',
         presets=SEEDED, steps=[
             ask(1, 'RenamePreset', *op(3, 'Back gate'),
                 signals=[changed(1, 3, 'Back gate', UPDATED)]),
             ask(1, 'UpdatePreset', *op(1, 'Porch'),
                 signals=[changed(1, 1, 'Porch', UPDATED)]),
         ], listings={1: [entry(1, 'Porch', 5, 6),
                          entry(3, 'Back gate', 30.5, -3.25)]}),
    Case('the home stays through renames and updates, which do not set it, '
         'and goes with its preset', presets=SEEDED, steps=[
             ask(1, 'SetPresetNumber', *op(3, True),
                 signals=[changed(1, 3, 'Pos3', UPDATED, True)]),
             ask(1, 'RenamePreset', *op(3, 'Gate'),
                 signals=[changed(1, 3, 'Gate', UPDATED)]),
             ask(1, 'UpdatePreset', *op(3, 'Gate'),
                 signals=[changed(1, 3, 'Gate', UPDATED)]),
             ask(1, 'QueryPresets', *op(False), reply=([
                 'presetposno1=Door:home=0', 'presetposno3=Gate:home=1'],)),
             ask(1, 'GetPresets', reply=(3, [(1, 'Door'), (3, 'Gate')])),
             ask(1, 'RemovePresetName', *op('Gate'),
                 signals=[changed(1, 3, 'Gate', REMOVED)]),
             ask(1, 'GetPresets', reply=(0, [(1, 'Door')])),
         ], listings={1: [entry(1, 'Door', 10, -1)]}),
    Case('a recall points the one head and changes what its channel alone '
         'reports', presets=SEEDED, reported={2: 1}, steps=[
             ask(1, 'GotoPresetNumber', *op(3, 5),
                 signals=[recalled(1, 3)]),
             ask(1, 'GetPtzPresetState', reply=(3, 1)),
             ask(2, 'GetPtzPresetState', reply=(1, 1)),
             ask(2, 'SetPresetNumber', *op(7, False),
                 signals=[changed(2, 7, 'Pos7', CREATED)]),
             ask(1, 'GotoPresetNumber', *op(3, 0),
                 signals=[recalled(1, 3)]),
         ], listings={1: SEEDED_LISTING[1],
                      2: [entry(1, 'Door', 12, 2),
                          entry(7, 'Pos7', 30.5, -3.25)]}),
    Case('arguments the camera rejects change nothing and signal nothing',
         presets=SEEDED, reported={1: 1}, steps=[
             ask(1, 'QueryPresets', 'Viewer', 0, True, reply=INVALID),
             ask(1, 'SetPresetName', ROLE, 1, 'Yard', False, reply=INVALID),
             ask(1, 'SetPresetName', *op('', False), reply=INVALID),
             ask(1, 'RenamePreset', *op(9, ''), reply=INVALID),
             ask(1, 'UpdatePreset', *op(1, ''), reply=INVALID),
             ask(1, 'SetPresetNumber', *op(0, True), reply=INVALID),
             ask(1, 'SetPresetNumber', *op(-2, False), reply=INVALID),
             ask(1, 'QueryPresets', ROLE, reply=INVALID),
             ask(1, 'GetPtzPresetState', 1, reply=INVALID),
             ask(1, 'GetPtzPresetState', reply=(1, 1)),
         ], listings=SEEDED_LISTING),
    Case('presets and names the channel lacks fail', presets=SEEDED,
         reported={1: 1}, steps=[
             ask(1, 'RenamePreset', *op(9, 'Yard'), reply=FAILED),
             ask(1, 'UpdatePreset', *op(9, 'Yard'), reply=FAILED),
             ask(1, 'GotoPresetNumber', *op(9, 0), reply=FAILED),
             ask(1, 'GotoPresetNumber', *op(0, 0), reply=FAILED),
             ask(1, 'RemovePresetName', *op('Yard'), reply=FAILED),
             ask(1, 'RemovePresetName', *op(''), reply=FAILED),
             ask(1, 'GetPtzPresetState', reply=(1, 1)),
         ], listings=SEEDED_LISTING),
    Case('each object has only its own methods', steps=[
        ask(1, 'GetNumberOfChannels', reply=UNKNOWN,
            path=coordinator_path(1)),
        ask(0, 'QueryPresets', *op(True), reply=UNKNOWN,
            path=COORDINATOR_PATH),
    ]),
    Case('an injected failure fails the next call, before any other check',
         presets=SEEDED,
         failures=[(1, 'SetPresetNumber', 1), (1, 'QueryPresets', 1)],
         steps=[
             ask(1, 'SetPresetNumber', *op(5, False), reply=FAILED),
             ask(1, 'SetPresetNumber', *op(5, False),
                 signals=[changed(1, 5, 'Pos5', CREATED)]),
             ask(1, 'QueryPresets', 'Viewer', 0, True, reply=FAILED),
             ask(1, 'QueryPresets', 'Viewer', 0, True, reply=INVALID),
         ], listings={1: SEEDED_LISTING[1] + [entry(5, 'Pos5', 5, 6)]}),
    Case('keeps-name and resave-as-created: saved by number, a preset keeps '
         'its name and is signalled as created', presets=SEEDED,
         switches='keeps-name,resave-as-created', steps=[
             ask(1, 'SetPresetNumber', *op(1, False),
                 signals=[changed(1, 1, 'Door', CREATED)]),
             ask(1, 'SetPresetNumber', *op(5, False),
                 signals=[changed(1, 5, 'Pos5', CREATED)]),
         ], listings={1: [entry(1, 'Door', 5, 6), SEEDED_LISTING[1][1],
                          entry(5, 'Pos5', 5, 6)]}),
    Case('after-highest: a new name takes the number after the highest',
         presets=SEEDED, switches='after-highest', steps=[
             ask(1, 'SetPresetName', *op('Yard', False),
                 signals=[changed(1, 4, 'Yard', CREATED)]),
             ask(3, 'SetPresetName', *op('Yard', False),
                 signals=[changed(3, 1, 'Yard', CREATED)]),
         ]),
    Case('quiet-noop: a call that changes nothing signals nothing; a user\'s '
         'make home always signals', switches='quiet-noop',
         presets={1: [(1, 'Door', 5.0, 6.0), (3, 'Gate', 30.5, -3.25)]},
         steps=[
             ask(1, 'RenamePreset', *op(3, 'Gate')),
             ask(1, 'UpdatePreset', *op(1, 'Door')),
             ask(1, 'SetPresetName', *op('Door', False)),
             ask(1, 'UpdatePreset', *op(3, 'Gate'),
                 signals=[changed(1, 3, 'Gate', UPDATED)]),
             ask(1, 'SetPresetNumber', *op(1, True),
                 signals=[changed(1, 1, 'Pos1', UPDATED, True)]),
             ask(1, 'SetPresetNumber', *op(1, False)),
             ask(1, 'SetPresetName', *op('Pos1', True)),
             ask(0, 'UserMakeHome', 1, 1,
                 signals=[changed(1, 1, 'Pos1', UPDATED, True)]),
         ], listings={1: [entry(1, 'Pos1', 5, 6, home=1),
                          entry(3, 'Gate', 5, 6)]}),
    Case('old-home-signal: making another preset home also signals the home '
         'it replaces', presets=SEEDED, switches='old-home-signal', steps=[
             ask(1, 'SetPresetNumber', *op(1, True),
                 signals=[changed(1, 1, 'Pos1', UPDATED, True)]),
             ask(1, 'SetPresetName', *op('Gate', True), signals=[
                 changed(1, 1, 'Pos1', UPDATED),
                 changed(1, 3, 'Gate', UPDATED, True)]),
             ask(0, 'UserMakeHome', 1, 3,
                 signals=[changed(1, 3, 'Gate', UPDATED, True)]),
             ask(2, 'SetPresetNumber', *op(1, True),
                 signals=[changed(2, 1, 'Pos1', UPDATED, True)]),
         ]),
    Case('late-signals: what a call causes leaves after its reply, in order',
         presets=SEEDED, switches='late-signals,old-home-signal', steps=[
             ask(1, 'SetPresetNumber', *op(1, True), timing='late',
                 signals=[changed(1, 1, 'Pos1', UPDATED, True)]),
             ask(1, 'SetPresetName', *op('Gate', True), timing='late',
                 signals=[changed(1, 1, 'Pos1', UPDATED),
                          changed(1, 3, 'Gate', UPDATED, True)]),
             ask(1, 'GotoPresetNumber', *op(1, 0), timing='late',
                 signals=[recalled(1, 1)]),
             ask(0, 'UserRemove', 1, 1, timing='late',
                 signals=[changed(1, 1, 'Pos1', REMOVED)]),
         ]),
    Case('moving-head: a channel sent to a preset reports none until the head '
         'is there; a make home waits for it, a save takes where it heads',
         presets={1: [(1, 'Door', 10.0, -1.0), FAR], 2: [FAR]},
         reported={2: 9}, switches='moving-head', steps=[
             ask(1, 'GotoPresetNumber', *op(9, 5), signals=[recalled(1, 9)]),
             ask(1, 'GetPtzPresetState', reply=(0, 0)),
             ask(2, 'GetPtzPresetState', reply=(9, 1)),
             ask(0, 'UserMakeHome', 1, 9),
             ask(1, 'GetPresets', reply=(0, [(1, 'Door'), (9, 'Far')])),
             ask(2, 'SetPresetNumber', *op(7, False),
                 signals=[changed(2, 7, 'Pos7', CREATED)]),
             ask(0, 'UserRecall', 2, 9, signals=[recalled(2, 9)]),
             ask(2, 'GetPtzPresetState', reply=(0, 0)),
             ask(1, 'GetPtzPresetState', reply=(9, 1), timing='arrived',
                 signals=[changed(1, 9, 'Far', UPDATED, True)]),
             ask(2, 'GetPtzPresetState', reply=(9, 1)),
         ], listings={2: [entry(7, 'Pos7', 185, -40),
                          entry(9, 'Far', 185, -40)]}),
]


def signature_of(args):
    return ''.join(next(code for kind, code in ARGUMENT_TYPES
                        if isinstance(arg, kind)) for arg in args)


def plain(value):
    '''A value as dbus-python hands it over (arrays as lists, structs as
    tuples), in plain Python types.'''
    if isinstance(value, dict):
        return {plain(key): plain(item) for key, item in value.items()}
    if isinstance(value, list):
        return [plain(item) for item in value]
    if isinstance(value, tuple):
        return tuple(plain(item) for item in value)
    if isinstance(value, dbus.Boolean):
        return bool(value)
    return next(kind(value) for kind in (str, float, int)
                if isinstance(value, kind))


def destination(method, channel, path):
    '''Bus name, object and interface of a method on a channel.'''
    if method.startswith('User'):
        return COORDINATOR, CONTROL_PATH, CONTROL_IFACE
    if method == 'GetPresets':
        return CHANNEL_SERVICE, path or channel_path(channel), CHANNEL_IFACE
    if method == 'GetNumberOfChannels':
        return COORDINATOR, path or COORDINATOR_PATH, COORDINATOR
    return COORDINATOR, path or coordinator_path(channel), COORDINATOR


class Observer:
    '''The test's own connection.  It sends each call as a plain message, so
    that the reply passes its filter like any signal, and records both in
    the order they arrive.'''

    def __init__(self, address):
        loop = dbus.mainloop.glib.DBusGMainLoop()
        self.bus = dbus.bus.BusConnection(address, mainloop=loop)
        self.camera = self.bus.get_name_owner(COORDINATOR)
        # the signals of the camera's two services (python-dbusmock adds
        # its own on another interface)
        for interface in (COORDINATOR, CHANNEL_SERVICE):
            self.bus.add_match_string(f"type='signal',sender='{self.camera}',"
                                      f"interface='{interface}'")
        self.bus.add_message_filter(self._take)
        self.events = []

    def _take(self, _, msg):
        kind = msg.get_type()
        if kind == dbus.lowlevel.MESSAGE_TYPE_SIGNAL \
                and msg.get_sender() == self.camera \
                and msg.get_interface() in (COORDINATOR, CHANNEL_SERVICE):
            self.events.append((str(msg.get_path()), msg.get_interface(),
                                msg.get_member(), str(msg.get_signature()),
                                plain(tuple(msg.get_args_list()))))
        elif kind == dbus.lowlevel.MESSAGE_TYPE_METHOD_RETURN:
            self.events.append(('reply', msg.get_reply_serial(),
                                str(msg.get_signature()),
                                plain(tuple(msg.get_args_list()))))
        elif kind == dbus.lowlevel.MESSAGE_TYPE_ERROR:
            self.events.append(('reply', msg.get_reply_serial(),
                                msg.get_error_name()))
        return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED

    def call(self, step, seconds=10):
        '''What arrived from the call's sending to its reply, inclusive.'''
        name, path, interface = destination(step.method, step.channel,
                                            step.path)
        msg = dbus.lowlevel.MethodCallMessage(name, path, interface,
                                              step.method)
        if step.args:
            msg.append(*step.args, signature=signature_of(step.args))
        first = len(self.events)
        if step.timing == 'arrived':
            self.wait_done(seconds)
        serial = self.bus.send_message(msg)

        def replied():
            self.dispatch()
            return any(event[:2] == ('reply', serial)
                       for event in self.events[first:])
        wait_until(replied, seconds, f'a reply to {step}')
        if step.timing == 'late':
            self.wait_done(seconds)
        return [event[:1] + event[2:] if event[0] == 'reply' else event
                for event in self.events[first:]]

    @staticmethod
    def dispatch():
        context = GLib.MainContext.default()
        while context.iteration(False):
            pass

    def wait_done(self, seconds):
        '''Until the camera has nothing pending, and what it sent before
        saying so is recorded.'''
        def done():
            pending = self.bus.call_blocking(COORDINATOR, CONTROL_PATH,
                                             CONTROL_IFACE, 'Pending', '', ())
            self.dispatch()
            return pending == 0
        wait_until(done, seconds, 'the camera to finish')

    def close(self):
        self.bus.close()


def expected_events(step):
    if isinstance(step.reply, str):
        reply = ('reply', step.reply)
    else:
        reply = ('reply', REPLY_SIGNATURES.get(step.method, ''), step.reply)
    if step.timing == 'late':
        return [reply] + step.signals
    return step.signals + [reply]


class PythonCamera:
    '''ptz_camera.py under python-dbusmock, set up through /com/orvo/Sim.'''
    plays_switches = True

    def __init__(self, tb):
        self.control = tb.start_camera(CHANNELS)

    def set_up(self, case):
        self.control.reset()
        self.control.set_behaviour(case.switches)
        self.control.user_move(*case.head)
        for channel, presets in case.presets.items():
            for preset in presets:
                self.control.seed_preset(channel, *preset)
        for channel, preset in case.reported.items():
            self.control.set_reported_preset(channel, preset)
        for channel, method, count in case.failures:
            self.control.fail_method(channel, method, count)

    def close(self):
        pass


class NativeStandIn:
    '''The benchmark's stand-in, set up through its commands.'''
    plays_switches = False

    def __init__(self, tb):
        self.connection = tb.connection()
        with open(tb.dir / 'stand-in.out', 'wb') as err:
            self.process = StandInProcess(tb.child_env(), CHANNELS, 0, err,
                                          echo='broadcast', binary=STAND_IN)
        self.injected = []

    def set_up(self, case):
        commands = [f'head 1 {case.head[0]} {case.head[1]}']
        # failures a case injected and left unused
        commands += [f'fail {channel} {method} 0'
                     for channel, method, _ in self.injected]
        self.injected = case.failures
        for channel in range(1, CHANNELS + 1):
            _, presets = self.connection.call_blocking(
                CHANNEL_SERVICE, channel_path(channel), CHANNEL_IFACE,
                'GetPresets', '', ())
            commands += [f'forget {channel} {number}' for number, _ in presets]
            commands.append(f'at {channel} {case.reported.get(channel, 0)}')
        for channel, presets in case.presets.items():
            commands += [f'preset {channel} {number} {pan} {tilt} {name}'
                         for number, name, pan, tilt in presets]
        commands += [f'fail {channel} {method} {count}'
                     for channel, method, count in case.failures]
        self.process.send(commands)
        self.process.wait_written(timeout(10))
        self.process.sync()
        refused = [line for line in self.process.output(0, None)
                   if line.startswith(b'error ')]
        if refused:
            raise RuntimeError(f'the stand-in refused {refused}')

    def close(self):
        self.process.close()


class CameraBehaviourTest(unittest.TestCase):

    def check_table(self, simulator):
        tb = Testbed()
        self.addCleanup(tb.close)
        tb.start_bus()
        camera = simulator(tb)
        self.addCleanup(camera.close)
        observer = Observer(tb.bus_address)
        self.addCleanup(observer.close)
        for case in CASES:
            if case.switches and not camera.plays_switches:
                continue
            with self.subTest(case.name):
                camera.set_up(case)
                for step in case.steps:
                    self.assertEqual(observer.call(step),
                                     expected_events(step), step)
                for channel, listing in case.listings.items():
                    query = ask(channel, 'QueryPresets', *op(True),
                                reply=(listing,))
                    self.assertEqual(observer.call(query),
                                     expected_events(query), case.name)

    def test_simulated_camera(self):
        self.check_table(PythonCamera)

    def test_native_stand_in(self):
        self.check_table(NativeStandIn)


if __name__ == '__main__':
    unittest.main()
