#!/usr/bin/python3
"""Start-up benchmark of the launcher under Wine (not a test).

  bench.py --launcher EXE --helpers DIR --work DIR [--runs N]
           [--wine CMD] [--prefix DIR]

Measures, side by side and interleaved, over N runs each (after two warm-up
runs of each):
  - the launcher with disc 1 in drive D:, from the start of its process to
    its exit;
  - an empty Windows program (Empty.exe), from start to exit.

Why start-to-exit: the launch request (ShellExecuteA) is the launcher's last
act; WinMain returns right after it, so start-to-exit is start-to-launch-
request plus a return. Both programs are timed the same way (the Wine loader
process, from spawn to its end), so the difference between the two is the
launcher's own work: the drive scan, composing the parameters and asking the
shell to start setup (which includes creating the setup process). Timing to
the moment the stand-in setup program starts would add that program's own
start-up, which is not the launcher's.
"""

import argparse
import os
import statistics
import sys
import time

sys.dont_write_bytecode = True   # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import scenarios  # noqa: E402


def time_run(runner, argv, name):
    started = time.monotonic()
    proc = runner.spawn(argv, name)
    code = proc.wait(60)
    elapsed = time.monotonic() - started
    if code != 0:
        raise SystemExit("%s: exit code %s" % (name, code))
    return elapsed


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--helpers", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--prefix", default=None)
    args = parser.parse_args(argv)

    harness.install_signal_handlers()
    options = harness.Options(wine=args.wine, work=args.work, prefix=args.prefix)
    with harness.Session(options) as session:
        session.start()
        runner = scenarios.Runner(session, os.path.abspath(args.launcher), os.path.abspath(args.helpers))
        scenario = scenarios.Scenario("bench", {"D": scenarios.DISC1}, "start", launched="D")
        exe_path, _ = runner.prepare(scenario)
        empty = session.helper(os.path.abspath(args.helpers), harness.EMPTY_HELPER)

        def launcher_run():
            elapsed = time_run(runner, [exe_path], "launcher")
            if runner.wait_received("D", 20) is None:
                raise SystemExit("the stand-in setup program was not started")
            os.remove(runner.received_path("D"))
            time.sleep(0.2)   # let the stand-in setup program end
            return elapsed

        for _ in range(2):
            launcher_run()
            time_run(runner, [empty], "empty")
        launcher_times, empty_times = [], []
        for _ in range(args.runs):
            launcher_times.append(launcher_run())
            empty_times.append(time_run(runner, [empty], "empty"))
            runner.procs = []

    ml, me = statistics.median(launcher_times), statistics.median(empty_times)
    print("Start to exit under Wine (%s), %d runs each, interleaved:" % (" ".join(options.wine), args.runs))
    print("  %-36s %8s %8s %8s" % ("", "median", "min", "max"))
    print("  %-36s %7.0fms %7.0fms %7.0fms" % ("launcher, disc 1 in D: (to launch)", ml * 1000,
                                              min(launcher_times) * 1000, max(launcher_times) * 1000))
    print("  %-36s %7.0fms %7.0fms %7.0fms" % ("empty program", me * 1000, min(empty_times) * 1000,
                                              max(empty_times) * 1000))
    print("  ratio of medians %.2f; the launcher's own work about %.0f ms" % (ml / me, (ml - me) * 1000))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
