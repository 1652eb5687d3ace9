// Tests of the GLR parser and the grammar of operands and expressions.
//
// The corpus (expression_corpus.txt) gives one input per line with the tree it must parse into,
// rendered to a compact text form by render() below.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/parser.h"
#include "values/julian.h"

#include "parse_support.h"

namespace qzbase {

namespace {

using test::binary_text;
using test::corpus_path;
using test::read_corpus;
using test::trim;
using test::utf8_of;

// --- Rendering ---------------------------------------------------------------------------------

std::string render(const Operand* op);

std::string render_list(const OperandList* list) {
  std::string out;
  if (!list) return "<null list>";
  if (!list->items) return "";  // the location-only form
  for (uint64_t i = 0; i < list->count; ++i) {
    if (i) out += ", ";
    out += render(list->items[i]);
  }
  if (list->items[list->count] != nullptr) out += "<unterminated>";
  return out;
}

std::string render_item(const PathItem* item) { return test::render_path_item(item, render_list); }

// The class of a binary node must agree with its op.
bool binary_class_matches(const BinaryOperator* b) {
  switch (b->op) {
    case BINARY_ADD: return dynamic_cast<const Binary_Func_Add*>(b) != nullptr;
    case BINARY_SUB: return dynamic_cast<const Binary_Func_Sub*>(b) != nullptr;
    case BINARY_MUL: return dynamic_cast<const Binary_Func_Mul*>(b) != nullptr;
    case BINARY_DIV: return dynamic_cast<const Binary_Func_Div*>(b) != nullptr;
    case BINARY_MOD: return dynamic_cast<const Binary_Func_Mod*>(b) != nullptr;
    case BINARY_POW: return dynamic_cast<const Binary_Func_Pow*>(b) != nullptr;
    case BINARY_EQ: return dynamic_cast<const Binary_Func_Eq*>(b) != nullptr;
    case BINARY_LT: return dynamic_cast<const Binary_Func_Lt*>(b) != nullptr;
    case BINARY_LTEQ: return dynamic_cast<const Binary_Func_LtEq*>(b) != nullptr;
    case BINARY_GT: return dynamic_cast<const Binary_Func_Gt*>(b) != nullptr;
    case BINARY_GTEQ: return dynamic_cast<const Binary_Func_GtEq*>(b) != nullptr;
    case BINARY_LTGT: return dynamic_cast<const Binary_Func_LtGt*>(b) != nullptr;
    case BINARY_EQEQ: return dynamic_cast<const Binary_Func_EqEq*>(b) != nullptr;
    case BINARY_AND: return dynamic_cast<const Binary_Func_And*>(b) != nullptr;
    case BINARY_OR: return dynamic_cast<const Binary_Func_Or*>(b) != nullptr;
    case BINARY_IN_STR: return dynamic_cast<const Binary_Func_In_Str*>(b) != nullptr;
  }
  return false;
}

std::string render_money(const money_type_st& m) {
  money_raw_type v = m.value;
  bool negative = v < 0;
  unsigned __int128 u = negative ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<unsigned __int128>(v);
  unsigned __int128 whole = u / 10000;
  unsigned frac = static_cast<unsigned>(u % 10000);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(whole % 10)));
    whole /= 10;
  } while (whole != 0);
  char tail[8];
  std::snprintf(tail, sizeof tail, ".%04u", frac);
  return std::string("$") + (negative ? "-" : "") + digits + tail;
}

std::string render_date(uint32_t day) {
  int y = 0, m = 0, d = 0;
  unserial_julian_date(date_st{day}, &y, &m, &d);
  char buf[48];
  std::snprintf(buf, sizeof buf, "^%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string render_constant(const SkalarType* c) {
  char buf[96];
  switch (c->const_type) {
    case CONST_BOOL:
      return static_cast<const Const<bool>*>(c)->value ? ".T." : ".F.";
    case CONST_NULL:
      return ".NULL.";
    case CONST_LONG:
      return std::to_string(static_cast<const Const<long>*>(c)->value);
    case CONST_NUMERIC: {
      auto& v = static_cast<const Const<numeric_type_st>*>(c)->value;
      std::snprintf(buf, sizeof buf, "num(%.17g,%llu)", v.value, static_cast<unsigned long long>(v.decimals));
      return buf;
    }
    case CONST_MONEY:
      return render_money(static_cast<const Const<money_type_st>*>(c)->value);
    case CONST_DATE: {
      uint32_t day = static_cast<const Const<date_st>*>(c)->value.day;
      return day == 0 ? "{}" : "{" + render_date(day) + "}";
    }
    case CONST_DATETIME: {
      auto& v = static_cast<const Const<datetime_st>*>(c)->value;
      if (v.day == 0 && v.ms == 0) return "{:}";
      int s = v.ms / 1000;
      std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
      return "{" + render_date(v.day) + buf + "}";
    }
    case CONST_STRING: {
      const String& s = static_cast<const Const_String*>(c)->value;
      if (s.get_charset() == Charset::binary) {
        std::string out = "0h";
        for (size_t i = 0; i < s.size(); ++i) {
          std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(s.read()[i]));
          out += buf;
        }
        return out;
      }
      std::string prefix = s.get_charset() == Charset::utf32le ? "u32" : "";
      return prefix + "'" + utf8_of(s) + "'";
    }
  }
  return "<const?>";
}

std::string render(const Operand* op) {
  if (!op) return "<null>";
  switch (op->kind) {
    case OPERAND_LIST:
      return "list(" + render_list(static_cast<const OperandList*>(op)) + ")";
    case OPERAND_NAME:
      return "name(" + utf8_of(static_cast<const Name*>(op)->name) + ")";
    case OPERAND_CONSTANT:
      return render_constant(static_cast<const SkalarType*>(op));
    case OPERAND_VARIABLE: {
      auto* v = static_cast<const Variable*>(op);
      return (v->memvar ? "M." : "") + utf8_of(v->name);
    }
    case OPERAND_VARIABLE_WITH_INDEX: {
      auto* v = static_cast<const VariableWithIndex*>(op);
      return render(v->variable) + "[" + render_list(v->indexes) + "]";
    }
    case OPERAND_PATH: {
      auto* p = static_cast<const Path*>(op);
      std::string out = p->memvar ? "mpath(" : "path(";
      bool first = true;
      if (p->items) {
        for (const PathItem* item : *p->items) {
          if (!first) out += ".";
          out += render_item(item);
          first = false;
        }
      }
      return out + ")";
    }
    case OPERAND_REFERENCE:
      return "@" + render(static_cast<const Reference*>(op)->operand);
    case OPERAND_UNARY: {
      auto* u = static_cast<const Unary_Func*>(op);
      switch (u->op) {
        case UNARY_NOT:
          if (!dynamic_cast<const Unary_Func_Not*>(u)) return "<bad not class>";
          return "not(" + render(u->operand) + ")";
        case UNARY_NEG:
          if (!dynamic_cast<const Unary_Func_Neg*>(u)) return "<bad neg class>";
          return "neg(" + render(u->operand) + ")";
        case UNARY_PRECEDENCE:
          if (!dynamic_cast<const Unary_Func_Precedence*>(u)) return "<bad prec class>";
          return "prec(" + render(u->operand) + ")";
      }
      return "<unary?>";
    }
    case OPERAND_BINARY: {
      auto* b = static_cast<const BinaryOperator*>(op);
      if (!binary_class_matches(b)) return "<bad binary class>";
      if (b->op >= BINARY_EQ && !dynamic_cast<const Binary_Func_Bool*>(b)) return "<not bool>";
      return "(" + render(b->left) + " " + binary_text(b->op) + " " + render(b->right) + ")";
    }
    case OPERAND_CALL: {
      auto* c = static_cast<const Call*>(op);
      return utf8_of(c->name) + "(" + render_list(c->arguments) + ")";
    }
  }
  return "<operand?>";
}

// --- Parsing -----------------------------------------------------------------------------------

struct event_st {
  int event;
  intptr_t value;
  document_location_st location;
  document_location_st pair[2];  // event 0
  std::string call_name;         // event 5
};

struct events_st {
  std::vector<event_st> list;
  size_t count(int event) const {
    size_t n = 0;
    for (const event_st& e : list) n += e.event == event;
    return n;
  }
};

void record_event(void* data, int event, intptr_t value, const document_location_st& location) {
  auto* events = static_cast<events_st*>(data);
  event_st e{event, value, location, {}, {}};
  if (event == QZPARSE_EVENT_DIAGNOSTIC) {
    auto* pair = reinterpret_cast<const document_location_st*>(value);
    e.pair[0] = pair[0];
    e.pair[1] = pair[1];
  }
  if (event == QZPARSE_EVENT_CALL) e.call_name = utf8_of(reinterpret_cast<const Call*>(value)->name);
  events->list.push_back(e);
}

// One parse of a UTF-8 text: the tokens, the result and what was reported.
struct parse_st : test::tokenized_text_st {
  Operand* result = nullptr;
  parse_status_st status;
  events_st events;
  std::string slices_text;

  ~parse_st() { delete result; }
};

// Plain global: a long range parses on a helper thread (parser.h), where the probe also runs.
std::string* probe_target = nullptr;
void probe(const String& text) {
  if (probe_target) *probe_target = utf8_of(text);
}

void run_parse(parse_st& p, const std::string& text, bool operand) {
  p.tokenize_utf8(text);
  probe_target = &p.slices_text;
  parser_slices_probe = &probe;
  p.result = operand ? parse_operand_tokens(p.tokens.cbegin(), p.tokens.cend(), &p.status, &record_event, &p.events)
                     : parse_expression_tokens(p.tokens.cbegin(), p.tokens.cend(), &p.status, &record_event, &p.events);
  parser_slices_probe = nullptr;
  probe_target = nullptr;
}

// "tree" or "ERROR code"; "+diag" is appended when a diagnostic (event 0) was reported.
std::string outcome(const std::string& text, bool operand = false) {
  parse_st p;
  run_parse(p, text, operand);
  std::string out = p.result ? render(p.result) : "ERROR " + std::to_string(p.status.error_code);
  if (p.events.count(QZPARSE_EVENT_DIAGNOSTIC)) out += " +diag";
  return out;
}

// --- The corpus ----------------------------------------------------------------------------------

// Each line: [operand:] input ~> expected. Blank lines and lines starting with // are skipped;
// "money:" lines hold money literals.
TEST(ParserCorpus, ExpressionsParseIntoTheExpectedTrees) {
  std::vector<std::string> lines;
  ASSERT_TRUE(read_corpus("expression_corpus.txt", &lines)) << corpus_path("expression_corpus.txt");
  int number = 0;
  int checked = 0;
  for (const std::string& line : lines) {
    ++number;
    std::string t = trim(line);
    if (t.empty() || t.rfind("//", 0) == 0) continue;
    bool operand = false;
    if (t.rfind("money:", 0) == 0) {
      t = t.substr(6);
    }
    if (t.rfind("operand:", 0) == 0) {
      operand = true;
      t = t.substr(8);
    }
    size_t arrow = t.rfind(" ~> ");
    ASSERT_NE(arrow, std::string::npos) << "line " << number << ": no ~>";
    // The input keeps its own blanks (they are tokens): only the one blank before "~>" goes.
    std::string input = t.substr(0, arrow);
    if (!input.empty() && input[0] == ' ') input = input.substr(1);
    std::string expected = trim(t.substr(arrow + 4));
    EXPECT_EQ(outcome(input, operand), expected) << "line " << number << ": " << input;
    ++checked;
  }
  EXPECT_GT(checked, 150);
}

// --- Start forms ---------------------------------------------------------------------------------

TEST(ParserStart, ExpressionReportsTheOperandOnceWithItsRange) {
  parse_st p;
  run_parse(p, "  a + 1", false);
  ASSERT_NE(p.result, nullptr);
  EXPECT_EQ(p.status.result, 0);
  EXPECT_EQ(p.result->location.begin_char, 2u);
  EXPECT_EQ(p.result->location.end_char, 7u);
  EXPECT_EQ(p.result->location.begin_column, 3u);
  EXPECT_EQ(p.result->location.end_column, 8u);
  EXPECT_EQ(p.events.count(QZPARSE_EVENT_OPERAND), 0u);  // taken by the receiver, not forwarded
}

TEST(ParserStart, OperandFormsParseOneOperand) {
  EXPECT_EQ(outcome("a.b", true), "path(a.b)");
  EXPECT_EQ(outcome(" f(1)", true), "f(1)");
  EXPECT_EQ(outcome("-5", true), "-5");
  EXPECT_EQ(outcome("(a + b)", true), "prec((a + b))");
  EXPECT_EQ(outcome("a + b", true), "ERROR 10");  // an operand, not an expression
}

TEST(ParserStart, OperandDoesNotReadPastWhatItNeeds) {
  // The tokens after the operand are not part of it. Under Bison's GLR parser the start form's
  // reduction waits for the end of input when a conflict on the next token splits the stack, so
  // the text after "a.b" is an error here and a caller that parses a prefix retries on a shorter range.
  parse_st p;
  run_parse(p, "a.b + 1", true);
  if (p.result) {
    EXPECT_EQ(render(p.result), "path(a.b)");
  } else {
    EXPECT_EQ(p.status.error_code, 10u);
    EXPECT_EQ(p.status.result, 1);
  }
  // The range that does parse: "a.b".
  parse_st q;
  q.source = String("a.b + 1");
  tokenize(q.source.read(), q.source.end(), q.source.get_charset(), &q.tokens);
  q.result = parse_operand_tokens(q.tokens.cbegin(), q.tokens.cbegin() + 3, &q.status);
  ASSERT_NE(q.result, nullptr);
  EXPECT_EQ(render(q.result), "path(a.b)");
  EXPECT_EQ(q.result->location.end_char, 3u);
}

TEST(ParserStart, WithoutCallbackTheResultIsReleased) {
  String source("f(a, b.c) + [x]");
  token_list_type tokens;
  tokenize(source.read(), source.end(), source.get_charset(), &tokens);
  parse_status_st status;
  EXPECT_EQ(parse_tokens(tokens.cbegin(), tokens.cend(), QZ_TOKEN_START_EXPRESSION, nullptr, nullptr, &status), 0);
  EXPECT_EQ(status.result, 0);
}

// --- Events ------------------------------------------------------------------------------------

TEST(ParserEvents, CallsAreReportedOncePerCallNode) {
  parse_st p;
  run_parse(p, "f(g(1), a.h(2)) + CAST(x AS int) .AND. NOT(y) .OR. 1 + NOT(z)", false);
  ASSERT_NE(p.result, nullptr);
  std::vector<std::string> names;
  for (const event_st& e : p.events.list)
    if (e.event == QZPARSE_EVENT_CALL) names.push_back(e.call_name);
  // h(2) is a member call (a path item) and NOT(y) the operator: neither is a Call node. After
  // the '+', NOT(z) can only be a call (NOT binds looser than '+').
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "g");
  EXPECT_EQ(names[1], "f");
  EXPECT_EQ(names[2], "CAST");
  EXPECT_EQ(names[3], "NOT");
  EXPECT_EQ(render(p.result), "(((f(g(1), path(a.h(2))) + CAST(x, 'int')) and not(prec(y))) or (1 + NOT(z)))");
}

TEST(ParserEvents, SyntaxClassesOfOperatorsKeywordsAndConstants) {
  parse_st p;
  run_parse(p, "a <= 1 .AND. 'x'", false);
  ASSERT_NE(p.result, nullptr);
  std::vector<std::pair<intptr_t, uint32_t>> items;  // class, begin_char
  for (const event_st& e : p.events.list)
    if (e.event == QZPARSE_EVENT_SYNTAX_CLASS) items.emplace_back(e.value, e.location.begin_char);
  // In the order the reductions ran: the constant 1 before the comparison that takes it.
  std::vector<std::pair<intptr_t, uint32_t>> expected = {{3, 5}, {2, 2}, {1, 7}, {3, 13}};
  EXPECT_EQ(items, expected);
  for (const event_st& e : p.events.list) {
    if (e.event == QZPARSE_EVENT_SYNTAX_CLASS && e.value == 2) {
      EXPECT_EQ(e.location.end_char, 4u);  // "<="
    }
    if (e.event == QZPARSE_EVENT_SYNTAX_CLASS && e.value == 1) {
      EXPECT_EQ(e.location.end_char, 12u);  // ".AND."
    }
  }
}

TEST(ParserEvents, InvalidDateReportsItsRangeAndTheParseGoesOn) {
  parse_st p;
  run_parse(p, "x = {^2023-02-29}", false);
  ASSERT_NE(p.result, nullptr);
  ASSERT_EQ(p.events.count(QZPARSE_EVENT_DIAGNOSTIC), 1u);
  for (const event_st& e : p.events.list) {
    if (e.event != QZPARSE_EVENT_DIAGNOSTIC) continue;
    EXPECT_EQ(e.location.begin_char, 4u);
    EXPECT_EQ(e.location.end_char, 17u);
    EXPECT_EQ(e.pair[0].begin_char, 4u);
    EXPECT_EQ(e.pair[1].end_char, 17u);
  }
}

TEST(ParserEvents, LiteralErrorsAreDiagnostics) {
  EXPECT_EQ(outcome("99999999999999999999"), "9223372036854775807 +diag");
  EXPECT_NE(outcome("0x1FFFFFFFFFFFFFFFF").find("+diag"), std::string::npos);
  EXPECT_NE(outcome("{^2024-01-15 24:00:00}").find("+diag"), std::string::npos);
  EXPECT_EQ(outcome("{^2024-01-15 23:59:59}"), "{^2024-01-15 23:59:59}");
}

// --- Token slices ------------------------------------------------------------------------------------

TEST(ParserSlices, TheResultCarriesTheTextOfItsTokens) {
  const char* texts[] = {"a  +  b",          "f( 1 , ,x )",        "m.x.y [ 1 ]",      "{^2024-01-15 10:20:30}",
                         "'a b' + [c] + \"d\"", "-5 ^ - 2",           ".NOT. a .AND. !b", "$ 12.5",
                         "U32'x'",           "CAST( a AS int )",   ".x.y(1)[2]",       "a->b->c",
                         "0h0A + 0x1F",      "{..::} # {--}",      "f(@ x, @a.b)",     "+a"};
  for (const char* text : texts) {
    parse_st p;
    run_parse(p, text, false);
    ASSERT_NE(p.result, nullptr) << text;
    EXPECT_EQ(p.slices_text, text);
  }
}

// --- Failures ------------------------------------------------------------------------------------

TEST(ParserErrors, SyntaxErrorIsCode10AtTheLookahead) {
  parse_st p;
  run_parse(p, "a + * b", false);
  EXPECT_EQ(p.result, nullptr);
  EXPECT_EQ(p.status.result, 1);
  EXPECT_EQ(p.status.error_code, 10u);
  EXPECT_EQ(p.status.error_location.begin_char, 4u);  // the '*'
}

TEST(ParserErrors, EmptyInputIsASyntaxError) {
  EXPECT_EQ(outcome(""), "ERROR 10");
  EXPECT_EQ(outcome("   "), "ERROR 10");
  EXPECT_EQ(outcome("", true), "ERROR 10");
}

TEST(ParserErrors, EqualPriorityReadingsFailWith9012) {
  parse_st p;
  run_parse(p, "f(a, b.c) + 1.AND.x", false);
  EXPECT_EQ(p.result, nullptr);
  EXPECT_EQ(p.status.result, 1);
  EXPECT_EQ(p.status.error_code, 9012u);
}

TEST(ParserErrors, StackLimitFailsWith9013) {
  parse_st p;
  run_parse(p, std::string(60000, '(') + "a", false);
  EXPECT_EQ(p.result, nullptr);
  EXPECT_EQ(p.status.result, 2);
  EXPECT_EQ(p.status.error_code, 9013u);
}

TEST(ParserErrors, StackLimitAfterBuiltNodesReleasesThem) {
  parse_st p;
  run_parse(p, "f(1, a.b) + x[2] * " + std::string(60000, '(') + "a", false);
  EXPECT_EQ(p.result, nullptr);
  EXPECT_EQ(p.status.result, 2);
  EXPECT_EQ(p.status.error_code, 9013u);
}

TEST(ParserErrors, DeepButBoundedNestingParses) {
  std::string text = std::string(2000, '(') + "a" + std::string(2000, ')');
  parse_st p;
  run_parse(p, text, false);
  ASSERT_NE(p.result, nullptr);
  EXPECT_EQ(p.status.result, 0);
}

TEST(ParserErrors, UnmappedTokenKindIsASyntaxError) {
  // A token kind the scanner does not map: no exception crosses the parser.
  String source("a + b");
  token_list_type tokens;
  tokenize(source.read(), source.end(), source.get_charset(), &tokens);
  tokens[2].kind = 1027;  // not a tokenizer kind
  parse_status_st status;
  Operand* op = parse_expression_tokens(tokens.cbegin(), tokens.cend(), &status);
  EXPECT_EQ(op, nullptr);
  EXPECT_EQ(status.error_code, 10u);
  EXPECT_EQ(status.error_location.begin_char, 2u);
}

// Failing and ambiguous parses after nodes were built: the sanitizer build checks for leaks.
TEST(ParserErrors, FailedParsesReleaseWhatWasBuilt) {
  const char* texts[] = {"f(a + b, c.d[1], 'x') +",       "f(a, b.c) + 1.AND.x",
                         "x > y .and. 1.OR.z",            "{^2024-01-01} + a.b(1, @c) )",
                         "a.b(1).c[2] + -5 * 2.5 $",      "(((a + 1) * [s]) = .T.) .OR.",
                         "CAST(a AS int) + m.x + 1.AND.b", "U32'a' + 0hFF + {..::} ]"};
  for (const char* text : texts) {
    EXPECT_EQ(outcome(text).rfind("ERROR", 0), 0u) << text;
    // As an operand the leading operand may stand alone (the rest is not read): only the run
    // through the parser matters here.
    outcome(text, true);
  }
}

// Ambiguities found while deferred actions already built nodes on the way: nothing may leak.
TEST(ParserErrors, AmbiguitiesAfterBuiltNodesReleaseThem) {
  const char* texts[] = {"f(a.b, c[1]) .AND. 1.AND.x", "(a .AND. f(1)) + (1.AND.x)", "a[1.AND.x]",
                         "f(1.AND.x, g(2))",           "x.y(1.AND.z)",               "-a * (b - 1.OR.c)",
                         "{^2024-01-01} = 1.AND.d",    "m.x + 'abc' $ 1.OR.y"};
  for (const char* text : texts) {
    EXPECT_EQ(outcome(text), "ERROR 9012") << text;
  }
}

// An action that throws (here the slices probe, called inside the start form's action) ends the
// parse without the exception leaving the parser: the phrase is reported as event 0.
TEST(ParserErrors, ExceptionsInActionsEndTheParse) {
  static int mode = 0;
  auto thrower = [](const String&) {
    if (mode == 1) throw std::runtime_error("action failed");
    if (mode == 2) throw std::bad_alloc();
  };
  for (int m : {1, 2}) {
    for (const char* text : {"f(a, b.c) + 1", "a.b(1)[2]", "x .AND. y"}) {
      mode = m;
      String source(text);
      token_list_type tokens;
      tokenize(source.read(), source.end(), source.get_charset(), &tokens);
      events_st events;
      parse_status_st status;
      parser_slices_probe = thrower;
      Operand* op = parse_expression_tokens(tokens.cbegin(), tokens.cend(), &status, &record_event, &events);
      parser_slices_probe = nullptr;
      EXPECT_EQ(op, nullptr) << text;
      EXPECT_EQ(status.result, m == 1 ? 1 : 2) << text;
      EXPECT_EQ(status.error_code, m == 1 ? 10u : 9013u) << text;
      EXPECT_EQ(events.count(QZPARSE_EVENT_DIAGNOSTIC), 1u) << text;
    }
  }
}

TEST(ParserErrors, EmptyStringsKeepTheSourceCharset) {
  for (const char* text : {"''", "\"\"", "[]", "'x'"}) {
    parse_st p;
    run_parse(p, text, false);
    ASSERT_NE(p.result, nullptr) << text;
    ASSERT_EQ(p.result->kind, OPERAND_CONSTANT);
    EXPECT_EQ(static_cast<const Const_String*>(p.result)->value.get_charset(), Charset::utf8) << text;
  }
}

// --- Logical chains (the mended member-path reading) ---------------------------------------------------

std::string chain(int terms, const char* op, bool blanks) {
  std::string text;
  for (int i = 0; i < terms; ++i) {
    if (i && blanks) text += ' ';
    if (i) text += op;
    if (i && blanks) text += ' ';
    text += 'v';
    text += std::to_string(i);
  }
  return text;
}

TEST(ParserChains, LongChainsOfLogicalOperatorsParse) {
  for (const char* op : {".AND.", ".OR.", ".and.", "AND", "OR"}) {
    for (int terms : {2, 3, 4, 5, 8, 12}) {
      parse_st p;
      run_parse(p, chain(terms, op, true), false);
      ASSERT_NE(p.result, nullptr) << op << " x" << terms;
      // Left-associative: the leftmost operand sits at the bottom of the left spine.
      const Operand* node = p.result;
      int depth = 0;
      while (node->kind == OPERAND_BINARY) {
        node = static_cast<const BinaryOperator*>(node)->left;
        ++depth;
      }
      EXPECT_EQ(depth, terms - 1);
      EXPECT_EQ(render(node), "v0");
    }
  }
  // Without blanks the member path is a second reading; the operator wins.
  EXPECT_EQ(outcome(chain(5, ".AND.", false)), "((((v0 and v1) and v2) and v3) and v4)");
  EXPECT_EQ(outcome(chain(4, ".or.", false)), "(((v0 or v1) or v2) or v3)");
}

// Their speed is measured in bench/, not here: a timed bound fails on a loaded machine.
TEST(ParserChains, TenThousandTermsParse) {
  for (const char* op : {".AND.", ".OR."}) {
    std::string text = chain(10000, op, true);
    parse_st p;
    run_parse(p, text, false);
    ASSERT_NE(p.result, nullptr) << op;
    // The left spine is 9,999 deep: take it apart iteratively (the recursive destructor would
    // walk it as deep in the sanitizer build's larger frames).
    Operand* node = p.result;
    p.result = nullptr;
    while (node && node->kind == OPERAND_BINARY) {
      auto* b = static_cast<BinaryOperator*>(node);
      Operand* left = b->left;
      b->left = nullptr;
      delete b;
      node = left;
    }
    delete node;
  }
}

// Takes apart a tree whose depth lies along unary operands and left operands without recursion
// (the recursive destructors would walk it as deep).
void destroy_deep(Operand* node) {
  while (node) {
    Operand* next = nullptr;
    if (node->kind == OPERAND_UNARY) {
      auto* u = static_cast<Unary_Func*>(node);
      next = u->operand;
      u->operand = nullptr;
    } else if (node->kind == OPERAND_BINARY) {
      auto* b = static_cast<BinaryOperator*>(node);
      next = b->left;
      b->left = nullptr;
    }
    delete node;
    node = next;
  }
}

// Bison resolves deferred reductions by recursion, a few KB of C stack per nested phrase; long
// ranges parse on a helper thread whose stack is sized for them (parser.h).
TEST(ParserDepth, LongPrefixRunsParse) {
  struct shape_st {
    std::string text;
    int depth;           // unary nodes above the innermost operand
    const char* inner;   // the innermost operand
  };
  shape_st shapes[] = {{std::string(12000, '-') + "5", 11999, "-5"},
                       {std::string(8000, '!') + "NOT(a)", 8001, "prec(a)"},
                       {std::string(6000, '+') + "-x", 1, "x"}};
  for (shape_st& shape : shapes) {
    parse_st p;
    run_parse(p, shape.text, false);
    ASSERT_NE(p.result, nullptr) << shape.depth;
    int depth = 0;
    const Operand* node = p.result;
    while (node->kind == OPERAND_UNARY && static_cast<const Unary_Func*>(node)->op != UNARY_PRECEDENCE) {
      node = static_cast<const Unary_Func*>(node)->operand;
      ++depth;
    }
    EXPECT_EQ(depth, shape.depth);
    EXPECT_EQ(render(node), shape.inner);
    destroy_deep(p.result);
    p.result = nullptr;
  }
}

TEST(ParserDepth, LongMemberPathsParse) {
  std::string path;
  for (int i = 0; i < 2000; ++i) {
    if (i) path += '.';
    path += 'm';
    path += std::to_string(i);
  }
  parse_st p;
  run_parse(p, path + " + 1", false);
  ASSERT_NE(p.result, nullptr);
  ASSERT_EQ(p.result->kind, OPERAND_BINARY);
  const Operand* left = static_cast<const BinaryOperator*>(p.result)->left;
  ASSERT_EQ(left->kind, OPERAND_PATH);
  EXPECT_EQ(static_cast<const Path*>(left)->items->size(), 2000u);
}

TEST(ParserDepth, PrefixRunBeyondTheStackLimitFailsWith9013) {
  parse_st p;
  run_parse(p, std::string(60000, '-') + "5", false);
  EXPECT_EQ(p.result, nullptr);
  EXPECT_EQ(p.status.result, 2);
  EXPECT_EQ(p.status.error_code, 9013u);
}

TEST(ParserDepth, LongRangesStillReportThroughTheCallback) {
  // A long range runs on the helper thread: the events and the result still arrive.
  std::string text = "f(1)";
  for (int i = 0; i < 400; ++i) text += " + g(" + std::to_string(i) + ")";
  parse_st p;
  run_parse(p, text, false);
  ASSERT_NE(p.result, nullptr);
  EXPECT_EQ(p.events.count(QZPARSE_EVENT_CALL), 401u);
  EXPECT_EQ(p.slices_text, text);
}

TEST(ParserTables, CountsOfTheGeneratedAutomaton) {
  parser_tables_st counts = parser_table_counts();
  EXPECT_EQ(counts.terminals, 275);  // every token code of the scanner, as in the full grammar
  EXPECT_GT(counts.nonterminals, 0);
  EXPECT_GT(counts.rules, 0);
  EXPECT_GT(counts.states, 0);
  std::printf("parser tables: %d terminals, %d nonterminals, %d rules, %d states\n", counts.terminals,
              counts.nonterminals, counts.rules, counts.states);
}

}  // namespace
}  // namespace qzbase
