// The flag masks of the work-area commands, called as the compiler calls them: each mask of USE,
// LOCATE, APPEND, UNLOCK, INDEX ON, SEEK, SET ORDER and the SCATTER / GATHER forms with the
// outcome its bits stand for.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builtins/workarea.h"
#include "builtins_support.h"
#include "tables/data_session.h"
#include "tables/table_object.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

using namespace testing_builtins;
using testing_files::CwdGuard;
using testing_files::TempDir;

Variant logical(bool b) {
  Variant v;
  v.set_bool(b);
  return v;
}

// A table t (n N(5), c C(4), m M) with records 1..3 in the lowest free area, current.
struct TableFixture : RuntimeFixture {
  TableFixture() : cwd(dir.path) {
    std::vector<Variant> args = {integer(1), str("t"), null_value(), null_value(), integer(3)};
    for (auto [name, type, length] : {std::tuple{"n", 11, 5}, std::tuple{"c", 2, 4}, std::tuple{"m", 10, 0}}) {
      args.push_back(str(name));
      args.push_back(integer(type));
      args.push_back(length != 0 ? integer(length) : null_value());
      args.push_back(type == 11 ? integer(0) : null_value());
      args.push_back(null_value());
      args.push_back(null_value());
      args.push_back(integer(0));
    }
    run(stack, void_stackcall_create_table, args);
    for (int k = 1; k <= 3; ++k) {
      run(stack, void_append_blank, {integer(1), null_value()});
      run(stack, void_stackcall_replace, {str("n"), integer(k), null_value()});
      run(stack, void_stackcall_replace, {str("c"), str("r"), null_value()});
      run(stack, void_stackcall_replace, {str("m"), str("memo"), null_value()});
    }
  }
  Table_Object* table() { return stack->current_data_session->current_table; }
  TempDir dir;
  CwdGuard cwd;
};

TEST(WorkAreaFlags, Use) {
  struct Case {
    long mask;
    int error;  // 0: opens
    bool shared;
  } const cases[] = {
      {1, 1001, false},  {2, 1001, false},   {8, 1001, false},   {16 | 32, 11, false}, {1 | 16 | 32, 1001, false},
      {0, 0, false},     {16, 0, false},     {32, 0, true},      {64, 0, false},       {4, 0, false},
  };
  TableFixture f;
  DataSession_Object* ds = f.stack->current_data_session;
  run(f.stack, void_stackcall_use, {integer(0), null_value(), null_value(), null_value(), null_value()});
  ASSERT_EQ(ds->current_table, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    auto e = error_of([&] {
      run(f.stack, void_stackcall_use, {integer(c.mask), str("t"), null_value(), null_value(), null_value()});
    });
    EXPECT_EQ(e.first, c.error);
    EXPECT_EQ(ds->current_table != nullptr, c.error == 0);
    if (c.error == 0 && (c.mask & 64)) {
      // NOUPDATE: a write is refused by the table.
      auto w = error_of([&] { run(f.stack, void_stackcall_replace, {str("n"), integer(9), null_value()}); });
      EXPECT_NE(w.first, 0);
    }
    if (c.error == 0 && c.shared) {
      // A shared open lets a second open of the file in another area through AGAIN.
      run(f.stack, void_stackcall_use, {integer(4 | 32), str("t"), integer(0), str("t2"), null_value()});
      run(f.stack, void_stackcall_use, {integer(0), null_value(), str("t2"), null_value(), null_value()});
    }
    run(f.stack, void_stackcall_use, {integer(0), null_value(), null_value(), null_value(), null_value()});
  }
}

TEST(WorkAreaFlags, LocateRest) {
  TableFixture f;
  // Without REST the search starts at the top, with it at the current record.
  run(f.stack, void_stackcall_go_record, {null_value(), integer(3)});
  run(f.stack, void_stackcall_locate, {str("n >= 1"), null_value(), integer(0)});
  EXPECT_EQ(f.table()->recno(), 1u);
  run(f.stack, void_stackcall_go_record, {null_value(), integer(3)});
  run(f.stack, void_stackcall_locate, {str("n >= 1"), null_value(), integer(1)});
  EXPECT_EQ(f.table()->recno(), 3u);
  // NOOPTIMIZE changes nothing.
  run(f.stack, void_stackcall_go_record, {null_value(), integer(3)});
  run(f.stack, void_stackcall_locate, {str("n >= 1"), null_value(), integer(2)});
  EXPECT_EQ(f.table()->recno(), 1u);
}

TEST(WorkAreaFlags, AppendAndUnlock) {
  TableFixture f;
  for (long mask : {0L, 2L, 3L}) {
    auto e = error_of([&] { run(f.stack, void_append_blank, {integer(mask), null_value()}); });
    EXPECT_EQ(e.first, 1001) << mask;
    EXPECT_EQ(e.second, "blank option only") << mask;
  }
  EXPECT_EQ(f.table()->reccount(), 3u);
  run(f.stack, void_append_blank, {integer(1), null_value()});
  EXPECT_EQ(f.table()->reccount(), 4u);

  EXPECT_EQ(error_of([&] { run(f.stack, void_stackcall_unlock, {integer(0), null_value(), null_value()}); }).first, 0);
  auto all = error_of([&] { run(f.stack, void_stackcall_unlock, {integer(1), null_value(), null_value()}); });
  EXPECT_EQ(all.first, 1001);
  EXPECT_EQ(all.second, "Unlocking all records");
  auto record = error_of([&] { run(f.stack, void_stackcall_unlock, {integer(0), integer(1), null_value()}); });
  EXPECT_EQ(record.first, 1001);
  EXPECT_EQ(record.second, "Unlocking specific record");
}

TEST(WorkAreaFlags, ScatterAndGather) {
  TableFixture f;
  run(f.stack, void_stackcall_go_record, {null_value(), integer(2)});
  struct Case {
    long mask;
    size_t count;    // elements SCATTER TO makes
    bool blank;      // element 1 holds the blank value
  } const cases[] = {{0, 2, false}, {1, 3, false}, {2, 2, true}, {3, 3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    Variant target;
    // SCATTER ... TO target: the target passed as a reference, as the compiler passes it.
    Memvar* mark = f.stack->sp;
    f.stack->push()->value.set_integer(c.mask);
    target.ref(f.stack, &f.stack->push()->value, nullptr);
    call_native_command(f.stack, void_stackcall_scatter_to, 2);
    f.stack->release_stack_to(mark);
    ASSERT_EQ(target.tag, VT_ARRAY);
    const Array* a = &target.array;
    ASSERT_EQ(a->count(), c.count);
    const Variant* first = a->read(1);
    ASSERT_EQ(first->tag, VT_NUMERIC);
    EXPECT_EQ(first->numeric.value, c.blank ? 0.0 : 2.0);
    target.release(f.stack);
  }

  // GATHER FROM without MEMO writes the first two fields; with MEMO the memo as well.
  for (long mask : {0L, 1L}) {
    SCOPED_TRACE(mask);
    Variant source;
    Array* a = source.dimension(f.stack, 3, 0);
    a->write(f.stack, 1)->set_integer(70 + mask);
    a->write(f.stack, 2)->set_string(String("g"));
    a->write(f.stack, 3)->set_string(String("new memo"));
    auto e = error_of([&] { run(f.stack, void_stackcall_gather_from, {integer(mask), source}); });
    ASSERT_EQ(e.first, 0) << e.second;
    source.release(f.stack);
    Variant v;
    f.table()->get_field(0, &v);
    ASSERT_EQ(v.tag, VT_NUMERIC);
    EXPECT_EQ(v.numeric.value, 70.0 + mask);
    v.release(f.stack);
    f.table()->get_field(2, &v);
    EXPECT_EQ(static_cast<String>(v).u8str(), mask ? "new memo" : "memo");
    v.release(f.stack);
  }
}

TEST(WorkAreaFlags, IndexOn) {
  TableFixture f;
  struct Case {
    long mask;
    int error;
    uint8_t unique, candidate, descending;
  } const cases[] = {
      {8 | 16, 11, 0, 0, 0}, {0, 0, 0, 0, 0},  {1, 0, 0, 0, 0},  {2, 0, 1, 0, 0},
      {4, 0, 0, 1, 0},       {8, 0, 0, 0, 0},  {16, 0, 0, 0, 1}, {1 | 2 | 16, 0, 1, 0, 1},
  };
  int made = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    const std::string tag = "T" + std::to_string(made);
    auto e = error_of([&] {
      run(f.stack, void_stackcall_index, {integer(c.mask), str("n"), str(tag.c_str()), null_value(), null_value()});
    });
    ASSERT_EQ(e.first, c.error) << e.second;
    if (c.error != 0) continue;
    ++made;
    // The new tag is the order.
    internal_indexdef_st def;
    ASSERT_TRUE(f.table()->get_current_index_info(&def));
    EXPECT_EQ(def.tag_name.u8str(), tag);
    EXPECT_EQ(def.unique, c.unique);
    EXPECT_EQ(def.candidate, c.candidate);
    EXPECT_EQ(def.descending, c.descending);
    EXPECT_EQ(f.table()->descending(), c.descending != 0);
  }
  EXPECT_EQ(f.table()->cnt_indizes(), static_cast<size_t>(made));
  // FOR and COLLATE arrive as their texts.
  run(f.stack, void_stackcall_index, {integer(0), str("c"), str("F"), str("n > 1"), str("machine")});
  internal_indexdef_st def;
  ASSERT_TRUE(f.table()->get_current_index_info(&def));
  EXPECT_EQ(def.for_expression.u8str(), "n > 1");
  EXPECT_EQ(def.key_expression.u8str(), "c");
}

TEST(WorkAreaFlags, Seek) {
  TableFixture f;
  run(f.stack, void_stackcall_index, {integer(0), str("n"), str("byn"), null_value(), null_value()});
  const Variant* unset = nullptr;  // SET NEAR (off) decides
  Variant near_on = logical(true);
  Variant near_off = logical(false);
  struct Case {
    long mask;
    double key;
    const Variant* near;
    int error;
    bool found;
    size_t recno;  // 0: end of file
  } const cases[] = {
      {1 | 2, 2, unset, 11, false, 0},  {4 | 8, 2, unset, 11, false, 0},  {0, 2, unset, 0, true, 2},
      {1, 2, unset, 0, true, 2},        {2, 2, unset, 0, true, 2},        {4, 2, unset, 0, true, 2},
      {8, 2, unset, 0, true, 2},        {16, 2, unset, 0, true, 2},       {32, 2, unset, 0, true, 3},
      {16 | 32, 2, unset, 0, true, 2},  {32, 3, unset, 0, false, 0},      {16 | 32, 2.5, unset, 0, true, 3},
      {0, 2.5, &near_on, 0, false, 3},   {0, 2.5, &near_off, 0, false, 0},  {0, 2.5, unset, 0, false, 0},
      {2, 2.5, &near_on, 0, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mask << " " << c.key);
    run(f.stack, void_stackcall_go_record, {null_value(), integer(1)});
    Variant key;
    key.set_float(c.key, 1);
    Variant near = c.near == nullptr ? null_value() : *c.near;
    auto e = error_of([&] { run(f.stack, void_stackcall_seek, {integer(c.mask), key, null_value(), null_value(), near}); });
    ASSERT_EQ(e.first, c.error) << e.second;
    if (c.error != 0) continue;
    EXPECT_EQ(f.table()->found, c.found);
    if (c.recno == 0) {
      EXPECT_TRUE(f.table()->eof());
    } else {
      ASSERT_FALSE(f.table()->eof());
      EXPECT_EQ(f.table()->recno(), c.recno);
    }
  }
  // RECORD n finds the pair of key and record only.
  for (auto [recno, found] : {std::pair{2L, true}, std::pair{3L, false}}) {
    run(f.stack, void_stackcall_seek, {integer(0), integer(2), null_value(), integer(recno), null_value()});
    EXPECT_EQ(f.table()->found, found) << recno;
  }
}

TEST(WorkAreaFlags, SetOrder) {
  TableFixture f;
  run(f.stack, void_stackcall_index, {integer(0), str("n"), str("byn"), null_value(), null_value()});
  auto both = error_of([&] { run(f.stack, void_stackcall_set_order_to, {str("byn"), null_value(), integer(3)}); });
  EXPECT_EQ(both.first, 11);
  for (auto [mask, descending] : {std::pair{2L, true}, std::pair{1L, false}, std::pair{0L, false}}) {
    run(f.stack, void_stackcall_set_order_to, {str("BYN"), null_value(), integer(mask)});
    EXPECT_TRUE(f.table()->is_index_scan()) << mask;
    EXPECT_EQ(f.table()->descending(), descending) << mask;
  }
  run(f.stack, void_stackcall_set_order_to, {null_value(), null_value(), integer(0)});
  EXPECT_FALSE(f.table()->is_index_scan());
}

}  // namespace
}  // namespace qzbase
