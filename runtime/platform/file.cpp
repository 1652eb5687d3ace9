// file.cpp - File, FileUnix, FileRamdisk, the factories and exists_ci.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
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

}  // namespace

File::~File() = default;

// ---------------------------------------------------------------------------------------------
// FileUnix
// ---------------------------------------------------------------------------------------------

FileUnix::~FileUnix() = default;

FileUnix* FileUnix::open(String name, OpenMode mode) {
  QZ_TRACE;
  std::string path = native_name(name);
  int flags = ((mode & OPEN_WRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = open_retry(path.c_str(), flags, 0);
  if (fd < 0) fail_sharing(-1, errno);
  if (!take_flock(fd, mode)) fail_sharing(fd, errno);
  if (mode & OPEN_UNLINK_ON_OPEN) ::unlink(path.c_str());
  try {
    return new FileUnix(std::move(name), mode, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
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
  if (fd < 0) fail_sharing(-1, errno);
  if (!take_flock(fd, mode)) fail_sharing(fd, errno);
  // Mode 8 removes the name once the file is ours (removing it before the lock
  // could take the name of a file that someone else holds).
  if (mode & OPEN_UNLINK_ON_CREATE) ::unlink(path.c_str());
  int rc;
  do {
    rc = ::ftruncate(fd, 0);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) fail_sharing(fd, errno);
  try {
    return new FileUnix(std::move(name), mode | OPEN_CREATED | OPEN_WRITE, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
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
  write_fully(fd, data, size, offset);
}

size_t FileUnix::read(char* buffer, size_t size) {
  QZ_TRACE;
  return read_fully(fd, buffer, size, -1);
}

size_t FileUnix::readex(std::streampos position, char* buffer, size_t size) {
  QZ_TRACE;
  off_t offset = to_offset(position);
  if (offset < 0) return 0;
  return read_fully(fd, buffer, size, offset);
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
  if (fd >= 0) {
    ::close(fd);  // never retried: the descriptor is gone whatever close answers
    fd = -1;
  }
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
  while (::fcntl(fd, F_OFD_SETLKW, &fl) != 0) {
    if (errno == EINTR) continue;
    throw file_error(errno);
  }
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
  return rc == 0;
}

size_t FileUnix::get_size() const {
  QZ_TRACE;
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
