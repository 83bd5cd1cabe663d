"""The resource script also compiles with llvm-rc, the Microsoft-dialect
resource compiler, into the same dialog template and manifest.

Usage: check_llvm_rc.py SCRIPT.rc PREPROCESSOR LLVM_RC WORK_DIR

llvm-rc leaves preprocessing to a clang it looks for on PATH; here the i686
mingw-w64 preprocessor does it (with RC_INVOKED, as for windres), and llvm-rc
compiles its output with --no-preprocess. The line markers stay in, so llvm-rc
skips the C declarations of the included system headers as rc.exe does.
"""
import os
import struct
import subprocess
import sys
import unittest

import expected

SCRIPT = PREPROCESSOR = LLVM_RC = WORK = None
_compiled = {}


def read_id(data, pos):
    """A .res type or name: 0xFFFF and a number, or a zero-terminated UTF-16 string."""
    if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_res(data):
    """[(type, name, language, data)] of a .res file, skipping its empty first entry."""
    entries = []
    pos = 0
    while pos < len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        p += -p % 4
        _, _, language = struct.unpack_from("<IHH", data, p)
        body = data[pos + header_size:pos + header_size + data_size]
        if not (rtype == 0 and name == 0 and data_size == 0):
            entries.append((rtype, name, language, body))
        pos += header_size + data_size
        pos += -pos % 4
    return entries


def compile_script():
    if "res" in _compiled:
        return _compiled["res"]
    os.makedirs(WORK, exist_ok=True)
    source_dir = os.path.dirname(os.path.abspath(SCRIPT))
    preprocessed = os.path.join(WORK, "Quilra3Patch.rc.i")
    res = os.path.join(WORK, "Quilra3Patch.res")
    if os.path.exists(res):
        os.remove(res)
    subprocess.run([PREPROCESSOR, "-E", "-xc", "-DRC_INVOKED", "-I", source_dir,
                    os.path.abspath(SCRIPT), "-o", preprocessed],
                   check=True, timeout=120)
    # Relative names, run in WORK: llvm-rc reads a leading "/" as an option.
    subprocess.run([LLVM_RC, "/no-preprocess", "/I", source_dir, "/FO", "Quilra3Patch.res",
                    "Quilra3Patch.rc.i"],
                   cwd=WORK, check=True, timeout=120)
    with open(res, "rb") as f:
        _compiled["res"] = parse_res(f.read())
    return _compiled["res"]


def resource(rtype, name):
    matches = [r[3] for r in compile_script() if r[0] == rtype and r[1] == name]
    if len(matches) != 1:
        raise AssertionError("resource type %s name %s found %d times" % (rtype, name, len(matches)))
    return matches[0]


class LlvmRc(unittest.TestCase):
    def test_same_resources_in_english_us(self):
        listed = sorted((r[0], r[1]) for r in compile_script())
        self.assertEqual(listed, sorted(expected.RESOURCE_LIST))
        for rtype, name, language, _ in compile_script():
            with self.subTest(type=rtype, name=name):
                self.assertEqual(language, expected.LANG_EN_US)

    def test_dialog_129_is_the_extended_template_byte_for_byte(self):
        actual = resource(expected.RT_DIALOG, expected.IDD_DISC_PROMPT)
        wanted = expected.dialog_template()
        self.assertTrue(actual == wanted, expected.describe_dialog_difference(actual, wanted))

    def test_manifest_exact_bytes(self):
        self.assertEqual(resource(expected.RT_MANIFEST, expected.MANIFEST_ID), expected.MANIFEST)


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    SCRIPT, PREPROCESSOR, LLVM_RC, WORK = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[5:])
