// vm_stack.h - VmStack: the whole execution state of one thread of the language.
//
// Slots. The stack is an array of slots, each a Variant followed by a one-byte declaration flag
// (a Memvar). It grows toward lower addresses: pushing moves the stack pointer one slot down,
// popping one slot up; an empty stack points one past the last slot. Every pop releases the
// slot's value, so a free slot is always empty.
//
// Frames. Each running call has a VmFrame (owned by the code that runs the call). Argument i of
// the running frame (1 = first pushed) lies i slots below the frame argument top; a compiled local
// with offset k lies k slots below it. The frame local base is the stack pointer once the frame
// has reserved its locals; its operand stack grows below it. Frames nest at most 128 deep.
//
// Variables. LOCALs that the compiler placed live in slots; other variables are Memvars:
//   - the memory-variable map (symbol -> Memvar*) holds the bindings every frame sees: PRIVATE
//     variables (created by assignment to an unbound name), PARAMETERS (bound to the argument
//     slot itself) and PUBLIC variables (heap records owned by the map);
//   - the frame memory-variable map (symbol -> Memvar*) owns the heap memvars of the running frame
//     (LOCALs the compiler did not place, and the records behind its PRIVATE variables); at top
//     level, with no frame, it holds those of command lines.
// Each time a frame hides or creates a binding of the memory-variable map, an undo record
// {symbol, previous binding} is pushed; when the frame ends its records are undone, newest first.
// The undo array fills from its end toward its start.
//
// A VmStack belongs to one thread and takes no lock. What it shares with other threads (the
// symbol table, the stack-id counter) is reached through its Runtime.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "vm/vm_op.h"

namespace qzbase {

class Class;
class Library;
class Object;
class Program;
class ProgramDebugger;
class Table_Object;
struct RuntimeVmState;
struct how_to_handle_st;         // vm/execute.h
enum RuntimeErrorRecovery : int;  // vm/execute.h
struct SessionSettings;  // values/session_settings.h
struct DataSessionState;  // vm/data_session_state.h

// Declaration flags of a slot or memvar.
enum MemvarFlag : uint8_t {
  MEMVAR_NONE = 0,     // a temporary, an undeclared argument, or a freed record
  MEMVAR_LOCAL = 1,    // LOCAL (or LPARAMETERS) of its frame
  MEMVAR_PRIVATE = 2,  // bound in the memory-variable map: PARAMETERS, or created by assignment
  MEMVAR_PUBLIC = 3,   // PUBLIC: a heap record owned by the memory-variable map
};

// A variable or a stack slot: a value and its declaration flag (48 bytes).
struct Memvar {
  Variant value;
  uint8_t flag = MEMVAR_NONE;
};
static_assert(sizeof(Memvar) == 48, "a slot is a Variant and a flag byte");

using memvar_map = std::unordered_map<symbol_id_type, Memvar*>;

// The binding a symbol had before a frame hid or created one (null: it had none).
struct UndoMemvar {
  symbol_id_type symbol;
  Memvar* saved;
};

// The link between a data session and the stack whose registry lists it. The registry holds the
// link, not the session: a session that ends on another thread only clears `session` here and
// never touches the owner's registry, which skips (and drops) such dead entries on its own
// thread. The stack clears `owner` when it goes first.
struct data_session_link_st {
  std::atomic<DataSession_Object*> session{nullptr};
  std::atomic<VmStack*> owner{nullptr};
  std::thread::id owner_thread;  // the thread the session was made on
};
using data_session_link = std::shared_ptr<data_session_link_st>;

// One installed TRY handler of a frame; newest first.
struct handler_record_st {
  const VmOpInstallErrorHandler* handler;
  handler_record_st* next;
};

class VmStack;

// One entry of a stack's cache of plain name reads (VmOpReadByName): what the operation op found
// last time, run by a frame of program, valid while the table and the table epoch are the same.
// A field stands as it is. Otherwise a local slot of the program is taken when it holds a LOCAL in
// the running frame (it is checked, so it stands across calls and recursion); the variable found
// by name stands while the stack's binding version is the same.
struct name_cache_st {
  const VmOp* op = nullptr;
  // The name as well: an operation freed with its program can be followed by a new one at the
  // same address that reads another name.
  symbol_id_type symbol = 0;
  Table_Object* table = nullptr;
  uint64_t table_epoch = 0;
  uint64_t program = 0;      // the serial of the running frame's program (0: no frame)
  uint64_t binding_version = 0;
  int32_t field = -1;        // the field number found in the table, -1 for none
  offset_type local = 0;     // the program's slot of the name, 0 for none
  Memvar* memvar = nullptr;  // the variable found by name (null when it was the local slot)
};
inline constexpr size_t name_cache_size = 64;

// One running call. Lives on the native stack of the code that runs the call; VmStack::enter_frame
// fills it and VmStack::leave_frame restores the caller from it.
struct VmFrame {
  uint64_t depth;                 // 1 for a frame without a caller, else the caller's + 1
  VmFrame* previous;              // the calling frame, null for the outermost
  code_position position;         // the operation being executed
  code_position saved_position;   // where an interrupt stopped the frame (restored on unwinding)
  const Program* program;
  handler_record_st* handlers;    // newest first; freed when the frame ends
  // The caller's registers, restored when the frame ends.
  Memvar* caller_arg_top;
  Memvar* caller_local_base;
  Memvar* caller_sp;
  UndoMemvar* caller_undo_top;
  uint64_t caller_nargs;
  VmStack* stack;
  memvar_map* caller_frame_memvars;
};

// The deepest nesting of frames.
inline constexpr uint64_t max_frame_depth = 128;

// Accessor modes of the method context.
enum AccessorMode : uint32_t {
  ACCESS_NONE = 0,
  ACCESS_READ = 1,           // property read
  ACCESS_READ_REENTERED = 2, // property read from inside the same property's own read
  ACCESS_WRITE = 3,          // property write
  ACCESS_WRITE_REENTERED = 4,
  ACCESS_CALL = 5,           // method call
};

// The member running now: set around every method call, property access and DODEFAULT, and
// restored afterwards (MethodContextScope).
struct method_context_st {
  Object* object = nullptr;       // THIS
  Object* owner = nullptr;        // the object of the chain that holds the running member
  Class* cls = nullptr;           // the class whose code runs (DODEFAULT starts above it)
  symbol_id_type member = 0;      // the member's symbol
  uint32_t mode = ACCESS_NONE;    // AccessorMode
  int32_t data_session_id = 0;    // the data session of THIS (0: none)
};

// The output of SET TEXTMERGE TO.
struct textmerge_target_st {
  std::list<String> texts;
};

class VmStack {
 public:
  // A stack of nslots slots and nundo undo records on the runtime (whose VM state must be
  // attached, see vm/runtime_vm.h), with its default data session current.
  VmStack(Runtime* runtime, size_t nslots, size_t nundo);
  // A small stack without a runtime (no symbol table, stack id 0), for code that only needs
  // values, settings and a data session.
  VmStack();
  ~VmStack();
  VmStack(const VmStack&) = delete;
  VmStack& operator=(const VmStack&) = delete;

  Runtime* get_runtime() const { return runtime; }
  Symtable* get_symtable() const { return symtable; }

  // --- slots ---

  // The slot of local offset k of the running frame.
  Memvar* local_slot(offset_type k) const { return frame_arg_top - k; }
  // The lowest slot and one past the highest.
  Memvar* slots_begin() const { return slots; }
  Memvar* slots_end() const { return slots + nslots; }
  // Pushes an empty slot and returns it; RuntimeError 9010 when the stack is full.
  Memvar* push() {
    if (sp == slots) throw_stack_overflow();
    return --sp;
  }
  // Releases and pops the top slot (clearing its flag).
  void pop();
  // Releases and pops every slot from the stack pointer up to, not including, mark.
  void release_stack_to(Memvar* mark);

  // --- variables ---

  // The variable of the running frame only: a compiled local slot, else the frame memory-variable
  // map's entry. False when the frame has neither.
  bool get_frame_memvar_pointer(symbol_id_type symbol, Memvar** out) const;
  // The variable a name denotes: a LOCAL of the running frame, else the memory-variable map's
  // binding. False when neither has it.
  bool get_memvar(symbol_id_type symbol, Memvar** out) const;
  // The frame's variable of that name, created empty (flag 0) in the frame memory-variable map
  // when the frame has none.
  void alloc_memvar(symbol_id_type symbol, Memvar** out);
  // Pushes an undo record; RuntimeError 103 when the undo array is full (nothing changes then).
  void alloc_undo_memvar(symbol_id_type symbol, Memvar* saved);
  // True when the running frame (or, with no frame, the top level) already holds an undo record
  // of the symbol.
  bool frame_has_undo_record(symbol_id_type symbol) const;
  // Given the frame's memvar *m of that name: a LOCAL stays as it is; an existing binding of the
  // name replaces *m; otherwise *m becomes a PRIVATE of the frame bound in the map.
  void define_undefined_memvar(symbol_id_type symbol, Memvar** m);
  // alloc_memvar then define_undefined_memvar: the variable an assignment to the name writes.
  void alloc_undefined_memvar(symbol_id_type symbol, Memvar** out);

  // The declarations (what the declaration operations do).
  // LOCAL by name (VmOpDefLocal); RuntimeError 1960 when the name is a PARAMETERS variable here.
  void declare_local(symbol_id_type symbol);
  // LOCAL of a compiled slot (VmOpDefLocalOffset); RuntimeError 1960 when the slot is a parameter.
  void declare_local_offset(offset_type offset, symbol_id_type symbol);
  // LPARAMETERS: the first count local slots become LOCALs (VmOpInitLocalParameters).
  void init_local_parameters(uint64_t count);
  // PARAMETERS: the argument slot becomes the name's PRIVATE binding (VmOpInitParameter).
  void init_parameter(offset_type offset, symbol_id_type symbol);
  // PRIVATE: hides the name's current binding until the frame ends (VmOpDefPrivateSymbol).
  void declare_private(symbol_id_type symbol);
  // PUBLIC (VmOpDefPublicOffset); RuntimeError 1960 for a conflicting declaration. Offset 0 names
  // no frame slot (a unit without slots): only the name is declared.
  void declare_public(offset_type offset, symbol_id_type symbol);

  // --- frames ---

  // Starts a call of program with nargs arguments (and extra further slot) already pushed:
  // RuntimeError 94 for more arguments than the program takes, 103 beyond 128 frames (the stack is
  // unchanged then), 9010 when its locals do not fit (the caller's registers are restored first).
  // The frame is current afterwards with its local slots reserved.
  void enter_frame(VmFrame* frame, const Program* program, size_t nargs, bool extra);
  // What a frame's end releases: its slots down from the stack pointer to the caller's stack
  // pointer, its undo records up to the caller's undo top (restoring the saved bindings), and its
  // frame memory-variable map. Values are released with this stack, so DESTROY code runs. An
  // interrupt raised by such code leaves the stack consistent: calling again finishes the work.
  void release_variables(UndoMemvar* caller_undo_top, Memvar* caller_sp);
  // Restores the caller's registers from the frame and frees its handler records.
  void leave_frame(VmFrame* frame) noexcept;
  // enter_frame's counterpart: release_variables, then leave_frame. An interrupt raised by DESTROY
  // code does not stop the release: the rest is released, the frame left, and the first interrupt
  // raised again.
  void end_frame(VmFrame* frame);
  // The common cases of enter_frame and end_frame without a call (vm/frame_inline.h). Each returns
  // false, having changed nothing the full function would not redo, when the full one must run.
  inline bool enter_frame_quick(VmFrame* frame, const Program* program, size_t nargs, bool extra);
  // Fills a new frame with the program and the caller's registers it gives back at its end.
  inline void fill_frame(VmFrame* frame, const Program* program, uint64_t depth);
  inline bool end_frame_quick(VmFrame* frame);

  // --- errors ---

  // Replaces the error list (AERROR()) by a copy of the one error, or of all the given errors.
  void error(const Error& e);
  void error(const std::vector<Error>& list);
  // The same as error(Error(code, message, detail)), refilling a one-error list in place.
  void error(int code, const String& message, const String& detail);

  // The handler search (vm/error_handlers.h). handle_exception offers the last error (flagged
  // handled) to the handlers, the debugger and the user; find_handler searches the handlers of the
  // running frame and its callers for a clause that takes error.
  RuntimeErrorRecovery handle_exception(how_to_handle_st& how);
  bool find_handler(Variant* error, const VmFrame** frame, intptr_t* target, symbol_id_type* symbol);

  // --- data sessions ---

  // Makes session current and points session_state and session_settings at its state and SET
  // values (null: none).
  void set_current_data_session(DataSession_Object* session);
  // The default data session (created by the constructor).
  DataSession_Object* get_default_data_session() const;
  // The live session of that number in this stack's registry, null when none (dead entries are
  // dropped on the way).
  DataSession_Object* find_data_session(int32_t number);
  // Enters a new session's link under its number (an existing live entry is left in place) and
  // drops the entries of sessions that ended elsewhere.
  void register_data_session(int32_t number, const data_session_link& link);
  // Removes the entry of that number when it is this link (the session ends on this stack).
  void unregister_data_session(int32_t number, const data_session_link_st* link);

  // ------------------------------------------------------------------------------------------
  // Fields. Other subsystems read and write them directly.

  uint64_t id = 0;                   // from the runtime's stack-id counter; 0 without a runtime
  Memvar* slots = nullptr;           // the lowest slot
  uint64_t frame_nargs = 0;          // arguments of the running frame (PCOUNT())
  Memvar* frame_arg_top = nullptr;
  Memvar* frame_local_base = nullptr;
  Memvar* sp = nullptr;              // the top value
  Memvar* native_arg_top = nullptr;  // set around a built-in's call: argument i is i slots below
  uint64_t native_nargs = 0;
  uint64_t nslots = 0;
  UndoMemvar* undo = nullptr;        // the first undo record
  UndoMemvar* undo_top = nullptr;    // the newest record; one past the last when there is none
  uint64_t nundo = 0;
  uint64_t last_call_nargs = 0;      // set by every call of a user function (PARAMETERS())

  uint32_t next_data_session_id = 1;  // a new data session takes it and adds 1
  // Number -> link of each session made on this stack; read and written by this stack's thread only.
  std::unordered_map<int32_t, data_session_link> data_sessions;
  DataSession_Object* current_data_session = nullptr;
  // What the interpreter reads of the current session (null: none); set with it.
  DataSessionState* session_state = nullptr;
  // Its selected table, or a null one when there is no session; set with it. Where a plain name
  // could be a field, one load answers whether a table is selected.
  Table_Object* const* selected_table = &no_selected_table;
  static constexpr Table_Object* no_selected_table = nullptr;

  uint8_t textmerge_on = 0;
  uint8_t textmerge_show = 1;
  textmerge_target_st* textmerge_target = nullptr;  // owned; null when none
  Variant textmerge_value;
  String textmerge_variable;  // the variable that receives the merged text
  uint8_t set_space = 1;
  ProgramDebugger* debugger = nullptr;  // null when none is attached
  uint8_t step_request = 0;

  memvar_map memvars;                  // the bindings every frame sees
  Table_Object* bound_table = nullptr;  // set while a table evaluates its own expressions
  VmFrame* frame = nullptr;            // the running call, null when nothing runs

  std::vector<Error> errors;   // AERROR()
  // The last error offered to the handlers of this stack (code 0: none).
  RuntimeError last_error;
  RuntimeThrow pending_throw;  // a caught error on its way to an outer frame
  // While a handler search runs WHEN conditions: the frame that was running when it began. A
  // search started inside a condition stops there. Null when no search runs.
  const VmFrame* handler_search_base = nullptr;
  // The built-in class of the exception objects, found once in the runtime's built-in library
  // (the objects layer fills both; a null library: not looked up yet).
  const Library* exception_class_library = nullptr;
  Class* exception_class = nullptr;
  method_context_st method_context;
  memvar_map* frame_memvars = nullptr;  // the running frame's memvars; null until first used

  // A language error or THROW a command hands back instead of throwing it (vm_defer_error,
  // vm_defer_throw). error_deferral_top is set while the interpreter of a frame calls a command
  // directly, to the argument top of that call; null otherwise. Throwing costs microseconds of
  // unwinding where the frame takes the interrupt itself.
  enum class Deferred : uint8_t { none, error, thrown };
  Memvar* error_deferral_top = nullptr;
  Deferred deferred = Deferred::none;
  // Set by the interpreter just before it calls a user function straight from a frame that takes
  // handed-back interrupts; the called execute_program takes it (and clears it) at once, and then
  // hands the error or THROW it would rethrow to that frame in the same way.
  bool caller_takes_interrupt = false;
  RuntimeError deferred_error;
  RuntimeThrow deferred_throw;

  Runtime* runtime = nullptr;
  ObjectPointer default_data_session;

  // The SET values of the current data session. The stack points this at the current session's
  // record (set_current_data_session); null reads as the defaults. Read it through
  // current_settings() (values/session_settings.h).
  SessionSettings* session_settings = nullptr;

  // The runtime's symbol table (null without a runtime).
  Symtable* symtable = nullptr;
  // The VM state of the runtime (null without a runtime).
  RuntimeVmState* vm_state = nullptr;

  // Incremented whenever what a name denotes by the memory-variable map or a frame's memvars may
  // change: a binding of the map, a frame memvar or a declaration flag, and a call or return when
  // either frame has memvars of its own. A frame's local slots are not covered: caches of name
  // lookups check the slot's flag themselves.
  uint64_t binding_version = 1;
  void bindings_changed() { ++binding_version; }
  // The interpreter's cache of plain name reads (see name_cache_st), indexed by operation address.
  name_cache_st name_cache[name_cache_size];

 private:
  [[noreturn]] void throw_stack_overflow();
  void init(Runtime* runtime, size_t nslots, size_t nundo);
  void release_all() noexcept;
  // Undoes the records from the undo top up to mark, newest first (at most limit of them).
  void undo_to(UndoMemvar* mark, size_t limit = SIZE_MAX);
  void release_frame_memvars();
};

// Saves the method context and the current data session, and restores both when it goes out of
// scope (also during unwinding).
class MethodContextScope {
 public:
  explicit MethodContextScope(VmStack* stack)
      : stack_(stack), saved_(stack->method_context), session_(stack->current_data_session) {}
  ~MethodContextScope() {
    stack_->method_context = saved_;
    if (stack_->current_data_session != session_) stack_->set_current_data_session(session_);
  }
  MethodContextScope(const MethodContextScope&) = delete;
  MethodContextScope& operator=(const MethodContextScope&) = delete;
  const method_context_st& saved() const { return saved_; }

 private:
  VmStack* stack_;
  method_context_st saved_;
  DataSession_Object* session_;
};

// Called with each stack of a runtime as it is released, before anything of it goes, so that a
// higher layer can forget what it keeps per stack (the built-in library's FERROR codes). One
// process-wide hook, installed from above; null: none. The hook must not throw.
using stack_release_hook_type = void (*)(VmStack* stack) noexcept;
void set_stack_release_hook(stack_release_hook_type hook);

// The runtime's symbol table of a stack (null for a stack without a runtime).
inline Symtable* get_symtable(VmStack* stack) { return stack->symtable; }
// Pops and releases every slot from the stack pointer up to, not including, mark.
void release_stack_to(VmStack* stack, Memvar* mark);

}  // namespace qzbase
