* Text beyond ASCII written into the statement itself, as column aliases and in the drivers'
* messages, on SQLite (a driver without wide entry points) and on PostgreSQL. Literals are
* compared on the server with the same text bound as a parameter.
LOCAL h, i, a[1], aF[1], cText, cSource
cText = "Grüße 日本 😀"
FOR i = 1 TO 2
  cSource = IIF(i = 1, "DSN=qz_sqlite", FILETOSTR(GETENV("QZ_SQL_STATE") + "/pg.conn"))
  h = SQLSTRINGCONNECT(cSource)
  ? SQLEXEC(h, "CREATE TEMP TABLE u (k INTEGER, t VARCHAR(40))")
  ? SQLEXEC(h, "INSERT INTO u VALUES (1, 'Grüße 日本 😀')")
  ? SQLEXEC(h, "SELECT k FROM u WHERE t = ?cText AND t = 'Grüße 日本 😀'"), RECCOUNT(), k
  * the alias keeps its letters as the cursor's field name
  ? SQLEXEC(h, [SELECT k AS "Größe", k AS "Ærø" FROM u]), AFIELDS(aF), aF[1, 1], aF[2, 1], Größe
  ? SQLEXEC(h, [SELECT * FROM "nichts_日本😀"])
  ? AERROR(a), a[1, 1], a[1, 2] == "Connectivity error: " + a[1, 3], "nichts_日本😀" $ a[1, 3]
  ? SQLDISCONNECT(h)
ENDFOR
