* A program that does not build runs nothing.
? "never"
IF
