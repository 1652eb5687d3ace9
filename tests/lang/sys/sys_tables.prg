* SYS(n) ids that read the open table: SYS(2029 [, area]) gives the version byte of its file.
SET PROCEDURE TO check.prg ADDITIVE
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_sys_tables_" + SYS(3)
MKDIR &cDir
CD &cDir

check("SYS(2029)")
check("SYS(9000)")

* A new table is written with version 50 (0x32); a file whose first byte says 48 (0x30) reads
* back as such, by alias and by area.
CREATE TABLE made (a C(4), n N(5))
check("SYS(2029)")
CREATE TABLE other (b C(2))
USE
LOCAL cCommand
cCommand = [sh -c "printf '\060' | dd of=other.dbf bs=1 conv=notrunc status=none"]
RUN &cCommand
USE other IN 3
check("SYS(2029, 'other')")
check("SYS(2029, 3)")
check("SYS(2029, 'MADE')")
check("SYS(2029)")
check("SYS(2029, 2)")
check("SYS(2029, 'nosuch')")
check("SYS(2029, 32768)")
check("SYS(2029, 1, 2)")
SELECT 5
check("SYS(2029)")
check("SYS(2029, 1)")
USE IN 1
USE IN 3

* SYS(9000): the file offset of the leaf under the index cursor, a whole node (512 bytes) into the
* index file. Without a selected order the table has no such leaf (26, like the other leaf
* diagnostics); the first and the last of 2000 keys lie in different leaves.
CREATE TABLE keyed (n I)
LOCAL k, nTop
FOR k = 1 TO 2000
  APPEND BLANK
  REPLACE n WITH k
ENDFOR
check("SYS(9000)")
INDEX ON n TAG byn
GO TOP
nTop = SYS(9000)
? "top leaf:", VARTYPE(nTop), nTop > 0, nTop % 512
GO BOTTOM
? "bottom leaf:", SYS(9000) > 0, SYS(9000) % 512, SYS(9000) <> nTop
SET ORDER TO
check("SYS(9000)")
USE

CD &cHome
RUN rm -rf &cDir
