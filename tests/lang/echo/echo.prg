* ? ends its values with a line end, ?? does not; several values are joined by a blank.
?? "a"
?? "b", "c"
?
? 1, "two", .T.
? "x"
?? "y"
