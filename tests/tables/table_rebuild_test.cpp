// Rebuilding a DBF table (PACK, ZAP, ADD and DROP COLUMN) and COPY TO on real files: a failure at
// every stage leaves the old table open and unchanged with no file of its own left behind; the
// rebuilt table keeps memos and auto-increment values; COPY TO refuses the files being read and
// never loses an existing target; the session's open-file count survives the rebuild.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture_screen.h"
#include "dbf_support.h"
#include "host/runtime.h"
#include "run_command.h"
#include "tables/data_session.h"
#include "tables/table_dbf.h"
#include "runtime_errors.h"
#include "table_fixture.h"
#include "temp_dir.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

using namespace qzbase;
using namespace qzbase::testing_dbf;
using qzbase::testing_files::CwdGuard;
using qzbase::testing_files::TempDir;
namespace fs = std::filesystem;

namespace {

// The stage the hook fails at, and how.
std::string fail_stage;
enum class Failure { runtime_error, overflow };
Failure failure = Failure::runtime_error;

void failing_hook(const char* stage) {
  if (fail_stage != stage) return;
  if (failure == Failure::overflow) throw std::overflow_error("numeric overflow");
  throw RuntimeError(1102);
}

struct HookGuard {
  HookGuard(const char* stage, Failure how) {
    fail_stage = stage;
    failure = how;
    Table_Object_QzDbf::set_rebuild_fault_hook(&failing_hook);
  }
  ~HookGuard() { Table_Object_QzDbf::set_rebuild_fault_hook(nullptr); }
};

struct Rebuild : ::testing::Test, testing_tables::TableRuntime {
  Rebuild() { init_dbf_tables(); }

  // people: ID auto-increment, NAME, NOTE memo; five records, the 2nd and 4th deleted. With
  // tags: UPPER(NAME), and ID for the records from ID 12 on.
  Table_Object_QzDbf* people(bool tags = false) {
    fielddef_st id = field("ID", FIELDINFO_INTEGER);
    id.autoinc = 1;
    id.autoinc_step = 1;
    id.autoinc_step_given = 1;
    id.autoinc_next = 10;
    id.autoinc_next_given = 1;
    make_table("people.dbf", {id, field("NAME", FIELDINFO_CHAR, 8), field("NOTE", FIELDINFO_MEMO)});
    Table_Object_QzDbf* t = use("people");
    for (int i = 1; i <= 5; ++i) {
      t->begin_append();
      t->set_field_string(1, String("n" + std::to_string(i)));
      t->set_field_string(2, String(std::string(static_cast<size_t>(i) * 200, static_cast<char>('a' + i))));
      if (i == 2 || i == 4) t->delete_record();
      t->update(stack);
    }
    if (tags) {
      createopts_st none{};
      internal_indexdef_st byname;
      byname.tag_name = String("BYNAME");
      byname.key_expression = String("UPPER(NAME)");
      t->create_index(stack, &none, &byname);
      internal_indexdef_st later;
      later.tag_name = String("LATER");
      later.key_expression = String("ID");
      later.for_expression = String("ID >= 12");
      t->create_index(stack, &none, &later);
      t->unselect_index();
    }
    t->movefirst(stack);
    return t;
  }

  // The records in the order of a tag, as their IDs.
  std::string walk(Table_Object_QzDbf* t, const char* tag) {
    t->select_index_tag(stack, String(tag), SEEK_DIR_SELECTED);
    std::string out;
    for (t->movefirst(stack); !t->eof(); t->movenext(stack, 1)) {
      Variant v;
      t->get_field(0, &v);
      out += std::to_string(v.integer.value) + " ";
    }
    t->unselect_index();
    return out;
  }

  void make_table(const char* name, std::vector<fielddef_st> fields) { create_table(dir.path / name, fields)->close(); }

  // Every record as "id name memo-length memo-first-char", deleted ones marked.
  std::vector<std::string> rows(Table_Object_QzDbf* t) {
    std::vector<std::string> out;
    for (size_t r = 1; r <= t->reccount(); ++r) {
      t->go(stack, static_cast<int64_t>(r));
      std::string row = t->deleted() ? "*" : "";
      for (size_t f = 0; f < t->cnt_fields(); ++f) {
        Variant v;
        t->get_field(static_cast<uint16_t>(f), &v);
        if (v.tag == VT_INTEGER) row += std::to_string(v.integer.value) + " ";
        if (v.tag == VT_STRING) {
          std::string s = v.string.u8str();
          s.erase(s.find_last_not_of(' ') + 1);
          row += s.size() > 8 ? std::to_string(s.size()) + s.substr(0, 1) + " " : s + " ";
        }
        if (v.tag == VT_FALSE || v.tag == VT_TRUE) row += v.tag == VT_TRUE ? "T " : "F ";
        if (v.tag == VT_NULL) row += "null ";
        v.release(stack);
      }
      out.push_back(row);
    }
    return out;
  }

  std::set<std::string> files() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path)) names.insert(e.path().filename().string());
    return names;
  }

  fielddef_st logical_field(const char* name) { return field(name, FIELDINFO_LOGICAL); }
};

int code_of(const std::function<void()>& body) { return testing_errors::error_code(body); }

const std::vector<std::string> kAllFive = {"10 n1 200b ", "*11 n2 400c ", "12 n3 600d ", "*13 n4 800e ", "14 n5 1000f "};
const std::set<std::string> kPeopleFiles = {"people.dbf", "people.fpt"};

TEST_F(Rebuild, PackKeepsLiveRecordsMemosAndAutoIncrementValues) {
  Table_Object_QzDbf* t = people();
  const uintmax_t memo_before = fs::file_size(dir.path / "people.fpt");
  t->pack(stack, stack->current_data_session);
  EXPECT_EQ(t->recno(), 1u);
  EXPECT_EQ(rows(t), (std::vector<std::string>{"10 n1 200b ", "12 n3 600d ", "14 n5 1000f "}));
  // The memo file holds only what is still referenced.
  EXPECT_LT(fs::file_size(dir.path / "people.fpt"), memo_before);
  EXPECT_EQ(files(), kPeopleFiles);
  // The next auto-increment value carries on after the kept ones.
  t->begin_append();
  t->update(stack);
  Variant v;
  t->get_field(0, &v);
  EXPECT_EQ(v.integer.value, 15);
  // The file name is unchanged: the table opens again by it.
  held.clear();
  EXPECT_EQ(use("people")->reccount(), 4u);
}

TEST_F(Rebuild, ZapLeavesTheFieldsAndNoRecords) {
  Table_Object_QzDbf* t = people();
  t->zap(stack, stack->current_data_session);
  EXPECT_EQ(t->reccount(), 0u);
  EXPECT_EQ(t->cnt_fields(), 3u);
  EXPECT_TRUE(t->bof());
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(files(), kPeopleFiles);
}

TEST_F(Rebuild, AddAndDropColumnKeepTheOtherFields) {
  Table_Object_QzDbf* t = people();
  fielddef_st flag = logical_field("FLAG");
  t->add_column(stack, stack->current_data_session, &flag);
  EXPECT_EQ(rows(t), (std::vector<std::string>{"10 n1 200b F ", "12 n3 600d F ", "14 n5 1000f F "}));
  EXPECT_EQ(t->get_field_by_symbol_id(stack->symtable->symbolize("flag")), 3);
  t->drop_column(stack, stack->current_data_session, String("name"));
  EXPECT_EQ(rows(t), (std::vector<std::string>{"10 200b F ", "12 600d F ", "14 1000f F "}));
  EXPECT_EQ(t->get_field_by_symbol_id(stack->symtable->symbolize("name")), -1);
  EXPECT_EQ(files(), kPeopleFiles);
}

TEST_F(Rebuild, RebuiltTagsKeepTheirDefinitionsAndFindTheLiveRecords) {
  Table_Object_QzDbf* t = people(true);
  DataSession_Object* ds = stack->current_data_session;
  auto definitions = [&] {
    std::vector<std::string> out;
    for (size_t i = 0; i < t->cnt_indizes(); ++i) {
      internal_indexdef_st def;
      t->get_index_info(i, &def);
      out.push_back(def.tag_name.u8str() + ":" + def.key_expression.u8str() + ":" + def.for_expression.u8str());
    }
    return out;
  };
  const std::vector<std::string> before = definitions();
  ASSERT_EQ(before.size(), 2u);
  t->pack(stack, ds);
  EXPECT_EQ(definitions(), before);
  EXPECT_EQ(walk(t, "BYNAME"), "10 12 14 ");
  EXPECT_EQ(walk(t, "LATER"), "12 14 ");
  fielddef_st flag = logical_field("FLAG");
  t->add_column(stack, ds, &flag);
  t->drop_column(stack, ds, String("note"));
  t->reindex(stack);
  EXPECT_EQ(definitions(), before);
  EXPECT_EQ(walk(t, "LATER"), "12 14 ");
  // A tag built after a rebuild is kept current: a new record appears in both.
  t->begin_append();
  t->set_field_string(1, String("a"));
  t->update(stack);
  EXPECT_EQ(walk(t, "BYNAME"), "15 10 12 14 ");
  EXPECT_EQ(walk(t, "LATER"), "12 14 15 ");
  EXPECT_EQ(files(), (std::set<std::string>{"people.dbf", "people.cdx"}));
  t->zap(stack, ds);
  EXPECT_EQ(definitions(), before);
  EXPECT_EQ(walk(t, "BYNAME"), "");
  // COPY TO with tags writes the same tags beside the copy.
  t->begin_append();
  t->set_field_string(1, String("z"));
  t->update(stack);
  t->copyto(stack, String("copy"), true);
  t->copyto(stack, String("plain"), false);
  EXPECT_EQ(files(), (std::set<std::string>{"people.dbf", "people.cdx", "copy.dbf", "copy.cdx", "plain.dbf"}));
  Table_Object_QzDbf* c = use("copy");
  EXPECT_EQ(c->cnt_indizes(), 2u);
  EXPECT_EQ(walk(c, "LATER"), "16 ");
}

TEST_F(Rebuild, DropColumnReadByATagIsRefusedWithTheTableUnchanged) {
  Table_Object_QzDbf* t = people(true);
  DataSession_Object* ds = stack->current_data_session;
  const std::string dbf = read_bytes(dir.path / "people.dbf");
  const std::string cdx = read_bytes(dir.path / "people.cdx");
  for (const char* name : {"NAME", "id"}) {
    SCOPED_TRACE(name);
    try {
      t->drop_column(stack, ds, String(name));
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1531);
      EXPECT_EQ(e.detail.u8str(), std::string(name) == "NAME" ? "BYNAME" : "LATER");
    }
  }
  EXPECT_EQ(read_bytes(dir.path / "people.dbf"), dbf);
  EXPECT_EQ(read_bytes(dir.path / "people.cdx"), cdx);
  EXPECT_EQ(rows(t), kAllFive);
}

TEST_F(Rebuild, AddColumnOfATakenNameIsRefusedWithNothingChanged) {
  Table_Object_QzDbf* t = people();
  fielddef_st name = field("name", FIELDINFO_CHAR, 3);
  EXPECT_EQ(code_of([&] { t->add_column(stack, stack->current_data_session, &name); }), 1712);
  EXPECT_EQ(rows(t), kAllFive);
  EXPECT_EQ(files(), kPeopleFiles);
}

TEST_F(Rebuild, DropColumnRefusals) {
  Table_Object_QzDbf* t = people();
  DataSession_Object* ds = stack->current_data_session;
  EXPECT_EQ(code_of([&] { t->drop_column(stack, ds, String("missing")); }), 12);
  t->drop_column(stack, ds, String("Note"));
  t->drop_column(stack, ds, String("ID"));
  EXPECT_EQ(code_of([&] { t->drop_column(stack, ds, String("name")); }), 1871);
  EXPECT_EQ(t->cnt_fields(), 1u);
  // Without memo fields the rebuilt table has no memo file.
  EXPECT_EQ(files(), std::set<std::string>{"people.dbf"});
}

TEST_F(Rebuild, ExclusiveUseIsRequired) {
  make_table("s.dbf", {field("K", FIELDINFO_INTEGER)});
  Table_Object_QzDbf* shared = use("s", true);
  DataSession_Object* ds = stack->current_data_session;
  fielddef_st flag = logical_field("FLAG");
  for (auto op : std::vector<std::function<void()>>{
           [&] { shared->pack(stack, ds); }, [&] { shared->zap(stack, ds); }, [&] { shared->reindex(stack); },
           [&] { shared->add_column(stack, ds, &flag); },
           [&] { shared->drop_column(stack, ds, String("K")); }}) {
    EXPECT_EQ(code_of(op), 110);
  }
  held.clear();
  held.push_back(Table_Object::use(stack, String("s"), false, true));
  auto* readonly = static_cast<Table_Object_QzDbf*>(held.back().get());
  try {
    readonly->pack(stack, ds);
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1718);
    EXPECT_EQ(e.detail.u8str(), fs::canonical(dir.path / "s.dbf").native());
  }
  EXPECT_EQ(files(), std::set<std::string>{"s.dbf"});
}

// A failure at any stage, in any rebuild: the old table stays open and usable, its files as
// they were, and nothing else is left in the directory.
TEST_F(Rebuild, FailureAtEveryStageLeavesTheOldTable) {
  struct op_st {
    const char* name;
    std::function<void(Table_Object_QzDbf*, VmStack*)> run;
  };
  fielddef_st flag = logical_field("FLAG");
  const std::vector<op_st> ops = {
      {"pack", [](Table_Object_QzDbf* t, VmStack* s) { t->pack(s, s->current_data_session); }},
      {"zap", [](Table_Object_QzDbf* t, VmStack* s) { t->zap(s, s->current_data_session); }},
      {"add", [&](Table_Object_QzDbf* t, VmStack* s) { t->add_column(s, s->current_data_session, &flag); }},
      {"drop", [](Table_Object_QzDbf* t, VmStack* s) { t->drop_column(s, s->current_data_session, String("NOTE")); }},
  };
  struct how_st {
    Failure failure;
    int code;  // an overflow met on the way reaches programs as 39
  };
  for (bool tags : {false, true}) {
    for (const op_st& op : ops) {
      for (const char* stage : {"create", "copy", "index", "takeover"}) {
        for (how_st how : {how_st{Failure::runtime_error, 1102}, how_st{Failure::overflow, 39}}) {
          SCOPED_TRACE(std::string(op.name) + " at " + stage + (tags ? " with tags" : ""));
          held.clear();
          for (const std::string& name : files()) fs::remove(dir.path / name);
          Table_Object_QzDbf* t = people(tags);
          std::set<std::string> names = kPeopleFiles;
          if (tags) names.insert("people.cdx");
          std::vector<std::string> bytes;
          for (const std::string& name : names) bytes.push_back(read_bytes(dir.path / name));
          {
            HookGuard hook(stage, how.failure);
            EXPECT_EQ(code_of([&] { op.run(t, stack); }), how.code);
          }
          EXPECT_EQ(files(), names);
          size_t k = 0;
          for (const std::string& name : names) EXPECT_EQ(read_bytes(dir.path / name), bytes[k++]) << name;
          // Still the old file, open and writable, with its tags.
          EXPECT_EQ(rows(t), kAllFive);
          if (tags) {
            EXPECT_EQ(walk(t, "BYNAME"), "10 11 12 13 14 ");
            EXPECT_EQ(walk(t, "LATER"), "12 13 14 ");
          }
          t->go(stack, 3);
          t->set_field_string(1, String("changed"));
          t->update(stack);
          held.clear();
          Table_Object_QzDbf* again = use("people");
          again->go(stack, 3);
          Variant v;
          again->get_field(1, &v);
          EXPECT_EQ(v.string.u8str(), "changed ");
          v.release(stack);
          if (tags) {
            EXPECT_EQ(walk(again, "BYNAME"), "12 10 11 13 14 ");  // CHANGED sorts first
          }
        }
      }
    }
  }
}

// The table's directory renamed away while the table is open: every operation that makes a file
// beside it (the new table, the copy, the index file) fails with 1102, and the table goes on.
TEST_F(Rebuild, OperationsThatMakeFilesInADirectoryGoneAwayFailWith1102) {
  Table_Object_QzDbf* t = people();
  const fs::path home = dir.path;
  const fs::path moved = home.string() + "_moved";
  fs::rename(home, moved);
  struct Back {
    fs::path from, to;
    ~Back() {
      std::error_code ignored;
      fs::rename(from, to, ignored);
    }
  } back{moved, home};
  fielddef_st flag = logical_field("FLAG");
  DataSession_Object* ds = stack->current_data_session;
  const struct {
    const char* name;
    std::function<void()> run;
  } ops[] = {
      {"pack", [&] { t->pack(stack, ds); }},
      {"zap", [&] { t->zap(stack, ds); }},
      {"add", [&] { t->add_column(stack, ds, &flag); }},
      {"copy", [&] { t->copyto(stack, String((home / "copied").string()), false); }},
      {"index", [&] {
         createopts_st none{};
         internal_indexdef_st byname;
         byname.tag_name = String("BYNAME");
         byname.key_expression = String("UPPER(NAME)");
         t->create_index(stack, &none, &byname);
       }},
  };
  for (const auto& op : ops) {
    SCOPED_TRACE(op.name);
    EXPECT_EQ(code_of(op.run), 1102);
  }
  fs::rename(moved, home);
  EXPECT_EQ(files(), kPeopleFiles);
  EXPECT_EQ(rows(t), kAllFive);
  t->pack(stack, ds);
  EXPECT_EQ(rows(t), (std::vector<std::string>{"10 n1 200b ", "12 n3 600d ", "14 n5 1000f "}));
}

TEST_F(Rebuild, TakeoverKeepsTheSessionsOpenFileCount) {
  Table_Object_QzDbf* t = people();
  DataSession_Object* ds = stack->current_data_session;
  const std::string name = t->filename().u8str();
  // A table that is not in the session's map is entered with one area.
  t->pack(stack, ds);
  EXPECT_EQ(ds->open_count(String(name)), 1);
  ds->open_files[name] = 2;
  t->zap(stack, ds);
  EXPECT_EQ(ds->open_count(String(name)), 2);
  ds->open_files.erase(name);
}

TEST_F(Rebuild, InMemoryTableKeepsTheRebuiltFileUnderItsNewName) {
  createopts_st opts = options();
  opts.in_memory = 1;
  std::vector<fielddef_st> defs = {field("A", FIELDINFO_CHAR, 4), field("M", FIELDINFO_MEMO)};
  held.push_back(Table_Object::create(stack, String("cur"), &opts, defs.data(), defs.size()));
  auto* t = static_cast<Table_Object_QzDbf*>(held.back().get());
  for (int i = 0; i < 3; ++i) {
    t->begin_append();
    t->set_field_string(0, String("r" + std::to_string(i)));
    t->set_field_string(1, String(std::string(300, static_cast<char>('x' + i))));
    if (i == 1) t->delete_record();
    t->update(stack);
  }
  const std::string before = t->filename().u8str();
  t->pack(stack, stack->current_data_session);
  EXPECT_NE(t->filename().u8str(), before);
  EXPECT_EQ(t->filename().u8str().rfind("memory:///", 0), 0u);
  EXPECT_EQ(rows(t), (std::vector<std::string>{"r0 300x ", "r2 300z "}));
  EXPECT_TRUE(files().empty());
}

// ---- COPY TO ----

TEST_F(Rebuild, CopyToWritesTheLiveRecordsAndLeavesTheTableAtEnd) {
  Table_Object_QzDbf* t = people();
  t->copyto(stack, String("copy"), false);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(files(), (std::set<std::string>{"people.dbf", "people.fpt", "copy.dbf", "copy.fpt"}));
  Table_Object_QzDbf* c = use("copy");
  EXPECT_EQ(rows(c), (std::vector<std::string>{"10 n1 200b ", "12 n3 600d ", "14 n5 1000f "}));
  EXPECT_EQ(rows(t), kAllFive);
}

TEST_F(Rebuild, CopyToRefusesTheFilesBeingRead) {
  Table_Object_QzDbf* t = people();
  make_table("other.dbf", {field("K", FIELDINFO_INTEGER)});
  DataSession_Object* ds = stack->current_data_session;
  ds->assign(Table_Object::use(stack, String("other"), false, false), stack->symtable, String("other"), 2, false);
  const std::string dbf = read_bytes(dir.path / "people.dbf");
  const std::string fpt = read_bytes(dir.path / "people.fpt");
  const std::string other = read_bytes(dir.path / "other.dbf");
  // Its own name in any spelling, a name that would take its memo file, a table open elsewhere.
  for (const std::string& target : {std::string("people"), std::string("./people.dbf"), (dir.path / "people").string(),
                                    std::string("people.tbl"), std::string("other")}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(code_of([&] { t->copyto(stack, String(target), false); }), 3);
  }
  EXPECT_EQ(read_bytes(dir.path / "people.dbf"), dbf);
  EXPECT_EQ(read_bytes(dir.path / "people.fpt"), fpt);
  EXPECT_EQ(read_bytes(dir.path / "other.dbf"), other);
  EXPECT_EQ(rows(t), kAllFive);
  EXPECT_EQ(files(), (std::set<std::string>{"people.dbf", "people.fpt", "other.dbf"}));
  ds->close(2);
}

TEST_F(Rebuild, FailedCopyToLeavesAnExistingTargetAsItWas) {
  Table_Object_QzDbf* t = people();
  make_table("target.dbf", {field("OLD", FIELDINFO_CHAR, 3), field("MM", FIELDINFO_MEMO)});
  const std::string dbf = read_bytes(dir.path / "target.dbf");
  const std::string fpt = read_bytes(dir.path / "target.fpt");
  for (const char* stage : {"create", "copy", "index"}) {
    SCOPED_TRACE(stage);
    HookGuard hook(stage, Failure::runtime_error);
    EXPECT_EQ(code_of([&] { t->copyto(stack, String("target"), false); }), 1102);
    EXPECT_EQ(read_bytes(dir.path / "target.dbf"), dbf);
    EXPECT_EQ(read_bytes(dir.path / "target.fpt"), fpt);
    EXPECT_EQ(files(), (std::set<std::string>{"people.dbf", "people.fpt", "target.dbf", "target.fpt"}));
  }
  // Without a failure it is replaced; a target without memo loses the old memo file.
  make_table("plain.dbf", {field("K", FIELDINFO_INTEGER)});
  Table_Object_QzDbf* p = use("plain");
  p->copyto(stack, String("target"), false);
  EXPECT_EQ(files(), (std::set<std::string>{"people.dbf", "people.fpt", "plain.dbf", "target.dbf"}));
  EXPECT_EQ(use("target")->cnt_fields(), 1u);
}

// ---- the copy itself ----

fielddef_st nullable(fielddef_st f) {
  f.null_mode = FIELDINFO_NULL;
  return f;
}

// Null flags, the length of a short variable-width value and empty memos come through PACK, and
// through DROP COLUMN, which moves every later field's null bit.
TEST_F(Rebuild, NullsVariableWidthValuesAndEmptyMemosSurviveEveryRebuild) {
  make_table("mixed.dbf", {field("K", FIELDINFO_CHAR, 2), nullable(field("A", FIELDINFO_CHAR, 6)),
                           nullable(field("V", FIELDINFO_VARCHAR, 10)), nullable(field("I", FIELDINFO_INTEGER)),
                           nullable(field("M", FIELDINFO_MEMO))});
  Table_Object_QzDbf* t = use("mixed");
  struct row_st {
    const char* a;  // null: NULL
    const char* v;
    bool i_null;
    int i;
    const char* m;
    bool deleted;
  };
  const std::string long_memo(2000, 'q');
  const row_st data[] = {{"ab", "xy", false, 5, "hello", false},
                         {nullptr, nullptr, true, 0, nullptr, false},
                         {"gone", "gone", false, 9, "gone", true},
                         {"abcdef", "0123456789", false, 0, "", false},
                         {"", "", false, -7, long_memo.c_str(), false}};
  for (size_t r = 0; r < std::size(data); ++r) {
    const row_st& d = data[r];
    t->begin_append();
    t->set_field_string(0, String("k" + std::to_string(r + 1)));
    d.a != nullptr ? t->set_field_string(1, String(d.a)) : t->set_field_null(1);
    d.v != nullptr ? t->set_field_string(2, String(d.v)) : t->set_field_null(2);
    d.i_null ? t->set_field_null(3) : t->set_field_integer(3, integer_type_st{d.i});
    d.m != nullptr ? t->set_field_string(4, String(d.m)) : t->set_field_null(4);
    if (d.deleted) t->delete_record();
    t->update(stack);
  }
  t->pack(stack, stack->current_data_session);
  EXPECT_EQ(rows(t), (std::vector<std::string>{"k1 ab xy 5 hello ", "k2 null null null null ",
                                               "k4 abcdef 100 0  ", "k5   -7 2000q "}));
  t->drop_column(stack, stack->current_data_session, String("A"));
  const std::vector<std::string> dropped = {"k1 xy 5 hello ", "k2 null null null ", "k4 100 0  ",
                                            "k5  -7 2000q "};
  EXPECT_EQ(rows(t), dropped);
  t->copyto(stack, String("copied"), false);
  EXPECT_EQ(rows(use("copied")), dropped);
  // Still one value per field: a value written now reads back, and the others stay as they were.
  t->go(stack, 2);
  t->set_field_string(1, String("new"));
  t->update(stack);
  held.clear();
  EXPECT_EQ(rows(use("mixed")), (std::vector<std::string>{"k1 xy 5 hello ", "k2 new null null ", "k4 100 0  ",
                                                          "k5  -7 2000q "}));
}

// An auto-increment column added to filled records numbers them in order, and the next append
// carries on after them in both auto-increment columns.
TEST_F(Rebuild, AddedAutoIncrementColumnNumbersTheRecords) {
  Table_Object_QzDbf* t = people();
  fielddef_st serial = field("SERIAL", FIELDINFO_INTEGER);
  serial.autoinc = 1;
  t->add_column(stack, stack->current_data_session, &serial);
  EXPECT_EQ(rows(t), (std::vector<std::string>{"10 n1 200b 1 ", "12 n3 600d 2 ", "14 n5 1000f 3 "}));
  t->begin_append();
  t->update(stack);
  held.clear();
  t = use("people");
  t->go(stack, 4);
  Variant id, number;
  t->get_field(0, &id);
  t->get_field(3, &number);
  EXPECT_EQ(id.integer.value, 15);
  EXPECT_EQ(number.integer.value, 4);
}

// More records and memo bytes than one run of the copy holds, a memo larger than a run, and
// records before and after it: every live record and every memo byte arrives, and the memo file
// holds only what is still referenced.
TEST_F(Rebuild, LargeTablesAndMemosCopyWhole) {
  make_table("big.dbf", {field("N", FIELDINFO_INTEGER), field("PAD", FIELDINFO_CHAR, 60), field("M", FIELDINFO_MEMO)});
  Table_Object_QzDbf* t = use("big");
  constexpr int kRecords = 30000;
  auto memo_of = [](int i) {
    if (i == 7) return std::string(3 << 20, 'L');   // larger than a run
    if (i == 8) return std::string(900000, 'H');    // fits a run, crosses where the last one ended
    if (i % 5 == 0) return std::string();
    return std::string(static_cast<size_t>(i % 97) + 1, static_cast<char>('a' + i % 26));
  };
  for (int i = 1; i <= kRecords; ++i) {
    t->begin_append();
    t->set_field_integer(0, integer_type_st{i});
    t->set_field_string(1, String("p" + std::to_string(i)));
    t->set_field_string(2, String(memo_of(i)));
    if (i % 3 == 0) t->delete_record();
    t->update(stack);
  }
  const uintmax_t memo_before = fs::file_size(dir.path / "big.fpt");
  t->pack(stack, stack->current_data_session);
  EXPECT_LT(fs::file_size(dir.path / "big.fpt"), memo_before);
  held.clear();
  t = use("big");
  ASSERT_EQ(t->reccount(), static_cast<size_t>(kRecords - kRecords / 3));
  size_t r = 0;
  size_t wrong = 0;
  for (int i = 1; i <= kRecords; ++i) {
    if (i % 3 == 0) continue;
    t->go(stack, static_cast<int64_t>(++r));
    Variant n, pad, m;
    t->get_field(0, &n);
    t->get_field(1, &pad);
    t->get_field(2, &m);
    std::string p = pad.string.u8str();
    p.erase(p.find_last_not_of(' ') + 1);
    if (n.integer.value != i || p != "p" + std::to_string(i) || m.string.u8str() != memo_of(i)) {
      if (++wrong < 5) ADD_FAILURE() << "record " << r << " of " << i;
    }
    pad.release(stack);
    m.release(stack);
  }
  EXPECT_EQ(wrong, 0u);
}

// A record pointing past the end of the memo file fails the rebuild before anything changes.
TEST_F(Rebuild, MemoPointerPastTheMemoFileFailsWithTheOldTableKept) {
  people();
  held.clear();
  {
    // The NOTE pointer of record 3 (behind the deletion mark, ID and NAME) names a far block.
    std::fstream f(dir.path / "people.dbf", std::ios::in | std::ios::out | std::ios::binary);
    unsigned char head[12];
    f.read(reinterpret_cast<char*>(head), sizeof head);
    const size_t header = head[8] | head[9] << 8;
    const size_t length = head[10] | head[11] << 8;
    const uint32_t far_block = 1000000;
    f.seekp(static_cast<std::streamoff>(header + 2 * length + 1 + 4 + 8));
    f.write(reinterpret_cast<const char*>(&far_block), 4);
  }
  const std::string dbf = read_bytes(dir.path / "people.dbf");
  const std::string fpt = read_bytes(dir.path / "people.fpt");
  Table_Object_QzDbf* t = use("people");
  EXPECT_EQ(code_of([&] { t->pack(stack, stack->current_data_session); }), 2091);  // the table is damaged
  EXPECT_EQ(code_of([&] { t->copyto(stack, String("copied"), false); }), 2091);
  EXPECT_EQ(files(), kPeopleFiles);
  EXPECT_EQ(read_bytes(dir.path / "people.dbf"), dbf);
  EXPECT_EQ(read_bytes(dir.path / "people.fpt"), fpt);
}

// ---- what other readers see ----

TEST_F(Rebuild, OtherReadersReadPackedAlteredAndCopiedTables) {
  make_table("items.dbf", {field("NAME", FIELDINFO_CHAR, 8), field("QTY", FIELDINFO_INTEGER),
                           field("NOTES", FIELDINFO_MEMO)});
  Table_Object_QzDbf* t = use("items");
  const char* names[] = {"one", "two", "three"};
  const char* notes[] = {"first", "second", "third: caf\xC3\xA9"};
  for (int i = 0; i < 3; ++i) {
    t->begin_append();
    t->set_field_string(0, String(names[i]));
    t->set_field_integer(1, integer_type_st{i + 1});
    t->set_field_string(2, String(notes[i]));
    if (i == 1) t->delete_record();
    t->update(stack);
  }
  t->pack(stack, stack->current_data_session);
  fielddef_st flag = logical_field("FLAG");
  t->add_column(stack, stack->current_data_session, &flag);
  for (int r = 1; r <= 2; ++r) {
    t->go(stack, r);
    t->set_field_bool(3, r == 2);
    t->update(stack);
  }
  t->copyto(stack, String("copied"), false);
  held.clear();
  const std::string expected =
      "record 1\nNAME=one\nQTY=1\nNOTES=first\nFLAG=F\n"
      "record 2\nNAME=three\nQTY=3\nNOTES=third: caf\xC3\xA9\nFLAG=T\n";
  const struct {
    const char* program;
    const char* script;
  } readers[] = {{"/usr/bin/python3", "read_dbfread.py"},
                 {"/usr/bin/python3", "read_dbf.py"},
                 {"/usr/bin/perl", "read_xbase.pl"}};
  for (const char* table : {"items.dbf", "copied.dbf"}) {
    for (const auto& r : readers) {
      SCOPED_TRACE(std::string(table) + " through " + r.script);
      EXPECT_EQ(testing_files::run_command(std::string(r.program) + " " + interop_script(r.script) + " " +
                                           (dir.path / table).native()),
                expected);
    }
  }
}

}  // namespace

namespace {

// blanks.dbf: a full row, a blank one, one of false and zeros, one whose QTY is null, one whose
// FLAG holds '?' (not set, as other writers mark it), and a deleted one. The descriptors of FLAG,
// AMT, RATE and QTY carry the binary flag bit, which other writers leave there and which these
// types ignore; a rebuilt table does not set it, so the rebuild takes those fields through their
// values.
struct RebuildBlanks : Rebuild {
  Table_Object_QzDbf* blanks() {
    fielddef_st qty = field("QTY", FIELDINFO_NUMERIC, 4);
    qty.null_mode = FIELDINFO_NULL;
    make_table("blanks.dbf", {field("NAME", FIELDINFO_CHAR, 6), logical_field("FLAG"),
                              field("AMT", FIELDINFO_NUMERIC, 6, 2), field("RATE", FIELDINFO_FLOAT, 8, 3), qty});
    Table_Object_QzDbf* t = use("blanks");
    const char* names[] = {"full", "blank", "zero", "null", "unset", "gone"};
    for (int i = 0; i < 6; ++i) {
      t->begin_append();
      t->set_field_string(0, String(names[i]));
      if (i == 0 || i == 2) {
        t->set_field_bool(1, i == 0);
        t->set_field_numeric(2, numeric_type_st{i == 0 ? 1.5 : 0, 2});
        t->set_field_numeric(3, numeric_type_st{i == 0 ? 2.25 : 0, 3});
        t->set_field_integer(4, integer_type_st{i == 0 ? 7 : 0});
      }
      if (i == 3) t->set_field_null(4);
      if (i == 5) t->delete_record();
      t->update(stack);
    }
    held.clear();
    std::string bytes = read_bytes(dir.path / "blanks.dbf");
    for (int field_number = 2; field_number <= 5; ++field_number) bytes[32 * field_number + 18] |= 0x04;
    const size_t header = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
    const size_t length = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11]) << 8;
    bytes[header + 4 * length + 1 + 6] = '?';  // FLAG of "unset", behind the mark and NAME
    write_bytes(dir.path / "blanks.dbf", bytes);
    return use("blanks");
  }

  // The stored bytes of the fields that were changed, record by record, as our file layer lays
  // them out ('|' between fields), and whether QTY reads null.
  std::vector<std::string> stored(const char* table) {
    std::unique_ptr<DbfFile> dbf = open_dbf_file(String((dir.path / table).string()), 0, stack);
    const std::string bytes = read_bytes(dir.path / table);
    std::vector<std::string> out;
    for (size_t r = 1; r <= dbf->record_count; ++r) {
      const size_t at = static_cast<size_t>(dbf->record_offset(r));
      std::string row;
      for (size_t i = 1; i <= 4; ++i) {
        const DbfField* f = dbf->fields[i];
        row += bytes.substr(at + f->displacement, f->width) + "|";
      }
      row += dbf->fields[4]->is_null(bytes.data() + at) ? "null" : "-";
      out.push_back(row);
    }
    dbf->close();
    return out;
  }
};

TEST_F(RebuildBlanks, ChangedFieldsKeepBlankLogicalsAndNumbers) {
  const std::vector<std::string> expected_bytes = {
      "T|  1.50|   2.250|   7|-",
      " |      |        |    |-",
      "F|  0.00|   0.000|   0|-",
      " |      |        |    |null",
      " |      |        |    |-",
  };
  // What the other reader prints, with the line of an added column after each record.
  const auto expected_text = [](const char* added) {
    const char* rows[] = {
        "NAME=full\nFLAG=T\nAMT=1.5000\nRATE=2.2500\nQTY=7\n",
        "NAME=blank\nFLAG=\nAMT=\nRATE=\nQTY=\n",
        "NAME=zero\nFLAG=F\nAMT=0.0000\nRATE=0.0000\nQTY=0\n",
        "NAME=null\nFLAG=\nAMT=\nRATE=\nQTY=\n",
        "NAME=unset\nFLAG=\nAMT=\nRATE=\nQTY=\n",
    };
    std::string text;
    int r = 0;
    for (const char* row : rows) text += "record " + std::to_string(++r) + "\n" + row + added;
    return text;
  };
  fielddef_st extra = logical_field("EXTRA");
  const struct {
    const char* name;
    std::function<void(Table_Object_QzDbf*)> run;
    const char* result;
    const char* added;  // what the other reader prints for the added column
  } ops[] = {
      {"pack", [&](Table_Object_QzDbf* t) { t->pack(stack, stack->current_data_session); }, "blanks.dbf", ""},
      {"add", [&](Table_Object_QzDbf* t) { t->add_column(stack, stack->current_data_session, &extra); },
       "blanks.dbf", "EXTRA=\n"},
      {"copy", [&](Table_Object_QzDbf* t) { t->copyto(stack, String("copied"), false); }, "copied.dbf", ""},
  };
  for (const auto& op : ops) {
    SCOPED_TRACE(op.name);
    held.clear();
    for (const std::string& name : files()) fs::remove(dir.path / name);
    Table_Object_QzDbf* t = blanks();
    op.run(t);
    held.clear();
    EXPECT_EQ(stored(op.result), expected_bytes);
    // Our reader: blank logicals and numbers read false and 0 as before, the null stays null.
    t = use(fs::path(op.result).stem().c_str());
    t->movefirst(stack);
    for (int r = 1; r <= 5; ++r, t->movenext(stack, 1)) {
      Variant flag, amt, qty;
      t->get_field(1, &flag);
      t->get_field(2, &amt);
      t->get_field(4, &qty);
      EXPECT_EQ(flag.tag, r == 1 ? VT_TRUE : VT_FALSE) << r;
      EXPECT_EQ(qty.tag == VT_NULL, r == 4) << r;
      EXPECT_EQ(amt.tag == VT_NUMERIC ? amt.numeric.value : -1, r == 1 ? 1.5 : 0) << r;
    }
    held.clear();
    // The other reader prints the null flags as a field of their own: not compared.
    std::istringstream lines(testing_files::run_command("/usr/bin/python3 " + interop_script("read_dbfread.py") +
                                                        " " + (dir.path / op.result).native()));
    std::string read;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("_NULLFLAGS=", 0) != 0) read += line + "\n";
    }
    EXPECT_EQ(read, expected_text(op.added));
  }
}

}  // namespace

namespace {

// A table keeps its code page through every rebuild and COPY TO, also one whose character set
// has no Windows number (those rebuilds failed with 9902), and its text reads back the same.
TEST_F(Rebuild, RebuildsAndCopiesKeepTheCodePage) {
  const struct {
    int codepage;
    uint8_t mark;
    const char* text;  // UTF-8, every character in the code page
  } cases[] = {
      {620, 0x69, "Z\xC5\x82oty \xC4\x85"},    // Mazovia: Polish letters
      {895, 0x68, "\xC4\x8D\x61j \xC5\xBE"},   // Kamenicky: Czech letters
      {437, 0x01, "\xC3\xA9t\xC3\xA9"},
      {1252, 0x03, "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepage);
    held.clear();
    for (const std::string& name : files()) fs::remove(dir.path / name);
    create_table(dir.path / "cp.dbf", {field("NAME", FIELDINFO_CHAR, 10)}, options(static_cast<uint64_t>(c.codepage)))
        ->close();
    Table_Object_QzDbf* t = use("cp");
    for (int i = 0; i < 2; ++i) {
      t->begin_append();
      t->set_field_string(0, String(c.text));
      if (i == 0) t->delete_record();
      t->update(stack);
    }
    fielddef_st flag = logical_field("FLAG");
    EXPECT_EQ(code_of([&] { t->pack(stack, stack->current_data_session); }), 0);
    EXPECT_EQ(code_of([&] { t->add_column(stack, stack->current_data_session, &flag); }), 0);
    EXPECT_EQ(code_of([&] { t->copyto(stack, String("copied"), false); }), 0);
    EXPECT_EQ(t->codepage(), c.codepage);
    held.clear();
    for (const char* table : {"cp", "copied"}) {
      EXPECT_EQ(static_cast<uint8_t>(read_bytes(dir.path / (std::string(table) + ".dbf"))[29]), c.mark) << table;
      Table_Object_QzDbf* r = use(table);
      EXPECT_EQ(r->codepage(), c.codepage) << table;
      EXPECT_EQ(r->reccount(), 1u) << table;
      Variant v;
      r->get_field(0, &v);
      std::string text = v.string.u8str();
      text.erase(text.find_last_not_of(' ') + 1);
      EXPECT_EQ(text, c.text) << table;
      v.release(stack);
    }
  }
}

}  // namespace
