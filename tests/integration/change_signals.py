'''What the tests send and what they expect back: configuration-change
signals as the channel service sends them, listing entries as the
coordinator writes them, the daemon's calls as the (path, member, args)
tuples of the journal, and the warnings the daemon logs.'''

import dbus
import dbus.lowlevel

from testbed import (CHANNEL_SERVICE, COORDINATOR, PROBE_MESSAGE,
                     channel_path, coordinator_path)

CHANGE_SIGNAL = 'PresetConfigurationChanged2'
CHANGE_SIGNATURE = 'usua{sb}a{sv}'
CREATED, UPDATED, REMOVED = 1, 2, 3
ROLE = 'Operator'
MODIFYING = ('SetPresetName', 'SetPresetNumber', 'RenamePreset',
             'UpdatePreset', 'RemovePresetName')
# The interface of the channel service's objects (its signals come with the
# bus name as interface instead).
CHANNEL_IFACE = 'com.orvo.Ptz1.Channel'
# The interface and signature of every call the daemon makes.
CALL_WIRE = {
    'GetNumberOfChannels': (COORDINATOR, ''),
    'QueryPresets': (COORDINATOR, 'sib'),
    'SetPresetName': (COORDINATOR, 'sisb'),
    'SetPresetNumber': (COORDINATOR, 'siib'),
    'RenamePreset': (COORDINATOR, 'siis'),
    'UpdatePreset': (COORDINATOR, 'siis'),
    'RemovePresetName': (COORDINATOR, 'sis'),
    'GetPtzPresetState': (COORDINATOR, ''),
    'GotoPresetNumber': (COORDINATOR, 'siii'),
    'GetPresets': (CHANNEL_IFACE, ''),
}


def emit_change(camera, channel, preset_id, name, kind, home=False):
    '''The camera announces a change on channel without making it.'''
    camera.emit_raw(channel_path(channel), CHANNEL_SERVICE, CHANGE_SIGNAL,
                    CHANGE_SIGNATURE,
                    [preset_id, name, kind, {'SET_HOME': home}, {}])


class _Key(str):
    '''A dictionary key that carries its own value, so one key can repeat.'''


class _Pairs(dict):
    '''What dbus-python marshals as a dictionary: each pair in order,
    repeated keys included.'''

    def __init__(self, pairs):
        super().__init__()
        self._keys = []
        for key, value in pairs:
            key = _Key(key)
            key.value = value
            self._keys.append(key)

    def __iter__(self):
        return iter(self._keys)

    def __len__(self):
        return len(self._keys)

    def keys(self):
        return list(self._keys)

    def items(self):
        return [(key, key.value) for key in self._keys]

    def __getitem__(self, key):
        return key.value


def emit_change_with_flags(connection, channel, preset_id, name, kind,
                           flag_pairs):
    '''Sends the change from connection with the flags exactly as listed,
    a repeated key too (the camera's control surface would merge those).'''
    signal = dbus.lowlevel.SignalMessage(channel_path(channel),
                                         CHANNEL_SERVICE, CHANGE_SIGNAL)
    signal.append(preset_id, name, kind, _Pairs(flag_pairs),
                  dbus.Dictionary({}, signature='sv'),
                  signature=CHANGE_SIGNATURE)
    connection.send_message(signal)


def succeed_without_effect(camera, channel, method, count=-1):
    '''The method replies as it should but changes and emits nothing.'''
    camera.reply_wrong_type(channel, method, '', [], count)


def listing_entry(number, name, pan=0.0, tilt=0.0):
    '''An entry of a QueryPresets listing with positions.'''
    return f'presetposno{number}={name}:pan={pan}:tilt={tilt}:home=0'


# --- the daemon's calls ---

def get_presets(channel):
    return (channel_path(channel), 'GetPresets', ())


def query(channel, positions=False):
    return (coordinator_path(channel), 'QueryPresets', (ROLE, 0, positions))


def lookup(channel):
    '''The listing query of an update, with positions.'''
    return query(channel, positions=True)


def set_preset_name(channel, name, home=False):
    return (coordinator_path(channel), 'SetPresetName', (ROLE, 0, name, home))


def set_preset_number(channel, number, home=False):
    return (coordinator_path(channel), 'SetPresetNumber',
            (ROLE, 0, number, home))


def rename_preset(channel, number, name):
    return (coordinator_path(channel), 'RenamePreset', (ROLE, 0, number, name))


def update_preset(channel, number, name):
    return (coordinator_path(channel), 'UpdatePreset',
            (ROLE, 0, number, name))


def remove_preset(channel, name):
    return (coordinator_path(channel), 'RemovePresetName', (ROLE, 0, name))


def state_query(channel):
    return (coordinator_path(channel), 'GetPtzPresetState', ())


def goto(channel, preset, speed=0):
    return (coordinator_path(channel), 'GotoPresetNumber',
            (ROLE, 0, preset, speed))


def modifying(calls):
    '''The calls that change presets, in order.'''
    return [call for call in calls if call[1] in MODIFYING]


# --- the daemon's warnings ---

QUERY_FAILED = 'Failed to query presets'
NO_PRESET_COUNT = 'Failed to get number of existing presets'
FULL_BUFFER = ('Received configuration_changed signals exceed '
               'MAX_BUFFER_SIGNAL_SIZE')


def unsupported_space(space):
    return PROBE_MESSAGE.format(space)


def lookup_failed(number, channel):
    return (f'Failed to query presets for preset (id: {number}) '
            f'on channel {channel}')


def create_by_name_failed(number, name, channel, home=False):
    return (f'Failed to create preset (id {number}, name {name} set_home '
            f'{str(home).lower()}) on channel {channel}')


def create_by_number_failed(number, channel, home=False):
    return (f'Failed to create preset (id {number} set as Home: '
            f'{str(home).lower()}) on channel {channel}')


def set_home_failed(number, name, channel):
    return (f'Failed to set preset (id {number}, name {name}, '
            f'set as Home: true) on channel {channel}')


def _edit_failed(verb, gap=' '):
    def message(number, name, channel):
        return (f'Failed to {verb} preset (id {number},{gap}name {name}) '
                f'on channel {channel}')
    return message


rename_failed = _edit_failed('rename')
update_failed = _edit_failed('update')
remove_failed = _edit_failed('remove', gap='  ')  # two spaces, as logged


def state_failed(channel):
    return f'Failed to get PresetStatus on channel {channel}'


def goto_failed(preset, channel):
    return f'Failed to go to preset (id {preset}) on channel {channel}'
