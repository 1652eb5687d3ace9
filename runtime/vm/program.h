// program.h - a compiled code unit and its line information.
//
// A Program is one main program, function, procedure, class method, compiled expression or
// command line: a null-terminated array of operations, the largest number of arguments a call may
// pass, the compiler's type record, the map from symbol id to local slot offset (its size is the
// number of slots a call frame of the program reserves) and optional line information. It is
// immutable once built and linked, so any number of stacks on any threads run it at once.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vm/location_codec.h"
#include "vm/vm_op.h"

namespace qzbase {

using local_offset_map = std::unordered_map<symbol_id_type, offset_type>;

// Code position -> source location, as handed to DebugInfo or read back from it. Entries may be added in any order; a second entry for a
// position is dropped (the first stays). The lookups work once seal() has run (DebugInfo seals
// what it takes).
class LocationMap {
 public:
  using value_type = std::pair<code_position, document_location_st>;
  using const_iterator = std::vector<value_type>::const_iterator;

  void reserve(size_t n) { entries_.reserve(n); }
  void emplace(code_position p, const document_location_st& location);
  void seal();

  const_iterator find(code_position p) const;
  size_t count(code_position p) const { return find(p) == end() ? 0 : 1; }
  // std::out_of_range when the position has no entry.
  const document_location_st& at(code_position p) const;
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  std::vector<value_type> entries_;
  bool sorted_ = true;
};

// Statement number -> code positions; positions of one number stay in the order they were added.
// Lookups work once seal() has run, as for LocationMap.
class StatementMap {
 public:
  using value_type = std::pair<int64_t, code_position>;
  using const_iterator = std::vector<value_type>::const_iterator;

  void reserve(size_t n) { entries_.reserve(n); }
  void emplace(int64_t statement, code_position p);
  void seal();

  std::pair<const_iterator, const_iterator> equal_range(int64_t statement) const;
  size_t count(int64_t statement) const;
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  std::vector<value_type> entries_;
  bool sorted_ = true;
};

using location_map = LocationMap;
using statement_map = StatementMap;

// The bytes of a finished table: a small one sized exactly, a large one in the blocks it was built
// in (no second copy of it at any moment).
class ByteTable {
 public:
  ByteTable() = default;
  explicit ByteTable(std::deque<uint8_t>&& built);

  size_t size() const { return large_ != nullptr ? large_->size() : small_.size(); }
  // f(begin, end) over the bytes.
  template <class F>
  decltype(auto) read(F&& f) const {
    if (large_ != nullptr) return f(large_->cbegin(), large_->cend());
    return f(small_.data(), small_.data() + small_.size());
  }

 private:
  std::vector<uint8_t> small_;
  std::unique_ptr<std::deque<uint8_t>> large_;
};

// Builds the line information of one program in code order: positions of locations strictly
// increasing, positions of statement numbers never decreasing. Each entry is stored as a few bytes
// of differences from the one before it, with a full entry every so often to start decoding from:
// a large program's line information costs a few bytes per operation.
class DebugInfoBuilder {
 public:
  // base: the first element of the code array the positions point into.
  explicit DebugInfoBuilder(code_position base) noexcept : base_(base) {}

  void add_location(code_position p, const document_location_st& location);
  // Room for the locations of up to n operations, made at once: a large program's table is then
  // never copied while it grows.
  void reserve_locations(size_t n);
  void add_statement(code_position p, int64_t statement);

 private:
  friend class DebugInfo;
  struct LocationCheckpoint {
    uint32_t index;                 // of the entry that starts here
    uint32_t offset;                // where its bytes start
    uint32_t previous_index;        // the state before it
    document_location_st previous;  // (all zero at the first)
  };
  struct StatementRun {
    uint32_t index;  // first operation
    uint32_t count;  // operations in a row with the same number
    int64_t statement;
  };

  void flush_run();

  code_position base_;
  // Byte queues while building: they grow without copying what they hold.
  std::deque<uint8_t> locations_;
  std::vector<LocationCheckpoint> location_checkpoints_;
  size_t location_count_ = 0;
  uint32_t last_index_ = 0;
  document_location_st last_{};
  std::deque<uint8_t> statements_;  // runs: gap, count - 1, difference of the number
  size_t statement_count_ = 0;
  StatementRun run_{0, 0, 0};
  uint32_t last_run_end_ = 0;  // one past the last operation of the previous run
  int64_t last_statement_ = 0;
};

// The line information of one program, built once by the compiler (or the module-file reader)
// and read-only afterwards.
class DebugInfo {
 public:
  // span: the program's source span; locations: code position -> source location of the
  // operation there; statements: statement number -> code positions, in code order.
  DebugInfo(const document_location_st& span, const location_map& locations, const statement_map& statements);
  DebugInfo(const document_location_st& span, location_map&& locations, statement_map&& statements);
  // The same from a builder, which is left empty.
  DebugInfo(const document_location_st& span, DebugInfoBuilder&& built);
  ~DebugInfo();
  DebugInfo(const DebugInfo&) = delete;
  DebugInfo& operator=(const DebugInfo&) = delete;

  // The first operation (in code order) whose location begins on exactly that source line; null
  // when no operation does (a comment line, a line past the end). Reads the whole table: for
  // setting a breakpoint, not for each operation run.
  code_position find_opcode_for_line_no(size_t line) const;
  // The source location of the operation at p into *out; false (and *out untouched) when it has
  // none.
  bool location_of(code_position p, document_location_st* out) const;

  const document_location_st& span() const { return span_; }
  // The whole tables, decoded (for inspection and tests).
  location_map locations() const;
  statement_map statements() const;

 private:
  template <class Visit>
  void for_each_location(Visit&& visit) const;

  document_location_st span_;
  code_position base_;
  ByteTable locations_;
  std::vector<DebugInfoBuilder::LocationCheckpoint> location_checkpoints_;
  size_t location_count_;
  ByteTable statements_;
  size_t statement_count_;
};

// The statement number of each operation of a program (0: none): the operations a statement
// compiles to stand in a row, so the numbers are kept as runs (length, difference from the run
// before) of a byte or two, with a full entry every so often to start reading from.
class StatementTable {
 public:
  // Appends the number of the next operation.
  void push_back(int64_t statement);
  // Frees what building left spare; the table is read-only afterwards.
  void seal();

  // Operations described (a Program's table describes all of its operations).
  size_t size() const { return count_; }
  // 0 past the end.
  int64_t at(size_t i) const;
  // The operations [*first, *last) in a row around i with i's number ([i, i + 1) past the end).
  void run_of(size_t i, size_t* first, size_t* last) const;
  // f(i, number) for each operation described, in order.
  template <class F>
  void each(F&& f) const;

 private:
  struct Checkpoint {
    uint64_t first;      // the first operation of the run that starts here
    uint64_t offset;     // where its bytes start
    int64_t previous;    // the number of the run before
  };
  struct Run {
    uint64_t first;
    uint64_t count;
    int64_t statement;
  };
  template <class F>
  bool runs_from(const Checkpoint& c, F&& f) const;
  void flush();

  std::vector<uint8_t> bytes_;
  std::vector<Checkpoint> checkpoints_;
  size_t runs_ = 0;
  size_t count_ = 0;
  Run open_{0, 0, 0};       // the run being built
  int64_t last_closed_ = 0;  // the number of the run before it
};

template <class F>
bool StatementTable::runs_from(const Checkpoint& c, F&& f) const {
  const uint8_t* p = bytes_.data() + c.offset;
  const uint8_t* end = bytes_.data() + bytes_.size();
  uint64_t first = c.first;
  int64_t statement = c.previous;
  while (p < end) {
    const uint64_t count = get_varint(p);
    statement = static_cast<int64_t>(static_cast<uint64_t>(statement) + static_cast<uint64_t>(unzigzag(get_varint(p))));
    if (!f(Run{first, count + 1, statement})) return false;
    first += count + 1;
  }
  return true;
}

template <class F>
void StatementTable::each(F&& f) const {
  if (checkpoints_.empty()) return;
  runs_from(checkpoints_.front(), [&](const Run& r) {
    for (uint64_t k = 0; k < r.count; ++k) f(static_cast<size_t>(r.first + k), r.statement);
    return true;
  });
}

class SharedOps;

class Program {
 public:
  // Copies the name and the offset map; takes ownership of the code array, allocated as a code
  // array of ncode + 1 elements (vm/code_array.h) and ended by a null element (a null array stands for an empty program),
  // and of debug (may be null). A null type stands for {0, false, -1}. The owner module starts
  // null; the linker sets it.
  // statements: the statement number of each operation (none: all 0).
  Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
          DebugInfo* debug, const compiler_type_info_st* type, StatementTable statements = StatementTable());
  Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
          DebugInfo* debug, compiler_type_info_st type, StatementTable statements = StatementTable());
  // Moves transfer the code array and the line information (the source is left without them)
  // and copy the other fields.
  Program(Program&& other);
  Program& operator=(Program&& other);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  // Deletes every operation but the shared ones (and through them the condition programs of error handlers), the
  // array and the line information.
  ~Program();

  const String& name() const { return name_; }
  // The first element of the code array; the element after the last operation is null.
  code_position code() const { return code_; }
  size_t code_length() const { return ncode_; }
  const VmOp* op(size_t i) const { return code_[i]; }
  size_t parameter_count() const { return nparams_; }
  const compiler_type_info_st& type_info() const { return type_; }
  const local_offset_map& local_offsets() const { return offsets_; }
  // The number of slots a call frame of this program reserves.
  size_t slot_count() const { return offsets_.size(); }
  const DebugInfo* debug_info() const { return debug_; }
  // The number of the statement operation i was compiled from (0: none); the operations of one
  // statement stand in a row.
  int64_t statement_of(size_t i) const { return statements_.at(i); }
  const StatementTable& statements() const { return statements_; }
  const Module* owner_module() const { return module_; }
  // A number no other program of the process has had: unlike the address, it is never reused, so
  // caches keyed by it need not learn when a program goes.
  uint64_t serial() const { return serial_; }

  // For the linker: binds the program to its module and replaces operations in place.
  void set_owner_module(const Module* module) { module_ = module; }
  // The shared operations the code array may point at: kept as long as the program.
  void share_ops(std::shared_ptr<const SharedOps> ops) { shared_ops_ = std::move(ops); }
  VmOp** mutable_code() { return code_; }

  // Not read by the virtual machine; other subsystems may keep a word here. 0 at construction.
  uint64_t user_word;

 private:
  void free_code() noexcept;

  String name_;
  VmOp** code_;
  size_t ncode_;
  size_t nparams_;
  compiler_type_info_st type_;
  local_offset_map offsets_;
  DebugInfo* debug_;
  StatementTable statements_;
  const Module* module_;
  uint64_t serial_;
  std::shared_ptr<const SharedOps> shared_ops_;
};

}  // namespace qzbase
