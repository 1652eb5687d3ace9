// Record and append locks: the bytes they take (seen from another process), when they are
// taken at all, the locked set, releasing at any position, and the merge after a lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "dbf_support.h"

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

// Whether another open file description holds a lock on the byte.
bool byte_locked(const std::filesystem::path& p, uint64_t offset) {
  int fd = ::open(p.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  bool locked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

std::filesystem::path table_with_records(const TempDir& dir, const char* name, size_t records) {
  auto p = dir.path / name;
  auto dbf = create_table(p, {field("NAME", FIELDINFO_CHAR, 4), field("N", FIELDINFO_INTEGER)});
  for (size_t i = 0; i < records; ++i) {
    blank_current(dbf.get());
    append_current(dbf.get());
  }
  return p;
}

// Runs steps in a child, one per round; after each the parent runs its check. The child
// stops at the first failing step (exit status = its number).
void in_child(const std::function<bool(int step)>& child, int rounds, const std::function<void(int step)>& parent) {
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int status = 0;
    for (int step = 1; step <= rounds && status == 0; ++step) {
      char c;
      if (!child(step)) status = step;
      c = static_cast<char>(status);
      if ((write(to_parent[1], &c, 1) != 1 || read(to_child[0], &c, 1) != 1) && status == 0) status = 100;
    }
    _exit(status);
  }
  for (int step = 1; step <= rounds; ++step) {
    char c = 0;
    ASSERT_EQ(read(to_parent[0], &c, 1), 1);
    if (c != 0) break;
    parent(step);
    ASSERT_EQ(write(to_child[1], &c, 1), 1);
  }
  close(to_child[1]);  // a child still waiting after a failed step reads the end
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {to_child[0], to_parent[0], to_parent[1]}) close(fd);
}

TEST(DbfLocks, SharedTableLocksRecordBytesBelowTheLimit) {
  TempDir dir;
  auto p = table_with_records(dir, "s.dbf", 3);
  std::unique_ptr<DbfFile> dbf;
  in_child(
      [&](int step) {
        if (step == 1) {
          dbf = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
          dbf->recno = 3;
          return dbf->lock() && dbf->lock() && dbf->locked_records.size() == 1 && dbf->isrlocked(3);
        }
        if (step == 2) {  // release everything while at EOF
          dbf->recno = 4;
          dbf->eof = true;
          dbf->unlock_all_records();
          return dbf->locked_records.empty();
        }
        dbf->lock_for_append();
        return true;
      },
      3,
      [&](int step) {
        if (step == 1) {
          EXPECT_TRUE(byte_locked(p, 0x7FFFFFFB));
          EXPECT_FALSE(byte_locked(p, 0x7FFFFFFE));
          EXPECT_FALSE(byte_locked(p, 0x7FFFFFFC));
        } else if (step == 2) {
          EXPECT_FALSE(byte_locked(p, 0x7FFFFFFB));
        } else {
          EXPECT_TRUE(byte_locked(p, 0x7FFFFFFE));
        }
      });
}

TEST(DbfLocks, ExclusiveTablesTakeNoByteLocks) {
  TempDir dir;
  auto p = table_with_records(dir, "x.dbf", 3);
  std::unique_ptr<DbfFile> dbf;
  in_child(
      [&](int) {
        dbf = open_dbf_file(String(p), OPEN_WRITE);
        dbf->recno = 3;
        bool ok = dbf->lock() && dbf->locked_records.empty();
        dbf->lock_for_append();
        return ok;
      },
      1,
      [&](int) {
        EXPECT_FALSE(byte_locked(p, 0x7FFFFFFB));
        EXPECT_FALSE(byte_locked(p, 0x7FFFFFFE));
      });
}

TEST(DbfLocks, Version03LocksBelowOneGigabyte) {
  TempDir dir;
  auto p = dir.path / "old.dbf";
  std::string b(32, '\0');
  b[0] = 0x03;
  b[2] = 1;
  b[3] = 1;
  std::string d(32, '\0');
  d[0] = 'A';
  d[11] = 'C';
  d[12] = 1;
  d[16] = 2;
  b += d + "\x0D";
  b[4] = 2;                             // two records
  b[8] = static_cast<char>(b.size());  // header length 65
  b[10] = 3;
  b[29] = 0x03;
  b += " ab cd";
  write_bytes(p, b);
  std::unique_ptr<DbfFile> dbf;
  in_child(
      [&](int) {
        dbf = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
        dbf->recno = 1;
        return dbf->lock();
      },
      1, [&](int) {
        EXPECT_TRUE(byte_locked(p, 0x3FFFFFFF));
        EXPECT_FALSE(byte_locked(p, 0x40000000));
      });
}

TEST(DbfLocks, PositionsGuardAndRelease) {
  TempDir dir;
  auto p = table_with_records(dir, "g.dbf", 2);
  auto dbf = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
  dbf->recno = 3;
  dbf->eof = true;
  EXPECT_FALSE(dbf->lock());
  EXPECT_FALSE(dbf->unlock_record());
  dbf->eof = false;
  dbf->recno = 1;
  EXPECT_FALSE(dbf->unlock_record());  // not locked
  EXPECT_TRUE(dbf->lock());
  EXPECT_TRUE(dbf->unlock_record());
  EXPECT_TRUE(dbf->locked_records.empty());
  dbf->busy = true;
  EXPECT_THROW(dbf->lock(), dbf_illegal_recursion);
  EXPECT_THROW(dbf->unlock_all_records(), dbf_illegal_recursion);
  dbf->busy = false;
  // A read-only shared table locks nothing and says yes.
  dbf.reset();
  dbf = open_dbf_file(String(p), OPEN_SHARED);
  dbf->recno = 1;
  EXPECT_TRUE(dbf->lock());
  EXPECT_TRUE(dbf->locked_records.empty());
}

// After a lock the record is the one on disk merged with the local changes.
TEST(DbfLocks, LockMergesChangesOfOthers) {
  TempDir dir;
  auto p = table_with_records(dir, "m.dbf", 1);
  auto mine = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
  auto theirs = open_dbf_file(String(p), OPEN_WRITE | OPEN_SHARED);
  for (DbfFile* d : {mine.get(), theirs.get()}) {
    d->recno = 1;
    d->file()->readex(static_cast<std::streamoff>(d->record_offset(1)), d->current_record.get(), d->record_length);
    std::memcpy(d->old_record.get(), d->current_record.get(), d->record_length);
  }
  DbfField* name = theirs->fields[0];
  DbfField* n = theirs->fields[1];
  name->active.set_string(theirs.get(), name, theirs->current_record.get(), String("them"));
  theirs->set_autoinc_fields_readwrite();
  n->active.set_integer(theirs.get(), n, theirs->current_record.get(), integer_type_st{7});
  theirs->current_record[0] = '*';
  theirs->file()->writeex(static_cast<std::streamoff>(theirs->record_offset(1)), theirs->current_record.get(),
                          theirs->record_length);

  DbfField* my_n = mine->fields[1];
  my_n->active.set_integer(mine.get(), my_n, mine->current_record.get(), integer_type_st{42});
  ASSERT_TRUE(mine->lock());
  Variant a, b;
  mine->fields[0]->get_variant(mine.get(), mine->fields[0], mine->current_record.get(), &a);
  my_n->get_variant(mine.get(), my_n, mine->current_record.get(), &b);
  EXPECT_EQ(a.string.u8str(), "them");
  EXPECT_EQ(b.integer.value, 42);
  EXPECT_EQ(mine->current_record[0], '*');
  EXPECT_EQ(std::memcmp(mine->old_record.get(), theirs->current_record.get(), mine->record_length), 0);
}

}  // namespace
}  // namespace qzbase
