/* grammar.y - the GLR grammar of the Qz language.
 *
 * Bison 3.8 turns this file into the generalized LR parser at build time (generate.cmake); the
 * generated parser is not committed. The productions are
 * maintained by hand. The generated function is named
 * qz_glr_parse; yyparse (parser.cpp) calls it on a stack deep enough for the input.
 *
 * Behaviour is Bison's GLR parser: deterministic while one stack is open, deferred actions while
 * several are, readings merged by %dprec (no %merge), errors through yyerror (10, 9012, 9013),
 * no error recovery. A start form's action reports its result and accepts at once.
 *
 * Ambiguities resolved (see the sections): the member operator and its member
 * touch, and a member named AND or OR ends a chain (member_access); the AND and OR productions
 * win over the plain forms (or_expression, and_expression). Without these, `a .AND. b` after a
 * name, call or path failed as ambiguous (9012).
 *
 * Layout of this file:
 *   1. Declarations: parser options, the value and location types, the token codes (fixed by the
 *      scanner), the destructors per owning symbol.
 *   2. Prologue code: the token-code check and the location rule. The locations, events,
 *      ownership helpers and node builders the actions use are in grammar_actions.h/.cpp.
 *   3. Rules, by section:
 *        start forms
 *        statements: layout, raw text and macro lines; statement lines; block, declaration,
 *          assignment and output forms; declarations
 *        command statements; command clauses and options; column definitions; DECLARE
 *        expressions, operands, names, paths, lists, constants, strings
 *        keyword_word and ordinary_keyword_word (one production per keyword token)
 *      Symbols of the operand grammar used only by statements (line_end, text_line_end, statement_end,
 *      paren_element, assign_target, raw_line, line_token, raw_name, raw_name_token, macro_line,
 *      macro_items) stand with the statement grammar.
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
    paren_element assign_target store_targets name_or_expression file_name file_names on_off opt_step of_clause
%destructor { qz_destroy(VC_ITEM, $$); }
    member_name path_root indexed_path_root call_path_root indexed_member member_call member
    chain_member chain_member_name index_suffix
%destructor { qz_destroy(VC_ITEMS, $$); } member_access path_tail
%destructor { qz_destroy(VC_OPERANDS, $$); } expression_items argument_items store_target_items file_name_items
%destructor { qz_destroy(VC_SLICES, $$); }
    and_operator or_operator not_operator member_operator unsigned_integer negative_integer
    digits decimal_digits empty_date empty_datetime single_quoted_text double_quoted_text
    bracket_quoted_text raw_line trimmed_line raw_name dotted_name
%destructor { qz_destroy(VC_STATEMENT, $$); } statement statement_line block_close_line
%destructor { qz_destroy(VC_OPTION, $$); }
    in_clause codepage_clause engine_clause record_target append_option use_option scan_option locate_option
    seek_option order_option index_option filter_option do_option copy_option unlock_option for_each_part
    text_option textmerge_option go_bottom_option go_top_option gather_from_option gather_name_option
    gather_memvar_option scatter_to_option scatter_name_option scatter_memvar_option table_option
    column_attribute
%destructor { qz_destroy(VC_OPTIONS, $$); }
    append_options use_options scan_options locate_options seek_options order_options index_options
    filter_options do_options copy_options unlock_options skip_arguments for_each_parts text_options
    textmerge_options go_record_target go_bottom_options go_top_options gather_from_options
    gather_name_options gather_memvar_options scatter_to_options scatter_name_options scatter_memvar_options
    opt_table_options table_options opt_column_attributes column_attributes
%destructor { qz_destroy(VC_DEFINITION, $$); } declared_name array_declarator variable_declaration dimension_item
    path_array_declarator
%destructor { qz_destroy(VC_DEFINITIONS, $$); }
    parameter_names variable_declarations array_declarators private_names hidden_names protected_names
    dimension_items
%destructor { qz_destroy(VC_NAMED, $$); } as_clause opt_as_clause
%destructor { qz_destroy(VC_COLUMN, $$); } column_definition
%destructor { qz_destroy(VC_COLUMNS, $$); } column_definitions
%destructor { qz_destroy(VC_DLL_PARAMETERS, $$); } dll_parameters
%destructor { qz_destroy(VC_FRAGMENTS, $$); } macro_items
%destructor { qz_destroy(VC_MACRO_ITEMS, $$); } macro_line

%code {
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <list>
#include <memory>
#include <new>
#include <utility>

#include "frontend/grammar_actions.h"
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

using namespace qzbase::grammar;

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
 * Statement lines, text lines and macro lines report a Statement (event 1), expressions and
 * operands an Operand (event 2).
 * =========================================================================================== */

input
  : T_START_EXPRESSION opt_blank expression
      { QZ_TRY qz_report_operand(callback, callback_data, $3, @3); QZ_CATCH(@$) YYACCEPT; }
  | T_START_OPERAND opt_blank operand
      { QZ_TRY qz_report_operand(callback, callback_data, $3, @3); QZ_CATCH(@$) YYACCEPT; }

  | T_START_STATEMENT statement_line
      { QZ_TRY qz_report_statement(callback, callback_data, $2, @2); QZ_CATCH(@$) YYACCEPT; }
  | T_START_TEXT_LINE line_end  %dprec 1
      { QZ_TRY
          adopted owned;
          YYSTYPE s = qz_stmt<Cmd_Text>(owned, @$, 1u, String(size_t{0}, Charset::utf8));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_TEXT_LINE raw_line line_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $2);
          YYSTYPE s = qz_stmt<Cmd_Text>(owned, @$, 1u, qz_slices_text($2));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_TEXT_LINE opt_blank KW_ENDTEXT opt_line_text line_end  %dprec 3
      { QZ_TRY
          YYSTYPE s = qz_command(callback, callback_data, @$, STMT_ENDTEXT, nullptr);
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_MACRO_LINE macro_line line_end  %dprec 1
      { QZ_TRY
          adopted owned;
          owned(VC_MACRO_ITEMS, $2);
          YYSTYPE s = qz_stmt<Cmd_Incomplete>(owned, @$, static_cast<ptr_list<MacroItem>*>($2.object),
                                              static_cast<uint32_t>(STMT_INCOMPLETE));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_MACRO_LINE KW_IF macro_line line_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_MACRO_ITEMS, $3);
          YYSTYPE s = qz_stmt<Cmd_If>(owned, @$, static_cast<ptr_list<MacroItem>*>($3.object));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_MACRO_LINE KW_DO opt_blank KW_WHILE macro_line line_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_MACRO_ITEMS, $5);
          YYSTYPE s = qz_stmt<Cmd_DoWhile>(owned, @$, static_cast<ptr_list<MacroItem>*>($5.object));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  /* CATCH TO &name: the macro names the variable, so the line stays in its TRY. */
  | T_START_MACRO_LINE KW_CATCH opt_blank KW_TO opt_blank '&' name statement_end  %dprec 2
      { QZ_TRY
          adopted owned;
          YYSTYPE s = qz_stmt<Cmd_CatchTo>(owned, @$, new Const<bool>(@2, true), qz_name($7.text));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_MACRO_LINE KW_CATCH opt_blank KW_TO opt_blank '&' name opt_blank KW_WHEN opt_blank expression
    statement_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $11);
          YYSTYPE s = qz_stmt<Cmd_CatchTo>(owned, @$, OP($11), qz_name($7.text));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  | T_START_MACRO_LINE KW_SCAN macro_line line_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_MACRO_ITEMS, $3);
          YYSTYPE s = qz_stmt<BasicCommand>(owned, @$, STMT_SCAN, static_cast<ptr_list<MacroItem>*>($3.object));
          qz_report_statement(callback, callback_data, s, @$);
        QZ_CATCH(@$) YYACCEPT; }
  ;

/* =============================================================================================
 * Statements: layout, raw text and macro lines
 * =========================================================================================== */

line_end
  : T_NEWLINE
  | T_END
  ;

text_line_end
  : opt_blank T_NEWLINE
  ;

statement_end
  : opt_blank T_NEWLINE
  | opt_blank T_END
  ;

raw_line
  : line_token
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | raw_line line_token
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); qz_append(SL($1), {$2.text}); owned.commit(); $$ = $1; QZ_CATCH(@$) }
  ;

line_token
  : raw_token | ',' | ';' | '"' | '\'' | ']' | T_BLANK | '&'
  ;

/* Text up to the end of the statement that neither starts nor ends with a blank: the blanks
   before the line end belong to statement_end. (Read as a raw_line, a trailing blank could end
   either the text or the statement, and the line failed as ambiguous.) */
trimmed_line
  : line_word
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | trimmed_line line_word
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); qz_append(SL($1), {$2.text}); owned.commit(); $$ = $1; QZ_CATCH(@$) }
  | trimmed_line T_BLANK line_word
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text, $3.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

line_word
  : raw_token | ',' | ';' | '"' | '\'' | ']' | '&'
  ;

raw_name
  : raw_name_token
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | raw_name raw_name_token
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); qz_append(SL($1), {$2.text}); owned.commit(); $$ = $1; QZ_CATCH(@$) }
  ;

raw_name_token
  : raw_token | '"' | '\'' | ']' | '&'
  ;

macro_line
  : macro_items
      { QZ_TRY
          adopted owned;
          owned(VC_FRAGMENTS, $1);
          ptr_list<MacroItem>* items = nullptr;
          auto* fragments = static_cast<fragment_list_t*>($1.object);
          MUT($1).object = nullptr;  // parse_macro_endl frees the fragments
          int rc = Scanner::parse_macro_endl(@$, fragments, &items);
          if (rc != 0 || !items) {
            delete items;
            YYABORT;  /* no variable item: the parse fails without a message */
          }
          if (callback) callback(callback_data, QZPARSE_EVENT_MACRO_LINE, 0, @$);
          $$ = qz_value(items, nullptr);
        QZ_CATCH(@$) }
  ;

macro_items
  : '&' name  %dprec 4
      { QZ_TRY $$ = qz_fragment(nullptr, MACRO_ITEM_VARIABLE, $2.text); QZ_CATCH(@$) }
  | line_token  %dprec 3
      { QZ_TRY $$ = qz_fragment(nullptr, MACRO_ITEM_STRING, $1.text); QZ_CATCH(@$) }
  | macro_items '&' name  %dprec 2
      { QZ_TRY $$ = qz_fragment(&$1, MACRO_ITEM_VARIABLE, $3.text); QZ_CATCH(@$) }
  | macro_items line_token  %dprec 1
      { QZ_TRY $$ = qz_fragment(&$1, MACRO_ITEM_STRING, $2.text); QZ_CATCH(@$) }
  ;

/* =============================================================================================
 * Statements: statement lines and block-closing lines
 * =========================================================================================== */

statement_line
  : statement  %dprec 3
      { $$ = $1; }
  | call statement_end  %dprec 2
      { QZ_TRY adopted owned; owned(VC_OPERAND, $1); $$ = qz_stmt<Cmd_Assign>(owned, @$, nullptr, OP($1)); QZ_CATCH(@$) }
  | path statement_end  %dprec 2
      { QZ_TRY adopted owned; owned(VC_OPERAND, $1); $$ = qz_stmt<Cmd_Assign>(owned, @$, nullptr, OP($1)); QZ_CATCH(@$) }
  | block_close_line  %dprec 1
      { $$ = $1; }
  ;

block_close_line
  : KW_ELSE opt_line_text line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Else>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDDO opt_line_text line_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_ENDDO, nullptr); QZ_CATCH(@$) }
  | KW_ENDFOR opt_line_text line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_EndFor>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDIF opt_line_text line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Endif>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDSCAN opt_line_text line_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_ENDSCAN, nullptr); QZ_CATCH(@$) }
  | KW_EXIT opt_line_text line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Exit>(owned, @$); QZ_CATCH(@$) }
  | KW_LOOP opt_line_text line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Loop>(owned, @$); QZ_CATCH(@$) }
  | KW_NEXT opt_line_text line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_EndFor>(owned, @$); QZ_CATCH(@$) }
  | KW_NOTE opt_line_text line_end
      { QZ_TRY qz_syntax(callback, callback_data, 4, @1); $$ = qz_statement_value(nullptr); QZ_CATCH(@$) }
  | KW_QUIT opt_line_text line_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_QUIT, nullptr); QZ_CATCH(@$) }
  ;

opt_line_text
  : %empty
  | raw_line
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); qz_syntax(callback, callback_data, 4, @1); QZ_CATCH(@$) }
  ;

/* =============================================================================================
 * Statements: block, declaration, assignment and output forms
 *
 * Mended: RETURN @ takes a variable name as well as a call or a path (RETURN @v returns a
 * reference to v).
 * =========================================================================================== */

statement
  : '=' opt_blank expression statement_end
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_Assign>(owned, @$, nullptr, OP($3)); QZ_CATCH(@$) }
  | '?' statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Echo>(owned, @$, qz_empty_list(@1), 1); QZ_CATCH(@$) }
  | '?' opt_blank expression_list statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $3);
          $$ = qz_stmt<Cmd_Echo>(owned, @$, static_cast<OperandList*>(OP($3)), 1);
        QZ_CATCH(@$) }
  | '?' '?' statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Echo>(owned, @$, qz_empty_list(qz_span(@1, @2)), 0); QZ_CATCH(@$) }
  | '?' '?' opt_blank expression_list statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $4);
          $$ = qz_stmt<Cmd_Echo>(owned, @$, static_cast<OperandList*>(OP($4)), 0);
        QZ_CATCH(@$) }
  | '\\' line_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Text>(owned, @$, 1u, String(size_t{0}, Charset::utf8)); QZ_CATCH(@$) }
  | '\\' '\\' line_end  %dprec 2
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Text>(owned, @$, 0u, String(size_t{0}, Charset::utf8)); QZ_CATCH(@$) }
  | '\\' raw_line line_end  %dprec 1
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $2);
          $$ = qz_stmt<Cmd_Text>(owned, @$, 1u, qz_slices_text($2));
        QZ_CATCH(@$) }
  | '\\' '\\' raw_line line_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          $$ = qz_stmt<Cmd_Text>(owned, @$, 0u, qz_slices_text($3));
        QZ_CATCH(@$) }
  | KW_DEFINE opt_blank KW_CLASS opt_blank name opt_blank as_clause opt_olepublic statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_NAMED, $7);
          $$ = qz_stmt<Cmd_Define>(owned, @$, qz_name($5.text), NAMED($7), static_cast<uint32_t>(INT($8)));
        QZ_CATCH(@$) }
  | KW_ENDDEFINE statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Enddefine>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDFUNC statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Endfunc>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDPROC statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Endfunc>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDWITH statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_ENDWITH, nullptr); QZ_CATCH(@$) }
  | KW_FOR opt_blank variable_name opt_blank '=' opt_blank expression opt_blank KW_TO opt_blank expression opt_step
    statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $3)(VC_OPERAND, $7)(VC_OPERAND, $11)(VC_OPERAND, $12);
          $$ = qz_stmt<Cmd_For>(owned, @$, OP($3), OP($7), OP($11), OP($12));
        QZ_CATCH(@$) }
  | KW_FOR opt_blank KW_EACH opt_blank variable_name opt_blank KW_IN opt_blank expression opt_qzobject statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_FOR_EACH, nullptr,
                          {{"VALUE", &$5, @5}, {"IN", &$9, @9}, {INT($10) ? "QZOBJECT" : nullptr, nullptr, @10}});
        QZ_CATCH(@$) }
  | KW_FOR opt_blank KW_EACH opt_blank for_each_parts opt_blank KW_IN opt_blank expression opt_qzobject statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_FOR_EACH, &$5,
                          {{"IN", &$9, @9}, {INT($10) ? "QZOBJECT" : nullptr, nullptr, @10}});
        QZ_CATCH(@$) }
  | function_head opt_blank name opt_as_clause statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_NAMED, $4);
          $$ = qz_stmt<Cmd_Function>(owned, @$, qz_name($3.text), nullptr, static_cast<uint32_t>(INT($1)), NAMED($4));
        QZ_CATCH(@$) }
  | function_head opt_blank name opt_blank '(' opt_blank ')' opt_as_clause statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_NAMED, $8);
          $$ = qz_stmt<Cmd_Function>(owned, @$, qz_name($3.text), nullptr, static_cast<uint32_t>(INT($1)), NAMED($8));
        QZ_CATCH(@$) }
  | function_head opt_blank name opt_blank '(' opt_blank parameter_names opt_blank ')' opt_as_clause statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $7)(VC_NAMED, $10);
          $$ = qz_stmt<Cmd_Function>(owned, @$, qz_name($3.text), static_cast<definition_list_t*>($7.object),
                                     static_cast<uint32_t>(INT($1)), NAMED($10));
        QZ_CATCH(@$) }
  | KW_LPARAMETERS opt_blank parameter_names statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_LParameters>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | assign_target opt_blank '=' opt_blank expression statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $1)(VC_OPERAND, $5);
          $$ = qz_stmt<Cmd_Assign>(owned, @$, OP($1), OP($5));
        QZ_CATCH(@$) }
  | KW_PARAMETERS opt_blank parameter_names statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Parameters>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_TEXT text_line_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_TEXT, nullptr); QZ_CATCH(@$) }
  | KW_TEXT opt_blank text_options text_line_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_TEXT, &$3); QZ_CATCH(@$) }
  | KW_IF opt_blank expression statement_end  %dprec 1
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_If>(owned, @$, OP($3)); QZ_CATCH(@$) }
  | KW_IF opt_blank expression opt_blank KW_THEN statement_end  %dprec 2
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_If>(owned, @$, OP($3)); QZ_CATCH(@$) }
  | KW_LOCAL opt_blank variable_declarations statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Local>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_LOCAL opt_blank KW_ARRAY opt_blank array_declarators statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $5);
          $$ = qz_stmt<Cmd_Local>(owned, @$, static_cast<definition_list_t*>($5.object));
        QZ_CATCH(@$) }
  | KW_RETURN statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Return>(owned, @$, new Const<bool>(@1, true)); QZ_CATCH(@$) }
  | KW_RETURN opt_blank expression statement_end
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_Return>(owned, @$, OP($3)); QZ_CATCH(@$) }
  | KW_RETURN opt_blank '@' opt_blank call statement_end
      { QZ_TRY
          YYSTYPE reference = qz_unary<Reference>(qz_span(@3, @5), {$3.text, $4.text}, $5);
          adopted owned;
          owned(VC_OPERAND, reference);
          $$ = qz_stmt<Cmd_Return>(owned, @$, OP(reference));
        QZ_CATCH(@$) }
  | KW_RETURN opt_blank '@' opt_blank path statement_end
      { QZ_TRY
          YYSTYPE reference = qz_unary<Reference>(qz_span(@3, @5), {$3.text, $4.text}, $5);
          adopted owned;
          owned(VC_OPERAND, reference);
          $$ = qz_stmt<Cmd_Return>(owned, @$, OP(reference));
        QZ_CATCH(@$) }
  | KW_RETURN opt_blank '@' opt_blank variable_name statement_end
      { QZ_TRY
          YYSTYPE reference = qz_unary<Reference>(qz_span(@3, @5), {$3.text, $4.text}, $5);
          adopted owned;
          owned(VC_OPERAND, reference);
          $$ = qz_stmt<Cmd_Return>(owned, @$, OP(reference));
        QZ_CATCH(@$) }
  | KW_WITH T_BLANK expression statement_end
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_With>(owned, @$, OP($3)); QZ_CATCH(@$) }
  | KW_PUBLIC opt_blank variable_declarations statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Public>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_PRIVATE opt_blank private_names statement_end  %dprec 1
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Private_VarList>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_PRIVATE opt_blank KW_ALL statement_end  %dprec 2
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Private_Pattern>(owned, @$, String("*"), String()); QZ_CATCH(@$) }
  | KW_PRIVATE opt_blank KW_ALL opt_blank KW_EXCEPT T_BLANK trimmed_line statement_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $7);
          $$ = qz_stmt<Cmd_Private_Pattern>(owned, @$, String("*"), qz_slices_text($7));
        QZ_CATCH(@$) }
  | KW_PRIVATE opt_blank KW_ALL opt_blank KW_LIKE T_BLANK trimmed_line statement_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $7);
          $$ = qz_stmt<Cmd_Private_Pattern>(owned, @$, qz_slices_text($7), String());
        QZ_CATCH(@$) }
  | KW_HIDDEN opt_blank hidden_names statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Hidden>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_PROTECTED opt_blank protected_names statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Protected>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_DIMENSION opt_blank dimension_items statement_end  %dprec 2
      { QZ_TRY
          adopted owned;
          owned(VC_DEFINITIONS, $3);
          $$ = qz_stmt<Cmd_Dimension>(owned, @$, static_cast<definition_list_t*>($3.object));
        QZ_CATCH(@$) }
  | KW_SUSPEND statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Statement>(owned, @$, static_cast<uint32_t>(STMT_SUSPEND)); QZ_CATCH(@$) }
  | KW_DO opt_blank KW_WHILE opt_blank expression statement_end  %dprec 3
      { QZ_TRY adopted owned; owned(VC_OPERAND, $5); $$ = qz_stmt<Cmd_DoWhile>(owned, @$, OP($5)); QZ_CATCH(@$) }
  | KW_DO opt_blank KW_CASE statement_end  %dprec 2
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_DoCase>(owned, @$); QZ_CATCH(@$) }
  | KW_CASE opt_blank expression statement_end
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_Case>(owned, @$, OP($3)); QZ_CATCH(@$) }
  | KW_OTHERWISE statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Otherwise>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDCASE statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_EndCase>(owned, @$); QZ_CATCH(@$) }
  | KW_TRY statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Try>(owned, @$); QZ_CATCH(@$) }
  | KW_CATCH statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_CatchTo>(owned, @$, nullptr, new Const<bool>(@1, true)); QZ_CATCH(@$) }
  | KW_CATCH opt_blank KW_TO opt_blank variable_name statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5);
          $$ = qz_stmt<Cmd_CatchTo>(owned, @$, OP($5), new Const<bool>(@1, true));
        QZ_CATCH(@$) }
  | KW_CATCH opt_blank KW_TO opt_blank variable_name opt_blank KW_WHEN opt_blank expression statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5)(VC_OPERAND, $9);
          $$ = qz_stmt<Cmd_CatchTo>(owned, @$, OP($5), OP($9));
        QZ_CATCH(@$) }
  | KW_FINALLY statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Finally>(owned, @$); QZ_CATCH(@$) }
  | KW_ENDTRY statement_end
      { QZ_TRY adopted owned; $$ = qz_stmt<Cmd_Endtry>(owned, @$); QZ_CATCH(@$) }
  | KW_STORE opt_blank expression opt_blank KW_TO opt_blank store_targets statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $3)(VC_OPERAND, $7);
          $$ = qz_stmt<Cmd_Store>(owned, @$, OP($3), static_cast<OperandList*>(OP($7)));
        QZ_CATCH(@$) }
  | KW_EXTERNAL opt_blank KW_ARRAY opt_blank expression_list statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5);
          $$ = qz_stmt<Cmd_External_Array>(owned, @$, static_cast<OperandList*>(OP($5)));
        QZ_CATCH(@$) }
  | KW_SCAN statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SCAN, nullptr); QZ_CATCH(@$) }
  | KW_SCAN opt_blank scan_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SCAN, &$3); QZ_CATCH(@$) }
  | '#' KW_PRAGMA opt_blank name opt_blank '(' opt_blank argument_list opt_blank ')' statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $8);
          $$ = qz_stmt<Prep_Pragma>(owned, @$, qz_name($4.text), static_cast<OperandList*>(OP($8)));
        QZ_CATCH(@$) }
  ;

/* =============================================================================================
 * Statements: keyword groups
 * =========================================================================================== */

function_keyword
  : KW_FUNCTION
  | KW_PROCEDURE
  ;

function_head
  : function_keyword
      { $$ = qz_int_value(1, nullptr); }
  | KW_PROTECTED opt_blank function_keyword
      { $$ = qz_int_value(2, nullptr); }
  | KW_HIDDEN opt_blank function_keyword
      { $$ = qz_int_value(4, nullptr); }
  ;

opt_qzobject
  : %empty                  { $$ = qz_int_value(0, nullptr); }
  | opt_blank KW_QZOBJECT   { $$ = qz_int_value(1, nullptr); }
  ;

opt_olepublic
  : %empty                  { $$ = qz_int_value(0, nullptr); }
  | opt_blank KW_OLEPUBLIC  { $$ = qz_int_value(1, nullptr); }
  ;

/* =============================================================================================
 * Statements: declarations
 * =========================================================================================== */

declared_name
  : variable_name
      { QZ_TRY $$ = qz_definition($1, nullptr, nullptr); QZ_CATCH(@$) }
  | variable_name opt_blank as_clause
      { QZ_TRY $$ = qz_definition($1, nullptr, &$3); QZ_CATCH(@$) }
  ;

array_declarator
  : variable_name opt_blank '[' opt_blank expression_list opt_blank ']'
      { QZ_TRY $$ = qz_definition($1, &$5, nullptr); QZ_CATCH(@$) }
  | variable_name opt_blank '(' opt_blank expression_list opt_blank ')'
      { QZ_TRY $$ = qz_definition($1, &$5, nullptr); QZ_CATCH(@$) }
  | variable_name opt_blank '[' opt_blank expression_list opt_blank ']' opt_blank as_clause
      { QZ_TRY $$ = qz_definition($1, &$5, &$9); QZ_CATCH(@$) }
  | variable_name opt_blank '(' opt_blank expression_list opt_blank ')' opt_blank as_clause
      { QZ_TRY $$ = qz_definition($1, &$5, &$9); QZ_CATCH(@$) }
  ;

parameter_names
  : declared_name
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | parameter_names opt_blank ',' opt_blank declared_name
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

variable_declarations
  : variable_declaration
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | variable_declarations opt_blank ',' opt_blank variable_declaration
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

variable_declaration
  : declared_name       { $$ = $1; }
  | array_declarator    { $$ = $1; }
  ;

array_declarators
  : array_declarator
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | array_declarators opt_blank ',' opt_blank array_declarator
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

private_names
  : declared_name
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | private_names opt_blank ',' opt_blank declared_name
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

hidden_names
  : declared_name
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | hidden_names opt_blank ',' opt_blank declared_name
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

protected_names
  : declared_name
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | protected_names opt_blank ',' opt_blank declared_name
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

dimension_items
  : dimension_item
      { QZ_TRY $$ = qz_records_first<Definition>(VC_DEFINITION, $1); QZ_CATCH(@$) }
  | dimension_items opt_blank ',' opt_blank dimension_item
      { QZ_TRY $$ = qz_records_push<Definition>(VC_DEFINITIONS, $1, VC_DEFINITION, $5); QZ_CATCH(@$) }
  ;

dimension_item
  : array_declarator        { $$ = $1; }
  | path_array_declarator   { $$ = $1; }
  ;

path_array_declarator
  : path opt_blank '[' opt_blank expression_list opt_blank ']'
      { QZ_TRY $$ = qz_definition($1, &$5, nullptr); QZ_CATCH(@$) }
  | path opt_blank '[' opt_blank expression_list opt_blank ']' opt_blank as_clause
      { QZ_TRY $$ = qz_definition($1, &$5, &$9); QZ_CATCH(@$) }
  ;

opt_as_clause
  : %empty                  { $$ = qz_value(nullptr, nullptr); }
  | opt_blank as_clause     { $$ = $2; }
  ;

as_clause
  : KW_AS opt_blank raw_name opt_blank of_clause
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3)(VC_OPERAND, $5);
          named_operand_st* clause = new named_operand_st(qz_slices_text($3), OP($5));
          owned.moved();
          $$ = qz_value(clause, nullptr);
        QZ_CATCH(@$) }
  | KW_AS opt_blank raw_name
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          named_operand_st* clause = new named_operand_st(qz_slices_text($3), nullptr);
          owned.moved();
          $$ = qz_value(clause, nullptr);
        QZ_CATCH(@$) }
  ;

of_clause
  : KW_OF opt_blank dotted_name
      { QZ_TRY adopted owned; owned(VC_SLICES, $3); $$ = qz_text_constant(@3, $3); QZ_CATCH(@$) }
  ;

dotted_name
  : name
      { QZ_TRY $$ = qz_value(nullptr, qz_slices({$1.text}).release()); QZ_CATCH(@$) }
  | dotted_name '.' name
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $1);
          qz_append(SL($1), {$2.text, $3.text});
          owned.commit();
          $$ = $1;
        QZ_CATCH(@$) }
  ;

store_targets
  : store_target_items
      { QZ_TRY $$ = qz_operand_list(@$, $1); QZ_CATCH(@$) }
  ;

store_target_items
  : assign_target
      { QZ_TRY $$ = qz_list_first($1); QZ_CATCH(@$) }
  | store_target_items opt_blank ',' opt_blank assign_target
      { QZ_TRY $$ = qz_list_append($1, @3, {$2.text, $3.text, $4.text}, &$5); QZ_CATCH(@$) }
  ;

paren_element
  : variable_name opt_blank '(' opt_blank expression_list opt_blank ')'
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $1)(VC_OPERAND, $5);
          qz_append(SL($1), {$2.text, $3.text, $4.text, $5, $6.text, $7.text});
          Operand* node = new VariableWithIndex(@$, OP($1), static_cast<OperandList*>(OP($5)));
          owned.commit();
          $$ = qz_value(node, SL($1));
        QZ_CATCH(@$) }
  ;

assign_target
  : variable_name  %dprec 2      { $$ = $1; }
  | bracket_element  %dprec 2    { $$ = $1; }
  | paren_element  %dprec 2      { $$ = $1; }
  | path  %dprec 1               { $$ = $1; }
  ;

/* =============================================================================================
 * Command statements
 *
 * Mended:
 *   - DECLARE: a blank stands between the result type and the function name and between the
 *     library and the parameters (without a place for them, DECLARE with a result type or with
 *     parameters could never parse); the parameter list follows its blank only when it is not
 *     empty, so DECLARE f IN lib with a trailing blank stays one reading.
 *   - the raw form of DELETE FILE takes its text as a trimmed_line: a trailing blank ends the
 *     statement (with a raw_line it was ambiguous).
 * =========================================================================================== */

/* further productions of statement: the commands compete with the forms above by priority */
statement
  : KW_ALTER opt_blank KW_TABLE opt_blank file_name opt_blank KW_ADD opt_blank KW_COLUMN opt_blank column_definition
    statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5)(VC_COLUMN, $11);
          $$ = qz_stmt<Cmd_Add_Column>(owned, @$, OP($5), COLUMN($11), new option_ptr_list());
        QZ_CATCH(@$) }
  | KW_ALTER opt_blank KW_TABLE opt_blank file_name opt_blank KW_DROP opt_blank KW_COLUMN opt_blank name_or_expression
    statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5)(VC_OPERAND, $11);
          $$ = qz_stmt<Cmd_Drop_Column>(owned, @$, OP($5), OP($11));
        QZ_CATCH(@$) }
  | KW_APPEND opt_blank append_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_APPEND, &$3); QZ_CATCH(@$) }
  | KW_ASSERT opt_blank expression statement_end
      { QZ_TRY
          YYSTYPE text = qz_value(new Const_String(@3, qz_slices_text($3)), nullptr);
          $$ = qz_command(callback, callback_data, @$, STMT_ASSERT, nullptr, {{"EXPR", &$3, @3}, {"EXPRTEXT", &text, @3}});
        QZ_CATCH(@$) }
  | KW_BEGIN opt_blank KW_TRANSACTION statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_BEGIN_TRANSACTION, nullptr); QZ_CATCH(@$) }
  | KW_BROWSE statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_BROWSE, nullptr); QZ_CATCH(@$) }
  | KW_CANCEL statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_CANCEL, nullptr); QZ_CATCH(@$) }
  | KW_DELETE opt_blank KW_TAG opt_blank name_or_expression statement_end  %dprec 1
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_DELETE_TAG, nullptr, {{"TAG", &$5, @5}}); QZ_CATCH(@$) }
  | KW_DELETE opt_blank KW_TAG opt_blank KW_ALL statement_end  %dprec 2
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_DELETE_ALL_TAGS, nullptr); QZ_CATCH(@$) }
  | KW_END opt_blank KW_TRANSACTION statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_END_TRANSACTION, nullptr); QZ_CATCH(@$) }
  | KW_ERROR opt_blank expression opt_blank ',' opt_blank expression statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_ERROR, nullptr, {{"CODE", &$3, @3}, {"MESSAGE", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_ERROR opt_blank expression statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_ERROR, nullptr, {{"CODE", &$3, @3}}); QZ_CATCH(@$) }
  | KW_MODIFY opt_blank KW_COMMAND opt_blank file_name statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_MODIFY_COMMAND, nullptr, {{"FILENAME", &$5, @5}});
        QZ_CATCH(@$) }
  | KW_ROLLBACK statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_ROLLBACK, nullptr); QZ_CATCH(@$) }
  | KW_SET opt_blank set_flag_word opt_blank on_off statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_SET, nullptr,
                          {{static_cast<const char*>($3.object), nullptr, @3}, {"TO", &$5, @5}});
        QZ_CATCH(@$) }
  | KW_SET opt_blank set_to_word opt_blank KW_TO opt_blank expression statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_SET, nullptr,
                          {{static_cast<const char*>($3.object), nullptr, @3}, {"TO", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_SET opt_blank KW_FILTER opt_blank KW_TO statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_FILTER_TO, nullptr); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_FILTER opt_blank filter_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_FILTER_TO, &$5); QZ_CATCH(@$) }
  | KW_SET opt_blank text_keyword opt_blank textmerge_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_TEXTMERGE_TO, &$5); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_DATASESSION opt_blank KW_TO statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_DATASESSION_TO, nullptr); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_DATASESSION opt_blank KW_TO opt_blank expression statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_SET_DATASESSION_TO, nullptr, {{"TO", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_USE T_BLANK file_name opt_blank use_options statement_end  %dprec 1
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_USE, &$5, {{"FILENAME", &$3, @3}}); QZ_CATCH(@$) }
  | KW_USE T_BLANK file_name statement_end  %dprec 1
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_USE, nullptr, {{"FILENAME", &$3, @3}}); QZ_CATCH(@$) }
  | KW_USE opt_blank KW_IN opt_blank name_or_expression statement_end  %dprec 2
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_USE, nullptr, {{"IN", &$5, @5}}); QZ_CATCH(@$) }
  | KW_USE statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_USE, nullptr); QZ_CATCH(@$) }
  | KW_SELECT opt_blank name_or_expression statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SELECT, nullptr, {{"ALIAS", &$3, @3}}); QZ_CATCH(@$) }
  | KW_DECLARE T_BLANK name opt_blank KW_IN T_BLANK file_name statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $7);
          $$ = qz_stmt<Cmd_DeclareDll>(owned, @$, 0u, qz_name($3.text), OP($7), nullptr);
        QZ_CATCH(@$) }
  | KW_DECLARE T_BLANK name opt_blank KW_IN T_BLANK file_name T_BLANK dll_parameters statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $7)(VC_DLL_PARAMETERS, $9);
          auto* parameters = static_cast<dll_parameter_list_t*>($9.object);
          $$ = qz_stmt<Cmd_DeclareDll>(owned, @$, 0u, qz_name($3.text), OP($7), parameters);
        QZ_CATCH(@$) }
  | KW_DECLARE T_BLANK dll_type T_BLANK name opt_blank KW_IN T_BLANK file_name statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $9);
          $$ = qz_stmt<Cmd_DeclareDll>(owned, @$, static_cast<uint32_t>(INT($3)), qz_name($5.text), OP($9), nullptr);
        QZ_CATCH(@$) }
  | KW_DECLARE T_BLANK dll_type T_BLANK name opt_blank KW_IN T_BLANK file_name T_BLANK dll_parameters statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $9)(VC_DLL_PARAMETERS, $11);
          auto* parameters = static_cast<dll_parameter_list_t*>($11.object);
          $$ = qz_stmt<Cmd_DeclareDll>(owned, @$, static_cast<uint32_t>(INT($3)), qz_name($5.text), OP($9), parameters);
        QZ_CATCH(@$) }
  | KW_SKIP statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SKIP, nullptr); QZ_CATCH(@$) }
  | KW_SKIP opt_blank skip_arguments statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SKIP, &$3); QZ_CATCH(@$) }
  | go_keyword opt_blank go_top_options statement_end  %dprec 2
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_GO_TOP, &$3); QZ_CATCH(@$) }
  | go_keyword opt_blank go_bottom_options statement_end  %dprec 2
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_GO_BOTTOM, &$3); QZ_CATCH(@$) }
  | go_keyword opt_blank go_record_target statement_end  %dprec 1
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_GO_RECORD, &$3); QZ_CATCH(@$) }
  | KW_CREATE opt_blank KW_CURSOR opt_blank name_or_expression opt_table_options opt_blank '(' opt_blank
    column_definitions opt_blank ')' statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5)(VC_OPTIONS, $6)(VC_COLUMNS, $10);
          $$ = qz_stmt<Cmd_Create_Table>(owned, @$, 1u, OP($5), OPTS($6), static_cast<column_list_t*>($10.object));
        QZ_CATCH(@$) }
  | KW_CREATE opt_blank KW_TABLE opt_blank file_name opt_table_options opt_blank '(' opt_blank
    column_definitions opt_blank ')' statement_end
      { QZ_TRY
          adopted owned;
          owned(VC_OPERAND, $5)(VC_OPTIONS, $6)(VC_COLUMNS, $10);
          $$ = qz_stmt<Cmd_Create_Table>(owned, @$, 0u, OP($5), OPTS($6), static_cast<column_list_t*>($10.object));
        QZ_CATCH(@$) }
  | KW_PACK statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_PACK, nullptr); QZ_CATCH(@$) }
  | KW_ZAP statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_ZAP, nullptr); QZ_CATCH(@$) }
  | KW_REPLACE opt_blank name_or_expression opt_blank KW_WITH opt_blank expression statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_REPLACE, nullptr, {{"FIELD", &$3, @3}, {"VALUE", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_REPLACE opt_blank name_or_expression opt_blank KW_WITH opt_blank expression opt_blank KW_IN opt_blank
    name_or_expression statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_REPLACE, nullptr,
                          {{"FIELD", &$3, @3}, {"VALUE", &$7, @7}, {"IN", &$11, @11}});
        QZ_CATCH(@$) }
  | KW_SCATTER opt_blank scatter_to_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SCATTER_TO, &$3); QZ_CATCH(@$) }
  | KW_SCATTER opt_blank scatter_memvar_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SCATTER_MEMVAR, &$3); QZ_CATCH(@$) }
  | KW_SCATTER opt_blank scatter_name_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SCATTER_NAME, &$3); QZ_CATCH(@$) }
  | KW_GATHER opt_blank gather_from_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_GATHER_FROM, &$3); QZ_CATCH(@$) }
  | KW_GATHER opt_blank gather_memvar_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_GATHER_MEMVAR, &$3); QZ_CATCH(@$) }
  | KW_GATHER opt_blank gather_name_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_GATHER_NAME, &$3); QZ_CATCH(@$) }
  | KW_DO T_BLANK file_name statement_end  %dprec 1
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_DO, nullptr, {{"FILENAME", &$3, @3}}); QZ_CATCH(@$) }
  | KW_DO T_BLANK file_name opt_blank do_options statement_end  %dprec 1
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_DO, &$5, {{"FILENAME", &$3, @3}}); QZ_CATCH(@$) }
  | KW_DROP T_BLANK KW_TABLE T_BLANK file_name statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_DROP_TABLE, nullptr, {{"FILENAME", &$5, @5}});
        QZ_CATCH(@$) }
  | KW_RENAME T_BLANK KW_TABLE T_BLANK file_name T_BLANK KW_TO T_BLANK file_name statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_RENAME_TABLE, nullptr, {{"FROM", &$5, @5}, {"TO", &$9, @9}});
        QZ_CATCH(@$) }
  | KW_THROW opt_blank expression statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_THROW, nullptr, {{"EXPRESSION", &$3, @3}}); QZ_CATCH(@$) }
  | KW_SET opt_blank set_path_word opt_blank KW_TO T_BLANK file_names statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, static_cast<StatementTypes>(INT($3)), nullptr,
                          {{"PATH", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_SET opt_blank set_path_word opt_blank KW_TO T_BLANK file_names opt_blank KW_ADDITIVE statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, static_cast<StatementTypes>(INT($3)), nullptr,
                          {{"PATH", &$7, @7}, {"ADDITIVE", nullptr, @9}});
        QZ_CATCH(@$) }
  | KW_SET opt_blank set_path_word opt_blank KW_TO statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, static_cast<StatementTypes>(INT($3)), nullptr); QZ_CATCH(@$) }
  | KW_SET opt_blank set_value_word opt_blank KW_TO opt_blank expression statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, static_cast<StatementTypes>(INT($3)), nullptr, {{"TO", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_SET opt_blank KW_DATE opt_blank KW_TO opt_blank name_or_expression statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_DATE_TO, nullptr, {{"TO", &$7, @7}}); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_DATE opt_blank name_or_expression statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_DATE_TO, nullptr, {{"TO", &$5, @5}}); QZ_CATCH(@$) }
  | KW_SET opt_blank set_switch_word opt_blank on_off statement_end
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, static_cast<StatementTypes>(INT($3)), nullptr, {{"TO", &$5, @5}});
        QZ_CATCH(@$) }
  | KW_INDEX opt_blank index_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_INDEX, &$3); QZ_CATCH(@$) }
  | KW_LOCATE opt_blank locate_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_LOCATE, &$3); QZ_CATCH(@$) }
  | KW_CONTINUE statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_CONTINUE, nullptr); QZ_CATCH(@$) }
  | KW_DELETE statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_DELETE_RECORD, nullptr); QZ_CATCH(@$) }
  | KW_RECALL statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_RECALL_RECORD, nullptr); QZ_CATCH(@$) }
  | KW_DELETE opt_blank KW_FILE opt_blank '(' opt_blank expression opt_blank ')' statement_end  %dprec 2
      { QZ_TRY
          $$ = qz_command(callback, callback_data, @$, STMT_DELETE_FILE, nullptr, {{"FILENAME", &$7, @7}});
        QZ_CATCH(@$) }
  | KW_DELETE opt_blank KW_FILE T_BLANK trimmed_line statement_end  %dprec 1
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $5);
          YYSTYPE text = qz_text_constant(@5, $5);
          $$ = qz_command(callback, callback_data, @$, STMT_DELETE_FILE, nullptr, {{"FILENAME", &text, @5}});
        QZ_CATCH(@$) }
  | KW_RUN T_BLANK raw_line line_end
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          YYSTYPE text = qz_text_constant(@3, $3);
          $$ = qz_command(callback, callback_data, @$, STMT_RUN, nullptr, {{"CMD", &text, @3}});
        QZ_CATCH(@$) }
  | KW_UNLOCK statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_UNLOCK, nullptr); QZ_CATCH(@$) }
  | KW_UNLOCK opt_blank unlock_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_UNLOCK, &$3); QZ_CATCH(@$) }
  | '!' T_BLANK raw_line line_end
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          YYSTYPE text = qz_text_constant(@3, $3);
          $$ = qz_command(callback, callback_data, @$, STMT_RUN, nullptr, {{"CMD", &text, @3}});
        QZ_CATCH(@$) }
  | clear_keyword statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_CLEAR, nullptr); QZ_CATCH(@$) }
  | KW_CD T_BLANK raw_line line_end
      { QZ_TRY
          adopted owned;
          owned(VC_SLICES, $3);
          YYSTYPE text = qz_text_constant(@3, $3);
          $$ = qz_command(callback, callback_data, @$, STMT_CD, nullptr, {{"PATH", &text, @3}});
        QZ_CATCH(@$) }
  | KW_COPY opt_blank KW_TO T_BLANK file_name statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_COPY_TO, nullptr, {{"FILENAME", &$5, @5}}); QZ_CATCH(@$) }
  | KW_COPY opt_blank KW_TO T_BLANK file_name opt_blank copy_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_COPY_TO, &$7, {{"FILENAME", &$5, @5}}); QZ_CATCH(@$) }
  | KW_REINDEX statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_REINDEX, nullptr); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_ORDER opt_blank KW_TO statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_ORDER_TO, nullptr); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_ORDER opt_blank KW_TO opt_blank name_or_expression statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_ORDER_TO, nullptr, {{"TAG", &$7, @7}}); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_ORDER opt_blank KW_TO opt_blank name_or_expression opt_blank order_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_ORDER_TO, &$9, {{"TAG", &$7, @7}}); QZ_CATCH(@$) }
  | KW_SET opt_blank KW_ORDER opt_blank KW_TO opt_blank order_options statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SET_ORDER_TO, &$7); QZ_CATCH(@$) }
  | seek_keyword opt_blank expression statement_end  %dprec 2
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SEEK, nullptr, {{"EXPRESSION", &$3, @3}}); QZ_CATCH(@$) }
  | seek_keyword opt_blank expression opt_blank seek_options statement_end  %dprec 2
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_SEEK, &$5, {{"EXPRESSION", &$3, @3}}); QZ_CATCH(@$) }
  | KW_DISPLAY opt_blank KW_STRUCTURE statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_DISPLAY_STRUCTURE, nullptr); QZ_CATCH(@$) }
  | KW_IMPORTS T_BLANK file_name statement_end
      { QZ_TRY adopted owned; owned(VC_OPERAND, $3); $$ = qz_stmt<Cmd_Import_Library>(owned, @$, OP($3)); QZ_CATCH(@$) }
  | KW_MKDIR T_BLANK file_name statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_MKDIR, nullptr, {{"FILENAME", &$3, @3}}); QZ_CATCH(@$) }
  | KW_WAIT statement_end
      { QZ_TRY $$ = qz_command(callback, callback_data, @$, STMT_WAIT, nullptr); QZ_CATCH(@$) }
  ;

/* The SET forms by their word. The flag-style settings carry their option name (a static string)
   in the object word; the others carry their statement kind. */

set_flag_word
  : asserts_keyword   { $$ = qz_value(const_cast<char*>("ASSERTS"), nullptr); }
  | KW_DELETED        { $$ = qz_value(const_cast<char*>("DELETED"), nullptr); }
  | KW_STEP           { $$ = qz_value(const_cast<char*>("STEP"), nullptr); }
  | KW_EXACT          { $$ = qz_value(const_cast<char*>("EXACT"), nullptr); }
  | KW_EXCLUSIVE      { $$ = qz_value(const_cast<char*>("EXCLUSIVE"), nullptr); }
  | KW_NEAR           { $$ = qz_value(const_cast<char*>("NEAR"), nullptr); }
  | KW_SPACE          { $$ = qz_value(const_cast<char*>("SPACE"), nullptr); }
  ;

set_to_word
  : KW_DECIMALS       { $$ = qz_value(const_cast<char*>("DECIMALS"), nullptr); }
  | KW_BLOCKSIZE      { $$ = qz_value(const_cast<char*>("BLOCKSIZE"), nullptr); }
  ;

set_path_word
  : KW_LIBRARY        { $$ = qz_int_value(STMT_SET_LIBRARY_TO, nullptr); }
  | KW_PATH           { $$ = qz_int_value(STMT_SET_PATH_TO, nullptr); }
  | KW_PROCEDURE      { $$ = qz_int_value(STMT_SET_PROCEDURE_TO, nullptr); }
  ;

set_value_word
  : KW_FDOW           { $$ = qz_int_value(STMT_SET_FDOW_TO, nullptr); }
  | KW_POINT          { $$ = qz_int_value(STMT_SET_POINT_TO, nullptr); }
  | KW_SEPARATOR      { $$ = qz_int_value(STMT_SET_SEPARATOR_TO, nullptr); }
  | KW_HOURS          { $$ = qz_int_value(STMT_SET_HOURS_TO, nullptr); }
  ;

set_switch_word
  : KW_SYSFORMATS     { $$ = qz_int_value(STMT_SET_SYSFORMATS_TO, nullptr); }
  | KW_SECONDS        { $$ = qz_int_value(STMT_SET_SECONDS_TO, nullptr); }
  | KW_CENTURY        { $$ = qz_int_value(STMT_SET_CENTURY_TO, nullptr); }
  ;

go_keyword : KW_GO | KW_GOTO ;
seek_keyword : KW_SEEK | KW_FIND ;
text_keyword : KW_TEXT | KW_TEXTMERGE ;
asserts_keyword : KW_ASSERT | KW_ASSERTS ;
clear_keyword : KW_CLEAR | KW_CLS ;

/* =============================================================================================
 * Command clauses and options
 * =========================================================================================== */

in_clause
  : KW_IN opt_blank name_or_expression
      { QZ_TRY $$ = qz_valued("IN", @$, $3); QZ_CATCH(@$) }
  ;

codepage_clause
  : KW_CODEPAGE opt_blank '=' opt_blank expression
      { QZ_TRY $$ = qz_valued("CODEPAGE", @$, $5); QZ_CATCH(@$) }
  ;

engine_clause
  : KW_ENGINE opt_blank '=' opt_blank name_or_expression
      { QZ_TRY $$ = qz_valued("ENGINE", @$, $5); QZ_CATCH(@$) }
  ;

record_target
  : KW_RECORD opt_blank expression  %dprec 2
      { QZ_TRY $$ = qz_valued("RECORD", @$, $3); QZ_CATCH(@$) }
  | expression  %dprec 1
      { QZ_TRY $$ = qz_valued("RECORD", @$, $1); QZ_CATCH(@$) }
  ;

on_off
  : KW_ON
      { QZ_TRY $$ = qz_value(new Const<bool>(@$, true), nullptr); QZ_CATCH(@$) }
  | KW_OFF
      { QZ_TRY $$ = qz_value(new Const<bool>(@$, false), nullptr); QZ_CATCH(@$) }
  ;

opt_step
  : %empty
      { $$ = qz_value(nullptr, nullptr); }
  | opt_blank KW_STEP opt_blank expression
      { $$ = $4; }
  ;

name_or_expression
  : name  %dprec 2
      { QZ_TRY
          std::unique_ptr<slices_t> s = qz_slices({$1.text});
          $$ = qz_value(new Name(@$, qz_name($1.text)), s.release());
        QZ_CATCH(@$) }
  | expression  %dprec 1
      { $$ = $1; }
  ;

file_name
  : dotted_name  %dprec 3
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); $$ = qz_text_constant(@$, $1); QZ_CATCH(@$) }
  | expression  %dprec 2
      { $$ = $1; }
  | raw_name  %dprec 1
      { QZ_TRY adopted owned; owned(VC_SLICES, $1); $$ = qz_text_constant(@$, $1); QZ_CATCH(@$) }
  ;

file_names
  : file_name_items
      { QZ_TRY $$ = qz_operand_list(@$, $1); QZ_CATCH(@$) }
  ;

file_name_items
  : file_name
      { QZ_TRY $$ = qz_list_first($1); QZ_CATCH(@$) }
  | file_name_items opt_blank ',' opt_blank file_name
      { QZ_TRY $$ = qz_list_append($1, @3, {$2.text, $3.text, $4.text}, &$5); QZ_CATCH(@$) }
  ;

append_options
  : append_option                         { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | append_options opt_blank append_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
append_option
  : KW_BLANK      { QZ_TRY $$ = qz_flag("BLANK", @$); QZ_CATCH(@$) }
  | in_clause     { $$ = $1; }
  | KW_NOMENU     { QZ_TRY $$ = qz_flag("NOMENU", @$); QZ_CATCH(@$) }
  ;

use_options
  : use_option                       { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | use_options opt_blank use_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
use_option
  : engine_clause   { $$ = $1; }
  | in_clause       { $$ = $1; }
  | KW_SHARED       { QZ_TRY $$ = qz_flag("SHARED", @$); QZ_CATCH(@$) }
  | KW_EXCLUSIVE    { QZ_TRY $$ = qz_flag("EXCLUSIVE", @$); QZ_CATCH(@$) }
  | KW_AGAIN        { QZ_TRY $$ = qz_flag("AGAIN", @$); QZ_CATCH(@$) }
  | KW_ALIAS opt_blank name_or_expression  %dprec 1
      { QZ_TRY $$ = qz_valued("ALIAS", @$, $3); QZ_CATCH(@$) }
  | KW_NOUPDATE     { QZ_TRY $$ = qz_flag("NOUPDATE", @$); QZ_CATCH(@$) }
  ;

scan_options
  : scan_option                        { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | scan_options opt_blank scan_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
scan_option
  : KW_NOOPTIMIZE                   { QZ_TRY $$ = qz_flag("NOOPTIMIZE", @$); QZ_CATCH(@$) }
  | KW_REST                         { QZ_TRY $$ = qz_flag("REST", @$); QZ_CATCH(@$) }
  | KW_FOR opt_blank expression     { QZ_TRY $$ = qz_valued("FOR", @$, $3); QZ_CATCH(@$) }
  | KW_WHILE opt_blank expression   { QZ_TRY $$ = qz_valued("WHILE", @$, $3); QZ_CATCH(@$) }
  ;

locate_options
  : locate_option                          { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | locate_options opt_blank locate_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
locate_option
  : KW_FOR opt_blank expression     { QZ_TRY $$ = qz_valued("FOR", @$, qz_source_text(@3, $3)); QZ_CATCH(@$) }
  | KW_WHILE opt_blank expression   { QZ_TRY $$ = qz_valued("WHILE", @$, qz_source_text(@3, $3)); QZ_CATCH(@$) }
  | KW_REST                         { QZ_TRY $$ = qz_flag("REST", @$); QZ_CATCH(@$) }
  | KW_NOOPTIMIZE                   { QZ_TRY $$ = qz_flag("NOOPTIMIZE", @$); QZ_CATCH(@$) }
  ;

seek_options
  : seek_option                        { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | seek_options opt_blank seek_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
seek_option
  : KW_IN opt_blank name_or_expression  { QZ_TRY $$ = qz_valued("IN", @$, $3); QZ_CATCH(@$) }
  | KW_RECORD opt_blank expression      { QZ_TRY $$ = qz_valued("RECORD", @$, $3); QZ_CATCH(@$) }
  | KW_ASCENDING                        { QZ_TRY $$ = qz_flag("ASCENDING", @$); QZ_CATCH(@$) }
  | KW_DESCENDING                       { QZ_TRY $$ = qz_flag("DESCENDING", @$); QZ_CATCH(@$) }
  | KW_SAME                             { QZ_TRY $$ = qz_flag("SAME", @$); QZ_CATCH(@$) }
  | KW_AFTER                            { QZ_TRY $$ = qz_flag("AFTER", @$); QZ_CATCH(@$) }
  | KW_NEAR opt_blank on_off            { QZ_TRY $$ = qz_valued("NEAR", @$, $3); QZ_CATCH(@$) }
  | KW_EXACT                            { QZ_TRY $$ = qz_flag("EXACT", @$); QZ_CATCH(@$) }
  | KW_PREFIX                           { QZ_TRY $$ = qz_flag("PREFIX", @$); QZ_CATCH(@$) }
  ;

order_options
  : order_option                         { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | order_options opt_blank order_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
order_option
  : KW_TAG opt_blank name_or_expression { QZ_TRY $$ = qz_valued("TAG", @$, $3); QZ_CATCH(@$) }
  | KW_ASCENDING                        { QZ_TRY $$ = qz_flag("ASCENDING", @$); QZ_CATCH(@$) }
  | KW_DESCENDING                       { QZ_TRY $$ = qz_flag("DESCENDING", @$); QZ_CATCH(@$) }
  | in_clause                           { $$ = $1; }
  ;

index_options
  : index_option                         { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | index_options opt_blank index_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
index_option
  : KW_ADDITIVE                         { QZ_TRY $$ = qz_flag("ADDITIVE", @$); QZ_CATCH(@$) }
  | KW_ASCENDING                        { QZ_TRY $$ = qz_flag("ASCENDING", @$); QZ_CATCH(@$) }
  | KW_CANDIDATE                        { QZ_TRY $$ = qz_flag("CANDIDATE", @$); QZ_CATCH(@$) }
  | KW_COLLATE opt_blank expression     { QZ_TRY $$ = qz_valued("COLLATE", @$, $3); QZ_CATCH(@$) }
  | KW_DESCENDING                       { QZ_TRY $$ = qz_flag("DESCENDING", @$); QZ_CATCH(@$) }
  | KW_ON opt_blank expression          { QZ_TRY $$ = qz_valued("ON", @$, qz_source_text(@3, $3)); QZ_CATCH(@$) }
  | KW_TAG opt_blank name_or_expression { QZ_TRY $$ = qz_valued("TAG", @$, qz_source_text(@3, $3)); QZ_CATCH(@$) }
  | KW_UNIQUE                           { QZ_TRY $$ = qz_flag("UNIQUE", @$); QZ_CATCH(@$) }
  | KW_BINARY                           { QZ_TRY $$ = qz_flag("BINARY", @$); QZ_CATCH(@$) }
  | KW_FOR opt_blank expression         { QZ_TRY $$ = qz_valued("FOR", @$, qz_source_text(@3, $3)); QZ_CATCH(@$) }
  ;

filter_options
  : filter_option                          { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | filter_options opt_blank filter_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
filter_option
  : KW_TO opt_blank expression    { QZ_TRY $$ = qz_valued("TO", @$, qz_source_text(@3, $3)); QZ_CATCH(@$) }
  | in_clause                     { $$ = $1; }
  ;

do_options
  : do_option                      { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | do_options opt_blank do_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
do_option
  : KW_WITH opt_blank argument_list { QZ_TRY $$ = qz_valued("WITH", @$, $3); QZ_CATCH(@$) }
  | in_clause                       { $$ = $1; }
  ;

copy_options
  : copy_option                        { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | copy_options opt_blank copy_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
copy_option
  : KW_WITH opt_blank KW_CDX      { QZ_TRY $$ = qz_flag("CDX", @$); QZ_CATCH(@$) }
  ;

unlock_options
  : unlock_option                          { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | unlock_options opt_blank unlock_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
unlock_option
  : in_clause                         { $$ = $1; }
  | KW_RECORD opt_blank expression    { QZ_TRY $$ = qz_valued("RECORD", @$, $3); QZ_CATCH(@$) }
  | KW_ALL                            { QZ_TRY $$ = qz_flag("ALL", @$); QZ_CATCH(@$) }
  ;

skip_arguments
  : in_clause  %dprec 2
      { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | expression  %dprec 1
      { QZ_TRY $$ = qz_options_first(callback, callback_data, qz_valued("RECORDS", @1, $1)); QZ_CATCH(@$) }
  | in_clause T_BLANK expression  %dprec 2
      { QZ_TRY
          YYSTYPE list = qz_options_first(callback, callback_data, $1);
          $$ = qz_options_push(callback, callback_data, list, qz_valued("RECORDS", @3, $3));
        QZ_CATCH(@$) }
  | expression opt_blank in_clause  %dprec 1
      { QZ_TRY
          YYSTYPE list = qz_options_first(callback, callback_data, qz_valued("RECORDS", @1, $1));
          $$ = qz_options_push(callback, callback_data, list, $3);
        QZ_CATCH(@$) }
  ;

for_each_parts
  : for_each_part                          { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | for_each_parts opt_blank for_each_part { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
for_each_part
  : KW_KEY opt_blank variable_name    { QZ_TRY $$ = qz_valued("KEY", @$, $3); QZ_CATCH(@$) }
  | KW_VALUE opt_blank variable_name  { QZ_TRY $$ = qz_valued("VALUE", @$, $3); QZ_CATCH(@$) }
  ;

text_options
  : text_option                        { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | text_options opt_blank text_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
text_option
  : KW_TO opt_blank expression        { QZ_TRY $$ = qz_valued("TO", @$, $3); QZ_CATCH(@$) }
  | KW_ADDITIVE                       { QZ_TRY $$ = qz_flag("ADDITIVE", @$); QZ_CATCH(@$) }
  | text_keyword                      { QZ_TRY $$ = qz_flag("TEXTMERGE", @$); QZ_CATCH(@$) }
  | KW_NOSHOW                         { QZ_TRY $$ = qz_flag("NOSHOW", @$); QZ_CATCH(@$) }
  | KW_FLAGS opt_blank expression     { QZ_TRY $$ = qz_valued("FLAGS", @$, $3); QZ_CATCH(@$) }
  | KW_PRETEXT opt_blank expression   { QZ_TRY $$ = qz_valued("PRETEXT", @$, $3); QZ_CATCH(@$) }
  ;

textmerge_options
  : textmerge_option                             { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | textmerge_options opt_blank textmerge_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
textmerge_option
  : KW_ON           { QZ_TRY $$ = qz_flag("ON", @$); QZ_CATCH(@$) }
  | KW_OFF          { QZ_TRY $$ = qz_flag("OFF", @$); QZ_CATCH(@$) }
  | KW_TO           { QZ_TRY $$ = qz_flag("TO", @$); QZ_CATCH(@$) }
  | KW_TO opt_blank KW_MEMVAR opt_blank name_or_expression
      { QZ_TRY $$ = qz_valued("TO_MEMVAR", @$, $5); QZ_CATCH(@$) }
  | KW_ADDITIVE     { QZ_TRY $$ = qz_flag("ADDITIVE", @$); QZ_CATCH(@$) }
  | KW_SHOW         { QZ_TRY $$ = qz_flag("SHOW", @$); QZ_CATCH(@$) }
  | KW_NOSHOW       { QZ_TRY $$ = qz_flag("NOSHOW", @$); QZ_CATCH(@$) }
  ;

go_record_target
  : record_target
      { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | record_target opt_blank in_clause
      { QZ_TRY
          YYSTYPE list = qz_options_first(callback, callback_data, $1);
          $$ = qz_options_push(callback, callback_data, list, $3);
        QZ_CATCH(@$) }
  | in_clause T_BLANK record_target
      { QZ_TRY
          YYSTYPE list = qz_options_first(callback, callback_data, $1);
          $$ = qz_options_push(callback, callback_data, list, $3);
        QZ_CATCH(@$) }
  ;

go_bottom_options
  : go_bottom_option                             { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | go_bottom_options opt_blank go_bottom_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
go_bottom_option
  : KW_BOTTOM       { QZ_TRY $$ = qz_flag("BOTTOM", @$); QZ_CATCH(@$) }
  | in_clause       { $$ = $1; }
  ;

go_top_options
  : go_top_option                          { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | go_top_options opt_blank go_top_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
go_top_option
  : KW_TOP          { QZ_TRY $$ = qz_flag("TOP", @$); QZ_CATCH(@$) }
  | in_clause       { $$ = $1; }
  ;

gather_from_options
  : gather_from_option                               { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | gather_from_options opt_blank gather_from_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
gather_from_option
  : KW_MEMO                       { QZ_TRY $$ = qz_flag("MEMO", @$); QZ_CATCH(@$) }
  | KW_FROM opt_blank expression  { QZ_TRY $$ = qz_valued("FROM", @$, $3); QZ_CATCH(@$) }
  ;

gather_name_options
  : gather_name_option                               { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | gather_name_options opt_blank gather_name_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
gather_name_option
  : KW_MEMO                       { QZ_TRY $$ = qz_flag("MEMO", @$); QZ_CATCH(@$) }
  | KW_NAME opt_blank expression  { QZ_TRY $$ = qz_valued("NAME", @$, $3); QZ_CATCH(@$) }
  ;

gather_memvar_options
  : gather_memvar_option                                 { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | gather_memvar_options opt_blank gather_memvar_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
gather_memvar_option
  : KW_MEMO         { QZ_TRY $$ = qz_flag("MEMO", @$); QZ_CATCH(@$) }
  | KW_MEMVAR       { QZ_TRY $$ = qz_flag("MEMVAR", @$); QZ_CATCH(@$) }
  ;

scatter_to_options
  : scatter_to_option                              { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | scatter_to_options opt_blank scatter_to_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
scatter_to_option
  : KW_BLANK                      { QZ_TRY $$ = qz_flag("BLANK", @$); QZ_CATCH(@$) }
  | KW_MEMO                       { QZ_TRY $$ = qz_flag("MEMO", @$); QZ_CATCH(@$) }
  | KW_TO opt_blank expression    { QZ_TRY $$ = qz_valued("TO", @$, $3); QZ_CATCH(@$) }
  ;

scatter_name_options
  : scatter_name_option                                { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | scatter_name_options opt_blank scatter_name_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
scatter_name_option
  : KW_BLANK                      { QZ_TRY $$ = qz_flag("BLANK", @$); QZ_CATCH(@$) }
  | KW_MEMO                       { QZ_TRY $$ = qz_flag("MEMO", @$); QZ_CATCH(@$) }
  | KW_NAME opt_blank expression  { QZ_TRY $$ = qz_valued("NAME", @$, $3); QZ_CATCH(@$) }
  | KW_ADDITIVE                   { QZ_TRY $$ = qz_flag("ADDITIVE", @$); QZ_CATCH(@$) }
  ;

scatter_memvar_options
  : scatter_memvar_option                                  { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | scatter_memvar_options opt_blank scatter_memvar_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
scatter_memvar_option
  : KW_BLANK        { QZ_TRY $$ = qz_flag("BLANK", @$); QZ_CATCH(@$) }
  | KW_MEMO         { QZ_TRY $$ = qz_flag("MEMO", @$); QZ_CATCH(@$) }
  | KW_MEMVAR       { QZ_TRY $$ = qz_flag("MEMVAR", @$); QZ_CATCH(@$) }
  ;

/* CREATE TABLE, CREATE CURSOR and ALTER TABLE ADD COLUMN */

opt_table_options
  : %empty                  { QZ_TRY $$ = qz_no_options(); QZ_CATCH(@$) }
  | opt_blank table_options { $$ = $2; }
  ;

table_options
  : table_option                         { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | table_options opt_blank table_option { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;
table_option
  : codepage_clause   { $$ = $1; }
  | engine_clause     { $$ = $1; }
  ;

column_definitions
  : column_definition
      { QZ_TRY $$ = qz_records_first<column_definition_st>(VC_COLUMN, $1); QZ_CATCH(@$) }
  | column_definitions opt_blank ',' opt_blank column_definition
      { QZ_TRY $$ = qz_records_push<column_definition_st>(VC_COLUMNS, $1, VC_COLUMN, $5); QZ_CATCH(@$) }
  ;

column_definition
  : name_or_expression opt_blank type_blob opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_BLOB, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_char opt_blank '(' opt_blank expression opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_CHAR, $1, &$7, nullptr, $10); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_char opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_CHAR, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_currency opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_CURRENCY, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_date opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_DATE, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_datetime opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_DATETIME, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_double opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_DOUBLE, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_double '(' opt_blank expression opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_DOUBLE, $1, nullptr, &$6, $9); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_general opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_GENERAL, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_logical opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_LOGICAL, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_memo opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_MEMO, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_integer opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_INTEGER, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_numeric opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_NUMERIC, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_numeric opt_blank '(' opt_blank expression opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_NUMERIC, $1, &$7, nullptr, $10); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_numeric opt_blank '(' opt_blank expression opt_blank ',' opt_blank expression
    opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_NUMERIC, $1, &$7, &$11, $14); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_varchar opt_blank '(' opt_blank expression opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_VARCHAR, $1, &$7, nullptr, $10); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_varchar opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_VARCHAR, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_varbinary opt_blank '(' opt_blank expression opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_VARBINARY, $1, &$7, nullptr, $10); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_varbinary opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_VARBINARY, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_float opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_FLOAT, $1, nullptr, nullptr, $4); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_float opt_blank '(' opt_blank expression opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_FLOAT, $1, &$7, nullptr, $10); QZ_CATCH(@$) }
  | name_or_expression opt_blank type_float opt_blank '(' opt_blank expression opt_blank ',' opt_blank expression
    opt_blank ')' opt_column_attributes
      { QZ_TRY $$ = qz_column(COLUMN_FLOAT, $1, &$7, &$11, $14); QZ_CATCH(@$) }
  ;

opt_column_attributes
  : %empty                      { QZ_TRY $$ = qz_no_options(); QZ_CATCH(@$) }
  | opt_blank column_attributes { $$ = $2; }
  ;

column_attributes
  : column_attribute                             { QZ_TRY $$ = qz_options_first(callback, callback_data, $1); QZ_CATCH(@$) }
  | column_attributes opt_blank column_attribute { QZ_TRY $$ = qz_options_push(callback, callback_data, $1, $3); QZ_CATCH(@$) }
  ;

column_attribute
  : KW_NOCPTRANS                    { QZ_TRY $$ = qz_flag("NOCPTRANS", @$); QZ_CATCH(@$) }
  | KW_AUTOINC                      { QZ_TRY $$ = qz_flag("AUTOINC", @$); QZ_CATCH(@$) }
  | KW_NULL                         { QZ_TRY $$ = qz_flag("NULL", @$); QZ_CATCH(@$) }
  | KW_NOT opt_blank KW_NULL        { QZ_TRY $$ = qz_flag("NOT", @$); QZ_CATCH(@$) }
  | KW_NEXTVALUE opt_blank expression { QZ_TRY $$ = qz_valued("NEXTVALUE", @$, $3); QZ_CATCH(@$) }
  | KW_STEP opt_blank expression    { QZ_TRY $$ = qz_valued("STEP", @$, $3); QZ_CATCH(@$) }
  ;

type_integer : KW_I | KW_INTEGER ;
type_blob : KW_W | KW_BLOB ;
type_char : KW_C | KW_CHAR ;
type_currency : KW_Y | KW_CURRENCY ;
type_date : KW_D | KW_DATE ;
type_datetime : KW_T | KW_DATETIME ;
type_double : KW_B | KW_DOUBLE ;
type_general : KW_G | KW_GENERAL ;
type_logical : KW_L | KW_LOGICAL ;
type_memo : KW_M | KW_MEMO ;
type_numeric : KW_N | KW_NUMERIC ;
type_float : KW_F | KW_FLOAT ;
type_varbinary : KW_Q | KW_VARBINARY ;
type_varchar : KW_V | KW_VARCHAR ;

/* DECLARE: a type travels as its code, a parameter as its code plus 256 when passed by reference */

dll_type
  : KW_SHORT                  { $$ = qz_int_value(EXTERNAL_SHORT, nullptr); }
  | KW_INTEGER                { $$ = qz_int_value(EXTERNAL_INTEGER, nullptr); }
  | KW_LONG                   { $$ = qz_int_value(EXTERNAL_INTEGER, nullptr); }
  | KW_LONG opt_blank KW_LONG { $$ = qz_int_value(EXTERNAL_LONG_LONG, nullptr); }
  | KW_SINGLE                 { $$ = qz_int_value(EXTERNAL_SINGLE, nullptr); }
  | KW_DOUBLE                 { $$ = qz_int_value(EXTERNAL_DOUBLE, nullptr); }
  | KW_STRING                 { $$ = qz_int_value(EXTERNAL_STRING, nullptr); }
  | KW_BINARY                 { $$ = qz_int_value(EXTERNAL_BINARY, nullptr); }
  | KW_OBJECT                 { $$ = qz_int_value(EXTERNAL_OBJECT, nullptr); }
  ;

dll_parameters
  : dll_parameter
      { QZ_TRY
          std::unique_ptr<dll_parameter_list_t> list(new dll_parameter_list_t());
          std::unique_ptr<external_parameter_st> cell(new external_parameter_st{static_cast<uint32_t>(INT($1) & 255),
                                                                                static_cast<uint8_t>(INT($1) >> 8),
                                                                                {0, 0, 0}});
          list->push_back(cell.get());
          cell.release();
          $$ = qz_value(list.release(), nullptr);
        QZ_CATCH(@$) }
  | dll_parameter opt_blank ',' opt_blank dll_parameters
      { QZ_TRY
          adopted owned;
          owned(VC_DLL_PARAMETERS, $5);
          auto* list = static_cast<dll_parameter_list_t*>($5.object);
          std::unique_ptr<external_parameter_st> cell(new external_parameter_st{static_cast<uint32_t>(INT($1) & 255),
                                                                                static_cast<uint8_t>(INT($1) >> 8),
                                                                                {0, 0, 0}});
          list->push_front(cell.get());
          cell.release();
          owned.moved();
          $$ = qz_value(list, nullptr);
        QZ_CATCH(@$) }
  ;

dll_parameter
  : dll_type opt_blank '@' name   { $$ = qz_dll_parameter(INT($1), true); }
  | dll_type opt_blank name  %dprec 1
      { $$ = qz_dll_parameter(INT($1), false); }
  | dll_type  %dprec 2            { $$ = qz_dll_parameter(INT($1), false); }
  | dll_type opt_blank '@'        { $$ = qz_dll_parameter(INT($1), true); }
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
 * (paren_element and assign_target stand with the statement grammar, their only users.)
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
 * (raw_line, line_token, raw_name and raw_name_token stand with the statement grammar.)
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
