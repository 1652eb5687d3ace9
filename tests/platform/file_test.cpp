// Files: FileUnix sharing and byte-range locks (across processes too), create that
// never truncates a held file, writes that surface ENOSPC / EFBIG / EBADF as file_error, lock
// that retries EINTR, getc at the end, in-memory files, the factories and exists_ci.
#include <qzbase.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "platform/file.h"

using namespace qzbase;
namespace fs = std::filesystem;

namespace {

// A real temporary directory, removed with everything in it.
struct FileTestDir {
  fs::path path;
  FileTestDir() {
    std::string pattern = (fs::temp_directory_path() / "qz_file_test_XXXXXX").native();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp");
    path = made;
  }
  ~FileTestDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string file(const char* name) const { return (path / name).native(); }
};

String u8(const std::string& s) { return String(s.data(), s.size(), Charset::utf8); }

void write_plain(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string read_plain(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

off_t size_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

// Runs body in a child process; returns its exit status (-1 when it did not exit normally).
template <typename Body>
int in_child(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Closer {
  File* f;
  ~Closer() {
    if (f) {
      f->close();
      delete f;
    }
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sharing (flock)
// ---------------------------------------------------------------------------------------------

TEST(FileUnix, SecondExclusiveOpenFailsAtOnce) {
  FileTestDir dir;
  std::string name = dir.file("t.dbf");
  write_plain(name, "0123456789");
  Closer first{FileUnix::open(u8(name), OPEN_WRITE)};
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_WRITE), file_sharing_violation);
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_SHARED), file_sharing_violation);
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::seconds(1));  // LOCK_NB: no waiting
  try {
    FileUnix::open(u8(name), 0);
    FAIL() << "expected a sharing violation";
  } catch (const file_sharing_violation& e) {
    EXPECT_EQ(e.error_number, EWOULDBLOCK);
  }
}

TEST(FileUnix, SharedOpensCoexistButExcludeExclusive) {
  FileTestDir dir;
  std::string name = dir.file("s.dbf");
  write_plain(name, "x");
  Closer a{FileUnix::open(u8(name), OPEN_SHARED)};
  Closer b{FileUnix::open(u8(name), OPEN_SHARED | OPEN_WRITE)};
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_WRITE), file_sharing_violation);
  a.f->close();
  b.f->close();
  Closer c{FileUnix::open(u8(name), OPEN_WRITE)};  // free again once both are closed
  EXPECT_EQ(c.f->get_size(), 1u);
}

TEST(FileUnix, OpenOfMissingFileIsSharingViolation) {
  FileTestDir dir;
  try {
    FileUnix::open(u8(dir.file("missing.dbf")), 0);
    FAIL();
  } catch (const file_sharing_violation& e) {
    EXPECT_EQ(e.error_number, ENOENT);
  }
}

TEST(FileUnix, CreateNeverTruncatesAHeldFile) {
  FileTestDir dir;
  std::string name = dir.file("live.dbf");
  Closer holder{FileUnix::create(u8(name), 0)};
  holder.f->write("precious", 8);
  EXPECT_THROW(FileUnix::create(u8(name), 0), file_sharing_violation);
  EXPECT_EQ(size_of(name), 8);
  EXPECT_EQ(read_plain(name), "precious");
  // Shared mode does not empty an exclusively held file either.
  EXPECT_THROW(FileUnix::create(u8(name), OPEN_SHARED), file_sharing_violation);
  EXPECT_EQ(read_plain(name), "precious");
  // Mode 8 must not remove the name of a file it could not lock.
  EXPECT_THROW(FileUnix::create(u8(name), OPEN_UNLINK_ON_CREATE), file_sharing_violation);
  EXPECT_TRUE(fs::exists(name));
}

TEST(FileUnix, CreateNeverTruncatesAFileAnotherProcessHolds) {
  FileTestDir dir;
  std::string name = dir.file("other.dbf");
  write_plain(name, "held by the child");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(name.c_str(), O_RDWR);
    int rc = flock(fd, LOCK_EX | LOCK_NB);
    char c = rc == 0 ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    if (read(done[0], &c, 1) != 1) _exit(4);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_THROW(FileUnix::create(u8(name), 0), file_sharing_violation);
  EXPECT_EQ(read_plain(name), "held by the child");
  c = 'x';
  ASSERT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  // Free now: create empties it.
  Closer made{FileUnix::create(u8(name), 0)};
  EXPECT_EQ(made.f->get_size(), 0u);
  EXPECT_EQ(made.f->mode, OPEN_CREATED | OPEN_WRITE);
}

TEST(FileUnix, CreateNewRefusesAnyExistingNameAndLeavesItAlone) {
  FileTestDir dir;
  std::string name = dir.file("t.dbf");
  write_plain(name, "old table");
  // Free or held by someone, an existing file is neither emptied nor locked away.
  for (bool held : {false, true}) {
    Closer holder{held ? FileUnix::open(u8(name), OPEN_SHARED) : nullptr};
    EXPECT_THROW(create_file(u8(name), OPEN_NEW), file_error_exists);
    EXPECT_EQ(read_plain(name), "old table");
  }
  // A dangling link is a name in use too: nothing is created behind it.
  std::string target = dir.file("nowhere.dbf");
  std::string link = dir.file("link.dbf");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_THROW(create_file(u8(link), OPEN_NEW), file_error_exists);
  EXPECT_FALSE(fs::exists(target));
  // A free name is created as usual, and the exists kind is still a file_error.
  std::string fresh = dir.file("new.dbf");
  Closer made{create_file(u8(fresh), OPEN_NEW)};
  EXPECT_EQ(made.f->mode & (OPEN_CREATED | OPEN_WRITE), OPEN_CREATED | OPEN_WRITE);
  try {
    create_file(u8(fresh), OPEN_NEW);
    ADD_FAILURE() << "second exclusive create succeeded";
  } catch (const file_error& e) {
    EXPECT_NE(dynamic_cast<const file_error_exists*>(&e), nullptr);
    EXPECT_EQ(e.error_number, EEXIST);
  }
  // In-memory names are always new.
  Closer memory{create_file(u8("memory:///t.dbf"), OPEN_NEW)};
  EXPECT_NE(memory.f, nullptr);
}

// A create the system refuses for want of permission is told apart from a sharing violation:
// "File is in use." would send the user looking for another holder. Root may write into a
// read-only directory, so it is tried where the kernel refuses even root (sysfs).
TEST(FileUnix, CreateTellsAPermissionRefusalFromASharingViolation) {
  FileTestDir dir;
  std::string path;
  if (geteuid() != 0) {
    ASSERT_EQ(mkdir(dir.file("locked").c_str(), 0500), 0);
    path = dir.file("locked/t.dbf");
  } else {
    struct stat st {};
    if (stat("/sys/kernel", &st) != 0) GTEST_SKIP() << "no sysfs to refuse root a file";
    path = "/sys/qz_create_refused.dbf";
  }
  for (OpenMode mode : {OpenMode{0}, OpenMode{OPEN_NEW}, OpenMode{OPEN_SHARED}}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    try {
      Closer made{create_file(u8(path), mode)};
      ADD_FAILURE() << "created " << path;
    } catch (const file_error_access_denied& e) {
      EXPECT_TRUE(e.error_number == EACCES || e.error_number == EPERM || e.error_number == EROFS) << e.error_number;
    }
  }
  if (geteuid() != 0) chmod(dir.file("locked").c_str(), 0700);  // the fixture removes it
}

// Where the name cannot be made for want of its directory, create says so, in every mode and
// without making anything; a file another holder keeps stays a sharing violation.
TEST(FileUnix, CreateTellsAMissingDirectoryFromASharingViolation) {
  FileTestDir dir;
  write_plain(dir.file("plain"), "a regular file");
  const std::string held = dir.file("held.dbf");
  Closer holder{FileUnix::create(u8(held), 0)};
  ASSERT_EQ(symlink(dir.file("gone/t.dbf").c_str(), dir.file("dangling.dbf").c_str()), 0);
  enum class Kind { no_directory, sharing };
  const struct {
    const char* what;
    std::string path;
    Kind kind;
    int error;
  } cases[] = {
      {"missing directory", dir.file("nodir/t.dbf"), Kind::no_directory, ENOENT},
      {"missing directories", dir.file("a/b/c/t.dbf"), Kind::no_directory, ENOENT},
      {"through a regular file", dir.file("plain/t.dbf"), Kind::no_directory, ENOTDIR},
      {"link into a missing directory", dir.file("dangling.dbf"), Kind::no_directory, ENOENT},
      {"held by another object", held, Kind::sharing, EWOULDBLOCK},
  };
  for (const auto& c : cases) {
    for (OpenMode mode : {OpenMode{0}, OpenMode{OPEN_SHARED}, OpenMode{OPEN_UNLINK_ON_CREATE}}) {
      SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
      try {
        Closer made{create_file(u8(c.path), mode)};
        ADD_FAILURE() << "created";
      } catch (const file_error_no_directory& e) {
        EXPECT_EQ(c.kind, Kind::no_directory);
        EXPECT_EQ(e.error_number, c.error);
      } catch (const file_sharing_violation& e) {
        EXPECT_EQ(c.kind, Kind::sharing);
        EXPECT_EQ(e.error_number, c.error);
      }
    }
  }
  // OPEN_NEW: a link names something, whatever it points at; the rest as above.
  EXPECT_THROW(create_file(u8(dir.file("nodir/t.dbf")), OPEN_NEW), file_error_no_directory);
  EXPECT_THROW(create_file(u8(dir.file("plain/t.dbf")), OPEN_NEW), file_error_no_directory);
  EXPECT_THROW(create_file(u8(dir.file("dangling.dbf")), OPEN_NEW), file_error_exists);
  EXPECT_FALSE(fs::exists(dir.file("nodir")));
  EXPECT_FALSE(fs::exists(dir.file("gone")));
  EXPECT_EQ(read_plain(dir.file("plain")), "a regular file");
  EXPECT_TRUE(fs::exists(held));
}

TEST(FileUnix, UnlinkModes) {
  FileTestDir dir;
  std::string a = dir.file("a.tmp");
  Closer created{FileUnix::create(u8(a), OPEN_UNLINK_ON_CREATE)};
  EXPECT_FALSE(fs::exists(a));
  created.f->writeex(0, "abc", 3);
  char buf[3];
  EXPECT_EQ(created.f->readex(0, buf, 3), 3u);  // the file lives on, unnamed
  EXPECT_EQ(created.f->mode, OPEN_UNLINK_ON_CREATE | OPEN_CREATED | OPEN_WRITE);

  std::string b = dir.file("b.tmp");
  write_plain(b, "b");
  Closer opened{FileUnix::open(u8(b), OPEN_UNLINK_ON_OPEN)};
  EXPECT_FALSE(fs::exists(b));
  EXPECT_EQ(opened.f->getc(), 'b');
}

TEST(FileUnix, DescriptorsAreCloseOnExec) {
  FileTestDir dir;
  Closer f{FileUnix::create(u8(dir.file("c.dbf")), 0)};
  int flags = fcntl(static_cast<FileUnix*>(f.f)->fd, F_GETFD);
  EXPECT_TRUE(flags & FD_CLOEXEC);
}

// ---------------------------------------------------------------------------------------------
// Reading, writing, positions
// ---------------------------------------------------------------------------------------------

TEST(FileUnix, ReadWriteSeekTell) {
  FileTestDir dir;
  std::string name = dir.file("rw.dbf");
  Closer f{FileUnix::create(u8(name), 0)};
  f.f->write("hello", 5);
  EXPECT_EQ(static_cast<std::streamoff>(f.f->tell()), 5);
  f.f->writeex(10, "world", 5);
  EXPECT_EQ(static_cast<std::streamoff>(f.f->tell()), 5);  // pwrite does not move
  EXPECT_EQ(f.f->get_size(), 15u);
  EXPECT_EQ(static_cast<std::streamoff>(seek_to_end(f.f)), 15);
  EXPECT_EQ(static_cast<std::streamoff>(f.f->seek(std::streampos(1))), 1);
  char buf[32] = {};
  EXPECT_EQ(f.f->read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "ello");
  EXPECT_EQ(static_cast<std::streamoff>(f.f->seek(-2, std::ios_base::cur)), 3);
  EXPECT_EQ(f.f->getc(), 'l');
  EXPECT_EQ(f.f->readex(8, buf, 32), 7u);  // short at the end
  EXPECT_EQ(std::string(buf, 7), std::string("\0\0world", 7));
  EXPECT_EQ(f.f->readex(15, buf, 4), 0u);
  EXPECT_THROW(f.f->seek(0, static_cast<std::ios_base::seekdir>(42)), std::exception);
  EXPECT_GT(f.f->get_last_modified(), 0);
  // Birth time: where the file system keeps one it is recent, else 0.
  time_t born = f.f->get_create_time();
  EXPECT_TRUE(born == 0 || std::llabs(static_cast<long long>(born - time(nullptr))) < 600);
}

TEST(FileUnix, GetcAtEndIsMinusOne) {
  FileTestDir dir;
  std::string name = dir.file("g.txt");
  write_plain(name, std::string("a\xF0", 2));
  Closer f{FileUnix::open(u8(name), 0)};
  EXPECT_EQ(f.f->getc(), 'a');
  EXPECT_EQ(f.f->getc(), static_cast<int>(static_cast<signed char>('\xF0')));  // signed char widened
  EXPECT_EQ(f.f->getc(), -1);
  EXPECT_EQ(f.f->getc(), -1);
}

TEST(FileUnix, FullDiskSurfacesAsFileError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Closer f{FileUnix::open(u8("/dev/full"), OPEN_WRITE | OPEN_SHARED)};
  try {
    f.f->write("data", 4);
    FAIL() << "write to a full device succeeded";
  } catch (const file_error& e) {
    EXPECT_EQ(e.error_number, ENOSPC);
  }
  EXPECT_THROW(f.f->writeex(0, "data", 4), file_error);
}

TEST(FileUnix, FileSizeLimitSurfacesAsFileErrorAfterShortWrite) {
  FileTestDir dir;
  std::string name = dir.file("limit.dbf");
  int code = in_child([&]() {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    std::unique_ptr<File> f(FileUnix::create(u8(name), 0));
    std::string big(10000, 'x');
    try {
      f->write(big.data(), big.size());
      return 11;  // the short write was lost
    } catch (const file_error& e) {
      if (e.error_number != EFBIG) return 12;
    }
    try {
      f->writeex(8000, big.data(), 10);
      return 13;
    } catch (const file_error& e) {
      if (e.error_number != EFBIG) return 14;
    }
    f->close();
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(size_of(name), 4096);  // the part that fitted was written
}

TEST(FileUnix, ClosedDescriptorSurfacesAsFileError) {
  FileTestDir dir;
  std::string name = dir.file("closed.dbf");
  std::unique_ptr<File> f(FileUnix::create(u8(name), 0));
  f->write("abc", 3);
  f->close();
  EXPECT_EQ(static_cast<FileUnix*>(f.get())->fd, -1);
  try {
    f->write("x", 1);
    FAIL();
  } catch (const file_error& e) {
    EXPECT_EQ(e.error_number, EBADF);
  }
  EXPECT_THROW(f->writeex(0, "x", 1), file_error);
  EXPECT_THROW(f->lock(0, 1), file_error);  // not assert_failed_exception
  EXPECT_FALSE(f->unlock(0, 1));
  char c;
  EXPECT_EQ(f->read(&c, 1), 0u);
  EXPECT_EQ(f->readex(0, &c, 1), 0u);
  EXPECT_EQ(f->getc(), -1);
  EXPECT_EQ(f->get_size(), 0u);
  EXPECT_EQ(f->get_last_modified(), 0);
  f->close();  // twice: harmless
  EXPECT_EQ(read_plain(name), "abc");
  f->remove();
  EXPECT_FALSE(fs::exists(name));
}

TEST(FileUnix, ZeroLengthWriteIsNothing) {
  FileTestDir dir;
  Closer f{FileUnix::create(u8(dir.file("z.dbf")), 0)};
  f.f->write("", 0);
  f.f->writeex(100, "", 0);
  EXPECT_EQ(f.f->get_size(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Byte-range locks (open-file-description fcntl)
// ---------------------------------------------------------------------------------------------

namespace {

bool range_free_for(int fd, off_t start, off_t length) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  if (fcntl(fd, F_OFD_SETLK, &fl) != 0) return false;
  fl.l_type = F_UNLCK;
  fcntl(fd, F_OFD_SETLK, &fl);
  return true;
}

}  // namespace

TEST(FileUnix, ByteRangeLocksExcludeAnotherProcess) {
  FileTestDir dir;
  std::string name = dir.file("locks.dbf");
  write_plain(name, std::string(100, ' '));
  Closer f{FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED)};
  ASSERT_TRUE(f.f->lock(0, 10));
  int code = in_child([&]() {
    int fd = open(name.c_str(), O_RDWR);
    if (range_free_for(fd, 5, 1)) return 1;     // inside the parent's range: refused
    if (!range_free_for(fd, 20, 10)) return 2;  // elsewhere: granted
    std::unique_ptr<File> g(FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED));
    if (!g->lock(50, 5)) return 3;
    if (!g->unlock(50, 5)) return 4;
    g->close();
    return 0;
  });
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(f.f->unlock(0, 10));
  code = in_child([&]() {
    int fd = open(name.c_str(), O_RDWR);
    return range_free_for(fd, 0, 10) ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
}

TEST(FileUnix, LockWaitsForAnotherProcessAndRetriesInterrupts) {
  FileTestDir dir;
  std::string name = dir.file("wait.dbf");
  write_plain(name, std::string(100, ' '));
  Closer f{FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED)};
  ASSERT_TRUE(f.f->lock(0, 10));
  int sync[2];
  ASSERT_EQ(pipe(sync), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(sync[0]);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = [](int) {};
    sa.sa_flags = 0;  // no SA_RESTART: the waiting fcntl fails with EINTR
    sigaction(SIGUSR1, &sa, nullptr);
    int code = 0;
    try {
      std::unique_ptr<File> g(FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED));
      char c = 'w';
      if (write(sync[1], &c, 1) != 1) _exit(5);
      g->lock(2, 3);  // waits for the parent
      c = 'g';
      if (write(sync[1], &c, 1) != 1) _exit(6);
      g->close();
    } catch (const file_error&) {
      code = 2;
    } catch (...) {
      code = 3;
    }
    _exit(code);
  }
  close(sync[1]);  // a child that ends early gives end of input, not a hang
  char c = 0;
  ASSERT_EQ(read(sync[0], &c, 1), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  kill(pid, SIGUSR1);  // interrupts the waiting lock
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  // Still waiting: nothing more has been written to the pipe.
  int fl = fcntl(sync[0], F_GETFL);
  fcntl(sync[0], F_SETFL, fl | O_NONBLOCK);
  EXPECT_EQ(read(sync[0], &c, 1), -1);
  fcntl(sync[0], F_SETFL, fl);
  ASSERT_TRUE(f.f->unlock(0, 10));
  ASSERT_EQ(read(sync[0], &c, 1), 1);
  EXPECT_EQ(c, 'g');
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  close(sync[0]);
}

TEST(FileUnix, TwoObjectsInOneProcessExcludeEachOther) {
  FileTestDir dir;
  std::string name = dir.file("same.dbf");
  write_plain(name, std::string(10, ' '));
  Closer a{FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED)};
  Closer b{FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED)};
  ASSERT_TRUE(a.f->lock(0, 4));
  EXPECT_FALSE(range_free_for(static_cast<FileUnix*>(b.f)->fd, 0, 1));
  b.f->close();  // closing the other object does not release a's lock
  Closer c{FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED)};
  EXPECT_FALSE(range_free_for(static_cast<FileUnix*>(c.f)->fd, 0, 1));
  EXPECT_TRUE(range_free_for(static_cast<FileUnix*>(c.f)->fd, 4, 1));
}

// Whether another process could take the flock (the child opens the file on its own).
bool flock_free_elsewhere(const std::string& name, int op) {
  return in_child([&]() {
           int fd = open(name.c_str(), O_RDONLY);
           return fd >= 0 && flock(fd, op | LOCK_NB) == 0 ? 0 : 1;
         }) == 0;
}

TEST(FileUnix, JoinSharesThisProcesssHoldingUntilTheLastObjectCloses) {
  FileTestDir dir;
  std::string name = dir.file("again.dbf");
  write_plain(name, "0123456789");
  Closer a{FileUnix::open(u8(name), OPEN_WRITE)};
  EXPECT_EQ(a.f->mode & OPEN_SHARED, 0u);
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_WRITE), file_sharing_violation);
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_SHARED), file_sharing_violation);
  EXPECT_THROW(FileUnix::create(u8(name), OPEN_JOIN), file_sharing_violation);
  Closer b{FileUnix::open(u8(name), OPEN_WRITE | OPEN_JOIN)};
  // Both now re-read and lock as beside another process.
  EXPECT_NE(a.f->mode & OPEN_SHARED, 0u);
  EXPECT_NE(b.f->mode & OPEN_SHARED, 0u);
  EXPECT_EQ(read_plain(name), "0123456789");
  EXPECT_FALSE(flock_free_elsewhere(name, LOCK_SH));
  a.f->close();
  EXPECT_FALSE(flock_free_elsewhere(name, LOCK_SH));  // b still holds it
  b.f->close();
  EXPECT_TRUE(flock_free_elsewhere(name, LOCK_EX));
  // A join with nothing to join is an ordinary open, exclusive when asked so.
  Closer c{FileUnix::open(u8(name), OPEN_WRITE | OPEN_JOIN)};
  EXPECT_EQ(c.f->mode & OPEN_SHARED, 0u);
  EXPECT_FALSE(flock_free_elsewhere(name, LOCK_SH));
}

TEST(FileUnix, JoinIsRefusedWhereAnotherProcessHoldsTheFile) {
  FileTestDir dir;
  std::string name = dir.file("theirs.dbf");
  write_plain(name, "x");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(name.c_str(), O_RDONLY);
    char c = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_WRITE | OPEN_JOIN), file_sharing_violation);
  EXPECT_THROW(FileUnix::open(u8(name), OPEN_SHARED | OPEN_JOIN), file_sharing_violation);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
}

TEST(FileUnix, ObjectsOfOneProcessRefuseEachOthersLocksAtOnce) {
  FileTestDir dir;
  std::string name = dir.file("mine.dbf");
  write_plain(name, std::string(40, ' '));
  Closer a{FileUnix::open(u8(name), OPEN_WRITE)};
  Closer b{FileUnix::open(u8(name), OPEN_WRITE | OPEN_JOIN)};
  ASSERT_TRUE(a.f->lock(10, 1));
  EXPECT_FALSE(b.f->lock(10, 1));  // waiting would be for ever: this thread holds it
  EXPECT_FALSE(b.f->lock(0, 0));   // to the end of the file and beyond
  EXPECT_TRUE(b.f->lock(11, 1));
  EXPECT_TRUE(a.f->lock(10, 1));   // its own lock again
  ASSERT_TRUE(a.f->unlock(10, 1));
  EXPECT_TRUE(b.f->lock(10, 1));
  ASSERT_TRUE(a.f->lock(30, 2));
  a.f->close();                    // closing gives its locks back
  EXPECT_TRUE(b.f->lock(31, 1));
  // Another thread of the process waits for the holder, as another process would.
  Closer c{FileUnix::open(u8(name), OPEN_WRITE | OPEN_JOIN)};
  std::atomic<int> got{0};
  std::thread other([&] { got = c.f->lock(31, 1) ? 1 : 2; });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(got.load(), 0);
  ASSERT_TRUE(b.f->unlock(31, 1));
  other.join();
  EXPECT_EQ(got.load(), 1);
}

TEST(FileUnix, MappedWritesLandInTheFileAndSurviveAKilledProcess) {
  FileTestDir dir;
  std::string name = dir.file("mapped.dbf");
  write_plain(name, std::string(10, '.'));
  {
    Closer f{FileUnix::open(u8(name), OPEN_WRITE)};
    auto* u = static_cast<FileUnix*>(f.f);
    ASSERT_TRUE(u->map_writes());
    u->writeex(2, "ab", 2);
    EXPECT_EQ(read_plain(name), "..ab......");  // another description sees it at once
    u->writeex(8, "XYZ", 3);                     // across the end: blocks are taken ahead
    u->writeex(10, "!", 1);
    EXPECT_EQ(u->get_size(), 11u);               // the end is what was written
    EXPECT_EQ(static_cast<std::streamoff>(seek_to_end(u)), 11);
    EXPECT_GE(size_of(name), 11);
    char back[16] = {};
    EXPECT_EQ(u->readex(0, back, sizeof back), 11u);
    EXPECT_EQ(std::string(back, 11), "..ab....XY!");
    EXPECT_EQ(read_plain(name).substr(0, 11), "..ab....XY!");
    u->truncate(4);
    EXPECT_EQ(u->get_size(), 4u);
    u->writeex(6, "q", 1);  // behind the cut end, zeros between
    EXPECT_EQ(u->get_size(), 7u);
  }
  EXPECT_EQ(read_plain(name), std::string("..ab\0\0q", 7));  // closing cuts what was taken ahead
  // A child that writes through its mapping and is killed leaves what it wrote, and behind it
  // nothing but zeros.
  write_plain(name, std::string(8, '-'));
  int done[2];
  ASSERT_EQ(pipe(done), 0);
  pid_t pid = fork();
  if (pid == 0) {
    FileUnix* f = FileUnix::open(u8(name), OPEN_WRITE);
    if (!f->map_writes()) _exit(1);
    f->writeex(1, "kill", 4);
    f->writeex(8, "more", 4);
    char c = 'w';
    (void)!write(done[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(done[0], &c, 1), 1);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(done[0]);
  close(done[1]);
  std::string left = read_plain(name);
  ASSERT_GE(left.size(), 12u);
  EXPECT_EQ(left.substr(0, 12), "-kill---more");
  EXPECT_EQ(left.find_first_not_of('\0', 12), std::string::npos);
}

TEST(FileUnix, OnlyExclusiveWritableDenseFilesAreMapped) {
  FileTestDir dir;
  std::string name = dir.file("plain.dbf");
  write_plain(name, std::string(100, 'x'));
  {
    Closer shared{FileUnix::open(u8(name), OPEN_WRITE | OPEN_SHARED)};
    EXPECT_FALSE(static_cast<FileUnix*>(shared.f)->map_writes());
  }
  {
    Closer readonly{FileUnix::open(u8(name), 0)};
    EXPECT_FALSE(static_cast<FileUnix*>(readonly.f)->map_writes());
  }
  // A hole may need a block when a page is stored into it: a full disk would kill the process.
  std::string sparse = dir.file("sparse.dbf");
  int fd = open(sparse.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_EQ(ftruncate(fd, 1 << 20), 0);
  close(fd);
  Closer holed{FileUnix::open(u8(sparse), OPEN_WRITE)};
  EXPECT_FALSE(static_cast<FileUnix*>(holed.f)->map_writes());
  // A joined object turns shared and writes through its descriptor again.
  Closer a{FileUnix::open(u8(name), OPEN_WRITE)};
  auto* u = static_cast<FileUnix*>(a.f);
  ASSERT_TRUE(u->map_writes());
  Closer b{FileUnix::open(u8(name), OPEN_WRITE | OPEN_JOIN)};
  static_cast<FileUnix*>(b.f)->truncate(10);
  u->writeex(50, "y", 1);  // beyond the cut end: no mapped page to fault on
  EXPECT_EQ(a.f->get_size(), 51u);
}

// ---------------------------------------------------------------------------------------------
// In-memory files
// ---------------------------------------------------------------------------------------------

TEST(FileRamdisk, WriteAtOffsetMakesOneBlockAndZeros) {
  std::unique_ptr<File> f(create_file(u8("memory:///cust.dbf"), 0));
  auto* ram = dynamic_cast<FileRamdisk*>(f.get());
  ASSERT_NE(ram, nullptr);
  EXPECT_EQ(f->mode, OPEN_CREATED | OPEN_WRITE);
  f->writeex(5000, "0123456789", 10);
  EXPECT_EQ(f->get_size(), 5010u);
  ASSERT_EQ(ram->blocks.size(), 1u);
  EXPECT_EQ(ram->blocks.begin()->first, 1u);
  std::string buf(5010, 'x');
  EXPECT_EQ(f->readex(0, buf.data(), 4096), 4096u);
  EXPECT_EQ(buf.substr(0, 4096), std::string(4096, '\0'));
  EXPECT_EQ(f->readex(0, buf.data(), 6000), 5010u);
  EXPECT_EQ(buf.substr(0, 5000), std::string(5000, '\0'));
  EXPECT_EQ(buf.substr(5000), "0123456789");
  EXPECT_EQ(f->readex(5010, buf.data(), 1), 0u);
  EXPECT_EQ(f->readex(9999, buf.data(), 1), 0u);
  EXPECT_EQ(f->readex(0, buf.data(), 0), 0u);
  f->close();
}

TEST(FileRamdisk, SequentialAccessAcrossBlocks) {
  std::unique_ptr<File> f(create_file(u8("MEMORY:///big.fpt"), 0));
  ASSERT_NE(dynamic_cast<FileRamdisk*>(f.get()), nullptr);
  std::string data(10000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  f->write(data.data(), data.size());
  EXPECT_EQ(static_cast<std::streamoff>(f->tell()), 10000);
  EXPECT_EQ(f->get_size(), 10000u);
  EXPECT_EQ(static_cast<std::streamoff>(f->seek(4090, std::ios_base::beg)), 4090);
  std::string back(20, '\0');
  EXPECT_EQ(f->read(back.data(), 20), 20u);
  EXPECT_EQ(back, data.substr(4090, 20));
  EXPECT_EQ(static_cast<std::streamoff>(f->seek(-3, std::ios_base::end)), 9997);
  EXPECT_EQ(f->getc(), data[9997]);
  EXPECT_EQ(static_cast<std::streamoff>(f->seek(1, std::ios_base::cur)), 9999);
  EXPECT_EQ(f->getc(), data[9999]);
  EXPECT_EQ(f->getc(), -1);
  EXPECT_EQ(static_cast<std::streamoff>(seek_to_end(f.get())), 10000);
  EXPECT_THROW(f->seek(0, static_cast<std::ios_base::seekdir>(42)), assert_failed_exception);
  // Overwrite in the middle keeps the size.
  f->writeex(100, "XY", 2);
  EXPECT_EQ(f->get_size(), 10000u);
  char two[2];
  f->readex(100, two, 2);
  EXPECT_EQ(std::string(two, 2), "XY");
  EXPECT_TRUE(f->lock(0, 10));
  EXPECT_TRUE(f->unlock(0, 10));
  EXPECT_GE(f->get_last_modified(), f->get_create_time());
  EXPECT_GT(f->get_create_time(), 0);
}

TEST(FileRamdisk, NameIsUniqueHexWithExtension) {
  std::unique_ptr<File> a(create_file(u8("memory:///cust.dbf"), 0));
  std::unique_ptr<File> b(create_file(u8("memory:///cust.dbf"), 0));
  std::string an(a->name.read(), a->name.size());
  std::string bn(b->name.read(), b->name.size());
  char expected[64];
  std::snprintf(expected, sizeof expected, "memory:///%llx.dbf",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(a.get())));
  EXPECT_EQ(an, expected);
  EXPECT_NE(an, bn);
  EXPECT_TRUE(is_memory_file_name(a->name));
}

TEST(FileFactories, MemoryPrefixIsCaseInsensitiveAndNeedsThreeSlashes) {
  EXPECT_TRUE(is_memory_file_name(u8("memory:///a.dbf")));
  EXPECT_TRUE(is_memory_file_name(u8("MeMoRy:///a.dbf")));
  EXPECT_TRUE(is_memory_file_name(u8("memory:///")));
  EXPECT_FALSE(is_memory_file_name(u8("memory://a.dbf")));
  EXPECT_FALSE(is_memory_file_name(u8("memory:/a.dbf")));
  EXPECT_FALSE(is_memory_file_name(u8("memory")));
  EXPECT_FALSE(is_memory_file_name(u8("")));
  String utf16 = u8("MEMORY:///x.dbf");
  utf16.convert(Charset::utf16le, CON_NONE, 0);
  EXPECT_TRUE(is_memory_file_name(utf16));

  // A name beginning with memory but without the three slashes is a real file.
  FileTestDir dir;
  fs::path saved = fs::current_path();
  fs::create_directory(dir.path / "memory:");
  fs::current_path(dir.path);
  std::unique_ptr<File> f;
  try {
    f.reset(create_file(u8("memory://x.dbf"), 0));
  } catch (...) {
    fs::current_path(saved);
    throw;
  }
  fs::current_path(saved);
  ASSERT_NE(dynamic_cast<FileUnix*>(f.get()), nullptr);
  f->close();
  EXPECT_TRUE(fs::exists(dir.path / "memory:" / "x.dbf"));
}

TEST(FileFactories, OpenFileIsAlwaysPosix) {
  FileTestDir dir;
  std::string name = dir.file("o.dbf");
  write_plain(name, "abc");
  std::unique_ptr<File> f(open_file(u8(name), 0));
  ASSERT_NE(dynamic_cast<FileUnix*>(f.get()), nullptr);
  EXPECT_EQ(f->get_size(), 3u);
  f->close();
  EXPECT_THROW(open_file(u8("memory:///nothing.dbf"), 0), file_sharing_violation);
}

TEST(FileExceptions, Hierarchy) {
  try {
    throw file_error_exists(EEXIST);
  } catch (const file_error& e) {
    EXPECT_EQ(e.error_number, EEXIST);
  }
  try {
    throw file_sharing_violation();
  } catch (const file_error& e) {
    EXPECT_EQ(e.error_number, 0);
  }
  // A missing directory is no sharing violation: callers catching that one do not take it.
  try {
    throw file_error_no_directory(ENOENT);
  } catch (const file_sharing_violation&) {
    ADD_FAILURE() << "caught as a sharing violation";
  } catch (const file_error& e) {
    EXPECT_EQ(e.error_number, ENOENT);
  }
}

// ---------------------------------------------------------------------------------------------
// exists_ci
// ---------------------------------------------------------------------------------------------

TEST(ExistsCi, OneMatchIsFound) {
  FileTestDir dir;
  write_plain(dir.file("customer.dbf"), "");
  std::error_code ec;
  fs::path found;
  EXPECT_TRUE(exists_ci(dir.path / "Customer.DBF", true, true, ec, found));
  EXPECT_FALSE(ec);
  EXPECT_EQ(found, dir.path / "customer.dbf");
  // Only the stem case-insensitive: the extension must match exactly.
  EXPECT_FALSE(exists_ci(dir.path / "Customer.DBF", true, false, ec, found));
  EXPECT_EQ(ec, std::error_code(31, std::generic_category()));
  EXPECT_TRUE(exists_ci(dir.path / "Customer.dbf", true, false, ec, found));
  EXPECT_TRUE(exists_ci(dir.path / "customer.DBF", false, true, ec, found));
  EXPECT_EQ(found, dir.path / "customer.dbf");
}

TEST(ExistsCi, ExactNameAnyTypeIsTrue) {
  FileTestDir dir;
  fs::create_directory(dir.path / "Sub");
  std::error_code ec = std::make_error_code(std::errc::io_error);
  fs::path found;
  EXPECT_TRUE(exists_ci(dir.path / "Sub", false, false, ec, found));
  EXPECT_FALSE(ec);
  EXPECT_EQ(found, dir.path / "Sub");
  // Directories are collected by the fallback too.
  EXPECT_TRUE(exists_ci(dir.path / "SUB", true, true, ec, found));
  EXPECT_EQ(found, dir.path / "Sub");
}

TEST(ExistsCi, TwoMatchesGiveError31) {
  FileTestDir dir;
  write_plain(dir.file("customer.dbf"), "");
  write_plain(dir.file("CUSTOMER.dbf"), "");
  std::error_code ec;
  fs::path found;
  EXPECT_FALSE(exists_ci(dir.path / "Customer.DBF", true, true, ec, found));
  EXPECT_EQ(ec, std::error_code(31, std::generic_category()));
  EXPECT_EQ(found, dir.path / "Customer.DBF");
}

TEST(ExistsCi, NoMatchAndNoFlags) {
  FileTestDir dir;
  std::error_code ec;
  fs::path found;
  EXPECT_FALSE(exists_ci(dir.path / "none.dbf", true, true, ec, found));
  EXPECT_EQ(ec, std::error_code(31, std::generic_category()));
  write_plain(dir.file("x.dbf"), "");
  EXPECT_FALSE(exists_ci(dir.path / "X.DBF", false, false, ec, found));
  EXPECT_TRUE(ec);
}

TEST(ExistsCi, BareNameGives95) {
  std::error_code ec;
  fs::path found;
  EXPECT_FALSE(exists_ci("customer.dbf", true, true, ec, found));
  EXPECT_EQ(ec, std::error_code(95, std::generic_category()));
  EXPECT_EQ(found, fs::path("customer.dbf"));
  EXPECT_FALSE(exists_ci("/tmp/", true, true, ec, found));  // no file name
  EXPECT_EQ(ec, std::error_code(95, std::generic_category()));
}

TEST(ExistsCi, MissingDirectoryReportsTheScanError) {
  FileTestDir dir;
  std::error_code ec;
  fs::path found;
  EXPECT_FALSE(exists_ci(dir.path / "nodir" / "a.dbf", true, true, ec, found));
  EXPECT_EQ(ec, std::make_error_code(std::errc::no_such_file_or_directory));
}
