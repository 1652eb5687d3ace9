* FOPEN, FGETS to the end, FEOF, FTELL and FSEEK over files with CR LF and LF line ends, in code
* page 1252 and in UTF-8 (the same text). FREAD counts characters of the handle's set.
walk("cp1252.txt", "windows-1252")
walk("utf8.txt", "utf-8")

FUNCTION walk(name, charset)
  LOCAL h, n, line
  h = FOPEN(name, 0, charset)
  ? name, h > 0, FERROR(), FEOF(h), FTELL(h)
  n = 0
  DO WHILE !FEOF(h)
    line = FGETS(h)
    n = n + 1
    ? n, "[" + line + "]", FTELL(h), FEOF(h)
  ENDDO
  ? "size", FSEEK(h, 0, 2), FEOF(h)
  ? "from start", FSEEK(h, 7), FGETS(h)
  ? "back", FSEEK(h, -7, 1), FREAD(h, 4), FTELL(h)
  ? "rewind", FSEEK(h, 0), FREAD(h, 5), FTELL(h)
  ? "end", FSEEK(h, -3, 2), FREAD(h, 100), FEOF(h)
  ? FCLOSE(h), FERROR()
ENDFUNC
