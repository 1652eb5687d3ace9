// Records of a DbfFile: moves, read-ahead, field access, modified/revert, the refresh merge, write
// back and append with its roll-back, the open check's repair and the index hooks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbf_support.h"
#include "tables/index_hooks.h"

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

// NAME C(10), NUM N(8), BOTH C(6), VC V(10) nullable, FLAG L nullable.
std::vector<fielddef_st> people_fields() {
  std::vector<fielddef_st> defs = {field("NAME", FIELDINFO_CHAR, 10), field("NUM", FIELDINFO_NUMERIC, 8),
                                   field("BOTH", FIELDINFO_CHAR, 6), field("VC", FIELDINFO_VARCHAR, 10),
                                   field("FLAG", FIELDINFO_LOGICAL)};
  defs[3].null_mode = FIELDINFO_NULL;
  defs[4].null_mode = FIELDINFO_NULL;
  return defs;
}

std::string text(DbfFile* d, size_t n) {
  Variant v;
  d->get_variant(n, &v);
  if (v.tag == VT_NULL) return "<null>";
  if (v.tag != VT_STRING) return "<type " + std::to_string(v.tag) + ">";
  return v.string.u8str();
}

double number(DbfFile* d, size_t n) {
  Variant v;
  d->get_variant(n, &v);
  return v.tag == VT_NUMERIC ? v.numeric.value : static_cast<double>(v.integer.value);
}

void append(DbfFile* d, const char* name, double num) {
  d->begin_append();
  d->set_string(0, String(name));
  d->set_numeric(1, numeric_type_st{num, 0});
  d->update(nullptr);
}

// A table with records "r1" .. "rN" (NUM = i), closed again.
std::filesystem::path people(const TempDir& dir, const char* name, int records) {
  auto p = dir.path / name;
  auto d = create_table(p, people_fields());
  for (int i = 1; i <= records; ++i) append(d.get(), ("r" + std::to_string(i)).c_str(), i);
  return p;
}

std::unique_ptr<DbfFile> shared(const std::filesystem::path& p) {
  return open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
}

TEST(DbfRecords, EmptyTableStandsAtBofAndEof) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "e.dbf", 0)), OPEN_WRITE);
  for (auto move : {&DbfFile::go_top, &DbfFile::go_bottom}) {
    (d.get()->*move)();
    EXPECT_TRUE(d->bof);
    EXPECT_TRUE(d->eof);
    EXPECT_EQ(d->recno, 1u);
    EXPECT_EQ(std::memcmp(d->current_record.get(), d->blank_record.get(), d->record_length), 0);
    EXPECT_FALSE(d->modified());
  }
  d->go_eof();
  EXPECT_EQ(d->recno, 1u);
  EXPECT_THROW(d->go_to_in_file(1), dbf_error_record_out_of_range);
  EXPECT_THROW(d->go_to_in_file(0), dbf_error_record_out_of_range);
}

TEST(DbfRecords, StepsForwardAndBackInPhysicalOrder) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "w.dbf", 3)), OPEN_WRITE);
  d->go_top();
  EXPECT_FALSE(d->bof || d->eof);
  EXPECT_EQ(text(d.get(), 0), "r1        ");
  d->go_next();
  d->go_next();
  EXPECT_EQ(d->recno, 3u);
  d->go_next();
  EXPECT_TRUE(d->eof);
  EXPECT_FALSE(d->bof);
  EXPECT_EQ(d->recno, 4u);
  EXPECT_EQ(std::memcmp(d->current_record.get(), d->blank_record.get(), d->record_length), 0);
  d->go_next();  // stays
  EXPECT_TRUE(d->eof);
  EXPECT_EQ(d->recno, 4u);
  d->go_prev();  // from EOF: the last record
  EXPECT_FALSE(d->eof);
  EXPECT_EQ(d->recno, 3u);
  d->go_prev();
  d->go_prev();
  EXPECT_EQ(d->recno, 1u);
  EXPECT_FALSE(d->bof);
  // A step back from record 1 rests at BOF on record 1 and raises nothing.
  d->go_prev();
  EXPECT_TRUE(d->bof);
  EXPECT_EQ(d->recno, 1u);
  EXPECT_EQ(text(d.get(), 0), "r1        ");
  EXPECT_THROW(d->go_prev(), dbf_error_bof);
  d->go_bottom();
  EXPECT_EQ(d->recno, 3u);
  d->go_to_in_file(2);
  EXPECT_EQ(number(d.get(), 1), 2);
  EXPECT_THROW(d->go_to_in_file(4), dbf_error_record_out_of_range);
}

TEST(DbfRecords, ReadAheadCoversTenRecordsAnd4096BytesAndShowsWrites) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "r.dbf", 30)), OPEN_WRITE);
  d->go_top();
  EXPECT_GE(d->readahead_capacity(), kMinReadaheadRecords);
  EXPECT_GE(d->readahead_capacity() * d->record_length, kMinReadaheadBytes);
  d->go_to_in_file(2);
  d->set_string(0, String("changed"));
  d->update(nullptr);
  d->go_top();
  d->go_next();
  EXPECT_EQ(text(d.get(), 0), "changed   ");
  d->set_readahead_records(5000);
  EXPECT_EQ(d->readahead_capacity(), 0u);  // made on the next buffered read
  d->go_top();
  EXPECT_EQ(d->readahead_capacity(), 5000u);
  for (int i = 2; i <= 30; ++i) d->go_next();
  EXPECT_EQ(number(d.get(), 1), 30);
}

TEST(DbfRecords, GoModes) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "g.dbf", 2)), OPEN_WRITE);
  std::vector<char> buf(d->record_length);
  EXPECT_THROW(d->go(1, buf.data(), DbfFile::kReadaheadFlush), dbf_error_not_impl);
  EXPECT_THROW(d->go(0, buf.data(), DbfFile::kReadDirect), dbf_error_record_out_of_range);
  EXPECT_TRUE(d->go(2, buf.data(), DbfFile::kReadDirect));
  EXPECT_FALSE(d->go(3, buf.data(), DbfFile::kReadDirect));
  EXPECT_FALSE(d->go(3, buf.data(), DbfFile::kReadBuffered | DbfFile::kReadaheadFlush));
}

// A short read beyond the header's count is an append in progress elsewhere; within the count it
// is damage.
TEST(DbfRecords, ShortRecordsBeyondTheCountAreNoRecordYet) {
  TempDir dir;
  auto p = people(dir, "s.dbf", 3);
  std::string bytes = read_bytes(p);
  auto d = open_dbf_file(String(p), OPEN_SHARED);
  size_t len = d->record_length;
  write_bytes(p, bytes + std::string(len / 2, 'x'));
  std::vector<char> buf(len);
  for (int mode : {int(DbfFile::kReadDirect), DbfFile::kReadBuffered | DbfFile::kReadaheadFlush}) {
    EXPECT_FALSE(d->go(4, buf.data(), mode));
  }
  d->go_bottom();
  d->go_next();
  EXPECT_TRUE(d->eof);
  d->go_next();
  EXPECT_TRUE(d->eof);
  EXPECT_EQ(d->recno, 4u);
  // The third record cut short while the header counts it.
  write_bytes(p, bytes.substr(0, bytes.size() - len / 2));
  for (int mode : {int(DbfFile::kReadDirect), DbfFile::kReadBuffered | DbfFile::kReadaheadFlush}) {
    EXPECT_THROW(d->go(3, buf.data(), mode | DbfFile::kReadaheadFlush), dbf_error_file_corruption);
  }
}

TEST(DbfRecords, AReaderAtEofSeesALaterAppend) {
  TempDir dir;
  auto p = people(dir, "a.dbf", 2);
  auto reader = shared(p);
  auto writer = shared(p);
  reader->go_bottom();
  reader->go_next();
  EXPECT_TRUE(reader->eof);
  EXPECT_EQ(reader->recno, 3u);
  append(writer.get(), "late", 3);
  reader->go_next();
  EXPECT_FALSE(reader->eof);
  EXPECT_EQ(reader->recno, 3u);
  EXPECT_EQ(text(reader.get(), 0), "late      ");
  EXPECT_EQ(reader->reccount(), 3u);
}

TEST(DbfRecords, FieldAccessByNumber) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "f.dbf", 1)), OPEN_WRITE);
  d->go_top();
  EXPECT_EQ(d->field_count(), 5u);  // _NullFlags is not counted
  EXPECT_THROW(d->get_field(5), dbf_error_invalid_field_number);
  EXPECT_THROW(d->set_logical(5, true), dbf_error_invalid_field_number);
  Variant out;
  EXPECT_THROW(d->get_variant(5, &out), dbf_error_invalid_field_number);
  EXPECT_EQ(d->get_field(1)->type, 'N');

  Variant object;  // no field holds an object
  object.set(object_ptr_st{nullptr, nullptr});
  EXPECT_THROW(d->set_variant(0, &object), dbf_error_not_impl);
  Variant target;
  target.set(integer_type_st{41});
  Variant ref;
  ref.tag = VT_REFERENCE;
  ref.reference.target = &target;
  ref.reference.owner = object_ptr_st{nullptr, nullptr};
  d->set_variant(1, &ref);
  ref.tag = VT_FALSE;  // not owned
  EXPECT_EQ(number(d.get(), 1), 41);
  Variant null_value;
  null_value.set_null();
  d->set_variant(4, &null_value);
  EXPECT_EQ(text(d.get(), 4), "<null>");
  Variant yes;
  yes.set_true();
  d->set_variant(4, &yes);
  Variant flag;
  d->get_variant(4, &flag);
  EXPECT_EQ(flag.tag, VT_TRUE);

  Variant old_value, blank_value;
  d->get_old_value(1, &old_value);
  d->get_blank_value(0, &blank_value);
  EXPECT_EQ(old_value.numeric.value, 1);
  EXPECT_EQ(blank_value.string.u8str(), std::string(10, ' '));
  char chars[32];
  size_t size = sizeof chars;
  const Charset* cs = nullptr;
  EXPECT_EQ(d->get_char(0, chars, &size, &cs), 10u);
  EXPECT_EQ(std::string(chars, size), "r1        ");
}

TEST(DbfRecords, TheRecursionGuard) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "b.dbf", 2)), OPEN_WRITE);
  d->go_top();
  d->busy = true;
  EXPECT_THROW(d->go_top(), dbf_illegal_recursion);
  EXPECT_THROW(d->go_next(), dbf_illegal_recursion);
  EXPECT_THROW(d->go_prev(), dbf_illegal_recursion);
  EXPECT_THROW(d->set_string(0, String("x")), dbf_illegal_recursion);
  EXPECT_THROW(d->delete_record(), dbf_illegal_recursion);
  EXPECT_THROW(d->update(nullptr), dbf_illegal_recursion);
  EXPECT_THROW(d->unselect_index(), dbf_illegal_recursion);
  d->go_bottom();  // takes no guard
  EXPECT_EQ(d->recno, 2u);
  Variant v;
  d->get_variant(0, &v);  // reads take none
  d->busy = false;
}

TEST(DbfRecords, ModifiedRevertAndDeletionMarks) {
  TempDir dir;
  auto d = open_dbf_file(String(people(dir, "m.dbf", 2)), OPEN_WRITE);
  d->go_top();
  EXPECT_FALSE(d->modified());
  d->delete_record();
  EXPECT_TRUE(d->deleted());
  EXPECT_TRUE(d->modified());
  d->recall();
  EXPECT_FALSE(d->modified());
  d->set_string(0, String("x"));
  d->revert();
  EXPECT_FALSE(d->modified());
  EXPECT_EQ(text(d.get(), 0), "r1        ");
  d->delete_record();
  d->update(nullptr);
  d->go_bottom();
  d->go_top();
  EXPECT_TRUE(d->deleted());

  d->go_eof();
  EXPECT_FALSE(d->modified());
  d->begin_append();
  EXPECT_TRUE(d->modified());
  EXPECT_EQ(d->recno, 3u);
  d->revert();
  EXPECT_FALSE(d->appending);
  EXPECT_TRUE(d->eof);
  EXPECT_EQ(d->reccount(), 2u);
  // A move drops an append begun before it: the record moved to is not appended again.
  d->begin_append();
  d->go_top();
  EXPECT_FALSE(d->appending);
  d->update(nullptr);
  EXPECT_EQ(d->reccount(), 2u);
}

// An append begun at EOF (after a scan, or go_eof) is written all the same.
TEST(DbfRecords, AppendBegunAtEofIsWritten) {
  TempDir dir;
  auto p = people(dir, "x.dbf", 1);
  auto d = open_dbf_file(String(p), OPEN_WRITE);
  d->go_top();
  d->go_next();
  ASSERT_TRUE(d->eof);
  append(d.get(), "after", 2);
  EXPECT_FALSE(d->appending);
  EXPECT_EQ(d->recno, 2u);
  EXPECT_EQ(d->reccount(), 2u);
  d.reset();
  d = open_dbf_file(String(p), 0);
  d->go_bottom();
  EXPECT_EQ(text(d.get(), 0), "after     ");
}

TEST(DbfRecords, UpdatingAnUnchangedRecordWritesNothingAndTakesNoLock) {
  TempDir dir;
  auto p = people(dir, "u.dbf", 2);
  auto ro = open_dbf_file(String(p), OPEN_SHARED);
  ro->go_top();
  ro->update(nullptr);  // read-only, but nothing to write
  ro->set_string(0, String("no"));
  EXPECT_THROW(ro->update(nullptr), dbf_error_file_readonly);
  ro->begin_append();
  EXPECT_THROW(ro->update(nullptr), dbf_error_file_readonly);

  auto d = shared(p);
  d->go_top();
  auto before = std::filesystem::last_write_time(p);
  std::string bytes = read_bytes(p);
  d->update(nullptr);
  EXPECT_EQ(read_bytes(p), bytes);
  EXPECT_EQ(std::filesystem::last_write_time(p), before);
  EXPECT_TRUE(d->locked_records.empty());
  // A changed record that is not locked is locked for the write and unlocked after.
  d->set_string(0, String("yes"));
  d->update(nullptr);
  EXPECT_TRUE(d->locked_records.empty());
  EXPECT_FALSE(d->modified());
  ASSERT_TRUE(d->lock());
  d->set_string(0, String("kept"));
  d->update(nullptr);
  EXPECT_TRUE(d->isrlocked(1));  // a lock taken by the caller stays
}

// Two descriptions of one file: fields changed on disk only are taken, fields changed here are
// kept; null and varlen bits go with their field, the deletion mark likewise.
TEST(DbfRecords, RefreshMergesFieldByField) {
  TempDir dir;
  auto p = people(dir, "rf.dbf", 1);
  auto mine = shared(p);
  auto theirs = shared(p);
  mine->go_top();
  theirs->go_top();
  theirs->set_string(0, String("disk"));      // NAME: theirs only
  theirs->set_string(2, String("theirs"));    // BOTH: both
  theirs->set_string(3, String("ab"));        // VC: theirs only, a shorter value (varlen bit)
  Variant null_value;
  null_value.set_null();
  theirs->set_variant(4, &null_value);        // FLAG: theirs only, to null
  theirs->delete_record();
  theirs->update(nullptr);

  mine->set_numeric(1, numeric_type_st{7, 0});  // NUM: mine only
  mine->set_string(2, String("mine"));          // BOTH
  ASSERT_TRUE(mine->lock());
  EXPECT_EQ(text(mine.get(), 0), "disk      ");
  EXPECT_EQ(number(mine.get(), 1), 7);
  EXPECT_EQ(text(mine.get(), 2), "mine  ");
  EXPECT_EQ(text(mine.get(), 3), "ab");
  EXPECT_EQ(text(mine.get(), 4), "<null>");
  EXPECT_TRUE(mine->deleted());
  mine->update(nullptr);
  mine->unlock_record();

  theirs->go_to_in_file(1);
  EXPECT_EQ(text(theirs.get(), 0), "disk      ");
  EXPECT_EQ(number(theirs.get(), 1), 7);
  EXPECT_EQ(text(theirs.get(), 2), "mine  ");
  EXPECT_EQ(text(theirs.get(), 3), "ab");

  // A null set here survives a value written there, and a value set here a null written there.
  mine->go_top();
  theirs->go_top();
  theirs->set_string(3, String("xyz"));
  theirs->set_variant(4, &null_value);
  theirs->set_logical(4, true);
  theirs->update(nullptr);
  mine->set_variant(3, &null_value);
  mine->set_logical(4, false);
  mine->refresh();
  EXPECT_EQ(text(mine.get(), 3), "<null>");
  Variant flag;
  mine->get_variant(4, &flag);
  EXPECT_EQ(flag.tag, VT_FALSE);
}

// --- the open check ---

struct TailCase {
  const char* what;
  int whole_records;  // beyond the count
  size_t partial;     // bytes of a record beyond those
  bool opens;
  bool cut;
};

TEST(DbfRecords, ReadWriteOpenCutsOneUnfinishedAppend) {
  const TailCase cases[] = {
      {"one record", 1, 0, true, true},
      {"one record and a partial one", 1, 5, true, true},
      {"a partial record", 0, 5, true, false},
      {"two records", 2, 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    auto p = people(dir, "t.dbf", 2);
    std::string bytes = read_bytes(p);
    size_t len;
    {
      auto d = open_dbf_file(String(p), 0);
      len = d->record_length;
    }
    write_bytes(p, bytes + std::string(c.whole_records * len + c.partial, ' '));
    // A read-only open repairs nothing.
    EXPECT_NO_THROW(open_dbf_file(String(p), 0));
    if (!c.opens) {
      EXPECT_THROW(open_dbf_file(String(p), OPEN_WRITE), dbf_invalid_reccount_detected);
      continue;
    }
    auto d = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
    EXPECT_EQ(d->record_count, 2u);
    EXPECT_EQ(std::filesystem::file_size(p), c.cut ? bytes.size() : bytes.size() + c.partial);
    append(d.get(), "r3", 3);
    EXPECT_EQ(std::filesystem::file_size(p), bytes.size() + len);
  }
}

// --- index hooks ---

struct FakeConfig {
  std::vector<std::string> log;
  int fail = 0;  // 1: prepare_insert_keys, 2: insert_keys, 3: update_keys
  int deadlocks = 0;
};

DbfIndex* const kTag = reinterpret_cast<DbfIndex*>(static_cast<uintptr_t>(0x1000));
FakeConfig* fake_config = nullptr;

class FakeHooks : public DbfNoIndexHooks {
 public:
  explicit FakeHooks(FakeConfig* c) : c_(c) {}
  void open_structural_index(VmStack*) override { c_->log.push_back("open"); }
  size_t index_count() const override { return 1; }
  DbfIndex* index(size_t) const override { return kTag; }
  void update_keys(VmStack*) override {
    c_->log.push_back("update_keys");
    if (c_->fail == 3) throw dbf_unique_key_violation();
  }
  void prepare_insert_keys(VmStack*) override {
    c_->log.push_back("prepare");
    if (c_->fail == 1) throw dbf_unique_key_violation();
  }
  void insert_keys(VmStack*) override {
    c_->log.push_back("insert");
    if (c_->fail == 2) throw dbf_unique_key_violation();
  }
  void lock_indizes() override {
    c_->log.push_back("lock");
    if (c_->deadlocks > 0) {
      --c_->deadlocks;
      throw dbf_index_deadlock_detected();
    }
  }
  void unlock_indizes() override { c_->log.push_back("unlock"); }
  void go_top_in_index(DbfIndex*) override { c_->log.push_back("top"); }
  void go_bottom_in_index(DbfIndex*) override { c_->log.push_back("bottom"); }
  void go_next_in_index(DbfIndex*) override { c_->log.push_back("next"); }
  void go_prev_in_index(DbfIndex*) override { c_->log.push_back("prev"); }

 private:
  FakeConfig* c_;
};

struct WithFakeHooks {
  FakeConfig config;
  WithFakeHooks() {
    fake_config = &config;
    set_dbf_index_hooks_factory([](DbfFile*) -> DbfIndexHooks* { return new FakeHooks(fake_config); });
  }
  ~WithFakeHooks() {
    set_dbf_index_hooks_factory(nullptr);
    fake_config = nullptr;
  }
};

TEST(DbfIndexHooks, WithoutTagsAStructuralIndexIsRefused) {
  TempDir dir;
  auto p = people(dir, "cdx.dbf", 1);
  {
    auto d = open_dbf_file(String(p), OPEN_WRITE);
    EXPECT_EQ(d->index_count(), 0u);
    d->has_structural_index = true;
    d->write_dbf_header();
  }
  try {
    open_dbf_file(String(p), 0);
    ADD_FAILURE() << "opened";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_EQ(e.detail.u8str(), "structural index");
  }
  WithFakeHooks fake;
  auto d = open_dbf_file(String(p), 0);
  EXPECT_EQ(fake.config.log, std::vector<std::string>{"open"});
}

TEST(DbfIndexHooks, MovesGoThroughTheSelectedTagInItsDirection) {
  TempDir dir;
  auto p = people(dir, "i.dbf", 3);
  WithFakeHooks fake;
  auto d = open_dbf_file(String(p), OPEN_WRITE);
  ASSERT_EQ(d->index(0), kTag);
  d->go_to_in_file(2);
  d->select_index_order(kTag, false);
  d->go_top();
  d->go_next();
  d->go_prev();
  d->go_bottom();
  d->select_index_order(kTag, true);
  d->go_top();
  d->go_next();
  d->go_prev();
  d->go_bottom();
  d->eof = true;
  d->go_prev();  // at EOF: the bottom of the order
  EXPECT_EQ(fake.config.log, (std::vector<std::string>{"top", "next", "prev", "bottom", "bottom", "prev", "next",
                                                        "top", "top"}));
  d->unselect_index();
  EXPECT_EQ(d->selected_index(), nullptr);
  d->go_top();
  EXPECT_EQ(d->recno, 1u);
}

TEST(DbfIndexHooks, KeyUpkeepRunsInOrderAndRetriesADeadlock) {
  TempDir dir;
  auto p = people(dir, "k.dbf", 1);
  WithFakeHooks fake;
  auto d = open_dbf_file(String(p), OPEN_WRITE);
  fake.config.deadlocks = 1;
  append(d.get(), "new", 2);
  d->set_string(0, String("changed"));
  d->update(nullptr);
  EXPECT_EQ(fake.config.log, (std::vector<std::string>{"lock", "unlock", "lock", "prepare", "insert", "unlock",
                                                        "update_keys"}));
}

// An append that fails after its record was written leaves count, file size and position as
// they were; the table opens read-write afterwards and the append can be done again.
TEST(DbfIndexHooks, AFailedAppendLeavesNoTrace) {
  for (int fail : {1, 2}) {
    for (OpenMode mode : {OpenMode(OPEN_WRITE), OpenMode(OPEN_WRITE | OPEN_SHARED)}) {
      SCOPED_TRACE(fail * 10 + mode);
      TempDir dir;
      auto p = people(dir, "f.dbf", 2);
      WithFakeHooks fake;
      auto d = open_dbf_file(String(p), mode);
      std::string bytes = read_bytes(p);
      d->go_top();
      d->begin_append();
      d->set_string(0, String("lost"));
      fake.config.fail = fail;
      EXPECT_THROW(d->update(nullptr), dbf_unique_key_violation);
      EXPECT_EQ(d->record_count, 2u);
      EXPECT_EQ(d->recno, 3u);
      EXPECT_TRUE(d->appending);
      EXPECT_EQ(read_bytes(p), bytes);
      EXPECT_EQ(fake.config.log.back(), "unlock");
      d->lock_for_append();  // the append lock was given back
      d->release_append_lock();
      if (mode & OPEN_SHARED) {
        EXPECT_NO_THROW(open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED));
      }
      fake.config.fail = 0;
      d->update(nullptr);
      EXPECT_EQ(d->reccount(), 3u);
      d->go_bottom();
      EXPECT_EQ(text(d.get(), 0), "lost      ");
    }
  }
}

TEST(DbfIndexHooks, AFailedKeyUpdateWritesNothingAndUnlocks) {
  TempDir dir;
  auto p = people(dir, "ku.dbf", 1);
  WithFakeHooks fake;
  auto d = shared(p);
  d->go_top();
  std::string bytes = read_bytes(p);
  d->set_string(0, String("no"));
  fake.config.fail = 3;
  EXPECT_THROW(d->update(nullptr), dbf_unique_key_violation);
  EXPECT_EQ(read_bytes(p), bytes);
  EXPECT_TRUE(d->locked_records.empty());
}

}  // namespace
}  // namespace qzbase

namespace qzbase {
namespace {

using namespace testing_dbf;

// A table in memory is cut back the same way, and what lay beyond its end reads as zeros after.
TEST(DbfIndexHooks, AFailedAppendInMemoryIsCutBack) {
  WithFakeHooks fake;
  createopts_st o = options();
  std::vector<fielddef_st> defs = people_fields();
  File* file = create_file(String("memory:///cursor.dbf"), OPEN_UNLINK_ON_CREATE);
  std::unique_ptr<DbfFile> d(DbfFile::create(file, &o, defs.data(), defs.size()));
  append(d.get(), "one", 1);
  size_t size = d->file()->get_size();
  d->begin_append();
  d->set_string(0, String("lost"));
  fake.config.fail = 2;
  EXPECT_THROW(d->update(nullptr), dbf_unique_key_violation);
  EXPECT_EQ(d->file()->get_size(), size);
  EXPECT_EQ(d->record_count, 1u);
  std::vector<char> tail(d->record_length, 'x');
  d->file()->writeex(static_cast<std::streamoff>(size + d->record_length), "!", 1);
  EXPECT_EQ(d->file()->readex(static_cast<std::streamoff>(size), tail.data(), tail.size()), tail.size());
  EXPECT_EQ(tail, std::vector<char>(d->record_length, '\0'));
}

}  // namespace
}  // namespace qzbase
