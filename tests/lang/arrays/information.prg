* Arrays of runtime information: the environment, the call stack, the error list, the error
* table and the character sets.
LOCAL n, i
DIMENSION a(1)
n = AENV(@a)
? n, ALEN(a, 2)
FOR i = 1 TO n
  ? a[i, 1] + "=" + a[i, 2]
ENDFOR

show_stack()

* AERROR after a caught error: number, message, and .F. in columns 4 to 7.
TRY
  y = "a"
  x = 1 + y
CATCH
ENDTRY
n = AERROR(@a)
? n, ALEN(a, 2), a[1, 1], a[1, 2]
? a[1, 4], a[1, 5], a[1, 6], a[1, 7]

n = ALISTALLERRORS(@a)
? n > 100, ALEN(a, 2), ASCAN(a, 1234) > 0, a[ASCAN(a, 1234) + 1]
* Ascending numbers.
FOR i = 2 TO n
  IF a[i, 1] <= a[i - 1, 1]
    ? "out of order at", i
  ENDIF
ENDFOR

n = ACHARSET(@a)
? n, ALEN(a, 2), ASCAN(a, "utf-8") > 0, ASCAN(a, "utf-16le") > 0

FUNCTION show_stack
  LOCAL k, j
  DIMENSION s(1)
  k = ASTACKINFO(@s)
  ? k, ALEN(s, 2)
  FOR j = 1 TO k
    ? s[j, 1], JUSTFNAME(s[j, 2]), s[j, 3], JUSTFNAME(s[j, 4]), s[j, 5], s[j, 6]
  ENDFOR
ENDFUNC
