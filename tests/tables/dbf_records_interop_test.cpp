// A table written through the record path (appends with their header updates, a memo rewritten,
// an append rolled back) reads back through readers this library did not write.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "dbf_support.h"
#include "tables/index_hooks.h"
#include "run_command.h"

namespace qzbase {
namespace {

using testing_files::run_command;
using namespace testing_dbf;
using testing_files::TempDir;

const char* const kExpected =
    "record 1\nNAME=one\nQTY=1\nNOTES=first\n"
    "record 2\nNAME=two\nQTY=2\nNOTES=rewritten twice: caf\xC3\xA9\n"
    "record 3\nNAME=three\nQTY=3\nNOTES=\n";

class FailingInsert : public DbfNoIndexHooks {
 public:
  void insert_keys(VmStack*) override { throw dbf_unique_key_violation(); }
};

std::filesystem::path write_through_records(const TempDir& dir) {
  auto p = dir.path / "records.dbf";
  create_table(p, {field("NAME", FIELDINFO_CHAR, 10), field("QTY", FIELDINFO_INTEGER), field("NOTES", FIELDINFO_MEMO)});
  {
    auto d = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
    const char* names[] = {"one", "two", "three"};
    const char* notes[] = {"first", "second", ""};
    for (int i = 0; i < 3; ++i) {
      d->begin_append();
      d->set_string(0, String(names[i]));
      d->set_integer(1, integer_type_st{i + 1});
      if (*notes[i]) d->set_string(2, String(notes[i]));
      d->update(nullptr);
    }
    d->go_to_in_file(2);
    d->set_string(2, String("rewritten once"));
    d->update(nullptr);
    d->set_string(2, String("rewritten twice: café"));
    d->update(nullptr);
  }
  // An append that fails after its record was written leaves nothing for a reader to see.
  set_dbf_index_hooks_factory([](DbfFile*) -> DbfIndexHooks* { return new FailingInsert(); });
  try {
    auto d = open_dbf_file(String(p), OPEN_WRITE);
    d->begin_append();
    d->set_string(0, String("lost"));
    d->set_string(2, String("lost memo"));
    EXPECT_THROW(d->update(nullptr), dbf_unique_key_violation);
  } catch (...) {
    set_dbf_index_hooks_factory(nullptr);
    throw;
  }
  set_dbf_index_hooks_factory(nullptr);
  return p;
}

struct Reader {
  const char* program;
  const char* script;
};

TEST(DbfRecordsInterop, OtherReadersReadTablesWrittenRecordByRecord) {
  const Reader readers[] = {{"/usr/bin/python3", "read_dbfread.py"},
                            {"/usr/bin/python3", "read_dbf.py"},
                            {"/usr/bin/perl", "read_xbase.pl"}};
  TempDir dir;
  auto p = write_through_records(dir);
  for (const auto& r : readers) {
    SCOPED_TRACE(r.script);
    EXPECT_EQ(run_command(std::string(r.program) + " " + interop_script(r.script) + " " + p.native()), kExpected);
  }
}

}  // namespace
}  // namespace qzbase
