* ODBC and libcrypto are opened by the first call that needs them: a program that uses neither
* never maps them, and once used they work.
? "start-up", loaded("libodbc"), loaded("libcrypto")
? HASH("abc", "MD5") == 0h900150983CD24FB0D6963F7D28E17F72, loaded("libcrypto"), loaded("libodbc")
? SQLSTRINGCONNECT("DRIVER={no such driver}"), loaded("libodbc")

FUNCTION loaded(name)
  RETURN "/" + name + ".so" $ FILETOSTR("/proc/self/maps")
ENDFUNC
