* http.parsequery: a collection of the query's pairs, keys and values percent-decoded.
LOCAL c
c = http.parsequery("a=1&a=2&b%20c=x")
* A repeated key keeps its first value.
? c.Count, c.Item("a"), c.Item("b c"), c.Item(1), c.Item(2)
show("a=1&a=2&b%20c=x")
show("a=1&b=&c")
show("")
show("&&=&")
show("p+q=r+s&e=%C3%a9&A=1&a=2")
* An "=" after a value is passed over: what follows it is the next key.
show("z=1=2&y==3")
check("x=%FF")
check("x=%4")
check("x=%zz")

PROCEDURE show(query)
  LOCAL c, i, line
  c = http.parsequery(query)
  line = TRANSFORM(c.Count) + ":"
  FOR i = 1 TO c.Count
    line = line + " " + c.GetKey(i) + "=[" + c.Item(i) + "]"
  ENDFOR
  ? line
ENDPROC

PROCEDURE check(query)
  LOCAL e
  TRY
    http.parsequery(query)
    ? query, "no error"
  CATCH TO e
    ? query, e.ErrorNo, e.Message
  ENDTRY
ENDPROC
