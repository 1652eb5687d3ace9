LOCAL i, j, k, arr[3], x
k = 0
DO WHILE k < 3
   k = k + 1
   FOR i = 1 TO 3 STEP 2
      IF i = 2
         LOOP
      ELSE
         IF k > 2 .AND. i > 1
            EXIT
         ENDIF
      ENDIF
      FOR EACH x IN arr
         j = IIF(EMPTY(x), 0, x)
      ENDFOR
   NEXT
ENDDO
DO CASE
CASE k = 1
   ? "one"
CASE k = 2 .OR. ;
     k = 3
   ? "two or three"
OTHERWISE
   ? "other"
ENDCASE
WITH _SCREEN
ENDWITH
? k
