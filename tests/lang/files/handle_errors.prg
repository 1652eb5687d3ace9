* FOPEN failures and FERROR codes; ids are consecutive and never handed out again; FREAD of a
* huge count returns what the file has.
LOCAL h, h2, h3, text
? FOPEN("no_such_file.txt"), FERROR()
* A directory exists but cannot be opened as a file.
? FOPEN("adir_fixture"), FERROR()
? FOPEN("qz://stdout"), FERROR(), FOPEN("qz://stderr"), FERROR()
h = FOPEN("qz://stdin")
? h > 0, FERROR()
h2 = FOPEN("utf8.txt")
h3 = FOPEN("utf8.txt")
? h2 - h, h3 - h2
FCLOSE(h2)
? FCLOSE(h2), FERROR()
h2 = FOPEN("utf8.txt")
? h2 - h3
? FTELL(999), FERROR()
? FGETS(h2), FERROR()
? FEOF(999), FERROR(), FSEEK(999, 0), FERROR(), FREAD(999, 3), FERROR()
? "[" + FGETS(999) + "]", FERROR()
text = FREAD(h3, 1000000000000)
? text == FILETOSTR("utf8.txt"), FEOF(h3)
? "[" + FREAD(h3, 5) + "]", "[" + FREAD(h2, 0) + "]"
TRY
  FREAD(h2, -1)
CATCH TO e
  ? "fread -1:", e.ErrorNo
ENDTRY
TRY
  FSEEK(h2, 0, 3)
CATCH TO e
  ? "fseek origin 3:", e.ErrorNo
ENDTRY
TRY
  FOPEN("utf8.txt", 4294967296)
CATCH TO e
  ? "fopen mode:", e.ErrorNo
ENDTRY
TRY
  FOPEN("utf8.txt", 0, "no-such-set")
CATCH TO e
  ? "fopen charset:", e.ErrorNo, e.Message
ENDTRY
FCLOSE(h)
FCLOSE(h2)
FCLOSE(h3)
