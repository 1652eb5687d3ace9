// scanner.h - the scanner, the keyword table and the literal builders.
//
// The Scanner is the token source of the GLR parser: it walks a range of tokens that
// the shared tokenizer has cut, hands out the caller's start token first, maps tokenizer
// kinds to the grammar's token codes and recognises keywords (whole or abbreviated, without regard
// to case). Its static operations build literal values from token texts for the grammar actions
// (literals.cpp), turn '&' macro fragments into MacroItem objects and render source excerpts for
// error messages.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>

#include "frontend/macro_item.h"
#include "frontend/operands.h"
#include "frontend/parser_interface.h"
#include "frontend/ptr_list.h"
#include "values/tokenizer.h"
#include "values/variant.h"

namespace qzbase {

// Token codes handed to the parser (the grammar is built on these numbers). Codes below 1024 are
// the tokenizer's character kinds, passed through unchanged.
enum ScannerTokenCode : int {
  QZ_TOKEN_END = 0,
  QZ_TOKEN_LINE_END = 10,
  QZ_TOKEN_BLANK = 32,
  QZ_TOKEN_OTHER_CHAR = 258,
  QZ_TOKEN_START_STATEMENT = 259,
  QZ_TOKEN_START_MACRO_LINE = 260,
  QZ_TOKEN_START_TEXT_LINE = 261,
  QZ_TOKEN_START_EXPRESSION = 262,
  QZ_TOKEN_START_OPERAND = 263,
  QZ_TOKEN_KEYWORD_FIRST = 264,  // ADD
  QZ_TOKEN_KEYWORD_UNUSED = 399, // no keyword row has this code
  QZ_TOKEN_KEYWORD_LAST = 495,   // ZAP
  QZ_TOKEN_BINARY_STRING = 496,  // 0h literal
  QZ_TOKEN_HEX_NUMBER = 497,     // 0x literal
  QZ_TOKEN_IDENTIFIER = 498,     // a word that is not a keyword
  QZ_TOKEN_NUMBER = 499,         // a run of decimal digits
};

// One row of the keyword table: upper-case NUL-terminated UTF-32 word, token code, minimum
// abbreviation length (0 = whole word only). The layout keyword_map_init reads.
struct scanner_keyword_st {
  const char32_t* word;
  uint64_t token;
  uint64_t min_length;
};

constexpr size_t kScannerKeywordCount = 231;
// 231 rows followed by a row whose word is null.
extern const scanner_keyword_st scanner_keyword_table[kScannerKeywordCount + 1];

// A tokenizer kind of 1024 or more that the scanner does not map.
struct tokenizer_returned_unsupported_token_type_exception {};

// The fragments of one literal as the grammar collects them (for example 12, '.' and 50).
using scan_string_list_st = std::list<scan_string_st>;

class Scanner {
 public:
  using iterator = token_list_type::const_iterator;
  using lexer_type = int (Scanner::*)(QZSTYPE*, document_location_st*);

  // Stores the range and the start record (only its kind matters); the lexer starts with
  // lex_bootstrap. The tokens and the text they point into must outlive the parse.
  Scanner(const iterator& begin, const iterator& end, const token_st& start);

  // The parser's call: through the current lexer.
  int lex(QZSTYPE* value, document_location_st* location) { return (this->*lexer)(value, location); }

  // Returns the start record's kind and switches to lex_token; writes neither argument.
  int lex_bootstrap(QZSTYPE* value, document_location_st* location);
  // The next token's code; 0 at the end (arguments untouched then).
  int lex_token(QZSTYPE* value, document_location_st* location);

  // The address of the current iterator (how far the parser consumed).
  iterator* get_position() { return &current; }

  // True and the code when the token's text is a keyword or an accepted abbreviation of one.
  static bool is_keyword(const token_st& token, int* code);
  // The same for a text slice in any charset.
  static bool is_keyword(const char* begin, const char* end, const Charset* cs, int* code);

  // --- Literal builders (literals.cpp) ---

  // Joined digits with or without a leading '-': false when the number exceeds 64 bits.
  static bool create_integer(const scan_string_list_st& fragments, int64_t& value);
  // A 0x literal: false without digits, on overflow of 64 bits, or with trailing characters.
  static bool create_integer_from_hex(const scan_string_list_st& fragments, int64_t& value);
  // digits '.' digits, '.' digits or digits '.'. False (value 0, 0 decimals) for a text of 256
  // characters or more: the grammar reports it as a literal error (event 0) instead of letting
  // aton's copy_buffer_too_small escape the parser.
  static bool create_numeric(const scan_string_list_st& fragments, numeric_type_st& value);
  // The shared money parser with '.' as the point and no separator; true when it succeeds.
  static bool create_money(const scan_string_list_st& fragments, money_type_st& value);
  static bool create_money(String text, money_type_st& value);
  // A 0h literal as a new binary Const_String ((n + 1) / 2 bytes, an odd first digit alone).
  static Const_String* create_binary_const_string(const document_location_st& location,
                                                  const scan_string_st& text);

  // The lower operations. atoi: NUL-terminated ASCII digits with an optional leading '-'.
  static bool atoi(const char*& text, size_t& length, size_t& leading_zeros, int64_t& value);
  static bool atoi_from_hex(const char*& text, int64_t& value);
  // Throws copy_buffer_too_small for a text of 256 characters or more.
  static numeric_type_st aton(const char* begin, const char* end, char point);

  // --- Text helpers for the grammar actions ---

  static String scan_string_to_string(const scan_string_st& text);
  static Const_String* create_const_string(const document_location_st& location, const scan_string_st& text);
  static Const_String* create_const_string_from_list(const document_location_st& location,
                                                     const scan_string_list_st& fragments);
  // The fragments joined into one String; fragments of length 0 are skipped.
  static String join_scan_strings(const scan_string_list_st& fragments);

  static scan_string_list_st* scan_string_list_new(const scan_string_st& first);
  static scan_string_list_st* scan_string_list_new(const scan_string_st& first, const scan_string_st& second);
  static scan_string_list_st* scan_string_list_append(scan_string_list_st* list, const scan_string_st& text);
  // Moves the fragments of other to the end of list and frees other's head.
  static scan_string_list_st* scan_string_list_append_list(scan_string_list_st* list, scan_string_list_st* other);
  static void scan_string_list_free(scan_string_list_st* list);

  // --- Macro lines and source excerpts ---

  // Builds the MacroItem list of a macro line from its fragments (and frees the fragment list):
  // 0 and *result on success; 10 and a null *result when no fragment names a variable.
  static int parse_macro_endl(const document_location_st& location, std::list<macro_item_st>* fragments,
                              ptr_list<MacroItem>** result);
  // The text as UTF-32 with every non-printable character written as <HH> per byte.
  static String canoncializeDocumentContent(const String& text);

  // Fields, in the order the parser's tables expect.
  lexer_type lexer;
  document_location_st error_location;  // written by yyerror; not set by the constructor
  uint32_t error_code;                  // likewise
  token_st start;
  iterator current;
  iterator end;
};

}  // namespace qzbase
