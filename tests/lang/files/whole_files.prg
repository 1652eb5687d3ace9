* FILETOSTR of standard input fed through a pipe, and with "auto" of a UTF-16LE file that starts
* with its mark.
LOCAL t
t = FILETOSTR("qz://stdin")
?? t
t = FILETOSTR("utf16le_mark.txt", "auto")
? "[" + t + "]", t == "héllo"
t = FILETOSTR("utf16le_mark.txt", "utf-16le")
? "[" + t + "]"
TRY
  t = FILETOSTR("no_such_file.txt")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  t = FILETOSTR("utf8.txt", "no-such-set")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
