#!/usr/bin/env python3
"""Writes a large Qz program for timing and weighing the compiler.

  make_program.py simple|mixed MEGABYTES OUTPUT.prg

simple: lines of `x = 1` only.
mixed:  a main program of assignments, IF/ELSE blocks, DO WHILE loops, calls and string work,
        then procedures and functions holding FOR loops, CASE blocks, TRY blocks and long lines
        continued with `;`. The program runs to its end in a moment and prints one line.
        (The FOR loops stay inside procedures: each takes a slot of its frame.)
"""
import sys


def simple(size):
    line = "x = 1\n"
    return line * (size // len(line))


def main_chunk(i):
    return (
        f"a{i % 50} = {i} * 2 + n\n"
        f"s = \"text {i}\" + LTRIM(STR(n))\n"
        f"IF n > {i % 7}\n"
        f"   n = n + 1\n"
        f"ELSE\n"
        f"   n = n - 1\n"
        f"ENDIF\n"
        f"k = 0\n"
        f"DO WHILE k < 2\n"
        f"   k = k + 1\n"
        f"ENDDO\n"
        f"t = t + p{i % 100}(n, k)\n"
        f"* a comment line {i}\n"
        f"u = IIF(n > 3, UPPER(s), LOWER(s)) && a trailing note\n"
    )


def routine_chunk(i):
    return (
        f"PROCEDURE p{i}\n"
        f"   LPARAMETERS a, b\n"
        f"   LOCAL i, r\n"
        f"   r = 0\n"
        f"   FOR i = 1 TO 3\n"
        f"      r = r + i * a - b\n"
        f"   ENDFOR\n"
        f"   DO CASE\n"
        f"   CASE r > 100\n"
        f"      r = r - 100\n"
        f"   CASE r < 0\n"
        f"      r = 0\n"
        f"   OTHERWISE\n"
        f"      r = r + {i}\n"
        f"   ENDCASE\n"
        f"   TRY\n"
        f"      r = r + ;\n"
        f"          LEN(\"abc\") + ;\n"
        f"          1\n"
        f"   CATCH TO e\n"
        f"      r = -1\n"
        f"   ENDTRY\n"
        f"   RETURN r\n"
        f"ENDPROC\n"
    )


def mixed(size):
    head = "LOCAL n, t, s, k, u\nn = 1\nt = 0\ns = \"\"\n"
    parts = [head]
    total = len(head)
    routines = []
    rtotal = 0
    i = 0
    # About half the bytes in the main program, half in routines; p0..p99 always exist.
    while total + rtotal < size or len(routines) < 100:
        chunk = main_chunk(i)
        parts.append(chunk)
        total += len(chunk)
        r = routine_chunk(len(routines))
        routines.append(r)
        rtotal += len(r)
        i += 1
    parts.append("? t\nRETURN\n")
    return "".join(parts) + "".join(routines)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("simple", "mixed"):
        sys.exit(__doc__)
    size = int(float(sys.argv[2]) * 1024 * 1024)
    text = simple(size) if sys.argv[1] == "simple" else mixed(size)
    with open(sys.argv[3], "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
