* SQLEXEC of statements without result sets: the info array, parameters, statements that match
* no rows, and failures recorded for AERROR.
LOCAL h, a[1], e[1], cName, nId
h = SQLCONNECT("qz_sqlite")
? SQLEXEC(h, "CREATE TABLE people (id INTEGER PRIMARY KEY, name VARCHAR(40), born DATE)")
cName = "Zoë Ångström"
nId = 1
? SQLEXEC(h, "INSERT INTO people VALUES (?nId, ?cName, ?(DATE(1990, 5, 17)))", "", @a), a[1, 2]
nId = 2
? SQLEXEC(h, "INSERT INTO people VALUES (?nId, 'Bo', NULL)")
* the non-ASCII name went in whole: it matches
? SQLEXEC(h, "UPDATE people SET born = ?(DATE(1991, 1, 1)) WHERE name = ?cName", "", @a), a[1, 2]
? SQLEXEC(h, "UPDATE people SET name = 'x' WHERE id > 0", "", @a), ALEN(a, 1), a[1, 2]
* nothing matches: a success with no rows
? SQLEXEC(h, "DELETE FROM people WHERE id = 99", "", @a), a[1, 2]
? SQLEXEC(h, "UPDATE people SET name = 'y' WHERE id = 99", "", @a), a[1, 2]
* a prepared statement, run again with fresh values, also after a failure
? SQLPREPARE(h, "INSERT INTO people (id, name) VALUES (?nId, 'again')")
nId = 3
? SQLEXEC(h)
? SQLEXEC(h)
? AERROR(e), e[1, 1], e[1, 3], e[1, 6]
nId = 4
? SQLEXEC(h, NULL, "", @a), a[1, 2]
? SQLEXEC(h, "DELETE FROM people", "", @a), a[1, 2]
* a failure in the text itself
? SQLEXEC(h, "DELETE FROM nobody")
? AERROR(e), e[1, 1], e[1, 2], e[1, 3], e[1, 4], e[1, 6]
? SQLDISCONNECT(h)
