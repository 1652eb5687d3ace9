* DO of a program file that does not exist ends with error 1.
DO nowhere.prg
