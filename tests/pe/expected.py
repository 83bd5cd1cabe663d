"""What the launcher's resources must hold, built here field by field.

The dialog template is composed from its field values in the extended dialog
template format (a DLGTEMPLATEEX header, then one DLGITEMTEMPLATEEX per
control), independently of the resource script, so a wrong value in the script
and a resource compiler that writes a field differently both show up.
"""
import struct

LANG_EN_US = 1033

RT_ICON = 3
RT_DIALOG = 5
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

IDD_DISC_PROMPT = 129
ICON_GROUPS = (107, 108)
MANIFEST_ID = 1

# Every resource of the executable, in resource directory order (types and
# names ascending): icon images 1..16, dialog 129, icon groups 107 and 108,
# manifest 1.
RESOURCE_LIST = ([(RT_ICON, n) for n in range(1, 17)]
                 + [(RT_DIALOG, IDD_DISC_PROMPT)]
                 + [(RT_GROUP_ICON, g) for g in ICON_GROUPS]
                 + [(RT_MANIFEST, MANIFEST_ID)])

# One icon group's entries in order: (size, bits per pixel, colour count).
ICON_ENTRIES = [
    (32, 4, 16), (16, 4, 16),
    (48, 8, 0), (32, 8, 0), (16, 8, 0),
    (48, 32, 0), (32, 32, 0), (16, 32, 0),
]
# Icon image ids each group lists.
ICON_GROUP_IMAGE_IDS = {107: list(range(1, 9)), 108: list(range(9, 17))}

MANIFEST = (b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
            b'\r\n'
            b'</assembly>')
MANIFEST_SIZE = 86
MANIFEST_NAMESPACE = "urn:schemas-microsoft-com:asm.v1"

# The disc prompt.
DIALOG = {
    "help_id": 0,
    "ex_style": 0,
    # WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    # | DS_FIXEDSYS | DS_CENTER
    "style": 0x80C808C8,
    "rect": (0, 0, 258, 70),
    "title": "Quillora",
    "point_size": 8,
    "weight": 400,
    "italic": 0,
    "charset": 1,
    "typeface": "MS Shell Dlg",
}
ATOM_BUTTON = 0x0080
ATOM_STATIC = 0x0082
DIALOG_ITEMS = [
    # style, (x, y, cx, cy), id, class atom, text
    (0x50010000, (103, 41, 50, 14), 2, ATOM_BUTTON, "Cancel"),
    (0x50020001, (11, 21, 234, 15), -1, ATOM_STATIC, "Please insert disc 1 of Quillora 3.0."),
]


def sz(text):
    """A zero-terminated UTF-16LE string."""
    return (text + "\0").encode("utf-16-le")


def ordinal(value):
    """An sz_Or_Ord holding a number: 0xFFFF, then the number."""
    return struct.pack("<HH", 0xFFFF, value)


def pad_dword(data):
    return data + b"\0" * (-len(data) % 4)


def dialog_template():
    d = DIALOG
    out = struct.pack("<HHIIIH4h",
                      1,          # dlgVer
                      0xFFFF,     # signature: extended template
                      d["help_id"], d["ex_style"], d["style"],
                      len(DIALOG_ITEMS), *d["rect"])
    out += struct.pack("<H", 0)   # no menu
    out += struct.pack("<H", 0)   # the system's dialog class
    out += sz(d["title"])
    # DS_SETFONT: the font follows.
    out += struct.pack("<HHBB", d["point_size"], d["weight"], d["italic"], d["charset"])
    out += sz(d["typeface"])
    for style, rect, ident, atom, text in DIALOG_ITEMS:
        out = pad_dword(out)      # each item starts on a DWORD boundary
        out += struct.pack("<III4hI",
                           0,     # helpID
                           0,     # exStyle
                           style, *rect,
                           ident & 0xFFFFFFFF)  # the id field is a DWORD
        out += ordinal(atom)
        out += sz(text)
        out += struct.pack("<H", 0)  # no creation data
    return out


def describe_dialog_difference(actual, expected):
    """A short message naming the first differing byte offset."""
    for i, (a, b) in enumerate(zip(actual, expected)):
        if a != b:
            return ("first difference at byte %d (0x%x): got %02x, expected %02x; "
                    "got ...%s..., expected ...%s..."
                    % (i, i, a, b, actual[max(0, i - 8):i + 8].hex(" "),
                       expected[max(0, i - 8):i + 8].hex(" ")))
    return "lengths differ: got %d bytes, expected %d" % (len(actual), len(expected))
