* CHARSET, CPCURRENT, CPCONVERT, STRCONV and DETECTCHARSET.
SET PROCEDURE TO check.prg ADDITIVE
* Byte 0x82 read as code page 437 is e acute.
check("STRCONV(CPCONVERT(437, 'utf-8', CHR(130)), 15)")
check("STRCONV(CPCONVERT(1252, 'utf-8', CHR(233)), 15)")
check("STRCONV(CPCONVERT('ibm-437', 'utf-8', CHR(130)), 15)")
* What the target lacks becomes its substitution byte.
check("STRCONV(CPCONVERT('ascii', CHR(233)), 15)")
check("STRCONV(CPCONVERT('utf-8', CHR(233)), 15)")
check("CHARSET(CPCONVERT('utf-16le', 'abc'))")
check("LEN(CPCONVERT('utf-16le', 'abc'))")
check("STRCONV(CPCONVERT('utf-16le', 'abc'), 15)")
check("CPCONVERT('utf-16le', 'utf-8', CPCONVERT('utf-16le', 'abc'))")
check("CHARSET(CPCONVERT('UTF-8', 'abc'))")
check("LEN(CPCONVERT('utf-8', ''))")
check("CPCONVERT('no-such-set', 'abc')")
check("CPCONVERT(12345, 'abc')")
check("CPCONVERT('utf-8', 'utf-8', 'abc', 1)")
check("CPCONVERT('utf-8', 5)")
check("CHARSET('abc')")
check("CHARSET(CHR(233))")
check("CPCURRENT()")
check("STRCONV(CHR(255) + 'A', 15)")
check("STRCONV('', 15)")
check("STRCONV('abc', 1)")
check("STRC('a', 15)")
* FF FE and UTF-16LE text: the twin with the byte-order mark, and a confidence above 79.
conf = 0
check("DETECTCHARSET(CHR(255) + CHR(254) + CPCONVERT('binary', CPCONVERT('utf-16le', 'Hello there, how are you today?')), @conf)")
? "confidence", conf > 79
check("DETECTCHARSET('a') = CHARSET(CPCONVERT(CPCURRENT(), 'a'))")
