* Result sets of SQLite become cursors: every kind of parameter goes into a table and comes back
* into a cursor whose fields follow the types the driver reports, long text arrives whole in a
* memo, text longer than its field is cut to the field's width, and the cursor takes its alias
* and work area as a new table would.
LOCAL h, aF[1], i, nF, lYes, vNull, nSmall, nBig, nNum, yMoney, dDay, dNone, tAt, tNone, qBin, cName
LOCAL cLong, cWide, cAccents, cForeign, e
h = SQLCONNECT("qz_sqlite")
? SQLEXEC(h, "CREATE TABLE k (l BOOLEAN, z INTEGER, s INTEGER NOT NULL, b NUMERIC(20), n DOUBLE, " + ;
  "y DECIMAL(10,2), d DATE, de DATE, t TIMESTAMP, te TIMESTAMP, w BLOB, c VARCHAR(30), m TEXT, v VARCHAR(20))")
lYes = .T.
vNull = NULL
nSmall = -2147483648
nBig = 10000000000
nNum = 2.5
yMoney = NTOM(-1.5)
dDay = DATE(2024, 2, 29)
dNone = {}
tAt = DATETIME(2023, 12, 31, 23, 59, 58)
tNone = DTOT({})
qBin = 0h00FF41
cName = "Zoë Ångström"
cLong = REPLICATE("0123456789", 500)
cWide = REPLICATE("x", 299) + "y"
? SQLEXEC(h, "INSERT INTO k VALUES (?lYes, ?vNull, ?nSmall, ?nBig, ?nNum, ?yMoney, ?dDay, ?dNone, ?tAt, " + ;
  "?tNone, ?qBin, ?cName, ?cLong, ?cWide)")
cAccents = REPLICATE("é", 3000)
? SQLEXEC(h, "INSERT INTO k (s, c, m, v) VALUES (7, ?(REPLICATE('ü', 40)), ?cAccents, ?(REPLICATE('ß', 25)))")
? SQLEXEC(h, "SELECT * FROM k")
* the cursor is the current work area, on its first record
? ALIAS(), SELECT(), RECCOUNT(), RECNO(), BOF(), EOF()
nF = AFIELDS(aF)
FOR i = 1 TO nF
  ? aF[i, 1], aF[i, 2], aF[i, 3], aF[i, 4], aF[i, 5]
ENDFOR
? l, z, s, b, n, y
? d, de, t, te
? w
? c, LEN(c)
? LEN(m), m == cLong
? v, LEN(v)
SKIP
* nulls of the unset columns; the text cut to the widths
? l, z, s, d, t
? c, LEN(c)
? LEN(m), m == cAccents
? v, LEN(v)

* an empty result is an empty cursor, at its end
? SQLEXEC(h, "SELECT s, c FROM k WHERE s = 0")
? ALIAS(), RECCOUNT(), EOF(), BOF()

* a named cursor; the same name again replaces it in the work area it had
? SQLEXEC(h, "SELECT s FROM k ORDER BY s", "Rows")
? ALIAS(), SELECT(), RECCOUNT(), s
SELECT 1
? SQLEXEC(h, "SELECT c FROM k WHERE s = 7", "ROWS")
? ALIAS(), SELECT(), RECCOUNT(), USED("sqlresult"), USED("rows")
* a table of the same alias is closed first
CREATE CURSOR sqlresult (x I)
? ALIAS(), SELECT()
? SQLEXEC(h, "SELECT 1 AS one")
? ALIAS(), SELECT(), one, TYPE("x")

* a row whose value the cursor cannot hold raises the error; the rows before it stay, the failed
* row is not kept, and the handle stays usable
cForeign = "日本"
TRY
  ? SQLEXEC(h, "SELECT 1 AS k, 'one' AS t UNION ALL SELECT 2, CAST(?cForeign AS VARCHAR(10)) UNION ALL " + ;
    "SELECT 3, 'three' ORDER BY 1", "partial")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
? ALIAS(), RECCOUNT(), RECNO(), EOF(), k
GO TOP
? RECNO(), k, t
? SQLEXEC(h, "SELECT COUNT(*) AS n FROM k", "partial"), RECCOUNT(), n

* a null in a column the driver calls NOT NULL becomes the field's empty value
? SQLEXEC(h, "CREATE TABLE nn (s INTEGER NOT NULL, c VARCHAR(5) NOT NULL, d DATE NOT NULL, m TEXT NOT NULL, " + ;
  "b BOOLEAN NOT NULL, n DOUBLE NOT NULL)")
? SQLEXEC(h, "SELECT nn.* FROM (SELECT 1 AS x) AS o LEFT JOIN nn ON 0 = 1")
? AFIELDS(aF), aF[1, 5], aF[2, 5], aF[3, 5], aF[4, 5], aF[5, 5], aF[6, 5]
? s, "[" + c + "]", d, "[" + m + "]", b, n, RECCOUNT()
? SQLDISCONNECT(h)
