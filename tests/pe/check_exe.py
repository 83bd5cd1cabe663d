"""Checks of the shipped 32-bit launcher, read byte for byte with pefile.

Usage: check_exe.py PATH/TO/Quilra3Patch.exe [TestClass ...]

Each class is one ctest test; point the script at another build's file to
check that one instead.
"""
import os
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

import expected

EXE = None
_pe_cache = {}


def load():
    if EXE not in _pe_cache:
        _pe_cache[EXE] = pefile.PE(EXE)
    return _pe_cache[EXE]


def resources(pe):
    """[(type, name, language, code page, data)] in resource directory order."""
    found = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rname in rtype.directory.entries:
            for rlang in rname.directory.entries:
                entry = rlang.data.struct
                found.append((rtype.id if rtype.id is not None else str(rtype.name),
                              rname.id if rname.id is not None else str(rname.name),
                              rlang.id, entry.CodePage,
                              pe.get_data(entry.OffsetToData, entry.Size)))
    return found


def resource(pe, rtype, name):
    matches = [r[4] for r in resources(pe) if r[0] == rtype and r[1] == name]
    if len(matches) != 1:
        raise AssertionError("resource type %s name %s found %d times" % (rtype, name, len(matches)))
    return matches[0]


class Header(unittest.TestCase):
    def test_i386_machine(self):
        pe = load()
        self.assertEqual(pe.FILE_HEADER.Machine, 0x014C, "IMAGE_FILE_MACHINE_I386")
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, 0x010B, "PE32 optional header")

    def test_gui_subsystem(self):
        self.assertEqual(load().OPTIONAL_HEADER.Subsystem, 2, "IMAGE_SUBSYSTEM_WINDOWS_GUI")

    def test_file_name(self):
        # The locator finds the transform beside the launcher by its own name.
        self.assertEqual(os.path.basename(EXE), "Quilra3Patch.exe")


class ResourceDirectory(unittest.TestCase):
    def test_exactly_the_launchers_resources_in_order(self):
        listed = [(r[0], r[1]) for r in resources(load())]
        self.assertEqual(listed, expected.RESOURCE_LIST)

    def test_icon_group_107_comes_before_108(self):
        groups = [r[1] for r in resources(load()) if r[0] == expected.RT_GROUP_ICON]
        self.assertEqual(groups, list(expected.ICON_GROUPS))

    def test_no_version_resource(self):
        self.assertNotIn(expected.RT_VERSION, [r[0] for r in resources(load())])

    def test_every_resource_in_english_us(self):
        for rtype, name, lang, codepage, _ in resources(load()):
            with self.subTest(type=rtype, name=name):
                self.assertEqual(lang, expected.LANG_EN_US)
                # GNU windres writes 0 whatever the script's code page says.
                self.assertIn(codepage, (0, 1252))


class DialogTemplate(unittest.TestCase):
    def test_dialog_129_is_the_extended_template_byte_for_byte(self):
        actual = resource(load(), expected.RT_DIALOG, expected.IDD_DISC_PROMPT)
        wanted = expected.dialog_template()
        self.assertTrue(actual == wanted, expected.describe_dialog_difference(actual, wanted))


def group_entries(data):
    """The GRPICONDIR header and its 14-byte entries."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
    return (reserved, kind, count, len(data)), entries


class IconGroups(unittest.TestCase):
    def test_each_group_lists_the_eight_images_in_order(self):
        pe = load()
        for group in expected.ICON_GROUPS:
            header, entries = group_entries(resource(pe, expected.RT_GROUP_ICON, group))
            with self.subTest(group=group):
                self.assertEqual(header, (0, 1, 8, 6 + 14 * 8), "reserved, type 1 (icon), count, size")
                got = [(w, h, colours, planes, bits) for w, h, colours, _, planes, bits, _, _ in entries]
                want = [(size, size, colours, 1, bits) for size, bits, colours in expected.ICON_ENTRIES]
                self.assertEqual(got, want, "width, height, colour count, planes, bit count")
                self.assertEqual([e[7] for e in entries], expected.ICON_GROUP_IMAGE_IDS[group])
                for e in entries:
                    self.assertEqual(e[3], 0, "reserved byte")

    def test_bytes_in_res_match_each_image(self):
        pe = load()
        for group in expected.ICON_GROUPS:
            _, entries = group_entries(resource(pe, expected.RT_GROUP_ICON, group))
            for *_, bytes_in_res, image_id in entries:
                with self.subTest(group=group, image=image_id):
                    self.assertEqual(bytes_in_res, len(resource(pe, expected.RT_ICON, image_id)))

    def test_group_108_images_are_copies_of_107s(self):
        pe = load()
        for first, second in zip(*(expected.ICON_GROUP_IMAGE_IDS[g] for g in expected.ICON_GROUPS)):
            with self.subTest(image=first, copy=second):
                self.assertTrue(resource(pe, expected.RT_ICON, first) == resource(pe, expected.RT_ICON, second),
                                "the copy differs")

    def test_each_images_header_agrees_with_its_entry(self):
        pe = load()
        for group in expected.ICON_GROUPS:
            _, entries = group_entries(resource(pe, expected.RT_GROUP_ICON, group))
            for width, height, _, _, planes, bits, _, image_id in entries:
                with self.subTest(group=group, image=image_id):
                    data = resource(pe, expected.RT_ICON, image_id)
                    (bi_size, bi_width, bi_height, bi_planes, bi_bits, bi_compression,
                     _, _, _, bi_clr_used, _) = struct.unpack_from("<IiiHHIIiiII", data, 0)
                    self.assertEqual((bi_size, bi_width, bi_height, bi_planes, bi_bits, bi_compression),
                                     (40, width, height * 2, planes, bits, 0),
                                     "BITMAPINFOHEADER size, width, height (colour and mask), "
                                     "planes, bit count, BI_RGB")
                    palette = (bi_clr_used or 1 << bits) if bits <= 8 else bi_clr_used
                    xor_stride = (width * bits + 31) // 32 * 4
                    and_stride = (width + 31) // 32 * 4
                    self.assertEqual(len(data), 40 + 4 * palette + (xor_stride + and_stride) * height,
                                     "header + palette + colour rows + mask rows")


class Manifest(unittest.TestCase):
    def test_exact_bytes(self):
        data = resource(load(), expected.RT_MANIFEST, expected.MANIFEST_ID)
        self.assertEqual(len(data), expected.MANIFEST_SIZE)
        self.assertEqual(data, expected.MANIFEST)

    def test_no_bom_no_declaration_no_trailing_line_end(self):
        data = resource(load(), expected.RT_MANIFEST, expected.MANIFEST_ID)
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), "byte-order mark")
        self.assertFalse(data.lstrip().startswith(b"<?xml"), "XML declaration")
        self.assertFalse(data.endswith((b"\n", b"\r")), "line end after the end tag")
        self.assertIn(b">\r\n<", data, "CR LF between the tags")

    def test_parses_as_an_empty_assembly(self):
        root = ET.fromstring(resource(load(), expected.RT_MANIFEST, expected.MANIFEST_ID))
        self.assertEqual(root.tag, "{%s}assembly" % expected.MANIFEST_NAMESPACE)
        self.assertEqual(root.attrib, {"manifestVersion": "1.0"})
        self.assertEqual(list(root), [], "no dependency, no trust info")


SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll", "msvcrt.dll"}
ANSI_ENTRY_POINTS = [
    "GetLogicalDriveStringsA", "GetDriveTypeA", "PathFileExistsA", "GetModuleFileNameA",
    "ShellExecuteA", "DialogBoxParamA", "EndDialog", "RegisterWindowMessageA",
    "SetWindowLongA", "PostMessageA", "SetDllDirectoryA", "GetProcAddress", "GetModuleHandleA",
]
# The DLLs of mingw-w64's runtime that a non-static link would need.
RUNTIME_DLL_PREFIXES = ("libstdc++", "libgcc", "libwinpthread")


def imports():
    """{dll name lower case: [function names]}"""
    pe = load()
    table = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names = [i.name.decode() if i.name else "#%d" % i.ordinal for i in entry.imports]
        table.setdefault(entry.dll.decode().lower(), []).extend(names)
    return table


class Imports(unittest.TestCase):
    def test_only_system_dlls(self):
        others = sorted(set(imports()) - SYSTEM_DLLS)
        self.assertEqual(others, [], "DLLs outside the system's own")

    def test_no_gcc_runtime_dll(self):
        for dll in imports():
            with self.subTest(dll=dll):
                self.assertFalse(dll.startswith(RUNTIME_DLL_PREFIXES), "a compiler runtime DLL")

    def test_the_ansi_entry_points(self):
        names = {n for functions in imports().values() for n in functions}
        self.assertEqual([n for n in ANSI_ENTRY_POINTS if n not in names], [], "not imported")

    def test_no_wide_entry_points(self):
        # Neither the W twins of the calls above nor any other wide API.
        wide = [n for functions in imports().values() for n in functions
                if n.endswith("W")]
        self.assertEqual(wide, [])


IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_DIRECTORY_ENTRY_BASERELOC = 5


class Hardening(unittest.TestCase):
    def test_aslr_and_dep(self):
        flags = load().OPTIONAL_HEADER.DllCharacteristics
        for name, bit in (("DYNAMIC_BASE", IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE),
                          ("NX_COMPAT", IMAGE_DLLCHARACTERISTICS_NX_COMPAT)):
            with self.subTest(flag=name):
                self.assertTrue(flags & bit, "%s in DllCharacteristics 0x%04x" % (name, flags))

    def test_relocations_present(self):
        # A 32-bit image moves only when it keeps its relocations.
        pe = load()
        self.assertFalse(pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED, "relocations stripped")
        reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_BASERELOC]
        self.assertGreater(reloc.Size, 0, "base relocation directory")
        self.assertIn(b".reloc", [s.Name.rstrip(b"\0") for s in pe.sections])

    def test_no_time_stamp(self):
        pe = load()
        self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0, "link time stamp")
        if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
            self.assertEqual(pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp, 0, "resource time stamp")


SIZE_BUDGET = 16 * 1024


class Size(unittest.TestCase):
    def test_at_most_16_kib_outside_the_resources(self):
        pe = load()
        total = os.path.getsize(EXE)
        rsrc = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
        print("\nfile size %d bytes, without resources %d bytes (budget %d)"
              % (total, total - rsrc, SIZE_BUDGET))
        for s in pe.sections:
            print("  %-8s raw %6d  virtual %6d"
                  % (s.Name.rstrip(b"\0").decode(errors="replace"), s.SizeOfRawData, s.Misc_VirtualSize))
        self.assertLessEqual(total - rsrc, SIZE_BUDGET)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    EXE = sys.argv[1]
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
