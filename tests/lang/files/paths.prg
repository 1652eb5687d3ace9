* Path parts, existence tests, ADIR over a fixture folder, FDATE along SET PATH.
? JUSTFNAME("/a/b.txt"), JUSTPATH("/a/b.txt"), JUSTSTEM("/a/b.tar.gz"), JUSTEXT("b.tar.gz")
? "[" + JUSTFNAME("/tmp/") + "]", "[" + JUSTPATH("b.txt") + "]", JUSTSTEM(".profile"), "[" + JUSTEXT(".profile") + "]"
? ADDBS("/tmp"), ADDBS("/tmp/"), ADDBS(.NULL.)
? FORCEEXT("a.txt", "dbf"), FORCEEXT("a.txt", ".dbf"), "[" + FORCEEXT("a.txt", "") + "]", "[" + FORCEEXT("dir/", "dbf") + "]"
? DEFAULTEXT("a.txt", "dbf"), DEFAULTEXT("a", "dbf"), DEFAULTEXT("/x/a", ".prg")
? FORCEPATH("/old/a.txt", "/new"), FORCEPATH("a.txt", "/new/"), FORCEPATH("/old/a.txt", "rel")
? DIRECTORY("adir_fixture"), DIRECTORY("adir_fixture/a.dbf"), DIRECTORY("no_such_dir"), DIRECTORY(".")
? FILE("adir_fixture/a.dbf"), FILE("adir_fixture"), FILE("a.dbf"), FILE("no_such_file")
TRY
  ? DIRECTORY(".", 1)
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY

* ADIR: regular files, directories only with D, "." and ".." first; the skeleton's characters
* other than * and ? are literal.
LOCAL n, i
DIMENSION a(1)
n = ADIR(@a, "adir_fixture/*")
show(@a, n)
n = ADIR(@a, "adir_fixture/*", "D")
? n, a[1, 1], a[1, 2], a[1, 5], a[2, 1], a[2, 2], a[2, 5]
show(@a, n)
n = ADIR(@a, "adir_fixture/*.DBF")
show(@a, n)
n = ADIR(@a, "adir_fixture/*.DBF", "", 8)
show(@a, n)
n = ADIR(@a, "adir_fixture/a+b.txt")
show(@a, n)
n = ADIR(@a, "adir_fixture/a?b.txt", "hsv", 4)
show(@a, n)
* Nothing listed: the array stays as it was.
a = "unchanged"
? ADIR(@a, "adir_fixture/*.none"), a
DIMENSION a(1)
FOR EACH_CASE = 1 TO 3
  TRY
    IF EACH_CASE = 1
      ADIR(@a, "*", "X")
    ENDIF
    IF EACH_CASE = 2
      ADIR(@a, "*", "", 5)
    ENDIF
    IF EACH_CASE = 3
      ADIR(@a, "*", "", 24)
    ENDIF
  CATCH TO e
    ? "adir case", EACH_CASE, e.ErrorNo
  ENDTRY
ENDFOR

* FDATE finds the file along SET PATH; FTIME does not search.
SET PATH TO along_path
? FDATE("dated.txt") == FDATE("along_path/dated.txt"), FDATE("dated.txt", 1) == FDATE("along_path/dated.txt", 1)
? FTIME("along_path/dated.txt") == FTIME("along_path/dated.txt")
TRY
  ? FTIME("dated.txt")
CATCH TO e
  ? "ftime", e.ErrorNo
ENDTRY
TRY
  ? FDATE("no_such_file.txt")
CATCH TO e
  ? "fdate", e.ErrorNo
ENDTRY
TRY
  ? FDATE("dated.txt", 2)
CATCH TO e
  ? "fdate type 2", e.ErrorNo
ENDTRY

* The rows sorted by name (the file system's own order varies): name, size, attributes.
FUNCTION show(rows, count)
  LOCAL j
  IF count > 0
    ASORT(@rows)
  ENDIF
  ? "listed", count
  FOR j = 1 TO count
    ? " ", rows[j, 1], rows[j, 2], rows[j, 5]
  ENDFOR
ENDFUNC
