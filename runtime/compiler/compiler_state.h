// compiler_state.h - the Compiler (everything one compiled unit needs) and CodePath (one scope).
//
// The root scope is the Compiler's first base, so the Compiler and its root scope share one
// address; block statements make child scopes on their own stack frames. Variables of units whose
// compile kind has bit 0 live in frame slots numbered 1, 2, ... in order of first definition;
// other units declare memory variables by name.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/code_collection.h"
#include "vm/program.h"

namespace qzbase {

class Compiler;
class Library;
class SharedOps;
class TryBlock;
class Variable;
struct library_func_def_st;

// Compile kinds (a flag word).
enum CompileKind : uint32_t {
  COMPILE_KIND_SLOTS = 1,  // bit 0: variables live in frame slots
  COMPILE_KIND_COMMAND = 10,
  COMPILE_KIND_PROGRAM = 11,
  COMPILE_KIND_METHOD = 15,
};

enum LoopKind : uint32_t {
  LOOP_NONE = 0,
  LOOP_DO_WHILE = 1,
  LOOP_FOR = 2,
  LOOP_FOR_EACH = 3,
  LOOP_SCAN = 4,
};

class CodePath {
 public:
  CodePath();                           // the root form
  explicit CodePath(CodePath& parent);  // a child: sees the parent's declared variables
  ~CodePath();
  CodePath(const CodePath&) = delete;
  CodePath& operator=(const CodePath&) = delete;

  // True with the slot offset when the symbol is a frame variable of the unit; *declared is set
  // (never cleared) when this scope's map holds it. Always false without slots.
  bool variable_get(const symbol_id_type& symbol, offset_type* offset, bool* declared) const;
  // The name's id in the symbol table of the compiler's runtime (case-insensitive).
  symbol_id_type symbolize(const char* utf8_name);
  symbol_id_type symbolize(const String& name);
  // Declares a hidden temporary (tag names its use) and returns a Variable node for it, owned by
  // the caller. Emits VmOpDefLocalOffset with slots, VmOpDefLocal without.
  Variable* compile_create_temp_memvar(const document_location_st& location, const char* tag,
                                       CompiledCodeCollection* collection);
  // The same for a temporary that serves one statement (or one block): with slots it takes the
  // slot of an earlier temporary of the tag given back by release_temp, when there is one. It is
  // written before it is read, so the value the slot still holds does not matter.
  Variable* compile_take_temp_memvar(const document_location_st& location, const char* tag,
                                     CompiledCodeCollection* collection);
  // The statement is done with the temporary this scope took: the next one of the tag may take
  // its slot. Nothing happens without slots.
  void release_temp(const char* tag, const String& name) noexcept;

  Compiler* compiler;
  CodePath* parent;
  bool if_branch = false;
  // Variables declared in this scope -> flags. A child scope does not copy its parent's (a large
  // unit would copy all of them into every block): declares() walks up the scopes.
  std::unordered_map<symbol_id_type, uint32_t> variables;
  bool declares(symbol_id_type symbol) const;

  // The loop in force (EXIT and LOOP walk up to the nearest scope that has one).
  uint32_t loop_kind = LOOP_NONE;
  AddressLabelRecord* loop_head_label = nullptr;
  AddressLabelRecord* loop_body_label = nullptr;
  AddressLabelRecord* loop_exit_label = nullptr;
  AddressLabelRecord* scan_skip_label = nullptr;
  const void* for_statement = nullptr;
  symbol_id_type for_step_symbol = 0;
  symbol_id_type scan_area_symbol = 0;

  std::list<symbol_id_type> with_stack;  // innermost last
  std::list<document_location_st> with_locations;  // the WITH statement of each with_stack entry
  // Records message 96 at each WITH of this scope still open and forgets them: the scope ends.
  void close_open_withs();
  // Set on a TRY's protected block and its CATCH bodies: a jump out of them (EXIT, LOOP, RETURN)
  // must run that TRY's FINALLY first.
  TryBlock* try_block = nullptr;
  compiler_type_info_st type{0, false, -1};
};

// A temporary taken (compile_take_temp_memvar) for the length of one statement, given back when
// the statement's code is complete: a long unit of sequential loops keeps a small frame, while
// statements nested inside the one that holds it get slots of their own. Made after the scope it
// is taken in (path), so it ends first.
class StatementTemp {
 public:
  StatementTemp(CodePath& path, const document_location_st& location, const char* tag,
                CompiledCodeCollection* collection);
  ~StatementTemp();
  StatementTemp(const StatementTemp&) = delete;
  StatementTemp& operator=(const StatementTemp&) = delete;

  Variable* get() const { return variable_.get(); }
  Variable* operator->() const { return variable_.get(); }

 private:
  CodePath& path_;
  const char* tag_;
  std::unique_ptr<Variable> variable_;
};

struct build_message_st {
  uint32_t code;
  document_location_st location;
  document_location_st location2;
};

struct library_function_result_st {
  uint32_t kind = 0;
  Library* library = nullptr;
  const library_func_def_st* definition = nullptr;
};

class Compiler : public CodePath {
 public:
  Compiler(VmStack* stack, uint32_t kind);
  ~Compiler();

  // Prepares the next unit: labels deleted, counters and variables cleared. The collection must
  // be empty (assembly empties it) and the root scope must have no parent. full also clears the
  // import list, the unresolved calls and the module file name.
  void reset(uint32_t kind, bool full);
  // The frame slot of a variable, defined at the next free offset when new; false (nothing
  // changes) when the unit has no slots.
  bool compile_time_define_memvar(const symbol_id_type& symbol, offset_type* offset);
  void add_message(uint32_t code, const document_location_st& location);
  // The first library of the list that accepts the name (or an abbreviation of it).
  bool find_library_function(const String& name, library_function_result_st* result) const;
  AddressLabelRecord* create_addresslabel(const String& name);

  // Program assembly (program_assembly.cpp). The collection is left empty; the caller owns the
  // Program. unresolved (may be null) receives the slots of the VmOpUnresolvedCalls.
  static Program* create_program(const String& name, CompiledCodeCollection* collection,
                                 const local_offset_map& symbol_offsets, size_t parameter_count,
                                 compiler_type_info_st type, std::list<VmOp**>* unresolved);
  Program* build_program();
  Program* build_program(const String& name);

  Symtable* symtable() const;
  CodePath& root() { return *this; }

  std::list<build_message_st> messages;
  uint32_t compile_kind;
  VmStack* stack;
  String* module_file_name = nullptr;  // owned
  const document_location_st* location_override = nullptr;
  std::list<String> imports;
  std::list<Library*> libraries;
  local_offset_map symbol_map;
  uint64_t parameter_count = 0;
  uint32_t parameter_memory_class = 2;  // 2: not set yet
  std::list<VmOp**> unresolved_calls;
  std::list<AddressLabelRecord*> labels;  // owned
  uint64_t statement_number = 0;
  uint64_t op_counter = 0;
  // Temporaries made in this unit. Without slots the symbol map stays empty, so this numbers
  // them: nested loops of one command line must not share a temporary.
  uint64_t temp_counter = 0;
  // Slotted temporaries whose statement has ended, by tag (StatementTemp): their names, ready to
  // be taken again.
  std::unordered_map<std::string, std::vector<String>> free_temps;
  // How deeply compile_operand is nested now: a limit keeps a huge expression from exhausting the
  // native stack.
  uint32_t operand_depth = 0;
  // How deeply statement lists (block bodies) are nested now, and whether a list or an operand
  // went past its limit: the build then fails with that one message, not with every enclosing
  // block's.
  uint32_t block_depth = 0;
  bool nesting_exceeded = false;
  // The operations shared by the positions of this compiler's programs (made on first use); each
  // program keeps them as long as it lives. Declared before the collection, which may hold some.
  std::shared_ptr<SharedOps> shared_ops;
  uint64_t unshared_ops = 0;  // sharable operations compiled before the table was made
  CompiledCodeCollection collection;

  // The shared operation equal to op (see SharedOps::intern); op itself when it cannot be shared.
  VmOp* share(VmOp* op) noexcept;
};

}  // namespace qzbase
