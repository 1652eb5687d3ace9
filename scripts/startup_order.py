#!/usr/bin/python3
"""Writes runtime/startup_order.ld: the functions of libqzbase0 that starting a program runs, in one
block at the front of the library's code.

    startup_order.py BUILD_DIR [PROGRAM.prg ...]

A program's start runs a few hundred functions scattered over nearly every source file, and the
kernel maps a file's pages around each page a process touches: run where the linker left them, a
start maps almost all of the library's 2 MB of code. Gathered in one block they take a few hundred
kilobytes. The library is compiled with one section per function (runtime/CMakeLists.txt), and the
linker places the sections listed here in one block at the head of the library's .text.

BUILD_DIR is an optimised build (its shell/qzsh and runtime/libqzbase0.so.0); each program (by
default the start-up and the small loop and call workloads of bench/lang/peers) runs once under
valgrind's callgrind, which names every function of the library that ran. The list keeps its
order from one run to the next: functions that no longer run leave it, new ones are added at its
end. Between runs, a function renamed or removed only leaves a line that matches nothing, and one
added runs where the linker puts it. Needs valgrind.
"""
import collections
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_PROGRAMS = [("bench/lang/peers/startup.prg", []), ("bench/lang/peers/loop.prg", ["100"]),
                    ("bench/lang/peers/fib.prg", ["5"]), ("bench/lang/peers/strbuild.prg", ["100"])]


def sections(name):
    """The sections GCC may have put the function name in (-ffunction-sections): a function's cold
    part foo.cold goes with the other cold parts of its file in .text.unlikely.foo."""
    if name.endswith(".cold"):
        return [".text.unlikely." + name[:-len(".cold")]]
    return [prefix + name for prefix in (".text.", ".text.startup.", ".text.hot.")]


def functions_run(qzsh, library, program, args):
    """Mangled names of the library's functions that ran, in the order callgrind lists them."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, "--demangle=no",
                        "--compress-strings=no", "--compress-pos=no", qzsh, program] + args,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=work)
        names = []
        in_library = False
        with open(out) as f:
            for line in f:
                if line.startswith("ob="):
                    in_library = os.path.realpath(line[3:].strip()) == os.path.realpath(library)
                elif line.startswith("fn=") and in_library:
                    name = line[3:].strip().split("'")[0]  # fib'2: a deeper recursion of fib
                    if not name.startswith("0x"):  # code without a symbol (linker stubs)
                        names.append(name)
        return names


def aliases(library):
    """Every name of each function address (constructors and destructors have two or three)."""
    by_address = collections.defaultdict(list)
    by_name = {}
    out = subprocess.run(["nm", "--defined-only", library], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "tTwW":
            by_address[parts[0]].append(parts[2])
            by_name[parts[2]] = parts[0]
    return lambda name: by_address.get(by_name.get(name), [name]) or [name]


def previous_list(path):
    """The function names of the list as it stands, in its order."""
    names = []
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                if line.startswith("*(.text.unlikely."):
                    names.append(line.split()[0][len("*(.text.unlikely."):].rstrip(")") + ".cold")
                elif line.startswith("*(.text."):
                    names.append(line.split()[0][len("*(.text."):].rstrip(")"))
    return names


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    qzsh = os.path.join(build, "shell", "qzsh")
    library = os.path.join(build, "runtime", "libqzbase0.so.0")
    programs = [(os.path.abspath(p), []) for p in sys.argv[2:]] or \
        [(os.path.join(ROOT, p), args) for p, args in DEFAULT_PROGRAMS]
    names_of = aliases(library)
    run, seen = [], set()
    for program, args in programs:
        for name in functions_run(qzsh, library, program, args):
            for alias in names_of(name):
                if alias not in seen and not alias.startswith("_init") and not alias.startswith("_fini"):
                    seen.add(alias)
                    run.append(alias)
    # The list keeps its order: functions that still run stay where they were, new ones follow.
    listed = previous_list(os.path.join(ROOT, "runtime", "startup_order.ld"))
    ordered = [name for name in listed if name in seen]
    ordered += [name for name in run if name not in set(listed)]
    lines = ["/* Generated by scripts/startup_order.py: the functions that starting a program runs, placed",
             "   together at the head of the library's .text (runtime/CMakeLists.txt includes this list in",
             "   the linker's script). */",
             "/* The processor-feature probe of the compiler's support library, run by every start. */",
             "*libgcc.a:cpuinfo.o(.text .text.*)"]
    for name in ordered:
        lines.append("*(" + " ".join(sections(name)) + ")")
    lines.append("")
    with open(os.path.join(ROOT, "runtime", "startup_order.ld"), "w") as f:
        f.write("\n".join(lines))
    if len(ordered) < 100:
        sys.exit("only %d functions found: is the library's .text one section?" % len(ordered))
    print("%d functions" % len(ordered))


if __name__ == "__main__":
    main()
