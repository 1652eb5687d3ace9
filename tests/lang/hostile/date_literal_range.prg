* A date literal beyond 9999-12-31 is refused when the program is built.
? {^10000-01-01}
