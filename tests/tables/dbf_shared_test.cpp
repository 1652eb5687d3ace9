// Several processes on one table file: concurrent appends with memos, locked updates, a lock that
// waits, processes killed in the middle of appending, and a reader at EOF behind a writer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dbf_support.h"
#include "tables/fpt_file.h"

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

constexpr OpenMode kShared = OPEN_WRITE | OPEN_SHARED;

// ID I, SEQ I, NOTE M, N N(10).
std::filesystem::path make_table(const TempDir& dir) {
  auto p = dir.path / "shared.dbf";
  create_table(p, {field("ID", FIELDINFO_INTEGER), field("SEQ", FIELDINFO_INTEGER), field("NOTE", FIELDINFO_MEMO),
                   field("N", FIELDINFO_NUMERIC, 10)});
  return p;
}

int64_t integer(DbfFile* d, size_t n) {
  Variant v;
  d->get_variant(n, &v);
  return v.tag == VT_INTEGER ? v.integer.value : static_cast<int64_t>(v.numeric.value);
}

std::string memo(DbfFile* d, size_t n) {
  Variant v;
  d->get_variant(n, &v);
  return v.string.u8str();
}

std::string note(int64_t id, int64_t seq) { return "process " + std::to_string(id) + " record " + std::to_string(seq); }

void append(DbfFile* d, int64_t id, int64_t seq) {
  d->begin_append();
  d->set_integer(0, integer_type_st{id});
  d->set_integer(1, integer_type_st{seq});
  d->set_string(2, String(note(id, seq).c_str()));
  d->update(nullptr);
}

// Runs body(i) in n child processes at once; each must return true.
void in_children(int n, const std::function<bool(int)>& body) {
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 3;
      try {
        status = body(i) ? 0 : 1;
      } catch (...) {
        status = 2;
      }
      _exit(status);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
}

TEST(DbfShared, ConcurrentAppendsLoseNothing) {
  TempDir dir;
  auto p = make_table(dir);
  constexpr int kProcesses = 4, kRecords = 10000;
  in_children(kProcesses, [&](int id) {
    auto d = open_dbf_file(String(p), kShared);
    for (int seq = 0; seq < kRecords; ++seq) append(d.get(), id, seq);
    return true;
  });
  auto d = open_dbf_file(String(p), kShared);
  ASSERT_EQ(d->reccount(), static_cast<size_t>(kProcesses * kRecords));
  EXPECT_EQ(std::filesystem::file_size(p), d->header_length + static_cast<uint64_t>(d->record_count) * d->record_length);
  std::set<std::pair<int64_t, int64_t>> seen;
  size_t wrong_memos = 0;
  for (d->go_top(); !d->eof; d->go_next()) {
    int64_t id = integer(d.get(), 0), seq = integer(d.get(), 1);
    EXPECT_TRUE(seen.insert({id, seq}).second) << id << "/" << seq;
    if (memo(d.get(), 2) != note(id, seq)) ++wrong_memos;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kRecords));
  EXPECT_EQ(wrong_memos, 0u);
  EXPECT_EQ(*seen.begin(), std::make_pair(int64_t{0}, int64_t{0}));
  EXPECT_EQ(*seen.rbegin(), std::make_pair(int64_t{kProcesses - 1}, int64_t{kRecords - 1}));
}

TEST(DbfShared, LockedUpdatesLoseNothing) {
  TempDir dir;
  auto p = make_table(dir);
  {
    auto d = open_dbf_file(String(p), kShared);
    append(d.get(), 0, 0);
  }
  constexpr int kProcesses = 4, kAdds = 1000;
  in_children(kProcesses, [&](int) {
    auto d = open_dbf_file(String(p), kShared);
    d->go_to_in_file(1);
    for (int i = 0; i < kAdds; ++i) {
      if (!d->lock()) return false;
      d->set_numeric(3, numeric_type_st{static_cast<double>(integer(d.get(), 3) + 1), 0});
      d->update(nullptr);
      if (!d->unlock_record()) return false;
    }
    return true;
  });
  auto d = open_dbf_file(String(p), 0);
  d->go_top();
  EXPECT_EQ(integer(d.get(), 3), kProcesses * kAdds);
}

TEST(DbfShared, ARecordLockWaitsForItsHolder) {
  TempDir dir;
  auto p = make_table(dir);
  auto d = open_dbf_file(String(p), kShared);
  append(d.get(), 0, 0);
  append(d.get(), 0, 1);
  d->go_to_in_file(1);
  ASSERT_TRUE(d->lock());
  auto released = dir.path / "released";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int status = 2;
    try {
      auto mine = open_dbf_file(String(p), kShared);
      mine->go_to_in_file(2);
      bool other = mine->lock();  // another record: granted at once
      mine->go_to_in_file(1);
      char c = 1;
      if (write(ready[1], &c, 1) != 1) _exit(3);
      bool granted = mine->lock();
      // Granted only after the holder let go, and then the holder's write is merged in.
      status = other && granted && std::filesystem::exists(released) && integer(mine.get(), 1) == 42 ? 0 : 1;
    } catch (...) {
    }
    _exit(status);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the lock did not wait";
  d->set_integer(1, integer_type_st{42});
  d->update(nullptr);
  std::ofstream(released) << "";
  d->unlock_record();
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  close(ready[0]);
  close(ready[1]);
}

// A process killed at any moment of an append leaves every record it reported readable, and the
// table opens read-write and takes appends again.
TEST(DbfShared, KilledAppendersLeaveEveryAcknowledgedRecord) {
  TempDir dir;
  auto p = make_table(dir);
  std::mt19937 random(20261211);
  std::vector<std::pair<uint32_t, std::pair<int64_t, int64_t>>> acknowledged;
  for (int round = 1; round <= 50; ++round) {
    SCOPED_TRACE(round);
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(acks[0]);
      try {
        auto d = open_dbf_file(String(p), kShared);
        for (uint32_t seq = 1;; ++seq) {
          append(d.get(), round, seq);
          uint32_t ack[2] = {static_cast<uint32_t>(d->recno), seq};
          if (write(acks[1], ack, sizeof ack) != sizeof ack) _exit(3);
        }
      } catch (...) {
      }
      _exit(2);
    }
    close(acks[1]);
    // Let it run for a random number of appends plus a random fraction of one.
    int wanted = 1 + static_cast<int>(random() % 30);
    uint32_t ack[2];
    int got = 0;
    while (got < wanted && read(acks[0], ack, sizeof ack) == sizeof ack) {
      acknowledged.push_back({ack[0], {round, ack[1]}});
      ++got;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the appender stopped by itself: " << status;
    while (read(acks[0], ack, sizeof ack) == sizeof ack) acknowledged.push_back({ack[0], {round, ack[1]}});
    close(acks[0]);

    auto d = open_dbf_file(String(p), kShared);
    for (const auto& [recno, values] : acknowledged) {
      ASSERT_LE(recno, d->reccount());
      d->go_to_in_file(recno);
      ASSERT_EQ(integer(d.get(), 0), values.first) << recno;
      ASSERT_EQ(integer(d.get(), 1), values.second) << recno;
      ASSERT_EQ(memo(d.get(), 2), note(values.first, values.second)) << recno;
    }
    append(d.get(), -round, 0);
    acknowledged.push_back({static_cast<uint32_t>(d->recno), {-round, 0}});
  }
}

// A reader that stands at EOF and steps on while another process appends meets records being
// written, never a damaged file.
TEST(DbfShared, AReaderAtEofBehindAWriterSeesNoCorruption) {
  TempDir dir;
  auto p = make_table(dir);
  constexpr int kRecords = 3000;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int status = 2;
    try {
      auto d = open_dbf_file(String(p), kShared);
      for (int seq = 1; seq <= kRecords; ++seq) {
        d->begin_append();
        d->set_integer(1, integer_type_st{seq});
        d->update(nullptr);
      }
      status = 0;
    } catch (...) {
    }
    _exit(status);
  }
  auto d = open_dbf_file(String(p), OPEN_SHARED);
  size_t steps = 0, found = 0, bad = 0;
  bool done = false;
  int status = 0;
  while (!done) {
    done = waitpid(pid, &status, WNOHANG) == pid;
    try {
      d->go_eof();
      d->go_next();
      for (int i = 0; i < 3 && !d->eof; ++i, d->go_next()) {
        ++found;
        if (integer(d.get(), 1) != static_cast<int64_t>(d->recno)) ++bad;
      }
      d->go_bottom();
      d->go_next();
    } catch (const dbf_exception&) {
      ADD_FAILURE() << "a table-layer exception after " << steps << " steps";
      break;
    }
    ++steps;
  }
  if (!done) waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(d->reccount(), static_cast<size_t>(kRecords));
  RecordProperty("records_met_at_eof", static_cast<int>(found));
}

}  // namespace
}  // namespace qzbase
