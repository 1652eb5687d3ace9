* OB_START collects what the program prints until OB_END_CLEAN drops it or OB_END_FLUSH writes
* it; OB_GET_CONTENT reads it meanwhile.
started = OB_START()
? "captured"
?? "more", 1.5
content = OB_GET_CONTENT()
OB_END_CLEAN()
? "content: [" + content + "]"
? started, OB_GET_CONTENT() == ""
OB_START()
? "flushed"
OB_START()
?? " again"
OB_END_FLUSH()
? "after"
OB_START()
? "dropped"
OB_END_CLEAN()
OB_END_CLEAN()
? "end"
