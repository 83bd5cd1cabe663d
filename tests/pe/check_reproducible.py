"""Two builds of the same sources in different folders give the same launcher.

Usage: check_reproducible.py SOURCE_DIR TOOLCHAIN_FILE WORK_DIR REFERENCE_EXE [CMAKE]

Copies the source tree (the files git knows, tracked or new, as the reference
build saw them) into two folders of different path lengths under WORK_DIR,
configures and builds the launcher in each from scratch with the given
toolchain, and checks that both executables and REFERENCE_EXE are
byte-identical and that none of the folders' absolute paths is inside them.
"""
import os
import shutil
import subprocess
import sys
import unittest

import pefile

SOURCE = TOOLCHAIN = WORK = REFERENCE = None
CMAKE = "cmake"
TREES = ("one", "second-tree")
BUILD_TIMEOUT = 240
_built = {}


def source_files():
    try:
        listed = subprocess.run(
            ["git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
            check=True, capture_output=True, timeout=60).stdout.decode().split("\0")
        # Leave out this check's own folders when they lie inside the tree.
        return [f for f in listed if f and os.path.isfile(os.path.join(SOURCE, f))
                and not os.path.abspath(os.path.join(SOURCE, f)).startswith(WORK + os.sep)]
    except (OSError, subprocess.CalledProcessError):
        # Not a git checkout: take what the cross build reads.
        files = ["CMakeLists.txt"]
        for top in ("cmake", "source", "tests/helpers"):
            for folder, _, names in os.walk(os.path.join(SOURCE, top)):
                files += [os.path.relpath(os.path.join(folder, n), SOURCE) for n in names]
        return files


def build(tree):
    """Builds the launcher in WORK/tree from a fresh copy; returns (exe bytes, folders)."""
    if tree in _built:
        return _built[tree]
    root = os.path.join(WORK, tree)
    shutil.rmtree(root, ignore_errors=True)
    src, bld = os.path.join(root, "src"), os.path.join(root, "build")
    for name in source_files():
        os.makedirs(os.path.dirname(os.path.join(src, name)), exist_ok=True)
        shutil.copy2(os.path.join(SOURCE, name), os.path.join(src, name))
    toolchain = os.path.join(src, os.path.relpath(TOOLCHAIN, SOURCE))
    subprocess.run([CMAKE, "-S", src, "-B", bld, "-DCMAKE_TOOLCHAIN_FILE=" + toolchain],
                   check=True, stdout=subprocess.DEVNULL, timeout=BUILD_TIMEOUT)
    subprocess.run([CMAKE, "--build", bld, "--target", "Quilra3Patch", "-j", "2"],
                   check=True, stdout=subprocess.DEVNULL, timeout=BUILD_TIMEOUT)
    with open(os.path.join(bld, "Quilra3Patch.exe"), "rb") as f:
        _built[tree] = (f.read(), [src, bld])
    return _built[tree]


def where(data, offset):
    """The section that holds a file offset, or the headers."""
    try:
        pe = pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return "not a PE file"
    for s in pe.sections:
        if s.PointerToRawData <= offset < s.PointerToRawData + s.SizeOfRawData:
            return "section %s" % s.Name.rstrip(b"\0").decode(errors="replace")
    return "headers" if offset < pe.OPTIONAL_HEADER.SizeOfHeaders else "outside the sections"


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "first difference at file offset 0x%x (%s)" % (i, where(a, i))
    return "sizes differ: %d and %d bytes" % (len(a), len(b))


class Reproducible(unittest.TestCase):
    def test_two_folders_build_the_same_file(self):
        first, _ = build(TREES[0])
        second, _ = build(TREES[1])
        self.assertTrue(first == second, first_difference(first, second))

    def test_the_shipped_file_is_that_file(self):
        built, _ = build(TREES[0])
        with open(REFERENCE, "rb") as f:
            shipped = f.read()
        self.assertTrue(built == shipped, first_difference(built, shipped))

    def test_no_absolute_build_path_inside(self):
        with open(REFERENCE, "rb") as f:
            files = {REFERENCE: f.read()}
        folders = [os.path.abspath(SOURCE), os.path.dirname(os.path.abspath(REFERENCE))]
        for tree in TREES:
            data, tree_folders = build(tree)
            files[tree] = data
            folders += tree_folders
        for name, data in files.items():
            for folder in folders:
                for encoded in (folder.encode(), folder.encode("utf-16-le")):
                    with self.subTest(file=name, folder=folder):
                        at = data.find(encoded)
                        self.assertEqual(at, -1, "the path at file offset 0x%x (%s)" % (at, where(data, at)))


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    SOURCE, TOOLCHAIN, WORK, REFERENCE = (os.path.abspath(a) for a in sys.argv[1:5])
    if len(sys.argv) > 5:
        CMAKE = sys.argv[5]
    unittest.main(argv=[sys.argv[0], "-v"])
