* A class cut short by the next DEFINE CLASS or by the end of the text fails the build.
? 1
DEFINE CLASS first AS Custom
  x = 1
DEFINE CLASS second AS Custom
  y = 2
ENDDEFINE
DEFINE CLASS third AS Custom
  z = 3
