// The rows built so far: ? and ??, QUIT, CANCEL, ASSERT, STORE, DIMENSION, CONCAT, AT,
// TEST_ASSERTS_ON.
#include <gtest/gtest.h>

#include "builtins/entry_points.h"
#include "builtins_support.h"

namespace qzbase {
namespace {

using namespace testing_builtins;

Variant numeric(double v, uint64_t decimals) {
  Variant x;
  x.set_float(v, decimals);
  return x;
}

TEST(EchoCommands, ExactBytesWithSpaceOnAndOff) {
  RuntimeFixture f;
  Variant t;
  t.set_true();
  run(f.stack, cmd_echo_linefeed, {integer(1), str("a "), t, null_value()});
  EXPECT_EQ(f.screen.out, "1 a  true null\n");  // no trimming; one blank between values
  f.screen.out.clear();
  run(f.stack, cmd_echo, {integer(1), integer(2)});
  run(f.stack, cmd_echo, {});
  EXPECT_EQ(f.screen.out, "1 2");
  f.screen.out.clear();
  f.stack->set_space = 0;
  run(f.stack, cmd_echo_linefeed, {integer(1), integer(2)});
  run(f.stack, cmd_echo_linefeed, {});
  EXPECT_EQ(f.screen.out, "12\n\n");
}

TEST(EchoCommands, NumericWithoutDecimalsHasNoTrailingPoint) {
  RuntimeFixture f;
  run(f.stack, cmd_echo, {numeric(12, 0), str("|"), numeric(-3, 0), str("|"), numeric(1.5, 2), str("|"),
                          numeric(0, 0)});
  EXPECT_EQ(f.screen.out, "12 | -3 | 1.50 | 0");
}

TEST(ControlCommands, QuitAndCancel) {
  RuntimeFixture f;
  try {
    run(f.stack, cmd_quit, {});
    FAIL();
  } catch (const RuntimeQuit& q) {
    EXPECT_EQ(q.kind, QUIT_QUIT);
    EXPECT_EQ(q.type, INTERRUPT_QUIT);
  }
  try {
    run(f.stack, cmd_cancel, {});
    FAIL();
  } catch (const RuntimeQuit& q) {
    EXPECT_EQ(q.kind, QUIT_CANCEL);
  }
}

TEST(ControlCommands, Assert) {
  RuntimeFixture f;
  Variant t;
  t.set_true();
  for (const Variant& pass : {t, null_value(), integer(0), str("")}) run(f.stack, cmd_assert, {pass, str("x")});
  EXPECT_EQ(f.screen.out, "");
  Variant no;
  no.set_false();
  auto e = error_of([&] { run(f.stack, cmd_assert, {no, str("a = 1")}); });
  EXPECT_EQ(e.first, 1098);
  EXPECT_EQ(e.second, "");
  EXPECT_EQ(f.screen.out, "ASSERT FAILED: a = 1\n");
}

TEST(LanguageFunctions, StoreAndTestAssertsOn) {
  RuntimeFixture f;
  Variant array;
  array.dimension(f.stack, 2, 2);
  Variant r = call(f.stack, bi_store, {array, integer(5)});
  ASSERT_EQ(r.tag, VT_ARRAY);
  const Array* a = r;
  ASSERT_EQ(a->count(), 4u);
  for (size_t i = 1; i <= 4; ++i) EXPECT_EQ(static_cast<long>(*a->read(i)), 5) << i;
  r.release(f.stack);
  array.release(f.stack);
  Variant s = call(f.stack, bi_store, {str("old"), str("new")});
  EXPECT_EQ(static_cast<String>(s).u8str(), "new");
  EXPECT_EQ(call(f.stack, bi_test_asserts_on, {}).tag, VT_FALSE);
  SetRuntimeAsserts(f.runtime, true);
  EXPECT_EQ(call(f.stack, bi_test_asserts_on, {}).tag, VT_TRUE);
}

// DIMENSION(rows, columns, @target) with the target passed as a reference, as the compiler does.
Variant dimension(VmStack* stack, Variant* target, Variant rows, Variant cols) {
  Memvar* mark = stack->sp;
  stack->push();
  stack->push()->value.set_variant(&rows);
  stack->push()->value.set_variant(&cols);
  target->ref(stack, &stack->push()->value, nullptr);
  call_native_function(stack, bi_dimension, 3);
  Variant result = std::move(stack->sp->value);
  stack->release_stack_to(mark);
  return result;
}

TEST(ArrayFunctions, Dimension) {
  RuntimeFixture f;
  Variant target;
  Variant r = dimension(f.stack, &target, integer(3), null_value());
  ASSERT_EQ(target.tag, VT_ARRAY);
  EXPECT_EQ(static_cast<const Array*>(target)->count(), 3u);
  EXPECT_EQ(static_cast<const Array*>(target)->columns(), 0u);
  EXPECT_EQ(static_cast<const Array*>(r)->count(), 3u);
  r.release(f.stack);
  r = dimension(f.stack, &target, integer(2), integer(4));
  EXPECT_EQ(static_cast<const Array*>(target)->count(), 8u);
  EXPECT_EQ(static_cast<const Array*>(target)->columns(), 4u);
  r.release(f.stack);
  EXPECT_EQ(error_of([&] { dimension(f.stack, &target, integer(0), null_value()); }).first, 230);
  target.release(f.stack);
}

TEST(StringFunctions, ConcatAndAt) {
  RuntimeFixture f;
  Variant c = call(f.stack, bi_concat, {str("ab"), str(""), str("cd")});
  EXPECT_EQ(static_cast<String>(c).u8str(), "abcd");
  EXPECT_EQ(call(f.stack, bi_concat, {str("ab"), null_value()}).tag, VT_NULL);
  struct Case {
    std::vector<Variant> args;
    long position;
  } cases[] = {
      {{str("a"), str("banana"), integer(2)}, 4},
      {{str("a"), str("banana")}, 2},
      {{str("a"), str("banana"), integer(4)}, 0},
      {{str("x"), str("abc")}, 0},
      {{str("na"), str("banana"), integer(2)}, 5},
      {{str("é"), str("aéé"), integer(2)}, 3},  // characters, not bytes
  };
  for (auto& k : cases) EXPECT_EQ(static_cast<long>(call(f.stack, bi_at, k.args)), k.position);
  EXPECT_EQ(call(f.stack, bi_at, {null_value(), str("a")}).tag, VT_NULL);
  EXPECT_EQ(call(f.stack, bi_at, {str("a"), str("a"), null_value()}).tag, VT_NULL);
  EXPECT_EQ(error_of([&] { call(f.stack, bi_at, {str("a"), str("a"), integer(0)}); }).first, 11);
}

}  // namespace
}  // namespace qzbase
