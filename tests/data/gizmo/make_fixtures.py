#!/usr/bin/env python3
"""Writes the small gizmo scenes the gizmo tests load.

flipper_table.kvr: a round stage, a ball that falls onto it, a target block beside it, and a
paddle that key 1 swings from its first pose to its second.
slider_table.kvr: the same with a knob that slides on the flat top of a round guide. Run from this folder; the output
is committed, so the tests do not need Python.
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools"))
from gizmo_xml import obj, scene  # noqa: E402


def flipper_table():
    swing = math.radians(30.0)
    groups = [
        ("[Default]", ""),
        ("Ball", '<G><Game sound="bounce"/><Fly/></G>'),
        ("Paddle", '<G><Game sound="flip"/><Flip id="paddle" state="0" motion="EaseOut" '
                   'time="0.25"><UserActivated key="1"/></Flip></G>'),
        ("Paddle up", '<G><Flip id="paddle" state="1"/></G>'),
    ]
    objects = [
        obj(2, 1, [0.5, 4.0], (0.0, -0.25, 0.0),
            text='<G><Stage gravity="10" fileID="flipper-table"/></G>', colour=0x406080),
        obj(1, 2, [0.5], (-1.5, 2.0, 0.0), group=1, colour=0xE0C020),
        obj(3, 3, [1.0, 1.0, 1.0], (2.0, 0.5, 0.0),
            text='<G><Collide friction="0.2" loss="0.1"/><Game collisReset="2"/></G>',
            colour=0xC03030),
        obj(3, 4, [2.0, 0.3, 0.4], (0.0, 0.15, -1.5), group=2, colour=0x30A030),
        obj(3, 5, [2.0, 0.3, 0.4], (0.0, 0.15, -1.5), rotation=(0.0, 0.0, swing), group=3,
            colour=0x30A030),
    ]
    return scene((0.0, 6.0, -12.0), groups, objects, (-400.0, 800.0, -600.0))


def slider_table():
    text = flipper_table()
    knob_group = "<Group name=\"Knob\" parms=" + quoteattr(
        '<G><Slide id="s" orientation="fixed" map="top"/></G>') + "/>"
    text = text.replace("</Groups>", knob_group + "</Groups>")
    text = text.replace('numGroups="3"', 'numGroups="4"')
    parts = [
        obj(3, 6, [0.3, 0.3, 0.3], (2.5, 0.7, 2.0), group=4, colour=0x3060C0),
        obj(2, 7, [0.5, 1.0], (2.5, 0.25, 2.0), text='<G><Guide id="s"/></G>', colour=0x808080),
    ]
    return text.replace("\r\n</KVR>", "\r\n" + "\r\n".join(parts) + "\r\n</KVR>")


if __name__ == "__main__":
    with open("flipper_table.kvr", "w", newline="", encoding="ascii") as out:
        out.write(flipper_table())
    with open("slider_table.kvr", "w", newline="", encoding="ascii") as out:
        out.write(slider_table())
