* ASORT of the 100000 strings of 30 characters in DIR/strings.txt (make_data.py);
* asort_strings.py sorts the same strings. With "setup" after DIR only the array is built.
LPARAMETERS argc, argv
LOCAL n
DIMENSION a(1)
n = ALINES(@a, FILETOSTR(argv[2] + "/strings.txt"))
IF argc < 3
  ASORT(@a)
ENDIF
? n, a[1], a[n]
