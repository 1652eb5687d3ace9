* PARAMETERS receives them too; without arguments argc counts only the script.
PARAMETERS argc, argv
? argc, argv[1]
