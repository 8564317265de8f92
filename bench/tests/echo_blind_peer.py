#!/usr/bin/python3
"""A peer without an echo filter: it mirrors every recall it sees, the echoes of its own gotos
included, as a service that kept no recall records would. The driver must fail it.

    echo_blind_peer.py
"""
import signal

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = INTERFACE = "com.orvo.PTZ.Coordinator"
PATH = "/com/orvo/PTZ/Coordinator"
BUS = Gio.bus_get_sync(Gio.BusType.SYSTEM)


def call(path, method, args=None):
    return BUS.call_sync(NAME, path, INTERFACE, method, args, None, Gio.DBusCallFlags.NONE, -1,
                         None).unpack()


def on_state(_connection, _sender, _path, _interface, _member, parameters):
    channel, preset, state = parameters.unpack()
    if state != 1:
        return
    for other in range(1, CHANNELS + 1):
        if other != channel and call(f"{PATH}/{other}", "GetPtzPresetState")[0] != preset:
            call(f"{PATH}/{other}", "GotoPresetNumber",
                 GLib.Variant("(siii)", ("Operator", 0, preset, 0)))


CHANNELS = call(PATH, "GetNumberOfChannels")[0]
for number in range(1, CHANNELS + 1):
    BUS.signal_subscribe(None, INTERFACE, "PtzPresetState", f"{PATH}/{number}", None,
                         Gio.DBusSignalFlags.NONE, on_state)
LOOP = GLib.MainLoop()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, LOOP.quit)
LOOP.run()
