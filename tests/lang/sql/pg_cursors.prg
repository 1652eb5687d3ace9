* Result sets of PostgreSQL become cursors: the fields of decimal, big integer and text columns,
* and the result loop: batch mode on and off, SQLMORERESULTS, cursor names, and the info array
* with results without columns.
LOCAL h, a[1], aF[1], i, nF, e
h = SQLSTRINGCONNECT(FILETOSTR(GETENV("QZ_SQL_STATE") + "/pg.conn"))
? SQLEXEC(h, "CREATE TEMP TABLE p (id INT NOT NULL, m2 DECIMAL(10,2), d6 DECIMAL(18,6), big BIGINT, tx TEXT, " + ;
  "v VARCHAR(8))")
? SQLEXEC(h, "INSERT INTO p VALUES (1, 12345678.91, 123456789012.123456, 9223372036854775807, " + ;
  "'Grüße aus Köln', 'Straße'), (2, -0.05, -0.000001, -42, NULL, NULL)")
? SQLEXEC(h, "SELECT * FROM p ORDER BY id")
nF = AFIELDS(aF)
FOR i = 1 TO nF
  ? aF[i, 1], aF[i, 2], aF[i, 3], aF[i, 4], aF[i, 5]
ENDFOR
? id, m2, VARTYPE(m2), big, tx, v
? d6 == 123456789012.123456
SKIP
? id, m2, d6 == -0.000001, big, tx, v

* batch mode: every result set with columns becomes a cursor, numbered after the first
? SQLEXEC(h, "SELECT 1 AS one; SELECT 2 AS two")
? USED("sqlresult"), USED("sqlresult2"), ALIAS(), two
SELECT sqlresult
? one
? SQLEXEC(h, "SELECT 1 AS one; UPDATE p SET v = 'x' WHERE id > 1; SELECT id FROM p ORDER BY id DESC", "c", @a)
? ALEN(a, 1), ALIAS(), RECCOUNT(), id
FOR i = 1 TO ALEN(a, 1)
  ? i, "[" + a[i, 1] + "]", a[i, 2]
ENDFOR
SELECT c
? one

* without batch mode only the first result arrives; SQLMORERESULTS fetches the others
? SQLSETPROP(h, "BatchMode", .F.)
? SQLEXEC(h, "SELECT 10 AS ten; UPDATE p SET v = v; SELECT 20 AS twenty; SELECT 30 AS thirty", "b", @a)
? ALEN(a, 1), a[1, 1], ALIAS(), ten, USED("b2")
? SQLMORERESULTS(h)
? ALIAS(), twenty
? SQLMORERESULTS(h, "last")
? ALIAS(), thirty
? SQLMORERESULTS(h)
? SQLSETPROP(h, "BatchMode", .T.)

* a decimal text that is not a number stops the fetch: the rows before it stay
TRY
  ? SQLEXEC(h, "SELECT k, CAST(v AS DECIMAL(10,2)) AS y FROM (VALUES (1, 1.5), (2, 'NaN'), (3, 3)) AS x(k, v) " + ;
    "ORDER BY k", "nan")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
? ALIAS(), RECCOUNT(), EOF()
GO TOP
? k, y
? SQLDISCONNECT(h)
