* SQL handles: connecting by data-source name, sharing a connection, listing, properties and
* disconnecting (the test DSN is an in-memory SQLite database).
LOCAL h1, h2, h3, a[1], e
h1 = SQLCONNECT("qz_sqlite")
h2 = SQLCONNECT(h1)
h3 = SQLCONNECT("qz_sqlite", .T.)
? h1, h2, h3
? SQLGETPROP(h1, "odbchdbc") == SQLGETPROP(h2, "ODBCHDBC"), SQLGETPROP(h1, "OdbcHdbc") == SQLGETPROP(h3, "odbcHDBC")
? SQLGETPROP(h1, "Shared"), SQLGETPROP(h3, "shared")
? ASQLHANDLES(a), a[1], a[2], a[3]
? ASQLHANDLES(a, h2), ALEN(a)
* batch mode belongs to the connection
? SQLSETPROP(h1, "batchmode", .F.)
? SQLGETPROP(h2, "BATCHMODE"), SQLGETPROP(h3, "BatchMode")
* the shared connection keeps its database while one handle is left
? SQLEXEC(h1, "CREATE TABLE t (x INTEGER)")
? SQLDISCONNECT(h1)
? SQLEXEC(h2, "INSERT INTO t VALUES (1)")
? SQLDISCONNECT(h2), SQLDISCONNECT(h3)
? ASQLHANDLES(a)
TRY
  ? SQLDISCONNECT(h2)
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? SQLSETPROP(SQLCONNECT("qz_sqlite"), "Shared", .T.)
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
? SQLCONNECT("no such source")
? AERROR(a), a[1, 1], LEFT(a[1, 2], 20), a[1, 4], a[1, 6]
