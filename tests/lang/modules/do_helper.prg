PARAMETERS where
? "do_helper runs", where
