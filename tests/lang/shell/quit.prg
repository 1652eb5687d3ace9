* QUIT ends the script quietly with status 0.
QUIT
? "never"
