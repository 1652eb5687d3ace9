// language_functions.cpp - the built-ins that reach the language itself: run-time compilation
// (EVALUATE, EXECSCRIPT, TYPE), types (VARTYPE, CAST), IIF and STORE, the call state of the stack
// (PCOUNT, PARAMETERS, PROGRAM, ERROR, MESSAGE), syntax classification for editors (SYNTAXINFO,
// SYNTAXINFO2) and the library's own test hooks.
//
// Every program compiled here belongs to the call that compiled it and is freed on every path.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/library.h"
#include "builtins/workarea.h"
#include "compiler/build_input.h"
#include "compiler/syntax_classification.h"
#include "frontend/operands.h"
#include "frontend/statements.h"
#include "frontend/syntax_tables.h"
#include "indexes/index_trace.h"
#include "objects/object.h"
#include "objects/operand_object.h"
#include "tables/table_object.h"
#include "values/value_text.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The type names CAST knows, as predefined symbols.
constexpr symbol_id_type symbol_I = 60;
constexpr symbol_id_type symbol_INTEGER = 61;
constexpr symbol_id_type symbol_Y = 62;
constexpr symbol_id_type symbol_B = 66;
constexpr symbol_id_type symbol_DOUBLE = 67;
constexpr symbol_id_type symbol_CURRENCY = 100;

// An empty text in the runtime's default character set.
String empty_text(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  const Charset* cs = runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8;
  return String(static_cast<size_t>(0), cs);
}

// A compile input with the module context of the running frame and the built-in library.
struct FrameBuildInput {
  explicit FrameBuildInput(VmStack* stack) : input(stack) {
    input.set_module_context_from_frame(stack);
    input.import_library(stack->get_runtime()->builtin_library());
  }
  BuildInput input;
};

}  // namespace

void bi_test_asserts_on(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  result->set_bool(runtime != nullptr && runtime->asserts);
}

// STORE(target, value): an array target receives the value in every element and is the result;
// any other target gets a copy of the value as the result, which the compiled code assigns.
void bi_store(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const Variant* target = Param(stack, 1);
  if (target->tag == VT_REFERENCE) target = target->reference.target;
  const Variant* value = Param(stack, 2);
  if (target->tag != VT_ARRAY) {
    result->set_variant(value);
    return;
  }
  result->set_variant(target);
  try {
    Array* array = *result;
    for (size_t i = 1, n = array->count(); i <= n; ++i) {
      Variant* element = array->write(stack, i);
      element->release(stack);
      element->set_variant(value);
    }
  } catch (...) {
    result->release(stack);
    throw;
  }
}

// EVALUATE(text): compiled in the running module's context and run on the caller's frame, so its
// LOCAL and PRIVATE variables are seen.
void bi_evaluate(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String text = string_argument(stack, 1);
  const Program* built = nullptr;
  FrameBuildInput build(stack);
  build.input.build_expression(text, &built);
  std::unique_ptr<const Program> program(built);
  execute_expression(stack, program.get(), result);
}

// EXECSCRIPT(text, args...): a whole script in a frame of its own; the further arguments are its
// parameters (the frame checks their count and the nesting depth).
void bi_execscript(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String text = string_argument(stack, 1);
  std::unique_ptr<const Program> program;
  {
    FrameBuildInput build(stack);
    program.reset(build.input.build_script(text, nullptr));
  }
  // The script's arguments are the lowest slots of this call's arguments.
  execute_program(stack, argc - 1, false, program.get(), result);
}

// TYPE(text): the type letter of the expression's value, "U" when compiling or evaluating it
// raises a language error. Slots a failed evaluation left on the stack are released.
void bi_type(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const Variant* argument = argument_value(stack, 1);
  Memvar* mark = stack->sp;
  String letter;
  if (argument->tag != VT_STRING) {
    // Only a text can name an expression.
    letter = String("U");
  } else {
    ScopedValue value(stack);
    try {
      const Program* built = nullptr;
      FrameBuildInput build(stack);
      build.input.build_expression(argument->string, &built);
      std::unique_ptr<const Program> program(built);
      execute_expression(stack, program.get(), &value.value);
      letter = value.value.vartype();
    } catch (const RuntimeError&) {
      letter = String("U");
    }
  }
  if (stack->sp < mark) stack->release_stack_to(mark);
  result->set_string(letter);
}

void bi_vartype(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  result->set_string(Param(stack, 1)->vartype());
}

// CAST(value, type [, nullable, width, decimals]): to an integer (I, INTEGER), money (Y, CURRENCY)
// or a double (B, DOUBLE). The type name is matched as a predefined symbol; the further arguments
// are accepted and not used.
void bi_cast(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const String type = string_argument(stack, 2);
  symbol_id_type symbol = 0;
  Symtable* symtable = stack->get_symtable();
  // Looked up without entering it: any text may arrive here.
  if (symtable == nullptr || !symtable->find(type, &symbol)) symbol = 0;
  enum { TO_INTEGER, TO_MONEY, TO_DOUBLE } target;
  switch (symbol) {
    case symbol_I:
    case symbol_INTEGER:
      target = TO_INTEGER;
      break;
    case symbol_Y:
    case symbol_CURRENCY:
      target = TO_MONEY;
      break;
    case symbol_B:
    case symbol_DOUBLE:
      target = TO_DOUBLE;
      break;
    default: {
      String detail("cast to ");
      detail.add(type);
      throw RuntimeError(1001, detail);
    }
  }
  const Variant* value = argument_value(stack, 1);
  if (is_null_argument(value)) {
    result->set_null();
    return;
  }
  switch (target) {
    case TO_INTEGER: {
      integer_type_st v{};
      variant_cast(*value, &v);
      result->set(v);
      break;
    }
    case TO_MONEY: {
      money_type_st v{};
      variant_cast(*value, &v);
      result->set(v);
      break;
    }
    case TO_DOUBLE: {
      numeric_type_st v{};
      variant_cast(*value, &v);
      result->set(v);
      break;
    }
  }
}

// IIF(condition, a, b) when it is not compiled inline: b for false, null and an empty object
// reference, a otherwise.
void bi_iif(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 3) throw RuntimeError(11);
  const Variant* condition = argument_value(stack, 1);
  const bool otherwise = condition->tag == VT_FALSE || is_null_argument(condition);
  result->set_variant(argument_value(stack, otherwise ? 3 : 2));
}

void bi_pcount(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set(integer_type_st{static_cast<int64_t>(stack->frame_nargs)});
}

// The argument count of the latest user-function call on the stack (not restored on return).
void bi_parameters(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set(integer_type_st{static_cast<int64_t>(stack->last_call_nargs)});
}

// PROGRAM([level]): the running procedure's name; a negative level gives the call depth, level 1
// the outermost procedure, a level beyond the depth an empty text.
void bi_program(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const VmFrame* frame = stack->frame;
  if (frame == nullptr) {
    result->set_string(empty_text(stack));
    return;
  }
  const int level = has_argument(stack, argc, 1) ? int32_argument(stack, 1) : 0;
  if (level == 0) {
    result->set_string(frame->program->name());
    return;
  }
  const auto depth = static_cast<int64_t>(frame->depth);
  if (level < 0) {
    result->set(integer_type_st{depth});
    return;
  }
  if (level > depth) {
    result->set_string(empty_text(stack));
    return;
  }
  while (static_cast<int64_t>(frame->depth) > level) frame = frame->previous;
  result->set_string(frame->program->name());
}

// ERROR(): the number of the last error, 0 when the stack has recorded none.
void bi_error(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  const int64_t code = stack->errors.empty() ? 0 : stack->last_error.code;
  result->set(integer_type_st{code});
}

// MESSAGE([n]): the message of the recorded error, empty when there is none. n is not used.
void bi_message(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  if (stack->errors.empty()) {
    result->set_string(empty_text(stack));
    return;
  }
  const Variant& message = stack->errors.front().message;
  result->set_string(message.tag == VT_STRING ? message.string : empty_text(stack));
}

namespace {

// The per-character classes of a text: column 1 the syntax class, column 2 the marks of the
// split macro lines (1) and of the build messages (2 over the message, 3 over its context). Later
// items paint over earlier ones.
struct CharacterClasses {
  std::vector<uint32_t> syntax;
  std::vector<uint32_t> marks;
};

CharacterClasses classify_characters(VmStack* stack, const String& text) {
  const size_t length = text.length();
  CharacterClasses classes;
  classes.syntax.assign(length, 0);
  classes.marks.assign(length, 0);
  BuildInput input(stack);
  std::unique_ptr<syntax_result_st> found = input.classify_syntax(text);
  auto paint = [length](std::vector<uint32_t>& column, const document_location_st& where, uint32_t value) {
    const size_t end = std::min<size_t>(where.end_char, length);
    for (size_t i = where.begin_char; i < end; ++i) column[i] = value;
  };
  for (const syntax_info_st& item : found->syntax_items) paint(classes.syntax, item.location, item.syntax_class);
  for (const document_location_st& where : found->error_locations) paint(classes.marks, where, 1);
  for (const error_location_st& pair : found->message_locations) {
    paint(classes.marks, pair.location, 2);
    paint(classes.marks, pair.context_location, 3);
  }
  return classes;
}

void set_integer_cell(VmStack* stack, Array* array, size_t row, size_t column, int64_t value) {
  Variant* cell = array->write(stack, row, column);
  cell->release(stack);
  cell->set(integer_type_st{value});
}

}  // namespace

// SYNTAXINFO(text, @array): one row per character, column 1 its syntax class, column 2 its mark.
// The result is the text's length in characters.
void bi_syntaxinfo(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const String text = string_argument(stack, 1);
  const CharacterClasses classes = classify_characters(stack, text);
  const size_t length = classes.syntax.size();
  Array* array = Param(stack, 2)->dimension(stack, length, 2);
  for (size_t i = 0; i < length; ++i) {
    set_integer_cell(stack, array, i + 1, 1, classes.syntax[i]);
    set_integer_cell(stack, array, i + 1, 2, classes.marks[i]);
  }
  result->set(integer_type_st{static_cast<int64_t>(length)});
}

// SYNTAXINFO2(text, @array): the runs of characters of one class on one line, as rows of class,
// line, first column and the column after the run (lines and columns from 1). Characters of class
// 0 make no row. The result is the number of rows.
void bi_syntaxinfo2(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const String text = string_argument(stack, 1);
  const CharacterClasses classes = classify_characters(stack, text);
  struct run_st {
    uint32_t syntax_class;
    int64_t line;
    int64_t first;
    int64_t after;
  };
  std::vector<run_st> runs;
  const Charset* cs = text.get_charset();
  const char* p = text.read();
  const char* end = text.end();
  int64_t line = 1;
  int64_t column = 1;
  size_t i = 0;
  while (p < end && i < classes.syntax.size()) {
    const uint32_t syntax_class = classes.syntax[i];
    const char32_t c = cs->next(&p, end);
    if (syntax_class != 0) {
      if (!runs.empty() && runs.back().syntax_class == syntax_class && runs.back().line == line &&
          runs.back().after == column) {
        runs.back().after = column + 1;
      } else {
        runs.push_back(run_st{syntax_class, line, column, column + 1});
      }
    }
    ++i;
    if (c == U'\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  Array* array = Param(stack, 2)->dimension(stack, runs.size(), 4);
  for (size_t r = 0; r < runs.size(); ++r) {
    set_integer_cell(stack, array, r + 1, 1, runs[r].syntax_class);
    set_integer_cell(stack, array, r + 1, 2, runs[r].line);
    set_integer_cell(stack, array, r + 1, 3, runs[r].first);
    set_integer_cell(stack, array, r + 1, 4, runs[r].after);
  }
  result->set(integer_type_st{static_cast<int64_t>(runs.size())});
}

namespace {

// A fresh "Operand" object holding program, stored into the by-reference argument n.
void store_operand(VmStack* stack, size_t n, const Program* built) {
  std::shared_ptr<const Program> program(built);
  Library* library = stack->get_runtime()->builtin_library();
  Class* cls = library != nullptr ? library->find_class(stack->get_symtable()->symbolize(String("Operand"))) : nullptr;
  if (cls == nullptr) throw_assert_failed();
  ScopedValue slot(stack);
  ScopedValue made(stack);
  createobject_internal(stack, cls, &slot.value, 0, &made.value);
  auto* operand = static_cast<Operand_Object*>(made.value.object.object);
  {
    std::unique_lock<std::shared_mutex> lock(operand->property_lock);
    operand->program.swap(program);
  }
  Variant* target = argument_value(stack, n);
  target->release(stack);
  made.value.copy(target);
}

// The condition of an IF or DO WHILE header, or a clause of a SCAN header, compiled in the running
// module; an absent clause is a constant true.
const Program* compile_condition(BuildInput& input, const Operand* condition) {
  const Program* built = nullptr;
  if (condition != nullptr) {
    input.compile_operand(condition, &built);
  } else {
    input.build_expression(String(".T."), &built);
  }
  return built;
}

// Parses the header text built at run time; anything but one statement of the expected kind
// (a header whose own text is a macro again included) is a syntax error. The parse stops at the
// first line end, so further lines in a variable's text would be dropped unseen: they are refused.
std::unique_ptr<Statement> parse_header(BuildInput& input, VmStack* stack, uint32_t kind) {
  String text = string_argument(stack, 1);
  if (text.get_charset()->min_bytes() > 1) text.convert(Charset::utf8, CON_NONE, 0);
  const char* end = text.end();
  const char* line_end = std::find_if(text.read(), end, [](char c) { return c == '\n' || c == '\r'; });
  if (std::find_if(line_end, end, [](char c) { return c != '\n' && c != '\r' && c != ' ' && c != '\t'; }) != end) {
    throw RuntimeError(10);
  }
  std::unique_ptr<Statement> statement(input.parse_statement(text));
  if (!statement || statement->kind != kind) throw RuntimeError(10);
  return statement;
}

template <class Header>
void init_condition_from_macro(VmStack* stack, size_t argc, uint32_t kind) {
  if (argc < 2) throw RuntimeError(11);
  FrameBuildInput build(stack);
  std::unique_ptr<Statement> statement = parse_header(build.input, stack, kind);
  const auto* header = static_cast<const Header*>(statement.get());
  if (header->condition == nullptr) throw RuntimeError(10);
  store_operand(stack, 2, compile_condition(build.input, header->condition));
}

}  // namespace

// __INIT_IF_FROM_MACRO(text, @operand): the compiled IF calls the operand's "evaluate".
void bi_init_if_from_macro(VmStack* stack, size_t argc, Variant*) {
  QZ_TRACE;
  init_condition_from_macro<Cmd_If>(stack, argc, STMT_IF);
}

// __INIT_DO_WHILE_FROM_MACRO(text, @operand): evaluated before every iteration.
void bi_init_do_while_from_macro(VmStack* stack, size_t argc, Variant*) {
  QZ_TRACE;
  init_condition_from_macro<Cmd_DoWhile>(stack, argc, STMT_DOWHILE);
}

// __INIT_SCAN_FROM_MACRO(text, @for, @while): one operand per clause, FOR first; an absent clause
// is true. Without REST and WHILE the scan starts at the first record of the current table (when
// one is open), as a SCAN whose header is known when it is compiled does.
void bi_init_scan_from_macro(VmStack* stack, size_t argc, Variant*) {
  QZ_TRACE;
  if (argc < 3) throw RuntimeError(11);
  FrameBuildInput build(stack);
  std::unique_ptr<Statement> statement = parse_header(build.input, stack, STMT_SCAN);
  const auto* header = static_cast<const BasicCommand*>(statement.get());
  if (header->options == nullptr) throw RuntimeError(10);
  const char* const clauses[] = {"FOR", "WHILE"};
  for (size_t i = 0; i < 2; ++i) {
    const Option* option = header->options->find(clauses[i]);
    store_operand(stack, i + 2, compile_condition(build.input, option != nullptr ? option->value : nullptr));
  }
  if (header->options->find("REST") == nullptr && header->options->find("WHILE") == nullptr) {
    if (Table_Object* table = session_table(stack, nullptr, false)) table->movefirst(stack);
  }
}

// __CATCH_TO_MACRO(name, exception): CATCH TO &v stores the exception into the variable v's text
// names, as an assignment to that name would (a LOCAL of the running procedure, else the visible
// binding, else a new PRIVATE). A text that is not a variable name is a syntax error.
void bi_catch_to_macro(VmStack* stack, size_t argc, Variant*) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  FrameBuildInput build(stack);
  std::unique_ptr<Operand> name(build.input.parse_expression(string_argument(stack, 1)));
  if (!name || name->kind != OPERAND_VARIABLE) throw RuntimeError(10);
  const symbol_id_type symbol = stack->get_symtable()->symbolize(static_cast<const Variable*>(name.get())->name);
  ScopedValue value(stack);
  argument_value(stack, 2)->copy(&value.value);
  Memvar* memvar = nullptr;
  stack->alloc_undefined_memvar(symbol, &memvar);
  Variant* target = memvar->value.tag == VT_REFERENCE ? memvar->value.reference.target : &memvar->value;
  target->release(stack);
  value.value.copy(target);
}

// A stop point for a native debugger: an exception no TRY of the language takes.
void bi_debugbreak(VmStack*, size_t, Variant*) {
  QZ_TRACE;
  throw 0;
}

namespace {

// The callback this thread installed: the program and the stack it runs on.
struct split_trace_callback_st {
  VmStack* stack;
  std::shared_ptr<const Program> program;
};
thread_local std::unique_ptr<split_trace_callback_st> installed_split_trace;

void run_split_trace(void* context) {
  const auto* callback = static_cast<const split_trace_callback_st*>(context);
  VmStack* stack = callback->stack;
  std::shared_ptr<const Program> program = callback->program;  // the callback may replace itself
  ScopedValue ignored(stack);
  if (stack->frame != nullptr) {
    execute_expression(stack, program.get(), &ignored.value);
  } else {
    execute_program(stack, 0, false, program.get(), &ignored.value);
  }
}

}  // namespace

// __DEBUG_SET_TRACE_CALLBACK(name, arguments): the call name(arguments), compiled now in the
// running module, runs on this stack's current frame after every index node split of this thread
// (its value is dropped). An empty name removes the callback; remove it before the stack ends.
void bi_debug_set_trace_callback(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  String name = string_argument(stack, 1);
  name.alltrim();
  std::unique_ptr<split_trace_callback_st> fresh;
  if (name.size() != 0) {
    Concat joined(name.get_charset());
    joined.append(name);
    joined.append(String("("));
    joined.append(string_argument(stack, 2));
    joined.append(String(")"));
    const Program* built = nullptr;
    {
      FrameBuildInput build(stack);
      build.input.build_expression(joined.to_string(false), &built);
    }
    fresh.reset(new split_trace_callback_st{stack, std::shared_ptr<const Program>(built)});
  }
  set_trace_idx_split_after_write_right_left(fresh ? &run_split_trace : nullptr, fresh.get());
  installed_split_trace = std::move(fresh);
  result->set_true();
}

// __REGRESSION1(text, n): evaluates text as EVALUATE does and answers n.
void bi_regression1(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const int64_t answer = integer_argument(stack, 2);
  {
    ScopedValue value(stack);
    const Program* built = nullptr;
    FrameBuildInput build(stack);
    build.input.build_expression(string_argument(stack, 1), &built);
    std::unique_ptr<const Program> program(built);
    execute_expression(stack, program.get(), &value.value);
  }
  result->set(integer_type_st{answer});
}

}  // namespace qzbase
