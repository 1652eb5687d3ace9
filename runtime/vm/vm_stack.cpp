// vm_stack.cpp - VmStack: slots, frames, variables and scoping.
#include "vm/vm_stack.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <unordered_set>
#include <new>
#include <utility>

#include "values/session_settings.h"
#include "vm/data_session_state.h"
#include "vm/frame_inline.h"
#include "vm/program.h"
#include "vm/runtime_vm.h"
#include "vm/symtable.h"

namespace qzbase {

namespace {

// The value layer reaches a stack's settings and runtime through its hooks.
const SessionSettings* settings_of(const VmStack* stack) { return stack->session_settings; }
Runtime* runtime_of(const VmStack* stack) { return stack->get_runtime(); }
[[maybe_unused]] const bool value_hooks_installed = [] {
  stack_settings_hook = settings_of;
  stack_runtime_hook = runtime_of;
  return true;
}();

}  // namespace

namespace {

// How many passes over the variables the destructor makes while DESTROY code run by the releases
// makes new ones; past that the rest is freed without running DESTROY.
constexpr int kMaxDestructionSteps = 1000;

// Releases a value with the stack until it stays empty (DESTROY code may store a new value into
// the variable it is releasing).
void release_fully(Variant* value, VmStack* stack) {
  while (value->tag != VT_FALSE) value->release(stack);
}

// Drops what a value still holds without a stack, whatever its release raises.
void discard_value(Variant* value) noexcept {
  try {
    value->release(nullptr);
  } catch (...) {
  }
  value->tag = VT_FALSE;
}

// Runs f; an interrupt of the language (an error, QUIT or THROW raised by DESTROY code) is
// dropped. Used where nothing may be thrown and the work must go on.
template <class F>
void ignoring_interrupts(F&& f) {
  try {
    f();
  } catch (const RuntimeError&) {
  } catch (const RuntimeQuit&) {
  } catch (const RuntimeThrow&) {
  }
}

// True for the exceptions of the language, which leave the stack consistent.
bool is_interrupt(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const RuntimeError&) {
    return true;
  } catch (const RuntimeQuit&) {
    return true;
  } catch (const RuntimeThrow&) {
    return true;
  } catch (...) {
    return false;
  }
}

String symbol_name(const VmStack* stack, symbol_id_type symbol) {
  return stack->symtable != nullptr ? stack->symtable->resolve(symbol) : String();
}

}  // namespace

// --- construction and destruction --------------------------------------------------------------

VmStack::VmStack(Runtime* rt, size_t slot_count, size_t undo_count) { init(rt, slot_count, undo_count); }

VmStack::VmStack() { init(nullptr, 256, 64); }

namespace {

// The slots and the undo records live in anonymous pages that the kernel zero-fills when first
// touched. A zeroed slot or record is an empty one, and both grow down from the top, so only the
// pages a program reaches become resident: a deep stack costs nothing until it is used.
static_assert(VT_FALSE == 0 && MEMVAR_NONE == 0, "an all-zero slot is an empty slot");

template <class T>
T* allocate_zeroed(size_t n) {
  void* p = mmap(nullptr, std::max<size_t>(n, 1) * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<T*>(p);
}

template <class T>
void free_zeroed(T* p, size_t n) {
  if (p != nullptr) munmap(p, std::max<size_t>(n, 1) * sizeof(T));
}

}  // namespace

void VmStack::init(Runtime* rt, size_t slot_count, size_t undo_count) {
  QZ_TRACE;
  memvars.max_load_factor(1.0f);
  data_sessions.max_load_factor(1.0f);
  runtime = rt;
  if (rt != nullptr) {
    RuntimeVmState* state = find_runtime_vm(rt);
    if (state == nullptr) throw_assert_failed();  // the runtime has not attached its VM state
    id = state->create_stack_id();
    symtable = &state->symtable;
    vm_state = state;
  }
  try {
    slots = allocate_zeroed<Memvar>(slot_count);
    nslots = slot_count;
    sp = frame_arg_top = frame_local_base = slots + slot_count;
    undo = allocate_zeroed<UndoMemvar>(undo_count);
    nundo = undo_count;
    undo_top = undo + undo_count;
    default_data_session = CreateObject(this, String("session"), nullptr, 0);
    set_current_data_session(get_default_data_session());
  } catch (...) {
    release_all();
    throw;
  }
}

namespace {
std::atomic<stack_release_hook_type> g_stack_release_hook{nullptr};
}  // namespace

void set_stack_release_hook(stack_release_hook_type hook) {
  QZ_TRACE;
  g_stack_release_hook.store(hook);
}

VmStack::~VmStack() {
  QZ_TRACE;
  if (runtime != nullptr) {
    stack_release_hook_type hook = g_stack_release_hook.load();
    if (hook != nullptr) hook(this);
  }
  release_all();
}

void VmStack::release_all() noexcept {
  QZ_TRACE;
  bindings_changed();
  // 1. The variables. Releasing a value may run DESTROY code, which may assign variables (and so
  //    change the maps being released) or create new ones: every map is moved out before its
  //    values are released, and the work goes on while the code leaves something behind. The
  //    frame memory-variable map, whose records bindings may point at, goes only once no binding
  //    and no undo record is left.
  for (int step = 0; step < kMaxDestructionSteps; ++step) {
    if (undo != nullptr && undo_top != undo + nundo) {  // PRIVATE declarations of command lines
      // Only the records there now: those that DESTROY code adds meanwhile wait for the next step.
      size_t present = static_cast<size_t>(undo + nundo - undo_top);
      ignoring_interrupts([&] { undo_to(undo + nundo, present); });
    } else if (!memvars.empty()) {
      memvar_map taken;
      taken.swap(memvars);
      for (auto& entry : taken) {
        Memvar* m = entry.second;
        ignoring_interrupts([&] { release_fully(&m->value, this); });
        if (m->flag == MEMVAR_PUBLIC) delete m;  // PUBLIC records belong to the map, the others not
      }
    } else if (frame_memvars != nullptr) {  // LOCALs and PRIVATE records of command lines
      ignoring_interrupts([&] { release_frame_memvars(); });
    } else {
      break;
    }
  }
  // What DESTROY code still left behind after the last step is freed without a stack.
  std::unordered_set<Memvar*> publics;
  if (undo != nullptr) {
    for (UndoMemvar* u = undo_top; u < undo + nundo; ++u) {
      if (u->saved != nullptr && u->saved->flag == MEMVAR_PUBLIC) publics.insert(u->saved);
    }
    undo_top = undo + nundo;
  }
  for (auto& [symbol, m] : memvars) {
    if (m->flag == MEMVAR_PUBLIC) publics.insert(m);
  }
  memvars.clear();
  for (Memvar* m : publics) delete m;
  if (frame_memvars != nullptr) {
    for (auto& [symbol, m] : *frame_memvars) delete m;
    delete frame_memvars;
    frame_memvars = nullptr;
  }

  // 2. The slots, highest first, without a stack.
  if (slots != nullptr) {
    // Below the stack pointer every slot is empty (a pop empties its slot): only the used part is
    // walked, so pages the program never reached stay untouched.
    Memvar* low = sp != nullptr && sp >= slots && sp <= slots + nslots ? sp : slots;
    for (Memvar* s = slots + nslots; s-- > low;) {
      ignoring_interrupts([&] { s->value.release(nullptr); });
      s->flag = MEMVAR_NONE;
    }
    free_zeroed(slots, nslots);
    slots = nullptr;
  }
  sp = frame_arg_top = frame_local_base = nullptr;
  nslots = 0;

  // 3. The undo array.
  free_zeroed(undo, nundo);
  undo = undo_top = nullptr;
  nundo = 0;

  // 4. The default data session, without a stack. Sessions that outlive the stack (held by objects
  //    elsewhere) must not come back to it.
  ignoring_interrupts([&] { default_data_session.release(nullptr); });
  for (auto& [number, link] : data_sessions) link->owner.store(nullptr, std::memory_order_release);
  data_sessions.clear();
  current_data_session = nullptr;
  session_state = nullptr;
  selected_table = &no_selected_table;
  session_settings = nullptr;

  // 5. The TEXTMERGE target and value.
  delete textmerge_target;
  textmerge_target = nullptr;
  ignoring_interrupts([&] { textmerge_value.release(nullptr); });
  ignoring_interrupts([&] { pending_throw.value.release(nullptr); });
}

// --- slots -------------------------------------------------------------------------------------

void VmStack::throw_stack_overflow() {
  QZ_TRACE;
  throw RuntimeError(9010);
}

void VmStack::pop() {
  QZ_TRACE;
  if (sp >= slots + nslots) throw_assert_failed();
  sp->value.release(this);
  sp->flag = MEMVAR_NONE;
  ++sp;
}

void VmStack::release_stack_to(Memvar* mark) {
  QZ_TRACE;
  while (sp < mark) {
    sp->value.release(this);
    sp->flag = MEMVAR_NONE;
    ++sp;
  }
}

void release_stack_to(VmStack* stack, Memvar* mark) { stack->release_stack_to(mark); }

// --- variables ---------------------------------------------------------------------------------

bool VmStack::get_frame_memvar_pointer(symbol_id_type symbol, Memvar** out) const {
  QZ_TRACE;
  if (frame != nullptr) {
    const local_offset_map& offsets = frame->program->local_offsets();
    auto it = offsets.find(symbol);
    if (it != offsets.end()) {
      *out = frame_arg_top - it->second;
      return true;
    }
  }
  if (frame_memvars != nullptr) {
    auto it = frame_memvars->find(symbol);
    if (it != frame_memvars->end()) {
      *out = it->second;
      return true;
    }
  }
  return false;
}

bool VmStack::get_memvar(symbol_id_type symbol, Memvar** out) const {
  QZ_TRACE;
  Memvar* m;
  if (get_frame_memvar_pointer(symbol, &m) && m->flag == MEMVAR_LOCAL) {
    *out = m;
    return true;
  }
  auto it = memvars.find(symbol);
  if (it == memvars.end()) return false;
  *out = it->second;
  return true;
}

void VmStack::alloc_memvar(symbol_id_type symbol, Memvar** out) {
  QZ_TRACE;
  if (get_frame_memvar_pointer(symbol, out)) return;
  if (frame_memvars == nullptr) {
    frame_memvars = new memvar_map();
    frame_memvars->max_load_factor(1.0f);
  }
  auto* m = new Memvar();
  bindings_changed();
  try {
    frame_memvars->emplace(symbol, m);
  } catch (...) {
    delete m;
    throw;
  }
  *out = m;
}

bool VmStack::frame_has_undo_record(symbol_id_type symbol) const {
  UndoMemvar* end = frame != nullptr ? frame->caller_undo_top : undo + nundo;
  for (const UndoMemvar* u = undo_top; u < end; ++u) {
    if (u->symbol == symbol) return true;
  }
  return false;
}

void VmStack::alloc_undo_memvar(symbol_id_type symbol, Memvar* saved) {
  QZ_TRACE;
  if (undo_top == undo) throw RuntimeError(103);
  --undo_top;
  undo_top->symbol = symbol;
  undo_top->saved = saved;
}

void VmStack::define_undefined_memvar(symbol_id_type symbol, Memvar** m) {
  QZ_TRACE;
  if ((*m)->flag == MEMVAR_LOCAL) return;
  auto it = memvars.find(symbol);
  if (it != memvars.end()) {
    *m = it->second;
    return;
  }
  // A frame that already saved the symbol's binding needs no second record: undoing the first one
  // removes whatever binding the frame made and restores the saved one.
  bool saved = frame_has_undo_record(symbol);
  if (!saved) alloc_undo_memvar(symbol, nullptr);
  bindings_changed();
  try {
    memvars.emplace(symbol, *m);
  } catch (...) {
    if (!saved) ++undo_top;  // the record goes with the failed binding
    throw;
  }
  (*m)->flag = MEMVAR_PRIVATE;
}

void VmStack::alloc_undefined_memvar(symbol_id_type symbol, Memvar** out) {
  QZ_TRACE;
  alloc_memvar(symbol, out);
  define_undefined_memvar(symbol, out);
}

// --- declarations ------------------------------------------------------------------------------

void VmStack::declare_local(symbol_id_type symbol) {
  QZ_TRACE;
  Memvar* m;
  alloc_memvar(symbol, &m);
  if (m->flag == MEMVAR_PRIVATE) throw RuntimeError(1960, symbol_name(this, symbol));
  m->flag = MEMVAR_LOCAL;
  bindings_changed();
}

void VmStack::declare_local_offset(offset_type offset, symbol_id_type symbol) {
  QZ_TRACE;
  Memvar* slot = local_slot(offset);
  if (slot->flag == MEMVAR_PRIVATE) throw RuntimeError(1960, symbol_name(this, symbol));
  if (slot->flag != MEMVAR_LOCAL) {
    slot->flag = MEMVAR_LOCAL;
    bindings_changed();
  }
}

void VmStack::init_local_parameters(uint64_t count) {
  QZ_TRACE;
  for (uint64_t k = 1; k <= count; ++k) {
    if (local_slot(k)->flag != MEMVAR_NONE) throw_assert_failed();
  }
  for (uint64_t k = 1; k <= count; ++k) local_slot(k)->flag = MEMVAR_LOCAL;
  bindings_changed();
}

void VmStack::init_parameter(offset_type offset, symbol_id_type symbol) {
  QZ_TRACE;
  Memvar* slot = local_slot(offset);
  if (slot->flag != MEMVAR_NONE) throw_assert_failed();
  auto it = memvars.find(symbol);
  Memvar* previous = it != memvars.end() ? it->second : nullptr;
  alloc_undo_memvar(symbol, previous);  // 103 leaves everything as it was
  bindings_changed();
  if (it != memvars.end()) {
    it->second = slot;
  } else {
    try {
      memvars.emplace(symbol, slot);
    } catch (...) {
      ++undo_top;
      throw;
    }
  }
  slot->flag = MEMVAR_PRIVATE;
}

void VmStack::declare_private(symbol_id_type symbol) {
  QZ_TRACE;
  auto it = memvars.find(symbol);
  if (it == memvars.end()) return;
  // PRIVATE run again by the frame (in a loop) hides the binding the frame made itself since its
  // first PRIVATE of the name: no second record is saved (the first one restores the binding the
  // name had before the frame). A PUBLIC record made since then belongs to the map and must be
  // freed by a record of its own.
  if (it->second->flag == MEMVAR_PUBLIC || !frame_has_undo_record(symbol)) alloc_undo_memvar(symbol, it->second);
  bindings_changed();
  memvars.erase(it);
}

void VmStack::declare_public(offset_type offset, symbol_id_type symbol) {
  QZ_TRACE;
  // Offset 0: a unit without frame slots (a command line); the name alone is declared.
  Memvar* slot = offset != 0 ? local_slot(offset) : nullptr;
  if (slot != nullptr && slot->flag != MEMVAR_NONE && slot->flag != MEMVAR_PUBLIC) {
    throw RuntimeError(1960, symbol_name(this, symbol));
  }
  auto it = memvars.find(symbol);
  if (it != memvars.end()) {
    if (it->second->flag == MEMVAR_PUBLIC) {
      if (slot != nullptr) slot->flag = MEMVAR_PUBLIC;
    } else if (slot == nullptr || slot->flag != MEMVAR_PUBLIC) {
      throw RuntimeError(1960, symbol_name(this, symbol));
    }
    return;
  }
  auto* m = new Memvar();
  m->flag = MEMVAR_PUBLIC;
  bindings_changed();
  try {
    memvars.emplace(symbol, m);
  } catch (...) {
    delete m;
    throw;
  }
  if (slot != nullptr) slot->flag = MEMVAR_PUBLIC;
}

// --- frames ------------------------------------------------------------------------------------

void VmStack::enter_frame(VmFrame* f, const Program* program, size_t nargs, bool extra) {
  QZ_TRACE;
  if (enter_frame_quick(f, program, nargs, extra)) return;
  // One of the checks failed: the same steps again, raising where it failed.
  if (nargs > program->parameter_count()) throw RuntimeError(94);
  fill_frame(f, program, frame != nullptr ? frame->depth + 1 : 1);
  if (f->depth > max_frame_depth) throw RuntimeError(103);

  size_t passed = nargs + (extra ? 1 : 0);
  frame_nargs = nargs;
  frame = f;
  if (frame_memvars != nullptr) bindings_changed();  // the caller's LOCALs by name are out of sight
  frame_memvars = nullptr;
  frame_arg_top = sp + passed;
  size_t wanted = program->slot_count();
  size_t reserve = wanted > passed ? wanted - passed : 0;
  if (reserve != 0) {
    if (static_cast<size_t>(sp - slots) < reserve) {
      leave_frame(f);
      throw RuntimeError(9010);
    }
    sp -= reserve;
  }
  frame_local_base = sp;
}

void VmStack::undo_to(UndoMemvar* mark, size_t limit) {
  QZ_TRACE;
  while (undo_top < mark && limit-- > 0) {
    // The record is taken off the array before its binding is released: code run by the release
    // on this frame (a native DESTROY member) may push records of its own, which land where this
    // one was and are undone next, newest first.
    UndoMemvar record = *undo_top;
    undo_top->symbol = 0;
    undo_top->saved = nullptr;
    ++undo_top;
    std::exception_ptr failure;
    bindings_changed();
    auto it = memvars.find(record.symbol);
    if (it != memvars.end()) {
      Memvar* bound = it->second;
      // Released while still bound: DESTROY code sees the variables as they were.
      try {
        if (bound->flag == MEMVAR_PUBLIC) {
          release_fully(&bound->value, this);
        } else {
          bound->value.release(this);
        }
      } catch (...) {
        failure = std::current_exception();
      }
      memvars.erase(record.symbol);  // looked up again: the code may have changed the map
      if (bound->flag == MEMVAR_PUBLIC) {
        discard_value(&bound->value);
        delete bound;
      }
    }
    if (record.saved != nullptr) memvars[record.symbol] = record.saved;
    if (failure) std::rethrow_exception(failure);  // the record is done; the caller goes on
  }
}

void VmStack::release_frame_memvars() {
  QZ_TRACE;
  // Taken out first: DESTROY code run by the releases gets a map of its own.
  memvar_map* map = frame_memvars;
  frame_memvars = nullptr;
  if (map == nullptr) return;
  bindings_changed();
  std::exception_ptr first;
  for (auto& [symbol, m] : *map) {
    for (;;) {
      try {
        release_fully(&m->value, this);
        break;
      } catch (...) {
        if (!first) first = std::current_exception();
        if (!is_interrupt(std::current_exception())) {
          m->value.tag = VT_FALSE;  // a broken value: give it up
          break;
        }
      }
    }
    delete m;
  }
  delete map;
  if (first) std::rethrow_exception(first);
}

void VmStack::release_variables(UndoMemvar* caller_undo_top, Memvar* caller_sp) {
  QZ_TRACE;
  // Code run by the releases on this frame (a native DESTROY member) may make new variables of
  // the frame: the steps are repeated until none is left.
  do {
    // 1. The frame's own slots (locals and temporaries); the arguments above the caller's stack
    //    pointer stay for the caller to pop.
    while (sp < caller_sp) {
      sp->value.release(this);
      sp->flag = MEMVAR_NONE;
      ++sp;
    }
    // 2. The frame's undo records, newest first.
    if (undo_top < caller_undo_top) undo_to(caller_undo_top);
    // 3. The frame's memory-variable map.
    if (frame_memvars != nullptr) release_frame_memvars();
  } while (sp < caller_sp || undo_top < caller_undo_top || frame_memvars != nullptr);
}

void VmStack::leave_frame(VmFrame* f) noexcept {
  if (frame_memvars != nullptr || f->caller_frame_memvars != nullptr) bindings_changed();
  frame_arg_top = f->caller_arg_top;
  frame_local_base = f->caller_local_base;
  undo_top = f->caller_undo_top;
  sp = f->caller_sp;
  frame_memvars = f->caller_frame_memvars;
  frame = f->previous;
  frame_nargs = f->caller_nargs;
  handler_record_st* h = f->handlers;
  f->handlers = nullptr;
  while (h != nullptr) {
    handler_record_st* next = h->next;
    delete h;
    h = next;
  }
}

void VmStack::end_frame(VmFrame* f) {
  QZ_TRACE;
  if (end_frame_quick(f)) return;
  std::exception_ptr first;
  for (;;) {
    try {
      release_variables(f->caller_undo_top, f->caller_sp);
      break;
    } catch (...) {
      std::exception_ptr e = std::current_exception();
      if (!first) first = e;
      if (!is_interrupt(e)) break;  // a broken invariant: no second try
    }
  }
  leave_frame(f);
  if (first) std::rethrow_exception(first);
}

// --- errors ------------------------------------------------------------------------------------

void VmStack::error(const Error& e) {
  QZ_TRACE;
  std::vector<Error> list;
  list.push_back(e);
  errors.swap(list);
}

void VmStack::error(int code, const String& message, const String& detail) {
  QZ_TRACE;
  if (errors.size() != 1) {
    error(Error(code, message, detail));
    return;
  }
  // Every caught error passes here: the one entry is refilled instead of a new list being made,
  // its number and texts in place when they are a number and texts already.
  Error& e = errors.front();
  if (e.number.tag == VT_INTEGER) {
    e.number.integer.value = code;
  } else {
    e.number.release(nullptr);
    e.number.set_integer(code);
  }
  auto refill = [](Variant& v, const String& text) {
    if (v.tag == VT_STRING) {
      v.string = text;
      return;
    }
    v.release(nullptr);
    v.set_string(text);
  };
  refill(e.message, message);
  refill(e.detail, detail);
  e.value4.release(nullptr);
  e.value5.release(nullptr);
  e.value6.release(nullptr);
  e.value7.release(nullptr);
}

void VmStack::error(const std::vector<Error>& list) {
  QZ_TRACE;
  std::vector<Error> copy(list);
  errors.swap(copy);
}

// --- data sessions -----------------------------------------------------------------------------

data_session_hooks_st data_session_hooks{};

void VmStack::set_current_data_session(DataSession_Object* session) {
  QZ_TRACE;
  DataSessionState* state = nullptr;
  if (session != nullptr) {
    QZ_ASSERT(data_session_hooks.state_of != nullptr);
    state = data_session_hooks.state_of(session);
  }
  current_data_session = session;
  session_state = state;
  selected_table = state != nullptr ? &state->current_table : &no_selected_table;
  session_settings = state != nullptr ? &state->settings : nullptr;
}

DataSession_Object* VmStack::find_data_session(int32_t number) {
  QZ_TRACE;
  auto it = data_sessions.find(number);
  if (it == data_sessions.end()) return nullptr;
  DataSession_Object* session = it->second->session.load(std::memory_order_acquire);
  if (session == nullptr) data_sessions.erase(it);
  return session;
}

void VmStack::register_data_session(int32_t number, const data_session_link& link) {
  QZ_TRACE;
  for (auto it = data_sessions.begin(); it != data_sessions.end();) {
    if (it->second->session.load(std::memory_order_acquire) == nullptr) {
      it = data_sessions.erase(it);
    } else {
      ++it;
    }
  }
  data_sessions.emplace(number, link);
}

void VmStack::unregister_data_session(int32_t number, const data_session_link_st* link) {
  QZ_TRACE;
  auto it = data_sessions.find(number);
  if (it != data_sessions.end() && it->second.get() == link) data_sessions.erase(it);
}

DataSession_Object* VmStack::get_default_data_session() const {
  QZ_TRACE;
  if (default_data_session.empty()) return nullptr;
  QZ_ASSERT(data_session_hooks.session_of != nullptr);
  return data_session_hooks.session_of(default_data_session.object);
}

Runtime* GetRuntime(VmStack* stack) {
  QZ_TRACE;
  return stack->runtime;
}

}  // namespace qzbase
