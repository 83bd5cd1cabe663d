#!/usr/bin/python3
"""End-to-end scenarios of the launcher under Wine.

Command line (kept stable; other test tiers run it too):

  run_scenarios.py --launcher EXE --helpers DIR --work DIR [options]

  --launcher EXE        the launcher to test (Quilra3Patch.exe)
  --helpers DIR         folder with StandInSetup.exe, StandInShell.exe and
                        Empty.exe built for the same architecture
  --work DIR            scratch folder: the discs and (by default) the Wine
                        prefix; needed for everything but --list
  --wine CMD            the Wine loader command, split like a shell command
                        (default: /usr/lib/wine/wine64); every Wine program
                        is started through it
  --wineserver CMD      the wineserver command, split like a shell command
                        (default: "wineserver" beside the loader, else the
                        one on PATH); used only as "CMD -k" and "CMD -w"
  --env NAME=VALUE      environment for every Wine program; repeatable.
                        The caller's environment is passed on as well, and
                        WINEDEBUG=-all and WINEDLLOVERRIDES="mscoree,mshtml="
                        are set unless given. WINEPREFIX is always the
                        prefix below.
  --prefix DIR          the Wine prefix to make, or to reuse when a finished
                        one is there (default: WORK/prefix)
  --init-only           make the prefix and stop
  --only NAMES          run only these scenarios (comma-separated names;
                        repeatable); default: all, in table order
  --core                run the core scenarios: disc-at-start,
                        insert-disc-then-query, cancel-button
  --list                print the scenario names, one a line, and stop
  --timeout-scale N     multiply every time limit by N (default 1; about 10
                        for a 32-bit Wine under user-mode emulation)
  --screenshot PNG      save a picture of the prompt here (taken in the
                        first scenario run that shows the prompt)
  --input MODE          how keys and clicks reach the prompt: "xdotool"
                        (real X events), "helper" (the stand-in shell's
                        SendInput) or "auto" (xdotool when installed;
                        default)
  --report JSON         write every scenario's result to this file
  --display MODE        "xvfb" (default: a fresh Xvfb display) or "current"
                        (the caller's $DISPLAY)

Exit code: 0 when every scenario passed, 1 when one failed (each failure is
printed as "FAIL <scenario>: <reason>"), 2 when the set-up failed (the step
is named). Every process started is ended by its id at the end, the Wine
prefix's with "wineserver -k", also on failure.
"""

import argparse
import json
import os
import sys
import time

sys.dont_write_bytecode = True   # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import scenarios  # noqa: E402


def parse_args(argv):
    parser = argparse.ArgumentParser(description="End-to-end scenarios of the launcher under Wine.")
    parser.add_argument("--launcher", help="the launcher to test")
    parser.add_argument("--helpers", help="folder of the helper programs")
    parser.add_argument("--work", help="scratch folder")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64", help="Wine loader command")
    parser.add_argument("--wineserver", default=None, help="wineserver command")
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--prefix", default=None, help="Wine prefix to make or reuse")
    parser.add_argument("--init-only", action="store_true", help="make the prefix and stop")
    parser.add_argument("--only", action="append", default=[], metavar="NAMES")
    parser.add_argument("--core", action="store_true", help="run the core scenarios")
    parser.add_argument("--list", action="store_true", help="list the scenarios")
    parser.add_argument("--timeout-scale", type=float, default=1.0)
    parser.add_argument("--screenshot", default=None, metavar="PNG")
    parser.add_argument("--input", choices=("auto", "xdotool", "helper"), default="auto")
    parser.add_argument("--report", default=None, metavar="JSON")
    parser.add_argument("--display", choices=("xvfb", "current"), default="xvfb")
    args = parser.parse_args(argv)
    env = {}
    for item in args.env:
        if "=" not in item:
            parser.error("--env takes NAME=VALUE, not %r" % item)
        name, value = item.split("=", 1)
        env[name] = value
    args.env = env
    if not args.list and not args.work:
        parser.error("--work is needed")
    if not args.list and not args.init_only and not (args.launcher and args.helpers):
        parser.error("--launcher and --helpers are needed to run scenarios")
    return args


def select(args):
    names = []
    for item in args.only:
        names += [n for n in item.split(",") if n]
    if args.core:
        names += list(scenarios.CORE)
    if not names:
        names = [s.name for s in scenarios.SCENARIOS]
    known = {s.name: s for s in scenarios.SCENARIOS}
    unknown = [n for n in names if n not in known]
    if unknown:
        raise SystemExit("unknown scenario(s): %s (see --list)" % ", ".join(unknown))
    chosen = []
    for name in names:
        if known[name] not in chosen:
            chosen.append(known[name])
    # Scenarios with the same drive letters run together: fewer Wine restarts.
    groups = {}
    for scenario in chosen:
        groups.setdefault(scenario.letters(), []).append(scenario)
    return [scenario for group in groups.values() for scenario in group]


def main(argv):
    args = parse_args(argv)
    if args.list:
        for scenario in scenarios.SCENARIOS:
            print(scenario.name)
        return 0
    harness.install_signal_handlers()
    options = harness.Options(wine=args.wine, wineserver=args.wineserver, env=args.env,
                              work=args.work, prefix=args.prefix,
                              timeout_scale=args.timeout_scale, display=args.display)
    chosen = [] if args.init_only else select(args)
    results = []
    started = time.monotonic()
    session = harness.Session(options)
    try:
        try:
            session.start()
        except (harness.HarnessError, OSError, TimeoutError) as e:
            print("SETUP FAILED: %s" % e, flush=True)
            return 2
        if args.init_only:
            print("prefix ready: %s" % options.prefix, flush=True)
            return 0
        runner = scenarios.Runner(session, launcher=os.path.abspath(args.launcher),
                                  helpers=os.path.abspath(args.helpers),
                                  input_mode=args.input, screenshot=args.screenshot)
        for scenario in chosen:
            result = runner.run(scenario)
            results.append(result)
            if result["passed"]:
                print("PASS %s (%.1f s)" % (scenario.name, result["seconds"]), flush=True)
            else:
                print("FAIL %s: %s (%.1f s)" % (scenario.name, result["reason"], result["seconds"]), flush=True)
                for line in result["details"]:
                    print("    " + line, flush=True)
    finally:
        session.close()
        if args.report:
            with open(args.report, "w") as f:
                json.dump(results, f, indent=1)
    failed = [r["name"] for r in results if not r["passed"]]
    print("%d scenario(s) in %.1f s; %s" % (len(results), time.monotonic() - started,
                                            "failed: " + ", ".join(failed) if failed else "all passed"),
          flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
