// Language functions and control commands called directly: what a program cannot reach (an empty
// object reference as IIF's condition, PRIVATE with both patterns, the debugger stop point).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <qzbase.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <thread>

#include "builtins/entry_points.h"
#include "indexes/index_trace.h"
#include "objects/operand_object.h"
#include "vm/calls.h"
#include "vm/execute.h"
#include "builtins_support.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace {

using testing_builtins::call;
using testing_builtins::error_of;
using testing_builtins::integer;
using testing_builtins::null_value;
using testing_builtins::run;
using testing_builtins::RuntimeFixture;
using testing_builtins::str;

Variant logical(bool b) {
  Variant v;
  v.set_bool(b);
  return v;
}

// A PRIVATE pattern as the compiler hands it over: UTF-16LE text.
Variant pattern(const char* text) {
  String s(text);
  s.convert(Charset::utf16le, CON_NONE, 0);
  Variant v;
  v.set_string(s);
  return v;
}

TEST(LanguageFunctions, IifTakesTheThirdArgumentForFalseNullAndAnEmptyObjectReference) {
  RuntimeFixture f;
  Variant empty_object;
  empty_object.set(object_ptr_st{});
  ASSERT_TRUE(empty_object.is_empty_object_reference());
  struct {
    Variant condition;
    int64_t expected;
  } cases[] = {{logical(true), 1}, {logical(false), 2}, {null_value(), 2}, {std::move(empty_object), 2}};
  for (auto& c : cases) {
    Variant r = call(f.stack, bi_iif, {c.condition, integer(1), integer(2)});
    EXPECT_EQ(r.tag, VT_INTEGER);
    EXPECT_EQ(r.integer.value, c.expected);
    r.release(f.stack);
    c.condition.release(f.stack);
  }
}

TEST(LanguageFunctions, CastNamesAreSymbolsAndUnknownOnesAreNotEntered) {
  RuntimeFixture f;
  const size_t names_before = f.stack->get_symtable()->size();
  auto [code, detail] = error_of([&] { call(f.stack, bi_cast, {integer(1), str("no_such_type_name")}); });
  EXPECT_EQ(code, 1001);
  EXPECT_EQ(detail, "cast to no_such_type_name");
  EXPECT_EQ(f.stack->get_symtable()->size(), names_before);
  Variant r = call(f.stack, bi_cast, {integer(3), str("Currency")});
  EXPECT_EQ(r.tag, VT_MONEY);
  r.release(f.stack);
}

Memvar* define(VmStack* stack, const char* name, int64_t value) {
  Memvar* m = nullptr;
  stack->alloc_undefined_memvar(stack->get_symtable()->symbolize(name), &m);
  m->value.release(stack);
  m->value.set(integer_type_st{value});
  return m;
}

bool visible(VmStack* stack, const char* name) {
  Memvar* m = nullptr;
  return stack->get_memvar(stack->get_symtable()->symbolize(name), &m);
}

TEST(ControlCommands, PrivateHidesWhatMatchesLikeAndNotExcept) {
  RuntimeFixture f;
  for (const char* name : {"a1", "ab1", "b1", "Ax"}) define(f.stack, name, 1);
  run(f.stack, cmd_private, {pattern("^a.*$"), pattern("^ab.*$")});
  EXPECT_FALSE(visible(f.stack, "a1"));
  EXPECT_FALSE(visible(f.stack, "AX"));
  EXPECT_TRUE(visible(f.stack, "ab1"));
  EXPECT_TRUE(visible(f.stack, "b1"));
}

TEST(ControlCommands, PrivatePatternsTheEngineRefusesRaise9007) {
  RuntimeFixture f;
  define(f.stack, "a1", 1);
  EXPECT_EQ(error_of([&] { run(f.stack, cmd_private, {pattern("^a[$"), pattern("^$")}); }).first, 9007);
  EXPECT_EQ(error_of([&] { run(f.stack, cmd_private, {pattern("^.*$"), pattern("(")}); }).first, 9007);
  EXPECT_TRUE(visible(f.stack, "a1"));
}

TEST(ControlCommands, ErrorNumbersBelowOneAreRefused) {
  RuntimeFixture f;
  struct {
    int64_t number;
    int expected;
  } const cases[] = {{0, 11}, {-1, 11}, {INT32_MIN, 11}, {1, 1}, {INT32_MAX, INT32_MAX}, {int64_t{INT32_MAX} + 1, 39},
                     {int64_t{INT32_MIN} - 1, 39}};
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { run(f.stack, cmd_error, {integer(c.number)}); }).first, c.expected) << c.number;
  }
}

// The value an operand object's program gives (the object is what a macro header stored).
Variant evaluate_operand(VmStack* stack, const Variant& holder) {
  EXPECT_EQ(holder.tag, VT_OBJECT);
  if (holder.tag != VT_OBJECT) return Variant();
  auto* operand = static_cast<Operand_Object*>(holder.object.object);
  EXPECT_NE(operand->program, nullptr);
  Variant result;
  if (operand->program != nullptr) execute_program(stack, 0, false, operand->program.get(), &result);
  return result;
}

// Calls a macro-header initializer as the compiled code does: the header text, then each target
// by reference.
void init_header(VmStack* stack, native_function_type fn, const char* header, std::initializer_list<Variant*> targets) {
  Memvar* mark = stack->sp;
  stack->push();
  stack->push()->value.set_string(String(header));
  for (Variant* target : targets) target->ref(stack, &stack->push()->value, nullptr);
  try {
    call_native_function(stack, fn, targets.size() + 1);
  } catch (...) {
    stack->release_stack_to(mark);
    throw;
  }
  stack->release_stack_to(mark);
}

TEST(LanguageFunctions, ScanFromMacroMakesOneOperandPerClauseAndTrueForAnAbsentOne) {
  RuntimeFixture f;
  struct {
    const char* header;
    bool for_value;
    bool while_value;
  } const cases[] = {
      {"SCAN FOR 1 > 2", false, true},
      {"SCAN WHILE 1 > 2 FOR 3 = 3", true, false},
      {"SCAN", true, true},
      {"SCAN REST", true, true},
      {"scan for .t. while .f.", true, false},
  };
  for (const auto& c : cases) {
    Variant for_target, while_target;
    init_header(f.stack, bi_init_scan_from_macro, c.header, {&for_target, &while_target});
    Variant for_value = evaluate_operand(f.stack, for_target);
    Variant while_value = evaluate_operand(f.stack, while_target);
    EXPECT_EQ(for_value.tag, c.for_value ? VT_TRUE : VT_FALSE) << c.header;
    EXPECT_EQ(while_value.tag, c.while_value ? VT_TRUE : VT_FALSE) << c.header;
    for (Variant* v : {&for_value, &while_value, &for_target, &while_target}) v->release(f.stack);
  }
}

TEST(LanguageFunctions, MacroHeadersRefuseOtherStatementsAndFurtherLines) {
  RuntimeFixture f;
  struct {
    native_function_type function;
    const char* header;
  } const cases[] = {
      {bi_init_scan_from_macro, "IF .T."},
      {bi_init_scan_from_macro, "SCAN FOR"},
      {bi_init_scan_from_macro, "SCAN FOR .T.\nx = 1"},
      {bi_init_if_from_macro, "DO WHILE .T."},
      {bi_init_if_from_macro, "IF &x"},
      {bi_init_if_from_macro, "IF .T.\r? 1"},
      {bi_init_do_while_from_macro, "IF .T."},
      {bi_init_do_while_from_macro, "x = 1"},
  };
  for (const auto& c : cases) {
    Variant first, second;
    EXPECT_EQ(error_of([&] { init_header(f.stack, c.function, c.header, {&first, &second}); }).first, 10) << c.header;
    EXPECT_EQ(first.tag, VT_FALSE) << c.header;  // nothing stored
    for (Variant* v : {&first, &second}) v->release(f.stack);
  }
  // A trailing line break alone is no further line.
  Variant target;
  init_header(f.stack, bi_init_if_from_macro, "IF 1 < 2\r\n", {&target});
  Variant value = evaluate_operand(f.stack, target);
  EXPECT_EQ(value.tag, VT_TRUE);
  for (Variant* v : {&value, &target}) v->release(f.stack);
}

TEST(LanguageFunctions, TraceCallbackIsInstalledForThisThreadAndRemovedByAnEmptyName) {
  RuntimeFixture f;
  Memvar* counter = define(f.stack, "splits", 0);
  auto count = [&] { return counter->value.tag == VT_INTEGER ? counter->value.integer.value : -1; };
  trace_idx_split_after_write_right_left();  // nothing installed: nothing runs
  Variant r = call(f.stack, bi_debug_set_trace_callback, {str("EXECSCRIPT"), str("'splits = splits + 1'")});
  EXPECT_EQ(r.tag, VT_TRUE);
  r.release(f.stack);
  trace_idx_split_after_write_right_left();
  trace_idx_split_after_write_right_left();
  EXPECT_EQ(count(), 2);
  std::thread([] { trace_idx_split_after_write_right_left(); }).join();  // another thread's slot is empty
  EXPECT_EQ(count(), 2);
  // A text that does not compile leaves the installed callback as it was.
  EXPECT_EQ(error_of([&] { call(f.stack, bi_debug_set_trace_callback, {str("bad name"), str("(")}); }).first, 10);
  trace_idx_split_after_write_right_left();
  EXPECT_EQ(count(), 3);
  r = call(f.stack, bi_debug_set_trace_callback, {str(""), str("")});
  r.release(f.stack);
  trace_idx_split_after_write_right_left();
  EXPECT_EQ(count(), 3);
}

TEST(LanguageFunctionsDeathTest, DebugbreakIsTakenByNoTry) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  char dir[] = "/tmp/qz_debugbreak_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/stop.prg";
  std::FILE* out = std::fopen(file.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs("TRY\n  __debugbreak()\nCATCH\n  ? 'caught'\nENDTRY\n", out);
  std::fclose(out);
  EXPECT_DEATH(
      [&] {
        testing_screen::CaptureScreen screen;
        Runtime* runtime = CreateRuntime(&screen);
        // Nothing of the language takes it: it leaves the run, and here a function that may not
        // throw.
        [&]() noexcept { RunProgram(runtime, String(file.c_str())); }();
        ReleaseRuntime(runtime);
      }(),
      "");
  std::remove(file.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace qzbase
