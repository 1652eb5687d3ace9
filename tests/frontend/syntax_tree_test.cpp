// Tests of the syntax tree: every node class built and destroyed with null
// children (the sanitizer build checks that nothing leaks or is freed twice), the list forms, the
// constructors' defaults and the option list's repetition rule.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "frontend/operands.h"
#include "frontend/statements.h"

namespace qzbase {
namespace {

document_location_st loc(uint32_t n) { return document_location_st{n, n, 1, n + 1, n + 1, n + 1, 1, n + 2}; }

std::string utf8(const String& s) {
  String copy = s;
  if (copy.get_charset() != Charset::utf8 && copy.get_charset() != Charset::ascii) {
    copy.convert(Charset::utf8, CON_NONE, 0);
  }
  return std::string(copy.read(), copy.size());
}

bool same_location(const document_location_st& a, const document_location_st& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

Variable* var(const char* name) { return new Variable(loc(0), String(name), 0); }
Const<long>* num(long v) { return new Const<long>(loc(0), v); }

// --- Operands --------------------------------------------------------------------------------------

TEST(SyntaxTree, EmptyOperandListForms) {
  auto* from_list = new OperandList(loc(1), new std::list<Operand*>());
  EXPECT_EQ(from_list->kind, 1u);
  EXPECT_EQ(from_list->count, 0u);
  ASSERT_NE(from_list->items, nullptr);
  EXPECT_EQ(from_list->items[0], nullptr);
  delete from_list;

  auto* location_only = new OperandList(loc(1));
  EXPECT_EQ(location_only->count, 0u);
  EXPECT_EQ(location_only->items, nullptr);
  delete location_only;
}

TEST(SyntaxTree, OperandListTakesItemsInOrder) {
  auto* items = new std::list<Operand*>{num(1), nullptr, num(3)};
  auto* list = new OperandList(loc(2), items);
  ASSERT_EQ(list->count, 3u);
  EXPECT_EQ(static_cast<Const<long>*>(list->items[0])->value, 1);
  EXPECT_EQ(list->items[1], nullptr);
  EXPECT_EQ(static_cast<Const<long>*>(list->items[2])->value, 3);
  EXPECT_EQ(list->items[3], nullptr);
  delete list;
}

TEST(SyntaxTree, EveryOperandClassWithNullChildren) {
  std::vector<Operand*> nodes = {
      new Operand(loc(0), OPERAND_CONSTANT),
      new OperandList(loc(0)),
      new OperandList(loc(0), nullptr),
      new Name(loc(0), String("n")),
      new Variable(loc(0), String("v"), 1),
      new VariableWithIndex(loc(0), nullptr, nullptr),
      new Path(loc(0), nullptr, 0),
      new Path(loc(0), new std::list<PathItem*>(), 1),
      new Reference(loc(0), nullptr),
      new Unary_Func(loc(0), UNARY_NOT, nullptr),
      new Unary_Func_Not(loc(0), nullptr),
      new Unary_Func_Neg(loc(0), nullptr),
      new Unary_Func_Precedence(loc(0), nullptr),
      new BinaryOperator(loc(0), BINARY_ADD, nullptr, nullptr),
      new Binary_Func_Bool(loc(0), BINARY_EQ, nullptr, nullptr),
      new Binary_Func_Add(loc(0), nullptr, nullptr),
      new Binary_Func_Sub(loc(0), nullptr, nullptr),
      new Binary_Func_Mul(loc(0), nullptr, nullptr),
      new Binary_Func_Div(loc(0), nullptr, nullptr),
      new Binary_Func_Mod(loc(0), nullptr, nullptr),
      new Binary_Func_Pow(loc(0), nullptr, nullptr),
      new Binary_Func_Eq(loc(0), nullptr, nullptr),
      new Binary_Func_Lt(loc(0), nullptr, nullptr),
      new Binary_Func_LtEq(loc(0), nullptr, nullptr),
      new Binary_Func_Gt(loc(0), nullptr, nullptr),
      new Binary_Func_GtEq(loc(0), nullptr, nullptr),
      new Binary_Func_LtGt(loc(0), nullptr, nullptr),
      new Binary_Func_EqEq(loc(0), nullptr, nullptr),
      new Binary_Func_And(loc(0), nullptr, nullptr),
      new Binary_Func_Or(loc(0), nullptr, nullptr),
      new Binary_Func_In_Str(loc(0), nullptr, nullptr),
      new Call(loc(0), String("f"), nullptr),
      new SkalarType(loc(0), CONST_NULL),
      new Const<bool>(loc(0), true),
      new Const_Null(loc(0)),
      new Const<long>(loc(0), 5),
      new Const<numeric_type_st>(loc(0), numeric_type_st{}),
      new Const<money_type_st>(loc(0), money_type_st{}),
      new Const<date_st>(loc(0), date_st{}),
      new Const<datetime_st>(loc(0), datetime_st{}),
      new Const_String(loc(0), String("text")),
  };
  for (Operand* node : nodes) delete node;

  std::vector<PathItem*> items = {
      new NamePathItem(loc(0), String("a")),
      new NameIndexPathItem(loc(0), String("b"), nullptr),
      new FunctionPathItem(loc(0), String("c"), nullptr),
      new IndexPathItem(loc(0), nullptr),
      new WithPathItem(loc(0)),
  };
  for (PathItem* item : items) delete item;

  delete new named_operand_st(String("Custom"), nullptr);
}

TEST(SyntaxTree, OperandKindsAndCodes) {
  EXPECT_EQ(OperandList(loc(0)).kind, 1u);
  EXPECT_EQ(Name(loc(0), String("a")).kind, 2u);
  EXPECT_EQ(Const_Null(loc(0)).kind, 3u);
  EXPECT_EQ(Const_Null(loc(0)).const_type, 4u);
  EXPECT_EQ(Const<bool>(loc(0), true).const_type, 1u);
  EXPECT_EQ(Const<long>(loc(0), 1).const_type, 5u);
  EXPECT_EQ(Const<numeric_type_st>(loc(0), numeric_type_st{}).const_type, 6u);
  EXPECT_EQ(Const<money_type_st>(loc(0), money_type_st{}).const_type, 7u);
  EXPECT_EQ(Const<date_st>(loc(0), date_st{}).const_type, 8u);
  EXPECT_EQ(Const<datetime_st>(loc(0), datetime_st{}).const_type, 9u);
  EXPECT_EQ(Const_String(loc(0), String("x")).const_type, 10u);
  EXPECT_EQ(Variable(loc(0), String("a"), 0).kind, 4u);
  EXPECT_EQ(VariableWithIndex(loc(0), nullptr, nullptr).kind, 5u);
  EXPECT_EQ(Path(loc(0), nullptr, 0).kind, 6u);
  EXPECT_EQ(Reference(loc(0), nullptr).kind, 7u);
  EXPECT_EQ(Unary_Func_Neg(loc(0), nullptr).kind, 8u);
  EXPECT_EQ(Unary_Func_Neg(loc(0), nullptr).op, 1u);
  EXPECT_EQ(Unary_Func_Precedence(loc(0), nullptr).op, 2u);
  EXPECT_EQ(Binary_Func_In_Str(loc(0), nullptr, nullptr).kind, 9u);
  EXPECT_EQ(Call(loc(0), String("f"), nullptr).kind, 10u);
  EXPECT_EQ(WithPathItem(loc(0)).kind, 4u);

  // The binary classes and their op codes agree with the table; the comparison and logical ones
  // derive from Binary_Func_Bool.
  std::vector<BinaryOperator*> ops = {
      new Binary_Func_Add(loc(0), nullptr, nullptr),  new Binary_Func_Sub(loc(0), nullptr, nullptr),
      new Binary_Func_Mul(loc(0), nullptr, nullptr),  new Binary_Func_Div(loc(0), nullptr, nullptr),
      new Binary_Func_Mod(loc(0), nullptr, nullptr),  new Binary_Func_Pow(loc(0), nullptr, nullptr),
      new Binary_Func_Eq(loc(0), nullptr, nullptr),   new Binary_Func_Lt(loc(0), nullptr, nullptr),
      new Binary_Func_LtEq(loc(0), nullptr, nullptr), new Binary_Func_Gt(loc(0), nullptr, nullptr),
      new Binary_Func_GtEq(loc(0), nullptr, nullptr), new Binary_Func_LtGt(loc(0), nullptr, nullptr),
      new Binary_Func_EqEq(loc(0), nullptr, nullptr), new Binary_Func_And(loc(0), nullptr, nullptr),
      new Binary_Func_Or(loc(0), nullptr, nullptr),   new Binary_Func_In_Str(loc(0), nullptr, nullptr),
  };
  ASSERT_EQ(binary_operator_table_size, 16u);
  for (size_t i = 0; i < ops.size(); ++i) {
    EXPECT_EQ(ops[i]->op, i);
    EXPECT_EQ(binary_operator_table[i].op, i);
    EXPECT_EQ(dynamic_cast<Binary_Func_Bool*>(ops[i]) != nullptr, i >= 6) << i;
    EXPECT_EQ(std::string(binary_operator_table[i].base_class), i >= 6 ? "Binary_Func_Bool" : "BinaryOperator");
    delete ops[i];
  }
  EXPECT_EQ(operand_kind_table_size, 10u);
  for (size_t i = 0; i < operand_kind_table_size; ++i) EXPECT_EQ(operand_kind_table[i].kind, i + 1);
  EXPECT_EQ(const_type_table_size, 8u);
  EXPECT_EQ(unary_operator_table_size, 3u);
  EXPECT_EQ(path_item_kind_table_size, 5u);
  for (size_t i = 0; i < path_item_kind_table_size; ++i) EXPECT_EQ(path_item_kind_table[i].kind, i);
}

TEST(SyntaxTree, DeepTreeIsReleasedFromTheRoot) {
  // (a + f(1, @b)) * obj.m(2)[3] with an indexed variable and a WITH path.
  auto* args = new OperandList(loc(0), new std::list<Operand*>{num(1), new Reference(loc(0), var("b"))});
  auto* sum = new Binary_Func_Add(loc(0), var("a"), new Call(loc(0), String("f"), args));
  auto* path_items = new std::list<PathItem*>{
      new WithPathItem(loc(0)), new NamePathItem(loc(0), String("obj")),
      new FunctionPathItem(loc(0), String("m"), new OperandList(loc(0), new std::list<Operand*>{num(2)})),
      new IndexPathItem(loc(0), new OperandList(loc(0), new std::list<Operand*>{num(3)})),
      new NameIndexPathItem(loc(0), String("arr"), new OperandList(loc(0), new std::list<Operand*>{num(4)}))};
  auto* path = new Path(loc(0), path_items, 0);
  auto* product = new Binary_Func_Mul(loc(0), new Unary_Func_Precedence(loc(0), sum), path);
  auto* root = new Unary_Func_Not(
      loc(0), new Binary_Func_And(loc(0), product,
                                  new VariableWithIndex(loc(0), var("x"),
                                                        new OperandList(loc(0), new std::list<Operand*>{num(5)}))));
  delete root;
}

TEST(SyntaxTree, QualifiedNames) {
  auto* abc = new Path(loc(0),
                       new std::list<PathItem*>{new NamePathItem(loc(0), String("a")),
                                                new NamePathItem(loc(0), String("b")),
                                                new NamePathItem(loc(0), String("c"))},
                       0);
  Concat out;
  EXPECT_TRUE(Path::to_qualified_name(abc, &out));
  EXPECT_EQ(utf8(out.to_string(false)), "a.b.c");
  delete abc;

  auto* mixed = new Path(
      loc(0),
      new std::list<PathItem*>{new NamePathItem(loc(0), String("a")),
                               new FunctionPathItem(loc(0), String("b"),
                                                    new OperandList(loc(0), new std::list<Operand*>{num(1)})),
                               new NamePathItem(loc(0), String("c"))},
      0);
  Concat partial;
  EXPECT_FALSE(Path::to_qualified_name(mixed, &partial));
  EXPECT_EQ(utf8(partial.to_string(false)), "a");
  delete mixed;

  Path empty(loc(0), nullptr, 0);
  Concat none;
  EXPECT_FALSE(Path::to_qualified_name(&empty, &none));
  Path no_items(loc(0), new std::list<PathItem*>(), 0);
  EXPECT_FALSE(Path::to_qualified_name(&no_items, &none));
}

// --- Statements -------------------------------------------------------------------------------------

ptr_list<MacroItem>* macro_list() {
  auto* items = new ptr_list<MacroItem>();
  items->push_back(new StringMacroItem(String("USE ")));
  items->push_back(new VariableMacroItem(String("t")));
  return items;
}

TEST(SyntaxTree, EveryStatementClassWithNullChildren) {
  std::vector<Statement*> statements = {
      new Statement(loc(0), STMT_SUSPEND),
      new BasicCommand(loc(0), STMT_APPEND),
      new BasicCommand(loc(0), STMT_USE, new option_ptr_list()),
      new BasicCommand(loc(0), STMT_SCAN, new ptr_list<MacroItem>()),
      new BasicCommand(loc(0), STMT_SCAN, macro_list()),
      new Prep_Pragma(loc(0), String("p"), nullptr),
      new Cmd_Add_Column(loc(0), nullptr, nullptr, nullptr),
      new Cmd_Assign(loc(0), nullptr, nullptr),
      new Cmd_Case(loc(0), nullptr),
      new Cmd_CatchTo(loc(0), nullptr, nullptr),
      new Cmd_Create_Table(loc(0), 0, nullptr, nullptr, nullptr),
      new Cmd_DeclareDll(loc(0), 0, String("f"), nullptr, nullptr),
      new Cmd_Define(loc(0), String("c"), nullptr, 0),
      new Cmd_Drop_Column(loc(0), nullptr, nullptr),
      new Cmd_DoWhile(loc(0), static_cast<Operand*>(nullptr)),
      new Cmd_DoWhile(loc(0), macro_list()),
      new Cmd_If(loc(0), static_cast<Operand*>(nullptr)),
      new Cmd_If(loc(0), macro_list()),
      new Cmd_If(loc(0), static_cast<ptr_list<MacroItem>*>(nullptr)),
      new Cmd_Incomplete(loc(0), macro_list(), STMT_INCOMPLETE),
      new Cmd_Incomplete(loc(0), nullptr, STMT_INCOMPLETE),
      new Cmd_Echo(loc(0), nullptr, 1),
      new Cmd_External_Array(loc(0), nullptr),
      new Cmd_For(loc(0), nullptr, nullptr, nullptr, nullptr),
      new Cmd_Function(loc(0), String("f"), nullptr, 1, nullptr),
      new Cmd_Import_Library(loc(0), nullptr),
      new Cmd_Private_Pattern(loc(0), String("*"), String()),
      new Cmd_Return(loc(0), nullptr),
      new Cmd_Store(loc(0), nullptr, nullptr),
      new Cmd_Text(loc(0), 1, String("line")),
      new Cmd_With(loc(0), nullptr),
      new Cmd_Public(loc(0), nullptr),
      new Cmd_Private_VarList(loc(0), nullptr),
      new Cmd_Local(loc(0), nullptr),
      new Cmd_Dimension(loc(0), nullptr),
      new Cmd_Parameters(loc(0), nullptr),
      new Cmd_LParameters(loc(0), nullptr),
      new Cmd_Hidden(loc(0), nullptr),
      new Cmd_Protected(loc(0), new std::list<Definition*>()),
      new Cmd_Loop(loc(0)),
      new Cmd_Exit(loc(0)),
      new Cmd_EndFor(loc(0)),
      new Cmd_Enddefine(loc(0)),
      new Cmd_Endfunc(loc(0)),
      new Cmd_Else(loc(0)),
      new Cmd_Endif(loc(0)),
      new Cmd_DoCase(loc(0)),
      new Cmd_Otherwise(loc(0)),
      new Cmd_EndCase(loc(0)),
      new Cmd_Try(loc(0)),
      new Cmd_Finally(loc(0)),
      new Cmd_Endtry(loc(0)),
      new Invalid_Statement(loc(0), invalid_statement_diagnostic_st{10, loc(0)}),
  };
  for (Statement* s : statements) {
    ASSERT_LT(s->kind, kStatementKindCount);
    EXPECT_NE(statement_kind_table[s->kind].node_class, nullptr) << s->kind;
    delete s;
  }

  delete new Option(String("TO"), loc(0));
  delete new Option(String("TO"), loc(0), nullptr);
  delete new Option(String("TO"), nullptr);
  delete new option_ptr_list();
  delete new Definition(nullptr, nullptr, nullptr);
  delete new column_definition_st(COLUMN_CHAR, nullptr, nullptr);
  delete new column_definition_st(COLUMN_CHAR, nullptr, nullptr, nullptr);
  delete new column_definition_st(COLUMN_CHAR, nullptr, nullptr, nullptr, nullptr);
  delete new StringMacroItem(String("x"));
  delete new VariableMacroItem(String("x"));
}

TEST(SyntaxTree, StatementKindsSetByConstructors) {
  struct {
    Statement* s;
    uint32_t kind;
  } cases[] = {
      {new Prep_Pragma(loc(0), String("p"), nullptr), 1},
      {new Cmd_Add_Column(loc(0), nullptr, nullptr, nullptr), 2},
      {new Cmd_Assign(loc(0), nullptr, nullptr), 5},
      {new Cmd_Case(loc(0), nullptr), 9},
      {new Cmd_CatchTo(loc(0), nullptr, nullptr), 10},
      {new Cmd_Create_Table(loc(0), 1, nullptr, nullptr, nullptr), 15},
      {new Cmd_DeclareDll(loc(0), 0, String("f"), nullptr, nullptr), 16},
      {new Cmd_Define(loc(0), String("c"), nullptr, 1), 17},
      {new Cmd_Dimension(loc(0), nullptr), 22},
      {new Cmd_DoCase(loc(0)), 25},
      {new Cmd_Drop_Column(loc(0), nullptr, nullptr), 26},
      {new Cmd_DoWhile(loc(0), static_cast<Operand*>(nullptr)), 28},
      {new Cmd_Echo(loc(0), nullptr, 0), 29},
      {new Cmd_Else(loc(0)), 30},
      {new Cmd_EndCase(loc(0)), 32},
      {new Cmd_Enddefine(loc(0)), 33},
      {new Cmd_EndFor(loc(0)), 35},
      {new Cmd_Endfunc(loc(0)), 36},
      {new Cmd_Endif(loc(0)), 37},
      {new Cmd_Endtry(loc(0)), 40},
      {new Cmd_Exit(loc(0)), 43},
      {new Cmd_External_Array(loc(0), nullptr), 44},
      {new Cmd_Finally(loc(0)), 45},
      {new Cmd_For(loc(0), nullptr, nullptr, nullptr, nullptr), 46},
      {new Cmd_Function(loc(0), String("f"), nullptr, 1, nullptr), 48},
      {new Cmd_Hidden(loc(0), nullptr), 55},
      {new Cmd_If(loc(0), static_cast<Operand*>(nullptr)), 56},
      {new Cmd_Import_Library(loc(0), nullptr), 58},
      {new Cmd_Incomplete(loc(0), nullptr, 60), 60},
      {new Cmd_Local(loc(0), nullptr), 61},
      {new Cmd_Loop(loc(0)), 63},
      {new Cmd_LParameters(loc(0), nullptr), 64},
      {new Cmd_Otherwise(loc(0)), 68},
      {new Cmd_Parameters(loc(0), nullptr), 70},
      {new Cmd_Private_VarList(loc(0), nullptr), 71},
      {new Cmd_Private_Pattern(loc(0), String("*"), String()), 72},
      {new Cmd_Protected(loc(0), nullptr), 73},
      {new Cmd_Public(loc(0), nullptr), 74},
      {new Cmd_Return(loc(0), nullptr), 80},
      {new Cmd_Store(loc(0), nullptr, nullptr), 106},
      {new Cmd_Text(loc(0), 0, String()), 109},
      {new Cmd_Try(loc(0)), 111},
      {new Cmd_With(loc(0), nullptr), 115},
      {new Invalid_Statement(loc(0), invalid_statement_diagnostic_st{}), 0},
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.s->kind, c.kind);
    // The class of the statement-kind table row is the class built for the kind.
    delete c.s;
  }
}

TEST(SyntaxTree, BasicCommandForms) {
  EXPECT_THROW(BasicCommand(loc(0), STMT_USE, static_cast<option_ptr_list*>(nullptr)), assert_failed_exception);

  BasicCommand plain(loc(3), STMT_ZAP);
  ASSERT_NE(plain.options, nullptr);
  EXPECT_TRUE(plain.options->empty());
  EXPECT_EQ(plain.macro_items, nullptr);
  EXPECT_EQ(plain.macro_item_count, 0u);
  EXPECT_EQ(plain.kind, 116u);

  BasicCommand macro(loc(3), STMT_SCAN, macro_list());
  EXPECT_EQ(macro.options, nullptr);
  ASSERT_EQ(macro.macro_item_count, 2u);
  EXPECT_EQ(macro.macro_items[0]->kind, uint32_t{'S'});
  EXPECT_EQ(macro.macro_items[1]->kind, uint32_t{'V'});
  EXPECT_EQ(utf8(macro.macro_items[1]->text), "t");
  EXPECT_EQ(macro.macro_items[2], nullptr);

  Cmd_If if_macro(loc(0), macro_list());
  EXPECT_EQ(if_macro.condition, nullptr);
  EXPECT_EQ(if_macro.macro_item_count, 2u);
  Cmd_If if_plain(loc(0), new Const<bool>(loc(0), true));
  EXPECT_EQ(if_plain.macro_items, nullptr);
  EXPECT_EQ(if_plain.macro_item_count, 0u);
}

struct diagnostics_st {
  int calls = 0;
  int event = -1;
  document_location_st range[2]{};
  document_location_st location{};
};

void record_diagnostic(void* context, int event, intptr_t value, const document_location_st& location) {
  auto* d = static_cast<diagnostics_st*>(context);
  ++d->calls;
  d->event = event;
  std::memcpy(d->range, reinterpret_cast<const document_location_st*>(value), sizeof d->range);
  d->location = location;
}

TEST(SyntaxTree, RepeatedOptionKeepsTheFirst) {
  diagnostics_st diagnostics;
  option_ptr_list options;
  auto* first = new Option(String("TO"), loc(1), num(1));
  auto* second = new Option(String("to"), loc(7), num(2));
  EXPECT_EQ(options.push(first, record_diagnostic, &diagnostics), &options);
  EXPECT_EQ(diagnostics.calls, 0);
  EXPECT_EQ(options.push(second, record_diagnostic, &diagnostics), &options);  // second is destroyed
  EXPECT_EQ(diagnostics.calls, 1);
  EXPECT_EQ(diagnostics.event, 0);
  EXPECT_TRUE(same_location(diagnostics.range[0], loc(7)));
  EXPECT_TRUE(same_location(diagnostics.range[1], loc(7)));
  EXPECT_TRUE(same_location(diagnostics.location, loc(7)));
  EXPECT_EQ(options.size(), 1u);
  EXPECT_EQ(options.find(String("To")), first);
  EXPECT_EQ(options.find("to"), first);
  EXPECT_EQ(static_cast<Const<long>*>(options.find("TO")->value)->value, 1);
  EXPECT_EQ(options.find("from"), nullptr);

  // Without a context nothing is reported, and the repetition is still destroyed.
  options.push(new Option(String("tO"), loc(9), num(3)), record_diagnostic, nullptr);
  EXPECT_EQ(diagnostics.calls, 1);
  EXPECT_EQ(options.size(), 1u);

  // The one-option constructor; names in other charsets are found as well.
  option_ptr_list single(new Option(String("ADDITIVE"), loc(0)));
  String utf32_name = String("additive");
  utf32_name.convert(Charset::utf32le, CON_NONE, 0);
  EXPECT_NE(single.find(utf32_name), nullptr);
  EXPECT_EQ(single.find("ADDITIV"), nullptr);
}

TEST(SyntaxTree, ConstructorDefaults) {
  // FOR i = 1 TO 10 without STEP: a Const<long> 1 at the statement's location.
  Cmd_For loop(loc(4), var("i"), num(1), num(10), nullptr);
  ASSERT_NE(loop.step, nullptr);
  EXPECT_EQ(loop.step->kind, 3u);
  auto* step = static_cast<SkalarType*>(loop.step);
  ASSERT_EQ(step->const_type, 5u);
  EXPECT_EQ(static_cast<Const<long>*>(step)->value, 1);
  EXPECT_TRUE(same_location(step->location, loc(4)));

  // CREATE TABLE t (a C(10), b N(5,2)).
  auto* columns = new std::list<column_definition_st*>{
      new column_definition_st(COLUMN_CHAR, new Name(loc(20), String("a")), num(10), new option_ptr_list()),
      new column_definition_st(COLUMN_NUMERIC, new Name(loc(30), String("b")), num(5), num(2),
                               new option_ptr_list())};
  Cmd_Create_Table table(loc(5), 0, new Name(loc(13), String("t")), new option_ptr_list(), columns);
  EXPECT_EQ(table.cursor, 0u);
  EXPECT_EQ(table.column_count->value, 2);
  EXPECT_TRUE(same_location(table.column_count->location, loc(13)));
  column_definition_st* a = table.columns->front();
  column_definition_st* b = table.columns->back();
  EXPECT_EQ(a->type_code->value, 2);
  EXPECT_EQ(static_cast<Const<long>*>(a->width)->value, 10);
  ASSERT_EQ(a->decimals->kind, 3u);
  EXPECT_EQ(static_cast<SkalarType*>(a->decimals)->const_type, 4u);
  EXPECT_TRUE(same_location(a->decimals->location, loc(20)));
  EXPECT_TRUE(same_location(a->type_code->location, loc(20)));
  EXPECT_EQ(b->type_code->value, 11);
  EXPECT_EQ(static_cast<Const<long>*>(b->width)->value, 5);
  EXPECT_EQ(static_cast<Const<long>*>(b->decimals)->value, 2);

  column_definition_st bare(COLUMN_DATE, new Name(loc(40), String("d")), new option_ptr_list());
  EXPECT_EQ(static_cast<SkalarType*>(bare.width)->const_type, 4u);
  EXPECT_EQ(static_cast<SkalarType*>(bare.decimals)->const_type, 4u);

  // DECLARE INTEGER f IN lib STRING @s, LONG.
  auto* parameters = new std::list<external_parameter_st*>{new external_parameter_st{EXTERNAL_STRING, 1, {}},
                                                           new external_parameter_st{EXTERNAL_INTEGER, 0, {}}};
  Cmd_DeclareDll declare(loc(0), EXTERNAL_INTEGER, String("f"), new Name(loc(0), String("lib")), parameters);
  EXPECT_EQ(declare.return_type, 2u);
  ASSERT_EQ(declare.parameter_count, 2u);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(declare.parameter_types);
  const unsigned char expected[16] = {6, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes, expected, 16), 0);

  Cmd_DeclareDll no_parameters(loc(0), 0, String("g"), nullptr, nullptr);
  EXPECT_EQ(no_parameters.parameter_types, nullptr);
  EXPECT_EQ(no_parameters.parameter_count, 0u);

  // ? alone and ?? alone.
  Cmd_Echo echo(loc(0), new OperandList(loc(0)), 1);
  EXPECT_EQ(echo.values->count, 0u);
  EXPECT_EQ(echo.values->items, nullptr);
  EXPECT_EQ(echo.linefeed, 1u);
  Cmd_Echo echo2(loc(0), new OperandList(loc(0)), 0);
  EXPECT_EQ(echo2.linefeed, 0u);

  // Declarations own their definitions with dimensions and AS clauses.
  auto* defs = new std::list<Definition*>{
      new Definition(new Variable(loc(0), String("a"), 1),
                     new OperandList(loc(0), new std::list<Operand*>{num(3), num(4)}),
                     new named_operand_st(String("Custom"), new Name(loc(0), String("lib")))),
      new Definition(new Variable(loc(0), String("b"), 1), nullptr, nullptr)};
  Cmd_Local local(loc(0), defs);
  EXPECT_EQ(local.definitions->size(), 2u);
  auto* fparams = new std::list<Definition*>{new Definition(new Variable(loc(0), String("p"), 1), nullptr, nullptr)};
  Cmd_Function fn(loc(0), String("f"), fparams, 2, new named_operand_st(String("Integer"), nullptr));
  EXPECT_EQ(fn.visibility, 2u);

  // Records with every child.
  Cmd_Add_Column add(loc(0), new Name(loc(0), String("t")),
                     new column_definition_st(COLUMN_INTEGER, new Name(loc(0), String("c")),
                                              new option_ptr_list(new Option(String("AUTOINC"), loc(0)))),
                     new option_ptr_list());
  Cmd_Store store(loc(0), num(1), new OperandList(loc(0), new std::list<Operand*>{var("a"), var("b")}));
  Cmd_Define define(loc(0), String("c"), new named_operand_st(String("Custom"), num(0)), 1);
  Cmd_CatchTo catch_all(loc(0), nullptr, new Const<bool>(loc(0), true));
  EXPECT_EQ(catch_all.variable, nullptr);
}

// --- The tables -------------------------------------------------------------------------------------

// The Command column of the statement-kind table: every kind that names a command.
const std::pair<uint32_t, const char*> statement_commands[] = {
    {3, "append"},        {4, "assert"},          {6, "begin_transaction"}, {7, "browse"},
    {8, "cancel"},        {11, "cd"},             {12, "clear"},            {13, "continue"},
    {14, "copy_to"},      {18, "delete_all_tags"}, {19, "delete_file"},     {20, "delete_tag"},
    {21, "delete_record"}, {23, "display_structure"}, {24, "do"},           {27, "drop_table"},
    {31, "end_transaction"}, {42, "error"},       {49, "gather_from"},      {50, "gather_memvar"},
    {51, "gather_name"},  {52, "go_bottom"},      {53, "go_record"},        {54, "go_top"},
    {59, "index"},        {62, "locate"},         {65, "mkdir"},            {66, "modify_command"},
    {69, "pack"},         {75, "quit"},           {76, "recall_record"},    {77, "reindex"},
    {78, "rename_table"}, {79, "replace"},        {81, "rollback"},         {82, "run"},
    {84, "scatter_memvar"}, {85, "scatter_name"}, {86, "scatter_to"},       {87, "seek"},
    {88, "select"},       {89, "set"},            {90, "set_century_to"},   {91, "set_datasession_to"},
    {92, "set_date_to"},  {93, "set_fdow_to"},    {94, "set_filter_to"},    {95, "set_hours_to"},
    {96, "set_library_to"}, {97, "set_order_to"}, {98, "set_path_to"},      {99, "set_point_to"},
    {100, "set_procedure_to"}, {101, "set_seconds_to"}, {102, "set_separator_to"}, {103, "set_sysformats_to"},
    {104, "set_textmerge_to"}, {105, "skip"},     {110, "throw"},           {112, "unlock"},
    {113, "use"},         {114, "wait"},          {116, "zap"},
};

TEST(SyntaxTables, StatementKinds) {
  size_t basic = 0;
  for (uint32_t k = 0; k < kStatementKindCount; ++k) {
    const statement_kind_row_st& row = statement_kind_table[k];
    EXPECT_EQ(row.kind, k);
    ASSERT_NE(row.source_form, nullptr);
    if (k == 57 || k == 67) {
      EXPECT_EQ(row.node_class, nullptr);
      EXPECT_EQ(row.compiled_by, nullptr);
      continue;
    }
    ASSERT_NE(row.node_class, nullptr) << k;
    if (std::string(row.node_class) == "BasicCommand") ++basic;
  }
  // 63 native commands plus ENDDO, ENDSCAN, ENDTEXT, ENDWITH, FOR EACH, SCAN and TEXT.
  EXPECT_EQ(basic, 70u);
  EXPECT_STREQ(statement_kind_table[107].node_class, "Statement");
  EXPECT_STREQ(statement_kind_table[59].compiled_by, "compile_stmt_basic_command");
  EXPECT_STREQ(statement_kind_table[4].compiled_by, "compile_stmt_assert");
  EXPECT_EQ(statement_kind_table[33].compiled_by, nullptr);
  EXPECT_STREQ(statement_kind_table[58].compiled_by, "compile_module_stmt_import");
}

TEST(SyntaxTables, CommandTableIsTheStatementCommandColumn) {
  ASSERT_EQ(sizeof(statement_commands) / sizeof(statement_commands[0]), kCommandTableSize);
  std::set<uint32_t> kinds;
  for (const basic_command_st& row : command_table) {
    EXPECT_TRUE(kinds.insert(row.kind).second) << row.name;
    EXPECT_STREQ(statement_kind_table[row.kind].node_class, "BasicCommand") << row.name;
    ASSERT_NE(row.grammar, nullptr);
  }
  for (const auto& [kind, name] : statement_commands) {
    const basic_command_st* row = find_command(kind);
    ASSERT_NE(row, nullptr) << kind;
    EXPECT_STREQ(row->name, name);
  }
  EXPECT_EQ(find_command(STMT_ENDDO), nullptr);
  EXPECT_EQ(find_command(STMT_SCAN), nullptr);
  EXPECT_EQ(find_command(57), nullptr);
  EXPECT_EQ(find_command(1000), nullptr);
  // The first rows keep the library's order (browse before begin_transaction).
  EXPECT_STREQ(command_table[2].name, "browse");
  EXPECT_STREQ(command_table[3].name, "begin_transaction");
  EXPECT_STREQ(find_command(STMT_SET_ORDER_TO)->grammar, "tag,in,(ascending,descending)");
}

TEST(SyntaxTables, ColumnAndExternalTypes) {
  const char* letters = "WCIYDTBGLMNFQV";
  for (size_t i = 0; i < kColumnTypeCount; ++i) {
    EXPECT_EQ(column_type_table[i].code, i + 1);
    EXPECT_EQ(column_type_table[i].letter[0], letters[i]);
  }
  EXPECT_STREQ(column_type_table[COLUMN_VARCHAR - 1].word, "VARCHAR");
  for (size_t i = 0; i < kExternalTypeCount; ++i) EXPECT_EQ(external_type_table[i].code, i);
  EXPECT_STREQ(external_type_table[EXTERNAL_OBJECT].words, "OBJECT");
}

}  // namespace
}  // namespace qzbase
