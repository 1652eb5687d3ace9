* SET with a logical or a number, read back through SET(): abbreviations, ranges, and a failed SET
* that changes nothing.
SET PROCEDURE TO check.prg ADDITIVE
check("SET('BLOCKSIZE')")
SET BLOCKSIZE TO 2
check("SET('BLOC')")
SET BLOCKSIZE TO 512
check("SET('BLOCKSIZE')")
SET BLOCKSIZE TO 0
check("SET('BLOCKSIZE')")
SET BLOCKSIZE TO 32
check("SET('BLOCKSIZE')")
SET BLOCKSIZE TO 33
check("SET('BLOCKSIZE')")
SET BLOCKSIZE TO 32768
check("SET('BLOCKSIZE')")
attempt("SET BLOCKSIZE TO 32769")
check("SET('BLOCKSIZE')")

* DECIMALS: 0 to 18; anything else raises 11 and keeps the old count.
SET DECIMALS TO 18
check("SET('DECIMALS')")
check("LEN(STR(1/3, 25, 18))")
? 2/3
SET DECIMALS TO 0
check("SET('DECI')")
attempt("SET DECIMALS TO 19")
attempt("SET DECIMALS TO 400")
attempt("SET DECIMALS TO -1")
check("SET('DECIMALS')")
SET DECIMALS TO 2

SET EXACT ON
check("SET('EXAC')")
check("'ab' = 'a'")
SET EXACT OFF
check("SET('exact')")
check("'ab' = 'a'")
SET DELETED ON
check("SET('dele')")
check("SET('DELET')")
check("SET('deleted')")
check("SET('DEL')")
SET NEAR ON
check("SET('NEAR')")
SET EXCLUSIVE OFF
check("SET('EXCL')")
SET SPACE OFF
check("SET('SPAC')")
? 1, 2
SET SPACE ON
check("SET('SPACE')")
SET ASSERTS ON
check("SET('ASSE')")
check("SET('ASSERTS')")
check("SET('ASS')")
SET ASSERTS OFF
check("SET('ASSERT')")
check("SET('TEXTMERGE')")
check("SET('TEXT')")
check("SET('DATASESSION')")
check("SET('ADD')")
check("SET('nokeyword')")
check("SET(1)")
