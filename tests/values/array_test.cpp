// Array: the read side, copy on write, writing, dimensioning with
// carry-over, storing into every element, and the block's release.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "fake_object.h"
#include "values/array.h"
#include "values/release_nesting.h"
#include "vm/vm_stack.h"
#include "runtime_errors.h"

using namespace qzbase;
using qzbase::testing_fakes::FakeObject;
using qzbase::testing_fakes::FakeObjectTest;

namespace {

using testing_errors::error_code;

// A one-dimensional array 1..n (or rows x cols when cols > 0) holding the integers 1, 2, 3...
void make_numbered(Variant* v, size_t rows, size_t cols) {
  Array* a = v->dimension(nullptr, rows, cols);
  for (size_t i = 1; i <= a->count(); ++i) a->write(nullptr, i)->set_integer(static_cast<int>(i));
}

// The elements as integers, 0 for an empty (false) element.
std::vector<long> contents(const Variant& v) {
  std::vector<long> out;
  const Array& a = v.array;
  for (size_t i = 1; i <= a.count(); ++i) {
    const Variant* e = a.read(i);
    out.push_back(e->tag == VT_FALSE ? 0 : e->integer.value);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Read side
// ---------------------------------------------------------------------------------------------

TEST(ArrayRead, Bounds) {
  Variant v;
  make_numbered(&v, 4, 0);
  const Array& a = v.array;
  EXPECT_EQ(a.count(), 4u);
  EXPECT_EQ(a.rows(), 4u);
  EXPECT_EQ(a.columns(), 0u);
  EXPECT_EQ(a.read(1)->integer.value, 1);
  EXPECT_EQ(a.read(4)->integer.value, 4);
  EXPECT_EQ(error_code([&] { a.read(0); }), 1234);
  EXPECT_EQ(error_code([&] { a.read(5); }), 1234);
  EXPECT_EQ(a.read(3, 0)->integer.value, 3);  // col 0: element row
  EXPECT_EQ(a.read(2, 2)->integer.value, 3);  // one-dimensional: row + col - 1
  EXPECT_EQ(error_code([&] { a.read(0, 1); }), 11);
  EXPECT_EQ(error_code([&] { a.read(SIZE_MAX, 2); }), 1234);
}

TEST(ArrayRead, TwoDimensional) {
  Variant v;
  make_numbered(&v, 2, 3);
  const Array& a = v.array;
  EXPECT_EQ(a.count(), 6u);
  EXPECT_EQ(a.rows(), 2u);
  EXPECT_EQ(a.columns(), 3u);
  EXPECT_EQ(a.read(2, 1)->integer.value, 4);
  EXPECT_EQ(a.read(2, 3)->integer.value, 6);
  // A column beyond the columns is out of range, as it is for writes: a[1,4] is not a[2,1].
  EXPECT_EQ(error_code([&] { a.read(1, 4); }), 1234);
  EXPECT_EQ(a.element_number(2, 2), 5u);
  EXPECT_EQ(error_code([&] { a.element_number(0, 1); }), 1234);
  EXPECT_EQ(error_code([&] { a.element_number(1, 0); }), 1234);
  EXPECT_EQ(error_code([&] { a.element_number(1, 4); }), 1234);
  EXPECT_EQ(error_code([&] { a.element_number(3, 1); }), 1234);
  EXPECT_EQ(a.check_row(2), 2u);
  EXPECT_EQ(error_code([&] { a.check_row(3); }), 1234);
  EXPECT_EQ(error_code([&] { a.check_row(0); }), 1234);
  EXPECT_EQ(a.asubscript_row(4), 2u);
  EXPECT_EQ(a.asubscript_column(4), 1u);
  EXPECT_EQ(a.asubscript_column(6), 3u);
  EXPECT_EQ(error_code([&] { a.asubscript_row(7); }), 1234);
  EXPECT_EQ(error_code([&] { a.asubscript_column(0); }), 1234);
}

TEST(ArrayRead, OneDimensionalSubscripts) {
  Variant v;
  make_numbered(&v, 5, 0);
  const Array& a = v.array;
  EXPECT_EQ(error_code([&] { a.element_number(1, 1); }), 230);
  EXPECT_EQ(error_code([&] { a.asubscript_column(2); }), 230);
  EXPECT_EQ(a.asubscript_row(5), 5u);
  EXPECT_EQ(a.check_row(5), 5u);
  EXPECT_EQ(error_code([&] { a.check_row(6); }), 1234);
}

TEST(ArrayRead, OperatorArrayChecksTheTag) {
  Variant v;
  v.set_integer(1);
  EXPECT_EQ(error_code([&] { (void)static_cast<Array*>(v); }), 232);
  const Variant& cv = v;
  EXPECT_EQ(error_code([&] { (void)static_cast<const Array*>(cv); }), 232);
  Variant w;
  w.dimension(nullptr, 1, 0);
  EXPECT_EQ(static_cast<Array*>(w), &w.array);
}

TEST(ArrayLifecycle, DestructorRequiresRelease) {
  Array a(3);
  EXPECT_THROW(a.~Array(), assert_failed_exception);
  a.release(nullptr);
  EXPECT_EQ(a.block(), nullptr);
}

TEST(ArrayLifecycle, SharedBlockReleasesElementsOnlyAtTheLast) {
  String s("element");
  Variant v;
  v.dimension(nullptr, 2, 0);
  v.array.write(nullptr, 1)->set_string(s);
  EXPECT_EQ(s.buffer()->count.load(), 2u);
  Variant w(v);
  v.release(nullptr);
  EXPECT_EQ(s.buffer()->count.load(), 2u);
  w.release(nullptr);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Copy on write
// ---------------------------------------------------------------------------------------------

TEST(ArrayCopyOnWrite, CopiesOncePerWriteAfterAShare) {
  Variant a;
  make_numbered(&a, 3, 0);
  const array_block_st* original = a.array.block();
  Variant b(a);
  EXPECT_EQ(b.array.block(), original);
  EXPECT_EQ(original->refcount, 2u);

  b.array.write(nullptr, 1)->set_integer(100);
  const array_block_st* copied = b.array.block();
  EXPECT_NE(copied, original);
  EXPECT_EQ(original->refcount, 1u);
  EXPECT_EQ(copied->refcount, 1u);
  EXPECT_EQ(contents(a), (std::vector<long>{1, 2, 3}));
  EXPECT_EQ(contents(b), (std::vector<long>{100, 2, 3}));

  b.array.write(nullptr, 2)->set_integer(200);  // private now: no second copy
  EXPECT_EQ(b.array.block(), copied);

  // A new share means one new copy on the next write, and again only one.
  Variant c(b);
  c.array.write(nullptr, 3)->set_integer(300);
  EXPECT_NE(c.array.block(), copied);
  const array_block_st* third = c.array.block();
  c.array.write(nullptr, 1)->set_integer(0);
  EXPECT_EQ(c.array.block(), third);
  EXPECT_EQ(contents(b), (std::vector<long>{100, 200, 3}));
}

TEST(ArrayCopyOnWrite, CopiedElementsGainAReference) {
  String s("shared");
  Variant a;
  a.dimension(nullptr, 2, 0);
  a.array.write(nullptr, 1)->set_string(s);
  Variant inner;
  inner.dimension(nullptr, 1, 0);
  a.array.write(nullptr, 2)->set_variant(&inner);
  const array_block_st* inner_block = inner.array.block();
  Variant b(a);
  b.array.shm_cow_on_demand(nullptr);
  EXPECT_EQ(s.buffer()->count.load(), 3u);
  EXPECT_EQ(b.array.read(2)->array.block(), inner_block);  // nested arrays keep sharing
  EXPECT_EQ(inner_block->refcount, 3u);
}

TEST(ArrayCopyOnWrite, InvalidWriteOnASharedArrayStillCopies) {
  Variant a;
  make_numbered(&a, 2, 0);
  Variant b(a);
  EXPECT_EQ(error_code([&] { b.array.write(nullptr, 0); }), 1234);
  EXPECT_NE(b.array.block(), a.array.block());
  EXPECT_EQ(b.array.block()->refcount, 1u);
  EXPECT_EQ(error_code([&] { b.array.write(nullptr, 3); }), 1234);
}

// ---------------------------------------------------------------------------------------------
// Writing by row and column
// ---------------------------------------------------------------------------------------------

TEST(ArrayWrite, ByRowAndColumn) {
  Variant v;
  make_numbered(&v, 3, 3);
  Array& a = v.array;
  a.write(nullptr, 2, 3)->set_integer(60);
  EXPECT_EQ(a.read(6)->integer.value, 60);
  a.write(nullptr, 4, 0)->set_integer(40);  // col 0: element row
  EXPECT_EQ(a.read(4)->integer.value, 40);
  EXPECT_EQ(error_code([&] { a.write(nullptr, 0, 1); }), 11);
  EXPECT_EQ(error_code([&] { a.write(nullptr, 4, 1); }), 1234);
  Variant one;
  make_numbered(&one, 4, 0);
  one.array.write(nullptr, 2, 2)->set_integer(33);  // one-dimensional: row + col - 1
  EXPECT_EQ(one.array.read(3)->integer.value, 33);
}

// Fault mended: a column beyond the columns no longer lands in a later row. a[2,5] of a 3 x 3
// array was element 8 (a[3,2]); it raises 1234, as AELEMENT does for the same subscripts.
TEST(ArrayWrite, ColumnBeyondTheColumnsIsOutOfRange) {
  Variant v;
  make_numbered(&v, 3, 3);
  Array& a = v.array;
  EXPECT_EQ(error_code([&] { a.write(nullptr, 2, 5); }), 1234);
  EXPECT_EQ(error_code([&] { a.element_number(2, 5); }), 1234);
  EXPECT_EQ(a.read(8)->integer.value, 8);  // a[3,2] untouched
  EXPECT_EQ(error_code([&] { a.write(nullptr, 2, 4); }), 1234);
  EXPECT_EQ(error_code([&] { a.write(nullptr, SIZE_MAX, 3); }), 1234);
}

TEST(ArrayWrite, WriteReleasesTheOldElementWithTheStack) {
  String s("old");
  Variant v;
  v.dimension(nullptr, 1, 0);
  v.array.write(nullptr, 1)->set_string(s);
  Variant* e = v.array.write(nullptr, 1);
  EXPECT_EQ(e->tag, VT_FALSE);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Dimensioning
// ---------------------------------------------------------------------------------------------

struct CarryCase {
  const char* name;
  size_t old_rows, old_cols, new_rows, new_cols;
  std::vector<long> expected;
};

TEST(ArrayDimension, CarryOverTable) {
  const CarryCase cases[] = {
      {"1-D 5 to 5x2", 5, 0, 5, 2, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0}},
      {"3x2 to 2x3", 3, 2, 2, 3, {1, 2, 0, 3, 4, 0}},
      {"3x2 to 1-D 6", 3, 2, 6, 0, {1, 3, 5, 0, 0, 0}},
      {"1-D 4 shrink to 2", 4, 0, 2, 0, {1, 2}},
      {"1-D 2 grow to 4", 2, 0, 4, 0, {1, 2, 0, 0}},
      {"2x2 grow to 3x3", 2, 2, 3, 3, {1, 2, 0, 3, 4, 0, 0, 0, 0}},
      {"3x3 shrink to 2x2", 3, 3, 2, 2, {1, 2, 4, 5}},
      {"2x3 to 3x1", 2, 3, 3, 1, {1, 4, 0}},
      {"1-D 3 to 0", 3, 0, 0, 0, {}},
  };
  for (const auto& c : cases) {
    Variant v;
    make_numbered(&v, c.old_rows, c.old_cols);
    Array* a = v.dimension(nullptr, c.new_rows, c.new_cols);
    EXPECT_EQ(a, &v.array) << c.name;
    EXPECT_EQ(a->columns(), c.new_cols) << c.name;
    EXPECT_EQ(a->block()->refcount, 1u) << c.name;
    EXPECT_EQ(contents(v), c.expected) << c.name;
  }
}

// Blocks of 16 MiB or more take their storage another way than smaller ones (straight from the
// system): every element still starts empty, a shared one is copied on write, and re-sizing
// across that size carries the elements over and gives their references back.
TEST(ArrayDimension, BlocksAcrossTheLargeStorageSize) {
  const size_t large = (size_t{16} << 20) / sizeof(Variant) + 1;
  String s("kept");
  Variant a;
  a.dimension(nullptr, large, 0);
  size_t empty = 0;
  for (size_t i = 1; i <= large; ++i) empty += a.array.read(i)->tag == VT_FALSE;
  EXPECT_EQ(empty, large);
  a.array.write(nullptr, 1)->set_string(s);
  a.array.write(nullptr, large)->set_string(s);
  Variant b(a);
  b.array.write(nullptr, large)->set_integer(7);  // copies the whole block
  EXPECT_NE(b.array.block(), a.array.block());
  EXPECT_EQ(s.buffer()->count.load(), 4u);
  EXPECT_EQ(b.array.read(large)->integer.value, 7);
  EXPECT_EQ(a.array.read(large)->string.buffer(), s.buffer());
  b.dimension(nullptr, 2, 0);  // to a small block: the first element stays
  EXPECT_EQ(s.buffer()->count.load(), 4u);
  EXPECT_EQ(b.array.read(1)->string.buffer(), s.buffer());
  b.dimension(nullptr, 2 * large, 0);  // and back to a large one
  EXPECT_EQ(b.array.read(1)->string.buffer(), s.buffer());
  EXPECT_EQ(b.array.read(2 * large)->tag, VT_FALSE);
  b.release(nullptr);
  a.release(nullptr);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
}

// The element a store may go to directly: only in an unshared block, within range, over a plain
// value; otherwise the full write (copy on write, release of the old element) must run.
TEST(ArrayWrite, PlainItemForWriteOnlyWhereTheFullWriteWouldDoNothingMore) {
  String s("text");
  Variant a;
  make_numbered(&a, 3, 0);
  a.array.write(nullptr, 2)->set_string(s);
  EXPECT_EQ(array_plain_item_for_write(a.array, 1), a.array.read(1));
  EXPECT_EQ(array_plain_item_for_write(a.array, 3), a.array.read(3));
  EXPECT_EQ(array_plain_item_for_write(a.array, 2), nullptr);  // owns a string
  for (size_t n : {size_t{0}, size_t{4}, SIZE_MAX}) EXPECT_EQ(array_plain_item_for_write(a.array, n), nullptr) << n;
  Variant b(a);
  EXPECT_EQ(array_plain_item_for_write(a.array, 1), nullptr);  // shared
  b.release(nullptr);
  EXPECT_NE(array_plain_item_for_write(a.array, 1), nullptr);
  Variant empty;
  empty.dimension(nullptr, 0, 0);
  EXPECT_EQ(array_plain_item_for_write(empty.array, 1), nullptr);
}

TEST(ArrayDimension, SharedOldArrayKeepsItsElements) {
  Variant a;
  make_numbered(&a, 3, 0);
  Variant b(a);
  b.dimension(nullptr, 2, 0);
  EXPECT_EQ(contents(a), (std::vector<long>{1, 2, 3}));
  EXPECT_EQ(contents(b), (std::vector<long>{1, 2}));
  EXPECT_EQ(a.array.block()->refcount, 1u);
}

TEST(ArrayDimension, ToZeroRowsReleasesTheOldElements) {
  String s("gone");
  Variant v;
  v.dimension(nullptr, 2, 0);
  v.array.write(nullptr, 2)->set_string(s);
  v.dimension(nullptr, 0, 0);
  EXPECT_EQ(v.tag, VT_ARRAY);
  EXPECT_EQ(v.array.count(), 0u);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
}

TEST(ArrayDimension, AStringBecomesAnArrayOfEmptyElements) {
  String s("text");
  Variant v;
  v.set_string(s);
  v.dimension(nullptr, 3, 0);
  EXPECT_EQ(v.tag, VT_ARRAY);
  EXPECT_EQ(contents(v), (std::vector<long>{0, 0, 0}));
  EXPECT_EQ(v.array.read(1)->tag, VT_FALSE);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
}

TEST(ArrayDimension, ThroughAReference) {
  Variant target;
  target.set_integer(1);
  Variant r;
  target.ref(nullptr, &r, nullptr);
  Array* a = r.dimension(nullptr, 2, 2);
  EXPECT_EQ(a, &target.array);
  EXPECT_EQ(r.tag, VT_REFERENCE);
  EXPECT_EQ(target.array.count(), 4u);
}

// Fault mended: a huge DIMENSION raises 230 instead of overflowing rows x cols or letting
// std::bad_alloc escape; the value is unchanged.
TEST(ArrayDimension, HugeDimensionRaises230) {
  Variant v;
  make_numbered(&v, 3, 0);
  const array_block_st* block = v.array.block();
  const size_t huge = size_t{1} << 33;
  EXPECT_EQ(error_code([&] { v.dimension(nullptr, huge, huge); }), 230);     // rows x cols wraps
  EXPECT_EQ(error_code([&] { v.dimension(nullptr, SIZE_MAX, 0); }), 230);    // bytes wrap
  EXPECT_EQ(error_code([&] { v.dimension(nullptr, size_t{1} << 40, 0); }), 230);  // 40 TiB
  EXPECT_EQ(error_code([&] { v.dimension(nullptr, array_max_elements() + 1, 0); }), 230);
  EXPECT_EQ(v.array.block(), block);
  EXPECT_EQ(contents(v), (std::vector<long>{1, 2, 3}));
  EXPECT_EQ(error_code([&] { Array a(huge, huge); }), 230);
  EXPECT_EQ(error_code([&] { Array a(SIZE_MAX); }), 230);
}

// The allocator itself refusing: with the address space limited to 2 GiB, 100 million elements
// (4 GB) cannot be had. Sanitizers abort on a failed allocation instead of failing it, so this
// runs only in builds without them (the Release build).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

// Runs in the death test's child: exits 0 when the DIMENSION raised 230 and left the value.
[[noreturn]] void dimension_with_limited_address_space() {
  struct rlimit limit = {size_t{2} << 30, size_t{2} << 30};
  setrlimit(RLIMIT_AS, &limit);
  Variant v;
  v.set_integer(5);
  int code = error_code([&] { v.dimension(nullptr, 100000000, 0); });
  std::exit(code == 230 && v.tag == VT_INTEGER ? 0 : 1);
}

TEST(ArrayDimensionDeathTest, AllocationFailureRaises230) {
  if (sanitized) GTEST_SKIP() << "sanitizers abort on a failed allocation";
  EXPECT_EXIT(dimension_with_limited_address_space(), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------------------------
// Storing into every element
// ---------------------------------------------------------------------------------------------

TEST(ArrayStore, NumberIntoEveryElement) {
  Variant v;
  make_numbered(&v, 3, 0);
  Variant seven;
  seven.set_integer(7);
  v.store_recursive(nullptr, &seven);
  EXPECT_EQ(contents(v), (std::vector<long>{7, 7, 7}));
}

TEST(ArrayStore, ArrayValueIsSharedNotDuplicated) {
  Variant v;
  v.dimension(nullptr, 2, 0);
  Variant inner;
  inner.dimension(nullptr, 1, 0);
  v.store_recursive(nullptr, &inner);
  EXPECT_EQ(v.array.read(1)->array.block(), inner.array.block());
  EXPECT_EQ(inner.array.block()->refcount, 3u);
}

TEST(ArrayStore, ThroughAReferenceAndIntoAPlainVariable) {
  String s("old");
  Variant target;
  target.set_string(s);
  Variant r;
  target.ref(nullptr, &r, nullptr);
  Variant five;
  five.set_integer(5);
  r.store_recursive(nullptr, &five);
  EXPECT_EQ(target.tag, VT_INTEGER);
  EXPECT_EQ(target.integer.value, 5);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
  EXPECT_EQ(r.tag, VT_REFERENCE);
  // Storing a reference stores its value.
  Variant plain;
  plain.store_recursive(nullptr, &r);
  EXPECT_EQ(plain.tag, VT_INTEGER);
}

TEST(ArrayStore, StoringAnArrayIntoItself) {
  Variant v;
  make_numbered(&v, 2, 0);
  v.store_recursive(nullptr, &v);
  ASSERT_EQ(v.tag, VT_ARRAY);
  EXPECT_EQ(v.array.read(1)->tag, VT_ARRAY);
  EXPECT_EQ(contents(*v.array.read(1)), (std::vector<long>{1, 2}));
}

// ---------------------------------------------------------------------------------------------
// Objects in arrays: releases run DESTROY on the given stack
// ---------------------------------------------------------------------------------------------

class ArrayObjects : public FakeObjectTest {};

TEST_F(ArrayObjects, ElementReleasesUseTheStack) {
  VmStack* seen = nullptr;
  auto* obj = new FakeObject(&log, "element");
  obj->destroy_member = [&](FakeObject*, VmStack* s) { seen = s; };
  Variant v;
  v.dimension(&stack, 2, 0);
  v.array.write(&stack, 1)->set_new_object(obj);
  v.dimension(&stack, 0, 0);
  EXPECT_EQ(seen, &stack);
  EXPECT_EQ(log.count("delete element"), 1u);
}

TEST_F(ArrayObjects, AThrowingDestroyStillReleasesTheOtherElements) {
  String s("survivor");
  auto* bad = new FakeObject(&log, "bad");
  bad->destroy_member = [](FakeObject*, VmStack*) { throw RuntimeError(1098, String("x")); };
  Variant v;
  v.dimension(&stack, 3, 0);
  v.array.write(&stack, 1)->set_new_object(bad);
  object_control_st* c = bad->control;
  c->refs.fetch_add(1);
  v.array.write(&stack, 2)->set_string(s);
  EXPECT_EQ(error_code([&] { v.release(&stack); }), 1098);
  EXPECT_EQ(v.tag, VT_FALSE);
  EXPECT_EQ(s.buffer()->count.load(), 1u);  // released all the same
  EXPECT_EQ(c->destroyed.load(), 1);
  bad->control = nullptr;
  delete bad;
  object_ptr_base::release_control(c);
}

TEST_F(ArrayObjects, DimensionKeepsTheNewArrayWhenReleasingTheOldThrows) {
  auto* bad = new FakeObject(&log, "old");
  bad->destroy_member = [](FakeObject*, VmStack*) { throw RuntimeError(1098, String("x")); };
  Variant v;
  v.set_new_object(bad);
  object_control_st* c = bad->control;
  c->refs.fetch_add(1);
  EXPECT_EQ(error_code([&] { v.dimension(&stack, 2, 0); }), 1098);
  EXPECT_EQ(v.tag, VT_ARRAY);
  EXPECT_EQ(v.array.count(), 2u);
  bad->control = nullptr;
  delete bad;
  object_ptr_base::release_control(c);
}

// A chain of arrays and objects, each holding the next, far deeper than the native stack would
// take if each level released the next one recursively.
TEST_F(ArrayObjects, ValuesNestedBeyondTheNativeStackAreReleased) {
  constexpr int kLevels = 200000;
  Variant chain;
  for (int i = 0; i < kLevels; ++i) {
    Variant next;
    if (i % 2 == 0) {
      next.dimension(&stack, 1, 0);
      *next.array.write(&stack, 1) = std::move(chain);
    } else {
      auto* held = new Variant(std::move(chain));
      auto* obj = new FakeObject(&log, "link");
      obj->on_destroy = [held](FakeObject*, VmStack* s) {
        std::unique_ptr<Variant> owned(held);
        owned->release(s);
      };
      next.set_new_object(obj);
    }
    chain = std::move(next);
  }
  chain.release(&stack);
  EXPECT_EQ(chain.tag, VT_FALSE);
  EXPECT_EQ(log.count("delete link"), static_cast<size_t>(kLevels / 2));
  EXPECT_FALSE(release_nesting_exceeded());
}

}  // namespace
