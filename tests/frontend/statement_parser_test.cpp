// Tests of the statement grammar: statement lines, text lines, macro lines and the commands.
//
// The corpus (statement_corpus.txt) gives one line per statement form with the statement it must
// parse into, rendered to a compact text form by render_statement() below.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "frontend/command_syntax.h"
#include "frontend/parser.h"
#include "frontend/statements.h"

#include "parse_support.h"

namespace qzbase {

namespace {

using test::binary_text;
using test::corpus_path;
using test::read_corpus;
using test::trim;
using test::utf8_of;

// --- Rendering of operands (compact: enough to tell the statement forms apart) ----------------------

std::string render(const Operand* op);

std::string render_list(const OperandList* list) {
  if (!list) return "<null>";
  std::string out;
  for (uint64_t i = 0; list->items && i < list->count; ++i) {
    if (i) out += ", ";
    out += render(list->items[i]);
  }
  return out;
}

std::string render_item(const PathItem* item) { return test::render_path_item(item, render_list); }

std::string render(const Operand* op) {
  if (!op) return "<null>";
  switch (op->kind) {
    case OPERAND_LIST:
      return "{" + render_list(static_cast<const OperandList*>(op)) + "}";
    case OPERAND_NAME:
      return "name:" + utf8_of(static_cast<const Name*>(op)->name);
    case OPERAND_CONSTANT: {
      auto* c = static_cast<const SkalarType*>(op);
      switch (c->const_type) {
        case CONST_BOOL:
          return static_cast<const Const<bool>*>(c)->value ? ".T." : ".F.";
        case CONST_NULL:
          return ".NULL.";
        case CONST_LONG:
          return std::to_string(static_cast<const Const<long>*>(c)->value);
        case CONST_STRING:
          return "'" + utf8_of(static_cast<const Const_String*>(c)->value) + "'";
        default:
          return "const";
      }
    }
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
      std::string out = "path(";
      bool first = true;
      for (const PathItem* item : *p->items) {
        if (!first) out += ".";
        first = false;
        out += render_item(item);
      }
      return out + ")";
    }
    case OPERAND_REFERENCE:
      return "@" + render(static_cast<const Reference*>(op)->operand);
    case OPERAND_UNARY: {
      auto* u = static_cast<const Unary_Func*>(op);
      static const char* const names[] = {"not", "neg", "prec"};
      return std::string(u->op < 3 ? names[u->op] : "?") + "(" + render(u->operand) + ")";
    }
    case OPERAND_BINARY: {
      auto* b = static_cast<const BinaryOperator*>(op);
      return "(" + render(b->left) + " " + binary_text(b->op) + " " + render(b->right) + ")";
    }
    case OPERAND_CALL: {
      auto* c = static_cast<const Call*>(op);
      return utf8_of(c->name) + "(" + render_list(c->arguments) + ")";
    }
  }
  return "<operand?>";
}

// --- Rendering of statements ----------------------------------------------------------------------

std::string render_options(const option_ptr_list* options) {
  if (!options) return "<null>";
  std::string out;
  for (const auto& entry : *options) {
    if (!out.empty()) out += " ";
    out += utf8_of(entry.second->name);
    if (entry.second->value) out += "=" + render(entry.second->value);
  }
  return out;
}

std::string render_definitions(const std::list<Definition*>* list) {
  if (!list) return "<none>";
  std::string out;
  for (const Definition* d : *list) {
    if (!out.empty()) out += ", ";
    out += render(d->variable);
    if (d->dimensions) out += "[" + render_list(d->dimensions) + "]";
    if (d->type) {
      out += " AS " + utf8_of(d->type->name);
      if (d->type->value) out += " OF " + render(d->type->value);
    }
  }
  return out;
}

std::string render_macro(MacroItem** items, uint64_t count) {
  std::string out;
  for (uint64_t i = 0; i < count; ++i) out += std::string(1, static_cast<char>(items[i]->kind)) + ":" + utf8_of(items[i]->text) + ";";
  return out;
}

std::string render_statement(const Statement* s) {
  if (!s) return "NOTE";
  std::string head = std::to_string(s->kind) + " ";
  if (auto* c = dynamic_cast<const BasicCommand*>(s)) {
    const basic_command_st* row = find_command(s->kind);
    head += std::string("BasicCommand ") + (row ? row->name : "-");
    if (c->macro_items) return head + " macro " + render_macro(c->macro_items, c->macro_item_count);
    std::string options = render_options(c->options);
    return options.empty() ? head : head + " " + options;
  }
  if (auto* a = dynamic_cast<const Cmd_Assign*>(s))
    return head + "Cmd_Assign " + (a->target ? render(a->target) : "-") + " := " + render(a->value);
  if (auto* e = dynamic_cast<const Cmd_Echo*>(s))
    return head + "Cmd_Echo lf=" + std::to_string(e->linefeed) + " (" + render_list(e->values) + ")";
  if (auto* t = dynamic_cast<const Cmd_Text*>(s))
    return head + "Cmd_Text lf=" + std::to_string(t->linefeed) + " '" + utf8_of(t->text) + "'";
  if (auto* i = dynamic_cast<const Cmd_If*>(s))
    return head + "Cmd_If " + (i->macro_items ? "macro " + render_macro(i->macro_items, i->macro_item_count) : render(i->condition));
  if (auto* w = dynamic_cast<const Cmd_DoWhile*>(s))
    return head + "Cmd_DoWhile " + (w->macro_items ? "macro " + render_macro(w->macro_items, w->macro_item_count) : render(w->condition));
  if (auto* m = dynamic_cast<const Cmd_Incomplete*>(s)) return head + "Cmd_Incomplete " + render_macro(m->macro_items, m->macro_item_count);
  if (auto* f = dynamic_cast<const Cmd_For*>(s))
    return head + "Cmd_For " + render(f->variable) + " " + render(f->from) + " " + render(f->to) + " " + render(f->step);
  if (auto* f = dynamic_cast<const Cmd_Function*>(s)) {
    std::string out = head + "Cmd_Function " + utf8_of(f->name) + " vis=" + std::to_string(f->visibility) + " (" +
                      render_definitions(f->parameters) + ")";
    if (f->return_type) out += " AS " + utf8_of(f->return_type->name);
    return out;
  }
  if (auto* d = dynamic_cast<const Cmd_Define*>(s)) {
    std::string out = head + "Cmd_Define " + utf8_of(d->name) + " AS " + utf8_of(d->parent->name);
    if (d->parent->value) out += " OF " + render(d->parent->value);
    return out + " olepublic=" + std::to_string(d->olepublic);
  }
  if (auto* r = dynamic_cast<const Cmd_Return*>(s)) return head + "Cmd_Return " + render(r->value);
  if (auto* w = dynamic_cast<const Cmd_With*>(s)) return head + "Cmd_With " + render(w->object);
  if (auto* c = dynamic_cast<const Cmd_Case*>(s)) return head + "Cmd_Case " + render(c->condition);
  if (auto* c = dynamic_cast<const Cmd_CatchTo*>(s))
    return head + "Cmd_CatchTo " + render(c->variable) + " WHEN " + render(c->when);
  if (auto* st = dynamic_cast<const Cmd_Store*>(s))
    return head + "Cmd_Store " + render(st->value) + " TO " + render_list(st->targets);
  if (auto* x = dynamic_cast<const Cmd_External_Array*>(s)) return head + "Cmd_External_Array " + render_list(x->names);
  if (auto* p = dynamic_cast<const Cmd_Private_Pattern*>(s))
    return head + "Cmd_Private_Pattern like='" + utf8_of(p->like_pattern) + "' except='" + utf8_of(p->except_pattern) + "'";
  if (auto* p = dynamic_cast<const Prep_Pragma*>(s)) return head + "Prep_Pragma " + utf8_of(p->name) + "(" + render_list(p->arguments) + ")";
  if (auto* c = dynamic_cast<const Cmd_Create_Table*>(s)) {
    std::string out = head + "Cmd_Create_Table cursor=" + std::to_string(c->cursor) + " " + render(c->table) + " [" +
                      render_options(c->options) + "] n=" + render(c->column_count) + " (";
    bool first = true;
    for (const column_definition_st* col : *c->columns) {
      if (!first) out += ", ";
      first = false;
      out += render(col->name) + " " + render(col->type_code) + " " + render(col->width) + " " + render(col->decimals);
      std::string attributes = render_options(col->options);
      if (!attributes.empty()) out += " " + attributes;
    }
    return out + ")";
  }
  if (auto* a = dynamic_cast<const Cmd_Add_Column*>(s))
    return head + "Cmd_Add_Column " + render(a->table) + " " + render(a->column->name) + " " + render(a->column->type_code) +
           " " + render(a->column->width) + " " + render(a->column->decimals) + " [" + render_options(a->options) + "]";
  if (auto* d = dynamic_cast<const Cmd_Drop_Column*>(s))
    return head + "Cmd_Drop_Column " + render(d->table) + " " + render(d->column);
  if (auto* d = dynamic_cast<const Cmd_DeclareDll*>(s)) {
    std::string out = head + "Cmd_DeclareDll " + std::to_string(d->return_type) + " " + utf8_of(d->function_name) + " IN " +
                      render(d->library) + " (";
    for (uint64_t i = 0; i < d->parameter_count; ++i) {
      if (i) out += ", ";
      out += std::to_string(d->parameter_types[i].type) + (d->parameter_types[i].by_reference ? "@" : "");
    }
    return out + ")";
  }
  if (auto* i = dynamic_cast<const Cmd_Import_Library*>(s)) return head + "Cmd_Import_Library " + render(i->library);
#define QZ_DECLARATION(NAME) \
  if (auto* d = dynamic_cast<const NAME*>(s)) return head + #NAME " " + render_definitions(d->definitions);
  QZ_DECLARATION(Cmd_Local)
  QZ_DECLARATION(Cmd_Public)
  QZ_DECLARATION(Cmd_Private_VarList)
  QZ_DECLARATION(Cmd_Dimension)
  QZ_DECLARATION(Cmd_Parameters)
  QZ_DECLARATION(Cmd_LParameters)
  QZ_DECLARATION(Cmd_Hidden)
  QZ_DECLARATION(Cmd_Protected)
#undef QZ_DECLARATION
  const statement_kind_row_st& row = statement_kind_table[s->kind];
  return head + (row.node_class ? row.node_class : "?");
}

// --- Parsing ------------------------------------------------------------------------------------

struct statement_parse_st : test::tokenized_text_st {
  std::vector<Statement*> statements;  // every event 1
  int statement_events = 0;
  int diagnostics = 0;
  int macro_lines = 0;
  std::vector<int> syntax_classes;
  parse_status_st status;

  ~statement_parse_st() {
    for (Statement* s : statements) delete s;
  }
};

void receive(void* data, int event, intptr_t value, const document_location_st&) {
  auto* p = static_cast<statement_parse_st*>(data);
  if (event == QZPARSE_EVENT_STATEMENT) {
    p->statements.push_back(reinterpret_cast<Statement*>(value));
    ++p->statement_events;
  }
  if (event == QZPARSE_EVENT_DIAGNOSTIC) ++p->diagnostics;
  if (event == QZPARSE_EVENT_MACRO_LINE) ++p->macro_lines;
  if (event == QZPARSE_EVENT_SYNTAX_CLASS) p->syntax_classes.push_back(static_cast<int>(value));
}

void run(statement_parse_st& p, const std::string& text, int start) {
  p.tokenize_utf8(text);
  parse_tokens(p.tokens.cbegin(), p.tokens.cend(), start, &p, &receive, &p.status);
}

// The rendered statement, or "ERROR code".
std::string outcome(const std::string& text, int start = QZ_TOKEN_START_STATEMENT) {
  statement_parse_st p;
  run(p, text, start);
  if (p.status.result != 0) return "ERROR " + std::to_string(p.status.error_code);
  if (p.statement_events != 1) return "EVENTS " + std::to_string(p.statement_events);
  std::string out = render_statement(p.statements[0]);
  if (p.diagnostics) out += " +diag";
  return out;
}

// --- The corpus ---------------------------------------------------------------------------------

// Each line: [text:|macro:] input ~> expected. The input keeps its own blanks, trailing ones
// included (only the one blank before "~>" goes); "<LF>" in the input stands for a line end.
TEST(StatementCorpus, StatementsParseIntoTheExpectedKindsClassesAndOptions) {
  std::vector<std::string> lines;
  ASSERT_TRUE(read_corpus("statement_corpus.txt", &lines)) << corpus_path("statement_corpus.txt");
  int number = 0;
  int checked = 0;
  for (const std::string& line : lines) {
    ++number;
    std::string t = line;
    if (!t.empty() && t.back() == '\r') t.pop_back();
    if (trim(t).empty() || t.rfind("//", 0) == 0) continue;
    int start = QZ_TOKEN_START_STATEMENT;
    if (t.rfind("text:", 0) == 0) {
      start = QZ_TOKEN_START_TEXT_LINE;
      t = t.substr(5);
    } else if (t.rfind("macro:", 0) == 0) {
      start = QZ_TOKEN_START_MACRO_LINE;
      t = t.substr(6);
    }
    size_t arrow = t.rfind(" ~> ");
    ASSERT_NE(arrow, std::string::npos) << "line " << number << ": no ~>";
    std::string input = t.substr(0, arrow);
    for (size_t at = input.find("<LF>"); at != std::string::npos; at = input.find("<LF>", at + 1)) input.replace(at, 4, "\n");
    std::string expected = trim(t.substr(arrow + 4));
    EXPECT_EQ(outcome(input, start), expected) << "line " << number << ": " << input;
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

// Every option that a command statement carries is one its option grammar names.
TEST(StatementCorpus, EveryOptionIsNamedByTheCommandsGrammar) {
  std::vector<std::string> lines;
  ASSERT_TRUE(read_corpus("statement_corpus.txt", &lines));
  int commands = 0;
  for (const std::string& line : lines) {
    if (trim(line).empty() || line.rfind("//", 0) == 0 || line.rfind("text:", 0) == 0 || line.rfind("macro:", 0) == 0)
      continue;
    size_t arrow = line.rfind(" ~> ");
    if (arrow == std::string::npos) continue;
    statement_parse_st p;
    run(p, line.substr(0, arrow), QZ_TOKEN_START_STATEMENT);
    if (p.status.result != 0 || p.statements.size() != 1) continue;
    auto* command = dynamic_cast<const BasicCommand*>(p.statements[0]);
    if (!command || !command->options) continue;
    const basic_command_st* row = find_command(command->kind);
    if (!row) continue;  // ENDDO, ENDSCAN, ENDTEXT, ENDWITH, FOR EACH, SCAN, TEXT: read by their own compilers
    ++commands;
    std::list<command_syntax_item_st> items;
    parse_command_syntax(row->grammar, &items);
    for (const auto& entry : *command->options) {
      std::string name = utf8_of(entry.second->name);
      bool known = false;
      for (const command_syntax_item_st& item : items) {
        std::string lower;
        for (char ch : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (item.kind == COMMAND_ITEM_FLAGS) {
          known = known || item.flags.count(String(lower.c_str())) != 0;
        } else {
          known = known || utf8_of(item.name) == lower;
        }
      }
      EXPECT_TRUE(known) << row->name << " has no option " << name << " (" << line << ")";
    }
  }
  EXPECT_GT(commands, 50);
}

// --- Events and ownership -----------------------------------------------------------------------

TEST(StatementEvents, NoteReportsANullStatementAndAComment) {
  statement_parse_st p;
  run(p, "NOTE anything at all", QZ_TOKEN_START_STATEMENT);
  ASSERT_EQ(p.status.result, 0);
  ASSERT_EQ(p.statement_events, 1);
  EXPECT_EQ(p.statements[0], nullptr);
  EXPECT_FALSE(p.syntax_classes.empty());
  EXPECT_EQ(p.syntax_classes.back(), 4);
}

TEST(StatementEvents, TextAfterABlockClosingWordIsAComment) {
  statement_parse_st p;
  run(p, "ENDIF some words", QZ_TOKEN_START_STATEMENT);
  ASSERT_EQ(p.status.result, 0);
  EXPECT_EQ(p.syntax_classes, std::vector<int>{4});
}

TEST(StatementEvents, MacroLinesReportEvent4) {
  statement_parse_st p;
  run(p, "x = &y", QZ_TOKEN_START_MACRO_LINE);
  ASSERT_EQ(p.status.result, 0);
  EXPECT_EQ(p.macro_lines, 1);
}

TEST(StatementEvents, MacroLineWithoutVariableFailsWithoutAMessage) {
  statement_parse_st p;
  run(p, "x = 1", QZ_TOKEN_START_MACRO_LINE);
  EXPECT_EQ(p.status.result, 1);
  EXPECT_EQ(p.statement_events, 0);
}

TEST(StatementEvents, RepeatedOptionIsReportedAndTheFirstKept) {
  statement_parse_st p;
  run(p, "USE t ALIAS a ALIAS b", QZ_TOKEN_START_STATEMENT);
  ASSERT_EQ(p.status.result, 0);
  EXPECT_EQ(p.diagnostics, 1);
  EXPECT_EQ(render_statement(p.statements[0]), "113 BasicCommand use ALIAS=name:a FILENAME='t'");
}

TEST(StatementEvents, WithoutCallbackTheStatementIsReleased) {
  String source = String::fromBytes("LOCAL a, b[3]", 13, Charset::utf8);
  token_list_type tokens;
  tokenize(source.read(), source.end(), source.get_charset(), &tokens);
  EXPECT_EQ(parse_tokens(tokens.cbegin(), tokens.cend(), QZ_TOKEN_START_STATEMENT, nullptr, nullptr), 0);
}

TEST(StatementErrors, FailedStatementsReleaseWhatWasBuilt) {
  // Under the leak checker: half-built options, records and columns are dropped with the parse.
  EXPECT_EQ(outcome("CREATE TABLE t (a C(10) NOT NULL, b N(5,2) ,"), "ERROR 10");
  EXPECT_EQ(outcome("USE t ALIAS a SHARED )"), "ERROR 10");
  EXPECT_EQ(outcome("LOCAL a AS Integer, b["), "ERROR 10");
  EXPECT_EQ(outcome("DECLARE INTEGER f IN lib STRING @s,"), "ERROR 10");
}

TEST(StatementErrors, EmptyLineIsASyntaxError) {
  EXPECT_EQ(outcome("\n"), "ERROR 10");
}

TEST(ParserTablesOfTheFullGrammar, CountsAreReported) {
  parser_tables_st counts = parser_table_counts();
  std::printf("grammar: %d terminals, %d nonterminals, %d rules, %d states\n", counts.terminals, counts.nonterminals,
              counts.rules, counts.states);
  EXPECT_GT(counts.states, 1000);
}

}  // namespace

}  // namespace qzbase
