"""Runs Windows programs under Wine on a scratch prefix and a virtual display.

A Session owns everything it starts and ends it by process id:
  - a virtual X display (Xvfb on a display number it picks itself through
    -displayfd), or the caller's own display;
  - a Wine prefix (made with "wineboot --init" once, then reused), in which
    the CD-ROM letters are declared in the registry and Wine's virtual desktop
    is switched on, so that windows get a caption, a close box and focus
    without a window manager;
  - the Wine processes it starts, and at the end the prefix's wineserver
    ("wineserver -k" on its own prefix).

Every Wine program is started through the loader command given by the
caller (for example "/usr/lib/wine/wine64", or a 32-bit loader under
emulation), with the caller's environment. Every wait is bounded, scaled by
the session's timeout scale.

Drives: a drive letter is a link "dosdevices/<letter>:" to a folder. The
letters D: and E: are CD-ROM drives (declared "cdrom" in the registry), F: is
a fixed disk. A disc is a folder; inserting disc 1 means putting
Data\\setup.exe into it. Wine reads the letters when its device manager
starts, so changing which letters exist restarts the prefix's wineserver.

Only the Python standard library is used.
"""

import json
import os
import queue
import select
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
import zlib

CDROM_LETTERS = ("D", "E")
FIXED_LETTERS = ("F",)
MANAGED_LETTERS = CDROM_LETTERS + FIXED_LETTERS
DRIVE_CDROM = 5
DRIVE_FIXED = 3

DESKTOP_SIZE = (800, 600)
FONT_FOLDERS = ("/usr/share/wine/fonts",)

# Bump when the prefix set-up changes, so reused prefixes are set up again.
PREFIX_SETUP_VERSION = "2"
PREFIX_READY_FILE = "quill-harness-ready"

SETUP_HELPER = "StandInSetup.exe"
SHELL_HELPER = "StandInShell.exe"
EMPTY_HELPER = "Empty.exe"
RECEIVED_FILE = "setup-received.txt"


class HarnessError(Exception):
    """A step of the set-up or tear-down failed; the message names it."""


def windows_path(unix_path):
    """The path under drive Z:, which every Wine prefix maps to /."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def read_received(path):
    """Parses the stand-in setup program's record into a dict."""
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    record = {}
    for line in data.split("\r\n"):
        if "=" in line:
            key, value = line.split("=", 1)
            record[key] = value
    return record


class Options:
    """What a session needs; filled from the command line of a runner."""

    def __init__(self, wine, wineserver=None, env=None, work=".", prefix=None,
                 timeout_scale=1.0, display="xvfb", log=None):
        self.wine = shlex.split(wine) if isinstance(wine, str) else list(wine)
        if wineserver is None:
            beside = os.path.join(os.path.dirname(self.wine[0]), "wineserver")
            wineserver = beside if os.path.exists(beside) else (shutil.which("wineserver") or "wineserver")
        self.wineserver = shlex.split(wineserver) if isinstance(wineserver, str) else list(wineserver)
        self.env = dict(env or {})
        self.work = os.path.abspath(work)
        self.prefix = os.path.abspath(prefix or os.path.join(self.work, "prefix"))
        self.timeout_scale = float(timeout_scale)
        self.display = display
        self.log = log or sys.stdout


class Process:
    """A Wine program started by the session, with its output collected
    line by line by a reader thread so that every read can be bounded."""

    def __init__(self, session, argv, name, stdin=False):
        self.name = name
        self.lines = queue.Queue()
        self.transcript = []
        self.started = time.monotonic()
        self.popen = subprocess.Popen(
            argv, env=session.env,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            cwd=session.options.work)
        self.stderr = []
        self._threads = [
            threading.Thread(target=self._read, args=(self.popen.stdout, self.lines, self.transcript), daemon=True),
            threading.Thread(target=self._read, args=(self.popen.stderr, None, self.stderr), daemon=True),
        ]
        for thread in self._threads:
            thread.start()

    @staticmethod
    def _read(stream, lines, transcript):
        for raw in iter(stream.readline, b""):
            line = raw.decode("latin-1").rstrip("\r\n")
            transcript.append(line)
            if lines is not None:
                lines.put(line)
        if lines is not None:
            lines.put(None)

    def next_line(self, timeout):
        """The next line of output; None at its end; raises on timeout."""
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError("%s printed nothing for %.0f s" % (self.name, timeout)) from None

    def poll_line(self, timeout):
        """Like next_line, but "" when nothing came within timeout."""
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return ""

    def expect(self, prefix, timeout):
        """Reads lines until one starts with prefix; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.next_line(max(0.0, deadline - time.monotonic()))
            if line is None:
                raise TimeoutError("%s ended before printing %r" % (self.name, prefix))
            if line.startswith("error"):
                raise HarnessError("%s: %s" % (self.name, line))
            if line.startswith(prefix):
                return line

    def reply(self, text=""):
        self.popen.stdin.write((text + "\n").encode())
        self.popen.stdin.flush()

    def wait(self, timeout):
        """The exit code, or None when it did not end in time."""
        try:
            code = self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        for thread in self._threads:
            thread.join(timeout=5)
        return code

    def elapsed(self):
        return time.monotonic() - self.started

    def kill(self):
        if self.popen.poll() is None:
            try:
                os.kill(self.popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                self.popen.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass


class Session:
    """One display, one prefix and the Wine processes started in them."""

    def __init__(self, options):
        self.options = options
        self.scale = options.timeout_scale
        self.env = dict(os.environ)
        self.env.setdefault("WINEDEBUG", "-all")
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        self.env.update(options.env)
        self.env["WINEPREFIX"] = options.prefix
        self.xvfb = None
        self.display = None
        self.processes = []
        self.letters = None          # the drive letters now linked
        self.dirty = False           # a process may have been left behind
        self.keeper = None
        os.makedirs(options.work, exist_ok=True)
        self.disc_root = os.path.join(options.work, "discs")

    # ---- logging and time limits ----

    def log(self, text):
        print(text, file=self.options.log, flush=True)

    def limit(self, seconds):
        return seconds * self.scale

    # ---- set-up ----

    def start(self):
        self._start_display()
        self.init_prefix()

    def _start_display(self):
        wanted = self.options.display
        if wanted == "current" and os.environ.get("DISPLAY"):
            self.display = os.environ["DISPLAY"]
            self.env["DISPLAY"] = self.display
            return
        xvfb = shutil.which("Xvfb")
        if not xvfb:
            raise HarnessError("start display: Xvfb is not installed")
        read_fd, write_fd = os.pipe()
        width, height = DESKTOP_SIZE
        try:
            self.xvfb = subprocess.Popen(
                [xvfb, "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % (width, height),
                 "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(write_fd)
        number = b""
        deadline = time.monotonic() + self.limit(20)
        try:
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                ready = select.select([read_fd], [], [], max(0.0, remaining))[0]
                if not ready:
                    raise HarnessError("start display: Xvfb gave no display number in time")
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise HarnessError("start display: Xvfb ended at start")
                number += chunk
        finally:
            os.close(read_fd)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def _ready_marker(self):
        return os.path.join(self.options.prefix, PREFIX_READY_FILE)

    def init_prefix(self):
        """Makes the prefix unless a finished one is there already."""
        marker = self._ready_marker()
        if os.path.exists(marker):
            with open(marker) as f:
                if f.read().strip() == PREFIX_SETUP_VERSION:
                    return
        os.makedirs(self.options.prefix, exist_ok=True)
        self.log("making Wine prefix %s" % self.options.prefix)
        self.run_step("wineboot --init", ["wineboot", "--init"], 180)
        self._install_fonts()
        reg = os.path.join(self.options.work, "harness-setup.reg")
        lines = ["REGEDIT4", "", r"[HKEY_LOCAL_MACHINE\Software\Wine\Drives]"]
        lines += ['"%s:"="cdrom"' % letter.lower() for letter in CDROM_LETTERS]
        lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Explorer]", '"Desktop"="Default"',
                  "", r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]",
                  '"Default"="%dx%d"' % DESKTOP_SIZE, ""]
        with open(reg, "w", newline="\r\n") as f:
            f.write("\n".join(lines))
        self.run_step("regedit import", ["regedit", "/S", windows_path(reg)], 120)
        # The registry is written out when the wineserver ends.
        self.stop_wine(graceful=True)
        with open(marker, "w") as f:
            f.write(PREFIX_SETUP_VERSION + "\n")

    def _install_fonts(self):
        """Wine's own fonts (Debian's fonts-wine) where Wine looks for them.
        Without them the caption's close box shows the letter "r" instead of
        its cross, which a screenshot of the prompt should not."""
        fonts = os.path.join(self.options.prefix, "drive_c", "windows", "Fonts")
        for source in FONT_FOLDERS:
            if not os.path.isdir(source):
                continue
            os.makedirs(fonts, exist_ok=True)
            for name in os.listdir(source):
                target = os.path.join(fonts, name)
                if not os.path.exists(target):
                    shutil.copyfile(os.path.join(source, name), target)
            return

    def run_step(self, step, args, seconds):
        proc = self.spawn(args, step)
        code = proc.wait(self.limit(seconds))
        if code is None:
            proc.kill()
            self.dirty = True
            raise HarnessError("%s: did not end within %.0f s" % (step, self.limit(seconds)))
        if code != 0:
            raise HarnessError("%s: exit code %d\n%s" % (step, code, "\n".join(proc.stderr[-20:])))
        return proc

    # ---- drives ----

    def disc_folder(self, letter):
        return os.path.join(self.disc_root, letter)

    def set_drives(self, contents):
        """contents maps drive letters (of MANAGED_LETTERS) to a callable
        that fills the drive's folder, or None for an empty drive. Letters
        not named are removed. Restarts Wine when the set of letters
        changes."""
        letters = tuple(sorted(contents))
        for letter in letters:
            if letter not in MANAGED_LETTERS:
                raise HarnessError("drive layout: letter %s is not one of %s" % (letter, MANAGED_LETTERS))
        for letter in MANAGED_LETTERS:
            folder = self.disc_folder(letter)
            shutil.rmtree(folder, ignore_errors=True)
            if letter in contents:
                os.makedirs(folder)
                if contents[letter]:
                    contents[letter](folder)
        if letters != self.letters or self.dirty:
            self.stop_wine()
            dosdevices = os.path.join(self.options.prefix, "dosdevices")
            for letter in MANAGED_LETTERS:
                link = os.path.join(dosdevices, letter.lower() + ":")
                if os.path.islink(link) or os.path.exists(link):
                    os.remove(link)
                if letter in contents:
                    os.symlink(self.disc_folder(letter), link)
            self.letters = letters
            self.dirty = False

    def expected_drive_types(self):
        return {letter: DRIVE_CDROM if letter in CDROM_LETTERS else DRIVE_FIXED
                for letter in (self.letters or ())}

    # ---- programs ----

    def spawn(self, args, name, stdin=False):
        proc = Process(self, self.options.wine + list(args), name, stdin=stdin)
        self.processes.append(proc)
        return proc

    def helper(self, helpers_dir, name):
        path = os.path.join(helpers_dir, name)
        if not os.path.exists(path):
            raise HarnessError("helpers: %s is missing" % path)
        return path

    def keep_alive(self, shell_exe):
        """Keeps one idle Wine program running so that Wine's own services
        stay up between the programs of a session (each start of them costs
        seconds, many under emulation)."""
        if self.keeper and self.keeper.popen.poll() is None:
            return
        self.keeper = self.spawn([shell_exe, "sync=keep-alive"], "keep-alive", stdin=True)
        self.keeper.expect("sync keep-alive", self.limit(60))

    def stop_wine(self, graceful=False):
        """Ends every Wine process of the prefix. graceful waits for the
        wineserver to end by itself (the registry is saved then)."""
        if self.keeper:
            if self.keeper.popen.poll() is None:
                try:
                    self.keeper.reply()
                except OSError:
                    pass
                self.keeper.wait(self.limit(10))
            self.keeper = None
        if not graceful:
            self._wineserver(["-k"], 30)
        self._wineserver(["-w"], 60)
        for proc in self.processes:
            if proc.popen.poll() is None:
                proc.kill()
        self.processes = [p for p in self.processes if p.popen.poll() is None]

    def _wineserver(self, args, seconds):
        try:
            subprocess.run(self.options.wineserver + args, env=self.env, timeout=self.limit(seconds),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            self.log("warning: wineserver %s did not end within %.0f s" % (" ".join(args), self.limit(seconds)))
        except OSError as e:
            self.log("warning: wineserver %s: %s" % (" ".join(args), e))

    # ---- the display ----

    def screenshot(self, png_path):
        """Saves the whole display as a PNG (needs xwd)."""
        xwd = shutil.which("xwd")
        if not xwd:
            raise HarnessError("screenshot: xwd is not installed")
        data = subprocess.run([xwd, "-root", "-silent", "-display", self.display],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=self.limit(30), check=True).stdout
        write_png(png_path, *xwd_to_rgb(data))

    def xdotool(self, *args):
        tool = shutil.which("xdotool")
        if not tool:
            raise HarnessError("input: xdotool is not installed")
        subprocess.run([tool] + [str(a) for a in args], env=self.env, timeout=self.limit(20),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       check=True)

    # ---- tear-down ----

    def close(self):
        try:
            self.stop_wine()
        finally:
            if self.xvfb and self.xvfb.poll() is None:
                self.xvfb.terminate()
                try:
                    self.xvfb.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.xvfb.kill()
                    self.xvfb.wait(timeout=10)
            self.xvfb = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def install_signal_handlers():
    """Turns SIGTERM and SIGHUP into SystemExit so that tear-down runs."""
    def stop(signum, frame):
        raise SystemExit(128 + signum)
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, stop)


# ---- XWD to PNG, so a screenshot needs no image tools ----

def xwd_to_rgb(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, _version, pixmap_format, _depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks = fields[14:17]
    ncolors = fields[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise HarnessError("screenshot: unsupported XWD image (format %d, %d bits)" % (pixmap_format, bits_per_pixel))
    offset = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    shifts = []
    for mask in masks:
        shift = 0
        while mask and not (mask >> shift) & 1:
            shift += 1
        shifts.append(shift)
    order = "little" if byte_order == 0 else "big"
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(0, width * step, step):
            pixel = int.from_bytes(line[x:x + step], order)
            row += bytes(((pixel & m) >> s) & 0xFF for m, s in zip(masks, shifts))
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + row for row in rows)
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


def parse_info(line):
    """The JSON of a stand-in shell "info" line."""
    return json.loads(line.split(" ", 1)[1])
