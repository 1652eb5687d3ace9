* Empty text lines print empty text, not a binary value.
\
\\
\\x
\
? "end"
