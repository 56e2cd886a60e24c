"""Writes gizmo scene files: the XML of a scene with its camera, groups, objects (part
records with their role texts) and one light, numbers as the scene format stores them.
Shared by the scripts that write the bundled gizmos and the test fixtures.
"""
import base64
import struct
from xml.sax.saxutils import quoteattr

SCALE = 100.0  # stored lengths are working lengths times this


def f32(value):
    return base64.b64encode(struct.pack("<f", value)).decode()


def vec(prefix, v):
    return " ".join(f'{prefix}{axis}="{f32(c)}"' for axis, c in zip("xyz", v))


def obj(shape, part_id, params, position, rotation=(0.0, 0.0, 0.0), group=0, text="",
        colour=0xC0C0C0, flags=0):
    p = "".join(f"<P>{f32(x * SCALE)}</P>" for x in params)
    pos = tuple(c * SCALE for c in position)
    attrs = (f'o="{shape}" f="{flags}" g="{part_id}" c="{colour}" n="{len(params)}" e="0" '
             f'{vec("p", pos)} {vec("r", rotation)} gi="{group}" t={quoteattr(text)}')
    return f"<Obj {attrs}>{p}</Obj>"


def scene(camera, groups, objects, light):
    group_xml = "".join(f"<Group name={quoteattr(n)} parms={quoteattr(p)}/>" for n, p in groups)
    return (
        '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n'
        '<KVXMLFile version="2.1">\r\n<View_0>\r\n'
        f'<Camera {vec("p", tuple(c * SCALE for c in camera))} fov="{f32(1.0)}"/>\r\n'
        f"<Groups>{group_xml}</Groups>\r\n"
        f'<KVR version="3" numGroups="{len(groups) - 1}" flags="192">\r\n'
        + "\r\n".join(objects)
        + "\r\n</KVR>\r\n"
        f'<Lights sel="0" amb="2105376"><L on="1" lc="0" {vec("p", light)} i="{f32(0.8)}" '
        'col="16777215"/></Lights>\r\n'
        "</View_0>\r\n</KVXMLFile>\r\n")
