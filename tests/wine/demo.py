#!/usr/bin/python3
"""Shows the launcher's whole job under Wine, for a newcomer.

  demo.py --launcher EXE --helpers DIR --work DIR [--wine CMD] [--prefix DIR]
          [--pause SECONDS]

Two runs:
  1. disc 1 in drive D: -- the launcher starts D:\\Data\\setup.exe (the
     stand-in, which records its command line) and ends; the demo prints
     what the setup program received;
  2. no disc -- the launcher shows its prompt: on the current $DISPLAY when
     there is one (for --pause seconds, so it can be seen), else on a
     virtual display, where a picture of it is saved (WORK/disc-prompt.png);
     then the demo presses Cancel and the launcher ends.
"""

import argparse
import os
import sys
import time

sys.dont_write_bytecode = True   # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import scenarios  # noqa: E402


def display_usable():
    display = os.environ.get("DISPLAY", "")
    if display.startswith(":"):
        return os.path.exists("/tmp/.X11-unix/X" + display[1:].split(".")[0])
    return bool(display)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--helpers", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--prefix", default=None)
    parser.add_argument("--pause", type=float, default=4.0)
    args = parser.parse_args(argv)

    harness.install_signal_handlers()
    current = display_usable()
    options = harness.Options(wine=args.wine, work=args.work, prefix=args.prefix,
                              display="current" if current else "xvfb")
    with harness.Session(options) as session:
        print("Wine prefix: %s (made once, then reused)" % options.prefix)
        session.start()
        runner = scenarios.Runner(session, os.path.abspath(args.launcher), os.path.abspath(args.helpers),
                                  input_mode="helper")

        print("\n== 1. Disc 1 in CD-ROM drive D: ==")
        scenario = scenarios.Scenario("demo", {"D": scenarios.DISC1}, "start", launched="D",
                                      folder="Program Files\\Quillora 3.0 Patch")
        exe_path, transform = runner.prepare(scenario)
        print("launcher:  %s" % exe_path)
        started = time.monotonic()
        launcher = runner.spawn([exe_path], "launcher")
        code = launcher.wait(60)
        print("launcher ended after %.2f s with exit code %s" % (time.monotonic() - started, code))
        record = runner.wait_received("D", 20)
        if record:
            print("D:\\Data\\setup.exe was started with the command line:\n    %s" % record["cmdline"])
            print("its parameters:\n    %s" % record["params"])
        else:
            print("D:\\Data\\setup.exe was NOT started")

        print("\n== 2. No disc: the prompt ==")
        scenario = scenarios.Scenario("demo", {"D": scenarios.EMPTY}, "prompt")
        exe_path, transform = runner.prepare(scenario)
        shell = runner.spawn([runner.shell_exe, "wait=30000", "info", "sync=shown", "click=cancel",
                              "gone=10000"], "stand-in shell", stdin=True)
        launcher = runner.spawn([exe_path], "launcher")
        info = harness.parse_info(shell.expect("info ", 60))
        shell.expect("sync shown", 30)
        print("prompt shown: caption %r, text %r, button %r, at %r on a %dx%d screen"
              % (info["caption"], info["controls"][1]["text"], info["controls"][0]["text"],
                 info["rect"], info["screen"][0], info["screen"][1]))
        if current:
            print("(on your display %s for %.0f s)" % (session.display, args.pause))
            time.sleep(args.pause)
        else:
            picture = os.path.join(options.work, "disc-prompt.png")
            session.screenshot(picture)
            print("picture of the prompt: %s" % picture)
        shell.reply()
        print("pressing Cancel: %s" % shell.expect("gone", 30))
        code = launcher.wait(30)
        print("launcher ended with exit code %s; setup started: %s"
              % (code, "yes" if os.path.exists(runner.received_path("D")) else "no"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
