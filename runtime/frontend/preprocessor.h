// preprocessor.h - the line machine between the tokenizer and the parser for whole module texts.
//
// The Preprocessor walks the token vector of a text one logical line at a time: it handles the
// '#' directives (#define, #undef, #if, #ifdef, #ifndef, #else, #endif, #include, #error, #!),
// drops '*' comment lines and "&&" comments, joins ';' continuations, replaces macro names by
// their bodies and hands every remaining line to the parser with the right start token
// (statement, '&' macro line, TEXT block line). Statements and syntax items leave through the
// caller's QzparseCallback; preprocessor and parser errors are kept as message records.
//
// #if and #include evaluate their argument through the compiler's front door, which plugs its two
// evaluations in with set_preprocessor_evaluators; until it does, both evaluations fail with
// RuntimeError 1001 (an #if counts as false, an #include takes its text as the file name).
//
// Faults mended in this line machine (each has a test):
// - A stray #else or #endif made the top level return at once and the rest of the text was
//   dropped without a word: it is reported (1211) and the walk goes on after it.
// - A missing #endif let a branch, active or not, run silently to the end of the text: 1211 is
//   reported at the end of the text. A second #else in one conditional ended the branch like
//   #endif: it is reported (1211) and ignored.
// - #define, #undef and #include took effect inside skipped branches (a definition there shadowed
//   the active one; a missing file there failed the build): while skipping they do nothing and
//   their lines go to the discarded tokens.
// - #include had no depth limit (a file that includes itself recursed until the process died):
//   more than kMaxIncludeDepth nested includes are refused with message 103.
// - Nested conditionals recursed without a bound until the native stack overflowed: more than
//   kMaxConditionalDepth open conditionals (counted across includes) are refused with message 103
//   and the rest of the text is not read.
// - A macro whose body holds macros that double at each level grew exponentially: a body or a
//   line that would exceed kMaxExpansionTokens tokens is refused with message 1206.
// - Messages only carried locations, which were then shown with the main file's name and text:
//   each message keeps the path and the text its location belongs to.
// - The directive and built-in macro tables were built lazily without a lock: they are built once
//   under the thread-safe initialisation of statics.
// - While #if/#include code runs the output goes to a NullScreen installed for the calling thread
//   only (ScreenRedirect), never by swapping the runtime's shared screen.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <filesystem>
#include <list>
#include <unordered_map>

#include "frontend/parser.h"
#include "frontend/parser_interface.h"
#include "frontend/scanner.h"
#include "values/tokenizer.h"

namespace qzbase {

class Preprocessor;

// Syntax classes the preprocessor sends itself (event 3).
enum PreprocessorSyntaxClass : intptr_t {
  PP_CLASS_KEYWORD = 1,
  PP_CLASS_OPERATOR = 2,
  PP_CLASS_NUMBER = 3,
  PP_CLASS_DIRECTIVE = 5,
  PP_CLASS_INACTIVE = 7,
};

// Who recorded a message.
enum PreprocessorMessageOrigin : uint32_t {
  PP_ORIGIN_PREPROCESSOR = 0,
  PP_ORIGIN_PARSER = 1,
};

// Error numbers the preprocessor records itself.
enum PreprocessorErrorCode : uint32_t {
  PP_ERROR_SYNTAX = 10,            // empty #if condition
  PP_ERROR_NESTING = 103,          // #include or conditionals nested too deep
  PP_ERROR_EXPANSION = 1206,       // a macro body or line grows beyond kMaxExpansionTokens
  PP_ERROR_BAD_PATH = 202,         // #include file not found
  PP_ERROR_USER = 1098,            // #error
  PP_ERROR_UNBALANCED = 1211,      // stray #else/#endif, missing #endif, second #else
};

// Nested #include levels allowed below the main text.
constexpr unsigned kMaxIncludeDepth = 16;
// Open conditionals allowed at once, included files' counted too (each costs native stack).
constexpr unsigned kMaxConditionalDepth = 1000;
// Tokens a macro body or an expanded line may hold.
constexpr size_t kMaxExpansionTokens = size_t{1} << 18;

// One build message. For preprocessor messages location and span are the same; for parser
// messages the location is the parser's error location and the span runs over the source
// tokens of the line. `file` and `text` are those the locations point into (the included
// file's for a message from an included file; the caller's for the main text).
struct preprocessor_message_st {
  uint32_t origin;
  uint32_t code;
  document_location_st location;
  document_location_st span;
  std::filesystem::path file;
  String text;
};

// The two compile-time evaluations of the front door: an #if condition to a logical value, an
// #include argument to a file name. Both may throw RuntimeError.
using preprocessor_condition_fn = bool (*)(VmStack* stack, const String& expression);
using preprocessor_text_fn = String (*)(VmStack* stack, const String& expression);
// Reads an included file (already made canonical) as decoded text.
using preprocessor_read_fn = String (*)(VmStack* stack, const std::filesystem::path& path);
// One parse of a logical line: parse_tokens (parser.h) unless a test replaces it.
using preprocessor_parse_fn = int (*)(Scanner::iterator begin, Scanner::iterator end, int start_token,
                                      void* callback_data, QzparseCallback callback, parse_status_st* status);

// Registers the front door's evaluations for every Preprocessor made afterwards (null restores
// the stand-ins that throw RuntimeError 1001).
void set_preprocessor_evaluators(preprocessor_condition_fn condition, preprocessor_text_fn text);

// The rows of the two shared tables (read through keyword_map: whole names only).
using preprocessor_directive_fn = int (*)(Preprocessor* pp, token_list_type::const_iterator& it,
                                          token_list_type::const_iterator end);
using preprocessor_builtin_fn = void (*)(Preprocessor* pp, const token_st& name, token_list_type* out);
struct preprocessor_directive_st {
  const char32_t* word;
  uint64_t min_length;  // always 0
  preprocessor_directive_fn handler;
};
struct preprocessor_builtin_macro_st {
  const char32_t* word;
  uint64_t min_length;  // always 0
  preprocessor_builtin_fn expand;
};

// Handler results besides 0 (next line) and 1 (read the rest as an ordinary line).
constexpr int kDirectiveElse = ~0;
constexpr int kDirectiveEndif = ~1;

// Builds both shared tables once (thread-safe); every Preprocessor calls it.
void preprocessor_init_tables();
// The rows of a directive / built-in macro name (case-insensitive), or null.
const preprocessor_directive_st* find_preprocessor_directive(const token_st& name);
const preprocessor_builtin_macro_st* find_builtin_macro(const token_st& name);

// Case-insensitive String keys for the macro map.
struct macro_name_hash {
  size_t operator()(const String& name) const;
};
struct macro_name_equal {
  bool operator()(const String& a, const String& b) const;
};

class Preprocessor {
 public:
  using iterator = token_list_type::const_iterator;

  explicit Preprocessor(VmStack* owner);
  ~Preprocessor();
  Preprocessor(const Preprocessor&) = delete;
  Preprocessor& operator=(const Preprocessor&) = delete;

  // Reads the whole range. The caller installs callback, callback_data and, for a file, the
  // current file path and text first.
  void preprocess(iterator begin, iterator end);
  // Reads the next piece of a text that is read piece by piece (source_pieces.h): as preprocess,
  // but a TEXT block open at the end of the last piece goes on in this one. begin_text starts a
  // new text.
  void begin_text() { top_text_mode = false; }
  void preprocess_more(iterator begin, iterator end);
  // Lines until the end of the range (0) or a #else (kDirectiveElse) / #endif (kDirectiveEndif)
  // line that closes an enclosing conditional.
  int parse_tokens(iterator& it, iterator end);
  // One logical line into *out; consumes its line end and copies it unless drop_newline.
  void scan_line(iterator& it, iterator end, token_list_type* out, bool* macro_seen, bool expand,
                 bool drop_newline);
  void expand_token(iterator& it, token_list_type* out);
  void expand_line(iterator& it, iterator end, token_list_type* out);
  void insert_text(const String& text, const document_location_st& location, token_list_type* out);
  // True at a ';' that continues the line; then `it` is moved to the first non-blank token of the
  // next line (any "&&" comment in between goes to the comments).
  bool is_line_continuation(iterator& it, iterator end);
  void classify_tokens(iterator begin, iterator end);

  // The body of a user macro, or null.
  const token_list_type* find_macro(const String& name) const;
  bool is_defined(const token_st& name) const;
  void add_message(uint32_t origin, uint32_t code, const document_location_st& location,
                   const document_location_st& span);
  void add_message(uint32_t code, const document_location_st& location) {
    add_message(PP_ORIGIN_PREPROCESSOR, code, location, location);
  }
  void send(int event, intptr_t value, const document_location_st& location);

  // Reads a then-branch (active when then_active, and not skipping already) and, after a #else,
  // the else-branch. Reports a missing #endif and a second #else.
  void read_branches(iterator& it, iterator end, bool then_active);
  // Moves the rest of the line, line end included, to the discarded tokens.
  void discard_line(iterator& it, iterator end);
  // Joins the token texts in charset cs.
  static String join_tokens(const token_list_type& tokens, const Charset* cs);
  // Runs an evaluation with the calling thread's screen replaced by a NullScreen.
  bool evaluate_condition_quietly(const String& expression);
  String evaluate_text_quietly(const String& expression);

  // --- Fields ---
  VmStack* owner;
  std::filesystem::path current_file;  // empty for a text without a file
  String current_text;                 // the text the current tokens point into (for messages)
  std::unordered_map<String, token_list_type, macro_name_hash, macro_name_equal> macros;
  std::list<String> included_texts;
  token_list_type comments;
  token_list_type expanded_references;
  token_list_type discarded;
  std::list<preprocessor_message_st> messages;
  bool skip;
  QzparseCallback callback;
  void* callback_data;
  std::list<String> expansion_texts;

  // Hooks: the front door's evaluations (see set_preprocessor_evaluators), the file reader and
  // the line parser.
  preprocessor_condition_fn evaluate_condition;
  preprocessor_text_fn evaluate_text;
  preprocessor_read_fn read_file;
  preprocessor_parse_fn parse_line;

  // Conditionals open in the text being read (reset for an included file), and #include depth.
  unsigned conditional_depth;
  unsigned include_depth;
  // Conditionals open across all included texts; set once the limit cut the text short, so the
  // #endif lines the cut left missing are not reported.
  unsigned nesting_depth;
  bool nesting_exceeded;
  // Set when a macro expansion of the current line hit kMaxExpansionTokens (reported once).
  bool expansion_exceeded;
  // The '#' of the last directive line, for messages about #else and #endif.
  document_location_st directive_location;
  // Whether the top level of the text is inside a TEXT block (kept from piece to piece).
  bool top_text_mode = false;
};

}  // namespace qzbase
