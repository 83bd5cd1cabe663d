"""The launcher's end-to-end scenarios: one drive layout each, run under Wine.

Every scenario checks that the launcher ends by itself with exit code 0 and
exactly what the stand-in setup program received (or that nothing was
started). Two kinds:

  start   the launcher is followed by the stand-in shell's watcher, which
          notes every window it shows; the disc is found at once, so no
          window may appear;
  prompt  the disc is missing: the prompt must appear (centred, captioned
          "Quillora", with its text and the Cancel button focused, in
          front), then the scenario's ending is played: a key, a real
          click, a disc inserted and the AutoPlay query, other commands.
"""

import os
import shutil
import subprocess
import time

import harness

TRANSFORM = "QLR3InstlPatch.Mst"
LAUNCHER = "Quilra3Patch.exe"
PROMPT_TEXT = "Please insert disc 1 of Quillora 3.0."
WM_COMMAND = 0x0111
IDCANCEL = 2
BS_TYPEMASK = 0x0F
SS_TYPEMASK = 0x1F
SS_CENTER = 0x01
SW_SHOWDEFAULT = 10

# What a drive holds.
DISC1 = "disc 1"          # Data\setup.exe: the stand-in setup program
OTHER = "other disc"      # files, but no Data\setup.exe
EMPTY = "empty"           # a drive without a disc

# How a prompt scenario ends.
CANCEL = "WM_COMMAND IDCANCEL"
ESCAPE = "Esc key"
CLICK_CANCEL = "click on Cancel"
CLICK_CLOSE = "click on the close box"
INSERT_DISC1 = "disc 1 inserted, AutoPlay query"
INSERT_OTHER = "other disc inserted, AutoPlay query"
OTHER_COMMANDS = "WM_COMMAND from other controls"

ARGUMENTS = ["/q", r'/v"TRANSFORMS=\"C:\x.mst\""', r"E:\Data\setup.exe", "two words"]


def long_folder(total):
    """A folder below C:\\ that makes the launcher's full path total
    characters long."""
    folder = "Quill\\long"
    need = total - len("C:\\") - len("\\" + LAUNCHER)
    part = 0
    while len(folder) < need:
        room = need - len(folder) - 1
        folder += "\\" + ("level%02d-" % part + "x" * 40)[:room]
        part += 1
    assert len("C:\\" + folder + "\\" + LAUNCHER) == total, folder
    return folder


class Scenario:
    def __init__(self, name, drives, kind, launched=None, ending=CANCEL,
                 folder=None, exe=LAUNCHER, args=(), screenshot=False):
        self.name = name
        self.drives = drives            # letter -> DISC1 / OTHER / EMPTY
        self.kind = kind                # "start" or "prompt"
        self.launched = launched        # letter whose setup must run, or None
        self.ending = ending
        self.folder = folder or "Quill\\" + name
        self.exe = exe
        self.args = list(args)
        self.screenshot = screenshot

    def letters(self):
        return tuple(sorted(self.drives))


SCENARIOS = [
    # The disc is there at start: no window, setup started at once.
    Scenario("disc-at-start", {"D": DISC1}, "start", launched="D"),
    Scenario("empty-drive-before-disc", {"D": EMPTY, "E": DISC1}, "start", launched="E"),
    Scenario("two-discs-first-wins", {"D": DISC1, "E": DISC1}, "start", launched="D"),
    Scenario("arguments-ignored", {"D": DISC1}, "start", launched="D", args=ARGUMENTS),
    Scenario("folder-with-spaces", {"D": DISC1}, "start", launched="D",
             folder="Program Files\\Quillora 3.0 Patch"),
    Scenario("renamed-launcher", {"D": DISC1}, "start", launched="D", exe="Quilra3Patch (1).exe"),
    Scenario("long-launcher-path", {"D": DISC1}, "start", launched="D", folder=long_folder(200)),
    Scenario("longest-launcher-path", {"D": DISC1}, "start", launched="D", folder=long_folder(238)),
    # No disc: the prompt.
    Scenario("cancel-button", {"D": EMPTY}, "prompt", ending=CLICK_CANCEL, screenshot=True),
    Scenario("escape-key", {"D": EMPTY}, "prompt", ending=ESCAPE),
    Scenario("close-box", {"D": EMPTY}, "prompt", ending=CLICK_CLOSE),
    Scenario("insert-disc-then-query", {"D": EMPTY}, "prompt", ending=INSERT_DISC1, launched="D"),
    Scenario("other-disc-then-query", {"D": EMPTY}, "prompt", ending=INSERT_OTHER),
    Scenario("other-commands-keep-prompt", {"D": EMPTY}, "prompt", ending=OTHER_COMMANDS),
    Scenario("arguments-ignored-at-prompt", {"D": EMPTY}, "prompt", ending=INSERT_DISC1, launched="D",
             args=ARGUMENTS, folder="Program Files\\Quillora 3.0 Patch"),
    Scenario("setup-only-on-fixed-disk", {"F": DISC1}, "prompt", ending=CANCEL),
]

CORE = ("disc-at-start", "insert-disc-then-query", "cancel-button")


class Failure(Exception):
    """The launcher did not behave as the scenario says."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def expected_parameters(transform_path):
    return '/v"TRANSFORMS=\\"' + transform_path + '\\""'


class Runner:
    def __init__(self, session, launcher, helpers, input_mode="auto", screenshot=None):
        self.session = session
        self.launcher = launcher
        self.helpers = helpers
        self.setup_exe = session.helper(helpers, harness.SETUP_HELPER)
        self.shell_exe = session.helper(helpers, harness.SHELL_HELPER)
        if input_mode == "auto":
            input_mode = "xdotool" if shutil.which("xdotool") and session.options.display == "xvfb" else "helper"
        self.input_mode = input_mode
        self.screenshot = screenshot
        self.limit = session.limit
        self.details = []   # what the current scenario saw, for its report
        self.procs = []     # the processes it started, ended when it ends

    # ---- drives ----

    def fill(self, what):
        def disc1(folder):
            os.makedirs(os.path.join(folder, "Data"), exist_ok=True)
            shutil.copyfile(self.setup_exe, os.path.join(folder, "Data", "setup.exe"))

        def other(folder):
            os.makedirs(os.path.join(folder, "Data"), exist_ok=True)
            with open(os.path.join(folder, "Data", "readme.txt"), "w") as f:
                f.write("Not disc 1.\n")
            with open(os.path.join(folder, "autorun.inf"), "w") as f:
                f.write("[autorun]\r\nopen=Data\\player.exe\r\n")
        return {DISC1: disc1, OTHER: other, EMPTY: None}[what]

    def received_path(self, letter):
        return os.path.join(self.session.disc_folder(letter), "Data", harness.RECEIVED_FILE)

    def wait_received(self, letter, seconds):
        """The record of the setup program on letter, once it has written
        it within seconds, or None."""
        path = self.received_path(letter)
        deadline = time.monotonic() + self.limit(seconds)
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.02)
        return harness.read_received(path) if os.path.exists(path) else None

    def place_launcher(self, scenario):
        """Copies the launcher into its folder below C:\\ with the transform
        beside it; returns its Windows path and the transform's."""
        folder = os.path.join(self.session.options.prefix, "drive_c", *scenario.folder.split("\\"))
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copyfile(self.launcher, os.path.join(folder, scenario.exe))
        with open(os.path.join(folder, TRANSFORM), "w") as f:
            f.write("transform\n")
        windows_folder = "C:\\" + scenario.folder
        return windows_folder + "\\" + scenario.exe, windows_folder + "\\" + TRANSFORM

    # ---- one scenario ----

    def run(self, scenario):
        started = time.monotonic()
        self.details = []
        self.procs = []
        result = {"name": scenario.name, "passed": False, "reason": "", "details": self.details}
        try:
            if scenario.kind == "start":
                self.run_start(scenario)
            else:
                self.run_prompt(scenario)
            result["passed"] = True
        except Failure as e:
            result["reason"] = str(e)
        except (harness.HarnessError, TimeoutError, OSError, subprocess.SubprocessError, ValueError) as e:
            result["reason"] = "harness: %s: %s" % (type(e).__name__, e)
        finally:
            for proc in self.procs:
                if proc.popen.poll() is None:
                    proc.kill()
                    # Its Windows side may live on: start the next scenario
                    # with a fresh wineserver.
                    self.session.dirty = True
            if not result["passed"]:
                for proc in self.procs:
                    self.details += ["%s: %s" % (proc.name, line) for line in proc.transcript]
                    self.details += ["%s (stderr): %s" % (proc.name, line) for line in proc.stderr[-10:]]
        result["seconds"] = time.monotonic() - started
        return result

    def prepare(self, scenario):
        self.session.set_drives({letter: self.fill(what) for letter, what in scenario.drives.items()})
        self.session.keep_alive(self.shell_exe)
        return self.place_launcher(scenario)

    def spawn(self, args, name, stdin=False):
        proc = self.session.spawn(args, name, stdin=stdin)
        self.procs.append(proc)
        return proc

    def read_drives(self, shell, until, launcher=None):
        """Reads the shell's drive list up to the line starting with until,
        and checks that Wine sees the layout the scenario asks for. With a
        launcher, fails as soon as the launcher ends first."""
        seen = {}
        deadline = time.monotonic() + self.limit(60)
        while True:
            line = shell.poll_line(0.1)
            if line is None:
                raise harness.HarnessError("stand-in shell ended before %r" % until)
            if line.startswith("error"):
                raise harness.HarnessError("stand-in shell: " + line)
            if line.startswith("drive "):
                parts = line.split()
                if len(parts) == 3:
                    seen[parts[1][0]] = int(parts[2])
            if line.startswith(until):
                break
            if launcher is not None and launcher.popen.poll() is not None:
                raise Failure("the launcher ended (exit code %d) without showing the prompt; setup started on: %s"
                              % (launcher.popen.returncode, self.launched_letters() or "none"))
            if time.monotonic() > deadline:
                raise TimeoutError("stand-in shell: no %r within %.0f s" % (until, self.limit(60)))
        for letter, kind in self.session.expected_drive_types().items():
            if seen.get(letter) != kind:
                raise harness.HarnessError("drive layout: Wine reports %s: as type %s, not %d (drives seen: %s)"
                                           % (letter, seen.get(letter), kind, seen))
        return line

    def launched_letters(self):
        time.sleep(self.limit(1))
        return ", ".join(letter for letter in harness.MANAGED_LETTERS
                         if os.path.exists(self.received_path(letter)))

    def run_launcher(self, exe_path, scenario):
        return self.spawn([exe_path] + scenario.args, "launcher")

    def wait_launcher(self, launcher, seconds):
        code = launcher.wait(self.limit(seconds))
        check(code is not None, "the launcher did not end within %.0f s" % self.limit(seconds))
        check(code == 0, "the launcher's exit code is %d, not 0" % code)

    def check_launched(self, scenario, transform_path):
        """Exactly the expected setup program ran, with exactly the
        expected parameters; no other."""
        others = [letter for letter in scenario.drives if letter != scenario.launched]
        if scenario.launched:
            record = self.wait_received(scenario.launched, 20)
            check(record is not None, "setup on %s: was not started" % scenario.launched)
            self.details.append("setup on %s: received %s" % (scenario.launched, record))
            want = expected_parameters(transform_path)
            check(record.get("params") == want,
                  "setup on %s: received the parameters %r, not %r (command line %r)"
                  % (scenario.launched, record.get("params"), want, record.get("cmdline")))
            check(record.get("show") == str(SW_SHOWDEFAULT),
                  "setup was shown with %s, not SW_SHOWDEFAULT" % record.get("show"))
        # A setup started by mistake writes its record within this time.
        time.sleep(self.limit(1))
        for letter in others:
            check(not os.path.exists(self.received_path(letter)),
                  "setup on %s: was started, but must not be" % letter)

    # ---- the disc at start ----

    def run_start(self, scenario):
        exe_path, transform_path = self.prepare(scenario)
        watch_ms = int(self.limit(40) * 1000)
        shell = self.spawn([self.shell_exe, "exe=" + scenario.exe, "drives", "sync=ready",
                            "watch=%d" % watch_ms], "shell", stdin=True)
        self.read_drives(shell, "sync ready")
        shell.reply()
        launcher = self.run_launcher(exe_path, scenario)
        # The watcher names each window as it appears: fail at the first.
        deadline = time.monotonic() + self.limit(30)
        line = ""
        while line is not None and not line.startswith("watch") and time.monotonic() < deadline:
            line = shell.poll_line(0.1)
            if line and line.startswith("window"):
                raise Failure("the launcher showed a window (%r) although disc 1 is in the drive" % line[7:])
        self.wait_launcher(launcher, 30)
        if not (line and line.startswith("watch")):
            line = shell.expect("watch", self.limit(45))
        shell.wait(self.limit(10))
        fields = dict(item.split("=", 1) for item in line.split()[1:])
        check(fields.get("seen") == "1", "the watcher never saw the launcher run (%s)" % line)
        check(fields.get("windows") == "0", "the launcher showed %s window(s)" % fields.get("windows"))
        check(fields.get("ended") == "1" and fields.get("exit") == "0",
              "seen from Windows, the launcher did not end with 0 (%s)" % line)
        self.check_launched(scenario, transform_path)

    # ---- the prompt ----

    def check_prompt(self, info, scenario):
        check(info["class"] == "#32770", "the prompt's class is %r, not a dialog" % info["class"])
        check(info["caption"] == "Quillora", "the prompt's caption is %r" % info["caption"])
        check(info["exe"].lower() == scenario.exe.lower(), "the prompt belongs to %r" % info["exe"])
        controls = [(c["id"], c["class"].lower(), c["text"], c["visible"]) for c in info["controls"]]
        want = [(IDCANCEL, "button", "Cancel", 1), (-1, "static", PROMPT_TEXT, 1)]
        check(controls == want, "the prompt's controls are %r, not %r" % (controls, want))
        button, text = info["controls"]
        check(button["style"] & BS_TYPEMASK == 0, "Cancel is not a plain push button (style %#x)" % button["style"])
        check(text["style"] & SS_TYPEMASK == SS_CENTER, "the text is not centred (style %#x)" % text["style"])
        left, top, right, bottom = info["rect"]
        wl, wt, wr, wb = info["work"]
        dx = (left + right) - (wl + wr)
        dy = (top + bottom) - (wt + wb)
        check(abs(dx) <= 2 and abs(dy) <= 2,
              "the prompt %r is not centred in the work area %r" % (info["rect"], info["work"]))
        check(info["focus_id"] == IDCANCEL, "the focus is on control %d, not Cancel" % info["focus_id"])
        check(info["foreground"] == 1, "the prompt is not the foreground window")
        check(info["close"] is not None, "the prompt's caption has no close box")

    def run_prompt(self, scenario):
        exe_path, transform_path = self.prepare(scenario)
        wait_ms = int(self.limit(30) * 1000)
        gone_ms = int(self.limit(10) * 1000)
        helper_input = self.input_mode == "helper"
        ending = {
            CANCEL: ["send=%d,%d,0" % (WM_COMMAND, IDCANCEL)],
            ESCAPE: ["key=27"] if helper_input else [],
            CLICK_CANCEL: ["click=cancel"] if helper_input else [],
            CLICK_CLOSE: ["click=close"] if helper_input else [],
            INSERT_DISC1: ["query=3,0"],
            INSERT_OTHER: ["query=3,0"],
            # IDOK, the text's id and an unknown id; then the prompt must
            # still be there, and IDCANCEL with a notification code in the
            # high word ends it.
            OTHER_COMMANDS: ["send=%d,1,0" % WM_COMMAND, "send=%d,65535,0" % WM_COMMAND,
                             "send=%d,1000,0" % WM_COMMAND, "gone=%d" % int(self.limit(1) * 1000),
                             "send=%d,%d,0" % (WM_COMMAND, 0x10000 | IDCANCEL)],
        }[scenario.ending]
        shell = self.spawn([self.shell_exe, "exe=" + scenario.exe, "drives", "wait=%d" % wait_ms, "info",
                            "sync=act"] + ending + ["gone=%d" % gone_ms], "shell", stdin=True)
        launcher = self.run_launcher(exe_path, scenario)

        line = self.read_drives(shell, "prompt ", launcher)
        check(line.startswith("prompt 1"), "no prompt appeared within %.0f s" % self.limit(30))
        info = harness.parse_info(shell.expect("info ", self.limit(30)))
        self.details.append("prompt: %s" % info)
        self.check_prompt(info, scenario)
        shell.expect("sync act", self.limit(30))

        if scenario.screenshot and self.screenshot and self.session.xvfb:
            self.session.screenshot(self.screenshot)
            self.screenshot = None
        self.act(scenario, info)
        shell.reply()

        if scenario.ending in (INSERT_DISC1, INSERT_OTHER):
            line = shell.expect("query", self.limit(30))
            check(line.startswith("query 1 "), "the prompt answered the AutoPlay query with %r, not 1" % line)
            check(line.endswith("visible=1"),
                  "the prompt closed before it answered the AutoPlay query: the retry must wait for the answer")
        if scenario.ending == OTHER_COMMANDS:
            line = shell.expect("gone", self.limit(30))
            check(line.startswith("gone 0"), "a WM_COMMAND from another control closed the prompt")
        line = shell.expect("gone", self.limit(40))
        check(line.startswith("gone 1"), "the prompt stayed open after the %s" % scenario.ending)
        shell.wait(self.limit(10))
        self.wait_launcher(launcher, 20)
        self.check_launched(scenario, transform_path)

    def act(self, scenario, info):
        """What the user or the system does while the prompt is up."""
        if scenario.ending in (INSERT_DISC1, INSERT_OTHER):
            what = DISC1 if scenario.ending == INSERT_DISC1 else OTHER
            self.fill(what)(self.session.disc_folder("D"))
            return
        if self.input_mode != "xdotool":
            return
        left, top, right, bottom = info["rect"]
        if scenario.ending == ESCAPE:
            # Keys go to the X window under the pointer: the Wine desktop.
            self.session.xdotool("mousemove", (left + right) // 2, (top + bottom) // 2)
            time.sleep(0.2)
            self.session.xdotool("key", "Escape")
        elif scenario.ending == CLICK_CANCEL:
            bl, bt, br, bb = info["controls"][0]["rect"]
            self.session.xdotool("mousemove", (bl + br) // 2, (bt + bb) // 2, "click", "1")
        elif scenario.ending == CLICK_CLOSE:
            x, y = info["close"]
            self.session.xdotool("mousemove", x, y, "click", "1")
