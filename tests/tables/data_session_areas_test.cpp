// Work areas, aliases and open files of a data session, CREATE TABLE through the session, and the
// session registry of a stack when a session ends on another thread.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture_screen.h"
#include "table_double.h"
#include "tables/data_session.h"
#include "tables/table_dbf.h"
#include "compiler/build_input.h"
#include "vm/interpreter.h"

namespace qzbase {
namespace {

using testing_tables::MemRecord;
using testing_tables::MemTable;

class SessionAreas : public ::testing::Test {
 protected:
  SessionAreas() : runtime(CreateRuntime(&screen)) {
    GetMainStack(runtime, &stack);
    ds = stack->current_data_session;
  }
  ~SessionAreas() override {
    ds->close_all();
    ReleaseRuntime(runtime);
  }

  // A new table object of that file name, not yet in an area.
  ObjectPointer table(const std::string& file, MemTable** out = nullptr) {
    auto* t = new MemTable(stack, {{"a", 1}, {"b", 2}}, file);
    if (out != nullptr) *out = t;
    return ObjectPointer(t);
  }
  void open(const std::string& file, const char* alias, int32_t area, bool again = false) {
    ds->assign(table(file), stack->symtable, String(alias), area, again);
  }
  int error_of(const std::function<void()>& f, std::string* detail = nullptr) {
    try {
      f();
    } catch (const RuntimeError& e) {
      if (detail != nullptr) *detail = e.detail.u8str();
      return e.code;
    }
    return 0;
  }

  testing_screen::CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack = nullptr;
  DataSession_Object* ds = nullptr;
};

TEST_F(SessionAreas, ANewSessionStartsFromTheFixedSettings) {
  // Whatever the runtime's own formats, a session starts from the same values.
  ObjectPointer p = CreateObject(stack, String("Session"), nullptr, 0);
  const SessionSettings& s = static_cast<DataSession_Object*>(p.get())->settings;
  EXPECT_STREQ(s.decimal_point, ".");
  EXPECT_EQ(s.decimal_point_code, U'.');
  EXPECT_TRUE(s.point_is_ascii);
  EXPECT_EQ(s.separator, U',');
  EXPECT_EQ(s.decimals, 2u);
  EXPECT_EQ(s.date_format, 0u);
  EXPECT_STREQ(s.mark, "/");
  EXPECT_FALSE(s.century);
  EXPECT_EQ(s.hours, 12u);
  EXPECT_TRUE(s.seconds);
  EXPECT_FALSE(s.exact);
  EXPECT_FALSE(s.near);
  EXPECT_TRUE(s.exclusive);
  EXPECT_FALSE(s.deleted);
  EXPECT_EQ(s.blocksize, 64u);
  EXPECT_EQ(static_cast<DataSession_Object*>(p.get())->current_area, 1);
  p.release(stack);
}

TEST_F(SessionAreas, FreeAreasAndSelectZero) {
  EXPECT_EQ(ds->first_free_area(), 1);
  EXPECT_EQ(ds->last_free_area(), 32767);
  EXPECT_EQ(ds->select(0), 1);
  open("a.dbf", "a", 1);
  open("b.dbf", "b", 2);
  EXPECT_EQ(ds->select(0), 3);
  EXPECT_EQ(ds->current_table, nullptr);
  ds->close(1);
  EXPECT_EQ(ds->select(0), 1);
  open("z.dbf", "z", 32767);
  EXPECT_EQ(ds->last_free_area(), 32766);
  // Selecting by number follows the area's table.
  EXPECT_EQ(ds->select(2), 2);
  ASSERT_NE(ds->current_table, nullptr);
  EXPECT_EQ(ds->current_table->alias.name.u8str(), "b");
  EXPECT_EQ(ds->select(5), 5);
  EXPECT_EQ(ds->current_table, nullptr);
}

TEST_F(SessionAreas, SelectByValue) {
  open("orders.dbf", "Orders", 4);
  Variant name, upper, num, big, neg, zero, real;
  name.set_string(String("orders"));
  upper.set_string(String("ORDERS"));
  num.set_integer(7);
  big.set_integer(32768);
  neg.set_integer(-1);
  zero.set_integer(0);
  real.set_float(4.9, 1);
  EXPECT_EQ(ds->select(stack, &name), 4);
  EXPECT_EQ(ds->select(stack, &upper), 4);
  EXPECT_EQ(ds->select(stack, &num), 7);
  EXPECT_EQ(ds->select(stack, &zero), 1);
  EXPECT_EQ(ds->select(stack, &real), 4);  // truncated
  EXPECT_EQ(error_of([&] { ds->select(stack, &big); }), 17);
  EXPECT_EQ(error_of([&] { ds->select(stack, &neg); }), 17);
  Variant nosuch;
  nosuch.set_string(String("nosuch"));
  std::string detail;
  EXPECT_EQ(error_of([&] { ds->select(stack, &nosuch); }, &detail), 13);
  EXPECT_EQ(detail, "nosuch");
  // select_file: the table, or 13 without detail for an empty area (area 0 is always empty).
  EXPECT_EQ(ds->select_file(stack, &name)->alias.name.u8str(), "Orders");
  detail = "x";
  EXPECT_EQ(error_of([&] { ds->select_file(stack, &num); }, &detail), 13);
  EXPECT_EQ(detail, "");
  EXPECT_EQ(error_of([&] { ds->select_file(stack, &zero); }), 13);
  EXPECT_EQ(ds->current_area, 1);  // none of this selected anything
  for (Variant* v : {&name, &upper, &nosuch}) v->release(stack);
  EXPECT_TRUE(ds->used(4));
  EXPECT_FALSE(ds->used(5));
  EXPECT_EQ(error_of([&] { ds->used(0); }), 17);
  EXPECT_EQ(error_of([&] { ds->used(32768); }), 17);
}

TEST_F(SessionAreas, AliasesIgnoreCaseAndFileNamesDoNot) {
  open("orders.dbf", "ORDERS", 1);
  MemTable* t = nullptr;
  ObjectPointer second = table("other.dbf", &t);
  EXPECT_EQ(error_of([&] { ds->assign(second, stack->symtable, String("orders"), 2, false); }), 24);
  EXPECT_EQ(t->closes, std::vector<bool>{true});  // a failed entry closes the new table
  EXPECT_EQ(ds->work_areas.size(), 1u);
  EXPECT_EQ(ds->aliases.size(), 1u);
  EXPECT_EQ(ds->open_files.size(), 1u);
  // The same name in another case is another file.
  open("ORDERS.dbf", "o2", 2);
  EXPECT_EQ(ds->open_count(String("orders.dbf")), 1);
  EXPECT_EQ(ds->open_count(String("ORDERS.dbf")), 1);
}

TEST_F(SessionAreas, TheSameFileTwiceNeedsAgain) {
  open("t.dbf", "t1", 1);
  MemTable* t = nullptr;
  ObjectPointer again = table("t.dbf", &t);
  EXPECT_EQ(error_of([&] { ds->assign(again, stack->symtable, String("t2"), 2, false); }), 3);
  EXPECT_EQ(t->closes.size(), 1u);
  EXPECT_EQ(ds->open_count(String("t.dbf")), 1);
  open("t.dbf", "t2", 2, true);
  EXPECT_EQ(ds->open_count(String("t.dbf")), 2);
  ds->close(1);
  EXPECT_EQ(ds->open_count(String("t.dbf")), 1);
  EXPECT_TRUE(ds->used(2));
  int32_t area = 0;
  EXPECT_FALSE(ds->resolve(String("t1"), stack->symtable, &area));
  EXPECT_TRUE(ds->resolve(String("T2"), stack->symtable, &area));
  EXPECT_EQ(area, 2);
  ds->close(2);
  EXPECT_EQ(ds->open_count(String("t.dbf")), 0);
  EXPECT_TRUE(ds->open_files.empty());
}

TEST_F(SessionAreas, ClosingTheCurrentAreaKeepsItSelected) {
  MemTable* t = nullptr;
  ds->assign(table("c.dbf", &t), stack->symtable, String("c"), 1, false);
  EXPECT_EQ(ds->current_table, t);
  uint64_t epoch = vm_table_epoch.load();
  ds->close(1);
  EXPECT_GT(vm_table_epoch.load(), epoch);
  EXPECT_EQ(ds->current_table, nullptr);
  EXPECT_EQ(ds->current_area, 1);
  ds->close(1);      // empty: nothing happens
  ds->close(40000);  // unknown: nothing happens
}

TEST_F(SessionAreas, EveryAreaInUse) {
  for (int32_t a = 1; a <= DataSession_Object::max_area; ++a) {
    std::string n = "t" + std::to_string(a);
    open(n + ".dbf", n.c_str(), a);
  }
  EXPECT_EQ(ds->first_free_area(), 0);
  EXPECT_EQ(ds->last_free_area(), 0);
  EXPECT_EQ(ds->select(0), 0);
  EXPECT_EQ(ds->current_area, 0);
  // USE or CREATE TABLE into area 0 now: 17, and nothing enters area 0.
  EXPECT_EQ(error_of([&] { ds->area_for_open(ds->current_area); }), 17);
  MemTable* t = nullptr;
  ObjectPointer extra = table("extra.dbf", &t);
  EXPECT_EQ(error_of([&] { ds->assign(extra, stack->symtable, String("extra"), 0, false); }), 17);
  EXPECT_EQ(t->closes.size(), 1u);
  EXPECT_EQ(ds->work_areas.count(0), 0u);
  Table_Object::set_table_kind(nullptr, [](VmStack*, String, const createopts_st*, fielddef_st*, size_t) -> ObjectPointer {
    throw RuntimeError(9999);  // must not be reached
  });
  createopts_st opts{};
  EXPECT_EQ(error_of([&] { ds->create(stack, String("/tmp/new.dbf"), &opts, nullptr, 0); }), 17);
  Table_Object::set_table_kind(nullptr, nullptr);
  // Selecting an area by number leaves area 0 behind.
  ds->close(7);
  EXPECT_EQ(ds->area_for_open(0), 7);
}

// What CREATE TABLE asks of the table kind, for the tests below.
struct create_log_st {
  std::string path;
  uint64_t blocksize = 0;
  MemTable* made = nullptr;
};
create_log_st create_log;

ObjectPointer fake_create(VmStack* stack, String path, const createopts_st* options, fielddef_st*, size_t) {
  create_log.path = path.u8str();
  create_log.blocksize = options->blocksize;
  std::string name = create_log.path;
  auto* t = new MemTable(stack, {{"x", 1}, {"y", 2}}, name);
  t->go(stack, 2);  // a fresh table is positioned by the session, not by the kind
  create_log.made = t;
  return ObjectPointer(t);
}

TEST_F(SessionAreas, CreateTableEntersTheLowestFreeArea) {
  Table_Object::set_table_kind(nullptr, fake_create);
  open("a.dbf", "a", 1);
  open("old.dbf", "NEWTAB", 3);
  ds->select(3);
  createopts_st opts{};
  ds->settings.blocksize = 512;
  ds->create(stack, String("/data/dir.x/newtab.dbf"), &opts, nullptr, 0);
  Table_Object::set_table_kind(nullptr, nullptr);
  EXPECT_EQ(create_log.path, "/data/dir.x/newtab.dbf");
  EXPECT_EQ(create_log.blocksize, 512u);  // the session's BLOCKSIZE for an unspecified one
  // The area of the alias was closed first, so the lowest free area is 2.
  EXPECT_EQ(ds->current_area, 2);
  EXPECT_EQ(ds->current_table, create_log.made);
  EXPECT_FALSE(ds->used(3));
  EXPECT_EQ(create_log.made->alias.name.u8str(), "newtab");
  EXPECT_EQ(create_log.made->recno(), 1u);  // on its first record
  // A block size given is kept.
  Table_Object::set_table_kind(nullptr, fake_create);
  opts.blocksize = 32;
  ds->create(stack, String("other"), &opts, nullptr, 0);
  Table_Object::set_table_kind(nullptr, nullptr);
  EXPECT_EQ(create_log.blocksize, 32u);
  EXPECT_EQ(create_log.made->alias.name.u8str(), "other");
  EXPECT_EQ(ds->current_area, 3);
}

TEST_F(SessionAreas, WithoutATableKindUseAndCreateAreUnavailable) {
  // Start-up installs the DBF kind: take it away for this test and give it back after.
  struct Restore {
    ~Restore() { init_dbf_tables(); }
  } restore;
  Table_Object::set_table_kind(nullptr, nullptr);
  std::string detail;
  EXPECT_EQ(error_of([&] { Table_Object::use(stack, String("x.dbf"), true, false); }, &detail), 1001);
  createopts_st opts{};
  EXPECT_EQ(error_of([&] { Table_Object::create(stack, String("x.dbf"), &opts, nullptr, 0); }), 1001);
}

TEST_F(SessionAreas, NameReadsFollowTheSelectedTable) {
  // The interpreter's cache of name reads must see a table enter, leave and change areas.
  MemTable* t = nullptr;
  ds->assign(table("f.dbf", &t), stack->symtable, String("f"), 1, false);
  Variant r;
  evaluate_expression_in_frame(stack, String("N"), &r);
  EXPECT_EQ(r.integer.value, 1);
  r.release(stack);
  t->go(stack, 2);
  evaluate_expression_in_frame(stack, String("N"), &r);
  EXPECT_EQ(r.integer.value, 2);
  r.release(stack);
  ds->select(2);  // an empty area: N is no field any more
  EXPECT_EQ(error_of([&] { evaluate_expression_in_frame(stack, String("N"), &r); }), 12);
  r.release(stack);
  ds->select(1);
  evaluate_expression_in_frame(stack, String("N"), &r);
  EXPECT_EQ(r.integer.value, 2);
  r.release(stack);
}

// ---- the registry of sessions ----

TEST_F(SessionAreas, ASessionEndingOnAnotherThreadLeavesTheOwnersRegistryAlone) {
  VmStack* owner = stack;
  ObjectPointer session = CreateObject(owner, String("Session"), nullptr, 0);
  auto* s = static_cast<DataSession_Object*>(session.get());
  const int32_t number = s->session_id;
  ASSERT_EQ(owner->find_data_session(number), s);
  const size_t entries = owner->data_sessions.size();
  std::thread other([&] {
    VmStack* theirs = nullptr;
    CreateStack(runtime, 256, &theirs);
    session.release(theirs);  // the last reference ends on the other thread's stack
    ReleaseStack(theirs);
  });
  other.join();
  // The entry is still there (nobody touched the registry from the other thread), but dead: the
  // owner neither finds the freed session nor keeps the entry once it looked.
  EXPECT_EQ(owner->data_sessions.size(), entries);
  EXPECT_EQ(owner->find_data_session(number), nullptr);
  EXPECT_EQ(owner->data_sessions.count(number), 0u);
  EXPECT_EQ(owner->current_data_session, ds);
}

TEST_F(SessionAreas, DeadEntriesGoWhenTheNextSessionIsMade) {
  ObjectPointer a = CreateObject(stack, String("Session"), nullptr, 0);
  const int32_t number = static_cast<DataSession_Object*>(a.get())->session_id;
  std::thread other([&] { a.release(nullptr); });
  other.join();
  EXPECT_EQ(stack->data_sessions.count(number), 1u);
  ObjectPointer b = CreateObject(stack, String("Session"), nullptr, 0);
  EXPECT_EQ(stack->data_sessions.count(number), 0u);
  b.release(stack);
}

TEST_F(SessionAreas, DestroyingTheCurrentSessionOnItsStackFallsBackToTheDefault) {
  ObjectPointer a = CreateObject(stack, String("Session"), nullptr, 0);
  auto* s = static_cast<DataSession_Object*>(a.get());
  MemTable* t = nullptr;
  s->assign(table("s.dbf", &t), stack->symtable, String("s"), 1, false);
  stack->set_current_data_session(s);
  a.release(stack);
  EXPECT_EQ(stack->current_data_session, ds);
  EXPECT_EQ(stack->find_data_session(2), nullptr);
}

}  // namespace
}  // namespace qzbase
