#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets: a type string, a NUL, serialized data."""
import os
import sys

from gi.repository import GLib


def seed(value):
    return value.get_type_string().encode() + b"\0" + bytes(value.get_data_as_bytes().get_data())


def change(number, name, kind, flags):
    return GLib.Variant("(usua{sb}a{sv})", (number, name, kind, flags, {}))


SEEDS = {
    "listing": [
        GLib.Variant("(as)", (["presetposno1=Gate:pan=10.5:tilt=-3.25:home=1",
                               "presetposno4=Door:pan=0:tilt=0",
                               "presetposno12"],)),
        GLib.Variant("(as)", (["presetposno7=First", "presetposno7=Second:pan=3:tilt=4"],)),
        GLib.Variant("(as)", (["presetposno4294967300=Wrap:pan=1:tilt=2", "PresetPosNo3=x"],)),
        GLib.Variant("(as)", ([],)),
        GLib.Variant("(s)", ("presetposno1=Gate:pan=1:tilt=2",)),
    ],
    "configuration_change": [
        change(5, "Gate", 1, {"SET_HOME": True}),
        change(3, "Pos3", 2, {"SET_HOME": False, "OTHER": True}),
        change(9, "x" * 94 + "\u00e9\u00e9", 3, {}),
        change(0, "", 4, {}),
        GLib.Variant("(usu)", (5, "Gate", 1)),
    ],
    "preset_state": [
        GLib.Variant("(iii)", (1, 5, 1)),
        GLib.Variant("(iii)", (-1, 0, 2)),
        GLib.Variant("(uuu)", (1, 5, 1)),
    ],
    "preset_speed": [
        GLib.Variant("(iii)", (1, 40, 0)),
        GLib.Variant("(iii)", (0, -2147483648, 3)),
        GLib.Variant("(ii)", (1, 40)),
    ],
}


def main():
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for target, values in SEEDS.items():
        folder = os.path.join(top, target)
        os.makedirs(folder, exist_ok=True)
        for index, value in enumerate(values):
            with open(os.path.join(folder, "seed-%d" % index), "wb") as out:
                out.write(seed(value))
    return 0


if __name__ == "__main__":
    sys.exit(main())
