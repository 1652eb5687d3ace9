* FGETS over DIR/lines.txt (about 100 MB, make_data.py) to its end.
LPARAMETERS argc, argv
LOCAL h, n, line
h = FOPEN(argv[2] + "/lines.txt")
n = 0
DO WHILE !FEOF(h)
  line = FGETS(h)
  n = n + 1
ENDDO
FCLOSE(h)
? n
