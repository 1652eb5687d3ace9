* URL, HTML and mail header functions from a program.
? http.urlencode("a b/é-._~+&=")
? http.urldecode("%E2%82%AC+%41%4a/x")
? html.escape([<a href="x">'&'</a>])
? mime.header("Plain header, ASCII only")
? mime.header("Grüße aus Köln")
? mime.ttoc(DATETIME(2000, 2, 29, 23, 59, 59))
? mime.ttoc(DATETIME(1999, 12, 31, 0, 0, 1))
? http.header("X-A: 1", .F.), http.header("X-B: 2")
TRY
  ? http.urldecode("%FF")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? http.urldecode("é")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? http.urldecode("100%")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? mime.ttoc(DATETIME(0, 0, 0))
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
