* An uncaught error ends the script: its report goes to the error output, its number is the exit
* status.
? "before"
x = no_such_variable
? "never"
