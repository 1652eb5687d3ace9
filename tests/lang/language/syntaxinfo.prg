* SYNTAXINFO: one row per character (class, mark); SYNTAXINFO2: runs of one class on one line.
LOCAL n, i, rows[1], text
text = "x = 1 && note" + CHR(10) + "? LEN('a') +"
n = SYNTAXINFO(text, @rows)
? n, ALEN(rows, 1), ALEN(rows, 2), LEN(text)
FOR i = 1 TO n
  ?? STR(rows[i, 1], 1) + STR(rows[i, 2], 1) + " "
ENDFOR
?
n = SYNTAXINFO2(text, @rows)
? n, ALEN(rows, 2)
FOR i = 1 TO n
  ? rows[i, 1], rows[i, 2], rows[i, 3], rows[i, 4]
ENDFOR
* An empty text: no rows.
? SYNTAXINFO("", @rows), ALEN(rows)
? SYNTAXINFO2("", @rows), ALEN(rows)
* Characters count, not bytes.
? SYNTAXINFO("* äöü", @rows), ALEN(rows, 1)
? SYNTAXINFO2("* äöü", @rows), rows[1, 1], rows[1, 3], rows[1, 4]
