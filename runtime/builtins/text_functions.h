// text_functions.h - the text built-ins: strings, number formatting, words, patterns, digests
// and character classes. Each follows the native calling convention (entry_points.h).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// Strings (string_functions.cpp). CONCAT and AT are declared in entry_points.h.
void bi_len(VmStack* stack, size_t argc, Variant* result);             // LEN, LENC
void bi_substr(VmStack* stack, size_t argc, Variant* result);          // SUBSTR, SUBSTRC
void bi_left(VmStack* stack, size_t argc, Variant* result);            // LEFT, LEFTC
void bi_right(VmStack* stack, size_t argc, Variant* result);           // RIGHT
void bi_rtrim(VmStack* stack, size_t argc, Variant* result);           // RTRIM, TRIM
void bi_ltrim(VmStack* stack, size_t argc, Variant* result);           // LTRIM
void bi_alltrim(VmStack* stack, size_t argc, Variant* result);         // ALLTRIM
void bi_upper(VmStack* stack, size_t argc, Variant* result);           // UPPER
void bi_lower(VmStack* stack, size_t argc, Variant* result);           // LOWER
void bi_replicate(VmStack* stack, size_t argc, Variant* result);       // REPLICATE
void bi_space(VmStack* stack, size_t argc, Variant* result);           // SPACE
void bi_chrtran(VmStack* stack, size_t argc, Variant* result);         // CHRTRAN, CHRTRANC
void bi_strtran(VmStack* stack, size_t argc, Variant* result);         // STRTRAN
void bi_asc(VmStack* stack, size_t argc, Variant* result);             // ASC
void bi_chr(VmStack* stack, size_t argc, Variant* result);             // CHR
void bi_escapearg(VmStack* stack, size_t argc, Variant* result);       // ESCAPEARG
void bi_padl(VmStack* stack, size_t argc, Variant* result);            // PADL
void bi_padr(VmStack* stack, size_t argc, Variant* result);            // PADR
void bi_ob_start(VmStack* stack, size_t argc, Variant* result);        // OB_START
void bi_ob_end_flush(VmStack* stack, size_t argc, Variant* result);    // OB_END_FLUSH
void bi_ob_end_clean(VmStack* stack, size_t argc, Variant* result);    // OB_END_CLEAN
void bi_ob_get_content(VmStack* stack, size_t argc, Variant* result);  // OB_GET_CONTENT

// Number formatting (number_format.cpp).
void bi_str(VmStack* stack, size_t argc, Variant* result);        // STR
void bi_transform(VmStack* stack, size_t argc, Variant* result);  // TRANSFORM
void bi_val(VmStack* stack, size_t argc, Variant* result);        // VAL
void cmd_set_sysformats_to(VmStack* stack, size_t argc);          // SET SYSFORMATS

// Words and digests (words.cpp).
void bi_getwordcount(VmStack* stack, size_t argc, Variant* result);  // GETWORDCOUNT
void bi_getwordnum(VmStack* stack, size_t argc, Variant* result);    // GETWORDNUM
void bi_hash(VmStack* stack, size_t argc, Variant* result);          // HASH

// Regular expressions (patterns.cpp).
void bi_umatch(VmStack* stack, size_t argc, Variant* result);    // UMATCH, UREG_MATCH
void bi_ureplace(VmStack* stack, size_t argc, Variant* result);  // UREPLACE, UREG_REPLACE

// Character classes (char_classes.cpp).
void bi_isalnum(VmStack* stack, size_t argc, Variant* result);  // ISALNUM
void bi_isalpha(VmStack* stack, size_t argc, Variant* result);  // ISALPHA
void bi_isdigit(VmStack* stack, size_t argc, Variant* result);  // ISDIGIT
void bi_isgraph(VmStack* stack, size_t argc, Variant* result);  // ISGRAPH
void bi_islower(VmStack* stack, size_t argc, Variant* result);  // ISLOWER
void bi_isupper(VmStack* stack, size_t argc, Variant* result);  // ISUPPER
void bi_proper(VmStack* stack, size_t argc, Variant* result);   // PROPER

}  // namespace qzbase
