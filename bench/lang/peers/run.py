#!/usr/bin/python3
"""Runs the Qz workloads of this folder beside their Lua 5.4 and Python 3 peers and prints the
cost of one unit of work in each language and the ratios.

    run.py QZSH [--base QZSH] [--runs N] [--timer 'COMMAND'] [--only NAME,...]

Every workload is a whole process run twice per language: with the measured count and with
count 0; the difference of the two medians divided by the units of work is the figure quoted, so
start-up and compilation stay out of it. The start-up row is the whole run of a program that
prints 1, with its peak resident memory.

--base QZSH times a second qzsh (an older build) in the same run, for a before/after column; a
libqzbase0.so.0 beside it is the library it runs with (its build tree's otherwise).
Processes are pinned to one processor (cpu 0, or --cpu). By default each run is timed here
(monotonic clock around the child, peak memory from its rusage). --timer names an external
whole-process timer instead; it is called as COMMAND -n RUNS --pin CPU --timeout S -- PROGRAM...
and must print a row 'A wall s' whose second figure is the median (the start-up's peak memory
is still read here, through GNU time when present: see peak_of).
"""
import argparse
import os
import shlex
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LUA = "lua5.4"
PYTHON = "/usr/bin/python3"


def fib_calls(d):
    a, b = 0, 1  # fib(d) makes 2*fib(d+1)-1 calls
    for _ in range(d + 1):
        a, b = b, a + b
    return 2 * a - 1


# name, count, units of work for a count, unit label, scale of the unit label in seconds
WORKLOADS = [
    ("loop", 10_000_000, lambda n: n, "ns/iteration", 1e-9),
    ("fib", 30, fib_calls, "ns/call", 1e-9),
    ("array", 2_000_000, lambda n: n, "ns/element", 1e-9),
    ("strbuild", 1_000_000, lambda n: n, "ns/iteration", 1e-9),
    ("try_ok", 2_000_000, lambda n: n, "ns/iteration", 1e-9),
    ("try_error", 100_000, lambda n: n, "us/catch", 1e-6),
    ("append", 100_000, lambda n: 1, "ms for 1e5", 1e-3),
    ("append", 400_000, lambda n: 1, "ms for 4e5", 1e-3),
    ("append", 1_000_000, lambda n: 1, "ms for 1e6", 1e-3),
]


def command(lang, qzsh, name, count):
    if lang == "lua":
        return [LUA, os.path.join(HERE, name + ".lua")] + ([] if count is None else [str(count)])
    if lang == "python":
        return [PYTHON, os.path.join(HERE, name + ".py")] + ([] if count is None else [str(count)])
    return [qzsh, os.path.join(HERE, name + ".prg")] + ([] if count is None else [str(count)])


GNU_TIME = "/usr/bin/time"


def peak_of(cmd, cpu, env):
    """The peak resident memory of one run, in MiB. A process forked from this script starts with
    this script's pages, which its own figure never goes below; GNU time forks the command from
    its own small process instead. Without it, the figure is that of the direct child."""
    if not os.path.exists(GNU_TIME):
        return None
    with tempfile.NamedTemporaryFile("r") as out:
        status = subprocess.call([GNU_TIME, "-f", "%M", "-o", out.name] + cmd, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                                 preexec_fn=lambda: os.sched_setaffinity(0, {cpu}))
        if status != 0:
            sys.exit("failed (status %d): %s" % (status, shlex.join(cmd)))
        return int(out.read().split()[-1]) / 1024.0


def measure_here(cmd, runs, cpu, env):
    walls, peaks = [], []
    for k in range(runs + 1):  # the first run warms caches and is not counted
        start = time.monotonic()
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, env=env,
                             preexec_fn=lambda: os.sched_setaffinity(0, {cpu}))
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.monotonic() - start
        if status != 0:
            sys.exit("failed (status %d): %s" % (status, shlex.join(cmd)))
        if k:
            walls.append(wall)
            peaks.append(usage.ru_maxrss / 1024.0)
    peak = peak_of(cmd, cpu, env)
    return statistics.median(walls), peak if peak is not None else statistics.median(peaks)


def measure_with_timer(timer, cmd, runs, cpu, env):
    args = shlex.split(timer) + ["-n", str(runs), "--pin", str(cpu), "--timeout", "3000", "--"] + cmd
    out = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env).stdout
    wall = peak = None
    for line in out.splitlines():
        f = line.split()
        if line.startswith("A wall s"):
            wall = float(f[4])
        elif line.startswith("A peak MiB"):
            peak = float(f[4])
        elif " exit " in line and not line.rstrip().endswith("(%d of %d)" % (runs, runs)) and "exit 0" not in line:
            sys.exit("failed: %s\n%s" % (shlex.join(cmd), out))
    if wall is None:
        sys.exit("timer printed no wall row for %s:\n%s" % (shlex.join(cmd), out))
    return wall, peak


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("qzsh")
    ap.add_argument("--base", help="a second qzsh timed in the same run (before)")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cpu", type=int, default=0)
    ap.add_argument("--timer")
    ap.add_argument("--only", help="comma-separated workload names")
    a = ap.parse_args()

    base_env = None
    if a.base and os.path.exists(os.path.join(os.path.dirname(os.path.abspath(a.base)), "libqzbase0.so.0")):
        base_env = dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(os.path.abspath(a.base)))

    def measure(cmd):
        env = base_env if a.base and cmd[0] == a.base else None
        if a.timer:
            return measure_with_timer(a.timer, cmd, a.runs, a.cpu, env)
        return measure_here(cmd, a.runs, a.cpu, env)

    langs = [("Qz", a.qzsh)]
    if a.base:
        langs.insert(0, ("Qz before", a.base))
    langs += [("Lua 5.4", None), ("Python 3", None)]
    lang_key = {"Lua 5.4": "lua", "Python 3": "python"}
    only = set(a.only.split(",")) if a.only else None

    header = ["work", "unit"] + [l for l, _ in langs] + ["Qz/Lua", "Qz/Python"]
    rows = []
    zero_cache = {}
    for name, count, units, unit, scale in WORKLOADS:
        if only and name not in only:
            continue
        row = [name if name != "append" else "append s=s+\"x\"", unit]
        figures = {}
        for label, qz in langs:
            lang = lang_key.get(label, "qz")
            if lang == "lua" and name == "append" and count > 100_000:
                # Lua copies the whole text on every concatenation: quadratic, minutes at 1e6.
                figures[label] = 0.0
                row.append("-")
                continue
            key = (label, name)
            if key not in zero_cache:
                zero_cache[key] = measure(command(lang, qz, name, 0))[0]
            t = measure(command(lang, qz, name, count))[0]
            figures[label] = max(t - zero_cache[key], 0.0) / units(count) / scale
            row.append("%.3g" % figures[label])
            print("  %-10s %-9s %s" % (name, label, row[-1]), file=sys.stderr, flush=True)
        row.append("%.2f" % (figures["Qz"] / figures["Lua 5.4"]) if figures["Lua 5.4"] > 0 else "-")
        row.append("%.2f" % (figures["Qz"] / figures["Python 3"]) if figures["Python 3"] > 0 else "-")
        rows.append(row)
    if not only or "startup" in only:
        wall_row = ["startup `? 1`", "ms"]
        peak_row = ["peak memory `? 1`", "MB"]
        figs = {}
        for label, qz in langs:
            cmd = command(lang_key.get(label, "qz"), qz, "startup", None)
            t, peak = measure(cmd)
            if a.timer:
                # An external timer may not see below its own footprint.
                env = base_env if a.base and cmd[0] == a.base else None
                peak = peak_of(cmd, a.cpu, env) or peak
            figs[label] = (t, peak)
            wall_row.append("%.3g" % (t * 1e3))
            peak_row.append("%.3g" % peak if peak is not None else "-")
        for i, r in ((0, wall_row), (1, peak_row)):
            for other in ("Lua 5.4", "Python 3"):
                b = figs[other][i]
                r.append("%.2f" % (figs["Qz"][i] / b) if b else "-")
        rows += [wall_row, peak_row]

    widths = [max(len(str(r[c])) for r in rows + [header]) for c in range(len(header))]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(header, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")


if __name__ == "__main__":
    main()
