* The script receives its name and every argument.
LPARAMETERS argc, argv
? argc
FOR i = 1 TO argc
  ? argv[i]
ENDFOR
