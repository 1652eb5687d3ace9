// Variant: copy and release per tag, objects with their control blocks, references,
// type letters, EMPTY(), and the counts under two threads.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "fake_object.h"
#include "objects/object.h"
#include "values/variant.h"
#include "vm/vm_stack.h"
#include "runtime_errors.h"

using namespace qzbase;
using qzbase::testing_fakes::FakeObject;
using qzbase::testing_fakes::FakeObjectTest;

namespace {

size_t buffer_count(const String& s) { return s.buffer()->count.load(); }

std::string text(const String& s) { return std::string(s.read(), s.size()); }

std::string letter(const Variant& v) { return text(v.vartype()); }

using testing_errors::error_code;

// ---------------------------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------------------------

TEST(VariantLayout, FitsAStackSlotWithItsFlag) {
  struct Slot {
    Variant value;
    uint8_t flag;
  };
  EXPECT_EQ(sizeof(Variant), 40u);
  EXPECT_LE(sizeof(Slot), 64u);
  Variant v;
  EXPECT_EQ(v.tag, VT_FALSE);
  EXPECT_TRUE(v.empty());
}

TEST(VariantLayout, MemberTablesHaveEntriesOnlyForTheirTags) {
  for (int t = 0; t < 16; ++t) {
    bool heap = t >= 10 && t <= 13;
    EXPECT_EQ(Variant::release_functions[t] != nullptr, heap) << t;
    EXPECT_EQ(Variant::acquire_functions[t] != nullptr, heap) << t;
    bool valued = t <= 7 || heap;
    EXPECT_EQ(Variant::val_functions[t] != nullptr, valued) << t;
  }
}

// ---------------------------------------------------------------------------------------------
// Copy and release of the plain tags
// ---------------------------------------------------------------------------------------------

struct PlainCase {
  const char* name;
  void (*make)(Variant*);
  const char* letter;
};

const PlainCase plain_cases[] = {
    {"false", [](Variant* v) { v->set_false(); }, "L"},
    {"null", [](Variant* v) { v->set_null(); }, "X"},
    {"true", [](Variant* v) { v->set_true(); }, "L"},
    {"integer", [](Variant* v) { v->set(integer_type_st{-42}); }, "N"},
    {"numeric", [](Variant* v) { v->set(numeric_type_st{2.5, 1}); }, "N"},
    {"money", [](Variant* v) { v->set(money_type_st{123456789}); }, "Y"},
    {"date", [](Variant* v) { v->set(date_st{2451545}); }, "D"},
    {"datetime", [](Variant* v) { v->set(datetime_st{2451545, 3600000}); }, "T"},
};

TEST(VariantPlainTags, CopyCopiesTagAndPayload) {
  for (const auto& c : plain_cases) {
    Variant v;
    c.make(&v);
    Variant w;
    v.copy(&w);
    EXPECT_EQ(w.tag, v.tag) << c.name;
    EXPECT_EQ(std::memcmp(w.raw_, v.raw_, sizeof(v.raw_)), 0) << c.name;
    EXPECT_EQ(letter(w), c.letter) << c.name;
    w.release(nullptr);
    EXPECT_EQ(w.tag, VT_FALSE) << c.name;
    v.release(nullptr);
  }
}

// The payload words of a plain value are data, never followed: pointers planted in them must
// not be touched by copy or release (ASan would report it; a wild address would crash).
TEST(VariantPlainTags, CopyAndReleaseTouchNothingBeyondTheVariant) {
  for (uint8_t t = 0; t <= 7; ++t) {
    Variant v;
    v.raw_[0] = 0xdead0000beefull;
    v.raw_[1] = 0x1;
    v.raw_[2] = 0xffffffffffffull;
    v.raw_[3] = 0x8;
    v.tag = t;
    Variant w;
    v.copy(&w);
    EXPECT_EQ(w.tag, t);
    EXPECT_EQ(w.raw_[0], v.raw_[0]);
    w.release(nullptr);
    v.release(nullptr);
    EXPECT_EQ(v.tag, VT_FALSE);
  }
}

TEST(VariantPlainTags, UnusedTagsAreBrokenInvariants) {
  for (uint8_t t : {8, 9, 14, 15, 200}) {
    Variant v;
    v.tag = t;
    Variant w;
    EXPECT_THROW(v.copy(&w), assert_failed_exception) << int(t);
    EXPECT_EQ(w.tag, VT_FALSE);
    EXPECT_THROW(v.release(nullptr), assert_failed_exception) << int(t);
    v.tag = t;
    EXPECT_THROW(v.vartype(), assert_failed_exception);
    v.tag = VT_FALSE;
  }
}

TEST(VariantPlainTags, ValFunctionsWriteTheValue) {
  for (const auto& c : plain_cases) {
    Variant v;
    c.make(&v);
    Variant w;
    (v.*Variant::val_functions[v.tag])(&w);
    EXPECT_EQ(w.tag, v.tag) << c.name;
    EXPECT_EQ(letter(w), c.letter);
  }
}

// ---------------------------------------------------------------------------------------------
// Strings and arrays
// ---------------------------------------------------------------------------------------------

TEST(VariantString, CopyAndReleaseCountTheBuffer) {
  String s("hello");
  ASSERT_EQ(buffer_count(s), 1u);
  Variant v;
  v.set_string(s);
  EXPECT_EQ(v.tag, VT_STRING);
  EXPECT_EQ(buffer_count(s), 2u);
  Variant w;
  v.copy(&w);
  EXPECT_EQ(buffer_count(s), 3u);
  Variant x;
  (v.*Variant::val_functions[VT_STRING])(&x);
  EXPECT_EQ(buffer_count(s), 4u);
  x.release(nullptr);
  w.release(nullptr);
  EXPECT_EQ(buffer_count(s), 2u);
  EXPECT_EQ(text(static_cast<String>(v)), "hello");
  v.release(nullptr);
  EXPECT_EQ(buffer_count(s), 1u);
  EXPECT_EQ(v.tag, VT_FALSE);
}

TEST(VariantString, LastReleaseFreesTheBuffer) {
  Variant v;
  v.set_string(String("only here"));  // the temporary's share is gone again
  EXPECT_EQ(buffer_count(v.string), 1u);
  v.release(nullptr);  // ASan reports a leak if the buffer stays
}

TEST(VariantString, BinaryStringsAreQ) {
  Variant c;
  c.set_string(String("abc"));
  EXPECT_EQ(letter(c), "C");
  Variant q;
  q.set_string(String::fromBytes("\x01\x02", 2, Charset::binary));
  EXPECT_EQ(letter(q), "Q");
}

TEST(VariantArray, CopyAndReleaseCountTheBlock) {
  Variant v;
  v.dimension(nullptr, 3, 0);
  const array_block_st* block = v.array.block();
  EXPECT_EQ(block->refcount, 1u);
  Variant w;
  v.copy(&w);
  EXPECT_EQ(w.array.block(), block);
  EXPECT_EQ(block->refcount, 2u);
  w.release(nullptr);
  EXPECT_EQ(block->refcount, 1u);
  EXPECT_EQ(letter(v), "A");
  v.release(nullptr);
  EXPECT_EQ(v.tag, VT_FALSE);
}

// ---------------------------------------------------------------------------------------------
// Setters
// ---------------------------------------------------------------------------------------------

TEST(VariantSetters, RequireAnEmptyVariant) {
  Variant v;
  v.set_true();
  EXPECT_THROW(v.set_true(), assert_failed_exception);
  EXPECT_THROW(v.set_false(), assert_failed_exception);
  EXPECT_THROW(v.set_null(), assert_failed_exception);
  EXPECT_THROW(v.set_bool(false), assert_failed_exception);
  EXPECT_THROW(v.set_integer(1), assert_failed_exception);
  EXPECT_THROW(v.set_float(1.0, 0), assert_failed_exception);
  EXPECT_THROW(v.set(money_type_st{1}), assert_failed_exception);
  EXPECT_THROW(v.set(date_st{1}), assert_failed_exception);
  EXPECT_THROW(v.set(datetime_st{1, 0}), assert_failed_exception);
  EXPECT_THROW(v.set_string(String("x")), assert_failed_exception);
  Variant src;
  src.set_integer(5);
  EXPECT_THROW(src.copy(&v), assert_failed_exception);
  EXPECT_EQ(v.tag, VT_TRUE);
  // A false value is empty and needs no release.
  Variant f;
  f.set_false();
  f.set_integer(7);
  EXPECT_EQ(f.integer.value, 7);
}

TEST(VariantSetters, IntegerWidths) {
  Variant a, b, c, d;
  a.set_integer(static_cast<short>(-3));
  EXPECT_EQ(a.integer.value, -3);
  b.set_integer(4294967295u);
  EXPECT_EQ(b.integer.value, 4294967295);
  unsigned long all = 18446744073709551615ul;
  c.set_integer(all);
  EXPECT_EQ(c.integer.value, -1);
  long l = -9;
  d.set_integer(l);
  EXPECT_EQ(d.tag, VT_INTEGER);
  EXPECT_EQ(d.integer.value, -9);
}

TEST(VariantSetters, AssignmentAndMoves) {
  String s("shared");
  Variant a;
  a.set_string(s);
  Variant b;
  b.set_integer(1);
  b = a;
  EXPECT_EQ(b.tag, VT_STRING);
  EXPECT_EQ(buffer_count(s), 3u);
  b = b;  // self-assignment keeps the value
  EXPECT_EQ(buffer_count(s), 3u);
  Variant c(std::move(b));
  EXPECT_EQ(b.tag, VT_FALSE);
  EXPECT_EQ(buffer_count(s), 3u);
  c = Variant();
  EXPECT_EQ(buffer_count(s), 2u);
}

// ---------------------------------------------------------------------------------------------
// Type letters and EMPTY()
// ---------------------------------------------------------------------------------------------

TEST(VariantVartype, Letters) {
  for (const auto& c : plain_cases) {
    Variant v;
    c.make(&v);
    EXPECT_EQ(letter(v), c.letter) << c.name;
  }
}

TEST(VariantVartype, ReferenceAnswersItsTargetsLetter) {
  Variant date;
  date.set(date_st{2451545});
  Variant r;
  date.ref(nullptr, &r, nullptr);
  EXPECT_EQ(r.tag, VT_REFERENCE);
  EXPECT_EQ(letter(r), "D");
  Variant i;
  i.set_integer(3);
  Variant ri;
  i.ref(nullptr, &ri, nullptr);
  EXPECT_EQ(letter(ri), "N");  // an integer is N, also through a reference
}

TEST(VariantIsEmpty, Table) {
  auto empty_of = [](auto make) {
    Variant v;
    make(&v);
    return v.is_empty();
  };
  EXPECT_TRUE(empty_of([](Variant* v) { v->set_false(); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set_null(); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set_true(); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set_integer(0); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set_integer(1); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set_float(1e-16, 2); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set_float(-4.440892098500626e-16, 2); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set_float(1e-15, 2); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set(money_type_st{0}); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set(money_type_st{1}); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set(date_st{0}); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set(date_st{1}); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set(datetime_st{0, 0}); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set(datetime_st{0, 1}); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set_string(String("")); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->set_string(String(" \t\r\n")); }));
  EXPECT_FALSE(empty_of([](Variant* v) { v->set_string(String("  x ")); }));
  EXPECT_TRUE(empty_of([](Variant* v) { v->dimension(nullptr, 0, 0); }));
  EXPECT_TRUE(empty_of([](Variant* v) {
    v->dimension(nullptr, 2, 0);
    v->array.write(nullptr, 1)->set_string(String(""));
    v->array.write(nullptr, 2)->set_integer(5);
  }));
  EXPECT_FALSE(empty_of([](Variant* v) {
    v->dimension(nullptr, 2, 0);
    v->array.write(nullptr, 1)->set_integer(5);
  }));
  Variant i;
  i.set_integer(0);
  Variant r;
  i.ref(nullptr, &r, nullptr);
  EXPECT_EQ(error_code([&] { r.is_empty(); }), 11);
  Variant eight;
  eight.tag = 8;
  EXPECT_EQ(error_code([&] { eight.is_empty(); }), 11);
  eight.tag = VT_FALSE;
}

// ---------------------------------------------------------------------------------------------
// References
// ---------------------------------------------------------------------------------------------

TEST(VariantReference, CopyYieldsTheReferencedValue) {
  String s("target");
  Variant target;
  target.set_string(s);
  Variant r;
  target.ref(nullptr, &r, nullptr);
  EXPECT_EQ(buffer_count(s), 2u);  // a reference holds no share of the value
  Variant copy;
  r.copy(&copy);
  EXPECT_EQ(copy.tag, VT_STRING);
  EXPECT_EQ(buffer_count(s), 3u);
  Variant val;
  (r.*Variant::val_functions[VT_REFERENCE])(&val);
  EXPECT_EQ(val.tag, VT_STRING);
  EXPECT_EQ(buffer_count(s), 4u);
  // A reference with no owner releases without touching any control block.
  r.release(nullptr);
  EXPECT_EQ(r.tag, VT_FALSE);
  EXPECT_EQ(buffer_count(s), 4u);
}

TEST(VariantReference, RefOfARefTakesItsTarget) {
  Variant target;
  target.set_integer(9);
  Variant r1, r2;
  target.ref(nullptr, &r1, nullptr);
  r1.ref(nullptr, &r2, nullptr);
  EXPECT_EQ(r2.reference.target, &target);
  EXPECT_THROW(target.ref(nullptr, &target, nullptr), assert_failed_exception);
}

TEST(VariantReference, RefReleasesTheDestinationFirst) {
  String s("old");
  Variant dst;
  dst.set_string(s);
  Variant target;
  target.set_integer(1);
  target.ref(nullptr, &dst, nullptr);
  EXPECT_EQ(dst.tag, VT_REFERENCE);
  EXPECT_EQ(buffer_count(s), 1u);
}

class VariantObjects : public FakeObjectTest {};

// Every tag in one table: the copy's tag, and the count that a copy raises and a release drops.
TEST_F(VariantObjects, CopyReleaseTableForEveryTag) {
  String s("text");
  auto* obj = new FakeObject(&log, "table");
  Variant object_value;
  object_value.set_new_object(obj);
  object_control_st* c = obj->control;
  Variant array_value;
  array_value.dimension(&stack, 2, 0);
  Variant string_target;
  string_target.set_string(s);

  struct Row {
    const char* name;
    std::function<void(Variant*)> make;
    uint8_t copy_tag;
    std::function<uint64_t()> count;  // the shared count a copy raises by 1, or null
  };
  const Row rows[] = {
      {"false", [](Variant* v) { v->set_false(); }, VT_FALSE, nullptr},
      {"null", [](Variant* v) { v->set_null(); }, VT_NULL, nullptr},
      {"true", [](Variant* v) { v->set_true(); }, VT_TRUE, nullptr},
      {"integer", [](Variant* v) { v->set_integer(1); }, VT_INTEGER, nullptr},
      {"numeric", [](Variant* v) { v->set_float(1.5, 1); }, VT_NUMERIC, nullptr},
      {"money", [](Variant* v) { v->set(money_type_st{10000}); }, VT_MONEY, nullptr},
      {"date", [](Variant* v) { v->set(date_st{1}); }, VT_DATE, nullptr},
      {"datetime", [](Variant* v) { v->set(datetime_st{1, 2}); }, VT_DATETIME, nullptr},
      {"string", [&](Variant* v) { v->set_string(s); }, VT_STRING,
       [&] { return uint64_t{s.buffer()->count.load()}; }},
      {"object", [&](Variant* v) { object_value.copy(v); }, VT_OBJECT,
       [&] { return c->strong.load() + c->refs.load() * 1000; }},
      {"array", [&](Variant* v) { array_value.copy(v); }, VT_ARRAY,
       [&] { return uint64_t{array_value.array.block()->refcount}; }},
      {"reference", [&](Variant* v) { string_target.ref(&stack, v, nullptr); }, VT_STRING,
       [&] { return uint64_t{s.buffer()->count.load()}; }},
  };
  for (const auto& row : rows) {
    Variant v;
    row.make(&v);
    uint64_t before = row.count ? row.count() : 0;
    Variant copy;
    v.copy(&copy);
    EXPECT_EQ(copy.tag, row.copy_tag) << row.name;
    if (row.count) {
      uint64_t step = std::string(row.name) == "object" ? 1001 : 1;
      EXPECT_EQ(row.count(), before + step) << row.name;
    }
    copy.release(&stack);
    EXPECT_EQ(copy.tag, VT_FALSE) << row.name;
    if (row.count) {
      EXPECT_EQ(row.count(), before) << row.name;
    }
    v.release(&stack);
    EXPECT_EQ(v.tag, VT_FALSE) << row.name;
  }
  object_value.release(&stack);
  EXPECT_EQ(log.count("delete table"), 1u);
}

TEST_F(VariantObjects, ReferencesWithOwnersHoldTheOwner) {
  auto* obj = new FakeObject(&log, "owner");
  Variant o;
  o.set_new_object(obj);
  object_control_st* c = obj->control;
  Variant property;  // stands for a property value of obj
  property.set_integer(5);
  Variant r;
  property.ref(&stack, &r, obj);
  EXPECT_EQ(c->strong.load(), 2u);
  EXPECT_EQ(c->refs.load(), 2u);
  Variant r2;
  r.ref(&stack, &r2, nullptr);  // a reference of a reference takes its owner too
  EXPECT_EQ(r2.reference.owner.control, c);
  EXPECT_EQ(c->strong.load(), 3u);
  Variant value;
  r.copy(&value);  // the copy is the value, not a reference: no owner share
  EXPECT_EQ(value.tag, VT_INTEGER);
  EXPECT_EQ(c->strong.load(), 3u);
  // The owner outlives the variable that held it while references exist.
  o.release(&stack);
  EXPECT_EQ(log.count("delete owner"), 0u);
  EXPECT_EQ(c->strong.load(), 2u);
  r2.release(&stack);
  r.release(&stack);
  EXPECT_EQ(log.count("delete owner"), 1u);
}

TEST_F(VariantObjects, OwnerWithoutControlBlockIsNoOwner) {
  FakeObject obj(&log, "unbound");
  Variant property;
  property.set_integer(1);
  Variant r;
  property.ref(&stack, &r, &obj);
  EXPECT_EQ(r.reference.owner.control, nullptr);
  r.release(&stack);
}

// ---------------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------------

TEST_F(VariantObjects, BindingCountsAndLetters) {
  auto* obj = new FakeObject(&log, "a");
  Variant v;
  v.set_new_object(obj);
  object_control_st* c = obj->control;
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->refs.load(), 1u);
  EXPECT_EQ(c->strong.load(), 1u);
  EXPECT_EQ(letter(v), "O");
  EXPECT_EQ(static_cast<Object*>(v), obj);
  Variant w;
  w.set(static_cast<Object*>(obj));
  Variant x;
  v.copy(&x);
  Variant y;
  y.set(v.object);
  EXPECT_EQ(c->strong.load(), 4u);
  EXPECT_EQ(c->refs.load(), 4u);
  Object* out = nullptr;
  y.val_object(&out);
  EXPECT_EQ(out, obj);
  // Broken invariants: binding an unbound object by set(Object*), a bound one by set_new_object.
  FakeObject unbound(&log, "unbound");
  Variant z;
  EXPECT_THROW(z.set(static_cast<Object*>(&unbound)), assert_failed_exception);
  EXPECT_THROW(z.set_new_object(obj), assert_failed_exception);
  x.release(&stack);
  y.release(&stack);
  w.release(&stack);
  EXPECT_EQ(log.count("delete a"), 0u);
  v.release(&stack);
  EXPECT_EQ(log.count("delete a"), 1u);
}

TEST_F(VariantObjects, NotAnObject) {
  Variant i;
  i.set_integer(1);
  EXPECT_EQ(error_code([&] { (void)static_cast<Object*>(i); }), 1924);
  Object* out = nullptr;
  EXPECT_EQ(error_code([&] { i.val_object(&out); }), 1924);
}

TEST_F(VariantObjects, LastReleaseRunsDestroyOnceThenDestroyDownTheChainThenDeletes) {
  auto* obj = new FakeObject(&log, "head");
  obj->chained = new FakeObject(&log, "middle");
  obj->chained->chained = new FakeObject(&log, "tail");
  obj->destroy_member = [](FakeObject*, VmStack*) {};
  Variant v;
  v.set_new_object(obj);
  Variant w;
  v.copy(&w);
  v.release(&stack);
  EXPECT_TRUE(log.events.empty());
  w.release(&stack);
  std::vector<std::string> expected = {"DESTROY head",   "destroy head",  "destroy middle",
                                       "destroy tail",   "delete head",   "delete middle",
                                       "delete tail"};
  EXPECT_EQ(log.events, expected);
}

TEST_F(VariantObjects, ReleaseWithoutStackSkipsDestroyMember) {
  auto* obj = new FakeObject(&log, "quiet");
  obj->destroy_member = [](FakeObject*, VmStack*) {};
  Variant v;
  v.set_new_object(obj);
  v.release(nullptr);
  std::vector<std::string> expected = {"destroy quiet", "delete quiet"};
  EXPECT_EQ(log.events, expected);
}

TEST_F(VariantObjects, TheObjectIsUsableDuringItsDestroy) {
  auto* obj = new FakeObject(&log, "busy");
  object_control_st* seen_control = nullptr;
  uint64_t strong_inside = 0;
  uint8_t destroying_inside = 0;
  obj->destroy_member = [&](FakeObject* self, VmStack*) {
    seen_control = self->control;
    strong_inside = self->control->strong.load();
    destroying_inside = self->control->destroying.load();
    Variant local;
    local.set(static_cast<Object*>(self));  // THIS taken into a LOCAL and released again
    EXPECT_EQ(letter(local), "O");
    local.release(nullptr);
  };
  Variant v;
  v.set_new_object(obj);
  v.release(&stack);
  EXPECT_NE(seen_control, nullptr);
  EXPECT_EQ(strong_inside, 1u);
  EXPECT_EQ(destroying_inside, 1);
  EXPECT_EQ(log.count("DESTROY busy"), 1u);
  EXPECT_EQ(log.count("delete busy"), 1u);
}

// Fault mended: a value taken on the object during its DESTROY (kept in a PUBLIC) outlives the
// object; it reads as an empty object reference and member access through it raises 1924
// instead of reading freed memory.
TEST_F(VariantObjects, ValueTakenDuringDestroyOutlivesTheObjectSafely) {
  Variant public_var;
  auto* obj = new FakeObject(&log, "escaping");
  obj->destroy_member = [&](FakeObject* self, VmStack*) {
    public_var.set(static_cast<Object*>(self));
  };
  Variant v;
  v.set_new_object(obj);
  object_control_st* c = obj->control;
  v.release(&stack);
  EXPECT_EQ(log.count("delete escaping"), 1u);
  ASSERT_EQ(public_var.tag, VT_OBJECT);
  EXPECT_EQ(public_var.object.control, c);  // the control block lives on
  EXPECT_EQ(c->strong.load(), 0u);
  EXPECT_EQ(c->refs.load(), 1u);
  EXPECT_TRUE(public_var.is_empty_object_reference());
  EXPECT_EQ(letter(public_var), "X");
  EXPECT_EQ(error_code([&] { (void)static_cast<Object*>(public_var); }), 1924);
  Object* out = nullptr;
  EXPECT_EQ(error_code([&] { public_var.val_object(&out); }), 1924);
  // Copies of it are empty references too; the dead object is never revived.
  Variant copy(public_var);
  EXPECT_EQ(c->strong.load(), 0u);
  EXPECT_EQ(c->refs.load(), 2u);
  EXPECT_EQ(letter(copy), "X");
  copy.release(&stack);
  public_var.release(&stack);  // frees the control block (ASan reports a leak otherwise)
  EXPECT_EQ(log.count("DESTROY escaping"), 1u);
}

TEST_F(VariantObjects, EmptyObjectReferenceWithoutControlBlock) {
  Variant v;
  v.tag = VT_OBJECT;  // tag 11, payload zero: no control block
  EXPECT_TRUE(v.is_empty_object_reference());
  EXPECT_EQ(letter(v), "X");
  EXPECT_FALSE(v.is_empty());
  EXPECT_EQ(error_code([&] { (void)static_cast<Object*>(v); }), 1924);
  Variant w;
  v.copy(&w);
  EXPECT_EQ(w.tag, VT_OBJECT);
  EXPECT_TRUE(w.is_empty_object_reference());
  Variant x;
  x.set(object_ptr_st{nullptr, nullptr});
  EXPECT_TRUE(x.is_empty_object_reference());
  x.release(&stack);
  w.release(&stack);
  v.release(&stack);
  EXPECT_EQ(v.tag, VT_FALSE);
}

TEST_F(VariantObjects, DestroyMemberThatThrowsLeavesTheFlags) {
  auto* obj = new FakeObject(&log, "failing");
  obj->destroy_member = [](FakeObject*, VmStack*) { throw RuntimeError(1098, String("no")); };
  Variant v;
  v.set_new_object(obj);
  object_control_st* c = obj->control;
  c->refs.fetch_add(1);  // the test keeps the control block to look at it afterwards
  EXPECT_EQ(error_code([&] { v.release(&stack); }), 1098);
  EXPECT_EQ(v.tag, VT_FALSE);  // the releasing Variant is empty all the same
  EXPECT_EQ(c->destroying.load(), 0);
  EXPECT_EQ(c->destroyed.load(), 1);
  EXPECT_EQ(c->strong.load(), 0u);  // nothing holds it any more
  EXPECT_EQ(log.count("delete failing"), 0u);  // not deleted
  EXPECT_EQ(log.count("destroy failing"), 0u);  // the chain's destroy did not run
  // Nothing can release it again: the test ends it by hand.
  obj->control = nullptr;
  delete obj;
  object_ptr_base::release_control(c);
}

TEST_F(VariantObjects, AfterAFailedDestroyTheLastHolderEndsTheObjectWithoutDestroyAgain) {
  Variant public_var;
  auto* obj = new FakeObject(&log, "retry");
  obj->destroy_member = [&](FakeObject* self, VmStack*) {
    public_var.set(static_cast<Object*>(self));
    throw RuntimeError(1098, String("fail"));
  };
  Variant v;
  v.set_new_object(obj);
  object_control_st* c = obj->control;
  EXPECT_EQ(error_code([&] { v.release(&stack); }), 1098);
  EXPECT_EQ(c->destroying.load(), 0);
  EXPECT_EQ(c->destroyed.load(), 1);
  EXPECT_EQ(c->strong.load(), 1u);  // the PUBLIC's
  EXPECT_EQ(letter(public_var), "O");
  public_var.release(&stack);
  EXPECT_EQ(log.count("DESTROY retry"), 1u);  // not run again
  EXPECT_EQ(log.count("destroy retry"), 1u);
  EXPECT_EQ(log.count("delete retry"), 1u);
}

TEST_F(VariantObjects, DestroyThatThrowsSetsTheFlagsToo) {
  auto* obj = new FakeObject(&log, "d");
  obj->on_destroy = [](FakeObject*, VmStack*) { throw RuntimeQuit(); };
  Variant v;
  v.set_new_object(obj);
  Variant keep(v);
  object_control_st* c = obj->control;
  c->refs.fetch_add(1);  // kept to look at it afterwards
  keep.release(&stack);
  EXPECT_THROW(v.release(&stack), RuntimeQuit);
  EXPECT_EQ(c->destroying.load(), 0);
  EXPECT_EQ(c->destroyed.load(), 1);
  obj->on_destroy = nullptr;
  obj->control = nullptr;
  delete obj;
  object_ptr_base::release_control(c);
}

// ---------------------------------------------------------------------------------------------
// Concurrency
// ---------------------------------------------------------------------------------------------

TEST_F(VariantObjects, TwoThreadsCopyAndReleaseSharedValuesCountsStayExact) {
  Variant str;
  str.set_string(String("shared between threads"));
  const string_buffer_st* buffer = str.string.buffer();
  auto* obj = new FakeObject(&log, "shared");
  Variant o;
  o.set_new_object(obj);
  object_control_st* c = obj->control;

  constexpr int rounds = 1000000;
  auto work = [&] {
    Variant held[4];
    for (int i = 0; i < rounds; ++i) {
      Variant& h = held[i & 3];
      h.release(nullptr);
      str.copy(&h);
      Variant ob;
      o.copy(&ob);
      Variant ob2(ob);
      ob.release(nullptr);
      ob2.release(nullptr);
    }
    for (auto& h : held) h.release(nullptr);
  };
  std::thread t1(work);
  std::thread t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(buffer->count.load(), 1u);
  EXPECT_EQ(c->strong.load(), 1u);
  EXPECT_EQ(c->refs.load(), 1u);
  EXPECT_EQ(log.count("delete shared"), 0u);
  o.release(&stack);
  EXPECT_EQ(log.count("delete shared"), 1u);
}

// ---------------------------------------------------------------------------------------------
// Conversions used by the exported interface
// ---------------------------------------------------------------------------------------------

TEST(VariantConversions, IntegerAndString) {
  Variant i;
  i.set_integer(static_cast<long>(0x100000005));
  EXPECT_EQ(static_cast<int>(i), 5);
  EXPECT_EQ(static_cast<long>(i), 0x100000005);
  Variant n;
  n.set_float(-2.9, free_decimals);
  EXPECT_EQ(static_cast<long>(n), -2);
  Variant y;
  y.set(money_type_st{-25000});
  EXPECT_EQ(static_cast<long>(y), -2);
  Variant s;
  s.set_string(String("x"));
  EXPECT_EQ(error_code([&] { (void)static_cast<long>(s); }), 107);
  EXPECT_EQ(text(static_cast<String>(s)), "x");
  EXPECT_EQ(error_code([&] { (void)static_cast<String>(i); }), 107);
}

}  // namespace
