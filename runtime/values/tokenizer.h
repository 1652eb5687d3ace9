// tokenizer.h - the shared tokenizer.
//
// The types (document_location_st, scan_string_st, token_st, token_list_type) and the functions
// tokenize and hex_digit_value are public and declared in qzbase.h's tokenizer section; this
// header is the internal name under which the rest of the library reaches them.
#pragma once

#include <qzbase.h>
