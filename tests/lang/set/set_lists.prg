* SET('PATH') and SET('PROCEDURE') as the commands would write them back.
SET PROCEDURE TO check.prg ADDITIVE
check("SET('PATH')")
SET PATH TO /tmp, /usr/
check("SET('PATH')")
SET PATH TO
check("SET('PATH')")
check("JUSTFNAME(SET('PROC'))")
check("SET('LIBRARY')")
