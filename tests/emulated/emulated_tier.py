#!/usr/bin/python3
"""Runs the shipped 32-bit launcher under a 32-bit Wine emulated by qemu-i386.

This machine's kernel cannot run 32-bit code, so the 32-bit launcher runs
under Debian trixie's 32-bit Wine whose loader and server are started through
qemu-i386 (user-mode emulation), inside a minimal trixie root made with
debootstrap. The end-to-end runner of tests/wine then runs its scenarios there
on the 32-bit files.

    emulated_tier.py setup --root DIR
        Build the root, or reuse it when its stamp says a complete setup of the
        current recipe is there. The stamp is written last, so a root whose
        setup was cut short is built again.

    emulated_tier.py run --root DIR --launcher EXE --helpers DIR
                         --harness DIR [--out DIR] [--scenario NAME]...
                         [--timeout-scale N] [--seconds N]
        Copy the launcher, the 32-bit helpers and the runner's Python files
        (the folder given by --harness) into the root and run the runner there
        with the emulated Wine: its core scenarios, or the named ones. Its
        report and its picture of the prompt are copied to --out. The
        environment variable EMULATED_LAUNCHER, when set, replaces --launcher.

Every step runs in a mount and PID namespace of its own: /proc, /sys and /dev
are mounted for the root inside it and unmounted at the end; the processes
started there are ended by their process id, and the kernel ends whatever is
left when the namespace's first process goes, however the run ends (even when
ctest kills it for its time limit). A lock beside the root keeps two runs on
the same root apart; each run first removes what a killed run may have left
under its root. A failure names the step that failed.

The environment variable EMULATED_DEBIAN_ARCHIVE overrides the Debian archive
address otherwise taken from this machine's apt sources.
"""

import argparse
import contextlib
import ctypes
import fcntl
import glob
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

SUITE = "trixie"
# The runner of tests/wine needs python3 and Xvfb; it presses keys and clicks
# through xdotool and takes its picture of the prompt with xwd (x11-apps).
# fonts-wine gives the caption's close box its cross.
ROOT_PACKAGES = ["wine32:i386", "qemu-user", "xvfb", "python3", "xdotool", "x11-apps", "fonts-wine"]
TEST_ENTRY = "/opt/emulated"      # where the tests' files go inside the root
RUN_DIR = "/var/tmp/emulated"     # the run's scratch folder inside the root

# The 32-bit loader and server cannot be executed by this kernel: each is
# renamed and replaced by a script that starts it under qemu-i386, with the
# original path as its argv[0] so that Wine finds its files beside it.
WRAPPED = ["/usr/lib/wine/wine", "/usr/lib/wine/wineserver32"]
WRAPPER = ('#!/bin/sh\n'
           'exec /usr/bin/qemu-i386 -L / -0 {path} {path}.i386 "$@"\n')

# Changing any of these rebuilds a cached root; the number counts changes to
# the set-up steps themselves.
RECIPE = repr((SUITE, ROOT_PACKAGES, WRAPPED, WRAPPER, 2))
STAMP_NAME = ".emulated-root-complete"

HELPERS = ["StandInSetup.exe", "StandInShell.exe"]

SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
PR_SET_PDEATHSIG = 1


class StepFailed(Exception):
    """A step failed; the message names it."""


_current_step = None


def log(message):
    print(f"[emulated {time.strftime('%H:%M:%S')}] {message}", flush=True)


@contextlib.contextmanager
def step(name):
    """Names and times one step; any failure in it becomes StepFailed."""
    global _current_step
    _current_step = name
    started = time.monotonic()
    log(f"step: {name}")
    try:
        yield
    except StepFailed:
        raise
    except Exception as error:
        raise StepFailed(f"step '{name}' failed after {time.monotonic() - started:.1f} s: "
                         f"{type(error).__name__}: {error}") from error
    log(f"done: {name} ({time.monotonic() - started:.1f} s)")


def fail(reason):
    raise StepFailed(f"step '{_current_step}' failed: {reason}")


# ---------------------------------------------------------------- host side

def lock_root(root, wait_seconds):
    """Takes the root's lock, waiting a bounded time for another run."""
    fd = os.open(root.rstrip("/") + ".lock", os.O_RDWR | os.O_CREAT, 0o644)
    deadline = time.monotonic() + wait_seconds
    while True:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return fd
        except BlockingIOError:
            if time.monotonic() > deadline:
                raise StepFailed(f"another run still holds {root}.lock after {wait_seconds} s")
            time.sleep(1)


def mounts_under(root):
    """Mount points at or below root in this mount namespace, deepest first."""
    root = os.path.realpath(root)
    found = []
    with open("/proc/self/mountinfo") as mountinfo:
        for line in mountinfo:
            point = line.split()[4].replace("\\040", " ")
            if point == root or point.startswith(root + "/"):
                found.append(point)
    return sorted(set(found), key=len, reverse=True)


def processes_in(root):
    """Process ids whose root folder is root: processes a run started there."""
    root = os.path.realpath(root)
    pids = []
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != os.getpid():
            try:
                if os.readlink(f"/proc/{entry}/root") == root:
                    pids.append(int(entry))
            except OSError:
                pass
    return pids


def remove_leftovers(root):
    """Ends what a killed earlier run left under root: processes, then mounts.

    Only called with the root's lock held, so nothing found belongs to a run
    that is still going."""
    if not os.path.isdir(root):
        return
    for pid in processes_in(root):
        log(f"ending leftover process {pid}")
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    for point in mounts_under(root):
        log(f"unmounting leftover {point}")
        subprocess.run(["umount", "-l", point], check=False)
    left = mounts_under(root)
    if left:
        raise StepFailed(f"could not unmount leftovers: {left}")


def debian_archive():
    """The Debian archive this machine's apt uses (its main suite's URI)."""
    if os.environ.get("EMULATED_DEBIAN_ARCHIVE"):
        return os.environ["EMULATED_DEBIAN_ARCHIVE"]
    codename = ""
    with open("/etc/os-release") as release:
        for line in release:
            if line.startswith("VERSION_CODENAME="):
                codename = line.split("=", 1)[1].strip().strip('"')
    candidates = []
    for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
        with open(path) as sources:
            for stanza in re.split(r"\n\s*\n", sources.read()):
                fields = {}
                for line in stanza.splitlines():
                    if ":" in line and not line.startswith("#"):
                        key, value = line.split(":", 1)
                        fields[key.strip().lower()] = value.split()
                if ("deb" in fields.get("types", []) and codename in fields.get("suites", [])
                        and fields.get("enabled", ["yes"]) != ["no"]):
                    candidates += fields.get("uris", [])
    for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
        if os.path.exists(path):
            with open(path) as sources:
                for line in sources:
                    words = re.sub(r"\[[^]]*\]", "", line.split("#", 1)[0]).split()
                    if len(words) >= 3 and words[0] == "deb" and words[2] == codename:
                        candidates.append(words[1])
    if not candidates:
        raise StepFailed(f"no deb source for '{codename}' in this machine's apt sources")
    return candidates[0]


def recipe_key():
    return hashlib.sha256(RECIPE.encode()).hexdigest()


def root_is_complete(root):
    try:
        with open(os.path.join(root, STAMP_NAME)) as stamp:
            return stamp.read().strip() == recipe_key()
    except OSError:
        return False


def remove_root(root):
    if mounts_under(root):
        raise StepFailed(f"refusing to delete {root}: something is still mounted in it")
    subprocess.run(["rm", "-rf", "--one-file-system", root], check=True)


def run_in_namespace(args, lock_fd, network):
    """Re-runs this script's inner command in a new mount and PID namespace,
    and without network unless it needs the archive (a network namespace of
    its own also keeps its X display apart from any other on this machine).

    unshare dies with this process (parent-death signal), and --kill-child
    takes the namespace's first process with it; the kernel then ends every
    other process in the namespace and drops its mounts."""
    libc = ctypes.CDLL(None, use_errno=True)

    def die_with_parent():
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)

    command = (["unshare", "--mount", "--pid", "--fork", "--kill-child", "--propagation", "private"]
               + ([] if network else ["--net"]) + [sys.executable, os.path.abspath(__file__)] + args)
    # The lock goes along, so it is held until the namespace is gone.
    return subprocess.run(command, preexec_fn=die_with_parent, pass_fds=(lock_fd,)).returncode


# ----------------------------------------------------- inside the namespace

class Root:
    """The root's mounts and processes, inside this run's own namespace."""

    MOUNTS = [("proc", ["-t", "proc", "proc"]), ("sys", ["--bind", "/sys"]),
              ("dev", ["--bind", "/dev"])]

    def __init__(self, path):
        self.path = os.path.realpath(path)
        self.mounted = []

    def __enter__(self):
        with step("mount proc, sys and dev in the root"):
            if os.getpid() != 1:
                fail("not the first process of a PID namespace of its own")
            try:
                for name, how in self.MOUNTS:
                    target = os.path.join(self.path, name)
                    os.makedirs(target, exist_ok=True)
                    subprocess.run(["mount"] + how + [target], check=True)
                    self.mounted.append(target)
            except BaseException:
                self.__exit__()
                raise
        return self

    def __exit__(self, *_exc):
        self.end_processes()
        for target in reversed(self.mounted):
            if subprocess.run(["umount", target], check=False).returncode != 0:
                subprocess.run(["umount", "-l", target], check=False)
        self.mounted = []
        left = mounts_under(self.path)
        if left:
            log(f"still mounted after cleanup: {left}")
        return False

    def end_processes(self):
        """Ends, by id, every process of this namespace other than this one."""
        for attempt in range(50):
            self.reap()
            pids = self.live_processes()
            if not pids:
                return
            if attempt == 0:
                log(f"ending the processes left in the root: {pids}")
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.1)
        log(f"processes still there after cleanup: {pids}")

    def live_processes(self):
        """This namespace's processes other than this one, zombies left out."""
        if not self.mounted:
            return []
        proc = os.path.join(self.path, "proc")
        pids = []
        for entry in os.listdir(proc):
            if entry.isdigit() and entry != "1":
                try:
                    with open(os.path.join(proc, entry, "stat")) as stat:
                        state = stat.read().rsplit(")", 1)[1].split()[0]
                except (OSError, IndexError):
                    continue
                if state != "Z":
                    pids.append(int(entry))
        return sorted(pids)

    @staticmethod
    def reap():
        # As the namespace's first process, orphans are this one's to reap.
        while True:
            try:
                pid, _status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return

    def env(self, extra=None):
        env = {"PATH": SYSTEM_PATH, "HOME": "/root", "LANG": "C.UTF-8",
               "DEBIAN_FRONTEND": "noninteractive"}
        env.update(extra or {})
        return env

    def run(self, argv, seconds, env=None, echo=False, check=True):
        """Runs argv inside the root with a time limit; returns its exit code
        and output. echo prints each output line as it comes, timed."""
        process = subprocess.Popen(["chroot", self.path] + argv, env=self.env(env),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, errors="replace",
                                   start_new_session=True)
        lines = []

        def read():
            for line in process.stdout:
                lines.append(line)
                if echo:
                    log("| " + line.rstrip("\n"))
        # A thread reads, so that no read outlasts the time limit even when
        # a detached descendant keeps the pipe open.
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        try:
            process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            reader.join(timeout=5)
            fail(f"{' '.join(argv)} did not end within {seconds} s")
        reader.join(timeout=10)
        output = "".join(lines)
        if check and process.returncode != 0:
            fail(f"{' '.join(argv)} exited with {process.returncode}:\n{output[-3000:]}")
        return process.returncode, output


# dpkg's own lines that follow from a failed post-install script.
DPKG_CONSEQUENCES = re.compile(
    r"^dpkg: error processing package |post-installation script subprocess returned error"
    r"|^Errors were encountered while processing:|^E: Sub-process /usr/bin/dpkg returned"
    r"|^ \S+$")


def install_packages(root):
    """Installs the packages. Some i386 post-install helpers cannot be executed
    by this kernel ("Exec format error"); exactly that is tolerated, and only
    when every package asked for ends up installed."""
    code, output = root.run(["apt-get", "install", "-y", "-q", "--no-install-recommends"]
                            + ROOT_PACKAGES, 900, check=False)
    exec_format = [line for line in output.splitlines() if "Exec format error" in line]
    if exec_format:
        log(f"tolerated {len(exec_format)} i386 helper(s) this kernel cannot execute")
    if code != 0:
        errors = [line for line in output.splitlines()
                  if re.search(r"error|^E:", line, re.I) and "Exec format error" not in line
                  and not DPKG_CONSEQUENCES.search(line)]
        if errors or not exec_format:
            fail(f"apt-get install exited with {code}:\n" + output[-3000:])
    _, status = root.run(["dpkg-query", "-W", "-f", "${Package}:${Architecture} ${Status}\\n"]
                         + ROOT_PACKAGES, 60, check=False)
    for package in ROOT_PACKAGES:
        base = package.split(":")[0]
        if not re.search(rf"^{re.escape(base)}:\S+ install ok installed$", status, re.M):
            fail(f"{package} is not installed:\n{status}")


def inner_setup(args):
    with Root(args.root) as root:
        with step("add the i386 architecture"):
            root.run(["dpkg", "--add-architecture", "i386"], 60)
        with step("apt-get update in the root"):
            root.run(["apt-get", "update", "-q"], 300)
        with step("install " + " ".join(ROOT_PACKAGES)):
            install_packages(root)
        with step("wrap the 32-bit Wine loader and server in qemu-i386"):
            for path in WRAPPED:
                inside = os.path.join(root.path, path.lstrip("/"))
                if not os.path.exists(inside + ".i386"):
                    os.rename(inside, inside + ".i386")
                with open(inside, "w") as wrapper:
                    wrapper.write(WRAPPER.format(path=path))
                os.chmod(inside, 0o755)
        with step("start the emulated 32-bit loader"):
            _, output = root.run(["/usr/lib/wine/wine", "--version"], 60)
            log(f"emulated loader says: {output.strip()}")
        with step("drop the package cache"):
            root.run(["apt-get", "clean"], 60)
            for lists in glob.glob(os.path.join(root.path, "var/lib/apt/lists/*_Packages")):
                os.remove(lists)
    return 0


def inner_run(args):
    work = os.path.join(args.root, RUN_DIR.lstrip("/"))
    with Root(args.root) as root:
        with step("copy the launcher, the helpers and the runner into the root"):
            entry = os.path.join(root.path, TEST_ENTRY.lstrip("/"))
            shutil.rmtree(entry, ignore_errors=True)
            os.makedirs(os.path.join(entry, "helpers"))
            shutil.copy2(args.launcher, os.path.join(entry, "Quilra3Patch.exe"))
            for name in os.listdir(args.helpers):
                if name.lower().endswith(".exe"):
                    shutil.copy2(os.path.join(args.helpers, name), os.path.join(entry, "helpers"))
            os.makedirs(os.path.join(entry, "runner"))
            for path in glob.glob(os.path.join(args.harness, "*.py")):
                shutil.copy2(path, os.path.join(entry, "runner"))
            subprocess.run(["rm", "-rf", "--one-file-system", work], check=True)
            os.makedirs(os.path.join(work, "xdg"), mode=0o700)
        command = ["/usr/bin/python3", TEST_ENTRY + "/runner/run_scenarios.py",
                   "--launcher", TEST_ENTRY + "/Quilra3Patch.exe",
                   "--helpers", TEST_ENTRY + "/helpers",
                   "--work", RUN_DIR,
                   "--wine", "/usr/lib/wine/wine",
                   "--timeout-scale", str(args.timeout_scale),
                   "--report", RUN_DIR + "/report.json",
                   "--screenshot", RUN_DIR + "/prompt.png"]
        command += ["--only", ",".join(args.scenario)] if args.scenario else ["--core"]
        try:
            with step("run the end-to-end scenarios on the 32-bit launcher"):
                code, _ = root.run(command, args.seconds, env=WINE_ENV, echo=True, check=False)
                if code == 2:
                    fail("the runner could not set up Wine (its failed step is named above)")
                if code != 0:
                    fail(f"the runner exited with {code}: a scenario failed (see above)")
        finally:
            with step("end the tier's Wine server"):
                root.run(["/usr/lib/wine/wineserver", "-k"], 60, env=WINE_ENV, check=False)
            if args.out:
                for name, keep in (("report.json", "report.json"), ("prompt.png", "prompt-32bit.png")):
                    if os.path.exists(os.path.join(work, name)):
                        shutil.copyfile(os.path.join(work, name), os.path.join(args.out, keep))
        # A passing run's prefix and discs take hundreds of megabytes; a
        # failing run's stay for a look until the next run.
        with step("remove the run's scratch folder"):
            subprocess.run(["rm", "-rf", "--one-file-system", work], check=True)
    return 0


WINE_ENV = {
    "WINELOADERNOEXEC": "1",
    "WINEARCH": "win32",
    "WINELOADER": "/usr/lib/wine/wine",
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
    "WINEPREFIX": RUN_DIR + "/prefix",   # the runner's default prefix, WORK/prefix
    "XDG_RUNTIME_DIR": RUN_DIR + "/xdg",
}


# ------------------------------------------------------------------ driver

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("setup", "run", "inner-setup", "inner-run"):
        each = sub.add_parser(name)
        each.add_argument("--root", required=True)
        each.add_argument("--lock-wait", type=int, default=900)
        if name.endswith("run"):
            each.add_argument("--launcher", required=True)
            each.add_argument("--helpers", required=True)
            each.add_argument("--harness", required=True)
            each.add_argument("--scenario", action="append", default=[])
            each.add_argument("--seconds", type=int, default=480)
            each.add_argument("--timeout-scale", type=float, default=4)
            each.add_argument("--out", default=None,
                              help="folder for the runner's report and picture of the prompt")
    args = parser.parse_args()
    os.environ["LC_ALL"] = "C.UTF-8"
    try:
        if args.command == "inner-setup":
            return inner_setup(args)
        if args.command == "inner-run":
            return inner_run(args)
        return outer(args)
    except StepFailed as failure:
        log(f"FAILED: {failure}")
        return 1


def pe_machine(path):
    """The machine field of a PE file's header, or None."""
    with open(path, "rb") as image:
        head = image.read(4096)
    if head[:2] != b"MZ":
        return None
    offset = int.from_bytes(head[0x3C:0x40], "little")
    if head[offset:offset + 4] != b"PE\0\0":
        return None
    return int.from_bytes(head[offset + 4:offset + 6], "little")


def check_inputs(args):
    with step("check the 32-bit files to run"):
        log(f"launcher: {args.launcher}")
        for path in [args.launcher] + [os.path.join(args.helpers, name) for name in HELPERS]:
            if not os.path.isfile(path):
                fail(f"{path} is missing (is the 32-bit cross build done?)")
            if pe_machine(path) != 0x14C:
                fail(f"{path} is not a 32-bit x86 Windows program")
        if not glob.glob(os.path.join(args.harness, "*.py")):
            fail(f"no runner in {args.harness}")


def outer(args):
    started = time.monotonic()
    root = os.path.abspath(args.root)
    os.makedirs(os.path.dirname(root), exist_ok=True)
    if args.command == "run":
        args.launcher = os.path.abspath(os.environ.get("EMULATED_LAUNCHER") or args.launcher)
        check_inputs(args)
    with step("take the root's lock"):
        lock_fd = lock_root(root, args.lock_wait)
    with step("remove what an earlier run left under the root"):
        remove_leftovers(root)
    if args.command == "setup":
        if root_is_complete(root):
            log(f"reusing the root at {root}")
            return 0
        with step("pick the Debian archive"):
            archive = debian_archive()
            log(f"archive: {archive}")
        with step(f"debootstrap {SUITE}"):
            if os.path.exists(root):
                remove_root(root)
            result = subprocess.run(["debootstrap", "--variant=minbase", SUITE, root, archive],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                    timeout=600)
            if result.returncode != 0:
                fail(f"debootstrap exited with {result.returncode}:\n{result.stdout[-3000:]}")
        code = run_in_namespace(["inner-setup", "--root", root], lock_fd, network=True)
        if code != 0:
            return code
        with step("write the root's stamp"):
            with open(os.path.join(root, STAMP_NAME), "w") as stamp:
                stamp.write(recipe_key() + "\n")
        log(f"root ready in {time.monotonic() - started:.1f} s")
        return 0
    if not root_is_complete(root):
        raise StepFailed(f"no complete root at {root}: run the setup first")
    inner = ["inner-run", "--root", root, "--launcher", args.launcher,
             "--helpers", os.path.abspath(args.helpers), "--harness", os.path.abspath(args.harness),
             "--seconds", str(args.seconds), "--timeout-scale", str(args.timeout_scale)]
    if args.out:
        os.makedirs(args.out, exist_ok=True)
        inner += ["--out", os.path.abspath(args.out)]
    for scenario in args.scenario:
        inner += ["--scenario", scenario]
    code = run_in_namespace(inner, lock_fd, network=False)
    log(f"whole run took {time.monotonic() - started:.1f} s")
    return code


if __name__ == "__main__":
    sys.exit(main())
