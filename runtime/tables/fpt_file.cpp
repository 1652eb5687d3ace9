// fpt_file.cpp - the memo file: header, create, load and store.
#include "tables/fpt_file.h"

#include <cstring>

#include "tables/dbf_exceptions.h"

namespace qzbase {

namespace {

uint32_t get_be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}
void put_be32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// Releases the memo append lock when the scope ends.
class MemoLock {
 public:
  explicit MemoLock(File* file) : file_(file) { file_->lock(kFptLockOffset, 1); }
  ~MemoLock() { file_->unlock(kFptLockOffset, 1); }
  MemoLock(const MemoLock&) = delete;
  MemoLock& operator=(const MemoLock&) = delete;

 private:
  File* file_;
};

}  // namespace

FptFile* FptFile::open(const String& name, OpenMode mode) {
  QZ_TRACE;
  File* file = open_file(name, mode);
  FptFile* fpt = new FptFile(file);
  try {
    fpt->open();
  } catch (...) {
    delete fpt;
    throw;
  }
  return fpt;
}

FptFile* FptFile::create(File* file, size_t block_size) {
  QZ_TRACE;
  FptFile* fpt = new FptFile(file);
  try {
    fpt->create(block_size);
  } catch (...) {
    delete fpt;
    throw;
  }
  return fpt;
}

FptFile::~FptFile() {
  QZ_TRACE;
  if (file_ != nullptr) {
    try {
      file_->close();
    } catch (...) {  // closing is best effort here; the descriptor is gone either way
    }
    delete file_;
  }
}

void FptFile::read_fpt_header() {
  QZ_TRACE;
  unsigned char raw[kFptHeaderSize];
  if (file_->readex(0, reinterpret_cast<char*>(raw), sizeof raw) < sizeof raw) throw dbf_error_file_corruption();
  next_free = get_be32(raw);
  block_size = static_cast<uint32_t>(raw[6]) << 8 | raw[7];
  // A block size of 0 would make every block start at offset 0.
  if (block_size == 0) throw dbf_error_file_corruption();
}

void FptFile::write_fpt_header() {
  QZ_TRACE;
  unsigned char raw[kFptHeaderSize] = {};
  put_be32(raw, next_free);
  raw[6] = static_cast<unsigned char>(block_size >> 8);
  raw[7] = static_cast<unsigned char>(block_size);
  file_->writeex(0, reinterpret_cast<const char*>(raw), sizeof raw);
}

void FptFile::create(size_t size) {
  QZ_TRACE;
  if (size > kFptMaxBlockSize) throw RuntimeError(11);
  block_size = size == 0 ? kFptDefaultBlockSize : static_cast<uint32_t>(size);
  if (static_cast<std::streamoff>(seek_to_end(file_)) != 0) throw fpt_error_file_exists();
  next_free = static_cast<uint32_t>(fpt_get_aligned_pointer(512, block_size));
  write_fpt_header();
  const char zero = 0;
  file_->writeex(static_cast<std::streamoff>(next_free) * block_size - 1, &zero, 1);
  read_fpt_header();
}

// The value's block header: the block must lie past the file header and the value within the
// file. A value past the end may have just been stored by another process: its blocks are
// reserved (the file extended) before the header is written, so the size is read once more.
void FptFile::read_block_header(uint32_t block, uint32_t* type, uint32_t* length) {
  QZ_TRACE;
  uint64_t offset = static_cast<uint64_t>(block) * block_size;
  if (block == 0 || offset < kFptHeaderSize) throw dbf_error_file_corruption();
  unsigned char head[8];
  if (file_->readex(static_cast<std::streamoff>(offset), reinterpret_cast<char*>(head), sizeof head) < sizeof head) {
    throw dbf_error_file_corruption();
  }
  *type = get_be32(head);
  *length = get_be32(head + 4);
  uint64_t end = offset + 8 + *length;
  if (end > file_->get_size()) {
    if (end > file_->get_size()) throw dbf_error_file_corruption();
  }
}

// One read brings a short value with its block header; a longer one is checked against the file
// size before its buffer is made.
String FptFile::load(uint32_t block, const Charset* charset, int* type) {
  QZ_TRACE;
  uint64_t offset = static_cast<uint64_t>(block) * block_size;
  if (block == 0 || offset < kFptHeaderSize) throw dbf_error_file_corruption();
  char chunk[512];
  size_t got = file_->readex(static_cast<std::streamoff>(offset), chunk, sizeof chunk);
  if (got < 8) throw dbf_error_file_corruption();
  const auto* head = reinterpret_cast<const unsigned char*>(chunk);
  *type = static_cast<int>(get_be32(head));
  uint32_t length = get_be32(head + 4);
  if (8 + static_cast<uint64_t>(length) <= got) return String(chunk + 8, length, charset);
  uint64_t end = offset + 8 + length;
  if (end > file_->get_size()) {
    if (end > file_->get_size()) throw dbf_error_file_corruption();
  }
  String value(length, charset);
  char* out = value.write();
  std::memcpy(out, chunk + 8, got - 8);
  size_t rest = length - (got - 8);
  if (file_->readex(static_cast<std::streamoff>(offset + got), out + (got - 8), rest) < rest) {
    throw dbf_error_file_corruption();
  }
  return value;
}

uint32_t FptFile::store(String value, const Charset* charset, int type) {
  QZ_TRACE;
  if (value.get_charset() != charset && value.get_charset() != Charset::binary && charset != Charset::binary) {
    try {
      value.convert(charset, CON_NONE, 1);
    } catch (const cstran_chars_lost&) {
      throw dbf_error_cptrans_char_lost();
    }
  }
  uint32_t first;
  {
    MemoLock lock(file_);
    read_fpt_header();
    first = next_free;
    uint64_t end = static_cast<uint64_t>(first) * block_size + 8 + value.size();
    uint64_t next = fpt_get_aligned_pointer(end, block_size);
    if (next > UINT32_MAX) throw dbf_error_file_corruption();
    const char zero = 0;
    file_->writeex(static_cast<std::streamoff>(next * block_size - 1), &zero, 1);
    next_free = static_cast<uint32_t>(next);
    write_fpt_header();
  }
  // A short value goes out with its block header in one write.
  unsigned char buffer[512];
  put_be32(buffer, static_cast<uint32_t>(type));
  put_be32(buffer + 4, static_cast<uint32_t>(value.size()));
  uint64_t offset = static_cast<uint64_t>(first) * block_size;
  if (value.size() <= sizeof buffer - 8) {
    if (value.size() != 0) std::memcpy(buffer + 8, value.read(), value.size());
    file_->writeex(static_cast<std::streamoff>(offset), reinterpret_cast<const char*>(buffer), 8 + value.size());
  } else {
    file_->writeex(static_cast<std::streamoff>(offset), reinterpret_cast<const char*>(buffer), 8);
    file_->writeex(static_cast<std::streamoff>(offset + 8), value.read(), value.size());
  }
  return first;
}

uint32_t FptFile::size_of(uint32_t block) {
  QZ_TRACE;
  if (block == 0) return 0;
  uint32_t type, length;
  read_block_header(block, &type, &length);
  return length;
}

}  // namespace qzbase
