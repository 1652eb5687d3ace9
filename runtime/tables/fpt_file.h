// fpt_file.h - FptFile, the memo file beside a table: a header and fixed-size blocks.
//
// Integers are big-endian. A stored value is a block header (type, length) and the bytes, in a run
// of whole blocks; values are only ever appended, never overwritten.
#pragma once

#include <qzbase.h>

#include <cstdint>

#include "platform/file.h"

namespace qzbase {

inline constexpr size_t kFptHeaderSize = 8;
// The memo append lock, whatever the table version.
inline constexpr uint64_t kFptLockOffset = 0x40000000;
// The header holds the block size in 16 bits: larger sizes are refused (RuntimeError 11).
inline constexpr uint32_t kFptMaxBlockSize = 0xFFFF;
inline constexpr uint32_t kFptDefaultBlockSize = 64;

class FptFile {
 public:
  // Opens the file (open_file) and reads its header.
  static FptFile* open(const String& name, OpenMode mode);
  // Initialises an already created, empty file; takes it over.
  static FptFile* create(File* file, size_t block_size);

  explicit FptFile(File* file) : file_(file) {}
  // Closes and destroys the file.
  ~FptFile();
  FptFile(const FptFile&) = delete;
  FptFile& operator=(const FptFile&) = delete;

  void read_fpt_header();
  void write_fpt_header();
  void open() { read_fpt_header(); }
  void create(size_t block_size);

  // The value of block `block` in charset; its block type goes to *type.
  String load(uint32_t block, const Charset* charset, int* type);
  // Appends the value converted to charset; returns its first block.
  uint32_t store(String value, const Charset* charset, int type);
  // The stored length of the value at block (0 for block 0).
  uint32_t size_of(uint32_t block);

  File* file() const { return file_; }
  // Reads and checks the header of the value at block; dbf_error_file_corruption when the block
  // or the value does not lie within the file.
  void read_block_header(uint32_t block, uint32_t* type, uint32_t* length);
  uint32_t block_size = 0;
  uint32_t next_free = 0;

 private:
  File* file_;
};

// The whole blocks that cover offset bytes.
inline uint64_t fpt_get_aligned_pointer(uint64_t offset, uint64_t block_size) {
  return (offset + block_size - 1) / block_size;
}

}  // namespace qzbase
