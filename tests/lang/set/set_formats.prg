* SET CENTURY, SECONDS, HOURS, FDOW, POINT, SEPARATOR and DATE, read back through SET() and used
* by the conversions.
SET PROCEDURE TO check.prg ADDITIVE
d = DATE(2024, 3, 5)
check("SET('CENT')")
SET CENTURY ON
check("SET('CENT')")
SET CENTURY OFF
check("SET('CENTURY')")

SET DATE TO USA
check("SET('DATE')")
check("SET('HOURS')")
check("DTOC(d)")
SET DATE TO BRITISH
SET CENTURY ON
check("DTOC(d)")
SET CENTURY OFF
SET DATE TO germ
check("SET('DATE')")
check("SET('HOURS')")
check("DTOC(d)")
SET DATE TO ITALIAN
SET DATE TO SHORT
check("SET('DATE')")
check("SET('HOURS')")
attempt("SET DATE TO ger")
check("SET('DATE')")
SET DATE TO AMERICAN

SET HOURS TO 24
check("SET('HOUR')")
attempt("SET HOURS TO 13")
check("SET('HOURS')")
SET HOURS TO 12
SET SECONDS OFF
check("SET('SECO')")
SET SECONDS ON
check("SET('SECONDS')")

SET FDOW TO 2
check("DOW(DATE(2024, 1, 1), 0)")
check("SET('FDOW')")
attempt("SET FDOW TO 0")
attempt("SET FDOW TO 8")
check("SET('FDOW')")
SET FDOW TO 1

SET POINT TO ","
check("SET('POINT')")
check("STR(1.5 * 10^20, 10)")
check("VAL('12,5')")
check("VAL('12,5') = 12.5")
SET POINT TO "·"
check("SET('POIN')")
check("LEN(SET('POINT'))")
check("STR(2.5, 4, 1)")
attempt('SET POINT TO ""')
attempt('SET POINT TO "abcd"')
attempt('SET POINT TO "😀"')
check("SET('POINT')")
SET POINT TO "."

check("SET('SEPARATOR')")
SET SEPARATOR TO "'"
check("SET('SEPA')")
attempt('SET SEPARATOR TO "5"')
attempt('SET SEPARATOR TO ""')
check("SET('SEPARATOR')")
