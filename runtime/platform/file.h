// file.h - the random-access file that tables, memo files and indexes stand on.
//
// File is read and written at explicit offsets. FileUnix works over a POSIX descriptor (pread
// and pwrite, whole-file sharing by flock, byte-range locks by open-file-description fcntl
// locks); FileRamdisk is an in-memory file in 4096-byte blocks for names that begin with
// "memory:///". create_file and open_file choose between them. exists_ci is the existence test
// with a case-insensitive fallback.
//
// Faults mended (each tested):
// - FileUnix::create opened with O_TRUNC before it held the lock, so creating a file that another
//   process held emptied that live file and only then reported the sharing violation. It opens
//   without O_TRUNC, takes the lock (and only then unlinks for mode 8), then truncates.
// - A create that must not replace anything (a new table) could only empty what was there: mode
//   OPEN_NEW creates with O_EXCL and reports an existing name as file_error_exists.
// - write and writeex ignored the count written: short writes and errors (ENOSPC, EIO, EFBIG,
//   EBADF) were lost. Both loop until every byte is written (EINTR is retried) and throw
//   file_error with the errno otherwise.
// - lock turned any fcntl failure into assert_failed_exception: EINTR is retried, any other
//   failure throws file_error.
// - getc at the end of the file (or on a read error) returns -1.
// - create reported a missing directory, or a path through something that is no directory, as
//   a sharing violation, so a new table there failed with "File is in use." and COPY TO with a
//   generic error. Those two (ENOENT, ENOTDIR) raise file_error_no_directory; a refusal for want
//   of permission or on a read-only file system (EACCES, EPERM, EROFS) raises
//   file_error_access_denied.
// - Descriptors are opened with O_CLOEXEC, so a child process started by the language never
//   inherits a table's descriptor (and with it the flock sharing lock, which would outlive the
//   table's close).
// - A second open of a file this process held exclusively was refused by the process's own
//   flock, so USE ... AGAIN of a table opened EXCLUSIVE failed with 1705. The process takes the
//   flock once per file, on a description of its own; an OPEN_JOIN open shares it (and turns
//   every object of the file to shared use), any other open sees the same refusals as before.
// - close forgets the descriptor (-1), so a second close or a write after close fails with
//   EBADF instead of touching whatever file reuses the number.
// Also: reads loop over short counts (EINTR, pipes) until the count, the end or an error; an
// error returns what was read so far (never a negative count). FileRamdisk::getc reads one byte
// like FileUnix::getc (rather than throwing) so that an in-memory file behaves like a real one.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <ios>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qzbase {

// Bits of OpenMode.
using OpenMode = uint32_t;
enum : OpenMode {
  OPEN_CREATED = 1,          // set with OPEN_WRITE on every file made by a create operation
  OPEN_WRITE = 2,            // read-write; without it read-only
  OPEN_SHARED = 4,           // flock LOCK_SH; without it LOCK_EX
  OPEN_UNLINK_ON_CREATE = 8,  // create: the name is removed once the file is made (and locked)
  OPEN_UNLINK_ON_OPEN = 16,   // open: the name is removed once the lock is held
  OPEN_NEW = 32,              // create: the name must not exist yet (file_error_exists)
  OPEN_JOIN = 64,             // open: a file this process holds is shared with its holders
};

// The file exceptions. error_number is the errno of the failing call when there was one (0
// otherwise); callers turn them into the language's errors (1102, 1104, 1105, 3, ...).
class file_error {
 public:
  file_error() = default;
  explicit file_error(int error) : error_number(error) {}
  virtual ~file_error() = default;
  int error_number = 0;
};
// An open or create that could not be done: the open failed or the flock lock is held elsewhere.
class file_sharing_violation : public file_error {
 public:
  using file_error::file_error;
};
// A file that must not exist yet already does (the table layer's exclusive creation).
class file_error_exists : public file_error {
 public:
  using file_error::file_error;
};
// A create whose directory does not exist or whose path goes through something that is no
// directory: nothing holds the file, nothing could be made there.
class file_error_no_directory : public file_error {
 public:
  using file_error::file_error;
};
// A create the system refused for want of permission or on a read-only file system.
class file_error_access_denied : public file_error {
 public:
  using file_error::file_error;
};

class File {
 public:
  File(String name, OpenMode mode) : name(std::move(name)), mode(mode) {}
  // Frees the object only: owners call close() first.
  virtual ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  virtual std::streampos seek(std::streamoff offset, std::ios_base::seekdir direction) = 0;
  virtual std::streampos seek(std::streampos position) = 0;
  // Writes every byte or throws file_error.
  virtual void write(const char* data, size_t size) = 0;
  virtual void writeex(std::streampos position, const char* data, size_t size) = 0;
  // Returns the bytes read (short only at the end of the file or on an error).
  virtual size_t read(char* buffer, size_t size) = 0;
  virtual size_t readex(std::streampos position, char* buffer, size_t size) = 0;
  // The next byte as a signed char widened to int; -1 at the end of the file.
  virtual int getc() = 0;
  virtual std::streampos tell() = 0;
  virtual void close() = 0;
  virtual void remove() = 0;
  // Exclusive lock of [position, position + length) (length 0: to the end and beyond); waits.
  virtual bool lock(std::streampos position, size_t length) = 0;
  virtual bool unlock(std::streampos position, size_t length) = 0;
  virtual size_t get_size() const = 0;
  virtual time_t get_last_modified() const = 0;
  virtual time_t get_create_time() const = 0;

  String name;  // the name the file was opened or created under
  // OPEN_SHARED is added while other objects of this process use the same file (OPEN_JOIN), so
  // that each of them re-reads and locks as it would beside another process.
  std::atomic<OpenMode> mode;
};

class FileUnix : public File {
 public:
  FileUnix(String name, OpenMode mode, int fd) : File(std::move(name), mode), fd(fd) {}
  ~FileUnix() override;

  // Opens an existing file (read-write with OPEN_WRITE) and takes the flock lock without
  // waiting. file_sharing_violation when the open or the lock fails.
  static FileUnix* open(String name, OpenMode mode);
  // Creates (or empties) a file, permission bits 0660, with the lock as open; the mode gets
  // OPEN_CREATED | OPEN_WRITE. A file whose lock cannot be had is left untouched. With OPEN_NEW
  // an existing name (of any kind, a dangling link too) raises file_error_exists and is not
  // touched. A missing directory raises file_error_no_directory, a refusal for want of
  // permission file_error_access_denied; any other failure
  // file_sharing_violation.
  static FileUnix* create(String name, OpenMode mode);

  std::streampos seek(std::streamoff offset, std::ios_base::seekdir direction) override;
  std::streampos seek(std::streampos position) override;
  void write(const char* data, size_t size) override;
  void writeex(std::streampos position, const char* data, size_t size) override;
  size_t read(char* buffer, size_t size) override;
  size_t readex(std::streampos position, char* buffer, size_t size) override;
  int getc() override;
  std::streampos tell() override;
  void close() override;
  void remove() override;
  bool lock(std::streampos position, size_t length) override;
  bool unlock(std::streampos position, size_t length) override;
  size_t get_size() const override;
  time_t get_last_modified() const override;
  time_t get_create_time() const override;

  // A table held for exclusive writing takes its writes and reads inside the file's size through
  // a shared mapping: no system call per record, and what is copied there is in the page cache
  // at once, as a completed pwrite is (a killed process loses nothing it wrote). Appends take
  // blocks ahead of the end (see grow_to); closing cuts the file back to what was written. False
  // (and nothing changes) for shared or read-only files, files with holes (a page stored into a
  // hole may need a block the disk lacks) and when the mapping cannot be made.
  bool map_writes();
  // Cuts or extends the file to size bytes; file_error on failure.
  void truncate(uint64_t size);

  int fd;  // -1 once closed

 private:
  friend struct FileHoldings;
  // Held byte ranges, known so that another object asking for one of them on the thread that
  // holds it is refused instead of waiting for ever on itself (other threads wait as usual).
  struct HeldRange {
    uint64_t start, length;
    std::thread::id thread;
  };
  std::vector<HeldRange> held_ranges_;
  void* holding_ = nullptr;  // this process's entry for the file while open
  char* map_ = nullptr;          // map_writes: the mapping, map_reserved_ bytes of address space
  size_t map_reserved_ = 0;
  uint64_t map_size_ = 0;        // the end of what was written, the file's size to its users
  uint64_t physical_size_ = 0;   // the length of the file: map_size_ and the blocks taken ahead
  mutable std::mutex map_mutex_;  // a join on another thread cuts what was taken ahead
  bool mapping_usable(uint64_t offset, size_t size) const;
  bool grow_to(uint64_t end);
  void trim();
  void become_shared();
  void unmap();
};

class FileRamdisk : public File {
 public:
  FileRamdisk(String name, OpenMode mode);
  ~FileRamdisk() override;

  // A new empty in-memory file; its name is "memory:///" + the object's address in lower-case
  // hexadecimal + the extension of the given name.
  static FileRamdisk* create(String name, OpenMode mode);

  std::streampos seek(std::streamoff offset, std::ios_base::seekdir direction) override;
  std::streampos seek(std::streampos position) override;
  void write(const char* data, size_t size) override;
  void writeex(std::streampos position, const char* data, size_t size) override;
  size_t read(char* buffer, size_t size) override;
  size_t readex(std::streampos position, char* buffer, size_t size) override;
  int getc() override;
  std::streampos tell() override;
  void close() override;
  void remove() override;
  bool lock(std::streampos position, size_t length) override;
  bool unlock(std::streampos position, size_t length) override;
  size_t get_size() const override;
  time_t get_last_modified() const override;
  time_t get_create_time() const override;

  uint64_t size = 0;            // the end of the file
  time_t last_modified;         // creation, then the last write
  time_t create_time;
  std::streampos position = 0;  // the current position
  uint64_t block_size = 4096;
  std::map<uint64_t, std::unique_ptr<char[]>> blocks;  // block number -> zero-filled block
};

// The name begins with "memory:///" (first ten characters, case-insensitive under
// Collation::unicode_machine_ci).
bool is_memory_file_name(const String& name);
// FileRamdisk::create for memory names (each one is new, so OPEN_NEW never fails there), else
// FileUnix::create.
File* create_file(String name, OpenMode mode);
// Always FileUnix::open: an in-memory file exists only through the File* that created it.
File* open_file(String name, OpenMode mode);
// seek(0, end) then tell(): the size.
std::streampos seek_to_end(File* file);

// Existence test with a case-insensitive fallback over the parent directory.
// stem_ci / extension_ci choose the case-insensitive comparison for the stem and the extension.
// True with `found` set to the path that exists; false with `error` set: 95 (generic) for a path
// without a file name or a parent, 31 (generic) for no match or more than one, or the error of
// the directory scan.
bool exists_ci(const std::filesystem::path& path, bool stem_ci, bool extension_ci, std::error_code& error,
               std::filesystem::path& found);

}  // namespace qzbase
