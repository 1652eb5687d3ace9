// scanner.cpp - the scanner, the keyword table, macro lines and source excerpts.
#include "frontend/scanner.h"

#include <unicode/uchar.h>

#include <string>

#include "frontend/keyword_map.h"

namespace qzbase {

// The keyword table: 231 rows (codes 264 to 495, 399 unused) and a terminating row. The codes
// follow the grammar's token order; the code is always taken from the row, never its position.
const scanner_keyword_st scanner_keyword_table[kScannerKeywordCount + 1] = {
    {U"ADD", 264, 0},
    {U"ADDITIVE", 265, 4},
    {U"AFTER", 266, 0},
    {U"AND", 267, 0},
    {U"AGAIN", 268, 0},
    {U"ALL", 269, 0},
    {U"ALIAS", 270, 0},
    {U"ALTER", 271, 0},
    {U"APPEND", 272, 4},
    {U"ARRAY", 273, 0},
    {U"AS", 274, 0},
    {U"ASCENDING", 275, 4},
    {U"ASSERT", 276, 4},
    {U"ASSERTS", 277, 0},
    {U"AT", 278, 0},
    {U"AUTOINC", 279, 0},
    {U"B", 280, 0},
    {U"BEGIN", 281, 0},
    {U"BINARY", 282, 0},
    {U"BLANK", 283, 4},
    {U"BLOB", 284, 0},
    {U"BLOCKSIZE", 285, 4},
    {U"BOTTOM", 286, 4},
    {U"BROWSE", 287, 4},
    {U"C", 288, 0},
    {U"CANCEL", 289, 4},
    {U"CANDIDATE", 290, 0},
    {U"CASE", 291, 0},
    {U"CAST", 292, 0},
    {U"CATCH", 293, 0},
    {U"CD", 294, 0},
    {U"CDX", 295, 0},
    {U"CENTURY", 296, 4},
    {U"CLASS", 297, 4},
    {U"CLEAR", 298, 0},
    {U"CLS", 299, 0},
    {U"CHAR", 300, 0},
    {U"CODEPAGE", 301, 0},
    {U"COLLATE", 302, 0},
    {U"COLUMN", 303, 5},
    {U"COMMAND", 304, 4},
    {U"COMPACT", 305, 0},
    {U"CONTINUE", 306, 4},
    {U"COPY", 307, 0},
    {U"CREATE", 308, 0},
    {U"CURSOR", 309, 0},
    {U"CURRENCY", 310, 0},
    {U"D", 311, 0},
    {U"DATASESSION", 312, 5},
    {U"DATE", 313, 0},
    {U"DATETIME", 314, 0},
    {U"DECIMALS", 315, 4},
    {U"DECLARE", 316, 4},
    {U"DEFINE", 317, 4},
    {U"DELETE", 318, 4},
    {U"DELETED", 319, 0},
    {U"DESCENDING", 320, 4},
    {U"DIMENSION", 321, 4},
    {U"DISPLAY", 322, 4},
    {U"DO", 323, 0},
    {U"DOUBLE", 324, 0},
    {U"DROP", 325, 0},
    {U"EACH", 326, 0},
    {U"ELSE", 327, 0},
    {U"END", 328, 0},
    {U"ENDCASE", 329, 4},
    {U"ENDDEFINE", 330, 5},
    {U"ENDDO", 331, 0},
    {U"ENDFOR", 332, 5},
    {U"ENDFUNC", 333, 5},
    {U"ENDIF", 334, 0},
    {U"ENDPROC", 335, 4},
    {U"ENDSCAN", 336, 0},
    {U"ENDTEXT", 337, 0},
    {U"ENDTRY", 338, 0},
    {U"ENDWITH", 339, 0},
    {U"ENGINE", 340, 4},
    {U"ERROR", 341, 0},
    {U"EQUAL", 342, 0},
    {U"EXACT", 343, 4},
    {U"EXCEPT", 344, 0},
    {U"EXCLUSIVE", 345, 4},
    {U"EXIT", 346, 0},
    {U"EXTERNAL", 347, 0},
    {U"F", 348, 0},
    {U"FALSE", 349, 0},
    {U"FDOW", 350, 0},
    {U"FINALLY", 351, 0},
    {U"FIND", 352, 0},
    {U"FILE", 353, 0},
    {U"FILTER", 354, 4},
    {U"FLAGS", 355, 0},
    {U"FLOAT", 356, 0},
    {U"FOR", 357, 0},
    {U"QZOBJECT", 358, 4},
    {U"FROM", 359, 0},
    {U"FUNCTION", 360, 4},
    {U"G", 361, 0},
    {U"GATHER", 362, 4},
    {U"GENERAL", 363, 0},
    {U"GO", 364, 0},
    {U"GOTO", 365, 0},
    {U"GREATER", 366, 0},
    {U"HIDDEN", 367, 0},
    {U"HOURS", 368, 4},
    {U"IF", 369, 0},
    {U"IFDEF", 370, 0},
    {U"IFNDEF", 371, 0},
    {U"I", 372, 0},
    {U"IMPORT", 373, 4},
    {U"IMPORTS", 374, 0},
    {U"IN", 375, 0},
    {U"INCLUDE", 376, 0},
    {U"INDEX", 377, 0},
    {U"INTEGER", 378, 0},
    {U"KEY", 379, 0},
    {U"L", 380, 0},
    {U"LIBRARY", 381, 4},
    {U"LIKE", 382, 0},
    {U"LOCAL", 383, 0},
    {U"LOCATE", 384, 4},
    {U"LOGICAL", 385, 0},
    {U"LONG", 386, 0},
    {U"LOOP", 387, 0},
    {U"LPARAMETERS", 388, 5},
    {U"M", 389, 0},
    {U"MEMO", 390, 0},
    {U"MEMVAR", 391, 4},
    {U"MKDIR", 392, 0},
    {U"MODIFY", 393, 4},
    {U"N", 394, 0},
    {U"NAME", 395, 0},
    {U"NEAR", 396, 0},
    {U"NEXT", 397, 0},
    {U"NEXTVALUE", 398, 0},
    {U"NOCPTRANS", 400, 0},
    {U"NOMENU", 401, 0},
    {U"NOOPTIMIZE", 402, 0},
    {U"NOSHOW", 403, 0},
    {U"NOT", 404, 0},
    {U"NOTE", 405, 0},
    {U"NOUPDATE", 406, 0},
    {U"NOWAIT", 407, 0},
    {U"NULL", 408, 0},
    {U"NUMERIC", 409, 0},
    {U"OBJECT", 410, 0},
    {U"OF", 411, 0},
    {U"OFF", 412, 0},
    {U"OLEPUBLIC", 413, 0},
    {U"ON", 414, 0},
    {U"OR", 415, 0},
    {U"ORDER", 416, 0},
    {U"OTHERWISE", 417, 4},
    {U"PACK", 418, 0},
    {U"PATH", 419, 0},
    {U"PARAMETERS", 420, 4},
    {U"POINT", 421, 4},
    {U"PRAGMA", 422, 0},
    {U"PREFIX", 423, 0},
    {U"PRETEXT", 424, 0},
    {U"PRIVATE", 425, 0},
    {U"PROCEDURE", 426, 4},
    {U"PROTECTED", 427, 0},
    {U"PUBLIC", 428, 0},
    {U"Q", 429, 0},
    {U"QUIT", 430, 0},
    {U"RECALL", 431, 0},
    {U"RECORD", 432, 0},
    {U"REPLACE", 433, 4},
    {U"REST", 434, 0},
    {U"RETURN", 435, 4},
    {U"REINDEX", 436, 0},
    {U"RENAME", 437, 0},
    {U"ROLLBACK", 438, 0},
    {U"RUN", 439, 0},
    {U"SAME", 440, 0},
    {U"SCAN", 441, 0},
    {U"SCATTER", 442, 4},
    {U"SECONDS", 443, 4},
    {U"SELECT", 444, 4},
    {U"SEEK", 445, 0},
    {U"SEPARATOR", 446, 4},
    {U"SET", 447, 0},
    {U"SHARED", 448, 0},
    {U"SHORT", 449, 0},
    {U"SHOW", 450, 0},
    {U"SINGLE", 451, 0},
    {U"SKIP", 452, 0},
    {U"STEP", 453, 0},
    {U"STORE", 454, 0},
    {U"STRING", 455, 0},
    {U"STRUCTURE", 456, 4},
    {U"SPACE", 457, 4},
    {U"SUSPEND", 458, 4},
    {U"SYSFORMATS", 459, 4},
    {U"T", 460, 0},
    {U"TABLE", 461, 0},
    {U"TAG", 462, 0},
    {U"TEXT", 463, 0},
    {U"TEXTMERGE", 464, 5},
    {U"THEN", 465, 0},
    {U"THIS", 466, 0},
    {U"THISFORM", 467, 0},
    {U"THROW", 468, 0},
    {U"TIMEOUT", 469, 0},
    {U"TO", 470, 0},
    {U"TOP", 471, 0},
    {U"TRANSACTION", 472, 4},
    {U"TRUE", 473, 0},
    {U"TRY", 474, 0},
    {U"U", 475, 0},
    {U"U8", 476, 0},
    {U"U16", 477, 0},
    {U"U32", 478, 0},
    {U"USE", 479, 0},
    {U"UNDEF", 480, 0},
    {U"UNICODE", 481, 0},
    {U"UNIQUE", 482, 0},
    {U"UNLOCK", 483, 4},
    {U"V", 484, 0},
    {U"VALUE", 485, 0},
    {U"VARBINARY", 486, 0},
    {U"VARCHAR", 487, 0},
    {U"W", 488, 0},
    {U"WAIT", 489, 0},
    {U"WINDOW", 490, 0},
    {U"WITH", 491, 0},
    {U"WHEN", 492, 0},
    {U"WHILE", 493, 4},
    {U"Y", 494, 0},
    {U"ZAP", 495, 0},    {nullptr, 0, 0},
};

namespace {

const keyword_map<scanner_keyword_st>& scanner_keyword_map() {
  // Built on first use under the thread-safe initialisation of statics; read-only afterwards;
  // destroyed at process exit.
  struct holder {
    keyword_map<scanner_keyword_st> map;
    holder() { keyword_map_init(map, scanner_keyword_table); }
  };
  static const holder keywords;
  return keywords.map;
}

}  // namespace

Scanner::Scanner(const iterator& begin, const iterator& end, const token_st& start_token)
    : lexer(&Scanner::lex_bootstrap),
      error_location{},
      error_code(0),
      start{},
      current(begin),
      end(end) {
  QZ_TRACE;
  start.kind = start_token.kind;  // the start record: the kind, every other field zero
}

int Scanner::lex_bootstrap(QZSTYPE*, document_location_st*) {
  QZ_TRACE;
  lexer = &Scanner::lex_token;
  return static_cast<int>(start.kind);
}

int Scanner::lex_token(QZSTYPE* value, document_location_st* location) {
  QZ_TRACE;
  if (current == end) return QZ_TOKEN_END;
  const token_st& token = *current;
  value->text = token.text();
  *location = token.location;
  ++current;
  uint32_t kind = token.kind;
  if (kind < 1024) return static_cast<int>(kind);
  switch (kind) {
    case TOKEN_IDENTIFIER: {
      int code = 0;
      return is_keyword(token, &code) ? code : QZ_TOKEN_IDENTIFIER;
    }
    case TOKEN_BINARY:
      return QZ_TOKEN_BINARY_STRING;
    case TOKEN_OTHER:
      return QZ_TOKEN_OTHER_CHAR;
    case TOKEN_DIGITS:
      return QZ_TOKEN_NUMBER;
    case TOKEN_HEX:
      return QZ_TOKEN_HEX_NUMBER;
    default:
      throw tokenizer_returned_unsupported_token_type_exception();
  }
}

bool Scanner::is_keyword(const token_st& token, int* code) {
  QZ_TRACE;
  return is_keyword(token.begin, token.end(), token.charset, code);
}

bool Scanner::is_keyword(const char* begin, const char* end, const Charset* cs, int* code) {
  QZ_TRACE;
  const scanner_keyword_st* row = scanner_keyword_map().find(begin, end, cs);
  if (!row) return false;
  *code = static_cast<int>(row->token);
  return true;
}

// --- Macro lines ----------------------------------------------------------------------------------

MacroItem::~MacroItem() = default;
StringMacroItem::~StringMacroItem() = default;
VariableMacroItem::~VariableMacroItem() = default;

int Scanner::parse_macro_endl(const document_location_st&, std::list<macro_item_st>* fragments,
                              ptr_list<MacroItem>** result) {
  QZ_TRACE;
  auto* items = new ptr_list<MacroItem>();
  *result = items;
  size_t variables = 0;
  scan_string_list_st pending;  // the current run of literal fragments
  auto flush_literals = [&] {
    if (pending.empty()) return;
    String text = join_scan_strings(pending);
    pending.clear();
    if (text.size() != 0) items->push_back(new StringMacroItem(text));
  };
  if (fragments) {
    for (const macro_item_st& fragment : *fragments) {
      if (fragment.kind == MACRO_ITEM_VARIABLE) {
        flush_literals();
        items->push_back(new VariableMacroItem(String::create_from_scan_string(fragment.text)));
        ++variables;
      } else {
        pending.push_back(fragment.text);
      }
    }
    flush_literals();
    delete fragments;
  }
  if (variables > 0) return 0;
  delete items;  // with its items
  *result = nullptr;
  return 10;  // "Syntax error.": a macro substitution must name at least one variable
}

// --- Source excerpts --------------------------------------------------------------------------------

String Scanner::canoncializeDocumentContent(const String& text) {
  QZ_TRACE;
  static const char hex[] = "0123456789ABCDEF";
  const Charset* cs = text.get_charset();
  std::u32string out;
  out.reserve(text.size());
  const char* p = text.read();
  const char* end = text.end();
  while (p < end) {
    const char* start = p;
    char32_t c = cs->next(&p, end);
    if (p <= start) p = start + 1;  // never stall on a charset that consumed nothing
    int8_t type = u_charType(static_cast<UChar32>(c));
    bool printable = type != U_CONTROL_CHAR && type != U_FORMAT_CHAR && type != U_SURROGATE &&
                     type != U_PRIVATE_USE_CHAR && type != U_UNASSIGNED;
    if (printable) {
      out.push_back(c);
      continue;
    }
    for (const char* b = start; b < p; ++b) {
      unsigned char byte = static_cast<unsigned char>(*b);
      out.push_back(U'<');
      out.push_back(static_cast<char32_t>(hex[byte >> 4]));
      out.push_back(static_cast<char32_t>(hex[byte & 15]));
      out.push_back(U'>');
    }
  }
  return String(reinterpret_cast<const char*>(out.data()), out.size() * sizeof(char32_t), Charset::utf32le);
}

}  // namespace qzbase
