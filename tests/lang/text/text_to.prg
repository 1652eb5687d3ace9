* TEXT TO a variable, ADDITIVE, NOSHOW and PRETEXT flags, TEXTMERGE; SET TEXTMERGE TO MEMVAR.
name = "world"
TEXT TO out NOSHOW
hello
ENDTEXT
? "[" + out + "]"
TEXT TO out ADDITIVE NOSHOW TEXTMERGE
  <<name>>!
ENDTEXT
? "[" + out + "]"
TEXT TO out NOSHOW PRETEXT 1
    indented
ENDTEXT
? "[" + out + "]"
TEXT
shown <<name>>
ENDTEXT
SET TEXTMERGE TO MEMVAR collected
SET TEXTMERGE ON
\first <<name>>
\\ second
SET TEXTMERGE TO
? "[" + collected + "]"
