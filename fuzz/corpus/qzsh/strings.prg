s = "héllo wörld"
? LEN(s), UPPER(s), SUBSTR(s, 2, 3), AT("w", s), STRTRAN(s, "l", "L")
? PADL(s, 15, "*"), ALLTRIM("  x  "), REPLICATE("ab", 3), SPACE(2) + "|"
s = "ab"
FOR i = 1 TO 10
  s = s + s
ENDFOR
? LEN(s)
