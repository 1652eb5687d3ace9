* USE, SELECT, aliases and the functions that report on work areas.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_workareas_" + SYS(3)
MKDIR &cDir
CD &cDir

* A fresh session: area 1 current, nothing open.
? SELECT(), SELECT(0), SELECT(1), "[" + ALIAS() + "]", "[" + DBF() + "]", USED("customers")
value("SELECT(2)")
value("SELECT(.T.)")
value("USED(0)")
value("USED(32768)")
value("ALIAS(7)")
value("RECNO()")
value("RECCOUNT()")
value("EOF()")

CREATE TABLE customers (name C(10), city C(10))
? "created", SELECT(), ALIAS(), JUSTFNAME(DBF()), RECCOUNT(), EOF(), BOF()
APPEND BLANK
REPLACE name WITH "Ann"
REPLACE city WITH "Oslo"
APPEND BLANK IN customers
REPLACE name WITH "Bob"
REPLACE city WITH "Rome"
APPEND BLANK IN 1
REPLACE name WITH "Cy" IN customers
? RECCOUNT(), RECCOUNT(1), RECCOUNT("customers"), RECCOUNT("CUSTOMERS"), RECNO(1), RECNO("Customers")
CREATE TABLE orders (id I, customer C(10))
? "orders in", SELECT(), ALIAS(), SELECT("customers"), SELECT("orders"), SELECT("nosuch")
APPEND BLANK
REPLACE id WITH 7
REPLACE customer WITH "Bob"

* USE ... IN 0 opens into the lowest free area and leaves the current area alone.
USE customers IN 1 SHARED
USE customers IN 0 AGAIN SHARED ALIAS cust2
? "again", SELECT(), SELECT("cust2"), ALIAS(3), RECCOUNT("cust2"), cust2.name, customers.name
check("USE customers IN 0 SHARED ALIAS c3")
check("USE customers IN 0 ALIAS CUST2 AGAIN SHARED")
check("USE nosuch IN 0")
check("USE customers IN 32768")
check("USE customers EXCLUSIVE SHARED")
check("SELECT 32768")
check("SELECT nosuch")
check("GO TOP IN nosuch")
check("GO TOP IN 9")

* SELECT by number, alias and 0.
SELECT 1
? "select 1", SELECT(), ALIAS(), name
SELECT orders
? "select orders", SELECT(), ALIAS(), customer
SELECT 0
? "select 0", SELECT(), "[" + ALIAS() + "]", USED(4), USED("orders")
value("RECNO()")
check("APPEND BLANK")
? RECNO("customers"), RECNO(2)

* USE without a file closes the area; USE IN n closes that area.
USE IN 3
? "closed 3", USED(3), USED("cust2"), SELECT("cust2")
SELECT 2
USE
? "closed 2", USED(2), SELECT(), "[" + ALIAS() + "]"
check("USE IN 2")

* USE follows SET EXCLUSIVE; a second open of a file without AGAIN raises 3.
SET EXCLUSIVE OFF
USE orders IN 2
? "reopened", ALIAS(2), RECCOUNT("orders")
check("USE orders IN 0")
USE IN orders
SET EXCLUSIVE ON
USE orders IN 2 SHARED NOUPDATE
TRY
  REPLACE id WITH 1 IN orders
CATCH TO e
  ? "NOUPDATE ->", e.ErrorNo
ENDTRY
USE IN 2

* A failing USE leaves the target area empty.
SELECT 1
check("USE nosuch")
? "after failed USE", USED(1), "[" + ALIAS() + "]"

CD &cHome
RUN rm -rf &cDir

PROCEDURE value(cExpr)
  TRY
    ? cExpr, "=", EVALUATE(cExpr)
  CATCH TO e
    ? cExpr, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
