// file.cpp - File, FileUnix, FileRamdisk, the factories and exists_ci.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qzbase {

namespace {

// The name as a NUL-terminated UTF-8 path (RuntimeError 202 for an embedded zero).
std::string native_name(const String& name) {
  std::filesystem::path p = name;
  return p.native();
}

int open_retry(const char* path, int flags, mode_t perms) {
  int fd;
  do {
    fd = ::open(path, flags, perms);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The non-blocking flock of the open mode; true when it is held.
bool take_flock(int fd, OpenMode mode) {
  int op = ((mode & OPEN_SHARED) ? LOCK_SH : LOCK_EX) | LOCK_NB;
  int rc;
  do {
    rc = ::flock(fd, op);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// Closes fd and throws file_sharing_violation with the errno that caused it.
[[noreturn]] void fail_sharing(int fd, int error) {
  if (fd >= 0) ::close(fd);
  throw file_sharing_violation(error);
}

off_t to_offset(std::streampos position) { return static_cast<off_t>(static_cast<std::streamoff>(position)); }

// Writes everything, retrying short writes and EINTR; offset < 0 writes at the file position.
void write_fully(int fd, const char* data, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw file_error(errno);
    }
    if (n == 0) throw file_error(EIO);  // no progress and no error: never loop forever
    data += n;
    size -= static_cast<size_t>(n);
    if (offset >= 0) offset += n;
  }
}

// Reads until size bytes, the end of the file or an error; returns the bytes read. offset < 0
// reads at the file position.
size_t read_fully(int fd, char* buffer, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = offset < 0 ? ::read(fd, buffer + done, size - done)
                           : ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// A fresh description of the file fd is open on (also when its name is gone), read-only: it
// carries the process's flock. -1 with errno set when there is none.
int reopen_for_flock(int fd, const std::string& path) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  int h = open_retry(self.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (h >= 0) return h;
  h = open_retry(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (h < 0) return -1;
  struct stat a, b;
  if (::fstat(fd, &a) != 0 || ::fstat(h, &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
    ::close(h);
    errno = ESTALE;
    return -1;
  }
  return h;
}

// Ranges [a, a + n) with n = 0 reaching to the end and beyond.
bool ranges_overlap(uint64_t a, uint64_t n, uint64_t b, uint64_t m) {
  bool a_before_b_ends = m == 0 || a < b + m;
  bool b_before_a_ends = n == 0 || b < a + n;
  return a_before_b_ends && b_before_a_ends;
}

}  // namespace

// The files this process holds, by device and inode. Each holding owns one read-only description
// with the flock, so the lock lives exactly as long as some object of the process uses the file,
// whichever of them closes first; the objects' own descriptions carry no flock and keep their
// byte-range locks to themselves.
struct FileHoldings {
  struct Holding;
  using Map = std::map<std::pair<dev_t, ino_t>, Holding>;
  struct Holding {
    Map* map = nullptr;
    std::pair<dev_t, ino_t> key;
    int fd = -1;
    bool exclusive = false;
    std::vector<FileUnix*> users;
  };

  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  // A forked child is another process: what it opens from then on starts a map of its own. The
  // objects it inherited keep the old one (left allocated), whose descriptions it shares with
  // its parent, and give it up as they close.
  static Map& map() {
    static Map** current = [] {
      static Map* m = new Map();
      pthread_atfork([] { mutex().lock(); }, [] { mutex().unlock(); },
                     [] {
                       mutex().unlock();
                       m = new Map();
                     });
      return &m;
    }();
    return **current;
  }

  // Enters a new object. Refused (file_sharing_violation, EWOULDBLOCK) exactly where a flock of
  // its own would have been: beside an exclusive holding or when it wants exclusive use; with
  // join it shares the holding instead. Another process's lock refuses it through the flock.
  static void enter(FileUnix* f, const std::string& path, bool join) {
    struct stat st;
    if (::fstat(f->fd, &st) != 0) throw file_sharing_violation(errno);
    std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
    const bool exclusive = (f->mode & OPEN_SHARED) == 0;
    std::lock_guard<std::mutex> guard(mutex());
    auto it = map().find(key);
    if (it != map().end()) {
      Holding& h = it->second;
      if (!join && (h.exclusive || exclusive)) throw file_sharing_violation(EWOULDBLOCK);
      h.users.push_back(f);
      f->holding_ = &h;
      if (join) {
        for (FileUnix* u : h.users) u->become_shared();
      }
      return;
    }
    int fd = reopen_for_flock(f->fd, path);
    if (fd < 0) throw file_sharing_violation(errno);
    if (!take_flock(fd, f->mode)) {
      int error = errno;
      ::close(fd);
      throw file_sharing_violation(error);
    }
    Holding& h = map()[key];
    h.map = &map();
    h.key = key;
    h.fd = fd;
    h.exclusive = exclusive;
    h.users.push_back(f);
    f->holding_ = &h;
  }

  // The last object to leave gives the flock back. Objects that were shared stay shared: what
  // they hold in memory was kept as a shared user keeps it.
  static void leave(FileUnix* f) {
    std::lock_guard<std::mutex> guard(mutex());
    auto* h = static_cast<Holding*>(f->holding_);
    if (h == nullptr) return;
    f->holding_ = nullptr;
    f->held_ranges_.clear();
    std::erase(h->users, f);
    if (!h->users.empty()) return;
    ::close(h->fd);
    h->map->erase(h->key);
  }

  // True when another object holds a lock overlapping the range on this very thread.
  static bool held_by_other(const FileUnix* f, uint64_t start, uint64_t length) {
    std::lock_guard<std::mutex> guard(mutex());
    auto* h = static_cast<Holding*>(f->holding_);
    if (h == nullptr || h->users.size() < 2) return false;
    const std::thread::id me = std::this_thread::get_id();
    for (const FileUnix* u : h->users) {
      if (u == f) continue;
      for (const FileUnix::HeldRange& r : u->held_ranges_) {
        if (r.thread == me && ranges_overlap(start, length, r.start, r.length)) return true;
      }
    }
    return false;
  }

  static void locked(FileUnix* f, uint64_t start, uint64_t length) {
    std::lock_guard<std::mutex> guard(mutex());
    if (f->holding_ == nullptr) return;
    const std::thread::id me = std::this_thread::get_id();
    for (FileUnix::HeldRange& r : f->held_ranges_) {
      if (r.start == start && r.length == length) {
        r.thread = me;
        return;
      }
    }
    f->held_ranges_.push_back({start, length, me});
  }

  // Every range the unlock touched is forgotten: what a partial unlock leaves is still held by
  // the kernel, where a request for it waits as before rather than being refused here.
  static void unlocked(FileUnix* f, uint64_t start, uint64_t length) {
    std::lock_guard<std::mutex> guard(mutex());
    std::erase_if(f->held_ranges_, [&](const FileUnix::HeldRange& r) {
      return ranges_overlap(start, length, r.start, r.length);
    });
  }
};

File::~File() = default;

// ---------------------------------------------------------------------------------------------
// FileUnix
// ---------------------------------------------------------------------------------------------

FileUnix::~FileUnix() {
  unmap();
  FileHoldings::leave(this);
}

FileUnix* FileUnix::open(String name, OpenMode mode) {
  QZ_TRACE;
  std::string path = native_name(name);
  int flags = ((mode & OPEN_WRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = open_retry(path.c_str(), flags, 0);
  if (fd < 0) fail_sharing(-1, errno);
  std::unique_ptr<FileUnix> file;
  try {
    file.reset(new FileUnix(std::move(name), mode, fd));
    FileHoldings::enter(file.get(), path, (mode & OPEN_JOIN) != 0);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (mode & OPEN_UNLINK_ON_OPEN) ::unlink(path.c_str());
  return file.release();
}

FileUnix* FileUnix::create(String name, OpenMode mode) {
  QZ_TRACE;
  std::string path = native_name(name);
  // Mended: no O_TRUNC here. The file is emptied only once this descriptor holds the lock, so a
  // file that another holder keeps open is never truncated under it.
  int flags = O_RDWR | O_CREAT | O_CLOEXEC;
  if (mode & OPEN_NEW) flags |= O_EXCL;
  int fd = open_retry(path.c_str(), flags, 0660);
  if (fd < 0 && errno == EEXIST && (mode & OPEN_NEW)) throw file_error_exists(EEXIST);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) throw file_error_no_directory(errno);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) throw file_error_access_denied(errno);
  if (fd < 0) fail_sharing(-1, errno);
  std::unique_ptr<FileUnix> file;
  try {
    // A create never joins: a file this process uses is not emptied under it.
    file.reset(new FileUnix(std::move(name), (mode & ~OpenMode{OPEN_JOIN}) | OPEN_CREATED | OPEN_WRITE, fd));
    FileHoldings::enter(file.get(), path, false);
  } catch (...) {
    ::close(fd);
    throw;
  }
  // Mode 8 removes the name once the file is ours (removing it before the lock
  // could take the name of a file that someone else holds).
  if (mode & OPEN_UNLINK_ON_CREATE) ::unlink(path.c_str());
  int rc;
  do {
    rc = ::ftruncate(fd, 0);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int error = errno;
    file->close();
    throw file_sharing_violation(error);
  }
  return file.release();
}

std::streampos FileUnix::seek(std::streamoff offset, std::ios_base::seekdir direction) {
  QZ_TRACE;
  int whence;
  if (direction == std::ios_base::beg) {
    whence = SEEK_SET;
  } else if (direction == std::ios_base::cur) {
    whence = SEEK_CUR;
  } else if (direction == std::ios_base::end) {
    whence = SEEK_END;
    std::lock_guard<std::mutex> guard(map_mutex_);
    if (mapping_usable(0, 0)) {  // the end of what was written, not of the blocks taken ahead
      whence = SEEK_SET;
      offset += static_cast<std::streamoff>(map_size_);
    }
  } else {
    throw std::exception();
  }
  return std::streampos(static_cast<std::streamoff>(::lseek(fd, static_cast<off_t>(offset), whence)));
}

std::streampos FileUnix::seek(std::streampos position) {
  QZ_TRACE;
  return std::streampos(static_cast<std::streamoff>(::lseek(fd, to_offset(position), SEEK_SET)));
}

void FileUnix::write(const char* data, size_t size) {
  QZ_TRACE;
  write_fully(fd, data, size, -1);
}

void FileUnix::writeex(std::streampos position, const char* data, size_t size) {
  QZ_TRACE;
  off_t offset = to_offset(position);
  if (offset < 0) throw file_error(EINVAL);
  const uint64_t at = static_cast<uint64_t>(offset);
  if (map_ != nullptr) {
    std::lock_guard<std::mutex> guard(map_mutex_);
    if (mapping_usable(at, size) && (at + size <= physical_size_ || grow_to(at + size))) {
      std::memcpy(map_ + offset, data, size);
      map_size_ = std::max(map_size_, at + size);
      return;
    }
  }
  write_fully(fd, data, size, offset);
  if (map_ != nullptr) {
    std::lock_guard<std::mutex> guard(map_mutex_);
    map_size_ = std::max(map_size_, at + size);
    physical_size_ = std::max(physical_size_, map_size_);
  }
}

size_t FileUnix::read(char* buffer, size_t size) {
  QZ_TRACE;
  return read_fully(fd, buffer, size, -1);
}

size_t FileUnix::readex(std::streampos position, char* buffer, size_t size) {
  QZ_TRACE;
  off_t offset = to_offset(position);
  if (offset < 0) return 0;
  if (map_ != nullptr) {
    std::lock_guard<std::mutex> guard(map_mutex_);
    const uint64_t at = static_cast<uint64_t>(offset);
    if (mapping_usable(at, 0)) {
      // The file's end is the end of what was written: the blocks taken ahead are not read.
      size_t n = at >= map_size_ ? 0 : static_cast<size_t>(std::min<uint64_t>(size, map_size_ - at));
      if (n != 0) std::memcpy(buffer, map_ + offset, n);
      return n;
    }
  }
  return read_fully(fd, buffer, size, offset);
}

// Joined objects turn shared and then use the descriptor: another object may cut the file.
bool FileUnix::mapping_usable(uint64_t offset, size_t size) const {
  return map_ != nullptr && (mode & OPEN_SHARED) == 0 && size <= map_reserved_ && offset <= map_reserved_ - size;
}

// Appends take the file's blocks ahead, a piece at a time, so that a record added inside them is
// a copy into the mapping rather than a system call. The file's length grows with them; its end
// for readers in this process stays map_size_, and closing cuts it there. A writer killed in
// between leaves zero bytes behind its last record, which the table's next open cuts (no record
// begins with a zero byte).
bool FileUnix::grow_to(uint64_t end) {
  const uint64_t piece = std::clamp<uint64_t>(physical_size_ / 16, uint64_t{64} << 10, uint64_t{4} << 20);
  uint64_t target = std::max(end, physical_size_ + piece);
  target = std::min<uint64_t>(target, map_reserved_);
  if (target < end) return false;
  int rc;
  do {
    rc = ::fallocate(fd, 0, static_cast<off_t>(physical_size_), static_cast<off_t>(target - physical_size_));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;  // no room, or no such call here: the descriptor writes instead
  physical_size_ = target;
  return true;
}

void FileUnix::trim() {
  if (map_ == nullptr || physical_size_ <= map_size_ || fd < 0) return;
  int rc;
  do {
    rc = ::ftruncate(fd, static_cast<off_t>(map_size_));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) physical_size_ = map_size_;
}

void FileUnix::become_shared() {
  std::lock_guard<std::mutex> guard(map_mutex_);
  trim();
  mode |= OPEN_SHARED;
}

bool FileUnix::map_writes() {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(map_mutex_);
  if (map_ != nullptr) return true;
  if (fd < 0 || (mode & OPEN_WRITE) == 0 || (mode & OPEN_SHARED) != 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (static_cast<uint64_t>(st.st_blocks) * 512 < static_cast<uint64_t>(st.st_size)) return false;
  // A table never grows past 2 GiB: address space for that much, the pages come as used.
  const size_t reserve = size_t{1} << 31;
  if (static_cast<uint64_t>(st.st_size) > reserve) return false;
  void* p = ::mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return false;
  map_ = static_cast<char*>(p);
  map_reserved_ = reserve;
  map_size_ = physical_size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

void FileUnix::unmap() {
  std::lock_guard<std::mutex> guard(map_mutex_);
  if (map_ == nullptr) return;
  if ((mode & OPEN_SHARED) == 0) trim();
  ::munmap(map_, map_reserved_);
  map_ = nullptr;
  map_reserved_ = 0;
  map_size_ = physical_size_ = 0;
}

void FileUnix::truncate(uint64_t size) {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(map_mutex_);
  // Below the new size first: a failed cut may have cut part of the way.
  map_size_ = std::min(map_size_, size);
  int rc;
  do {
    rc = ::ftruncate(fd, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) throw file_error(errno);
  if (map_ != nullptr) map_size_ = physical_size_ = size;
}

int FileUnix::getc() {
  QZ_TRACE;
  char c;
  if (read(&c, 1) != 1) return -1;
  return static_cast<int>(static_cast<signed char>(c));
}

std::streampos FileUnix::tell() {
  QZ_TRACE;
  return std::streampos(static_cast<std::streamoff>(::lseek(fd, 0, SEEK_CUR)));
}

void FileUnix::close() {
  QZ_TRACE;
  unmap();
  if (fd >= 0) {
    ::close(fd);  // never retried: the descriptor is gone whatever close answers
    fd = -1;
  }
  FileHoldings::leave(this);
}

void FileUnix::remove() {
  QZ_TRACE;
  std::string path = native_name(name);
  ::unlink(path.c_str());
}

bool FileUnix::lock(std::streampos position, size_t length) {
  QZ_TRACE;
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = to_offset(position);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  // The kernel would let a thread wait for ever on a lock of its own process.
  if (FileHoldings::held_by_other(this, static_cast<uint64_t>(fl.l_start), length)) return false;
  while (::fcntl(fd, F_OFD_SETLKW, &fl) != 0) {
    if (errno == EINTR) continue;
    throw file_error(errno);
  }
  FileHoldings::locked(this, static_cast<uint64_t>(fl.l_start), length);
  return true;
}

bool FileUnix::unlock(std::streampos position, size_t length) {
  QZ_TRACE;
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = to_offset(position);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) FileHoldings::unlocked(this, static_cast<uint64_t>(fl.l_start), length);
  return rc == 0;
}

size_t FileUnix::get_size() const {
  QZ_TRACE;
  if (map_ != nullptr) {
    std::lock_guard<std::mutex> guard(map_mutex_);
    if (map_ != nullptr && (mode & OPEN_SHARED) == 0) return static_cast<size_t>(map_size_);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) return 0;
  return static_cast<size_t>(st.st_size);
}

time_t FileUnix::get_last_modified() const {
  QZ_TRACE;
  struct stat st;
  if (::fstat(fd, &st) != 0) return 0;
  return st.st_mtim.tv_sec;
}

time_t FileUnix::get_create_time() const {
  QZ_TRACE;
  struct statx stx;
  std::memset(&stx, 0, sizeof stx);
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx) != 0) return 0;
  if (!(stx.stx_mask & STATX_BTIME)) return 0;  // the file system keeps no birth time
  return static_cast<time_t>(stx.stx_btime.tv_sec);
}

// ---------------------------------------------------------------------------------------------
// FileRamdisk
// ---------------------------------------------------------------------------------------------

FileRamdisk::FileRamdisk(String name, OpenMode mode) : File(std::move(name), mode) {
  QZ_TRACE;
  create_time = std::time(nullptr);
  last_modified = create_time;
}

FileRamdisk::~FileRamdisk() = default;  // the map frees every block

FileRamdisk* FileRamdisk::create(String name, OpenMode mode) {
  QZ_TRACE;
  std::filesystem::path given = name;
  std::string extension = given.extension().native();
  auto* file = new FileRamdisk(String(0, Charset::utf8), mode | OPEN_CREATED | OPEN_WRITE);
  char number[32];
  std::snprintf(number, sizeof number, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(file)));
  std::string unique = std::string("memory:///") + number + extension;
  try {
    String made(unique.data(), unique.size(), Charset::utf8);
    const Charset* cs = name.get_charset();
    if (cs != nullptr && cs != Charset::utf8 && !cs->is_flagged()) {
      // Back into the charset of the given name (the name is ASCII but for the extension).
      String converted = made;
      converted.convert(cs, CON_NONE, 0);
      made = converted;
    }
    file->name = made;
  } catch (...) {
    delete file;
    throw;
  }
  return file;
}

std::streampos FileRamdisk::seek(std::streamoff offset, std::ios_base::seekdir direction) {
  QZ_TRACE;
  if (direction == std::ios_base::beg) {
    position = std::streampos(offset);
  } else if (direction == std::ios_base::cur) {
    position += offset;
  } else if (direction == std::ios_base::end) {
    position = std::streampos(static_cast<std::streamoff>(size) + offset);
  } else {
    throw_assert_failed();
  }
  return tell();
}

std::streampos FileRamdisk::seek(std::streampos new_position) {
  QZ_TRACE;
  position = new_position;
  return position;
}

size_t FileRamdisk::readex(std::streampos at, char* buffer, size_t count) {
  QZ_TRACE;
  std::streamoff start = static_cast<std::streamoff>(at);
  if (count == 0 || start < 0 || static_cast<uint64_t>(start) >= size) return 0;
  uint64_t pos = static_cast<uint64_t>(start);
  size_t copied = 0;
  while (copied < count && pos < size) {
    uint64_t in_block = pos % block_size;
    uint64_t n = size - pos;
    if (block_size - in_block < n) n = block_size - in_block;
    if (count - copied < n) n = count - copied;
    auto it = blocks.find(pos / block_size);
    if (it == blocks.end()) {
      std::memset(buffer + copied, 0, n);
    } else {
      std::memcpy(buffer + copied, it->second.get() + in_block, n);
    }
    copied += n;
    pos += n;
  }
  return copied;
}

void FileRamdisk::writeex(std::streampos at, const char* data, size_t count) {
  QZ_TRACE;
  std::streamoff start = static_cast<std::streamoff>(at);
  if (start < 0) throw file_error(EINVAL);
  uint64_t pos = static_cast<uint64_t>(start);
  size_t done = 0;
  while (done < count) {
    uint64_t number = pos / block_size;
    uint64_t in_block = pos % block_size;
    uint64_t n = block_size - in_block;
    if (count - done < n) n = count - done;
    auto& block = blocks[number];
    if (!block) block.reset(new char[block_size]());  // zero-filled
    std::memcpy(block.get() + in_block, data + done, n);
    done += n;
    pos += n;
    if (pos > size) size = pos;
  }
  if (count) last_modified = std::time(nullptr);
}

size_t FileRamdisk::read(char* buffer, size_t count) {
  QZ_TRACE;
  size_t n = readex(position, buffer, count);
  position += static_cast<std::streamoff>(n);
  return n;
}

void FileRamdisk::write(const char* data, size_t count) {
  QZ_TRACE;
  writeex(position, data, count);
  position += static_cast<std::streamoff>(count);
}

int FileRamdisk::getc() {
  QZ_TRACE;
  char c;
  if (read(&c, 1) != 1) return -1;
  return static_cast<int>(static_cast<signed char>(c));
}

std::streampos FileRamdisk::tell() {
  QZ_TRACE;
  return position;
}
void FileRamdisk::close() {
  QZ_TRACE;
}
void FileRamdisk::remove() {
  QZ_TRACE;
}
bool FileRamdisk::lock(std::streampos, size_t) {
  QZ_TRACE;
  return true;
}
bool FileRamdisk::unlock(std::streampos, size_t) {
  QZ_TRACE;
  return true;
}
size_t FileRamdisk::get_size() const {
  QZ_TRACE;
  return static_cast<size_t>(size);
}
time_t FileRamdisk::get_last_modified() const {
  QZ_TRACE;
  return last_modified;
}
time_t FileRamdisk::get_create_time() const {
  QZ_TRACE;
  return create_time;
}

// ---------------------------------------------------------------------------------------------
// Factories
// ---------------------------------------------------------------------------------------------

bool is_memory_file_name(const String& name) {
  QZ_TRACE;
  static const char32_t prefix[] = U"memory:///";
  const Charset* cs = name.get_charset();
  if (cs == nullptr) return false;
  const char* p = name.read();
  const char* end = name.end();
  const Collation* ci = Collation::unicode_machine_ci;
  for (size_t i = 0; i < 10; ++i) {
    if (p >= end) return false;
    char32_t c = cs->next(&p, end);
    bool same = ci ? ci->compare(c, prefix[i]) == 0 : c == prefix[i];
    if (!same) return false;
  }
  return true;
}

File* create_file(String name, OpenMode mode) {
  QZ_TRACE;
  if (is_memory_file_name(name)) return FileRamdisk::create(std::move(name), mode);
  return FileUnix::create(std::move(name), mode);
}

File* open_file(String name, OpenMode mode) {
  QZ_TRACE;
  return FileUnix::open(std::move(name), mode);
}

std::streampos seek_to_end(File* file) {
  QZ_TRACE;
  file->seek(0, std::ios_base::end);
  return file->tell();
}

// ---------------------------------------------------------------------------------------------
// exists_ci
// ---------------------------------------------------------------------------------------------

namespace {

bool same_part(const std::filesystem::path& a, const std::filesystem::path& b, bool ci) {
  const std::string& x = a.native();
  const std::string& y = b.native();
  const Collation* coll = ci ? Collation::unicode_machine_ci : Collation::unicode_machine;
  if (coll == nullptr) return x == y;
  return coll->compare(x.data(), x.data() + x.size(), Charset::utf8, y.data(), y.data() + y.size(),
                       Charset::utf8) == 0;
}

}  // namespace

bool exists_ci(const std::filesystem::path& path, bool stem_ci, bool extension_ci, std::error_code& error,
               std::filesystem::path& found) {
  QZ_TRACE;
  namespace fs = std::filesystem;
  found = path;
  if (!path.has_filename() || !path.has_parent_path()) {
    error = std::error_code(95, std::generic_category());
    return false;
  }
  std::error_code status_error;
  fs::file_status st = fs::status(path, status_error);
  if (fs::exists(st)) {
    error.clear();
    return true;
  }
  if (!stem_ci && !extension_ci) {
    error = status_error ? status_error : std::make_error_code(std::errc::no_such_file_or_directory);
    return false;
  }
  fs::path stem = path.stem();
  fs::path extension = path.extension();
  std::vector<fs::path> matches;
  std::error_code scan_error;
  fs::directory_iterator it(path.parent_path(), scan_error);
  if (scan_error) {
    error = scan_error;
    return false;
  }
  for (fs::directory_iterator end; it != end; it.increment(scan_error)) {
    if (scan_error) break;
    const fs::path entry = it->path().filename();
    if (same_part(entry.stem(), stem, stem_ci) && same_part(entry.extension(), extension, extension_ci)) {
      matches.push_back(it->path());
    }
  }
  if (scan_error) {
    error = scan_error;
    return false;
  }
  if (matches.size() == 1) {
    found = matches.front();
    error.clear();
    return true;
  }
  error = std::error_code(31, std::generic_category());
  return false;
}

}  // namespace qzbase
