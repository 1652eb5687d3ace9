// module_file_codec.h - the byte-level pieces shared by the compiled-module writer and reader: the
// output image, the bounded input cursor, the character-set and opcode tables, and the program
// record codec. Internal to module_file.cpp and module_file_ops.cpp; the layout is described in
// module_file.md.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vm/program.h"
#include "vm/shared_ops.h"
#include "vm/vm_op.h"

namespace qzbase {

class Symtable;

// A 32-bit field of the file read back into a 64-bit operand.
inline uint64_t sign_extend_32(uint32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v))); }

// A cache file that cannot be used: truncated, inconsistent or not ours. The reader catches it and
// answers "no usable cache"; it never leaves the reader.
struct module_file_malformed {};

// The writer's state: the image built in memory, the file's symbol numbering and the jump operands
// still to be patched in the program being written.
struct module_writer {
  struct pending_jump_st {
    code_position target;  // where the jump goes, in the program's code array
    size_t at;             // where its 8-byte placeholder stands in the image
  };

  std::string out;
  uint64_t next_index = 1;
  std::unordered_map<symbol_id_type, uint64_t> indexes;  // symbol id -> file index
  std::vector<symbol_id_type> symbols;                   // the ids in index order (index = position + 1)
  std::vector<pending_jump_st> pending_jumps;

  size_t position() const { return out.size(); }

  void u8(uint8_t v) { out.push_back(static_cast<char>(v)); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v >> 8));
    u8(static_cast<uint8_t>(v));
  }
  void u32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(v >> shift));
  }
  void u64(uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(v >> shift));
  }
  void bytes(const void* data, size_t n) { out.append(static_cast<const char*>(data), n); }
  // Overwrites 8 bytes at `at` (a placeholder written earlier) with v.
  void patch_u64(size_t at, uint64_t v) {
    if (at + 8 > out.size()) throw_assert_failed();
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<char>(v >> (56 - 8 * i));
  }

  // The file index of a symbol id, given out on first use (1, 2, ...).
  uint64_t symbol_index(symbol_id_type id) {
    auto [it, added] = indexes.emplace(id, next_index);
    if (added) {
      symbols.push_back(id);
      ++next_index;
    }
    return it->second;
  }
};

// A read cursor over [begin, end) of a cache-file image. Every read checks that the bytes are
// there; a short one throws module_file_malformed.
class image_reader {
 public:
  image_reader(const char* data, size_t size) : data_(data), size_(size), pos_(0), end_(size) {}

  size_t position() const { return pos_; }
  size_t size() const { return size_; }
  // The bytes left before the current limit.
  size_t remaining() const { return end_ - pos_; }
  bool at_end() const { return pos_ == end_; }

  // Moves to an absolute position within the image (the limit is lifted to the image's end).
  void seek(size_t position) {
    if (position > size_) throw module_file_malformed();
    pos_ = position;
    end_ = size_;
  }
  // Reads from here on may not pass `end` (an absolute position).
  void limit(size_t end) {
    if (end < pos_ || end > size_) throw module_file_malformed();
    end_ = end;
  }

  const char* take(size_t n) {
    if (n > remaining()) throw module_file_malformed();
    const char* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  uint8_t u8() { return static_cast<uint8_t>(*take(1)); }
  uint16_t u16() { return static_cast<uint16_t>(be(take(2), 2)); }
  uint32_t u32() { return static_cast<uint32_t>(be(take(4), 4)); }
  uint64_t u64() { return be(take(8), 8); }
  // A count of items of at least `item_size` bytes each: more than the bytes left can hold is a
  // damaged file, caught before anything is allocated for them.
  uint64_t count(uint64_t value, size_t item_size) const {
    if (item_size != 0 && value > remaining() / item_size) throw module_file_malformed();
    return value;
  }

 private:
  static uint64_t be(const char* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
  }

  const char* data_;
  size_t size_;
  size_t pos_;
  size_t end_;
};

// The reader's state: file symbol index -> symbol id of this runtime, and the jump operands of the
// program being read that still hold a file position.
struct opcode_decoder_stack_st {
  struct pending_target_st {
    uint64_t* field;    // the operand: a position in the file until patched
    uint64_t position;  // the position, relative to the program's first operation
  };

  std::map<uint64_t, symbol_id_type> symbols;
  std::vector<pending_target_st> pending_targets;
  // The operations the module's programs share (made on first use); each program keeps them.
  std::shared_ptr<SharedOps> shared_ops;

  // The id a symbol index of the file stands for; an index the symbol section does not define
  // makes the file unusable.
  symbol_id_type symbol(uint64_t index) const {
    auto it = symbols.find(index);
    if (it == symbols.end()) throw module_file_malformed();
    return it->second;
  }
};
using opcode_decoder_stack_t = opcode_decoder_stack_st;

// One row of the operation table: file opcode, in-memory opcode, and the operand codec (both null
// for operations the file cannot hold).
using opcode_encoder = void (*)(const VmOp* const& op, module_writer& out);
using opcode_decoder = void (*)(opcode_decoder_stack_t& in_state, image_reader& in, VmOp** out);
struct opcode_row_st {
  uint16_t file_opcode;
  uint8_t type;  // VmOpType
  opcode_encoder encode;
  opcode_decoder decode;
};

// Fills the character-set and opcode lookups, once per process; every other function here needs
// them filled.
void init_opcache_module();

// The row of an in-memory opcode, of a file opcode; null when there is none.
const opcode_row_st* opcode_row_by_type(unsigned type);
const opcode_row_st* opcode_row_by_file_opcode(unsigned file_opcode);
// The 16-bit id of a charset in the file's table; false for one outside it (a flagged instance
// included).
bool file_charset_id(const Charset* cs, uint16_t* id);
// The charset of a file id; null for an id outside the table.
const Charset* file_charset(uint16_t id);

// A string: charset id (u16), byte size (u64), the bytes as stored. A charset outside the table is
// a broken invariant of the writer's caller.
void write_string(const String& s, module_writer& out);
String read_string(image_reader& in);

// The operations of one program (count, then the operation records), jumps patched.
void write_program_operations(const Program* program, module_writer& out);
// Reads them into a new null-terminated code array of *count operations (owned by the caller),
// their statement numbers appended to *statements.
VmOp** read_program_operations(opcode_decoder_stack_t& state, image_reader& in, size_t* count,
                               StatementTable* statements);

}  // namespace qzbase
