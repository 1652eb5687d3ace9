// Language functions and control commands called directly: what a program cannot reach (an empty
// object reference as IIF's condition, PRIVATE with both patterns, the debugger stop point).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <qzbase.h>

#include <cstdio>
#include <string>

#include "builtins/entry_points.h"
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
