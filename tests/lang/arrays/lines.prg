* ALINES: line ends, parse strings, trimming, empty lines, kept separators, and the flags that
* are not available.
LOCAL a, n, i, s
n = ALINES(@a, " a ; b ", 1, ";")
? n, "[" + a[1] + "]", "[" + a[2] + "]"
* lines_crlf.txt: "one" CR LF "two" LF CR "three" LF LF "five" LF
n = ALINES(@a, FILETOSTR("lines_crlf.txt"))
s = ""
FOR i = 1 TO n
  s = s + "[" + a[i] + "]"
ENDFOR
? n, s
* lines_blank.txt: "x" LF "  " LF "y" LF
n = ALINES(@a, FILETOSTR("lines_blank.txt"), 4)
? n, a[1], a[2]
n = ALINES(@a, "k=1&m=2;n", 16, "&", ";")
? n, a[1], a[2], a[3]
n = ALINES(@a, "k=1&m=2;n", 0, "&", ";")
? n, a[1], a[2], a[3]
* Nothing to list leaves the variable alone.
a = "kept"
? ALINES(@a, ""), a
f = ARRAY(2, 8, 2147483648)
FOR i = 1 TO 3
  TRY
    ALINES(@a, "x", f[i])
  CATCH TO e
    ? e.ErrorNo, e.Message
  ENDTRY
ENDFOR
s = ARRAY(";")
DIMENSION s(24)
FOR i = 1 TO 24
  s[i] = ";"
ENDFOR
TRY
  ALINES(@a, "x", 0, s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10], s[11], s[12], s[13], s[14], s[15], s[16], s[17], s[18], s[19], s[20], s[21], s[22], s[23], s[24])
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
? ALINES(@a, "a;b", 0, s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10], s[11], s[12], s[13], s[14], s[15], s[16], s[17], s[18], s[19], s[20], s[21], s[22], s[23])
