// The DBF table object's index operations against index hooks that fail on demand: each
// operation's failures become the language errors of its own list (with the tag, collation or
// index file named), everything else ends in the catch-all, the table is bound to the stack while
// tag creation and key evaluation run and released again after a failure, and the drop operations
// refuse a shared table before they look for the tag.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "capture_screen.h"
#include "dbf_support.h"
#include "indexes/dbf_index_hooks.h"
#include "tables/dbf_exceptions.h"
#include "tables/table_dbf.h"
#include "runtime_errors.h"
#include "table_fixture.h"
#include "temp_dir.h"
#include "vm/vm_stack.h"

using namespace qzbase;
using namespace qzbase::testing_dbf;
using qzbase::testing_files::CwdGuard;
using qzbase::testing_files::TempDir;

namespace {

// What the next hook call throws (nothing when empty), and what the hooks saw.
std::function<void()> g_fail;
bool g_selected = true;
VmStack* g_stack = nullptr;
bool g_bound_during_call = false;

void maybe_fail() {
  if (g_stack != nullptr) g_bound_during_call = g_stack->bound_table != nullptr;
  if (g_fail) g_fail();
}

// One tag, selected or not; every operation fails as told.
class FailingHooks : public DbfNoIndexHooks {
 public:
  explicit FailingHooks(DbfFile* file) : DbfNoIndexHooks(file) {}
  void open_structural_index(VmStack*) override {}
  size_t index_count() const override { return 1; }
  void create_index_tag(VmStack*, const createopts_st*, const internal_indexdef_st*) override { maybe_fail(); }
  void delete_index_tag(const String&) override { maybe_fail(); }
  void delete_all_index_tags() override { maybe_fail(); }
  using DbfNoIndexHooks::select_index;
  void select_index(size_t, int) override { maybe_fail(); }
  void select_index(const String&, int) override { maybe_fail(); }
  size_t selected_index_number() const override { return g_selected ? 0 : kNoIndex; }
  bool get_indexdef(size_t, internal_indexdef_st* out) const override {
    maybe_fail();
    out->tag_name = String("T1");
    return true;
  }
  size_t create_key(const Variant*, char* buffer, size_t, bool) override {
    maybe_fail();
    buffer[0] = 'k';
    return 1;
  }
  size_t eval_key(VmStack*, char* buffer, size_t) override {
    maybe_fail();
    buffer[0] = 'k';
    return 1;
  }
  size_t get_current_key(char* buffer, size_t) override {
    maybe_fail();
    buffer[0] = 'k';
    return 1;
  }
  bool seek(const char*, size_t, int, int, bool) override {
    maybe_fail();
    return true;
  }
  bool seek_unique(const char*, size_t) override {
    maybe_fail();
    return true;
  }
  String index_file_name() const override { return String("/x/t.cdx"); }
};

DbfIndexHooks* make_failing_hooks(DbfFile* file) { return new FailingHooks(file); }

struct TableIndexOperations : ::testing::Test, testing_tables::TableRuntime {
  TableIndexOperations() {
    init_dbf_tables();
    auto dbf = create_table(dir.path / "t.dbf", {field("N", FIELDINFO_INTEGER)});
    blank_current(dbf.get());
    append_current(dbf.get());
    dbf->close();
    set_dbf_index_hooks_factory(&make_failing_hooks);
    g_fail = nullptr;
    g_selected = true;
    g_stack = stack;
  }
  ~TableIndexOperations() override {
    g_fail = nullptr;
    g_stack = nullptr;
    held.clear();
    install_dbf_index_hooks();
  }
  Table_Object_QzDbf* use(bool shared = false) { return TableRuntime::use("t", shared); }
};

using testing_errors::Raised;
using testing_errors::raised;

template <typename E>
std::function<void()> fail() {
  return [] { throw E(); };
}

TEST_F(TableIndexOperations, EveryIndexOperationMapsItsFailures) {
  Table_Object_QzDbf* t = use();
  internal_indexdef_st def;
  def.tag_name = String("MyTag");
  def.key_expression = String("n");
  def.collation_name = String("FRENCH");
  const createopts_st o = options();
  char key[Table_Object::key_buffer_size];
  Variant value;
  value.set_integer(1);

  using Op = std::function<void()>;
  const Op create = [&] { t->create_index(stack, &o, &def); };
  const Op select_by_name = [&] { t->select_index_tag(stack, String("byName"), SEEK_DIR_SELECTED); };
  const Op select_by_number = [&] { t->select_index(stack, 0, SEEK_DIR_SELECTED); };
  const Op make_key = [&] { t->create_index_key(&value, key, sizeof key, true); };
  const Op seek_record = [&] { t->seek_record(&value, 1); };
  const Op seek_lowlevel = [&] { t->seek_lowlevel(stack, "k", 1, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false); };
  const Op drop = [&] { t->drop_index(stack, String("oldTag")); };
  const Op drop_all = [&] { t->drop_all_indizes(stack); };
  const Op eval_key = [&] { t->eval_index_key(stack, key, sizeof key); };
  const Op info = [&] { internal_indexdef_st d; t->get_index_info(0, &d); };

  struct Case {
    const char* what;
    const Op* operation;
    std::function<void()> failure;
    int code;
    const char* detail;
  } const cases[] = {
      {"create: name used", &create, fail<dbf_error_index_tag_name_duplicate>(), 1898, "MyTag"},
      {"create: bad characters", &create, fail<dbf_error_index_tag_name_invalid_characters>(), 1899, "MyTag"},
      {"create: name too long", &create, fail<dbf_error_index_tag_name_too_long>(), 1888, "MyTag"},
      {"create: recursion", &create, fail<dbf_illegal_recursion>(), 1887, ""},
      {"create: key length", &create, fail<dbf_invalid_index_key_len>(), 112, ""},
      {"create: unique, tag named", &create, [] { throw dbf_unique_key_violation("CUSTNO"); }, 1884, "CUSTNO"},
      {"create: unique, unnamed", &create, fail<dbf_unique_key_violation>(), 1884, "MyTag"},
      {"create: FOR not logical", &create, fail<dbf_index_filter_must_be_logical>(), 1127, ""},
      {"create: memo key", &create, fail<dbf_error_type_index_expression>(), 34, ""},
      {"create: cannot create file", &create, fail<dbf_error_cannot_create_cdx>(), 7, ""},
      {"create: collation", &create, fail<dbf_error_collation_not_supported>(), 1001, "FRENCH"},
      {"create: null key", &create, fail<dbf_error_index_cannot_store_null>(), 1886, ""},
      {"create: not built", &create, fail<dbf_error_not_impl>(), 9902, ""},
      {"create: corrupt index", &create, fail<dbf_index_file_corrupted>(), 9902, ""},
      {"create: file failure", &create, [] { throw file_error(5); }, 9901, ""},
      {"create: language error", &create, [] { throw RuntimeError(2156); }, 2156, ""},
      {"select by name: unknown", &select_by_name, fail<dbf_error_unknown_index_tag>(), 1683, "byName"},
      {"select by name: binary", &select_by_name, fail<dbf_select_binary_index_not_supported>(), 1001, ""},
      {"select by name: recursion", &select_by_name, fail<dbf_illegal_recursion>(), 1887, ""},
      {"select by name: other", &select_by_name, fail<dbf_error_not_impl>(), 9902, ""},
      {"select by number: unknown", &select_by_number, fail<dbf_error_unknown_index_tag>(), 1683, ""},
      {"select by number: binary", &select_by_number, fail<dbf_select_binary_index_not_supported>(), 9902, ""},
      {"create key: type", &make_key, [] { throw dbf_error_field_type_conflict(nullptr); }, 11, ""},
      {"create key: other", &make_key, fail<dbf_error_not_impl>(), 9902, ""},
      {"seek record: no order", &seek_record, fail<dbf_error_no_index_selected>(), 26, ""},
      {"seek record: type", &seek_record, [] { throw dbf_error_field_type_conflict(nullptr); }, 11, ""},
      {"seek: corrupt, unnamed", &seek_lowlevel, fail<dbf_index_file_corrupted>(), 2066, "/x/t.cdx"},
      {"seek: corrupt, named", &seek_lowlevel, [] { throw dbf_index_file_corrupted("/y/o.cdx"); }, 2066, "/y/o.cdx"},
      {"seek: no order", &seek_lowlevel, fail<dbf_error_no_index_selected>(), 26, ""},
      {"seek: recursion", &seek_lowlevel, fail<dbf_illegal_recursion>(), 1887, ""},
      {"seek: not built", &seek_lowlevel, fail<dbf_error_not_impl>(), 9902, ""},
      {"seek: file failure", &seek_lowlevel, [] { throw file_error(5); }, 9901, ""},
      {"drop: unknown", &drop, fail<dbf_error_unknown_index_tag>(), 1683, "oldTag"},
      {"drop: other", &drop, fail<dbf_error_need_exclusive_access>(), 9902, ""},
      {"drop all: file failure", &drop_all, [] { throw file_error(5); }, 9901, ""},
      {"drop all: other", &drop_all, fail<dbf_error_file_corruption>(), 2091, ""},
      {"eval key: null", &eval_key, fail<dbf_error_index_cannot_store_null>(), 9902, ""},
      {"eval key: recursion", &eval_key, fail<dbf_illegal_recursion>(), 1887, ""},
      {"definition: other", &info, fail<dbf_error_not_impl>(), 9902, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_fail = c.failure;
    Raised r = raised(*c.operation);
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.detail, c.detail);
    // The binding of a failed operation is gone again.
    EXPECT_EQ(stack->bound_table, nullptr);
  }
  // What is not a failure of the file layer passes as it is.
  g_fail = [] { throw std::bad_alloc(); };
  EXPECT_THROW(create(), std::bad_alloc);
  EXPECT_THROW(seek_lowlevel(), std::bad_alloc);
}

TEST_F(TableIndexOperations, KeyAndForExpressionsRunWithTheTableBound) {
  Table_Object_QzDbf* t = use();
  internal_indexdef_st def;
  def.tag_name = String("T");
  const createopts_st o = options();
  char key[Table_Object::key_buffer_size];
  t->create_index(stack, &o, &def);
  EXPECT_TRUE(g_bound_during_call);
  t->eval_index_key(stack, key, sizeof key);
  EXPECT_TRUE(g_bound_during_call);
  t->select_index_tag(stack, String("t"), SEEK_DIR_SELECTED);
  EXPECT_TRUE(g_bound_during_call);
  EXPECT_EQ(stack->bound_table, nullptr);
  // A raw seek evaluates nothing: it binds nothing either.
  t->seek_lowlevel(stack, "k", 1, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false);
  EXPECT_FALSE(g_bound_during_call);
}

TEST_F(TableIndexOperations, WithoutASelectedTagTheKeyOperationsRaise26) {
  Table_Object_QzDbf* t = use();
  g_selected = false;
  char key[Table_Object::key_buffer_size];
  Variant value;
  const std::vector<std::pair<const char*, std::function<void()>>> operations = {
      {"create_index_key", [&] { t->create_index_key(&value, key, sizeof key, true); }},
      {"eval_index_key", [&] { t->eval_index_key(stack, key, sizeof key); }},
      {"get_index_key", [&] { t->get_index_key(key, sizeof key); }},
      {"get_index_pos", [&] { t->get_index_pos(); }},
      {"get_leaf_num_keys", [&] { t->get_leaf_num_keys(); }},
      {"seek_record", [&] { t->seek_record(&value, 1); }},
  };
  for (const auto& [name, op] : operations) {
    Raised r = raised(op);
    EXPECT_EQ(r.code, 26) << name;
  }
  EXPECT_FALSE(t->is_index_scan());
  EXPECT_FALSE(t->descending());
  EXPECT_EQ(t->get_index_dir(), SEEK_DIR_FORWARD);
  internal_indexdef_st def;
  EXPECT_FALSE(t->get_current_index_info(&def));
  // With the tag selected its definition is the current one.
  g_selected = true;
  ASSERT_TRUE(t->get_current_index_info(&def));
  EXPECT_EQ(def.tag_name.u8str(), "T1");
}

// A pair that is not in the tag clears FOUND(); one that is sets it.
TEST_F(TableIndexOperations, SeekRecordStoresFound) {
  Table_Object_QzDbf* t = use();
  Variant value;
  value.set_integer(1);
  t->found = true;
  g_fail = fail<dbf_error_no_index_selected>();
  EXPECT_EQ(raised([&] { t->seek_record(&value, 1); }).code, 26);
  EXPECT_FALSE(t->found);
  g_fail = nullptr;
  EXPECT_TRUE(t->seek_record(&value, 1));
  EXPECT_TRUE(t->found);
}

// Dropping tags needs the table for itself: 110 before the tag is even looked for.
TEST_F(TableIndexOperations, DropOnASharedTableIsRefusedFirst) {
  Table_Object_QzDbf* t = use(true);
  g_fail = fail<dbf_error_unknown_index_tag>();
  EXPECT_EQ(raised([&] { t->drop_index(stack, String("nosuch")); }).code, 110);
  EXPECT_EQ(raised([&] { t->drop_all_indizes(stack); }).code, 110);
}

}  // namespace
