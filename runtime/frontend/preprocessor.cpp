// preprocessor.cpp - the line machine, the directives and the built-in macros.
#include "frontend/preprocessor.h"

#include <atomic>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <system_error>

#include "platform/file_text.h"
#include "frontend/keyword_map.h"
#include "frontend/statements.h"
#include "frontend/syntax_tables.h"
#include "platform/screen.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

using iterator = Preprocessor::iterator;

constexpr uint32_t kLineEnd = TOKEN_LINE_END;
constexpr uint32_t kBlank = TOKEN_BLANK;
constexpr uint32_t kWord = TOKEN_IDENTIFIER;

// --- The front door's evaluations --------------------------------------------------------------

bool condition_unavailable(VmStack*, const String&) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

String text_unavailable(VmStack*, const String&) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

std::atomic<preprocessor_condition_fn> registered_condition{&condition_unavailable};
std::atomic<preprocessor_text_fn> registered_text{&text_unavailable};

// Included files are read like program files: in the runtime's default charset with detection on.
String read_file_default(VmStack* stack, const std::filesystem::path& path) {
  QZ_TRACE;
  Runtime* runtime = stack ? stack->get_runtime() : nullptr;
  if (runtime == nullptr) return read_file_text(String(path), Charset::utf8, true, kMaxProgramFileSize);
  return filetostr(runtime, String(path), runtime->codepage ? runtime->codepage : Charset::utf8, true,
                   kMaxProgramFileSize);
}

// --- Small token helpers -----------------------------------------------------------------------

bool is_blank(const iterator& it, const iterator& end) { return it != end && it->kind == kBlank; }

void skip_blanks(iterator& it, const iterator& end) {
  while (is_blank(it, end)) ++it;
}

bool is_amp_pair(const iterator& it, const iterator& end) {
  return it != end && it->kind == '&' && std::next(it) != end && std::next(it)->kind == '&';
}

// A zero-width location just past the token.
document_location_st end_of(const token_st& token) {
  const document_location_st& l = token.location;
  return document_location_st{l.end_char, l.end_byte, l.end_line, l.end_column,
                              l.end_char, l.end_byte, l.end_line, l.end_column};
}

// --- Built-in macros ---------------------------------------------------------------------------

void insert_number(Preprocessor* pp, const token_st& name, uint32_t value, token_list_type* out) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%u", value);
  pp->insert_text(String(buffer), name.location, out);
}

void insert_quoted(Preprocessor* pp, const token_st& name, const std::filesystem::path& path, token_list_type* out) {
  Concat text(Charset::utf8);
  text.append(String("\""));
  text.append(String::create_from_path(path, Charset::utf8));
  text.append(String("\""));
  pp->insert_text(text.to_string(false), name.location, out);
}

void builtin_column(Preprocessor* pp, const token_st& name, token_list_type* out) {
  insert_number(pp, name, name.location.begin_column, out);
}
void builtin_line(Preprocessor* pp, const token_st& name, token_list_type* out) {
  insert_number(pp, name, name.location.begin_line, out);
}
void builtin_offset(Preprocessor* pp, const token_st& name, token_list_type* out) {
  insert_number(pp, name, name.location.begin_char, out);
}
void builtin_file(Preprocessor* pp, const token_st& name, token_list_type* out) {
  insert_quoted(pp, name, pp->current_file, out);
}
void builtin_dir(Preprocessor* pp, const token_st& name, token_list_type* out) {
  insert_quoted(pp, name, pp->current_file.parent_path(), out);
}
void builtin_linux(Preprocessor* pp, const token_st& name, token_list_type* out) {
  pp->insert_text(String("true"), name.location, out);
}
void builtin_qz(Preprocessor*, const token_st&, token_list_type*) {}

// --- Directives --------------------------------------------------------------------------------

int directive_bang(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  pp->discard_line(it, end);
  return 0;
}

int directive_define(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  if (pp->skip) {
    pp->discard_line(it, end);
    return 0;
  }
  if (it->kind != kWord) return 0;
  String name = String::create_from_scan_string(it->text());
  ++it;
  skip_blanks(it, end);
  token_list_type body;
  pp->expansion_exceeded = false;
  pp->scan_line(it, end, &body, nullptr, true, true);
  if (pp->expansion_exceeded) return 0;  // reported; the name stays undefined
  // The first definition stays in force (#undef first to redefine).
  pp->macros.try_emplace(std::move(name), std::move(body));
  return 0;
}

int directive_undef(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  if (pp->skip) {
    pp->discard_line(it, end);
    return 0;
  }
  if (it->kind != kWord) return 0;
  String name = String::create_from_scan_string(it->text());
  pp->discard_line(it, end);
  pp->macros.erase(name);
  return 0;
}

int directive_else(Preprocessor*, iterator&, iterator) { return kDirectiveElse; }
int directive_endif(Preprocessor*, iterator&, iterator) { return kDirectiveEndif; }

int directive_error(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  if (pp->skip) {
    pp->discard_line(it, end);
    return 0;
  }
  document_location_st at = it->location;
  token_list_type rest;
  pp->scan_line(it, end, &rest, nullptr, false, true);
  pp->add_message(PP_ERROR_USER, at);
  return 0;
}

// #ifdef / #ifndef: `wanted` is whether the name must be defined for the then-branch.
int conditional_on_name(Preprocessor* pp, iterator& it, iterator end, bool wanted) {
  if (pp->skip) {
    pp->discard_line(it, end);
    pp->read_branches(it, end, false);
    return 0;
  }
  if (it->kind != kWord) return 1;
  bool defined = pp->is_defined(*it);
  pp->discard_line(it, end);
  pp->read_branches(it, end, defined == wanted);
  return 0;
}

int directive_ifdef(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  return conditional_on_name(pp, it, end, true);
}

int directive_ifndef(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  return conditional_on_name(pp, it, end, false);
}

int directive_if(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  if (pp->skip) {
    pp->discard_line(it, end);
    pp->read_branches(it, end, false);
    return 0;
  }
  token_list_type condition;
  pp->scan_line(it, end, &condition, nullptr, true, true);
  size_t first = 0;
  while (first < condition.size() && condition[first].kind == kBlank) ++first;
  if (first == condition.size()) {
    // Nothing to evaluate: the message goes to the token after the line (or, at the very end of
    // the text, just past the directive's line) and no branch is read.
    document_location_st at = it != end ? it->location : end_of(*std::prev(it));
    pp->add_message(PP_ERROR_SYNTAX, at);
    return 0;
  }
  bool value = false;
  try {
    value = pp->evaluate_condition_quietly(Preprocessor::join_tokens(condition, Charset::utf8));
  } catch (const RuntimeError& error) {
    pp->add_message(static_cast<uint32_t>(error.code), condition[first].location);
    value = false;
  }
  pp->read_branches(it, end, value);
  return 0;
}

int directive_include(Preprocessor* pp, iterator& it, iterator end) {
  QZ_TRACE;
  if (pp->skip) {
    pp->discard_line(it, end);
    return 0;
  }
  document_location_st at = it->location;
  token_list_type argument;
  pp->scan_line(it, end, &argument, nullptr, true, true);
  for (const token_st& token : argument) {
    if (token.kind != kBlank) {
      at = token.location;
      break;
    }
  }
  String joined = Preprocessor::join_tokens(argument, Charset::utf8);
  String name;
  try {
    name = pp->evaluate_text_quietly(joined);
  } catch (const RuntimeError&) {
    name = joined;  // a bare file name
  }
  name.convert(Charset::utf8, CON_NONE, 0);
  std::filesystem::path path(name.u8str());
  std::error_code ec;
  if (!path.empty() && !path.has_root_directory()) path = pp->current_file.parent_path() / path;
  std::filesystem::path canonical;
  if (!path.empty()) canonical = std::filesystem::canonical(path, ec);
  if (path.empty() || ec || !std::filesystem::is_regular_file(canonical, ec) || ec) {
    pp->add_message(PP_ERROR_BAD_PATH, at);
    return 0;
  }
  if (pp->include_depth >= kMaxIncludeDepth) {
    pp->add_message(PP_ERROR_NESTING, at);
    return 0;
  }

  pp->included_texts.push_back(pp->read_file(pp->owner, canonical));
  const String& text = pp->included_texts.back();
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);

  // The included file contributes its definitions and messages, never statements.
  struct saved_state {
    Preprocessor* pp;
    std::filesystem::path file;
    String text;
    QzparseCallback callback;
    void* data;
    unsigned conditionals;
    ~saved_state() {
      pp->current_file = std::move(file);
      pp->current_text = std::move(text);
      pp->callback = callback;
      pp->callback_data = data;
      pp->conditional_depth = conditionals;
      --pp->include_depth;
    }
  } saved{pp, pp->current_file, pp->current_text, pp->callback, pp->callback_data, pp->conditional_depth};
  ++pp->include_depth;
  pp->current_file = canonical;
  pp->current_text = text;
  pp->callback_data = nullptr;
  pp->callback = [](void*, int event, intptr_t value, const document_location_st&) {
    if (event == QZPARSE_EVENT_STATEMENT) delete reinterpret_cast<Statement*>(value);
  };
  pp->conditional_depth = 0;
  preprocessor_init_tables();
  iterator included = tokens.cbegin();
  pp->parse_tokens(included, tokens.cend());
  return 0;
}

// --- The shared tables -------------------------------------------------------------------------

const preprocessor_directive_st directive_rows[] = {
    {U"!", 0, &directive_bang},          {U"DEFINE", 0, &directive_define}, {U"ELSE", 0, &directive_else},
    {U"ENDIF", 0, &directive_endif},     {U"ERROR", 0, &directive_error},   {U"IF", 0, &directive_if},
    {U"IFDEF", 0, &directive_ifdef},     {U"IFNDEF", 0, &directive_ifndef}, {U"INCLUDE", 0, &directive_include},
    {U"UNDEF", 0, &directive_undef},     {nullptr, 0, nullptr},
};

const preprocessor_builtin_macro_st builtin_rows[] = {
    {U"__COLUMN__", 0, &builtin_column}, {U"__LINE__", 0, &builtin_line}, {U"__OFFSET__", 0, &builtin_offset},
    {U"__FILE__", 0, &builtin_file},     {U"__DIR__", 0, &builtin_dir},   {U"__LINUX__", 0, &builtin_linux},
    {U"__QZ__", 0, &builtin_qz},         {nullptr, 0, nullptr},
};

struct preprocessor_tables {
  keyword_map<preprocessor_directive_st> directives;
  keyword_map<preprocessor_builtin_macro_st> builtins;
  preprocessor_tables() {
    keyword_map_init(directives, directive_rows);
    keyword_map_init(builtins, builtin_rows);
  }
};

// Built once under the thread-safe initialisation of statics, read-only afterwards.
const preprocessor_tables& tables() {
  static const preprocessor_tables instance;
  return instance;
}

// --- The parse of one line ---------------------------------------------------------------------

struct line_parse_st {
  Preprocessor* pp;
  bool skip;              // the skip flag captured when the line's parse_tokens began
  Statement* statement;   // a statement kept here to be destroyed (skipped lines)
  bool have_statement;
  uint32_t kind;          // the statement's kind (read before the receiver owns it)
};

void preprocessor_parse_callback(void* data, int event, intptr_t value, const document_location_st& location) {
  auto* line = static_cast<line_parse_st*>(data);
  if (event == QZPARSE_EVENT_STATEMENT) {
    auto* statement = reinterpret_cast<Statement*>(value);
    // A NOTE line reports a null statement: nothing to classify or keep, but the receiver
    // still hears of it (it ignores a null statement).
    if (statement != nullptr) {
      line->have_statement = true;
      line->kind = statement->kind;
    }
    if (line->skip || line->pp->callback == nullptr) {
      delete line->statement;
      line->statement = statement;
      if (line->skip) line->pp->send(QZPARSE_EVENT_SYNTAX_CLASS, PP_CLASS_INACTIVE, location);
      return;
    }
  }
  line->pp->send(event, value, location);
}

}  // namespace

// --- Public helpers ----------------------------------------------------------------------------

void set_preprocessor_evaluators(preprocessor_condition_fn condition, preprocessor_text_fn text) {
  QZ_TRACE;
  registered_condition.store(condition ? condition : &condition_unavailable);
  registered_text.store(text ? text : &text_unavailable);
}

void preprocessor_init_tables() {
  QZ_TRACE;
  tables();
}

const preprocessor_directive_st* find_preprocessor_directive(const token_st& name) {
  QZ_TRACE;
  return tables().directives.find(name.begin, name.end(), name.charset);
}

const preprocessor_builtin_macro_st* find_builtin_macro(const token_st& name) {
  QZ_TRACE;
  return tables().builtins.find(name.begin, name.end(), name.charset);
}

size_t macro_name_hash::operator()(const String& name) const {
  QZ_TRACE;
  return keyword_ci_hash(name.read(), name.end(), name.get_charset());
}

bool macro_name_equal::operator()(const String& a, const String& b) const {
  QZ_TRACE;
  return keyword_ci_compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(), b.get_charset()) == 0;
}

// --- Preprocessor ------------------------------------------------------------------------------

Preprocessor::Preprocessor(VmStack* owner)
    : owner(owner),
      skip(false),
      callback(nullptr),
      callback_data(nullptr),
      evaluate_condition(registered_condition.load()),
      evaluate_text(registered_text.load()),
      read_file(&read_file_default),
      parse_line(&qzbase::parse_tokens),
      conditional_depth(0),
      include_depth(0),
      nesting_depth(0),
      nesting_exceeded(false),
      expansion_exceeded(false),
      directive_location{} {
  QZ_TRACE;
}

Preprocessor::~Preprocessor() = default;

void Preprocessor::preprocess(iterator begin, iterator end) {
  QZ_TRACE;
  begin_text();
  preprocess_more(begin, end);
}

void Preprocessor::preprocess_more(iterator begin, iterator end) {
  QZ_TRACE;
  preprocessor_init_tables();
  iterator it = begin;
  parse_tokens(it, end);
}

void Preprocessor::send(int event, intptr_t value, const document_location_st& location) {
  QZ_TRACE;
  if (callback) {
    callback(callback_data, event, value, location);
  } else if (event == QZPARSE_EVENT_STATEMENT) {
    delete reinterpret_cast<Statement*>(value);
  }
}

void Preprocessor::add_message(uint32_t origin, uint32_t code, const document_location_st& location,
                               const document_location_st& span) {
  QZ_TRACE;
  messages.push_back(preprocessor_message_st{origin, code, location, span, current_file, current_text});
}

const token_list_type* Preprocessor::find_macro(const String& name) const {
  QZ_TRACE;
  auto found = macros.find(name);
  return found == macros.end() ? nullptr : &found->second;
}

bool Preprocessor::is_defined(const token_st& name) const {
  QZ_TRACE;
  if (find_builtin_macro(name)) return true;
  return macros.find(String::create_from_scan_string(name.text())) != macros.end();
}

void Preprocessor::discard_line(iterator& it, iterator end) {
  QZ_TRACE;
  scan_line(it, end, &discarded, nullptr, false, false);
}

String Preprocessor::join_tokens(const token_list_type& tokens, const Charset* cs) {
  QZ_TRACE;
  Concat joined(cs);
  for (const token_st& token : tokens) joined.append(String::create_from_scan_string(token.text()));
  return joined.to_string(false);
}

bool Preprocessor::evaluate_condition_quietly(const String& expression) {
  QZ_TRACE;
  Runtime* runtime = owner ? owner->get_runtime() : nullptr;
  if (!runtime) return evaluate_condition(owner, expression);
  NullScreen quiet;
  ScreenRedirect redirect(runtime, &quiet);
  return evaluate_condition(owner, expression);
}

String Preprocessor::evaluate_text_quietly(const String& expression) {
  QZ_TRACE;
  Runtime* runtime = owner ? owner->get_runtime() : nullptr;
  if (!runtime) return evaluate_text(owner, expression);
  NullScreen quiet;
  ScreenRedirect redirect(runtime, &quiet);
  return evaluate_text(owner, expression);
}

void Preprocessor::insert_text(const String& text, const document_location_st& location, token_list_type* out) {
  QZ_TRACE;
  expansion_texts.push_back(text);
  const String& kept = expansion_texts.back();
  size_t first = out->size();
  tokenize(kept.read(), kept.end(), kept.get_charset(), out);
  for (size_t i = first; i < out->size(); ++i) {
    (*out)[i].document = nullptr;
    (*out)[i].location = location;
  }
}

void Preprocessor::expand_token(iterator& it, token_list_type* out) {
  QZ_TRACE;
  const token_st& token = *it;
  ++it;
  if (!skip && token.kind == kWord) {
    const token_list_type* body = macros.empty() ? nullptr : find_macro(String::create_from_scan_string(token.text()));
    if (body && (expansion_exceeded || out->size() + body->size() > kMaxExpansionTokens)) {
      // Macros built of macros double at each level: the line is refused, not grown without end.
      if (!expansion_exceeded) add_message(PP_ERROR_EXPANSION, token.location);
      expansion_exceeded = true;
      return;
    }
    if (body) {
      for (token_st copy : *body) {
        copy.document = nullptr;
        copy.location = token.location;
        out->push_back(copy);
      }
      expanded_references.push_back(token);
      return;
    }
    if (const preprocessor_builtin_macro_st* builtin = find_builtin_macro(token)) {
      builtin->expand(this, token, out);
      expanded_references.push_back(token);
      return;
    }
  }
  out->push_back(token);
}

void Preprocessor::expand_line(iterator& it, iterator end, token_list_type* out) {
  QZ_TRACE;
  while (it != end && it->kind != kLineEnd) expand_token(it, out);
  if (it != end) out->push_back(*it++);
}

bool Preprocessor::is_line_continuation(iterator& it, iterator end) {
  QZ_TRACE;
  iterator look = std::next(it);
  skip_blanks(look, end);
  iterator comment = look;
  if (is_amp_pair(look, end)) {
    while (look != end && look->kind != kLineEnd) ++look;
  }
  if (look == end || look->kind != kLineEnd) return false;
  comments.insert(comments.end(), comment, look);
  it = std::next(look);
  skip_blanks(it, end);
  return true;
}

void Preprocessor::scan_line(iterator& it, iterator end, token_list_type* out, bool* macro_seen, bool expand,
                             bool drop_newline) {
  QZ_TRACE;
  bool double_quoted = false;
  bool single_quoted = false;
  bool bracketed = false;
  while (it != end) {
    uint32_t kind = it->kind;
    if (kind == kLineEnd) {
      if (!drop_newline) out->push_back(*it);
      ++it;
      return;
    }
    if (kind == ';' && is_line_continuation(it, end)) continue;
    if (double_quoted || single_quoted) {
      if ((double_quoted && kind == '"') || (single_quoted && kind == '\'')) double_quoted = single_quoted = false;
      out->push_back(*it++);
      continue;
    }
    if (is_amp_pair(it, end)) {
      // An "&&" comment runs to the line end; a ';' continuation inside it continues the comment.
      while (it != end && it->kind != kLineEnd) {
        if (it->kind == ';' && is_line_continuation(it, end)) continue;
        comments.push_back(*it++);
      }
      continue;
    }
    if (kind == '&' && !bracketed && std::next(it) != end && std::next(it)->kind == kWord) {
      // A macro reference stays as written; a '.' right after the name only ends it.
      out->push_back(*it++);
      out->push_back(*it++);
      if (macro_seen) *macro_seen = true;
      if (it != end && it->kind == '.') ++it;
      continue;
    }
    if (!bracketed && kind == '"') {
      double_quoted = true;
    } else if (!bracketed && kind == '\'') {
      single_quoted = true;
    } else if (kind == '[') {
      bracketed = true;
    } else if (kind == ']') {
      bracketed = false;
    }
    if (expand) {
      expand_token(it, out);
    } else {
      out->push_back(*it++);
    }
  }
}

void Preprocessor::classify_tokens(iterator begin, iterator end) {
  QZ_TRACE;
  for (iterator it = begin; it != end; ++it) {
    switch (it->kind) {
      case kWord: {
        int code = 0;
        if (String(it->begin, it->size, it->charset).length() > 3 && Scanner::is_keyword(*it, &code)) {
          send(QZPARSE_EVENT_SYNTAX_CLASS, PP_CLASS_KEYWORD, it->location);
        }
        break;
      }
      case '*':
      case '+':
      case '-':
      case '/':
      case '<':
      case '=':
      case '>':
      case '^':
        send(QZPARSE_EVENT_SYNTAX_CLASS, PP_CLASS_OPERATOR, it->location);
        break;
      case TOKEN_DIGITS:
      case TOKEN_HEX:
        send(QZPARSE_EVENT_SYNTAX_CLASS, PP_CLASS_NUMBER, it->location);
        break;
      default:
        break;
    }
  }
}

void Preprocessor::read_branches(iterator& it, iterator end, bool then_active) {
  QZ_TRACE;
  if (nesting_depth >= kMaxConditionalDepth || nesting_exceeded) {
    // Each open conditional costs native stack: past the limit the rest of the text is dropped.
    if (!nesting_exceeded) add_message(PP_ERROR_NESTING, directive_location);
    nesting_exceeded = true;
    it = end;
    return;
  }
  struct restore {
    Preprocessor* pp;
    bool skip;
    ~restore() {
      pp->skip = skip;
      --pp->conditional_depth;
      --pp->nesting_depth;
    }
  } saved{this, skip};
  ++conditional_depth;
  ++nesting_depth;
  // The last token of the range: where a missing #endif is reported.
  document_location_st text_end = end_of(*std::prev(end));

  skip = saved.skip || !then_active;
  int result = parse_tokens(it, end);
  if (result == kDirectiveElse) {
    skip = saved.skip || then_active;
    while ((result = parse_tokens(it, end)) == kDirectiveElse) add_message(PP_ERROR_UNBALANCED, directive_location);
  }
  if (result == 0 && !nesting_exceeded) add_message(PP_ERROR_UNBALANCED, text_end);
}

int Preprocessor::parse_tokens(iterator& it, iterator end) {
  QZ_TRACE;
  const bool captured_skip = skip;
  token_list_type line;
  line.reserve(256);
  const bool top = conditional_depth == 0 && include_depth == 0;
  bool text_mode = top && top_text_mode;
  while (it != end && !nesting_exceeded) {
    line.clear();
    expansion_exceeded = false;
    int start_token = QZ_TOKEN_START_STATEMENT;
    if (text_mode) {
      expand_line(it, end, &line);
      start_token = QZ_TOKEN_START_TEXT_LINE;
    } else {
      skip_blanks(it, end);
      if (it == end) break;
      if (it->kind == '\\') {
        expand_line(it, end, &line);
      } else {
        if (it->kind == '#' && std::next(it) != end) {
          iterator name = std::next(it);
          const preprocessor_directive_st* directive = find_preprocessor_directive(*name);
          iterator after = std::next(name);
          skip_blanks(after, end);
          if (directive && after != end) {
            directive_location = it->location;
            for (iterator item = it; item != after; ++item) {
              send(QZPARSE_EVENT_SYNTAX_CLASS, PP_CLASS_DIRECTIVE, item->location);
            }
            it = after;
            int result = directive->handler(this, it, end);
            if (result == kDirectiveElse || result == kDirectiveEndif) {
              if (conditional_depth > 0) return result;
              // Outside any conditional: reported, and the text goes on.
              add_message(PP_ERROR_UNBALANCED, directive_location);
              continue;
            }
            if (result == 0) continue;
            if (it == end) break;
            // 1: the rest of the line is an ordinary line.
          }
        }
        if (it->kind == '*') {
          scan_line(it, end, &comments, nullptr, false, false);
          continue;
        }
        bool macro_seen = false;
        scan_line(it, end, &line, &macro_seen, true, false);
        if (line.empty() || (line.size() == 1 && line[0].kind == kLineEnd)) continue;
        if (macro_seen) {
          classify_tokens(line.cbegin(), line.cend());
          start_token = QZ_TOKEN_START_MACRO_LINE;
        }
      }
    }

    if (expansion_exceeded) continue;  // reported where the line outgrew the bound
    line_parse_st data{this, captured_skip, nullptr, false, 0};
    parse_status_st status;
    int parsed = parse_line(line.cbegin(), line.cend(), start_token, &data, &preprocessor_parse_callback, &status);
    delete data.statement;
    if (parsed == 0) {
      if (data.have_statement) {
        if (data.kind == STMT_TEXT) text_mode = true;
        if (data.kind == STMT_ENDTEXT) text_mode = false;
      }
    } else if (!captured_skip) {
      classify_tokens(line.cbegin(), line.cend());
      const token_st* first = nullptr;
      const token_st* last = nullptr;
      for (const token_st& token : line) {
        if (token.document == nullptr) continue;
        if (!first) first = &token;
        last = &token;
      }
      document_location_st span = status.error_location;
      if (first) {
        span = document_location_st{first->location.begin_char, first->location.begin_byte,
                                    first->location.begin_line, first->location.begin_column,
                                    last->location.end_char,    last->location.end_byte,
                                    last->location.end_line,    last->location.end_column};
      }
      add_message(PP_ORIGIN_PARSER, status.error_code, status.error_location, span);
    }
  }
  if (top) top_text_mode = text_mode;
  return 0;
}

}  // namespace qzbase
