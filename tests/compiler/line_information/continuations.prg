LOCAL s, t, n
s = "é" + "日本" + ;
    "x" && a note ;
    + "y"
n = LEN(s) + ;
  ;
    1
* a comment line
TEXT TO t NOSHOW TEXTMERGE
value <<n>>
ENDTEXT
x = "n + 1"
? &x, s, t
   y = [é] + "é" ; 
   + "z"
