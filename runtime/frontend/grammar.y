/* grammar.y - the GLR grammar of the Qz language.
 *
 * Bison 3.8 turns this file into the generalized LR parser at build time (generate.cmake); the
 * generated parser is not committed. The productions were transcribed once from the production
 * tables of the language's documentation and are edited by hand from there on. The generated function is named
 * qz_glr_parse; yyparse (parser.cpp) calls it on a stack deep enough for the input.
 *
 * Behaviour is Bison's GLR parser: deterministic while one stack is open, deferred actions while
 * several are, readings merged by %dprec (no %merge), errors through yyerror (10, 9012, 9013),
 * no error recovery. A start form's action reports its result and accepts at once.
 *
 * Mended against the documented productions (see the sections): the member operator and its member
 * touch, and a member named AND or OR ends a chain (member_access); the AND and OR productions
 * win over the plain forms (or_expression, and_expression). Without these, `a .AND. b` after a
 * name, call or path failed as ambiguous (9012).
 *
 * Layout of this file:
 *   1. Declarations: parser options, the value and location types, the token codes (fixed by the
 *      scanner), the destructors per owning symbol.
 *   2. Prologue code: locations, events, ownership helpers and node builders for the actions.
 *   3. Rules, by section:
 *        start forms
 *        [statements, statement lines and declarations]        -- next issue
 *        [command clauses and options, command statements] -- next issue
 *        expressions, operands, names, paths, lists, constants, strings
 *        keyword_word and ordinary_keyword_word (one production per keyword token)
 *      Symbols of the operand grammar used only by statements (line_end, text_line_end, statement_end,
 *      paren_element, assign_target, raw_line, line_token, raw_name, raw_name_token, macro_line,
 *      macro_items) come with the statement grammar: Bison drops unreachable symbols with a
 *      warning, and warnings fail the build.
 *      A new group of rules goes in as its own section; a new owning symbol also goes into the matching
 *      %destructor list below.
 *
 * Values (QZSTYPE, parser_interface.h; trivially copyable, the GLR stacks copy it bitwise):
 *   - a terminal carries its token text in `text`; yylex clears `object` and `slices`;
 *   - the text symbols (opt_blank, name, keyword_name, keyword_word, ordinary_keyword_word,
 *     this_word, date_separator, raw_token and the quoted-token symbols) carry a token text in
 *     `text` and own nothing;
 *   - every other symbol carries its token-slice list (scan_string_list_st*, never null) in
 *     `slices` and, by its value class (VC_*, below), an owned object in `object`:
 *       VC_OPERAND  an Operand* (expressions, operands, constants, lists made into OperandList);
 *                   decimal_literal and money_literal already build their Const node here
 *       VC_ITEM     a PathItem*
 *       VC_ITEMS    a std::list<PathItem*>* (member_access, path_tail)
 *       VC_OPERANDS a std::list<Operand*>* (expression_items, argument_items)
 *       VC_SLICES   nothing owned; unsigned_integer and negative_integer keep their value in
 *                   `object` as an integer
 *   Every action adopts the values it consumes before it does anything that can throw, so an
 *   exception frees them; the action then reports the failure (event 0) and ends the parse:
 *   no exception leaves the generated parser.
 */

%require "3.8"
%glr-parser
%define api.pure
%locations
%define api.value.type {qzbase::qzstype_st}
%define api.location.type {qzbase::document_location_st}
%parse-param {qzbase::Scanner* scanner} {void* callback_data} {qzbase::QzparseCallback callback}
%lex-param {qzbase::Scanner* scanner}

%code requires {
#include "frontend/parser_interface.h"
namespace qzbase {
class Scanner;
}
}

%code top {
/* Stack limits: room for 1,000 items at first, doubled on demand up to 100,000. */
#define YYINITDEPTH 1000
#define YYMAXDEPTH 100000
/* The generated function is the raw parser; yyparse (parser.cpp) runs it on a stack deep enough
   for the input (see parser.h). */
#define yyparse qz_glr_parse
}

%initial-action {
  /* The start token carries no location: the empty phrases after it sit at the first token. */
  @$ = qz_first_location(scanner);
}

/* ---------------------------------------------------------------------------------------------
 * Tokens. The codes are the scanner's; every other code up to 499, and every code
 * above it, is undefined and ends the parse with a syntax error.
 * ------------------------------------------------------------------------------------------- */

%token T_END 0 "end of input"
%token T_NEWLINE 10 "newline"
%token T_BLANK 32 "blank"
%token T_OTHER_CHAR 258 "other_char"
%token T_START_STATEMENT 259 "START_STATEMENT"
%token T_START_MACRO_LINE 260 "START_MACRO_LINE"
%token T_START_TEXT_LINE 261 "START_TEXT_LINE"
%token T_START_EXPRESSION 262 "START_EXPRESSION"
%token T_START_OPERAND 263 "START_OPERAND"
%token KW_ADD 264 "ADD"
%token KW_ADDITIVE 265 "ADDITIVE"
%token KW_AFTER 266 "AFTER"
%token KW_AND 267 "AND"
%token KW_AGAIN 268 "AGAIN"
%token KW_ALL 269 "ALL"
%token KW_ALIAS 270 "ALIAS"
%token KW_ALTER 271 "ALTER"
%token KW_APPEND 272 "APPEND"
%token KW_ARRAY 273 "ARRAY"
%token KW_AS 274 "AS"
%token KW_ASCENDING 275 "ASCENDING"
%token KW_ASSERT 276 "ASSERT"
%token KW_ASSERTS 277 "ASSERTS"
%token KW_AT 278 "AT"
%token KW_AUTOINC 279 "AUTOINC"
%token KW_B 280 "B"
%token KW_BEGIN 281 "BEGIN"
%token KW_BINARY 282 "BINARY"
%token KW_BLANK 283 "BLANK"
%token KW_BLOB 284 "BLOB"
%token KW_BLOCKSIZE 285 "BLOCKSIZE"
%token KW_BOTTOM 286 "BOTTOM"
%token KW_BROWSE 287 "BROWSE"
%token KW_C 288 "C"
%token KW_CANCEL 289 "CANCEL"
%token KW_CANDIDATE 290 "CANDIDATE"
%token KW_CASE 291 "CASE"
%token KW_CAST 292 "CAST"
%token KW_CATCH 293 "CATCH"
%token KW_CD 294 "CD"
%token KW_CDX 295 "CDX"
%token KW_CENTURY 296 "CENTURY"
%token KW_CLASS 297 "CLASS"
%token KW_CLEAR 298 "CLEAR"
%token KW_CLS 299 "CLS"
%token KW_CHAR 300 "CHAR"
%token KW_CODEPAGE 301 "CODEPAGE"
%token KW_COLLATE 302 "COLLATE"
%token KW_COLUMN 303 "COLUMN"
%token KW_COMMAND 304 "COMMAND"
%token KW_COMPACT 305 "COMPACT"
%token KW_CONTINUE 306 "CONTINUE"
%token KW_COPY 307 "COPY"
%token KW_CREATE 308 "CREATE"
%token KW_CURSOR 309 "CURSOR"
%token KW_CURRENCY 310 "CURRENCY"
%token KW_D 311 "D"
%token KW_DATASESSION 312 "DATASESSION"
%token KW_DATE 313 "DATE"
%token KW_DATETIME 314 "DATETIME"
%token KW_DECIMALS 315 "DECIMALS"
%token KW_DECLARE 316 "DECLARE"
%token KW_DEFINE 317 "DEFINE"
%token KW_DELETE 318 "DELETE"
%token KW_DELETED 319 "DELETED"
%token KW_DESCENDING 320 "DESCENDING"
%token KW_DIMENSION 321 "DIMENSION"
%token KW_DISPLAY 322 "DISPLAY"
%token KW_DO 323 "DO"
%token KW_DOUBLE 324 "DOUBLE"
%token KW_DROP 325 "DROP"
%token KW_EACH 326 "EACH"
%token KW_ELSE 327 "ELSE"
%token KW_END 328 "END"
%token KW_ENDCASE 329 "ENDCASE"
%token KW_ENDDEFINE 330 "ENDDEFINE"
%token KW_ENDDO 331 "ENDDO"
%token KW_ENDFOR 332 "ENDFOR"
%token KW_ENDFUNC 333 "ENDFUNC"
%token KW_ENDIF 334 "ENDIF"
%token KW_ENDPROC 335 "ENDPROC"
%token KW_ENDSCAN 336 "ENDSCAN"
%token KW_ENDTEXT 337 "ENDTEXT"
%token KW_ENDTRY 338 "ENDTRY"
%token KW_ENDWITH 339 "ENDWITH"
%token KW_ENGINE 340 "ENGINE"
%token KW_ERROR 341 "ERROR"
%token KW_EQUAL 342 "EQUAL"
%token KW_EXACT 343 "EXACT"
%token KW_EXCEPT 344 "EXCEPT"
%token KW_EXCLUSIVE 345 "EXCLUSIVE"
%token KW_EXIT 346 "EXIT"
%token KW_EXTERNAL 347 "EXTERNAL"
%token KW_F 348 "F"
%token KW_FALSE 349 "FALSE"
%token KW_FDOW 350 "FDOW"
%token KW_FINALLY 351 "FINALLY"
%token KW_FIND 352 "FIND"
%token KW_FILE 353 "FILE"
%token KW_FILTER 354 "FILTER"
%token KW_FLAGS 355 "FLAGS"
%token KW_FLOAT 356 "FLOAT"
%token KW_FOR 357 "FOR"
%token KW_QZOBJECT 358 "QZOBJECT"
%token KW_FROM 359 "FROM"
%token KW_FUNCTION 360 "FUNCTION"
%token KW_G 361 "G"
%token KW_GATHER 362 "GATHER"
%token KW_GENERAL 363 "GENERAL"
%token KW_GO 364 "GO"
%token KW_GOTO 365 "GOTO"
%token KW_GREATER 366 "GREATER"
%token KW_HIDDEN 367 "HIDDEN"
%token KW_HOURS 368 "HOURS"
%token KW_IF 369 "IF"
%token KW_IFDEF 370 "IFDEF"
%token KW_IFNDEF 371 "IFNDEF"
%token KW_I 372 "I"
%token KW_IMPORT 373 "IMPORT"
%token KW_IMPORTS 374 "IMPORTS"
%token KW_IN 375 "IN"
%token KW_INCLUDE 376 "INCLUDE"
%token KW_INDEX 377 "INDEX"
%token KW_INTEGER 378 "INTEGER"
%token KW_KEY 379 "KEY"
%token KW_L 380 "L"
%token KW_LIBRARY 381 "LIBRARY"
%token KW_LIKE 382 "LIKE"
%token KW_LOCAL 383 "LOCAL"
%token KW_LOCATE 384 "LOCATE"
%token KW_LOGICAL 385 "LOGICAL"
%token KW_LONG 386 "LONG"
%token KW_LOOP 387 "LOOP"
%token KW_LPARAMETERS 388 "LPARAMETERS"
%token KW_M 389 "M"
%token KW_MEMO 390 "MEMO"
%token KW_MEMVAR 391 "MEMVAR"
%token KW_MKDIR 392 "MKDIR"
%token KW_MODIFY 393 "MODIFY"
%token KW_N 394 "N"
%token KW_NAME 395 "NAME"
%token KW_NEAR 396 "NEAR"
%token KW_NEXT 397 "NEXT"
%token KW_NEXTVALUE 398 "NEXTVALUE"
%token KW_UNUSED_399 399 "keyword 399"
%token KW_NOCPTRANS 400 "NOCPTRANS"
%token KW_NOMENU 401 "NOMENU"
%token KW_NOOPTIMIZE 402 "NOOPTIMIZE"
%token KW_NOSHOW 403 "NOSHOW"
%token KW_NOT 404 "NOT"
%token KW_NOTE 405 "NOTE"
%token KW_NOUPDATE 406 "NOUPDATE"
%token KW_NOWAIT 407 "NOWAIT"
%token KW_NULL 408 "NULL"
%token KW_NUMERIC 409 "NUMERIC"
%token KW_OBJECT 410 "OBJECT"
%token KW_OF 411 "OF"
%token KW_OFF 412 "OFF"
%token KW_OLEPUBLIC 413 "OLEPUBLIC"
%token KW_ON 414 "ON"
%token KW_OR 415 "OR"
%token KW_ORDER 416 "ORDER"
%token KW_OTHERWISE 417 "OTHERWISE"
%token KW_PACK 418 "PACK"
%token KW_PATH 419 "PATH"
%token KW_PARAMETERS 420 "PARAMETERS"
%token KW_POINT 421 "POINT"
%token KW_PRAGMA 422 "PRAGMA"
%token KW_PREFIX 423 "PREFIX"
%token KW_PRETEXT 424 "PRETEXT"
%token KW_PRIVATE 425 "PRIVATE"
%token KW_PROCEDURE 426 "PROCEDURE"
%token KW_PROTECTED 427 "PROTECTED"
%token KW_PUBLIC 428 "PUBLIC"
%token KW_Q 429 "Q"
%token KW_QUIT 430 "QUIT"
%token KW_RECALL 431 "RECALL"
%token KW_RECORD 432 "RECORD"
%token KW_REPLACE 433 "REPLACE"
%token KW_REST 434 "REST"
%token KW_RETURN 435 "RETURN"
%token KW_REINDEX 436 "REINDEX"
%token KW_RENAME 437 "RENAME"
%token KW_ROLLBACK 438 "ROLLBACK"
%token KW_RUN 439 "RUN"
%token KW_SAME 440 "SAME"
%token KW_SCAN 441 "SCAN"
%token KW_SCATTER 442 "SCATTER"
%token KW_SECONDS 443 "SECONDS"
%token KW_SELECT 444 "SELECT"
%token KW_SEEK 445 "SEEK"
%token KW_SEPARATOR 446 "SEPARATOR"
%token KW_SET 447 "SET"
%token KW_SHARED 448 "SHARED"
%token KW_SHORT 449 "SHORT"
%token KW_SHOW 450 "SHOW"
%token KW_SINGLE 451 "SINGLE"
%token KW_SKIP 452 "SKIP"
%token KW_STEP 453 "STEP"
%token KW_STORE 454 "STORE"
%token KW_STRING 455 "STRING"
%token KW_STRUCTURE 456 "STRUCTURE"
%token KW_SPACE 457 "SPACE"
%token KW_SUSPEND 458 "SUSPEND"
%token KW_SYSFORMATS 459 "SYSFORMATS"
%token KW_T 460 "T"
%token KW_TABLE 461 "TABLE"
%token KW_TAG 462 "TAG"
%token KW_TEXT 463 "TEXT"
%token KW_TEXTMERGE 464 "TEXTMERGE"
%token KW_THEN 465 "THEN"
%token KW_THIS 466 "THIS"
%token KW_THISFORM 467 "THISFORM"
%token KW_THROW 468 "THROW"
%token KW_TIMEOUT 469 "TIMEOUT"
%token KW_TO 470 "TO"
%token KW_TOP 471 "TOP"
%token KW_TRANSACTION 472 "TRANSACTION"
%token KW_TRUE 473 "TRUE"
%token KW_TRY 474 "TRY"
%token KW_U 475 "U"
%token KW_U8 476 "U8"
%token KW_U16 477 "U16"
%token KW_U32 478 "U32"
%token KW_USE 479 "USE"
%token KW_UNDEF 480 "UNDEF"
%token KW_UNICODE 481 "UNICODE"
%token KW_UNIQUE 482 "UNIQUE"
%token KW_UNLOCK 483 "UNLOCK"
%token KW_V 484 "V"
%token KW_VALUE 485 "VALUE"
%token KW_VARBINARY 486 "VARBINARY"
%token KW_VARCHAR 487 "VARCHAR"
%token KW_W 488 "W"
%token KW_WAIT 489 "WAIT"
%token KW_WINDOW 490 "WINDOW"
%token KW_WITH 491 "WITH"
%token KW_WHEN 492 "WHEN"
%token KW_WHILE 493 "WHILE"
%token KW_Y 494 "Y"
%token KW_ZAP 495 "ZAP"
%token T_BINARY_STRING 496 "binary_string"
%token T_HEX_NUMBER 497 "hex_number"
%token T_IDENTIFIER 498 "identifier"
%token T_NUMBER 499 "number"

/* ---------------------------------------------------------------------------------------------
 * Ownership: what the parser drops (a dropped stack, a failed parse) is released by
 * symbol. Symbols not listed own nothing.
 * ------------------------------------------------------------------------------------------- */

%destructor { qz_destroy(VC_OPERAND, $$); }
    expression or_expression and_expression not_expression comparison sum product power
    operand call variable_name bracket_element path argument expression_list argument_list
    constant null_constant logical_constant integer_constant numeric_constant money_constant
    binary_constant string_constant date_constant datetime_constant string_literal
    decimal_literal money_literal
%destructor { qz_destroy(VC_ITEM, $$); }
    member_name path_root indexed_path_root call_path_root indexed_member member_call member
    chain_member chain_member_name index_suffix
%destructor { qz_destroy(VC_ITEMS, $$); } member_access path_tail
%destructor { qz_destroy(VC_OPERANDS, $$); } expression_items argument_items
%destructor { qz_destroy(VC_SLICES, $$); }
    and_operator or_operator not_operator member_operator unsigned_integer negative_integer
    digits decimal_digits empty_date empty_datetime single_quoted_text double_quoted_text
    bracket_quoted_text

%code {
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <list>
#include <memory>
#include <new>

#include "frontend/parser.h"
#include "frontend/scanner.h"
#include "values/julian.h"

using namespace qzbase;

#define QZ_SAME_CODE(a, b) (static_cast<int>(a) == static_cast<int>(b))
static_assert(QZ_SAME_CODE(T_START_STATEMENT, QZ_TOKEN_START_STATEMENT) &&
                  QZ_SAME_CODE(T_START_OPERAND, QZ_TOKEN_START_OPERAND) && QZ_SAME_CODE(T_OTHER_CHAR, QZ_TOKEN_OTHER_CHAR) &&
                  QZ_SAME_CODE(KW_ADD, QZ_TOKEN_KEYWORD_FIRST) && QZ_SAME_CODE(KW_UNUSED_399, QZ_TOKEN_KEYWORD_UNUSED) &&
                  QZ_SAME_CODE(KW_ZAP, QZ_TOKEN_KEYWORD_LAST) && QZ_SAME_CODE(T_BINARY_STRING, QZ_TOKEN_BINARY_STRING) &&
                  QZ_SAME_CODE(T_HEX_NUMBER, QZ_TOKEN_HEX_NUMBER) && QZ_SAME_CODE(T_IDENTIFIER, QZ_TOKEN_IDENTIFIER) &&
                  QZ_SAME_CODE(T_NUMBER, QZ_TOKEN_NUMBER),
              "the grammar's token codes are the scanner's");
#undef QZ_SAME_CODE
static_assert(sizeof(void*) >= sizeof(int64_t), "integers travel in the object word");

/* YYLLOC_DEFAULT: a reduced phrase spans from the begin of its first symbol to the
   end of its last; an empty phrase is a zero-width range at the end of the symbol before it. */
#define YYLLOC_DEFAULT(Cur, Rhs, N)                                  \
  do {                                                               \
    if (N) {                                                         \
      (Cur) = qz_span(YYRHSLOC(Rhs, 1), YYRHSLOC(Rhs, N));           \
    } else {                                                         \
      (Cur) = qz_at_end(YYRHSLOC(Rhs, 0));                           \
    }                                                                \
  } while (0)

namespace {

using slices_t = scan_string_list_st;
using item_list_t = std::list<PathItem*>;
using operand_list_t = std::list<Operand*>;

// --- Locations ---------------------------------------------------------------------------------

inline document_location_st qz_span(const document_location_st& first, const document_location_st& last) {
  document_location_st r = first;
  r.end_char = last.end_char;
  r.end_byte = last.end_byte;
  r.end_line = last.end_line;
  r.end_column = last.end_column;
  return r;
}

inline document_location_st qz_at_end(const document_location_st& l) {
  document_location_st r = l;
  r.begin_char = l.end_char;
  r.begin_byte = l.end_byte;
  r.begin_line = l.end_line;
  r.begin_column = l.end_column;
  return r;
}

inline document_location_st qz_at_begin(const document_location_st& l) {
  document_location_st r = l;
  r.end_char = l.begin_char;
  r.end_byte = l.begin_byte;
  r.end_line = l.begin_line;
  r.end_column = l.begin_column;
  return r;
}

// A zero-width range at the first token of the scanner's range (zeros for an empty range).
document_location_st qz_first_location(Scanner* scanner) {
  document_location_st r{};
  if (scanner && scanner->current != scanner->end) r = qz_at_begin(scanner->current->location);
  return r;
}

// --- Events ------------------------------------------------------------------------------------

// Event 3: one syntax-colouring item (1 keyword, 2 operator, 3 constant, 4 comment).
inline void qz_syntax(QzparseCallback callback, void* data, int syntax_class, const document_location_st& location) {
  if (callback) callback(data, QZPARSE_EVENT_SYNTAX_CLASS, syntax_class, location);
}

// Event 0: a diagnostic that does not stop the parse; the pair holds the range twice.
inline void qz_diagnostic(QzparseCallback callback, void* data, const document_location_st& location) {
  if (!callback) return;
  document_location_st range[2] = {location, location};
  callback(data, QZPARSE_EVENT_DIAGNOSTIC, reinterpret_cast<intptr_t>(range), location);
}

// An action that threw: report the range (event 0) and leave an error in the scanner. The
// exception itself goes no further. Callbacks must not throw; one that does counts as here.
void qz_action_failed(Scanner* scanner, QzparseCallback callback, void* data, const document_location_st& location,
                      uint32_t code) noexcept {
  scanner->error_code = code;
  scanner->error_location = location;
  try {
    qz_diagnostic(callback, data, location);
  } catch (...) {
  }
}

// --- Ownership ---------------------------------------------------------------------------------

// Bison hands an action its right-hand values as const. They are the action's to consume (the
// parser never reads them again), so the helpers take them as const and clear, through MUT, what
// moved out of them.
inline YYSTYPE& MUT(const YYSTYPE& v) { return const_cast<YYSTYPE&>(v); }

enum value_class { VC_OPERAND, VC_ITEM, VC_ITEMS, VC_OPERANDS, VC_SLICES };

inline slices_t* SL(const YYSTYPE& v) { return static_cast<slices_t*>(v.slices); }
inline Operand* OP(const YYSTYPE& v) { return static_cast<Operand*>(v.object); }
inline PathItem* ITEM(const YYSTYPE& v) { return static_cast<PathItem*>(v.object); }
inline item_list_t* ITEMS(const YYSTYPE& v) { return static_cast<item_list_t*>(v.object); }
inline operand_list_t* OPS(const YYSTYPE& v) { return static_cast<operand_list_t*>(v.object); }
inline int64_t INT(const YYSTYPE& v) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(v.object)); }

// Releases what a value owns by its class and clears the two words.
void qz_destroy(value_class c, YYSTYPE& v) noexcept {
  switch (c) {
    case VC_OPERAND:
      delete OP(v);
      break;
    case VC_ITEM:
      delete ITEM(v);
      break;
    case VC_ITEMS:
      if (item_list_t* items = ITEMS(v)) {
        for (PathItem* item : *items) delete item;
        delete items;
      }
      break;
    case VC_OPERANDS:
      if (operand_list_t* operands = OPS(v)) {
        for (Operand* operand : *operands) delete operand;
        delete operands;
      }
      break;
    case VC_SLICES:
      break;  // the object word holds nothing or a plain integer
  }
  delete SL(v);
  v.object = nullptr;
  v.slices = nullptr;
}

// Adopts the values an action consumes: until commit(), leaving the scope destroys them.
class adopted {
 public:
  adopted() = default;
  adopted(const adopted&) = delete;
  adopted& operator=(const adopted&) = delete;
  ~adopted() {
    for (int i = 0; i < count_; ++i) qz_destroy(classes_[i], *values_[i]);
  }
  adopted& operator()(value_class c, const YYSTYPE& v) {
    QZ_ASSERT(count_ < kMax);  // an action adopting more values needs a larger kMax
    classes_[count_] = c;
    values_[count_] = &MUT(v);
    ++count_;
    return *this;
  }
  void commit() { count_ = 0; }

 private:
  static constexpr int kMax = 12;
  value_class classes_[kMax];
  YYSTYPE* values_[kMax];
  int count_ = 0;
};

// --- Values ------------------------------------------------------------------------------------

inline YYSTYPE qz_value(void* object, slices_t* slices) {
  YYSTYPE v;
  v.text = scan_string_st{nullptr, nullptr, nullptr, 0};
  v.object = object;
  v.slices = slices;
  return v;
}

inline YYSTYPE qz_int_value(int64_t value, slices_t* slices) {
  return qz_value(reinterpret_cast<void*>(static_cast<intptr_t>(value)), slices);
}

// --- Token slices ------------------------------------------------------------------------------

// One piece of a slice list: a token text (an empty text adds nothing), or a whole slice list
// that moves over (the value's slices word is cleared).
struct piece {
  piece(const scan_string_st& text) : text(&text), value(nullptr) {}  // NOLINT: implicit by design
  piece(const YYSTYPE& value) : text(nullptr), value(&MUT(value)) {}  // NOLINT
  const scan_string_st* text;
  YYSTYPE* value;
};

// Appends the pieces to `into` in order. The moved lists end up in `into` even when an
// allocation fails half-way, so whoever owns `into` and the values still owns every node.
void qz_append(slices_t* into, std::initializer_list<piece> pieces) {
  for (const piece& p : pieces) {
    if (p.text) {
      if (p.text->size != 0 || p.text->begin != p.text->end) into->push_back(*p.text);
    } else if (slices_t* other = SL(*p.value)) {
      into->splice(into->end(), *other);
      delete other;
      p.value->slices = nullptr;
    }
  }
}

// A new slice list made of the pieces; the caller owns it.
std::unique_ptr<slices_t> qz_slices(std::initializer_list<piece> pieces) {
  std::unique_ptr<slices_t> s(new slices_t());
  qz_append(s.get(), pieces);
  return s;
}

// The text a slice list covers, joined. Slices that follow one
// another in one buffer and charset (the usual case) are taken as one piece of text.
String qz_text(const slices_t* s) {
  if (!s || s->empty()) return String();
  const scan_string_st& first = s->front();
  const char* end = first.end;
  bool contiguous = true;
  for (auto it = std::next(s->begin()); it != s->end() && contiguous; ++it) {
    contiguous = it->begin == end && it->charset == first.charset;
    end = it->end;
  }
  if (!contiguous) return Scanner::join_scan_strings(*s);
  return String::create_from_scan_string(
      scan_string_st{first.begin, end, first.charset, static_cast<size_t>(end - first.begin)});
}

inline String qz_name(const scan_string_st& text) { return String::create_from_scan_string(text); }

// --- Builders used by several actions ----------------------------------------------------------

// left OPERATOR right, with the operator tokens in between. Both operands move into the node.
template <class Node>
YYSTYPE qz_binary(const document_location_st& location, const YYSTYPE& left, std::initializer_list<piece> middle,
                  const YYSTYPE& right) {
  adopted owned;
  owned(VC_OPERAND, left)(VC_OPERAND, right);
  qz_append(SL(left), middle);
  qz_append(SL(left), {right});
  Operand* node = new Node(location, OP(left), OP(right));
  owned.commit();
  return qz_value(node, SL(left));
}

// A unary node over the operand, with the prefix tokens in front of its slices.
template <class Node>
YYSTYPE qz_unary(const document_location_st& location, std::initializer_list<piece> prefix, const YYSTYPE& operand,
                 std::initializer_list<piece> suffix = {}) {
  adopted owned;
  owned(VC_OPERAND, operand);
  std::unique_ptr<slices_t> s = qz_slices(prefix);
  qz_append(s.get(), {operand});
  qz_append(s.get(), suffix);
  Operand* node = new Node(location, OP(operand));
  owned.commit();
  return qz_value(node, s.release());
}

// `#`: a not over an equality, both at the comparison's range.
YYSTYPE qz_not_equal(const document_location_st& location, const YYSTYPE& left, std::initializer_list<piece> middle,
                     const YYSTYPE& right) {
  YYSTYPE eq = qz_binary<Binary_Func_Eq>(location, left, middle, right);
  adopted owned;
  owned(VC_OPERAND, eq);
  Operand* node = new Unary_Func_Not(location, OP(eq));
  owned.commit();
  return qz_value(node, SL(eq));
}

// A heap list of operands that deletes its operands when it is dropped before being handed over.
struct operand_list_deleter {
  void operator()(operand_list_t* list) const {
    for (Operand* operand : *list) delete operand;
    delete list;
  }
};
using operand_list_ptr = std::unique_ptr<operand_list_t, operand_list_deleter>;

// A `Const<bool>` false standing for an omitted argument.
inline Operand* qz_omitted(const document_location_st& location) { return new Const<bool>(location, false); }

// The first entry of an expression or argument list.
YYSTYPE qz_list_first(const YYSTYPE& item) {
  adopted owned;
  owned(VC_OPERAND, item);
  std::unique_ptr<operand_list_t> list(new operand_list_t());
  list->push_back(OP(item));
  owned.commit();
  return qz_value(list.release(), SL(item));
}

// ',' [opt_blank item]: an omitted entry before the comma and, when given, the item after it (or
// a second omitted entry after the comma).
YYSTYPE qz_list_comma(const document_location_st& comma, std::initializer_list<piece> tokens, const YYSTYPE* item) {
  adopted owned;
  if (item) owned(VC_OPERAND, *item);
  operand_list_ptr list(new operand_list_t());
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  if (item) qz_append(s.get(), {*item});
  std::unique_ptr<Operand> before(qz_omitted(qz_at_begin(comma)));
  std::unique_ptr<Operand> after(item ? nullptr : qz_omitted(qz_at_end(comma)));
  list->push_back(before.get());
  before.release();
  list->push_back(item ? OP(*item) : after.get());
  after.release();
  owned.commit();
  return qz_value(list.release(), s.release());
}

// list opt_blank ',' [opt_blank item]: the item, or an omitted entry after the comma.
YYSTYPE qz_list_append(const YYSTYPE& list, const document_location_st& comma, std::initializer_list<piece> tokens,
                       const YYSTYPE* item) {
  adopted owned;
  owned(VC_OPERANDS, list);
  if (item) owned(VC_OPERAND, *item);
  qz_append(SL(list), tokens);
  if (item) {
    qz_append(SL(list), {*item});
    OPS(list)->push_back(OP(*item));
  } else {
    std::unique_ptr<Operand> omitted(qz_omitted(qz_at_end(comma)));
    OPS(list)->push_back(omitted.get());
    omitted.release();
  }
  owned.commit();
  return MUT(list);
}

// An OperandList made of an item list.
YYSTYPE qz_operand_list(const document_location_st& location, const YYSTYPE& items) {
  adopted owned;
  owned(VC_OPERANDS, items);
  Operand* node = new OperandList(location, OPS(items));  // adopts the list (and frees it)
  MUT(items).object = nullptr;
  owned.commit();
  return qz_value(node, SL(items));
}

// An empty OperandList (empty parentheses): count 0, an array holding null.
inline OperandList* qz_empty_list(const document_location_st& location) {
  std::unique_ptr<operand_list_t> empty(new operand_list_t());
  OperandList* list = new OperandList(location, empty.get());
  empty.release();
  return list;
}

// name ( [arguments] ) as a Call; event 5.
YYSTYPE qz_call(QzparseCallback callback, void* data, const document_location_st& location, const scan_string_st& name,
                const document_location_st& parens, std::initializer_list<piece> tokens, const YYSTYPE* arguments) {
  adopted owned;
  if (arguments) owned(VC_OPERAND, *arguments);
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  String text = qz_name(name);
  std::unique_ptr<OperandList> args(arguments ? static_cast<OperandList*>(OP(*arguments)) : qz_empty_list(parens));
  if (arguments) owned.commit();
  std::unique_ptr<Call> call(new Call(location, text, args.get()));
  args.release();
  owned.commit();
  if (callback) callback(data, QZPARSE_EVENT_CALL, reinterpret_cast<intptr_t>(call.get()), location);
  return qz_value(call.release(), s.release());
}

// A path item made from a name with an optional list (indexes or arguments); `empty_list` asks
// for an empty OperandList when no list is given.
template <class Item>
YYSTYPE qz_named_item(const document_location_st& location, const scan_string_st& name, std::initializer_list<piece> tokens,
                      const YYSTYPE* list, bool empty_list = false,
                      const document_location_st& parens = document_location_st{}) {
  adopted owned;
  if (list) owned(VC_OPERAND, *list);
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  String text = qz_name(name);
  std::unique_ptr<OperandList> operands(list ? static_cast<OperandList*>(OP(*list))
                                             : (empty_list ? qz_empty_list(parens) : nullptr));
  if (list) owned.commit();
  PathItem* item = new Item(location, text, operands.get());
  operands.release();
  return qz_value(item, s.release());
}

// A NamePathItem from a name (also THIS and THISFORM).
YYSTYPE qz_name_item(const document_location_st& location, const scan_string_st& name, std::initializer_list<piece> tokens) {
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  PathItem* item = new NamePathItem(location, qz_name(name));
  return qz_value(item, s.release());
}

// A single path item made into a list of items.
YYSTYPE qz_item_list(const YYSTYPE& item, std::initializer_list<piece> before) {
  adopted owned;
  owned(VC_ITEM, item);
  std::unique_ptr<slices_t> s = qz_slices(before);
  qz_append(s.get(), {item});
  std::unique_ptr<item_list_t> list(new item_list_t());
  list->push_back(ITEM(item));
  owned.commit();
  return qz_value(list.release(), s.release());
}

// An item followed by a tail of items.
YYSTYPE qz_item_then_tail(const YYSTYPE& item, std::initializer_list<piece> before, std::initializer_list<piece> between,
                          const YYSTYPE& tail) {
  adopted owned;
  owned(VC_ITEM, item)(VC_ITEMS, tail);
  std::unique_ptr<slices_t> s = qz_slices(before);
  qz_append(s.get(), {item});
  qz_append(s.get(), between);
  qz_append(s.get(), {tail});
  ITEMS(tail)->push_front(ITEM(item));
  MUT(item).object = nullptr;
  owned.commit();
  return qz_value(ITEMS(tail), s.release());
}

// A Path over a root item (or a WithPathItem when root is null) and the items of a chain.
YYSTYPE qz_path(const document_location_st& location, std::initializer_list<piece> before, const YYSTYPE* root,
                std::initializer_list<piece> between, const YYSTYPE& chain, int32_t memvar) {
  adopted owned;
  if (root) owned(VC_ITEM, *root);
  owned(VC_ITEMS, chain);
  std::unique_ptr<slices_t> s = qz_slices(before);
  if (root) qz_append(s.get(), {*root});
  qz_append(s.get(), between);
  qz_append(s.get(), {chain});
  if (root) {
    ITEMS(chain)->push_front(ITEM(*root));
    MUT(*root).object = nullptr;
  } else {
    std::unique_ptr<PathItem> with(new WithPathItem(qz_at_begin(location)));
    ITEMS(chain)->push_front(with.get());
    with.release();
  }
  Operand* path = new Path(location, ITEMS(chain), memvar);
  owned.commit();
  return qz_value(path, s.release());
}

// A Variable from a name; memvar for the M. form.
YYSTYPE qz_variable(const document_location_st& location, const scan_string_st& name, std::initializer_list<piece> tokens,
                    uint32_t memvar) {
  std::unique_ptr<slices_t> s = qz_slices(tokens);
  Operand* node = new Variable(location, qz_name(name), memvar);
  return qz_value(node, s.release());
}

// A constant node over the slices of a literal.
YYSTYPE qz_constant(Operand* node, std::unique_ptr<slices_t> slices) { return qz_value(node, slices.release()); }

// Year, month and day as written, or false when a field cannot be one.
bool qz_date_fields(int64_t year, int64_t month, int64_t day, int* y, unsigned* m, unsigned* d) {
  if (year < 0 || year > 2147483647 || month < 0 || month > 2147483647 || day < 0 || day > 2147483647) return false;
  *y = static_cast<int>(year);
  *m = static_cast<unsigned>(month);
  *d = static_cast<unsigned>(day);
  return true;
}

// True when the day number gives back the fields as written.
bool qz_date_round_trip(date_st date, int year, unsigned month, unsigned day) {
  int y = 0, m = 0, d = 0;
  unserial_julian_date(date, &y, &m, &d);
  return y == year && static_cast<unsigned>(m) == month && static_cast<unsigned>(d) == day;
}

Operand* qz_date(QzparseCallback callback, void* data, const document_location_st& location, int64_t year, int64_t month,
                 int64_t day) {
  QZ_TRACE;
  date_st date{};
  int y = 0;
  unsigned m = 0, d = 0;
  bool valid = qz_date_fields(year, month, day, &y, &m, &d) && serial_julian_date(y, m, d, &date) == 0 &&
               qz_date_round_trip(date, y, m, d);
  if (!valid) qz_diagnostic(callback, data, location);
  return new Const<date_st>(location, date);
}

Operand* qz_datetime(QzparseCallback callback, void* data, const document_location_st& location, int64_t year,
                     int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
  QZ_TRACE;
  datetime_st datetime{};
  int y = 0;
  unsigned m = 0, d = 0;
  bool valid = qz_date_fields(year, month, day, &y, &m, &d) && hour >= 0 && minute >= 0 && second >= 0 &&
               hour <= 0xFFFFFFFFll && minute <= 0xFFFFFFFFll && second <= 0xFFFFFFFFll &&
               serial_julian_date(y, m, d, static_cast<unsigned>(hour), static_cast<unsigned>(minute),
                                  static_cast<unsigned>(second), &datetime) == 0 &&
               qz_date_round_trip(date_st{datetime.day}, y, m, d);
  if (!valid) qz_diagnostic(callback, data, location);
  return new Const<datetime_st>(location, datetime);
}

// A string constant from the text between its delimiters (null: the empty string); the
// delimiters join the slices around the text.
YYSTYPE qz_string(const document_location_st& location, const scan_string_st& open, const YYSTYPE* text,
                  const scan_string_st& close) {
  adopted owned;
  if (text) owned(VC_SLICES, *text);
  String value = text ? qz_text(SL(*text))
                      : String::create_from_scan_string(scan_string_st{open.end, open.end, open.charset, 0});
  std::unique_ptr<slices_t> s = qz_slices({open});
  if (text) qz_append(s.get(), {*text});
  qz_append(s.get(), {close});
  Operand* node = new Const_String(location, value);
  return qz_value(node, s.release());
}

// The start forms: hand the operand to the receiver (event 2, with the range of the parsed
// operand), who owns it from then on; with no callback it is not reported and is released here.
void qz_report_operand(QzparseCallback callback, void* data, const YYSTYPE& operand,
                       const document_location_st& location) {
  adopted owned;
  owned(VC_OPERAND, operand);
  Operand* node = OP(operand);
  if (parser_slices_probe) parser_slices_probe(qz_text(SL(operand)));
  if (!callback) return;  // released by `owned`
  MUT(operand).object = nullptr;  // from here on the receiver's, even if it throws
  callback(data, QZPARSE_EVENT_OPERAND, reinterpret_cast<intptr_t>(node), location);
}

}  // namespace

/* Every action body runs inside QZ_TRY ... QZ_CATCH(@$): an exception ends the parse (memory
   exhausted for an allocation failure, otherwise a syntax error at the phrase) instead of
   crossing the parser. */
#define QZ_TRY try {
#define QZ_CATCH(location)                                                        \
  }                                                                               \
  catch (const std::bad_alloc&) {                                                 \
    qz_action_failed(scanner, callback, callback_data, (location), 9013);         \
    YYNOMEM;                                                                      \
  }                                                                               \
  catch (...) {                                                                   \
    qz_action_failed(scanner, callback, callback_data, (location), 10);           \
    YYABORT;                                                                      \
  }
}

%%
/* =============================================================================================
 * Start forms. Each reports its result and accepts at once.
 * The statement, text-line and macro-line forms come with the statement grammar.
 * =========================================================================================== */

input
  : T_START_EXPRESSION opt_blank expression
      { QZ_TRY qz_report_operand(callback, callback_data, $3, @3); QZ_CATCH(@$) YYACCEPT; }
  | T_START_OPERAND opt_blank operand
      { QZ_TRY qz_report_operand(callback, callback_data, $3, @3); QZ_CATCH(@$) YYACCEPT; }
  ;

/* =============================================================================================
 * Operands and expressions: layout
 * =========================================================================================== */

opt_blank
  : %empty      { $$.text = scan_string_st{nullptr, nullptr, nullptr, 0}; }
  | T_BLANK     { $$.text = $1.text; }
  ;

/* =============================================================================================
 * Operands and expressions: expressions by precedence
 *
 * Mended: the two productions that join operands with AND and OR carry priority 2 over the
 * plain form (priority 1). `a.and.b` written without blanks also reads as the member path
 * a.AND.b; the operator reading wins (see member_access for the other half of the mend).
 * =========================================================================================== */

expression
  : or_expression     { $$ = $1; }
  ;

or_expression
  : and_expression  %dprec 1
      { $$ = $1; }
  | or_expression opt_blank or_operator opt_blank and_expression  %dprec 2
      { QZ_TRY $$ = qz_binary<Binary_Func_Or>(@$, $1, {$2.text, $3, $4.text}, $5); QZ_CATCH(@$) }
  ;

and_expression
  : not_expression  %dprec 1
      { $$ = $1; }
  | and_expression opt_blank and_operator opt_blank not_expression  %dprec 2
      { QZ_TRY $$ = qz_binary<Binary_Func_And>(@$, $1, {$2.text, $3, $4.text}, $5); QZ_CATCH(@$) }
  ;

not_expression
  : not_operator opt_blank not_expression  %dprec 2
      { QZ_TRY $$ = qz_unary<Unary_Func_Not>(@$, {$1, $2.text}, $3); QZ_CATCH(@$) }
  | '!' opt_blank not_expression
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @1);
          $$ = qz_unary<Unary_Func_Not>(@$, {$1.text, $2.text}, $3);
        QZ_CATCH(@$) }
  | comparison  %dprec 1
      { $$ = $1; }
  ;

comparison
  : sum
      { $$ = $1; }
  | comparison opt_blank '=' '=' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_EqEq>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '=' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Eq>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | comparison opt_blank '#' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_not_equal(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | comparison opt_blank '<' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Lt>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | comparison opt_blank '<' '=' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_LtEq>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '=' '<' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_LtEq>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '>' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Gt>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | comparison opt_blank '>' '=' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_GtEq>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '=' '>' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_GtEq>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '<' '>' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_LtGt>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '!' '=' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_LtGt>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | comparison opt_blank '$' opt_blank sum
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_In_Str>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  ;

sum
  : product
      { $$ = $1; }
  | sum opt_blank '+' opt_blank product
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Add>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | sum opt_blank '-' opt_blank product
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Sub>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  ;

product
  : power
      { $$ = $1; }
  | product opt_blank '*' opt_blank power
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Mul>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | product opt_blank '/' opt_blank power
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Div>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  | product opt_blank '%' opt_blank power
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Mod>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  ;

power
  : operand
      { $$ = $1; }
  | power opt_blank '*' '*' opt_blank operand
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, qz_span(@3, @4));
          $$ = qz_binary<Binary_Func_Pow>(@$, $1, {$2.text, $3.text, $4.text, $5.text}, $6);
        QZ_CATCH(@$) }
  | power opt_blank '^' opt_blank operand
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @3);
          $$ = qz_binary<Binary_Func_Pow>(@$, $1, {$2.text, $3.text, $4.text}, $5);
        QZ_CATCH(@$) }
  ;

and_operator
  : KW_AND
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text}).release());
        QZ_CATCH(@$) }
  | '.' KW_AND '.'
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text, $2.text, $3.text}).release());
        QZ_CATCH(@$) }
  ;

or_operator
  : KW_OR
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text}).release());
        QZ_CATCH(@$) }
  | '.' KW_OR '.'
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text, $2.text, $3.text}).release());
        QZ_CATCH(@$) }
  ;

not_operator
  : KW_NOT
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text}).release());
        QZ_CATCH(@$) }
  | '.' KW_NOT '.'
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text, $2.text, $3.text}).release());
        QZ_CATCH(@$) }
  ;

/* =============================================================================================
 * Operands and expressions: operands, variables and calls
 * (paren_element and assign_target come with the statement grammar, their only users.)
 * =========================================================================================== */

operand
  : '(' opt_blank expression opt_blank ')'
      { QZ_TRY $$ = qz_unary<Unary_Func_Precedence>(@$, {$1.text, $2.text}, $3, {$4.text, $5.text}); QZ_CATCH(@$) }
  | '-' opt_blank operand  %dprec 1
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @1);
          $$ = qz_unary<Unary_Func_Neg>(@$, {$1.text, $2.text}, $3);
        QZ_CATCH(@$) }
  | '+' opt_blank operand
      { /* No node: the operand itself, with the sign's tokens in front of its slices. */
        QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $3);
          qz_syntax(callback, callback_data, 2, @1);
          if ($2.text.size != 0) SL($3)->push_front($2.text);
          SL($3)->push_front($1.text);
          owned.commit();
          $$ = $3;
        QZ_CATCH(@$) }
  | constant  %dprec 3
      { $$ = $1; }
  | variable_name  %dprec 2
      { $$ = $1; }
  | bracket_element  %dprec 2
      { $$ = $1; }
  | path  %dprec 1
      { $$ = $1; }
  | call
      { $$ = $1; }
  ;

call
  : name opt_blank '(' opt_blank ')'
      { QZ_TRY
          $$ = qz_call(callback, callback_data, @$, $1.text, qz_span(@3, @5),
                       {$1.text, $2.text, $3.text, $4.text, $5.text}, nullptr);
        QZ_CATCH(@$) }
  | name opt_blank '(' opt_blank argument_list opt_blank ')'
      { QZ_TRY
          $$ = qz_call(callback, callback_data, @$, $1.text, qz_span(@3, @7),
                       {$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text}, &$5);
        QZ_CATCH(@$) }
  | KW_CAST opt_blank '(' opt_blank operand T_BLANK KW_AS T_BLANK name opt_blank ')'
      { /* CAST(operand AS type): a Call named "CAST" with the operand and the type name. */
        QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5);
          qz_syntax(callback, callback_data, 1, @1);
          qz_syntax(callback, callback_data, 1, @7);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text,
                                                   $8.text, $9.text, $10.text, $11.text});
          operand_list_ptr arguments(new operand_list_t());
          arguments->push_back(OP($5));
          MUT($5).object = nullptr;
          std::unique_ptr<Operand> type(new Const_String(@9, qz_name($9.text)));
          arguments->push_back(type.get());
          type.release();
          std::unique_ptr<OperandList> list(new OperandList(qz_span(@5, @9), arguments.get()));
          arguments.release();
          std::unique_ptr<Call> node(new Call(@$, String("CAST"), list.get()));
          list.release();
          if (callback) callback(callback_data, QZPARSE_EVENT_CALL, reinterpret_cast<intptr_t>(node.get()), @$);
          $$ = qz_value(node.release(), s.release());
        QZ_CATCH(@$) }
  ;

variable_name
  : name
      { QZ_TRY $$ = qz_variable(@$, $1.text, {$1.text}, 0); QZ_CATCH(@$) }
  | KW_M opt_blank member_operator opt_blank name
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          qz_syntax(callback, callback_data, 1, @1);
          $$ = qz_variable(@$, $5.text, {$1.text, $2.text, $3, $4.text, $5.text}, 1);
        QZ_CATCH(@$) }
  ;

bracket_element
  : variable_name opt_blank '[' opt_blank expression_list opt_blank ']'
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $1)(VC_OPERAND, $5);
          qz_append(SL($1), {$2.text, $3.text, $4.text, $5, $6.text, $7.text});
          Operand* node = new VariableWithIndex(@$, OP($1), static_cast<OperandList*>(OP($5)));
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  ;

/* =============================================================================================
 * Operands and expressions: names
 * =========================================================================================== */

name
  : keyword_name      { $$.text = $1.text; }
  | T_IDENTIFIER      { $$.text = $1.text; }
  ;

keyword_name
  : keyword_word      { $$.text = $1.text; }
  ;

member_name
  : name
      { QZ_TRY $$ = qz_name_item(@$, $1.text, {$1.text}); QZ_CATCH(@$) }
  ;

this_word
  : KW_THIS           { $$.text = $1.text; }
  | KW_THISFORM       { $$.text = $1.text; }
  ;

/* =============================================================================================
 * Operands and expressions: paths
 *
 * Mended, in member_access:
 *   - no blank between a member operator and its member. With the blank allowed, `a .AND. b`
 *     after a name, call or path also read as the member path a.AND.b (and `x .OR. y` as
 *     x.OR.y); the two readings met with equal priority and the parse failed with 9012. A blank
 *     may still stand before the operator (`a .b`).
 *   - a member named AND or OR is not followed by a further chain (chain_member). Written
 *     without blanks, `a.and.b` read both ways and `a.and.b.and.c` met as two AND readings of
 *     equal priority (9012); xBase code writes `x.AND.y.AND.z` often. A member AND or OR still
 *     ends a path (`o.and`), takes an index (`o.or[1]`) or is called (`o.and()`).
 * =========================================================================================== */

path
  : KW_M opt_blank '.' opt_blank path_root opt_blank member_access  %dprec 2
      { QZ_TRY
          qz_syntax(callback, callback_data, 1, @1);
          $$ = qz_path(@$, {$1.text, $2.text, $3.text, $4.text}, &$5, {$6.text}, $7, 1);
        QZ_CATCH(@$) }
  | path_root opt_blank member_access  %dprec 1
      { QZ_TRY $$ = qz_path(@$, {}, &$1, {$2.text}, $3, 0); QZ_CATCH(@$) }
  | member_access
      { QZ_TRY $$ = qz_path(@$, {}, nullptr, {}, $1, 0); QZ_CATCH(@$) }
  | indexed_path_root opt_blank path_tail
      { QZ_TRY $$ = qz_path(@$, {}, &$1, {$2.text}, $3, 0); QZ_CATCH(@$) }
  | call_path_root opt_blank path_tail
      { QZ_TRY $$ = qz_path(@$, {}, &$1, {$2.text}, $3, 0); QZ_CATCH(@$) }
  ;

path_root
  : name  %dprec 1
      { QZ_TRY $$ = qz_name_item(@$, $1.text, {$1.text}); QZ_CATCH(@$) }
  | this_word  %dprec 2
      { QZ_TRY $$ = qz_name_item(@$, $1.text, {$1.text}); QZ_CATCH(@$) }
  ;

indexed_path_root
  : name opt_blank '[' opt_blank expression_list opt_blank ']'  %dprec 1
      { QZ_TRY
          $$ = qz_named_item<NameIndexPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text},
                                                &$5);
        QZ_CATCH(@$) }
  | this_word opt_blank '[' opt_blank expression_list opt_blank ']'  %dprec 2
      { QZ_TRY
          $$ = qz_named_item<NameIndexPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text},
                                                &$5);
        QZ_CATCH(@$) }
  ;

call_path_root
  : name opt_blank '(' opt_blank argument_list opt_blank ')'
      { QZ_TRY
          $$ = qz_named_item<FunctionPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text},
                                               &$5);
        QZ_CATCH(@$) }
  | name opt_blank '(' opt_blank ')'
      { QZ_TRY
          $$ = qz_named_item<FunctionPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5.text}, nullptr,
                                               true, qz_span(@3, @5));
        QZ_CATCH(@$) }
  ;

indexed_member
  : name opt_blank '[' opt_blank expression_list opt_blank ']'
      { QZ_TRY
          $$ = qz_named_item<NameIndexPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text},
                                                &$5);
        QZ_CATCH(@$) }
  ;

member_call
  : name opt_blank '(' opt_blank argument_list opt_blank ')'
      { QZ_TRY
          $$ = qz_named_item<FunctionPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text},
                                               &$5);
        QZ_CATCH(@$) }
  | name opt_blank '(' opt_blank ')'
      { QZ_TRY
          $$ = qz_named_item<FunctionPathItem>(@$, $1.text, {$1.text, $2.text, $3.text, $4.text, $5.text}, nullptr,
                                               true, qz_span(@3, @5));
        QZ_CATCH(@$) }
  ;

member_access
  : member_operator member  %dprec 1
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); $$ = qz_item_list($2, {$1}); QZ_CATCH(@$) }
  | member_operator chain_member opt_blank path_tail  %dprec 1
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); $$ = qz_item_then_tail($2, {$1}, {$3.text}, $4); QZ_CATCH(@$) }
  | member_operator indexed_member  %dprec 2
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); $$ = qz_item_list($2, {$1}); QZ_CATCH(@$) }
  | member_operator indexed_member opt_blank path_tail  %dprec 2
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); $$ = qz_item_then_tail($2, {$1}, {$3.text}, $4); QZ_CATCH(@$) }
  ;

member_operator
  : '.'
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text}).release());
        QZ_CATCH(@$) }
  | '-' '>'
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @$);
          $$ = qz_value(nullptr, qz_slices({$1.text, $2.text}).release());
        QZ_CATCH(@$) }
  ;

member
  : member_name       { $$ = $1; }
  | member_call       { $$ = $1; }
  ;

/* A member that a further chain may follow: any member but the names AND and OR (see above). */
chain_member
  : chain_member_name { $$ = $1; }
  | member_call       { $$ = $1; }
  ;

chain_member_name
  : T_IDENTIFIER
      { QZ_TRY $$ = qz_name_item(@$, $1.text, {$1.text}); QZ_CATCH(@$) }
  | ordinary_keyword_word
      { QZ_TRY $$ = qz_name_item(@$, $1.text, {$1.text}); QZ_CATCH(@$) }
  ;

path_tail
  : member_access
      { $$ = $1; }
  | index_suffix opt_blank path_tail
      { QZ_TRY $$ = qz_item_then_tail($1, {}, {$2.text}, $3); QZ_CATCH(@$) }
  | index_suffix
      { QZ_TRY $$ = qz_item_list($1, {}); QZ_CATCH(@$) }
  ;

index_suffix
  : '[' opt_blank expression_list opt_blank ']'
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $3);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2.text, $3, $4.text, $5.text});
          PathItem* item = new IndexPathItem(@$, static_cast<OperandList*>(OP($3)));
          owned.commit();
          $$ = qz_value(item, s.release());
        QZ_CATCH(@$) }
  ;

/* =============================================================================================
 * Operands and expressions: expression and argument lists
 * =========================================================================================== */

expression_list
  : expression_items
      { QZ_TRY $$ = qz_operand_list(@$, $1); QZ_CATCH(@$) }
  ;

expression_items
  : expression
      { QZ_TRY $$ = qz_list_first($1); QZ_CATCH(@$) }
  | ','
      { QZ_TRY $$ = qz_list_comma(@1, {$1.text}, nullptr); QZ_CATCH(@$) }
  | ',' opt_blank expression
      { QZ_TRY $$ = qz_list_comma(@1, {$1.text, $2.text}, &$3); QZ_CATCH(@$) }
  | expression_items opt_blank ','
      { QZ_TRY $$ = qz_list_append($1, @3, {$2.text, $3.text}, nullptr); QZ_CATCH(@$) }
  | expression_items opt_blank ',' opt_blank expression
      { QZ_TRY $$ = qz_list_append($1, @3, {$2.text, $3.text, $4.text}, &$5); QZ_CATCH(@$) }
  ;

argument_list
  : argument_items
      { QZ_TRY $$ = qz_operand_list(@$, $1); QZ_CATCH(@$) }
  ;

argument_items
  : argument
      { QZ_TRY $$ = qz_list_first($1); QZ_CATCH(@$) }
  | ','
      { QZ_TRY $$ = qz_list_comma(@1, {$1.text}, nullptr); QZ_CATCH(@$) }
  | ',' opt_blank argument
      { QZ_TRY $$ = qz_list_comma(@1, {$1.text, $2.text}, &$3); QZ_CATCH(@$) }
  | argument_items opt_blank ','
      { QZ_TRY $$ = qz_list_append($1, @3, {$2.text, $3.text}, nullptr); QZ_CATCH(@$) }
  | argument_items opt_blank ',' opt_blank argument
      { QZ_TRY $$ = qz_list_append($1, @3, {$2.text, $3.text, $4.text}, &$5); QZ_CATCH(@$) }
  ;

argument
  : '@' opt_blank variable_name  %dprec 2
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @1);
          $$ = qz_unary<Reference>(@$, {$1.text, $2.text}, $3);
        QZ_CATCH(@$) }
  | '@' opt_blank path  %dprec 1
      { QZ_TRY
          qz_syntax(callback, callback_data, 2, @1);
          $$ = qz_unary<Reference>(@$, {$1.text, $2.text}, $3);
        QZ_CATCH(@$) }
  | expression
      { $$ = $1; }
  ;

/* =============================================================================================
 * Operands and expressions: constants
 * Every constant reports its range as syntax class 3 once, in `constant`.
 * =========================================================================================== */

constant
  : integer_constant     { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | numeric_constant     { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | money_constant       { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | logical_constant     { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | null_constant        { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | string_constant      { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | binary_constant      { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | date_constant        { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  | datetime_constant    { QZ_TRY qz_syntax(callback, callback_data, 3, @$); $$ = $1; QZ_CATCH(@$) }
  ;

null_constant
  : '.' KW_NULL '.'
      { QZ_TRY $$ = qz_constant(new Const_Null(@$), qz_slices({$1.text, $2.text, $3.text})); QZ_CATCH(@$) }
  | KW_NULL
      { QZ_TRY $$ = qz_constant(new Const_Null(@$), qz_slices({$1.text})); QZ_CATCH(@$) }
  ;

logical_constant
  : '.' KW_F '.'
      { QZ_TRY $$ = qz_constant(new Const<bool>(@$, false), qz_slices({$1.text, $2.text, $3.text})); QZ_CATCH(@$) }
  | KW_FALSE
      { QZ_TRY $$ = qz_constant(new Const<bool>(@$, false), qz_slices({$1.text})); QZ_CATCH(@$) }
  | '.' KW_T '.'
      { QZ_TRY $$ = qz_constant(new Const<bool>(@$, true), qz_slices({$1.text, $2.text, $3.text})); QZ_CATCH(@$) }
  | KW_TRUE
      { QZ_TRY $$ = qz_constant(new Const<bool>(@$, true), qz_slices({$1.text})); QZ_CATCH(@$) }
  ;

integer_constant
  : unsigned_integer
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          Operand* node = new Const<long>(@$, INT($1));
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  | negative_integer
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          Operand* node = new Const<long>(@$, INT($1));
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  ;

numeric_constant
  : decimal_literal      { $$ = $1; }
  ;

money_constant
  : money_literal        { $$ = $1; }
  ;

binary_constant
  : T_BINARY_STRING
      { QZ_TRY
          std::unique_ptr<slices_t> s = qz_slices({$1.text});
          $$ = qz_constant(Scanner::create_binary_const_string(@$, $1.text), std::move(s));
        QZ_CATCH(@$) }
  ;

string_constant
  : string_literal
      { $$ = $1; }
  | KW_U32 string_literal
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $2);
          qz_syntax(callback, callback_data, 1, @1);
          SL($2)->push_front($1.text);
          static_cast<Const_String*>(OP($2))->value.convert(Charset::utf32le, CON_NONE, 0);
          owned.commit();
          $$ = $2;
        QZ_CATCH(@$) }
  ;

unsigned_integer
  : digits
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          int64_t value = 0;
          if (!Scanner::create_integer(*SL($1), value)) qz_diagnostic(callback, callback_data, @$);
          owned.commit();
          $$ = qz_int_value(value, SL($1));
        QZ_CATCH(@$) }
  | T_HEX_NUMBER
      { QZ_TRY
          std::unique_ptr<slices_t> s = qz_slices({$1.text});
          int64_t value = 0;
          if (!Scanner::create_integer_from_hex(*s, value)) qz_diagnostic(callback, callback_data, @$);
          $$ = qz_int_value(value, s.release());
        QZ_CATCH(@$) }
  ;

negative_integer
  : '-' digits
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $2);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2});
          int64_t value = 0;
          if (!Scanner::create_integer(*s, value)) qz_diagnostic(callback, callback_data, @$);
          $$ = qz_int_value(value, s.release());
        QZ_CATCH(@$) }
  ;

money_literal
  : '$' opt_blank decimal_digits
      { /* Builds the Const<money_type_st> here; money_constant passes it on. */
        QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          money_type_st value{};
          if (!Scanner::create_money(*SL($3), value)) qz_diagnostic(callback, callback_data, @$);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2.text, $3});
          $$ = qz_constant(new Const<money_type_st>(@$, value), std::move(s));
        QZ_CATCH(@$) }
  | '$' opt_blank digits
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          money_type_st value{};
          if (!Scanner::create_money(*SL($3), value)) qz_diagnostic(callback, callback_data, @$);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2.text, $3});
          $$ = qz_constant(new Const<money_type_st>(@$, value), std::move(s));
        QZ_CATCH(@$) }
  ;

decimal_literal
  : decimal_digits
      { /* Builds the Const<numeric_type_st> here; numeric_constant passes it on. */
        QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          numeric_type_st value{};
          if (!Scanner::create_numeric(*SL($1), value)) qz_diagnostic(callback, callback_data, @$);
          Operand* node = new Const<numeric_type_st>(@$, value);
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  ;

digits
  : T_NUMBER
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | digits T_NUMBER
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

decimal_digits
  : digits '.' digits
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1)(VC_SLICES, $3);
          qz_append(SL($1), {$2.text, $3});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  | '.' digits
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $2);
          SL($2)->push_front($1.text);
          owned.commit();
          $$ = $2;
        QZ_CATCH(@$) }
  | digits '.'
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

date_constant
  : '{' opt_blank '^' opt_blank unsigned_integer opt_blank '-' opt_blank unsigned_integer opt_blank '-' opt_blank
    unsigned_integer opt_blank '}'
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $5)(VC_SLICES, $9)(VC_SLICES, $13);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text, $8.text, $9,
                                                   $10.text, $11.text, $12.text, $13, $14.text, $15.text});
          $$ = qz_constant(qz_date(callback, callback_data, @$, INT($5), INT($9), INT($13)), std::move(s));
        QZ_CATCH(@$) }
  | empty_date
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          Operand* node = new Const<date_st>(@$, date_st{});
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  ;

empty_date
  : '{' opt_blank '}'
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text, $2.text, $3.text}).release()); QZ_CATCH(@$) }
  | '{' opt_blank date_separator opt_blank date_separator opt_blank '}'
      { QZ_TRY
          $$ = qz_value(nullptr, qz_slices({$1.text, $2.text, $3.text, $4.text, $5.text, $6.text, $7.text}).release());
        QZ_CATCH(@$) }
  ;

datetime_constant
  : '{' opt_blank '^' opt_blank unsigned_integer opt_blank '-' opt_blank unsigned_integer opt_blank '-' opt_blank
    unsigned_integer opt_blank T_BLANK unsigned_integer opt_blank ':' opt_blank unsigned_integer opt_blank ':'
    opt_blank unsigned_integer opt_blank '}'
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $5)(VC_SLICES, $9)(VC_SLICES, $13)(VC_SLICES, $16)(VC_SLICES, $20)(VC_SLICES, $24);
          std::unique_ptr<slices_t> s = qz_slices({$1.text, $2.text, $3.text, $4.text, $5, $6.text, $7.text, $8.text, $9,
                                                   $10.text, $11.text, $12.text, $13, $14.text, $15.text, $16,
                                                   $17.text, $18.text, $19.text, $20, $21.text, $22.text, $23.text,
                                                   $24, $25.text, $26.text});
          $$ = qz_constant(qz_datetime(callback, callback_data, @$, INT($5), INT($9), INT($13), INT($16), INT($20),
                                       INT($24)),
                           std::move(s));
        QZ_CATCH(@$) }
  | empty_datetime
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          Operand* node = new Const<datetime_st>(@$, datetime_st{});
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  ;

empty_datetime
  : '{' opt_blank date_separator opt_blank date_separator opt_blank ':' opt_blank ':' opt_blank '}'
      { QZ_TRY
          $$ = qz_value(nullptr, qz_slices({$1.text, $2.text, $3.text, $4.text, $5.text, $6.text, $7.text, $8.text,
                                             $9.text, $10.text, $11.text}).release());
        QZ_CATCH(@$) }
  ;

date_separator
  : '.'               { $$.text = $1.text; }
  | '-'               { $$.text = $1.text; }
  ;

/* =============================================================================================
 * Operands and expressions: string literals and raw text
 * (raw_line, line_token, raw_name and raw_name_token come with the statement grammar.)
 * =========================================================================================== */

string_literal
  : '\'' single_quoted_text '\''
      { QZ_TRY $$ = qz_string(@$, $1.text, &$2, $3.text); QZ_CATCH(@$) }
  | '\'' '\''
      { QZ_TRY $$ = qz_string(@$, $1.text, nullptr, $2.text); QZ_CATCH(@$) }
  | '"' double_quoted_text '"'
      { QZ_TRY $$ = qz_string(@$, $1.text, &$2, $3.text); QZ_CATCH(@$) }
  | '"' '"'
      { QZ_TRY $$ = qz_string(@$, $1.text, nullptr, $2.text); QZ_CATCH(@$) }
  | '[' bracket_quoted_text ']'
      { QZ_TRY $$ = qz_string(@$, $1.text, &$2, $3.text); QZ_CATCH(@$) }
  | '[' ']'
      { QZ_TRY $$ = qz_string(@$, $1.text, nullptr, $2.text); QZ_CATCH(@$) }
  ;

single_quoted_text
  : single_quoted_token
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | single_quoted_text single_quoted_token
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

single_quoted_token
  : raw_token | ',' | ';' | ']' | '"' | T_BLANK | '&'
  ;

double_quoted_text
  : double_quoted_token
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | double_quoted_text double_quoted_token
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

double_quoted_token
  : raw_token | ',' | ';' | ']' | '\'' | T_BLANK | '&'
  ;

bracket_quoted_text
  : bracket_quoted_token
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | bracket_quoted_text bracket_quoted_token
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

bracket_quoted_token
  : raw_token | ',' | ';' | '"' | '\'' | T_BLANK | '&'
  ;

/* One token taken as text; the value is the token's text (the default action copies it). */
raw_token
  : '+' | '-' | '/' | '\\' | '^' | '%' | '(' | ')' | '{' | '}' | '[' | '@' | ':' | '!' | '>' | '<'
  | '=' | '?' | '#' | '*' | '.' | '$'
  | keyword_word | T_IDENTIFIER | T_BINARY_STRING | T_HEX_NUMBER | T_NUMBER | T_OTHER_CHAR
  ;

/* =============================================================================================
 * keyword_word: one production per keyword token. The value is the keyword's text
 * as written (the default actions copy the token's value). AND and OR stand apart so that a
 * chain member can exclude them (chain_member_name); the language is the same.
 * =========================================================================================== */

keyword_word
  : ordinary_keyword_word
  | KW_AND
  | KW_OR
  ;

/* Every keyword but AND and OR, in the order of the token codes. */

ordinary_keyword_word
  : KW_ADD | KW_ADDITIVE | KW_AFTER | KW_AGAIN | KW_ALL
  | KW_ALIAS | KW_ALTER | KW_APPEND | KW_ARRAY | KW_AS | KW_ASCENDING
  | KW_ASSERT | KW_ASSERTS | KW_AT | KW_AUTOINC | KW_B | KW_BEGIN
  | KW_BINARY | KW_BLANK | KW_BLOB | KW_BLOCKSIZE | KW_BOTTOM | KW_BROWSE
  | KW_C | KW_CANCEL | KW_CANDIDATE | KW_CASE | KW_CAST | KW_CATCH
  | KW_CD | KW_CDX | KW_CENTURY | KW_CLASS | KW_CLEAR | KW_CLS
  | KW_CHAR | KW_CODEPAGE | KW_COLLATE | KW_COLUMN | KW_COMMAND | KW_COMPACT
  | KW_CONTINUE | KW_COPY | KW_CREATE | KW_CURSOR | KW_CURRENCY | KW_D
  | KW_DATASESSION | KW_DATE | KW_DATETIME | KW_DECIMALS | KW_DECLARE | KW_DEFINE
  | KW_DELETE | KW_DELETED | KW_DESCENDING | KW_DIMENSION | KW_DISPLAY | KW_DO
  | KW_DOUBLE | KW_DROP | KW_EACH | KW_ELSE | KW_END | KW_ENDCASE
  | KW_ENDDEFINE | KW_ENDDO | KW_ENDFOR | KW_ENDFUNC | KW_ENDIF | KW_ENDPROC
  | KW_ENDSCAN | KW_ENDTEXT | KW_ENDTRY | KW_ENDWITH | KW_ENGINE | KW_ERROR
  | KW_EQUAL | KW_EXACT | KW_EXCEPT | KW_EXCLUSIVE | KW_EXIT | KW_EXTERNAL
  | KW_F | KW_FALSE | KW_FDOW | KW_FINALLY | KW_FIND | KW_FILE
  | KW_FILTER | KW_FLAGS | KW_FLOAT | KW_FOR | KW_QZOBJECT | KW_FROM
  | KW_FUNCTION | KW_G | KW_GATHER | KW_GENERAL | KW_GO | KW_GOTO
  | KW_GREATER | KW_HIDDEN | KW_HOURS | KW_IF | KW_IFDEF | KW_IFNDEF
  | KW_I | KW_IMPORT | KW_IMPORTS | KW_IN | KW_INCLUDE | KW_INDEX
  | KW_INTEGER | KW_KEY | KW_L | KW_LIBRARY | KW_LIKE | KW_LOCAL
  | KW_LOCATE | KW_LOGICAL | KW_LONG | KW_LOOP | KW_LPARAMETERS | KW_M
  | KW_MEMO | KW_MEMVAR | KW_MKDIR | KW_MODIFY | KW_N | KW_NAME
  | KW_NEAR | KW_NEXT | KW_NEXTVALUE | KW_UNUSED_399 | KW_NOCPTRANS | KW_NOMENU
  | KW_NOOPTIMIZE | KW_NOSHOW | KW_NOT | KW_NOTE | KW_NOUPDATE | KW_NOWAIT
  | KW_NULL | KW_NUMERIC | KW_OBJECT | KW_OF | KW_OFF | KW_OLEPUBLIC
  | KW_ON | KW_ORDER | KW_OTHERWISE | KW_PACK | KW_PATH
  | KW_PARAMETERS | KW_POINT | KW_PRAGMA | KW_PREFIX | KW_PRETEXT | KW_PRIVATE
  | KW_PROCEDURE | KW_PROTECTED | KW_PUBLIC | KW_Q | KW_QUIT | KW_RECALL
  | KW_RECORD | KW_REPLACE | KW_REST | KW_RETURN | KW_REINDEX | KW_RENAME
  | KW_ROLLBACK | KW_RUN | KW_SAME | KW_SCAN | KW_SCATTER | KW_SECONDS
  | KW_SELECT | KW_SEEK | KW_SEPARATOR | KW_SET | KW_SHARED | KW_SHORT
  | KW_SHOW | KW_SINGLE | KW_SKIP | KW_STEP | KW_STORE | KW_STRING
  | KW_STRUCTURE | KW_SPACE | KW_SUSPEND | KW_SYSFORMATS | KW_T | KW_TABLE
  | KW_TAG | KW_TEXT | KW_TEXTMERGE | KW_THEN | KW_THIS | KW_THISFORM
  | KW_THROW | KW_TIMEOUT | KW_TO | KW_TOP | KW_TRANSACTION | KW_TRUE
  | KW_TRY | KW_U | KW_U8 | KW_U16 | KW_U32 | KW_USE
  | KW_UNDEF | KW_UNICODE | KW_UNIQUE | KW_UNLOCK | KW_V | KW_VALUE
  | KW_VARBINARY | KW_VARCHAR | KW_W | KW_WAIT | KW_WINDOW | KW_WITH
  | KW_WHEN | KW_WHILE | KW_Y | KW_ZAP
  ;

%%

namespace qzbase {

parser_tables_st parser_table_counts() {
  parser_tables_st counts;
  counts.terminals = YYNTOKENS;
  counts.nonterminals = YYNNTS;
  counts.rules = YYNRULES;
  counts.states = YYNSTATES;
  return counts;
}

}  // namespace qzbase
