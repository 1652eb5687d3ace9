#!/usr/bin/env python3
"""Runs qzsh over generated programs and reports crashes, sanitizer reports and hangs.

Programs come from three generators, in turn:
  tokens     a soup of the language's words, operators, literals and directives;
  mutations  a seed program with lines, tokens or bytes changed, repeated, cut or spliced;
  nesting    blocks, conditionals, parentheses and calls nested at random depths.
Generated programs name no absolute path and start no process, and every loop they run is bounded
(guard_loops), so a run over 10 s is a hang of the shell, not of the program.

Each program runs in a scratch folder with the sanitizers' options of the suite. A finding (exit
by a signal, a sanitizer report, a crash report of the shell, or a time-out) is kept in the
findings folder with its output.

  qzsh_programs.py fuzz QZSH --seconds N [--cpu-seconds C] [--seed S] [--workers W] [--findings DIR] [--corpus DIR]
      W workers with the seeds S, S+1, ... share the CPU budget C; the summary gives the programs
      run, the CPU minutes, the crashes, sanitizer reports and hangs, and the slowest program.
  qzsh_programs.py replay QZSH CORPUS_DIR     (the suite: every seed must run clean)
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TIMEOUT = 10.0
SANITIZER = re.compile(rb"ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: (Address|Undefined|Leak)")
CRASH_REPORT = re.compile(rb"Program abnormally terminated|Program is being terminated")

ENV = {
    "LANG": "C.UTF-8",
    "LC_ALL": "C.UTF-8",
    "TZ": "UTC",
    "PATH": "/usr/bin:/bin",
    "ASAN_OPTIONS": "abort_on_error=0:halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1",
    "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1",
}
# A copy of the shell and its library taken aside for a long run is found through this.
if "LD_LIBRARY_PATH" in os.environ:
    ENV["LD_LIBRARY_PATH"] = os.environ["LD_LIBRARY_PATH"]

KEYWORDS = [
    "IF", "ELSE", "ENDIF", "DO", "WHILE", "ENDDO", "FOR", "TO", "STEP", "ENDFOR", "NEXT", "EXIT",
    "LOOP", "CASE", "OTHERWISE", "ENDCASE", "TRY", "CATCH", "FINALLY", "ENDTRY", "THROW", "WITH",
    "ENDWITH", "LOCAL", "PRIVATE", "PUBLIC", "DIMENSION", "DECLARE", "STORE", "RETURN", "FUNCTION",
    "PROCEDURE", "ENDFUNC", "ENDPROC", "PARAMETERS", "LPARAMETERS", "DEFINE", "CLASS", "AS",
    "ENDDEFINE", "TEXT", "ENDTEXT", "TEXTMERGE", "NOSHOW", "ADDITIVE", "NOT", ".NOT.", ".AND.",
    ".OR.", "AND", "OR", "IN", "EACH", "M.", "THIS", "NULL", ".NULL.", "SET", "ON", "OFF", "TYPE",
    "EXACT", "?", "??", "\\", "\\\\", "&", "=", "==", "!=", "#", "<>", "<=", ">=", "<", ">", "+",
    "-", "*", "/", "%", "^", "**", "$", "(", ")", "[", "]", "{", "}", ",", ";", ":", ".", "@",
]
FUNCTIONS = [
    "LEN", "LEFT", "RIGHT", "SUBSTR", "UPPER", "LOWER", "ALLTRIM", "TRIM", "LTRIM", "RTRIM",
    "STR", "VAL", "SPACE", "REPLICATE", "AT", "RAT", "STRTRAN", "CHRTRAN", "PADL", "PADR",
    "PADC", "CHR", "ASC", "INT", "ROUND", "ABS", "MOD", "MAX", "MIN", "SQRT", "LOG", "EXP",
    "IIF", "EMPTY", "ISNULL", "NVL", "EVL", "ALEN", "ARRAY", "ASCAN", "ASORT", "ACOPY", "ADEL",
    "AINS", "AELEMENT", "ASUBSCRIPT", "TRANSFORM", "DATE", "CTOD", "DTOC", "DTOS", "YEAR",
    "MONTH", "DAY", "GOMONTH", "STRCONV", "HASH", "GETWORDCOUNT", "GETWORDNUM", "PROPER",
    "OCCURS", "STUFF", "FILETOSTR", "STRTOFILE", "FILE", "JUSTFNAME", "FORCEEXT", "TYPE",
    "VARTYPE", "EVALUATE", "BITAND", "BITOR", "BITXOR", "CEILING", "FLOOR", "SIGN", "PI",
]
NAMES = ["a", "b", "c", "x", "y", "s", "n", "i", "e", "arr", "obj", "m.a", "THIS"]
LITERALS = [
    "0", "1", "-1", "2", "10", "255", "1.5", "-0.0", "1e308", "1e-308", "9223372036854775807",
    "-9223372036854775808", "18446744073709551616", "0x7F", "0xFFFFFFFFFFFFFFFF", "$1.25",
    '""', '"a"', "'b'", "[c]", '"\u00e9\u00e8"', '"\U0001F600"', '"a;b"', ".T.", ".F.", ".NULL.",
    "{^2024-02-29}", "{^9999-12-31}", "{^10000-01-01}", "{^2024-13-45}", "{}", "{^2024-01-01 10:20:30}",
    "NULL", "0h", "0h00FF", "1/0", "0/0", "-1/0",
]
DIRECTIVES = ["#define A 1", "#define B A A", "#undef A", "#if .T.", "#if .F.", "#ifdef A",
              "#ifndef B", "#else", "#endif", "#error no", "#include \"nothing.h\""]


def literal(rng):
    return rng.choice(LITERALS)


def expression(rng, depth=0):
    roll = rng.random()
    if depth > 6 or roll < 0.3:
        return literal(rng) if rng.random() < 0.6 else rng.choice(NAMES)
    if roll < 0.5:
        op = rng.choice(["+", "-", "*", "/", "%", "^", "=", "==", "<>", "<", ">=", "$", ".AND.", ".OR."])
        return expression(rng, depth + 1) + " " + op + " " + expression(rng, depth + 1)
    if roll < 0.6:
        return rng.choice(["-", "!", "NOT ", ".NOT. "]) + expression(rng, depth + 1)
    if roll < 0.7:
        return "(" + expression(rng, depth + 1) + ")"
    if roll < 0.9:
        args = ", ".join(expression(rng, depth + 1) for _ in range(rng.randint(0, 3)))
        return rng.choice(FUNCTIONS) + "(" + args + ")"
    name = rng.choice(["arr", "a", "x"])
    return name + "[" + expression(rng, depth + 1) + ("," + expression(rng, depth + 1) if rng.random() < 0.3 else "") + "]"


def statement(rng):
    roll = rng.random()
    if roll < 0.35:
        return rng.choice(NAMES[:10]) + " = " + expression(rng)
    if roll < 0.55:
        return rng.choice(["?", "??", "? 1,"]) + " " + expression(rng)
    if roll < 0.62:
        return rng.choice(["DIMENSION", "LOCAL", "PRIVATE", "PUBLIC"]) + " " + rng.choice(["arr", "a", "x"]) + \
            rng.choice(["", "[3]", "(2,3)", "[0]", "[-1]", "(%s)" % literal(rng)])
    if roll < 0.7:
        return "\\" + rng.choice(["", "\\", "text <<" + expression(rng) + ">>"])
    if roll < 0.78:
        return "STORE " + expression(rng) + " TO " + rng.choice(NAMES[:10])
    if roll < 0.85:
        return rng.choice(DIRECTIVES)
    if roll < 0.9:
        return "THROW " + expression(rng)
    return "RETURN" if rng.random() < 0.2 else "x = " + expression(rng)


def block(rng, depth, budget):
    """Nested structures; every loop is bounded."""
    out = []
    for _ in range(rng.randint(1, 4)):
        if budget[0] <= 0:
            break
        budget[0] -= 1
        kind = rng.random() if depth < 40 else 1.0
        inner = lambda: block(rng, depth + 1, budget)
        if kind < 0.15:
            out += ["IF " + expression(rng)] + inner() + (["ELSE"] + inner() if rng.random() < 0.5 else []) + ["ENDIF"]
        elif kind < 0.27:
            v = "i%d" % depth
            out += ["FOR %s = %s TO %s%s" % (v, rng.choice(["1", "0", "-2", "3"]), rng.choice(["0", "2", "5"]),
                                             rng.choice(["", " STEP 2", " STEP -1", " STEP 0.5"]))] + inner() + ["ENDFOR"]
        elif kind < 0.37:
            v = "w%d" % depth
            out += ["%s = 0" % v, "DO WHILE %s < %d" % (v, rng.randint(0, 3)), "%s = %s + 1" % (v, v)] + inner() + ["ENDDO"]
        elif kind < 0.5:
            out += ["TRY"] + inner() + ["CATCH TO e", "? e.ErrorNo"] + (["FINALLY"] + inner() if rng.random() < 0.3 else []) + ["ENDTRY"]
        elif kind < 0.58:
            out += ["DO CASE", "CASE " + expression(rng)] + inner() + (["OTHERWISE"] + inner() if rng.random() < 0.5 else []) + ["ENDCASE"]
        elif kind < 0.64:
            out += [rng.choice(["#if .T.", "#if .F.", "#ifdef A", "#ifndef A"])] + inner() + ["#endif"]
        elif kind < 0.7:
            d = rng.randint(1, 300)
            out += ["x = " + "(" * d + expression(rng) + ")" * d]
        elif kind < 0.74:
            out += ["TEXT TO s NOSHOW"] + ["line <<%s>>" % expression(rng) for _ in range(rng.randint(0, 2))] + ["ENDTEXT"]
        else:
            out.append(statement(rng))
    return out


def gen_tokens(rng, seeds):
    pool = KEYWORDS + FUNCTIONS + NAMES + LITERALS + DIRECTIVES
    lines = []
    for _ in range(rng.randint(1, 30)):
        lines.append(" ".join(rng.choice(pool) for _ in range(rng.randint(0, 12))))
    return "\n".join(lines) + "\n"


def gen_nesting(rng, seeds):
    lines = block(rng, 0, [rng.randint(5, 120)])
    # Sometimes cut the text short: unclosed blocks and conditionals.
    if rng.random() < 0.2 and lines:
        lines = lines[: rng.randint(0, len(lines))]
    functions = []
    if rng.random() < 0.3:
        functions = ["FUNCTION f", "PARAMETERS p", "RETURN " + expression(rng), "ENDFUNC"]
    return "\n".join(lines + functions) + "\n"


def mutate_bytes(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        if not data:
            data += rng.choice([b"x", b"(", b"\n"])
        pos = rng.randrange(len(data))
        roll = rng.random()
        if roll < 0.3:
            data[pos] = rng.randrange(256)
        elif roll < 0.5:
            del data[pos: pos + rng.randint(1, 16)]
        elif roll < 0.7:
            data[pos:pos] = rng.choice([b"(", b")", b"[", b"]", b'"', b"'", b";", b"&", b"\\", b"#", b"\n",
                                        b"\xc3", b"\xef\xbb\xbf", b"\x00", b"\xff", b"NOT ", b".NOT."])
        else:
            end = min(len(data), pos + rng.randint(1, 64))
            data[pos:pos] = data[pos:end] * rng.randint(1, 20)
    return bytes(data)


def gen_mutation(rng, seeds):
    base = rng.choice(seeds) if seeds else gen_nesting(rng, seeds).encode()
    roll = rng.random()
    if roll < 0.4:
        return mutate_bytes(rng, base)
    lines = base.split(b"\n")
    if roll < 0.7 and lines:
        for _ in range(rng.randint(1, 5)):
            i = rng.randrange(len(lines))
            op = rng.random()
            if op < 0.3:
                del lines[i]
            elif op < 0.6:
                lines.insert(i, lines[rng.randrange(len(lines))] if lines else b"")
            else:
                lines.insert(i, statement(rng).encode())
            if not lines:
                lines = [b""]
        return b"\n".join(lines)
    other = rng.choice(seeds).split(b"\n") if seeds else [b""]
    cut = rng.randint(0, len(lines))
    return b"\n".join(lines[:cut] + other[rng.randint(0, len(other)):])


GENERATORS = [("tokens", gen_tokens), ("mutations", gen_mutation), ("nesting", gen_nesting)]

LOOP_OPENER = re.compile(rb"^[ \t]*(do[ \t]+while|for|scan)\b", re.IGNORECASE)
GUARD = [b"qz_g = IIF(TYPE(\"qz_g\") == \"N\", qz_g + 1, 1)", b"IF qz_g > 20000", b"QUIT", b"ENDIF"]


def guard_loops(program):
    """Bounds every loop: a mutation can drop the line that ends one, and an endless program is not
    a hang of the shell. The first line of each loop body counts in one PUBLIC and ends the program
    past 20,000 turns in all, so a time-out is left to the shell itself."""
    data = program if isinstance(program, bytes) else program.encode("utf-8", "surrogateescape")
    out = [b"PUBLIC qz_g", b"qz_g = 0"]
    joined = False  # the line before ended with ";": this one continues it
    for line in data.split(b"\n"):
        out.append(line)
        if not joined and LOOP_OPENER.match(line) and not line.rstrip().endswith(b";"):
            out += GUARD
        joined = line.rstrip().endswith(b";")
    return b"\n".join(out)


def run_one(qzsh, program, work):
    """Runs one program; returns (verdict, seconds, stderr) with verdict None when clean."""
    path = os.path.join(work, "p.prg")
    with open(path, "wb") as f:
        f.write(program if isinstance(program, bytes) else program.encode("utf-8", "surrogateescape"))
    start = time.monotonic()
    proc = subprocess.Popen([qzsh, path], cwd=work, env=ENV, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
    try:
        _, err = proc.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        _, err = proc.communicate()
        return "hang", time.monotonic() - start, err
    seconds = time.monotonic() - start
    if SANITIZER.search(err):
        return "sanitizer", seconds, err
    if CRASH_REPORT.search(err):
        return "crash", seconds, err
    if proc.returncode < 0:
        return "signal %d" % proc.returncode, seconds, err
    return None, seconds, err


def clean_scratch(work):
    for name in os.listdir(work):
        path = os.path.join(work, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            os.unlink(path)


def load_seeds(folder):
    seeds = []
    if folder and os.path.isdir(folder):
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                seeds.append(f.read())
    return seeds


def fuzz_worker(qzsh, seed, seconds, cpu_seconds, findings_dir, corpus):
    """One worker's run; returns its figures."""
    rng = random.Random(seed)
    seeds = load_seeds(corpus)
    counts = {name: 0 for name, _ in GENERATORS}
    verdicts = {}
    slowest = 0.0
    cpu_start = os.times()
    deadline = time.monotonic() + seconds

    def cpu_used():
        t = os.times()
        return (t.children_user - cpu_start.children_user) + (t.children_system - cpu_start.children_system) + \
            (t.user - cpu_start.user) + (t.system - cpu_start.system)

    with tempfile.TemporaryDirectory() as work:
        n = 0
        while time.monotonic() < deadline and (cpu_seconds is None or cpu_used() < cpu_seconds):
            name, generate = GENERATORS[n % len(GENERATORS)]
            n += 1
            program = guard_loops(generate(rng, seeds))
            verdict, seconds_taken, err = run_one(qzsh, program, work)
            clean_scratch(work)
            counts[name] += 1
            slowest = max(slowest, seconds_taken)
            if verdict:
                kind = verdict.split(" ")[0]
                verdicts[kind] = verdicts.get(kind, 0) + 1
                stem = os.path.join(findings_dir, "%s-%d-%d" % (verdict.replace(" ", ""), seed, n))
                with open(stem + ".prg", "wb") as f:
                    f.write(program if isinstance(program, bytes) else program.encode("utf-8", "surrogateescape"))
                with open(stem + ".err", "wb") as f:
                    f.write(err[:20000])
                print("finding: %s %s (%.1f s)" % (verdict, stem, seconds_taken), flush=True)
    return {"seed": seed, "counts": counts, "verdicts": verdicts, "slowest": slowest, "cpu": cpu_used()}


def fuzz_worker_args(job):
    return fuzz_worker(*job)


def fuzz(args):
    os.makedirs(args.findings, exist_ok=True)
    workers = max(1, args.workers)
    seeds = [args.seed + k for k in range(workers)]
    budget = None if args.cpu_seconds is None else args.cpu_seconds / workers
    jobs = [(args.qzsh, seed, args.seconds, budget, args.findings, args.corpus) for seed in seeds]
    if workers == 1:
        results = [fuzz_worker_args(jobs[0])]
    else:
        import multiprocessing
        with multiprocessing.Pool(workers) as pool:
            results = pool.map(fuzz_worker_args, jobs)
    counts = {name: sum(r["counts"][name] for r in results) for name, _ in GENERATORS}
    verdicts = {}
    for r in results:
        for kind, k in r["verdicts"].items():
            verdicts[kind] = verdicts.get(kind, 0) + k
    total = sum(counts.values())
    findings = sum(verdicts.values())
    for r in results:
        print("seed %d: programs %d, findings %d, slowest %.2f s, CPU %.1f min" %
              (r["seed"], sum(r["counts"].values()), sum(r["verdicts"].values()), r["slowest"], r["cpu"] / 60))
    print("programs %d (%s), CPU %.1f min, seeds %s" %
          (total, ", ".join("%s %d" % kv for kv in counts.items()), sum(r["cpu"] for r in results) / 60,
           " ".join(str(seed) for seed in seeds)))
    print("crashes %d, sanitizer reports %d, hangs over %.0f s %d, other signals %d; slowest %.2f s" %
          (verdicts.get("crash", 0), verdicts.get("sanitizer", 0), TIMEOUT, verdicts.get("hang", 0),
           verdicts.get("signal", 0), max(r["slowest"] for r in results)), flush=True)
    return 1 if findings else 0


def replay(args):
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        for name in sorted(os.listdir(args.corpus)):
            with open(os.path.join(args.corpus, name), "rb") as f:
                program = f.read()
            verdict, seconds, err = run_one(args.qzsh, program, work)
            clean_scratch(work)
            if verdict:
                failed += 1
                print("%s: %s (%.1f s)" % (name, verdict, seconds))
                sys.stdout.write(err[:4000].decode("utf-8", "replace"))
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="mode", required=True)
    f = sub.add_parser("fuzz")
    f.add_argument("qzsh")
    f.add_argument("--seconds", type=float, default=60)
    f.add_argument("--cpu-seconds", type=float, default=None,
                   help="stop once this much CPU time is used (by all workers together)")
    f.add_argument("--seed", type=int, default=1, help="the first worker's seed; the others take the next ones")
    f.add_argument("--workers", type=int, default=1, help="programs run this many at a time")
    f.add_argument("--findings", default="fuzz-findings")
    f.add_argument("--corpus", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "qzsh"))
    r = sub.add_parser("replay")
    r.add_argument("qzsh")
    r.add_argument("corpus")
    args = parser.parse_args()
    args.qzsh = os.path.abspath(args.qzsh)
    return fuzz(args) if args.mode == "fuzz" else replay(args)


if __name__ == "__main__":
    sys.exit(main())
