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
#include <unordered_map>
#include <utility>
#include <vector>

#include "vm/vm_op.h"

namespace qzbase {

using local_offset_map = std::unordered_map<symbol_id_type, offset_type>;
// The line information holds an entry or two per operation: as sorted arrays, not as one node per
// entry, a large program's line information costs a fraction of the code it describes.

// Code position -> source location. Entries may be added in any order; a second entry for a
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

// The line information of one program, built once by the compiler (or the module-file reader)
// and read-only afterwards.
class DebugInfo {
 public:
  // span: the program's source span; locations: code position -> source location of the
  // operation there; statements: statement number -> code positions, in code order.
  DebugInfo(const document_location_st& span, const location_map& locations, const statement_map& statements);
  // The same, taking the maps over.
  DebugInfo(const document_location_st& span, location_map&& locations, statement_map&& statements);
  ~DebugInfo();
  DebugInfo(const DebugInfo&) = delete;
  DebugInfo& operator=(const DebugInfo&) = delete;

  // The first operation (in code order) whose location begins on exactly that source line; null
  // when no operation does (a comment line, a line past the end).
  code_position find_opcode_for_line_no(size_t line) const;
  // The source location of the operation at p; null when it has none.
  const document_location_st* location_of(code_position p) const;

  const document_location_st& span() const { return span_; }
  const location_map& locations() const { return locations_; }
  const statement_map& statements() const { return statements_; }

 private:
  document_location_st span_;
  location_map locations_;
  // (begin line, position), sorted: the first entry of a line is its first operation.
  std::vector<std::pair<uint32_t, code_position>> lines_;
  void index_lines();
  statement_map statements_;
};

class Program {
 public:
  // Copies the name and the offset map; takes ownership of the code array, allocated with
  // new VmOp*[ncode + 1] and ended by a null element (a null array stands for an empty program),
  // and of debug (may be null). A null type stands for {0, false, -1}. The owner module starts
  // null; the linker sets it.
  Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
          DebugInfo* debug, const compiler_type_info_st* type);
  Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
          DebugInfo* debug, compiler_type_info_st type);
  // Moves transfer the code array and the line information (the source is left without them)
  // and copy the other fields.
  Program(Program&& other);
  Program& operator=(Program&& other);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  // Deletes every operation (and through them the condition programs of error handlers), the
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
  const Module* owner_module() const { return module_; }
  // A number no other program of the process has had: unlike the address, it is never reused, so
  // caches keyed by it need not learn when a program goes.
  uint64_t serial() const { return serial_; }

  // For the linker: binds the program to its module and replaces operations in place.
  void set_owner_module(const Module* module) { module_ = module; }
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
  const Module* module_;
  uint64_t serial_;
};

}  // namespace qzbase
