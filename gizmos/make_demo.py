#!/usr/bin/env python3
"""Writes the demo gizmo, demo.kvp: a round table, a ball dropped onto a red bumper that
scores 100 a hit and gives way when hit, and a green paddle that key 1 (or a click) swings
there and back. The stage asks for game mode, so the score and time show.

The sounds it names are the player's own (sounds/make_sounds.py). Run from this folder; the
output is committed.
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from gizmo_xml import obj, scene  # noqa: E402


def demo():
    swing = math.radians(35.0)
    groups = [
        ("[Default]", ""),
        ("Ball", '<G><Game sound="bounce" scoreMult="1"/><Fly/></G>'),
        ("Bumper", '<G><Game scoreVal="100" sound="score"/><Flip id="bumper" state="0" '
                   'motion="EaseOut" time="0.1" ForAndBack="yes"><CollisionActivated/></Flip>'
                   '</G>'),
        ("Bumper down", '<G><Flip id="bumper" state="1"/></G>'),
        ("Paddle", '<G><Game sound="flip"/><Flip id="paddle" state="0" motion="EaseOut" '
                   'time="0.2" ForAndBack="yes"><UserActivated key="1" mouse="yes"/></Flip></G>'),
        ("Paddle up", '<G><Flip id="paddle" state="1"/></G>'),
    ]
    objects = [
        obj(2, 1, [0.5, 4.0], (0.0, -0.25, 0.0),
            text='<G><Stage gravity="10" fileID="orbelle-demo" gameMode="yes"/></G>',
            colour=0x304860),
        obj(1, 2, [0.4], (1.2, 3.0, 0.0), group=1, colour=0xF0D030),
        obj(2, 3, [0.15, 0.9], (1.2, 0.15, 0.0), group=2, colour=0xC03030),
        obj(2, 4, [0.15, 0.9], (1.2, 0.05, 0.0), group=3, colour=0xC03030),
        obj(3, 5, [2.0, 0.3, 0.4], (-1.0, 0.15, 0.0), group=4, colour=0x30A030),
        obj(3, 6, [2.0, 0.3, 0.4], (-1.0, 0.15, 0.0), rotation=(0.0, 0.0, swing), group=5,
            colour=0x30A030),
    ]
    return scene((0.0, 6.0, -12.0), groups, objects, (-400.0, 800.0, -600.0))


if __name__ == "__main__":
    with open("demo.kvp", "w", newline="", encoding="ascii") as out:
        out.write(demo())
