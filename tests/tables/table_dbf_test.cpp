// The DBF table object on real files: opening (path rules, modes, every refusal on crafted
// files), creating (never over an existing file), field writes with their errors (read-only,
// non-nullable, auto-increment, overflow, type and code-page failures), update and revert, GO,
// the low-level moves, locks, the tag-less index answers, the catch-all, sharing across
// processes, USE ... AGAIN through a session, and the runtime's table handles.
#include <qzbase.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "capture_screen.h"
#include "dbf_support.h"
#include "host/runtime.h"
#include "tables/data_session.h"
#include "tables/table_dbf.h"
#include "runtime_errors.h"
#include "table_fixture.h"
#include "temp_dir.h"
#include "vm/vm_stack.h"

using namespace qzbase;
using namespace qzbase::testing_dbf;
using qzbase::testing_files::CwdGuard;
using qzbase::testing_files::TempDir;
namespace fs = std::filesystem;

namespace {

struct TableFixture : ::testing::Test, testing_tables::TableRuntime {
  TableFixture() {
    init_dbf_tables();  // other tests of this binary install doubles of their own
  }

  // A table made by the file layer under dir, closed again.
  fs::path make(const char* name, std::vector<fielddef_st> fields, int records = 0) {
    fs::path p = dir.path / name;
    auto dbf = create_table(p, fields);
    for (int i = 0; i < records; ++i) {
      blank_current(dbf.get());
      append_current(dbf.get());
    }
    dbf->close();
    return p;
  }
};

using testing_errors::Raised;
using testing_errors::raised;

#define EXPECT_RAISES(body, want_code, want_detail)   \
  do {                                                \
    Raised r_ = raised([&] { body; });                \
    EXPECT_TRUE(r_.error) << #body;                   \
    EXPECT_EQ(r_.code, want_code) << #body;           \
    EXPECT_EQ(r_.detail, want_detail) << #body;       \
  } while (0)

std::string canonical_of(const fs::path& p) { return fs::canonical(p).native(); }

void patch(const fs::path& p, size_t offset, const std::string& bytes) {
  std::string all = read_bytes(p);
  all.replace(offset, bytes.size(), bytes);
  write_bytes(p, all);
}

// ---------------------------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------------------------

TEST_F(TableFixture, UseFindsTheTableAndStandsOnTheFirstRecord) {
  make("orders.dbf", {field("NAME", FIELDINFO_CHAR, 10), field("QTY", FIELDINFO_INTEGER)}, 3);
  Table_Object_QzDbf* t = use("orders");
  EXPECT_EQ(t->filename().u8str(), canonical_of(dir.path / "orders.dbf"));
  EXPECT_EQ(t->recno(), 1u);
  EXPECT_FALSE(t->eof());
  EXPECT_EQ(t->reccount(), 3u);
  EXPECT_EQ(t->cnt_fields(), 2u);
  EXPECT_EQ(t->get_field_by_symbol_id(stack->symtable->symbolize("qty")), 1);
  EXPECT_EQ(t->get_version(), 0x32);
  EXPECT_EQ(t->codepage(), 1252);
  // Another extension is used as it is; a directory in the name is kept.
  fs::create_directories(dir.path / "sub");
  fs::copy_file(dir.path / "orders.dbf", dir.path / "sub" / "orders.tab");
  EXPECT_EQ(use("sub/orders.tab")->filename().u8str(), canonical_of(dir.path / "sub" / "orders.tab"));
}

TEST_F(TableFixture, MissingTableNamesItAsGiven) {
  EXPECT_RAISES(use("nosuch"), 1, "nosuch");
  EXPECT_RAISES(use("sub/nosuch"), 1, "sub/nosuch");
}

// The open refusals, each on a crafted file.
TEST_F(TableFixture, OpenRefusalsOnCraftedFiles) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> craft;
    int code;
    bool canonical_detail;
    const char* detail;
  };
  const Case cases[] = {
      {"version byte", [](const fs::path& p) { patch(p, 0, "\x07"); }, 15, true, ""},
      {"record count beyond the file", [](const fs::path& p) { patch(p, 4, std::string("\x09\0\0\0", 4)); }, 2091,
       true, ""},
      {"code page mark 0", [](const fs::path& p) { patch(p, 29, std::string(1, '\0')); }, 1001, false, "codepage"},
      {"field type letter", [](const fs::path& p) { patch(p, 32 + 11, "X"); }, 1712, false, ""},
      {"header length", [](const fs::path& p) { patch(p, 8, std::string("\x30\0", 2)); }, 2091, false, ""},
      {"short header", [](const fs::path& p) { write_bytes(p, read_bytes(p).substr(0, 20)); }, 9902, false, ""},
      {"database container", [](const fs::path& p) { patch(p, 32 + 32 + 1, "shop.dbc"); }, 1001, false,
       "qz database container support"},
  };
  for (const Case& c : cases) {
    fs::path p = make("crafted.dbf", {field("NAME", FIELDINFO_CHAR, 10)}, 1);
    c.craft(p);
    Raised r = raised([&] { use("crafted"); });
    EXPECT_TRUE(r.error) << c.what;
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.detail, c.canonical_detail ? canonical_of(p) : std::string(c.detail)) << c.what;
    held.clear();
    fs::remove(p);
  }
  // A memo table without its memo file.
  fs::path memo = make("notes.dbf", {field("TEXT", FIELDINFO_MEMO)});
  fs::remove(dir.path / "notes.fpt");
  EXPECT_RAISES(use("notes"), 41, "");
  // A refused table leaves its file free: an exclusive open works afterwards.
  fs::path ok = make("free.dbf", {field("NAME", FIELDINFO_CHAR, 10)});
  patch(ok, 32 + 32 + 1, "shop.dbc");
  EXPECT_RAISES(use("free"), 1001, "qz database container support");
  EXPECT_NO_THROW(File* f = open_file(String(ok), OPEN_WRITE); f->close(); delete f;);
}

TEST_F(TableFixture, ExclusiveAndSharedOpensInOneProcess) {
  make("t.dbf", {field("NAME", FIELDINFO_CHAR, 10)});
  use("t");
  EXPECT_RAISES(use("t"), 1705, "");
  EXPECT_RAISES(use("t", true), 1705, "");
  held.clear();
  use("t", true);
  use("t", true);
  EXPECT_RAISES(use("t"), 1705, "");
}

// ---------------------------------------------------------------------------------------------
// Creating
// ---------------------------------------------------------------------------------------------

TEST_F(TableFixture, CreateNeverReplacesAnExistingTable) {
  fs::path p = make("orders.dbf", {field("NAME", FIELDINFO_CHAR, 10)}, 2);
  std::string before = read_bytes(p);
  createopts_st o = options();
  fielddef_st f[] = {field("OTHER", FIELDINFO_INTEGER)};
  // Free, and in use by another table object.
  EXPECT_RAISES(Table_Object::create(stack, String("orders"), &o, f, 1), 7, "orders");
  use("orders", true);
  EXPECT_RAISES(Table_Object::create(stack, String("orders.dbf"), &o, f, 1), 7, "orders.dbf");
  EXPECT_EQ(read_bytes(p), before);
  EXPECT_EQ(held.back().get() != nullptr, true);
  EXPECT_EQ(static_cast<Table_Object*>(held.back().get())->reccount(), 2u);
}

TEST_F(TableFixture, CreateRefusals) {
  createopts_st o = options();
  // A duplicate field name leaves no file behind.
  fielddef_st dup[] = {field("A", FIELDINFO_INTEGER), field("a", FIELDINFO_INTEGER)};
  EXPECT_RAISES(Table_Object::create(stack, String("dup"), &o, dup, 2), 1712, "");
  EXPECT_FALSE(fs::exists(dir.path / "dup.dbf"));
  // A directory that is not there: the file cannot be made, which is no file in use.
  fielddef_st one[] = {field("A", FIELDINFO_INTEGER)};
  EXPECT_RAISES(Table_Object::create(stack, String("nodir/t"), &o, one, 1), 1102, "nodir/t.dbf");
  // In memory only a plain name is accepted.
  createopts_st m = options();
  m.in_memory = 1;
  EXPECT_RAISES(Table_Object::create(stack, String("t.dbf"), &m, one, 1), 11, "");
  EXPECT_RAISES(Table_Object::create(stack, String((dir.path / "t").native()), &m, one, 1), 11, "");
  ObjectPointer mem = Table_Object::create(stack, String("sub/t"), &m, one, 1);
  EXPECT_TRUE(static_cast<Table_Object*>(mem.get())->filename().u8str().starts_with("memory:///"));
  EXPECT_FALSE(fs::exists(dir.path / "sub"));
}

TEST_F(TableFixture, CreateTakesTheRuntimesCodePageAndOpensTheTable) {
  createopts_st o = options(0);
  fielddef_st f[] = {field("Name", FIELDINFO_CHAR, 8), field("NAME", FIELDINFO_INTEGER)};
  // Field names are compared without case only for the name map: the create refuses the pair.
  EXPECT_RAISES(Table_Object::create(stack, String("twins"), &o, f, 2), 1712, "");
  ObjectPointer t = Table_Object::create(stack, String("plain"), &o, f, 1);
  auto* table = static_cast<Table_Object*>(t.get());
  EXPECT_EQ(table->codepage(), runtime->codepage->record().windows_codepage);
  EXPECT_EQ(table->filename().u8str(), (dir.path / "plain.dbf").native());
  EXPECT_EQ(table->get_field_by_symbol_id(stack->symtable->symbolize("NAME")), 0);
}

// Two descriptors whose names differ only in case: the name resolves to the first.
TEST_F(TableFixture, FirstOfTwoFieldsNamedAlikeWins) {
  fs::path p = make("case.dbf", {field("AB", FIELDINFO_INTEGER), field("CD", FIELDINFO_INTEGER)});
  patch(p, 32 + 32, "ab");
  Table_Object_QzDbf* t = use("case");
  symbol_id_type ab = stack->symtable->symbolize("AB");
  EXPECT_EQ(t->get_field_by_symbol_id(ab), 0);
  EXPECT_EQ(t->get_symbol_id_by_field(1), ab);
}

// ---------------------------------------------------------------------------------------------
// Field writes
// ---------------------------------------------------------------------------------------------

TEST_F(TableFixture, WriteErrorsNameTheField) {
  fielddef_st id = field("ID", FIELDINFO_INTEGER);
  id.autoinc = 1;
  fielddef_st note = field("NOTE", FIELDINFO_CHAR, 10);
  note.null_mode = FIELDINFO_NOT_NULL;
  make("w.dbf", {id, note, field("PRICE", FIELDINFO_NUMERIC, 5, 1), field("QTY", FIELDINFO_INTEGER),
                 field("DONE", FIELDINFO_LOGICAL), field("DAY", FIELDINFO_DATE)},
       1);
  Table_Object_QzDbf* t = use("w");
  // Not nullable.
  EXPECT_RAISES(t->set_field_null(1), 1581, "NOTE");
  // Read-only fields, every kind of write.
  t->set_field_readonly(3, true);
  EXPECT_RAISES(t->set_field_integer(3, {5}), 2088, "QTY");
  EXPECT_RAISES(t->set_field_numeric(3, {5.0, 0}), 2088, "QTY");
  EXPECT_RAISES(t->set_field_money(3, {50000}), 2088, "QTY");
  t->set_field_readonly(4, true);
  EXPECT_RAISES(t->set_field_bool(4, true), 2088, "DONE");
  t->set_field_readonly(5, true);
  EXPECT_RAISES(t->set_field_date(5, {2460000}), 2088, "DAY");
  t->set_field_readonly(1, true);
  EXPECT_RAISES(t->set_field_string(1, String("x")), 2088, "NOTE");
  EXPECT_RAISES(t->set_field_null(1), 2088, "NOTE");
  t->set_field_readonly(3, false);
  EXPECT_NO_THROW(t->set_field_integer(3, {5}));
  // Overflow and type conflicts.
  EXPECT_RAISES(t->set_field_integer(3, {int64_t{1} << 40}), 39, "");
  EXPECT_RAISES(t->set_field_numeric(2, {123456.0, 1}), 39, "");
  EXPECT_RAISES(t->set_field_string(3, String("x")), 107, "");
  EXPECT_RAISES(t->set_field_bool(2, true), 107, "");
  EXPECT_RAISES(t->set_field_date(3, {2460000}), 107, "");
  // A character the table's code page cannot hold.
  t->set_field_readonly(1, false);
  EXPECT_RAISES(t->set_field_string(1, String(U"\u03A9")), 9011, "");
}

TEST_F(TableFixture, AutoIncrementWritesAndAutoincError) {
  fielddef_st id = field("ID", FIELDINFO_INTEGER);
  id.autoinc = 1;
  make("a.dbf", {id, field("N", FIELDINFO_INTEGER)});
  Table_Object_QzDbf* t = use("a");
  t->begin_append();
  EXPECT_RAISES(t->set_field_integer(0, {7}), 2088, "ID");
  EXPECT_RAISES(t->set_field_numeric(0, {7.0, 0}), 2088, "ID");
  t->autoinc_error = false;
  EXPECT_NO_THROW(t->set_field_integer(0, {7}));
  EXPECT_NO_THROW(t->set_field_numeric(0, {7.0, 0}));
  EXPECT_NO_THROW(t->set_field_money(0, {70000}));
  // Other kinds of value are refused whatever the flag says.
  EXPECT_RAISES(t->set_field_string(0, String("7")), 2088, "ID");
  EXPECT_RAISES(t->set_field_bool(0, true), 2088, "ID");
  // Plain read-only fields stay errors with the flag off.
  t->set_field_readonly(1, true);
  EXPECT_RAISES(t->set_field_integer(1, {1}), 2088, "N");
  t->update(stack);
  Variant v;
  t->get_field(0, &v);
  EXPECT_EQ(v.tag, VT_INTEGER);
  EXPECT_EQ(v.integer.value, 1);  // the ignored writes left the next value in place
  v.release(stack);
}

TEST_F(TableFixture, FailedUpdateRevertsAndNamesTheTable) {
  make("r.dbf", {field("N", FIELDINFO_INTEGER)}, 1);
  Table_Object_QzDbf* t = use("r", false, true);
  t->set_field_integer(0, {42});
  EXPECT_RAISES(t->update(stack), 111, t->filename().u8str());
  Variant v;
  t->get_field(0, &v);
  EXPECT_EQ(v.integer.value, 0);
  v.release(stack);
  EXPECT_EQ(t->recno(), 1u);
}

TEST_F(TableFixture, DeleteRecallUpdateRevert) {
  fs::path p = make("d.dbf", {field("N", FIELDINFO_INTEGER)}, 2);
  Table_Object_QzDbf* t = use("d");
  t->delete_record();
  EXPECT_TRUE(t->deleted());
  t->revert();
  EXPECT_FALSE(t->deleted());
  t->delete_record();
  t->update(stack);
  t->go(stack, 2);
  t->go(stack, 1);
  EXPECT_TRUE(t->deleted());
  t->recall_record();
  EXPECT_FALSE(t->deleted());
  held.clear();
  // Written: the first record carries the mark.
  auto dbf = open_dbf_file(String(p), 0);
  EXPECT_EQ(read_bytes(p)[dbf->header_length], '*');
}

// ---------------------------------------------------------------------------------------------
// Records and moves
// ---------------------------------------------------------------------------------------------

TEST_F(TableFixture, GoAndTheLowLevelMoves) {
  make("g.dbf", {field("N", FIELDINFO_INTEGER)}, 3);
  Table_Object_QzDbf* t = use("g");
  t->go(stack, 2);
  for (int64_t bad : {int64_t{0}, int64_t{4}, int64_t{-1}}) {
    EXPECT_RAISES(t->go(stack, bad), 5, "");
    EXPECT_EQ(t->recno(), 2u);
  }
  t->movefirst(stack);
  t->moveprevious(stack, 1);  // rests at BOF without error
  EXPECT_TRUE(t->bof());
  EXPECT_EQ(t->recno(), 1u);
  EXPECT_RAISES(t->moveprevious(stack, 1), 38, "");
  t->movelast(stack);
  EXPECT_EQ(t->recno(), 3u);
  t->movenext(stack, 1);
  EXPECT_TRUE(t->eof());
  EXPECT_RAISES(t->movenext(stack, 1), 4, "");
  t->begin_append();
  EXPECT_EQ(t->recno(), 4u);
  t->revert();
  EXPECT_TRUE(t->eof());
}

TEST_F(TableFixture, EmptyTable) {
  make("e.dbf", {field("N", FIELDINFO_INTEGER)});
  Table_Object_QzDbf* t = use("e");
  EXPECT_TRUE(t->eof());
  t->movetoeof();
  EXPECT_EQ(t->recno(), 1u);
  EXPECT_TRUE(t->eof_lowlevel());
  EXPECT_FALSE(t->lock_lowlevel());
}

// What an operation's own list does not name still arrives as a language error.
TEST_F(TableFixture, CatchAllOnRealFailures) {
  fs::path p = make("c.dbf", {field("NAME", FIELDINFO_CHAR, 10)}, 2);
  // A torn second record, met by SKIP (the read-only open does not check the count).
  std::string all = read_bytes(p);
  write_bytes(p, all.substr(0, all.size() - 5));
  Table_Object_QzDbf* t = use("c", false, true);
  EXPECT_RAISES(t->movenext(stack, 1), 2091, "");
  // A re-entered file.
  t->movefirst(stack);
  t->dbf()->busy = true;
  EXPECT_RAISES(t->movenext_lowlevel(), 1887, "");
  EXPECT_RAISES(t->delete_record(), 1887, "");
  t->dbf()->busy = false;
  // A closed table.
  t->close(false);
  EXPECT_RAISES(t->movefirst_lowlevel(), 9902, "");
}

TEST_F(TableFixture, RecordLocksOnASharedTable) {
  make("l.dbf", {field("N", FIELDINFO_INTEGER)}, 3);
  Table_Object_QzDbf* t = use("l", true);
  EXPECT_TRUE(t->lock_lowlevel());
  EXPECT_TRUE(t->isrlocked());
  EXPECT_TRUE(t->isrlocked(1));
  EXPECT_FALSE(t->isrlocked(2));
  t->go(stack, 3);
  EXPECT_TRUE(t->lock_lowlevel());
  EXPECT_TRUE(t->unlock());
  EXPECT_FALSE(t->isrlocked(3));
  t->go(stack, 1);
  t->unlock_all();
  EXPECT_FALSE(t->isrlocked(1));
}

// ---------------------------------------------------------------------------------------------
// Without tags
// ---------------------------------------------------------------------------------------------

TEST_F(TableFixture, IndexOperationsOfATableWithoutTags) {
  make("i.dbf", {field("N", FIELDINFO_INTEGER)}, 1);
  Table_Object_QzDbf* t = use("i");
  EXPECT_EQ(t->cnt_indizes(), 0u);
  EXPECT_FALSE(t->is_index_scan());
  EXPECT_EQ(t->get_index_dir(), SEEK_DIR_FORWARD);
  EXPECT_FALSE(t->descending());
  internal_indexdef_st def;
  EXPECT_FALSE(t->get_current_index_info(&def));
  EXPECT_FALSE(t->get_index_info(0, &def));
  EXPECT_RAISES(t->select_index_tag(stack, String("byname"), SEEK_DIR_SELECTED), 1683, "byname");
  EXPECT_RAISES(t->select_index(stack, 1, SEEK_DIR_SELECTED), 1683, "");
  char key[16];
  Variant v;
  EXPECT_RAISES(t->create_index_key(&v, key, sizeof key, true), 26, "");
  EXPECT_RAISES(t->seek_lowlevel(stack, key, 1, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false), 26, "");
  EXPECT_RAISES(t->seek_record(&v, 1), 26, "");
  EXPECT_RAISES(t->get_index_key(key, sizeof key), 26, "");
  EXPECT_RAISES(t->seek(stack, key, 1, SEEK_RNG_EQUAL, SEEK_DIR_SELECTED, false), 26, "");
  EXPECT_RAISES(t->gather_memvar(stack), 1001, "GATHER MEMVAR");
  EXPECT_RAISES(Table_Object_QzDbf::begin(nullptr), 1001, "");
}

TEST_F(TableFixture, FieldInfo) {
  fielddef_st id = field("ID", FIELDINFO_INTEGER);
  id.autoinc = 1;
  fielddef_st note = field("NOTE", FIELDINFO_CHAR, 12);
  note.null_mode = FIELDINFO_NULL;
  make("f.dbf", {id, note, field("PRICE", FIELDINFO_NUMERIC, 8, 2)});
  Table_Object_QzDbf* t = use("f");
  fielddef_st out;
  t->get_field_info(0, &out);
  EXPECT_STREQ(out.name, "ID");
  EXPECT_EQ(out.type, FIELDINFO_INTEGER);
  EXPECT_EQ(out.autoinc, 1);
  EXPECT_EQ(out.autoinc_next, 1u);
  EXPECT_EQ(out.autoinc_step, 1u);
  EXPECT_EQ(out.autoinc_next_given, 1);
  EXPECT_EQ(out.null_mode, FIELDINFO_NOT_NULL);
  t->get_field_info(1, &out);
  EXPECT_STREQ(out.name, "NOTE");
  EXPECT_EQ(out.length, 12u);
  EXPECT_EQ(out.null_mode, FIELDINFO_NULL);
  EXPECT_EQ(t->get_field_type(2), FIELDINFO_NUMERIC);
  t->get_field_info(2, &out);
  EXPECT_EQ(out.length, 8u);
  EXPECT_EQ(out.decimals, 2u);
  EXPECT_EQ(out.length_omitted, 0);
}

// ---------------------------------------------------------------------------------------------
// Sessions, handles, processes
// ---------------------------------------------------------------------------------------------

TEST_F(TableFixture, UseAgainWithSharedOpens) {
  make("orders.dbf", {field("N", FIELDINFO_INTEGER)}, 1);
  DataSession_Object* ds = stack->current_data_session;
  ASSERT_NE(ds, nullptr);
  ds->assign(Table_Object::use(stack, String("orders"), true, false), stack->symtable, String("orders"), 1, false);
  // The same file again without AGAIN, then with it.
  EXPECT_RAISES(ds->assign(Table_Object::use(stack, String("orders"), true, false), stack->symtable,
                           String("second"), 2, false),
                3, "");
  EXPECT_FALSE(ds->used(2));
  ds->assign(Table_Object::use(stack, String("orders"), true, false), stack->symtable, String("second"), 2, true);
  EXPECT_TRUE(ds->used(2));
  ds->close(1);
  EXPECT_TRUE(ds->used(2));
  ds->close(2);
}

TEST_F(TableFixture, RuntimeTableHandles) {
  make("h.dbf", {field("N", FIELDINFO_INTEGER)}, 2);
  void* handle = runtime->open_table(stack, String("h"));
  auto* t = static_cast<Table_Object*>(handle);
  EXPECT_EQ(t->reccount(), 2u);
  // Opened shared: another shared open works, an exclusive one does not.
  EXPECT_NO_THROW(use("h", true));
  EXPECT_RAISES(use("h"), 1705, "");
  held.clear();
  runtime->close_table(handle);
  runtime->close_table(handle);  // unknown now: nothing happens
  EXPECT_NO_THROW(use("h"));
  EXPECT_RAISES(runtime->open_table(stack, String("nosuch")), 1, "nosuch");
}

// The child opens the table in a mode and reports back through a pipe, holding it until told.
struct Holder {
  pid_t pid = -1;
  int ready[2] = {-1, -1};
  int done[2] = {-1, -1};

  Holder(const fs::path& p, bool shared) {
    if (pipe(ready) != 0 || pipe(done) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid == 0) {
      char c = 'n';
      try {
        File* f = open_file(String(p), OPEN_WRITE | (shared ? OpenMode{OPEN_SHARED} : 0));
        c = 'y';
        if (write(ready[1], &c, 1) != 1) _exit(3);
        if (read(done[0], &c, 1) != 1) _exit(4);
        f->close();
      } catch (...) {
        if (write(ready[1], &c, 1) != 1) _exit(3);
      }
      _exit(0);
    }
    char c = 0;
    if (read(ready[0], &c, 1) != 1 || c != 'y') throw std::runtime_error("child");
  }
  ~Holder() {
    char c = 'x';
    if (write(done[1], &c, 1) != 1) {
    }
    int status = 0;
    waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  }
};

TEST_F(TableFixture, SharingAcrossProcesses) {
  fs::path p = make("x.dbf", {field("N", FIELDINFO_INTEGER)}, 1);
  {
    Holder other(p, true);
    EXPECT_NO_THROW(use("x", true));  // two shared opens coexist
    EXPECT_RAISES(use("x"), 1705, "");
    held.clear();
  }
  {
    Holder other(p, false);
    EXPECT_RAISES(use("x"), 1705, "");
    EXPECT_RAISES(use("x", true), 1705, "");
  }
  EXPECT_NO_THROW(use("x"));  // free again
}

// A FOR loop over a variable named like a field of the selected table counts the variable.
TEST_F(TableFixture, ForLoopVariableNamedLikeAField) {
  make("loop.dbf", {field("I", FIELDINFO_INTEGER)}, 1);
  VmStack* main = runtime->get_main_stack();
  DataSession_Object* ds = main->current_data_session;
  ds->assign(Table_Object::use(main, String("loop"), true, false), main->symtable, String("loop"), 1, false);
  auto* t = static_cast<Table_Object*>(ds->current_table);
  ASSERT_NE(t, nullptr);
  t->set_field_integer(0, {7});
  screen.out.clear();
  EXPECT_EQ(runtime->run_command(String("FOR i = 1 TO 3\n?? m.i\nENDFOR\n?? i")), 0) << screen.err;
  EXPECT_EQ(screen.out, "1237");
  ds->close(1);
}

}  // namespace
