* SQLEXEC on PostgreSQL (the tests' private server): batches of statements without result sets,
* parameters of every size, and statements that match no rows.
LOCAL h, a[1], e[1], big, x
h = SQLSTRINGCONNECT(FILETOSTR(GETENV("QZ_SQL_STATE") + "/pg.conn"))
? h > 0
? SQLEXEC(h, "CREATE TEMP TABLE n (k BIGINT, v INT, t TEXT)")
big = 10000000000
x = 1
? SQLEXEC(h, "INSERT INTO n VALUES (?big, ?x, 'Grüße'), (?big + 1, 2, '日本'), (3, 3, NULL)", "", @a), a[1, 2]
* the blank after an operand stays in the text
? SQLEXEC(h, "UPDATE n SET v = 10 WHERE k = ?big AND v = ?x", "", @a), a[1, 2]
? SQLEXEC(h, "UPDATE n SET v = v + 1 WHERE v < 5; DELETE FROM n WHERE k = 42; UPDATE n SET t = 'x'", "", @a)
? ALEN(a, 1), a[1, 2], a[2, 2], a[3, 2], a[1, 1] == ""
? SQLEXEC(h, "DELETE FROM n WHERE k = 99", "", @a), a[1, 2]
? SQLEXEC(h, "UPDATE n SET v = 'text'")
? AERROR(e), e[1, 1], e[1, 4]
? SQLDISCONNECT(h)
