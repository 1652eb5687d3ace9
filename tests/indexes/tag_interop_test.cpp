// Tags this runtime created, read by readers it did not write: Perl's XBase::Index lists the tag
// directory and gives each tag's (key, record) pairs in key order, decoded from the branch entries
// and compact leaves of character, numeric and date tags; DBD::XBase walks the table in a tag's
// order. Both must agree with the runtime's own ordered walk.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../tables/dbf_support.h"
#include "btree_support.h"
#include "capture_screen.h"
#include "host/runtime.h"
#include "indexes/dbf_index_hooks.h"
#include "run_command.h"
#include "tables/table_dbf.h"
#include "tables/table_object.h"
#include "temp_dir.h"
#include "values/julian.h"
#include "vm/vm_stack.h"

namespace qzbase::index_testing {
namespace {

namespace fs = std::filesystem;
using testing_dbf::create_table;
using testing_dbf::field;
using testing_files::run_command;

enum Column : size_t { kName = 0, kAmount = 1, kBorn = 2 };

// t.dbf: NAME C(12), AMOUNT N(10, 2), BORN D.
struct InteropFixture : ::testing::Test {
  InteropFixture() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 1024, 128)), cwd(dir.path) {
    install_dbf_index_hooks();
    init_dbf_tables();
    create_table(dir.path / "t.dbf",
                 {field("NAME", FIELDINFO_CHAR, 12), field("AMOUNT", FIELDINFO_NUMERIC, 10, 2),
                  field("BORN", FIELDINFO_DATE)})
        ->close();
  }
  ~InteropFixture() override {
    held.clear();
    delete stack;
    ReleaseRuntime(runtime);
  }

  void open() {
    held.clear();
    held.push_back(Table_Object::use(stack, String("t"), false, false));
    table = static_cast<Table_Object_QzDbf*>(held.back().get());
    dbf = table->dbf();
    hooks = table_cursor(dbf);
    ASSERT_NE(hooks, nullptr);
  }
  void close() {
    held.clear();
    table = nullptr;
    dbf = nullptr;
    hooks = nullptr;
  }

  void create(const char* name, const char* key) {
    createopts_st opts{};
    internal_indexdef_st def;
    def.tag_name = String(name);
    def.key_expression = String(key);
    def.for_expression = String("");
    def.collation_name = String("MACHINE");
    Current_Table_Guard guard(stack, table);
    hooks->create_index_tag(stack, &opts, &def);
  }

  void set_row(const std::string& name, double amount, uint32_t day) {
    dbf->set_string(kName, String(name.c_str()));
    dbf->set_numeric(kAmount, numeric_type_st{amount, 2});
    dbf->set_date(kBorn, date_st{day});
  }
  void append(const std::string& name, double amount, uint32_t day) {
    dbf->begin_append();
    set_row(name, amount, day);
    Current_Table_Guard guard(stack, table);
    dbf->update(stack);
  }
  void replace(size_t recno, const std::string& name, double amount, uint32_t day) {
    dbf->go_to_in_file(recno);
    set_row(name, amount, day);
    Current_Table_Guard guard(stack, table);
    dbf->update(stack);
  }

  // A column's value as the readers print it: text without trailing blanks, numbers with four
  // decimals, dates as YYYYMMDD.
  std::string shown(size_t column) {
    Variant v;
    dbf->get_variant(column, &v);
    char buffer[64];
    if (column == kName) {
      std::string s = v.string.u8str();
      return s.substr(0, s.find_last_not_of(' ') + 1);
    }
    if (column == kAmount) {
      std::snprintf(buffer, sizeof buffer, "%.4f", v.numeric.value);
      return buffer;
    }
    int y = 0, m = 0, d = 0;
    unserial_julian_date(v.date, &y, &m, &d);
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", y, m, d);
    return buffer;
  }

  // The runtime's walk of the tag: "key record" lines in the tag's order (deleted records too
  // unless live_only). value_first puts the key before the record, as XBase::Index prints pairs.
  std::string walk(const char* tag, size_t column, bool live_only, bool value_first) {
    hooks->select_index(String(tag), SEEK_DIR_SELECTED);
    std::ostringstream out;
    for (dbf->go_top(); !dbf->eof; dbf->go_next()) {
      if (live_only && dbf->deleted()) continue;
      if (value_first) {
        out << shown(column) << " " << dbf->recno << "\n";
      } else {
        out << dbf->recno << " " << shown(column) << "\n";
      }
    }
    return out.str();
  }

  std::string reader(const std::string& args) {
    return run_command("/usr/bin/perl " + testing_dbf::interop_script("read_cdx.pl") + " " + args);
  }

  testing_screen::CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack;
  testing_files::TempDir dir;
  testing_files::CwdGuard cwd;
  std::vector<ObjectPointer> held;
  Table_Object_QzDbf* table = nullptr;
  DbfFile* dbf = nullptr;
  IndexCursorHooks* hooks = nullptr;
};

// 50,000 records in random key order with many repeats: names of up to six letters over four,
// amounts in a narrow range, dates within a few years.
TEST_F(InteropFixture, XBaseIndexReadsTheTagsOfFiftyThousandRecords) {
  open();
  std::mt19937 rng(37);
  const uint32_t day0 = 2450874;  // 1998-03-01
  for (int i = 0; i < 50000; ++i) {
    std::string name;
    for (uint32_t n = rng() % 7; n > 0; --n) name += "ABCD"[rng() % 4];
    const double amount = static_cast<double>(static_cast<int>(rng() % 40000)) / 100.0 - 150.0;
    append(name, amount, day0 + static_cast<uint32_t>(rng() % 2500));
  }
  create("name", "NAME");
  create("amount", "AMOUNT");
  create("born", "BORN");
  close();
  open();
  ASSERT_EQ(hooks->index_count(), 3u);

  // The directory lists the tags by name; the runtime numbers them by their place in the file.
  EXPECT_EQ(reader("tags t.cdx"), "AMOUNT\nBORN\nNAME\n");
  struct Case {
    const char* tag;
    Column column;
    const char* kind;
  };
  for (const Case c : {Case{"NAME", kName, "C"}, Case{"AMOUNT", kAmount, "N"}, Case{"BORN", kBorn, "D"}}) {
    SCOPED_TRACE(c.tag);
    const std::string ours = walk(c.tag, c.column, false, true);
    ASSERT_EQ(std::count(ours.begin(), ours.end(), '\n'), 50000);
    const std::string theirs = reader(std::string("pairs t.cdx ") + c.tag + " " + c.kind);
    EXPECT_TRUE(ours == theirs) << "first lines, ours:\n"
                                << ours.substr(0, 200) << "\ntheirs:\n"
                                << theirs.substr(0, 200);
  }
}

// Keys replaced (an old key deleted, a new one inserted) and records deleted: DBD::XBase walks the
// table in each tag's order and finds every live record with its current value.
TEST_F(InteropFixture, DbdXBaseWalksTagsWithChangedAndDeletedKeys) {
  open();
  for (int i = 1; i <= 600; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04dK", i * 37 % 101);
    append(name, (i * 53 % 211) - 100, 2458850 + static_cast<uint32_t>(i * 17 % 97));
  }
  create("name", "NAME");
  create("amount", "AMOUNT");
  create("born", "BORN");
  for (size_t r = 1; r <= 600; r += 7) {
    dbf->go_to_in_file(r);
    const std::string name = "Z" + shown(kName);
    Variant amount, born;
    dbf->get_variant(kAmount, &amount);
    dbf->get_variant(kBorn, &born);
    replace(r, name, -amount.numeric.value - 0.5, born.date.day + 400);
  }
  for (size_t r = 3; r <= 600; r += 11) {
    dbf->go_to_in_file(r);
    dbf->delete_record();
    Current_Table_Guard guard(stack, table);
    dbf->update(stack);
  }
  close();
  open();

  struct Case {
    const char* tag;
    Column column;
    const char* kind;
    const char* field;
  };
  for (const Case c : {Case{"NAME", kName, "C", "NAME"}, Case{"AMOUNT", kAmount, "N", "AMOUNT"},
                       Case{"BORN", kBorn, "D", "BORN"}}) {
    SCOPED_TRACE(c.tag);
    const std::string ours = walk(c.tag, c.column, true, false);
    ASSERT_EQ(std::count(ours.begin(), ours.end(), '\n'), 600 - 55);
    const std::string theirs =
        reader(std::string("table t.dbf t.cdx ") + c.tag + " " + c.kind + " " + c.field);
    EXPECT_EQ(ours, theirs);
  }
}

}  // namespace
}  // namespace qzbase::index_testing
