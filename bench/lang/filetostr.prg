* FILETOSTR of DIR/lines.txt (about 100 MB, make_data.py).
LPARAMETERS argc, argv
LOCAL t
t = FILETOSTR(argv[2] + "/lines.txt")
? "read"
