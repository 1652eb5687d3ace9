x = 5
TEXT TO s NOSHOW
value <<x>> here
ENDTEXT
? s
\
\\
\line <<x + 1>>
\\ and more
?
