// RuntimeThrow and Error: the interrupt and the error record that hold Variants.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"

using namespace qzbase;

namespace {

std::string text(const Variant& v) { return std::string(v.string.read(), v.string.size()); }

TEST(RuntimeThrowTest, DefaultIsEmptyWithNoTarget) {
  RuntimeThrow t;
  EXPECT_EQ(t.interrupt_type(), INTERRUPT_THROW);
  EXPECT_EQ(t.value.tag, VT_FALSE);
  EXPECT_EQ(t.target_frame, nullptr);
  EXPECT_EQ(t.catch_symbol, 0u);
  EXPECT_EQ(t.target_position, 0u);
}

TEST(RuntimeThrowTest, HoldsAShareOfTheValueAndReleasesIt) {
  String s("thrown");
  Variant value;
  value.set_string(s);
  auto* frame = reinterpret_cast<VmFrame*>(0x1000);
  {
    RuntimeThrow t(value, frame, 1030, 17);
    EXPECT_EQ(t.target_frame, frame);
    EXPECT_EQ(t.catch_symbol, 1030u);
    EXPECT_EQ(t.target_position, 17u);
    EXPECT_EQ(s.buffer()->count.load(), 3u);
    RuntimeThrow copy(t);
    EXPECT_EQ(s.buffer()->count.load(), 4u);
    RuntimeThrow assigned;
    assigned = copy;
    EXPECT_EQ(assigned.catch_symbol, 1030u);
    EXPECT_EQ(s.buffer()->count.load(), 5u);
  }
  EXPECT_EQ(s.buffer()->count.load(), 2u);
}

TEST(RuntimeThrowTest, CaughtByItsOwnTypeNotAsRuntimeInterrupt) {
  Variant value;
  value.set_integer(5);
  bool as_throw = false;
  try {
    try {
      throw RuntimeThrow(value, nullptr, 0, 3);
    } catch (const RuntimeInterrupt&) {
      FAIL() << "a RuntimeThrow must not be caught as RuntimeInterrupt";
    }
  } catch (const RuntimeThrow& t) {
    as_throw = true;
    EXPECT_EQ(t.value.integer.value, 5);
    EXPECT_EQ(t.target_position, 3u);
  }
  EXPECT_TRUE(as_throw);
}

TEST(ErrorRecord, SevenValues) {
  Error e(1234, String("Subscript is outside defined range."), String("detail"));
  EXPECT_EQ(e.number.tag, VT_INTEGER);
  EXPECT_EQ(e.number.integer.value, 1234);
  EXPECT_EQ(text(e.message), "Subscript is outside defined range.");
  EXPECT_EQ(text(e.detail), "detail");
  EXPECT_EQ(e.value4.tag, VT_FALSE);
  EXPECT_EQ(e.value5.tag, VT_FALSE);
  EXPECT_EQ(e.value6.tag, VT_FALSE);
  EXPECT_EQ(e.value7.tag, VT_FALSE);
}

TEST(ErrorRecord, ReleasesItsValues) {
  String message("message");
  String detail("detail");
  {
    Error e(1, message, detail);
    e.value4.set_string(detail);
    EXPECT_EQ(message.buffer()->count.load(), 2u);
    EXPECT_EQ(detail.buffer()->count.load(), 3u);
    Error copy(e);
    EXPECT_EQ(detail.buffer()->count.load(), 5u);
    Error assigned(2, message, message);
    assigned = copy;
    EXPECT_EQ(assigned.number.integer.value, 1);
    EXPECT_EQ(detail.buffer()->count.load(), 7u);
  }
  EXPECT_EQ(message.buffer()->count.load(), 1u);
  EXPECT_EQ(detail.buffer()->count.load(), 1u);
}

}  // namespace
