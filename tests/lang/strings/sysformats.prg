* SET SYSFORMATS ON gives the session the runtime's formats of the locale (here its date style
* differs from the fixed AMERICAN one a session starts with); OFF changes nothing.
d = {^2024-03-05}
before = TRANSFORM(d)
? before
SET SYSFORMATS OFF
? TRANSFORM(d) == before
SET SYSFORMATS ON
? TRANSFORM(d) == before, STR(1.5, 5, 2)
