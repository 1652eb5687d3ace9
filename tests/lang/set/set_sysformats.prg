* SET('SYSFORMATS') is ON while the session's formats and SET FDOW equal what the runtime took
* from the locale at start.
? SET('SYSFORMATS')
SET SYSFORMATS ON
? SET('SYSFORMATS')
fdow = SET('FDOW')
century = SET('CENTURY')
IF century == "ON"
  SET CENTURY OFF
ELSE
  SET CENTURY ON
ENDIF
? "CENTURY changed", SET('SYSFORMATS')
IF century == "ON"
  SET CENTURY ON
ELSE
  SET CENTURY OFF
ENDIF
? "CENTURY back", SET('SYSFORMATS')
SET FDOW TO IIF(fdow = 7, 1, fdow + 1)
? "FDOW changed", SET('SYSFORMATS')
SET FDOW TO fdow
? "FDOW back", SET('SYSFORMATS')
SET DECIMALS TO 5
? "DECIMALS changed", SET('SYSFORMATS')
SET SYSFORMATS ON
? "SYSFORMATS again", SET('SYSFORMATS')
