* HASH: digests of the bytes as stored, as binary texts; names in any case.
SET PROCEDURE TO check.prg ADDITIVE
? HASH("", "sha1")
? HASH("", "sha1") == 0hDA39A3EE5E6B4B0D3255BFEF95601890AFD80709
? HASH("abc", "MD5")
? HASH("abc", "Sha2_256")
? HASH("abc", "SHA2_384")
? HASH("abc", "sha2_512")
? HASH("abc", "__QZ__"), LEN(HASH("abc", "__QZ__"))
* __QZ__ hashes characters, the digests hash bytes.
? HASH("aé", "__QZ__") == HASH(UREPLACE("x", "aé", "x"), "__QZ__")
? HASH("é", "MD5") == HASH(CHR(233), "MD5")
check("HASH('abc', 'crc32')")
check("HASH('abc', 'sha2')")
check("HASH(.NULL., 'MD5')")
check("HASH('abc', .NULL.)")
