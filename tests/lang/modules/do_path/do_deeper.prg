? "do_deeper runs from SET PATH"
