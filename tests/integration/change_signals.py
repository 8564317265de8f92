'''Configuration-change signals as the channel service sends them, and the
daemon's preset calls as the (path, member, args) tuples of the journal.'''

import dbus
import dbus.lowlevel

from testbed import CHANNEL_SERVICE, channel_path, coordinator_path

CHANGE_SIGNAL = 'PresetConfigurationChanged2'
CHANGE_SIGNATURE = 'usua{sb}a{sv}'
CREATED, UPDATED, REMOVED = 1, 2, 3
ROLE = 'Operator'
MODIFYING = ('SetPresetName', 'SetPresetNumber', 'RenamePreset',
             'UpdatePreset', 'RemovePresetName')


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


def get_presets(channel):
    return (channel_path(channel), 'GetPresets', ())


def query(channel, positions=False):
    return (coordinator_path(channel), 'QueryPresets', (ROLE, 0, positions))


def set_preset_name(channel, name, home=False):
    return (coordinator_path(channel), 'SetPresetName', (ROLE, 0, name, home))


def set_preset_number(channel, number, home=False):
    return (coordinator_path(channel), 'SetPresetNumber',
            (ROLE, 0, number, home))


def rename_preset(channel, number, name):
    return (coordinator_path(channel), 'RenamePreset', (ROLE, 0, number, name))


def remove_preset(channel, name):
    return (coordinator_path(channel), 'RemovePresetName', (ROLE, 0, name))


def modifying(calls):
    '''The calls that change presets, in order.'''
    return [call for call in calls if call[1] in MODIFYING]
