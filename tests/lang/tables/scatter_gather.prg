* SCATTER into an array, memory variables and an object, and GATHER back; MEMO and BLANK.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_scatter_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE people (name C(8), notes M, age N(3), born D NULL)
APPEND BLANK
REPLACE name WITH "Ann"
REPLACE notes WITH "likes tea"
REPLACE age WITH 41
REPLACE born WITH {^1985-03-02}

LOCAL a
SCATTER TO a
? "to:", ALEN(a), a[1], a[2], a[3]
SCATTER TO a MEMO
? "to memo:", ALEN(a), a[2]
SCATTER TO a BLANK
? "to blank:", ALEN(a), "[" + a[1] + "]", a[2], a[3]

scatter_vars()

LOCAL o
SCATTER NAME o
? "name:", o.name, o.age, PEMSTATUS(o, "notes", 5)
ADDPROPERTY(o, "extra", 1)
SCATTER NAME o ADDITIVE MEMO
? "additive keeps:", o.extra, o.notes
SCATTER NAME o
? "fresh object:", PEMSTATUS(o, "extra", 5), o.name

* GATHER FROM writes the selected fields and the record.
a[1] = "Bob"
a[2] = 7
a[3] = {^2000-01-01}
DIMENSION a(3)
a[1] = "Bob"
a[2] = 7
a[3] = {^2000-01-01}
GATHER FROM a
? "from:", name, age, born, notes
* GATHER MEMVAR leaves a field without a variable unchanged.
gather_some()
? "memvar:", people.name, age, born
o = CREATEOBJECT("Empty")
ADDPROPERTY(o, "age", 99)
GATHER NAME o
? "name:", people.name, age
ADDPROPERTY(o, "notes", "memo text")
GATHER NAME o MEMO
? "name memo:", notes

* A GATHER that fails half-way leaves the record as it was: the fields written before the failure
* do not reach the file with the next DELETE.
PRIVATE aBad
DIMENSION aBad(3)
aBad[1] = "Half"
aBad[2] = "not a number"
aBad[3] = {^2001-01-01}
check("GATHER FROM aBad")
? "after failed gather:", people.name, age
DELETE
GO TOP
? "record on file:", people.name, age, DELETED()

USE
check("SCATTER TO a")
check("SCATTER MEMVAR")
check("GATHER MEMVAR")

CD &cHome
RUN rm -rf &cDir

* The variables SCATTER MEMVAR makes are private to this procedure.
PROCEDURE scatter_vars
  SCATTER MEMVAR
  ? "memvar:", m.name, m.age, m.born, TYPE("m.notes")
  SCATTER MEMVAR MEMO
  ? "memvar memo:", m.notes
  SCATTER MEMVAR BLANK
  ? "memvar blank:", "[" + m.name + "]", m.age, EMPTY(m.born)
ENDPROC

PROCEDURE gather_some
  PRIVATE name, born
  name = "Cy"
  born = .NULL.
  GATHER MEMVAR
ENDPROC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
