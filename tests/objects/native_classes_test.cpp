// The simple native classes: Custom, Empty, Exception, File, Session and Operand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/exception_object.h"
#include "objects_support.h"
#include "tables/data_session.h"
#include "vm/execute.h"
#include "vm/program.h"

namespace qzbase {
namespace {

using namespace testing_objects;

std::string read_text(RuntimeFixture& f, Object* obj, const char* name) {
  Variant r = read(f.stack, obj, f.sym(name));
  std::string s = show(r);
  r.release(f.stack);
  return s;
}

size_t member_count(Object* obj) {
  size_t n = 0;
  obj->virtual_enum_properties([](void* ctx, Object*, symbol_id_type, const ClassMember&) {
    ++*static_cast<size_t*>(ctx);
    return 0;
  }, &n);
  return n;
}

TEST(Custom, EveryMemberRowReadAndWritten) {
  RuntimeFixture f;
  ObjectPointer p = CreateObject(f.stack, String("Custom"), nullptr, 0);
  Object* obj = p.get();
  struct Row {
    const char* name;
    const char* initial;          // the value read first, or the error "code:detail"
    Variant written;              // assigned next (empty: no assignment tried)
    const char* after;            // then read back, or the error of the assignment
  };
  std::vector<Row> rows;
  auto add = [&](const char* name, const char* initial, Variant written, const char* after) {
    rows.push_back({name, initial, std::move(written), after});
  };
  add("BaseClass", "Custom", text("x"), "1734:BASECLASS");
  add("Class", "Custom", text("x"), "1734:CLASS");
  add("ClassLibrary", "1001:", text("x"), "1734:CLASSLIBRARY");
  add("Comment", "", text("note"), "note");
  add("ControlCount", "1001:ControlCount", integer(1), "1734:CONTROLCOUNT");
  add("Controls", "1001:Controls", integer(1), "1734:CONTROLS");
  add("Height", "0", integer(12), "12");
  add("HelpContextID", "0", integer(7), "7");
  add("Left", "0", integer(-3), "-3");
  add("Name", "Custom", text("renamed"), "renamed");
  add("Objects", "1001:Objects", integer(1), "1734:OBJECTS");
  add("Parent", "1001:Parent", integer(1), "1734:PARENT");
  add("ParentClass", "1001:ParentClass", integer(1), "1734:PARENTCLASS");
  add("Picture", "1001:Picture", integer(1), "1734:PICTURE");
  add("Tag", "", text("t"), "t");
  add("Top", "0", integer(4), "4");
  add("WhatsThisHelpID", "0", integer(8), "8");
  add("Width", "0", integer(9), "9");
  auto outcome = [&](auto fn) -> std::string {
    std::string value;
    auto e = error_of([&] { value = fn(); });
    return e.first != 0 ? std::to_string(e.first) + ":" + e.second : value;
  };
  for (Row& row : rows) {
    EXPECT_EQ(outcome([&] { return read_text(f, obj, row.name); }), row.initial) << row.name;
    std::string after = outcome([&] {
      assign(f.stack, obj, f.sym(row.name), row.written);
      return read_text(f, obj, row.name);
    });
    EXPECT_EQ(after, row.after) << row.name;
    row.written.release(f.stack);
  }
  EXPECT_EQ(rows.size(), 18u);

  // Conversions of assigned values.
  Variant numeric;
  numeric.set(numeric_type_st{12.7, 1});
  assign(f.stack, obj, f.sym("Height"), numeric);
  EXPECT_EQ(read_text(f, obj, "Height"), "12");
  EXPECT_EQ(error_of([&] { assign(f.stack, obj, f.sym("Height"), text("abc")); }).first, 107);
  EXPECT_EQ(error_of([&] { assign(f.stack, obj, f.sym("Tag"), integer(5)); }).first, 11);
  EXPECT_EQ(read_text(f, obj, "Height"), "12");
  p.release(f.stack);
}

TEST(NativeClasses, EmptyFileSessionAndException) {
  RuntimeFixture f;
  ObjectPointer empty = CreateObject(f.stack, String("empty"), nullptr, 0);
  EXPECT_EQ(member_count(empty.get()), 0u);
  Variant v = integer(4);
  empty->addproperty(f.stack, String("added"), &v);
  EXPECT_EQ(read_text(f, empty.get(), "ADDED"), "4");
  empty.release(f.stack);

  EXPECT_EQ(error_of([&] { ObjectPointer p = CreateObject(f.stack, String("File"), nullptr, 0); }),
            std::make_pair(9005, std::string("File")));

  ObjectPointer session = CreateObject(f.stack, String("Session"), nullptr, 0);
  int32_t id = static_cast<DataSession_Object*>(session.get())->session_id;
  EXPECT_GT(id, 1);
  EXPECT_EQ(read_text(f, session.get(), "DataSessionId"), std::to_string(id));
  session.release(f.stack);

  ObjectPointer e = CreateObject(f.stack, String("Exception"), nullptr, 0);
  auto* x = static_cast<Exception_Object*>(e.get());
  EXPECT_EQ(read_text(f, x, "ErrorNo"), "0");
  EXPECT_EQ(read_text(f, x, "Message"), "");
  EXPECT_EQ(read_text(f, x, "UserValue"), ".F.");
  x->set_error(12, String("msg"), String("det"));
  x->set_user_value(text("thrown"));
  EXPECT_EQ(read_text(f, x, "errorno"), "12");
  EXPECT_EQ(read_text(f, x, "MESSAGE"), "msg");
  EXPECT_EQ(read_text(f, x, "Detail"), "det");
  EXPECT_EQ(read_text(f, x, "UserValue"), "thrown");
  for (const char* name : {"ErrorNo", "Message", "Detail", "UserValue"}) {
    EXPECT_EQ(error_of([&] { assign(f.stack, x, f.sym(name), integer(1)); }).first, 1734) << name;
  }
  e.release(f.stack);
}

TEST(Operand, CompilesOnAssignmentAndEvaluatesOnTheCallersFrame) {
  RuntimeFixture f;
  ObjectPointer p = CreateObject(f.stack, String("Operand"), nullptr, 0);
  Object* obj = p.get();
  symbol_id_type expression = f.sym("Expression"), evaluate = f.sym("evaluate");
  auto eval = [&]() {
    Variant r;
    obj->virtual_call(f.stack, evaluate, 0, &r);
    std::string s = show(r);
    r.release(f.stack);
    return s;
  };
  // Nothing compiled yet.
  EXPECT_EQ(error_of(eval).first, 11);
  EXPECT_EQ(read_text(f, obj, "Expression"), "");
  assign(f.stack, obj, expression, text("1+2"));
  EXPECT_EQ(eval(), "3");
  EXPECT_EQ(read_text(f, obj, "expression"), "1+2");

  // A variable of the caller, seen as it is at each evaluation.
  symbol_id_type counter = f.sym("counter");
  Memvar* m = nullptr;
  f.stack->alloc_undefined_memvar(counter, &m);
  m->value.set(integer_type_st{5});
  assign(f.stack, obj, expression, text("counter * 2"));
  EXPECT_EQ(eval(), "10");
  f.stack->alloc_undefined_memvar(counter, &m);
  m->value.release(f.stack);
  m->value.set(integer_type_st{21});
  EXPECT_EQ(eval(), "42");

  // A text that does not compile is kept; the old program is gone.
  EXPECT_NE(error_of([&] { assign(f.stack, obj, expression, text("1 +* 2")); }).first, 0);
  EXPECT_EQ(read_text(f, obj, "Expression"), "1 +* 2");
  EXPECT_EQ(error_of(eval).first, 11);
  // Only character data is an expression.
  EXPECT_EQ(error_of([&] { assign(f.stack, obj, expression, integer(3)); }).first, 11);
  p.release(f.stack);
}

}  // namespace
}  // namespace qzbase
