? "before"
ERROR 0
? "never"
