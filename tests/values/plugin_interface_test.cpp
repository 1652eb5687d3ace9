// The exported value interface, used as a plug-in uses it: this file includes only
// the public header (and GoogleTest). The stack is opaque to a plug-in; these functions take it
// only to pass on to releases, so a null stack stands in for the host's.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime_errors.h"

using namespace qzbase;

namespace {

VmStack* const no_stack = nullptr;

using testing_errors::error_code;

std::string read_string(const Variant* v) {
  size_t size = 99;
  const char* bytes = VarReadString(v, &size);
  return std::string(bytes, size);
}

TEST(PluginValues, Booleans) {
  Variant v;
  VarSetTrue(&v);
  EXPECT_EQ(v.tag, VT_TRUE);
  ReleaseVar(no_stack, &v);
  VarSetFalse(&v);
  EXPECT_EQ(v.tag, VT_FALSE);
  VarSetBool(&v, true);
  EXPECT_EQ(v.tag, VT_TRUE);
  // Setting a non-empty Variant is a broken invariant; after ReleaseVar it succeeds.
  EXPECT_THROW(VarSetBool(&v, false), assert_failed_exception);
  ReleaseVar(no_stack, &v);
  VarSetBool(&v, false);
  EXPECT_EQ(v.tag, VT_FALSE);
  VarSetNull(&v);
  EXPECT_EQ(v.tag, VT_NULL);
}

TEST(PluginValues, EverySetterRequiresAnEmptyVariant) {
  Variant v;
  VarSetNull(&v);
  Variant src;
  VarSetInt(&src, 1);
  EXPECT_THROW(VarSetVariant(&v, &src), assert_failed_exception);
  EXPECT_THROW(VarSetTrue(&v), assert_failed_exception);
  EXPECT_THROW(VarSetFalse(&v), assert_failed_exception);
  EXPECT_THROW(VarSetNull(&v), assert_failed_exception);
  EXPECT_THROW(VarSetInt(&v, 1), assert_failed_exception);
  EXPECT_THROW(VarSetDouble(&v, 1.0), assert_failed_exception);
  EXPECT_THROW(VarSetString(&v, String("x")), assert_failed_exception);
  EXPECT_THROW(VarSetUtf8(&v, "x"), assert_failed_exception);
  EXPECT_THROW(VarSetUtf8Len(&v, "x", 1), assert_failed_exception);
  EXPECT_EQ(v.tag, VT_NULL);
}

TEST(PluginValues, Numbers) {
  Variant a, b;
  VarSetInt(&a, -1);
  EXPECT_EQ(a.tag, VT_INTEGER);
  EXPECT_EQ(a.integer.value, -1);
  EXPECT_EQ(VarGetInt(&a), -1);
  EXPECT_EQ(VarGetInt32(&a), -1);
  EXPECT_EQ(VarGetInt64(&a), -1);
  VarSetDouble(&b, 2.5);
  EXPECT_EQ(b.tag, VT_NUMERIC);
  EXPECT_EQ(b.numeric.value, 2.5);
  EXPECT_EQ(b.numeric.decimals, free_decimals);
  EXPECT_EQ(VarGetInt(&b), 2);
  Variant big;
  big.set_integer(static_cast<long>(0x123456789));
  EXPECT_EQ(VarGetInt(&big), 0x23456789);  // the low 32 bits
  EXPECT_EQ(VarGetInt64(&big), 0x123456789);
  Variant t;
  VarSetTrue(&t);
  EXPECT_EQ(error_code([&] { VarGetInt(&t); }), 107);
  EXPECT_EQ(error_code([&] { VarGetInt64(&t); }), 107);
}

TEST(PluginValues, Strings) {
  Variant v;
  VarSetUtf8(&v, "héllo");
  EXPECT_EQ(v.tag, VT_STRING);
  EXPECT_EQ(v.string.get_charset(), Charset::utf8);
  EXPECT_EQ(read_string(&v), "héllo");
  String got = VarGetString(&v);
  EXPECT_EQ(std::string(got.read(), got.size()), "héllo");

  Variant z;
  VarSetUtf8Len(&z, "a\0b", 3);
  EXPECT_EQ(read_string(&z), std::string("a\0b", 3));

  Variant e;
  VarSetUtf8(&e, "");
  size_t size = 99;
  VarReadString(&e, &size);
  EXPECT_EQ(size, 0u);

  Variant s;
  String text("shared");
  VarSetString(&s, text);
  EXPECT_EQ(text.buffer()->count.load(), 2u);

  Variant n;
  VarSetInt(&n, 3);
  EXPECT_EQ(error_code([&] { VarGetString(&n); }), 107);
  EXPECT_EQ(error_code([&] { VarReadString(&n, &size); }), 107);
  EXPECT_EQ(error_code([&] { VarWriteString(&n, &size); }), 107);
}

TEST(PluginValues, VarWriteStringUnshares) {
  Variant first;
  VarSetUtf8(&first, "abc");
  Variant second;
  VarSetVariant(&second, &first);
  EXPECT_EQ(first.string.buffer(), second.string.buffer());
  size_t size = 0;
  char* bytes = VarWriteString(&first, &size);
  ASSERT_EQ(size, 3u);
  bytes[0] = 'X';
  EXPECT_EQ(read_string(&first), "Xbc");
  EXPECT_EQ(read_string(&second), "abc");
  EXPECT_NE(first.string.buffer(), second.string.buffer());
  // Private now: a second write gives the same bytes.
  EXPECT_EQ(VarWriteString(&first, &size), bytes);
}

TEST(PluginValues, VarSetVariantCopiesAReferencesValue) {
  Variant target;
  VarSetUtf8(&target, "value");
  Variant ref;
  target.ref(no_stack, &ref, nullptr);
  Variant copy;
  VarSetVariant(&copy, &ref);
  EXPECT_EQ(copy.tag, VT_STRING);
  EXPECT_EQ(target.string.buffer()->count.load(), 2u);
}

TEST(PluginValues, ReleaseVarEmpties) {
  Variant v;
  VarSetUtf8(&v, "gone");
  ReleaseVar(no_stack, &v);
  EXPECT_EQ(v.tag, VT_FALSE);
  ReleaseVar(no_stack, &v);  // releasing an empty Variant does nothing
  EXPECT_EQ(v.tag, VT_FALSE);
}

TEST(PluginArrays, DimensionReadWrite) {
  Variant v;
  Array* a = VarDimArray(no_stack, &v, 7);
  EXPECT_EQ(ArrayNumElements(a), 7u);
  EXPECT_EQ(ArrayNumRows(a), 7u);
  EXPECT_EQ(ArrayNumColumns(a), 0u);
  VarSetInt(WriteArrayItem(no_stack, a, 2, 0), 22);
  EXPECT_EQ(VarGetInt(ReadArrayItem(no_stack, a, 2)), 22);
  EXPECT_EQ(VarGetInt(ReadArrayItem(a, 2, 0)), 22);
  EXPECT_EQ(error_code([&] { ReadArrayItem(no_stack, a, 0); }), 1234);
  EXPECT_EQ(error_code([&] { ReadArrayItem(no_stack, a, 8); }), 1234);
  EXPECT_EQ(error_code([&] { ReadArrayItem(a, 0, 1); }), 11);

  Array* b = VarDimArray(no_stack, &v, 2, 3);
  EXPECT_EQ(b, a);  // the same payload, re-dimensioned
  EXPECT_EQ(ArrayNumElements(b), 6u);
  EXPECT_EQ(ArrayNumRows(b), 2u);
  EXPECT_EQ(ArrayNumColumns(b), 3u);
  // A one-dimensional array keeps its elements as the first column: old element 2 is (2, 1).
  EXPECT_EQ(VarGetInt(ReadArrayItem(b, 2, 1)), 22);
}

TEST(PluginArrays, TwoDimensional) {
  Variant v;
  Array* a = VarDimArray(no_stack, &v, 2, 3);
  for (size_t r = 1; r <= 2; ++r) {
    for (size_t c = 1; c <= 3; ++c) VarSetInt(WriteArrayItem(no_stack, a, r, c), int(r * 10 + c));
  }
  EXPECT_EQ(VarGetInt(ReadArrayItem(a, 2, 3)), 23);
  EXPECT_EQ(VarGetInt(ReadArrayItem(no_stack, a, 4)), 21);
  EXPECT_EQ(error_code([&] { WriteArrayItem(no_stack, a, 0, 1); }), 11);
  EXPECT_EQ(error_code([&] { WriteArrayItem(no_stack, a, 1, 4); }), 1234);
  EXPECT_EQ(error_code([&] { WriteArrayItem(no_stack, a, 3, 1); }), 1234);
  // WriteArrayItem unshares a block shared with another Variant.
  Variant copy;
  VarSetVariant(&copy, &v);
  VarSetInt(WriteArrayItem(no_stack, a, 1, 1), 99);
  EXPECT_EQ(VarGetInt(ReadArrayItem(VarGetArray(&copy), 1, 1)), 11);
  EXPECT_EQ(VarGetInt(ReadArrayItem(VarGetArray(&v), 1, 1)), 99);
}

TEST(PluginArrays, VarGetArray) {
  Variant v;
  VarDimArray(no_stack, &v, 1);
  const Variant& cv = v;
  EXPECT_EQ(VarGetArray(&cv), &v.array);
  EXPECT_EQ(VarGetArray(&v), &v.array);
  Variant n;
  VarSetInt(&n, 1);
  const Variant& cn = n;
  EXPECT_EQ(error_code([&] { VarGetArray(&cn); }), 232);
  EXPECT_EQ(error_code([&] { VarGetArray(&n); }), 232);
}

TEST(PluginArrays, HugeDimensionRaises230) {
  Variant v;
  EXPECT_EQ(error_code([&] { VarDimArray(no_stack, &v, size_t{1} << 40, size_t{1} << 40); }), 230);
  EXPECT_EQ(error_code([&] { VarDimArray(no_stack, &v, SIZE_MAX); }), 230);
  EXPECT_EQ(v.tag, VT_FALSE);
}

}  // namespace
