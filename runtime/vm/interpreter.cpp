// interpreter.cpp - the interpreter loop: dispatch through a dense table of 86 labels (computed
// goto), one bounds check per operation; constants, local reads and writes, comparisons, jumps
// and the sum of two integers move values inside the slots and allocate nothing.
//
// Faults guarded against (interpreter_test.cpp):
// - 84 pushes no second handler record for an operation already in the frame's list (a TRY in a
//   loop grew the list without bound; the handler search finds the same clauses either way).
// - 84 with no running frame raises RuntimeError 1001 ("TRY outside a program") instead of
//   dereferencing null.
// - An overflow inside an implicit cast (std::overflow_error) becomes RuntimeError 1988 for a
//   money target and 39 otherwise, so the frame is cleaned up like for any error.
#include "vm/interpreter.h"

#include <cmath>
#include <stdexcept>

#include "values/arithmetic.h"
#include "values/array.h"
#include "values/comparison.h"
#include "values/value_text.h"
#include "vm/calls.h"
#include "vm/data_session_state.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/shared_ops.h"
#include "vm/symtable.h"

namespace qzbase {

vm_table_hooks_st vm_table_hooks;
std::atomic<uint64_t> vm_table_epoch{1};
macro_compiler_type vm_macro_compiler = nullptr;

namespace {

[[noreturn]] __attribute__((noinline, cold)) void raise(int code) { throw RuntimeError(code); }

[[noreturn]] __attribute__((noinline, cold)) void raise_with_name(VmStack* stack, int code, symbol_id_type symbol) {
  throw RuntimeError(code, stack->symtable != nullptr ? stack->symtable->resolve(symbol) : String());
}

[[noreturn]] __attribute__((noinline, cold)) void broken() { throw_assert_failed(); }

// Pushes an empty slot: RuntimeError 9010 (nothing changed) when the stack is full.
inline Memvar* push(VmStack* stack) {
  Memvar* p = stack->sp;
  if (__builtin_expect(p == stack->slots, 0)) raise(9010);
  --p;
  stack->sp = p;
  return p;
}

// Releases and pops slot 0.
inline void pop(VmStack* stack) {
  Memvar* p = stack->sp;
  p->value.release(stack);
  p->flag = MEMVAR_NONE;
  stack->sp = p + 1;
}

// Pops a slot known to hold no heap value.
inline void pop_plain(VmStack* stack) {
  Memvar* p = stack->sp;
  p->value.tag = VT_FALSE;
  p->flag = MEMVAR_NONE;
  stack->sp = p + 1;
}

// The defined local slot of offset k (flag 1 required).
inline Memvar* defined_local(VmStack* stack, offset_type k) {
  Memvar* m = stack->frame_arg_top - k;
  if (__builtin_expect(m->flag != MEMVAR_LOCAL, 0)) broken();
  return m;
}

inline Variant* deref(Variant* v) { return v->tag == VT_REFERENCE ? v->reference.target : v; }
inline const Variant* deref(const Variant* v) { return v->tag == VT_REFERENCE ? v->reference.target : v; }

// The element number an element operation with count indexes on the stack (the last in slot 0)
// addresses, when they are integers within the array: one index of any array, or row and column
// of a two-dimensional one. 0 for everything else, which the full way checks and reports.
inline size_t inline_element(const Variant* container, uint64_t count, const Memvar* sp) {
  if (container->tag != VT_ARRAY || sp[0].value.tag != VT_INTEGER) return 0;
  const Array& a = container->array;
  size_t last = static_cast<size_t>(sp[0].value.integer.value);
  if (count == 1) return last - 1 < a.count() ? last : 0;
  if (count != 2 || sp[1].value.tag != VT_INTEGER || a.columns() == 0) return 0;
  size_t row = static_cast<size_t>(sp[1].value.integer.value);
  if (row - 1 >= a.rows() || last - 1 >= a.columns()) return 0;
  return (row - 1) * a.columns() + last;
}

// The three 10-bit slot numbers the fused array operations keep in aux.
inline unsigned aux_slot(uint32_t aux, unsigned k) { return (aux >> (10 * k)) & 0x3FF; }

// Moves src into the empty dst (src becomes empty).
inline void move_into(Variant* dst, Variant* src) {
  dst->raw_[0] = src->raw_[0];
  dst->raw_[1] = src->raw_[1];
  dst->raw_[2] = src->raw_[2];
  dst->raw_[3] = src->raw_[3];
  dst->tag = src->tag;
  src->tag = VT_FALSE;
}

// The assignment of 78/79: target released, slot 0 stored into it, slot 0 popped.
inline void assign_top(VmStack* stack, Variant* target) {
  Memvar* top = stack->sp;
  if (target->tag != VT_FALSE) target->release(stack);
  if (top->value.tag == VT_REFERENCE) {
    (top->value.*Variant::val_functions[VT_REFERENCE])(target);  // the referenced value
    pop(stack);
  } else {
    move_into(target, &top->value);  // the same as a copy and a release, without the counts
    top->flag = MEMVAR_NONE;
    stack->sp = top + 1;
  }
}

// Slot 0 into result, popped.
inline void return_top(VmStack* stack, Variant* result) {
  Memvar* top = stack->sp;
  if (result->tag != VT_FALSE) result->release(stack);
  move_into(result, &top->value);
  top->flag = MEMVAR_NONE;
  stack->sp = top + 1;
}

// A variable by name: RuntimeError 12 with the name when absent.
inline Memvar* named_memvar(VmStack* stack, symbol_id_type symbol) {
  Memvar* m;
  if (!stack->get_memvar(symbol, &m)) raise_with_name(stack, 12, symbol);
  return m;
}

// The table a plain name reads first: the bound table, else the selected table.
inline Table_Object* name_table(VmStack* stack) {
  if (stack->bound_table != nullptr) return stack->bound_table;
  const DataSessionState* ds = stack->session_state;
  return ds != nullptr ? ds->current_table : nullptr;
}

// True when no table could have a field of a plain name: none bound, none selected.
inline bool no_table_hides_names(const VmStack* stack) {
  return stack->bound_table == nullptr && *stack->selected_table == nullptr;
}

// The name cache entry of op when it holds what the name denotes now: a field (*field set) or a
// variable (returned); null otherwise.
inline Memvar* name_cache_hit(VmStack* stack, const name_cache_st& c, const VmOp* op, symbol_id_type symbol,
                              Table_Object* table, uint64_t epoch, int* field) {
  uint64_t program = stack->frame != nullptr ? stack->frame->program->serial() : 0;
  if (!(c.op == op && c.symbol == symbol && c.table == table && c.table_epoch == epoch && c.program == program)) {
    return nullptr;
  }
  if (c.field >= 0) {
    *field = c.field;
    return nullptr;
  }
  if (c.local != 0) {
    Memvar* slot = stack->frame_arg_top - c.local;
    if (slot->flag == MEMVAR_LOCAL) return slot;
  }
  return c.binding_version == stack->binding_version ? c.memvar : nullptr;
}

// Looks the name up (RuntimeError 12 when it denotes nothing) and fills the entry.
Memvar* name_cache_fill(VmStack* stack, name_cache_st& c, const VmOp* op, symbol_id_type symbol, Table_Object* table,
                        uint64_t epoch, int* field) {
  const Program* program = stack->frame != nullptr ? stack->frame->program : nullptr;
  int f = -1;
  if (table != nullptr && vm_table_hooks.field_by_symbol != nullptr) f = vm_table_hooks.field_by_symbol(table, symbol);
  Memvar* m = nullptr;
  offset_type local = 0;
  if (f < 0) {
    m = named_memvar(stack, symbol);  // not cached when absent
    if (program != nullptr) {
      const local_offset_map& offsets = program->local_offsets();
      auto it = offsets.find(symbol);
      if (it != offsets.end()) local = it->second;
    }
  }
  // A slot numbered 0 (never compiled) would be the frame's own variable kept as if shared: no entry.
  bool keep = !(program != nullptr && local == 0 && m != nullptr && program->local_offsets().count(symbol) != 0);
  c.op = op;
  c.symbol = symbol;
  c.table = table;
  c.table_epoch = epoch;
  c.program = program != nullptr ? program->serial() : 0;
  c.binding_version = stack->binding_version;
  c.field = f;
  c.local = local;
  // The slot itself is never kept: another frame of the program has its own.
  c.memvar = local != 0 && m == stack->frame_arg_top - local ? nullptr : m;
  if (!keep) c.op = nullptr;
  *field = f;
  return m;
}

// 51: a field of the bound or selected table, else a memory variable; cached per operation.
void read_by_name(VmStack* stack, const VmOp* op, symbol_id_type symbol) {
  Table_Object* table = name_table(stack);
  uint64_t epoch = vm_table_epoch.load(std::memory_order_relaxed);
  name_cache_st& c = stack->name_cache[(reinterpret_cast<uintptr_t>(op) >> 4) & (name_cache_size - 1)];
  int field = -1;
  Memvar* m = name_cache_hit(stack, c, op, symbol, table, epoch, &field);
  if (m == nullptr && field < 0) m = name_cache_fill(stack, c, op, symbol, table, epoch, &field);
  if (field >= 0) {
    Memvar* slot = push(stack);
    try {
      vm_table_hooks.read_field(stack, table, field, &slot->value);
    } catch (...) {
      pop(stack);
      throw;
    }
    return;
  }
  Memvar* slot = push(stack);
  m->value.copy(&slot->value);
}

// 54: the table object of an alias, else a memory variable.
void read_file_object_or_memvar(VmStack* stack, symbol_id_type symbol) {
  const DataSessionState* ds = stack->session_state;
  if (ds != nullptr && !ds->aliases.empty()) {
    auto a = ds->aliases.find(symbol);
    if (a != ds->aliases.end()) {
      auto w = ds->work_areas.find(a->second);
      if (w != ds->work_areas.end() && !w->second.empty()) {
        Memvar* slot = push(stack);
        slot->value.set(static_cast<const object_ptr_st&>(w->second));
        return;
      }
    }
  }
  Memvar* m = named_memvar(stack, symbol);
  Memvar* slot = push(stack);
  m->value.copy(&slot->value);
}

// 85: field number field of the bound table.
void read_field_by_num(VmStack* stack, uint64_t field) {
  Table_Object* table = stack->bound_table;
  if (table == nullptr || vm_table_hooks.read_field == nullptr) raise(52);
  Memvar* slot = push(stack);
  try {
    vm_table_hooks.read_field(stack, table, static_cast<int>(field), &slot->value);
  } catch (...) {
    pop(stack);
    throw;
  }
}

// 3..6 on slot 1 (left) and slot 0 (right).
void binary_arith(VmStack* stack, unsigned opcode) {
  Variant* right = &stack->sp[0].value;
  Variant* left = &stack->sp[1].value;
  if (left->tag == VT_REFERENCE || right->tag == VT_REFERENCE) broken();
  if (right->tag == VT_NULL) {
    left->release(stack);
    left->tag = VT_NULL;
  } else if (left->tag != VT_NULL) {
    switch (opcode) {
      case OP_BINARY_SUB: variant_sub(left, right); break;
      case OP_BINARY_MUL: variant_mul(left, right); break;
      case OP_BINARY_DIV: variant_div(left, right); break;
      default: variant_pow(left, right); break;
    }
  }
  pop(stack);
}

// 7.
void binary_mod(VmStack* stack) {
  Variant* right = &stack->sp[0].value;
  Variant* left = &stack->sp[1].value;
  if (right->tag == VT_NULL) {
    left->release(stack);
    left->tag = VT_NULL;
  } else if (left->tag != VT_NULL) {
    Variant temp;
    variant_mod(stack, left, right, &temp);
    left->release(stack);
    move_into(left, &temp);
  }
  pop(stack);
}

// 8..14 (the general path).
void binary_cmp(VmStack* stack, unsigned opcode) {
  Variant* right = &stack->sp[0].value;
  Variant* left = &stack->sp[1].value;
  bool is_null = false;
  int c = variant_cmp(left, right, &is_null, opcode == OP_BINARY_EQ_EQ ? nullptr : stack);
  bool r;
  switch (opcode) {
    case OP_BINARY_EQ:
    case OP_BINARY_EQ_EQ: r = cmp_eq(c); break;
    case OP_BINARY_LT: r = cmp_lt(c); break;
    case OP_BINARY_LT_EQ: r = cmp_le(c); break;
    case OP_BINARY_GT: r = cmp_gt(c); break;
    case OP_BINARY_GT_EQ: r = cmp_ge(c); break;
    default: r = cmp_ne(c); break;
  }
  pop(stack);
  left->release(stack);
  left->tag = is_null ? VT_NULL : (r ? VT_TRUE : VT_FALSE);
}

inline bool int_cmp_result(unsigned opcode, int64_t a, int64_t b) {
  switch (opcode) {
    case OP_BINARY_EQ:
    case OP_BINARY_EQ_EQ: return a == b;
    case OP_BINARY_LT: return a < b;
    case OP_BINARY_LT_EQ: return a <= b;
    case OP_BINARY_GT: return a > b;
    case OP_BINARY_GT_EQ: return a >= b;
    default: return a != b;
  }
}

// 76.
void unary_neg(VmStack* stack) {
  Variant* v = &stack->sp->value;
  if (deref(v)->tag == VT_NULL) return;
  Variant temp;
  variant_val_negative(v, stack, &temp);
  v->release(stack);
  move_into(v, &temp);
}

// Whether a FOR loop with an integer counter a and an integer step st ends at the limit: 1 when
// it ends, 0 when it goes on, -1 when the operations one by one must decide (a limit neither
// integer nor numeric, or a NaN). A numeric limit is common: VAL() and arithmetic give one.
inline int for_ends(int64_t a, int64_t st, const Variant* limit) {
  if (__builtin_expect(limit->tag == VT_INTEGER, 1)) {
    int64_t b = limit->integer.value;
    return st > 0 ? a > b : (st < 0 ? a < b : a == b);
  }
  if (limit->tag == VT_NUMERIC) {
    int c = cmp_double_inline(static_cast<double>(a), limit->numeric.value);
    if (c == kCmpUnordered) return -1;
    return c == (st > 0) - (st < 0);
  }
  return -1;
}

// The slot bytes below base: fused operations keep slot offsets scaled to bytes, so that reaching a
// slot is one subtraction.
inline Memvar* slot_below(Memvar* base, uint32_t bytes) {
  return reinterpret_cast<Memvar*>(reinterpret_cast<char*>(base) - bytes);
}

// 41: true when the loop goes on.
bool is_nan_value(const Variant* v) { return v->tag == VT_NUMERIC && std::isnan(v->numeric.value); }

bool for_continues(VmStack* stack) {
  Variant* var = &stack->sp[0].value;
  Variant* limit = &stack->sp[1].value;
  Variant* step = &stack->sp[2].value;
  if (is_nan_value(var) || is_nan_value(limit) || is_nan_value(step)) {
    // Nothing compares with NaN: the loop would never end.
    pop(stack);
    pop(stack);
    pop(stack);
    return false;
  }
  bool is_null = false;
  int c;
  if (var->tag == VT_NUMERIC && limit->tag == VT_INTEGER &&
      (var->numeric.value >= 9223372036854775808.0 || var->numeric.value < -9223372036854775808.0)) {
    // A counter that passed the 64-bit range (an integer counter turns numeric there) is beyond
    // every integer limit; compared as doubles it would equal the largest and never pass it.
    c = var->numeric.value > 0 ? 1 : -1;
  } else {
    c = inline_variant_cmp(var, limit, &is_null, stack);
  }
  int s;
  if (step->tag == VT_INTEGER) {
    s = (step->integer.value > 0) - (step->integer.value < 0);
  } else {
    s = cmp_double_with_tollerance(variant_to_double(*step), 0);
  }
  pop(stack);
  pop(stack);
  pop(stack);
  return !is_null && c != s;
}

// The allow_null byte of 19..26.
bool cast_allows_null(const VmOp* op) {
  switch (op->opcode) {
    case OP_CAST_TO_BOOLEAN_IMPLICITLY: return static_cast<const VmOpCastToBooleanImplicitly*>(op)->allow_null != 0;
    case OP_CAST_TO_INTEGER_IMPLICITLY: return static_cast<const VmOpCastToIntegerImplicitly*>(op)->allow_null != 0;
    case OP_CAST_TO_NUMERIC_IMPLICITLY: return static_cast<const VmOpCastToNumericImplicitly*>(op)->allow_null != 0;
    case OP_CAST_TO_MONEY_IMPLICITLY: return static_cast<const VmOpCastToMoneyImplicitly*>(op)->allow_null != 0;
    case OP_CAST_TO_DATE_IMPLICITLY: return static_cast<const VmOpCastToDateImplicitly*>(op)->allow_null != 0;
    case OP_CAST_TO_DATETIME_IMPLICITLY: return static_cast<const VmOpCastToDatetimeImplicitly*>(op)->allow_null != 0;
    case OP_CAST_TO_STRING_IMPLICITLY: return static_cast<const VmOpCastToStringImplicitly*>(op)->allow_null != 0;
    default: return static_cast<const VmOpCastToObjectImplicitly*>(op)->allow_null != 0;
  }
}

// 19..26.
void implicit_cast(VmStack* stack, unsigned opcode, bool allow_null) {
  Variant* v = &stack->sp->value;
  static constexpr uint8_t target_tag[8] = {VT_FALSE, VT_INTEGER, VT_NUMERIC, VT_MONEY,
                                            VT_DATE,  VT_DATETIME, VT_STRING, VT_OBJECT};
  unsigned k = opcode - OP_CAST_TO_BOOLEAN_IMPLICITLY;
  uint8_t tag = v->tag;
  if (k == 0 ? (tag == VT_FALSE || tag == VT_TRUE) : tag == target_tag[k]) return;
  if (tag == VT_NULL) {
    if (allow_null) return;
    raise(11);
  }
  Variant temp;
  try {
    switch (opcode) {
      case OP_CAST_TO_INTEGER_IMPLICITLY: {
        integer_type_st x;
        variant_cast(*v, &x);
        temp.set(x);
        break;
      }
      case OP_CAST_TO_NUMERIC_IMPLICITLY: {
        numeric_type_st x;
        variant_cast(*v, &x);
        temp.set(x);
        break;
      }
      case OP_CAST_TO_MONEY_IMPLICITLY: {
        money_type_st x;
        variant_cast(*v, &x);
        temp.set(x);
        break;
      }
      case OP_CAST_TO_DATE_IMPLICITLY: {
        date_st x;
        variant_cast(*v, &x);
        temp.set(x);
        break;
      }
      case OP_CAST_TO_DATETIME_IMPLICITLY: {
        datetime_st x;
        variant_cast(*v, &x);
        temp.set(x);
        break;
      }
      case OP_CAST_TO_STRING_IMPLICITLY: {
        String x;
        variant_cast(*v, &x);
        temp.set(x);
        break;
      }
      default:
        raise(11);  // 19 and 26 never convert
    }
  } catch (const std::overflow_error&) {
    raise(opcode == OP_CAST_TO_MONEY_IMPLICITLY ? 1988 : 39);
  }
  v->release(stack);
  move_into(v, &temp);
}

// 28.
void check_argument(VmStack* stack, uint8_t expected, int32_t flags) {
  const Variant* v = &stack->sp->value;
  if (v->tag != VT_REFERENCE) {
    if (flags & CHECK_ARG_BY_REFERENCE) raise(11);
  } else {
    if (!(flags & (CHECK_ARG_BY_REFERENCE | CHECK_ARG_MAY_BE_REFERENCE))) raise(11);
    v = v->reference.target;
  }
  if (v->tag == expected) return;
  if (v->tag == VT_NULL && (flags & CHECK_ARG_NULL_ALLOWED)) return;
  raise(11);
}

// 84: one record per operation in the frame's list.
void install_error_handler(VmStack* stack, const VmOpInstallErrorHandler* op) {
  VmFrame* f = stack->frame;
  if (f == nullptr) throw RuntimeError(1001, String("TRY outside a program"));
  for (handler_record_st* h = f->handlers; h != nullptr; h = h->next) {
    if (h->handler == op) return;
  }
  f->handlers = new handler_record_st{op, f->handlers};
}

// 45: returns true when the compiled command returned a value (the loop then leaves).
bool run_macro(VmStack* stack, const VmOp* const* position, Variant* result) {
  String text = variant_to_string(stack->sp->value);
  pop(stack);
  document_location_st location{};
  bool located = false;
  if (stack->frame != nullptr) {
    const DebugInfo* debug = stack->frame->program->debug_info();
    located = debug != nullptr && debug->location_of(position, &location);
    if (!located) raise(1206);
  }
  if (vm_macro_compiler == nullptr) throw RuntimeError(1001, String("macro substitution"));
  Program* program = vm_macro_compiler(stack, text, located ? &location : nullptr);
  struct Owner {
    Program* p;
    ~Owner() { delete p; }
  } owner{program};
  Variant temp;
  code_position inner = program->code();
  vm_execute_opcode(stack, inner, &temp);
  if (*inner != nullptr && (*inner)->opcode == OP_RETURN) {
    temp.release(stack);
    return false;
  }
  if (result->tag != VT_FALSE) result->release(stack);
  move_into(result, &temp);
  return true;
}

}  // namespace

Table_Object* get_current_table(VmStack* stack, const Variant* area, bool required) {
  QZ_TRACE;
  Table_Object* t = stack->bound_table;
  const DataSessionState* ds = stack->session_state;
  if (t == nullptr && ds != nullptr) {
    if (area == nullptr || area->tag == VT_NULL) {
      t = ds->current_table;
    } else {
      int32_t number = 0;
      const Variant* a = deref(const_cast<Variant*>(area));
      if (a->tag == VT_STRING) {
        symbol_id_type symbol = 0;
        if (stack->symtable != nullptr && stack->symtable->find(a->string, &symbol)) {
          auto it = ds->aliases.find(symbol);
          if (it != ds->aliases.end()) number = it->second;
        }
      } else {
        number = static_cast<int32_t>(variant_to_integer(*a).value);
      }
      auto w = ds->work_areas.find(number);
      if (w != ds->work_areas.end() && !w->second.empty() && vm_table_hooks.table_of != nullptr) {
        t = vm_table_hooks.table_of(w->second.get());
      }
    }
  }
  if (t == nullptr && required) raise(52);
  return t;
}

#define QZ_OP_LABELS(X)                                                                                   \
  X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7) X(8) X(9) X(10) X(11) X(12) X(13) X(14) X(15) X(16) X(17) X(18)  \
  X(19) X(20) X(21) X(22) X(23) X(24) X(25) X(26) X(27) X(28) X(29) X(30) X(31) X(32) X(33) X(34) X(35)   \
  X(36) X(37) X(38) X(39) X(40) X(41) X(42) X(43) X(44) X(45) X(46) X(47) X(48) X(49) X(50) X(51) X(52)   \
  X(53) X(54) X(55) X(56) X(57) X(58) X(59) X(60) X(61) X(62) X(63) X(64) X(65) X(66) X(67) X(68) X(69)   \
  X(70) X(71) X(72) X(73) X(74) X(75) X(76) X(77) X(78) X(79) X(80) X(81) X(82) X(83) X(84) X(85)   \
  X(86) X(87) X(88) X(89) X(90) X(91) X(92) X(93) X(94) X(95)

void vm_execute_opcode(VmStack* stack, code_position& ip, Variant* result, bool may_defer) {
  QZ_TRACE;
  // One entry for every value of the opcode byte, those past the last operation leading to the
  // broken-invariant check: the dispatch needs no range test of its own.
#define QZ_LABEL_ADDR(n) &&op_##n,
#define QZ_INVALID_1 &&op_invalid,
#define QZ_INVALID_2 QZ_INVALID_1 QZ_INVALID_1
#define QZ_INVALID_8 QZ_INVALID_2 QZ_INVALID_2 QZ_INVALID_2 QZ_INVALID_2
#define QZ_INVALID_32 QZ_INVALID_8 QZ_INVALID_8 QZ_INVALID_8 QZ_INVALID_8
  static const void* const dispatch[256] = {QZ_OP_LABELS(QZ_LABEL_ADDR) QZ_INVALID_32 QZ_INVALID_32 QZ_INVALID_32
                                                QZ_INVALID_32 QZ_INVALID_32};
  static_assert(kVmOpCountFused + 5 * 32 == 256, "one dispatch entry per opcode byte");
#undef QZ_INVALID_32
#undef QZ_INVALID_8
#undef QZ_INVALID_2
#undef QZ_INVALID_1
#undef QZ_LABEL_ADDR
  code_position pc = ip;
  // The body of the FOR loop whose step ran last (87): see there.
  code_position loop_body = nullptr;
  const VmOp* op;
  // Hands the position of the failing operation to the caller while an exception passes: a
  // cleanup instead of a catch and rethrow, which would start the unwinding over in every frame.
  // A command that threw leaves no deferral open behind it either.
  struct PositionOnUnwind {
    VmStack* stack;
    code_position& ip;
    const code_position* pc;
    ~PositionOnUnwind() {
      if (pc != nullptr) {
        ip = *pc;
        stack->error_deferral_top = nullptr;
      }
    }
  } on_unwind{stack, ip, &pc};

// Each operation dispatches the next itself: one indirect jump per operation site predicts far
// better than one shared jump.
#define DISPATCH()                                                                  \
  do {                                                                              \
    op = *pc;                                                                       \
    if (__builtin_expect(op == nullptr, 0)) broken();                               \
    goto* dispatch[op->opcode];                                                     \
  } while (0)
// The same where the operation is known to be there: fuse_operations checked it when it fused.
#define DISPATCH_PRESENT()        \
  do {                            \
    op = *pc;                     \
    goto* dispatch[op->opcode];   \
  } while (0)
#define NEXT() \
  do {         \
    ++pc;      \
    DISPATCH(); \
  } while (0)
#define JUMP_TO(T, o)                                                         \
  do {                                                                        \
    pc = reinterpret_cast<code_position>(static_cast<const T*>(o)->target);   \
    DISPATCH();                                                               \
  } while (0)
#define LEAVE()             \
  do {                      \
    on_unwind.pc = nullptr; \
    ip = pc;                \
    return;                 \
  } while (0)

  {
    DISPATCH();

  op_0: {  // VmOpUnwind
    VmFrame* f = stack->frame;
    if (f == nullptr) broken();
    stack->release_stack_to(stack->frame_local_base);
    on_unwind.pc = nullptr;
    ip = f->saved_position;
    return;
  }
  op_1:  // VmOpUnwindContinue
    stack->release_stack_to(stack->frame_local_base);
    NEXT();
  op_2: {  // VmOpBinaryAdd
    Memvar* sp = stack->sp;
    Variant* left = &sp[1].value;
    Variant* right = &sp[0].value;
    int64_t sum;
    if (left->tag == VT_INTEGER && right->tag == VT_INTEGER &&
        !__builtin_add_overflow(left->integer.value, right->integer.value, &sum)) {
      left->integer.value = sum;
      pop_plain(stack);
      NEXT();
    }
    variant_add(left, right);
    pop(stack);
    NEXT();
  }
  op_3: {  // VmOpBinarySub
    Memvar* sp = stack->sp;
    Variant* left = &sp[1].value;
    Variant* right = &sp[0].value;
    int64_t difference;
    if (left->tag == VT_INTEGER && right->tag == VT_INTEGER &&
        !__builtin_sub_overflow(left->integer.value, right->integer.value, &difference)) {
      left->integer.value = difference;
      pop_plain(stack);
      NEXT();
    }
    binary_arith(stack, op->opcode);
    NEXT();
  }
  op_4:
  op_5:
  op_6:
    binary_arith(stack, op->opcode);
    NEXT();
  op_7:
    binary_mod(stack);
    NEXT();
  op_8:
  op_9:
  op_10:
  op_11:
  op_12:
  op_13:
  op_14: {
    Memvar* sp = stack->sp;
    Variant* left = &sp[1].value;
    Variant* right = &sp[0].value;
    if (left->tag == VT_INTEGER && right->tag == VT_INTEGER) {
      left->tag = int_cmp_result(op->opcode, left->integer.value, right->integer.value) ? VT_TRUE : VT_FALSE;
      pop_plain(stack);
      NEXT();
    }
    binary_cmp(stack, op->opcode);
    NEXT();
  }
  op_15: {  // VmOpCallSpecUser: call_user_function without a call of its own
    auto* o = static_cast<const VmOpCallSpecUser*>(op);
    ip = pc;
    size_t n = o->count;
    stack->last_call_nargs = n;
    stack->caller_takes_interrupt = may_defer;
    execute_program(stack, n, false, o->function->program(), &stack->sp[n].value);
    // An interrupt the callee handed back: this frame takes it here, its arguments still pushed as
    // when it is thrown.
    if (__builtin_expect(stack->deferred != VmStack::Deferred::none, 0)) LEAVE();
    for (; n != 0; --n) pop(stack);
    NEXT();
  }
  op_16: {  // VmOpCallSpecDynamic
    auto* o = static_cast<const VmOpCallSpecDynamic*>(op);
    ip = pc;
    call_dynamic(stack, o->symbol, o->count);
    NEXT();
  }
  op_17: {  // VmOpCallSpecDo
    auto* o = static_cast<const VmOpCallSpecDo*>(op);
    ip = pc;
    call_native_function(stack, o->function, o->count);
    NEXT();
  }
  op_18: {  // VmOpCallSpecVoid
    auto* o = static_cast<const VmOpCallSpecVoid*>(op);
    ip = pc;
    if (!may_defer) {
      call_native_command(stack, o->function, o->count);
      NEXT();
    }
    Memvar* saved = stack->error_deferral_top;
    stack->error_deferral_top = stack->sp + o->count;
    call_native_command(stack, o->function, o->count);
    stack->error_deferral_top = saved;
    // The caller takes an error or THROW handed back here.
    if (__builtin_expect(stack->deferred != VmStack::Deferred::none, 0)) LEAVE();
    NEXT();
  }
  op_19:
  op_20:
  op_21:
  op_22:
  op_23:
  op_24:
  op_25:
  op_26:
    implicit_cast(stack, op->opcode, cast_allows_null(op));
    NEXT();
  op_27:  // VmOpCastToNotNull
    if (stack->sp->value.tag == VT_NULL) raise(11);
    NEXT();
  op_28: {  // VmOpCheckArgument
    auto* o = static_cast<const VmOpCheckArgument*>(op);
    check_argument(stack, o->expected_tag, o->flags);
    NEXT();
  }
  op_29: {  // VmOpCondTrueJump: pops in both cases
    uint8_t tag = stack->sp->value.tag;
    if (tag > VT_TRUE) raise(11);
    pop_plain(stack);
    if (tag == VT_TRUE) JUMP_TO(VmOpCondTrueJump, op);
    NEXT();
  }
  op_30: {  // VmOpCondTrueJumpKeepEsp
    uint8_t tag = stack->sp->value.tag;
    if (tag > VT_TRUE) raise(11);
    if (tag == VT_TRUE) JUMP_TO(VmOpCondTrueJumpKeepEsp, op);
    NEXT();
  }
  op_31: {  // VmOpCondFalseOrNullJump: pops in both cases
    uint8_t tag = stack->sp->value.tag;
    if (tag > VT_TRUE) raise(11);
    pop_plain(stack);
    if (tag != VT_TRUE) JUMP_TO(VmOpCondFalseOrNullJump, op);
    NEXT();
  }
  op_32: {  // VmOpCondFalseOrNullJumpKeepEsp
    uint8_t tag = stack->sp->value.tag;
    if (tag > VT_TRUE) raise(11);
    if (tag != VT_TRUE) JUMP_TO(VmOpCondFalseOrNullJumpKeepEsp, op);
    pop_plain(stack);
    NEXT();
  }
  op_33: {  // VmOpCondTrueOrNullMerge2P
    Memvar* sp = stack->sp;
    Variant* b = &sp[0].value;
    Variant* a = &sp[1].value;
    if (!(a->tag == VT_NULL && b->tag == VT_FALSE)) {
      a->release(stack);
      b->copy(a);
    }
    pop(stack);
    NEXT();
  }
  op_34: {  // VmOpReadMemvarPointerByNameDefault
    Memvar* m;
    stack->alloc_undefined_memvar(static_cast<const VmOpReadMemvarPointerByNameDefault*>(op)->symbol, &m);
    Memvar* slot = push(stack);
    m->value.ref(stack, &slot->value, nullptr);
    NEXT();
  }
  op_35:  // VmOpDefLocal
    stack->declare_local(static_cast<const VmOpDefLocal*>(op)->symbol);
    NEXT();
  op_36: {  // VmOpDefLocalOffset
    auto* o = static_cast<const VmOpDefLocalOffset*>(op);
    stack->declare_local_offset(o->offset, o->symbol);
    NEXT();
  }
  op_37:  // VmOpDefPrivateSymbol
    stack->declare_private(static_cast<const VmOpDefPrivateSymbol*>(op)->symbol);
    NEXT();
  op_38: {  // VmOpDefPublicOffset
    auto* o = static_cast<const VmOpDefPublicOffset*>(op);
    stack->declare_public(o->offset, o->symbol);
    NEXT();
  }
  op_39:  // VmOpEspAlloc
    push(stack);
    NEXT();
  op_40:  // VmOpEspFree
    pop(stack);
    NEXT();
  op_41: {  // VmOpForCondFalseJump
    Memvar* sp = stack->sp;
    if (sp[0].value.tag == VT_INTEGER && sp[1].value.tag == VT_INTEGER && sp[2].value.tag == VT_INTEGER) {
      int64_t a = sp[0].value.integer.value, b = sp[1].value.integer.value, st = sp[2].value.integer.value;
      int c = (a > b) - (a < b);
      int s = (st > 0) - (st < 0);
      sp[0].value.tag = sp[1].value.tag = sp[2].value.tag = VT_FALSE;
      sp[0].flag = sp[1].flag = sp[2].flag = MEMVAR_NONE;
      stack->sp = sp + 3;
      if (c != s) NEXT();
      JUMP_TO(VmOpForCondFalseJump, op);
    }
    if (for_continues(stack)) NEXT();
    JUMP_TO(VmOpForCondFalseJump, op);
  }
  op_42: {  // VmOpInitLocalParameters
    uint64_t count = static_cast<const VmOpInitLocalParameters*>(op)->count;
    if (count == 1 && stack->frame_arg_top[-1].flag == MEMVAR_NONE) {  // the common case inline
      stack->frame_arg_top[-1].flag = MEMVAR_LOCAL;
      stack->bindings_changed();
      NEXT();
    }
    stack->init_local_parameters(count);
    NEXT();
  }
  op_43: {  // VmOpInitParameter
    auto* o = static_cast<const VmOpInitParameter*>(op);
    stack->init_parameter(o->offset, o->symbol);
    NEXT();
  }
  op_44:  // VmOpJump
    JUMP_TO(VmOpJump, op);
  op_45: {  // VmOpMacro
    ip = pc;
    if (run_macro(stack, pc, result)) LEAVE();
    NEXT();
  }
  op_46: {  // VmOpObjectCall
    auto* o = static_cast<const VmOpObjectCall*>(op);
    ip = pc;
    object_call(stack, o->symbol, o->count);
    NEXT();
  }
  op_47: {  // VmOpObjectCallPointer
    auto* o = static_cast<const VmOpObjectCallPointer*>(op);
    ip = pc;
    object_call_pointer(stack, o->symbol, o->count);
    NEXT();
  }
  op_48:  // VmOpReturnValue
    return_top(stack, result);
    LEAVE();
  op_49: {  // VmOpReturnPointer
    if (stack->sp->value.tag != VT_REFERENCE) broken();
    return_top(stack, result);  // the same target and owner
    LEAVE();
  }
  op_50:  // VmOpReturn
    if (result->tag != VT_FALSE) result->release(stack);
    result->tag = VT_TRUE;
    LEAVE();
  op_51:  // VmOpReadByName
    read_by_name(stack, op, static_cast<const VmOpReadByName*>(op)->symbol);
    NEXT();
  op_52: {  // VmOpReadMemvarByName
    Memvar* m = named_memvar(stack, static_cast<const VmOpReadMemvarByName*>(op)->symbol);
    Memvar* slot = push(stack);
    m->value.copy(&slot->value);
    NEXT();
  }
  op_53: {  // VmOpReadMemvarByNameDefault
    Memvar* m;
    bool found = stack->get_memvar(static_cast<const VmOpReadMemvarByNameDefault*>(op)->symbol, &m);
    Memvar* slot = push(stack);
    if (found) m->value.copy(&slot->value);
    NEXT();
  }
  op_54:  // VmOpReadFileObjectOrMemvarByName
    read_file_object_or_memvar(stack, static_cast<const VmOpReadFileObjectOrMemvarByName*>(op)->symbol);
    NEXT();
  op_55: {  // VmOpReadLocalMemvarByOffset
    Memvar* m = defined_local(stack, static_cast<const VmOpReadLocalMemvarByOffset*>(op)->offset);
    Memvar* slot = push(stack);
    m->value.copy(&slot->value);
    NEXT();
  }
  op_56: {  // VmOpReadArrayItemByName
    auto* o = static_cast<const VmOpReadArrayItemByName*>(op);
    Memvar* m = named_memvar(stack, o->symbol);
    Variant* container = deref(&m->value);
    Memvar* sp = stack->sp;
    if (size_t n = inline_element(container, o->count, sp)) {  // the common case inline, as in 57
      Variant* out = &sp[o->count].value;
      if (out->tag != VT_FALSE) out->release(stack);
      container->array.block()->items[n - 1].copy(out);
      for (uint64_t i = 0; i < o->count; ++i) pop_plain(stack);
      NEXT();
    }
    ip = pc;
    read_array_item(stack, o->count, container, &sp[o->count].value);
    for (uint64_t i = 0; i < o->count; ++i) pop(stack);
    NEXT();
  }
  op_57: {  // VmOpReadMemvarIndexLocal
    auto* o = static_cast<const VmOpReadMemvarIndexLocal*>(op);
    Memvar* m = defined_local(stack, o->offset);
    Variant* container = deref(&m->value);
    Memvar* sp = stack->sp;
    if (size_t n = inline_element(container, o->count, sp)) {  // the common case inline
      Variant* out = &sp[o->count].value;
      if (out->tag != VT_FALSE) out->release(stack);
      container->array.block()->items[n - 1].copy(out);
      for (uint64_t i = 0; i < o->count; ++i) pop_plain(stack);
      NEXT();
    }
    ip = pc;
    read_array_item(stack, o->count, container, &sp[o->count].value);
    for (uint64_t i = 0; i < o->count; ++i) pop(stack);
    NEXT();
  }
  op_58:  // VmOpReadConstTrue
    push(stack)->value.tag = VT_TRUE;
    NEXT();
  op_59:  // VmOpReadConstFalse
    push(stack);
    NEXT();
  op_60: {  // VmOpReadConstInteger
    Memvar* slot = push(stack);
    slot->value.integer.value = static_cast<const VmOpReadConstInteger*>(op)->value;
    slot->value.tag = VT_INTEGER;
    NEXT();
  }
  op_61: {  // VmOpReadConstNumeric
    Memvar* slot = push(stack);
    slot->value.numeric = static_cast<const VmOpReadConstNumeric*>(op)->value;
    slot->value.tag = VT_NUMERIC;
    NEXT();
  }
  op_62: {  // VmOpReadConstMoney
    Memvar* slot = push(stack);
    slot->value.money = static_cast<const VmOpReadConstMoney*>(op)->value;
    slot->value.tag = VT_MONEY;
    NEXT();
  }
  op_63: {  // VmOpReadConstString: shares the constant's buffer
    Memvar* slot = push(stack);
    slot->value.set_string(static_cast<const VmOpReadConstString*>(op)->value);
    NEXT();
  }
  op_64: {  // VmOpReadConstDate
    Memvar* slot = push(stack);
    slot->value.date = static_cast<const VmOpReadConstDate*>(op)->value;
    slot->value.tag = VT_DATE;
    NEXT();
  }
  op_65: {  // VmOpReadConstDatetime
    Memvar* slot = push(stack);
    slot->value.datetime = static_cast<const VmOpReadConstDatetime*>(op)->value;
    slot->value.tag = VT_DATETIME;
    NEXT();
  }
  op_66:  // VmOpReadConstNull
    push(stack)->value.tag = VT_NULL;
    NEXT();
  op_67:
  op_83:  // never executed: no class, or a call the linker did not resolve
    broken();
  op_68: {  // VmOpObjectReadProperty
    auto* o = static_cast<const VmOpObjectReadProperty*>(op);
    ip = pc;
    object_read_property(stack, o->symbol, o->count);
    NEXT();
  }
  op_69: {  // VmOpObjectReadPropertyPointer
    auto* o = static_cast<const VmOpObjectReadPropertyPointer*>(op);
    ip = pc;
    object_read_property_pointer(stack, o->symbol, o->count);
    NEXT();
  }
  op_70: {  // VmOpReadMemvarPointerByName
    Memvar* m = named_memvar(stack, static_cast<const VmOpReadMemvarPointerByName*>(op)->symbol);
    Memvar* slot = push(stack);
    m->value.ref(stack, &slot->value, nullptr);
    NEXT();
  }
  op_71: {  // VmOpReadLocalMemvarPointerByOffset
    Memvar* m = defined_local(stack, static_cast<const VmOpReadLocalMemvarPointerByOffset*>(op)->offset);
    Memvar* slot = push(stack);
    m->value.ref(stack, &slot->value, nullptr);
    NEXT();
  }
  op_72: {  // VmOpReadAddWrite
    Memvar* m = named_memvar(stack, static_cast<const VmOpReadAddWrite*>(op)->symbol);
    inline_variant_add(deref(&m->value), &stack->sp->value);
    pop(stack);
    NEXT();
  }
  op_73: {  // VmOpReadAddWriteLocal
    Memvar* m = defined_local(stack, static_cast<const VmOpReadAddWriteLocal*>(op)->offset);
    Variant* target = deref(&m->value);
    Variant* v = &stack->sp->value;
    int64_t sum;
    if (target->tag == VT_INTEGER && v->tag == VT_INTEGER &&
        !__builtin_add_overflow(target->integer.value, v->integer.value, &sum)) {
      target->integer.value = sum;
      pop_plain(stack);
      NEXT();
    }
    variant_add(target, v);
    pop(stack);
    NEXT();
  }
  op_74: {  // VmOpStore
    Memvar* sp = stack->sp;
    sp[1].value.store_recursive(stack, &sp[0].value);
    pop(stack);
    NEXT();
  }
  op_75: {  // VmOpUnaryNot
    Variant* v = &stack->sp->value;
    if (v->tag == VT_TRUE) {
      v->tag = VT_FALSE;
    } else if (v->tag == VT_FALSE) {
      v->tag = VT_TRUE;
    } else if (v->tag != VT_NULL) {
      raise(11);
    }
    NEXT();
  }
  op_76:
    unary_neg(stack);
    NEXT();
  op_77:  // VmOpTestTextmergeOn
    push(stack)->value.tag = static_cast<uint8_t>(stack->textmerge_on ? VT_TRUE : VT_FALSE);
    NEXT();
  op_78: {  // VmOpWriteMemarByName
    Memvar* m;
    stack->alloc_undefined_memvar(static_cast<const VmOpWriteMemarByName*>(op)->symbol, &m);
    assign_top(stack, deref(&m->value));
    NEXT();
  }
  op_79: {  // VmOpWriteMemvarByOffset
    Memvar* m = defined_local(stack, static_cast<const VmOpWriteMemvarByOffset*>(op)->offset);
    Variant* target = deref(&m->value);
    Variant* v = &stack->sp->value;
    if (target->tag < VT_STRING && v->tag < VT_STRING) {  // plain values: a copy of the five words
      target->raw_[0] = v->raw_[0];
      target->raw_[1] = v->raw_[1];
      target->tag = v->tag;
      pop_plain(stack);
      NEXT();
    }
    assign_top(stack, target);
    NEXT();
  }
  op_80: {  // VmOpWriteArrayByName
    auto* o = static_cast<const VmOpWriteArrayByName*>(op);
    Memvar* m = named_memvar(stack, o->symbol);
    Variant* container = deref(&m->value);
    Memvar* sp = stack->sp;
    if (size_t n = inline_element(container, o->count, sp)) {  // the common case inline, as in 81
      Variant* element = array_plain_item_for_write(container->array, n);
      if (element != nullptr && sp[o->count].value.tag != VT_REFERENCE) {
        move_into(element, &sp[o->count].value);
        for (uint64_t i = 0; i <= o->count; ++i) pop_plain(stack);
        NEXT();
      }
    }
    ip = pc;
    write_array_item(stack, o->count + 1, container);
    for (uint64_t i = 0; i <= o->count; ++i) pop(stack);
    NEXT();
  }
  op_81: {  // VmOpWriteArrayByOffset
    auto* o = static_cast<const VmOpWriteArrayByOffset*>(op);
    Memvar* m = defined_local(stack, o->offset);
    ip = pc;
    Variant* container = deref(&m->value);
    Memvar* sp = stack->sp;
    if (size_t n = inline_element(container, o->count, sp)) {
      // The common case inline: integer indexes within an unshared block whose element holds a
      // plain value; the value moves from the stack into it.
      Variant* element = array_plain_item_for_write(container->array, n);
      if (element != nullptr && sp[o->count].value.tag != VT_REFERENCE) {
        move_into(element, &sp[o->count].value);
        for (uint64_t i = 0; i <= o->count; ++i) pop_plain(stack);
        NEXT();
      }
    }
    write_array_item(stack, o->count + 1, container);
    for (uint64_t i = 0; i <= o->count; ++i) pop(stack);
    NEXT();
  }
  op_82: {  // VmOpObjectWriteProperty
    auto* o = static_cast<const VmOpObjectWriteProperty*>(op);
    ip = pc;
    object_write_property(stack, o->symbol, o->count);
    NEXT();
  }
  op_84:  // VmOpInstallErrorHandler
    install_error_handler(stack, static_cast<const VmOpInstallErrorHandler*>(op));
    NEXT();
  op_85:  // VmOpReadFieldByFieldNum
    read_field_by_num(stack, static_cast<const VmOpReadFieldByFieldNum*>(op)->field);
    NEXT();
  op_86: {  // fused FOR test: 55 (step), 55 (limit), 55 (counter), 41; aux: the limit's and the
            // counter's slots in bytes, limit | counter << 16
    Memvar* base = stack->frame_arg_top;
    const Memvar* step = base - static_cast<const VmOpReadLocalMemvarByOffset*>(op)->offset;
    const Memvar* limit = slot_below(base, op->aux & 0xFFFF);
    const Memvar* var = slot_below(base, op->aux >> 16);
    if (step->flag == MEMVAR_LOCAL && limit->flag == MEMVAR_LOCAL && var->flag == MEMVAR_LOCAL &&
        step->value.tag == VT_INTEGER && var->value.tag == VT_INTEGER) {
      int ends = for_ends(var->value.integer.value, step->value.integer.value, &limit->value);
      if (ends > 0) JUMP_TO(VmOpForCondFalseJump, pc[3]);
      if (ends == 0) {
        pc += 4;
        DISPATCH();
      }
    }
    goto op_55;  // anything else: the operations one by one
  }
  op_87: {  // fused FOR step: 55 (step), 73 (counter), 44; aux: the counter's slot in bytes, and
            // above it the limit's when the jump leads to the fused test of the same step and counter
            // and the step's slot is the one past the limit's
    Memvar* base = stack->frame_arg_top;
    Memvar* var = slot_below(base, op->aux & 0xFFFF);
    if (op->aux >> 16) {  // the whole step and test on the three slots
      const Memvar* limit = slot_below(base, op->aux >> 16);
      const Memvar* step = limit - 1;
      int64_t sum;
      if (step->flag == MEMVAR_LOCAL && var->flag == MEMVAR_LOCAL && limit->flag == MEMVAR_LOCAL &&
          step->value.tag == VT_INTEGER && var->value.tag == VT_INTEGER &&
          !__builtin_add_overflow(var->value.integer.value, step->value.integer.value, &sum)) {
        int ends = for_ends(sum, step->value.integer.value, &limit->value);
        if (ends >= 0) {
          var->value.integer.value = sum;
          code_position test = reinterpret_cast<code_position>(static_cast<const VmOpJump*>(pc[2])->target);
          if (ends > 0) JUMP_TO(VmOpForCondFalseJump, test[3]);
          // Back to the body. The body's position, when it is the one kept from the last step,
          // comes from that copy: the loads of the jump's target then only confirm it, and the
          // next operation need not wait for them. Compared through a difference the compiler
          // cannot see into, so that it keeps the copy instead of putting the loaded value in its
          // place, and with a branch, not a conditional move that would wait for both.
          code_position body = test + 4;
          uintptr_t difference = reinterpret_cast<uintptr_t>(body) - reinterpret_cast<uintptr_t>(loop_body);
          asm("" : "+r"(difference));
          if (__builtin_expect(difference == 0, 1)) {
            pc = loop_body;
          } else {
            asm volatile("");
            pc = loop_body = body;
          }
          DISPATCH_PRESENT();
        }
      }
    }
    const Memvar* step = base - static_cast<const VmOpReadLocalMemvarByOffset*>(op)->offset;
    int64_t sum;
    if (step->flag == MEMVAR_LOCAL && var->flag == MEMVAR_LOCAL && step->value.tag == VT_INTEGER &&
        var->value.tag == VT_INTEGER &&
        !__builtin_add_overflow(var->value.integer.value, step->value.integer.value, &sum)) {
      var->value.integer.value = sum;
      pc = reinterpret_cast<code_position>(static_cast<const VmOpJump*>(pc[2])->target);
      op = *pc;
      if (op != nullptr && op->opcode == OP_FUSED_FOR_TEST) goto op_86;  // the loop's test, without a dispatch
      DISPATCH();
    }
    goto op_55;
  }
  op_88: {  // fused read of a LOCAL by name: a field of the table would hide it; aux: the slot in bytes
    if (no_table_hides_names(stack)) {
      const Memvar* m = slot_below(stack->frame_arg_top, op->aux & 0xFFFF);
      if (m->flag == MEMVAR_LOCAL) {
        Memvar* slot = push(stack);
        if (m->value.tag < VT_STRING) {  // plain values: the words that hold them, no count to take
          slot->value.raw_[0] = m->value.raw_[0];
          slot->value.raw_[1] = m->value.raw_[1];
          slot->value.tag = m->value.tag;
          NEXT();
        }
        m->value.copy(&slot->value);
        NEXT();
      }
    }
    goto op_51;
  }
  op_invalid:
    broken();
  op_89: {  // fused 88 and 73: s = s + i on two LOCAL integers; aux: the slots in bytes, the one
            // read | the one of 73 << 16
    if (no_table_hides_names(stack)) {
      Memvar* base = stack->frame_arg_top;
      const Memvar* m = slot_below(base, op->aux & 0xFFFF);
      Memvar* target = slot_below(base, op->aux >> 16);
      int64_t sum;
      if (m->flag == MEMVAR_LOCAL && target->flag == MEMVAR_LOCAL && m->value.tag == VT_INTEGER &&
          target->value.tag == VT_INTEGER &&
          !__builtin_add_overflow(target->value.integer.value, m->value.integer.value, &sum)) {
        target->value.integer.value = sum;
        pc += 2;
        DISPATCH_PRESENT();
      }
    }
    goto op_88;
  }
  op_90: {  // fused 60 and 2 or 3: the constant into the integer on top
    Variant* top = &stack->sp->value;
    int64_t k = static_cast<const VmOpReadConstInteger*>(op)->value;
    int64_t r;
    if (top->tag == VT_INTEGER &&
        !(op->aux == OP_BINARY_ADD ? __builtin_add_overflow(top->integer.value, k, &r)
                                   : __builtin_sub_overflow(top->integer.value, k, &r))) {
      top->integer.value = r;
      pc += 2;
      DISPATCH();
    }
    goto op_60;
  }
  op_91: {  // fused comparison and 31: two integers compared and the jump taken, nothing pushed
    Memvar* sp = stack->sp;
    if (sp[0].value.tag == VT_INTEGER && sp[1].value.tag == VT_INTEGER) {
      bool r = int_cmp_result(op->aux, sp[1].value.integer.value, sp[0].value.integer.value);
      sp[0].value.tag = sp[1].value.tag = VT_FALSE;
      sp[0].flag = sp[1].flag = MEMVAR_NONE;
      stack->sp = sp + 2;
      if (!r) JUMP_TO(VmOpCondFalseOrNullJump, pc[1]);
      pc += 2;
      DISPATCH();
    }
    binary_cmp(stack, op->aux);  // then 31 as compiled
    NEXT();
  }
  op_93: {  // fused 39, 88 and 57: a[i] pushed (or added into a LOCAL integer when 73 follows)
    if (no_table_hides_names(stack)) {
      Memvar* base = stack->frame_arg_top;
      uint32_t aux = op->aux;
      const Memvar* index = base - aux_slot(aux, 0);
      const Memvar* array = base - aux_slot(aux, 1);
      if (index->flag == MEMVAR_LOCAL && array->flag == MEMVAR_LOCAL && index->value.tag == VT_INTEGER) {
        const Variant* container = deref(&array->value);
        size_t n = static_cast<size_t>(index->value.integer.value);
        if (container->tag == VT_ARRAY && n - 1 < container->array.count()) {
          const Variant* item = container->array.block()->items + (n - 1);
          if (aux >> 30) {
            Memvar* sum_slot = base - aux_slot(aux, 2);
            if (sum_slot->flag == MEMVAR_LOCAL && item->tag == VT_INTEGER) {
              Variant* target = deref(&sum_slot->value);
              int64_t sum;
              if (target->tag == VT_INTEGER && !__builtin_add_overflow(target->integer.value, item->integer.value, &sum)) {
                target->integer.value = sum;
                pc += 4;
                DISPATCH();
              }
            }
          }
          item->copy(&push(stack)->value);
          pc += 3;  // to the 73 when it follows
          DISPATCH();
        }
      }
    }
    goto op_39;  // the operations one by one
  }
  op_94: {  // fused 88 and 81: the value on top stored into a[i]
    if (no_table_hides_names(stack)) {
      Memvar* base = stack->frame_arg_top;
      const Memvar* index = base - aux_slot(op->aux, 0);
      Memvar* array = base - aux_slot(op->aux, 1);
      Memvar* top = stack->sp;
      if (index->flag == MEMVAR_LOCAL && array->flag == MEMVAR_LOCAL && index->value.tag == VT_INTEGER &&
          top->value.tag != VT_REFERENCE) {
        Variant* container = deref(&array->value);
        if (container->tag == VT_ARRAY) {
          Variant* element = array_plain_item_for_write(container->array, static_cast<size_t>(index->value.integer.value));
          if (element != nullptr) {
            move_into(element, &top->value);
            top->flag = MEMVAR_NONE;
            stack->sp = top + 1;
            pc += 2;
            DISPATCH();
          }
        }
      }
    }
    goto read_local_in_aux_slot0;
  }
  op_95: {  // fused 88 and 94: a LOCAL's plain value stored into a[i]
    if (no_table_hides_names(stack)) {
      Memvar* base = stack->frame_arg_top;
      const Memvar* value = base - aux_slot(op->aux, 0);
      const Memvar* index = base - aux_slot(op->aux, 1);
      Memvar* array = base - aux_slot(op->aux, 2);
      if (value->flag == MEMVAR_LOCAL && index->flag == MEMVAR_LOCAL && array->flag == MEMVAR_LOCAL &&
          value->value.tag < VT_STRING && index->value.tag == VT_INTEGER) {
        Variant* container = deref(&array->value);
        if (container->tag == VT_ARRAY) {
          Variant* element = array_plain_item_for_write(container->array, static_cast<size_t>(index->value.integer.value));
          if (element != nullptr) {
            element->raw_[0] = value->value.raw_[0];
            element->raw_[1] = value->value.raw_[1];
            element->tag = value->value.tag;
            pc += 3;
            DISPATCH();
          }
        }
      }
    }
    goto read_local_in_aux_slot0;
  }
  read_local_in_aux_slot0: {  // 88 for 94 and 95, whose aux holds more than the slot
    if (no_table_hides_names(stack)) {
      const Memvar* m = stack->frame_arg_top - aux_slot(op->aux, 0);
      if (m->flag == MEMVAR_LOCAL) {
        Memvar* slot = push(stack);
        m->value.copy(&slot->value);
        NEXT();
      }
    }
    goto op_51;
  }
  op_92: {  // fused 60, comparison and 31: the integer on top compared with the constant
    Memvar* sp = stack->sp;
    if (sp->value.tag == VT_INTEGER) {
      bool r = int_cmp_result(op->aux, sp->value.integer.value, static_cast<const VmOpReadConstInteger*>(op)->value);
      sp->value.tag = VT_FALSE;
      sp->flag = MEMVAR_NONE;
      stack->sp = sp + 1;
      if (!r) JUMP_TO(VmOpCondFalseOrNullJump, pc[2]);
      pc += 3;
      DISPATCH();
    }
    goto op_60;
  }
  }
#undef DISPATCH
#undef DISPATCH_PRESENT
#undef NEXT
#undef JUMP_TO
#undef LEAVE
}

namespace {

// The element reads and writes of one integer index whose index is a LOCAL read by name (after
// the 51 -> 88 pass, whose operations name the slot through their symbol). The slots must fit
// aux's 10-bit fields.
void fuse_array_operations(VmOp** code, size_t n, const local_offset_map& offsets) {
  auto is = [&](size_t i, unsigned opcode) { return i < n && code[i]->opcode == opcode; };
  auto fits = [](uint64_t slot) { return slot != 0 && slot <= 0x3FF; };
  auto slot_read_at = [&](size_t i) -> uint32_t {  // the slot of the 88 at i, 0 when none fits
    auto it = offsets.find(static_cast<const VmOpReadByName*>(code[i])->symbol);
    return it != offsets.end() && fits(it->second) ? static_cast<uint32_t>(it->second) : 0;
  };
  for (size_t i = 0; i < n; ++i) {
    if (is(i, OP_ESP_ALLOC) && is(i + 1, OP_FUSED_READ_LOCAL_BY_NAME) && is(i + 2, OP_READ_MEMVAR_INDEX_LOCAL)) {
      auto* read = static_cast<const VmOpReadMemvarIndexLocal*>(code[i + 2]);
      uint32_t index = slot_read_at(i + 1);
      if (read->count != 1 || !fits(index) || !fits(read->offset)) continue;
      uint32_t aux = index | static_cast<uint32_t>(read->offset) << 10;
      if (is(i + 3, OP_READ_ADD_WRITE_LOCAL)) {
        offset_type sum = static_cast<const VmOpReadAddWriteLocal*>(code[i + 3])->offset;
        if (fits(sum)) aux |= static_cast<uint32_t>(sum) << 20 | 1u << 30;
      }
      if (!unshare_op(&code[i])) continue;
      code[i]->aux = aux;
      code[i]->opcode = OP_FUSED_READ_ITEM_LOCAL_INDEX;
    } else if (is(i, OP_FUSED_READ_LOCAL_BY_NAME) && is(i + 1, OP_WRITE_ARRAY_BY_OFFSET)) {
      auto* write = static_cast<const VmOpWriteArrayByOffset*>(code[i + 1]);
      uint32_t index = slot_read_at(i);
      if (write->count != 1 || !fits(index) || !fits(write->offset) || !unshare_op(&code[i])) continue;
      code[i]->aux = index | static_cast<uint32_t>(write->offset) << 10;
      code[i]->opcode = OP_FUSED_WRITE_ITEM_LOCAL_INDEX;
      // The value read just before, from a LOCAL by name too.
      uint32_t value = i > 0 && code[i - 1]->opcode == OP_FUSED_READ_LOCAL_BY_NAME ? slot_read_at(i - 1) : 0;
      if (value != 0 && unshare_op(&code[i - 1])) {
        code[i - 1]->aux = value | code[i]->aux << 10;
        code[i - 1]->opcode = OP_FUSED_WRITE_LOCAL_ITEM_LOCAL_INDEX;
      }
    }
  }
}

}  // namespace

void fuse_operations(Program* program) {
  QZ_TRACE;
  VmOp** code = program->mutable_code();
  size_t n = program->code_length();
  if (code == nullptr) return;
  auto is = [&](size_t i, unsigned opcode) { return i < n && code[i]->opcode == opcode; };
  // The fused operations keep the slots they reach besides their own in aux, in bytes below the
  // frame's top, 16 bits each: slots up to fused_slot_limit, as a frame's LOCALs nearly always are.
  constexpr offset_type fused_slot_limit = 0xFFFF / sizeof(Memvar);
  auto bytes = [](offset_type offset) { return static_cast<uint32_t>(offset * sizeof(Memvar)); };
  auto fits = [&](offset_type offset) { return offset != 0 && offset <= fused_slot_limit; };
  auto offset_at = [&](size_t i) { return static_cast<const VmOpOffset<OP_READ_LOCAL_MEMVAR_BY_OFFSET>*>(code[i])->offset; };
  auto add_offset_at = [&](size_t i) { return static_cast<const VmOpReadAddWriteLocal*>(code[i])->offset; };
  for (size_t i = 0; i < n; ++i) {
    if (!is(i, OP_READ_LOCAL_MEMVAR_BY_OFFSET)) continue;
    if (is(i + 1, OP_READ_LOCAL_MEMVAR_BY_OFFSET) && is(i + 2, OP_READ_LOCAL_MEMVAR_BY_OFFSET) &&
        is(i + 3, OP_FOR_COND_FALSE_JUMP)) {
      if (!fits(offset_at(i + 1)) || !fits(offset_at(i + 2)) || !unshare_op(&code[i])) continue;
      code[i]->aux = bytes(offset_at(i + 1)) | bytes(offset_at(i + 2)) << 16;
      code[i]->opcode = OP_FUSED_FOR_TEST;
    } else if (is(i + 1, OP_READ_ADD_WRITE_LOCAL) && is(i + 2, OP_JUMP)) {
      if (!fits(add_offset_at(i + 1)) || !unshare_op(&code[i])) continue;
      code[i]->aux = bytes(add_offset_at(i + 1));
      code[i]->opcode = OP_FUSED_FOR_STEP;
      code_position target = static_cast<const VmOpJump*>(code[i + 2])->target_position();
      const VmOp* test = target != nullptr ? *target : nullptr;
      // The step does the test too where the test's successor (the loop's body, else this step) is
      // where it goes on, and the step's slot is the one past the limit's, as FOR lays them out.
      bool test_inside = target >= code && target + 4 < code + n;
      if (test_inside && test != nullptr && test->opcode == OP_FUSED_FOR_TEST &&
          static_cast<const VmOpReadLocalMemvarByOffset*>(test)->offset == offset_at(i) &&
          (test->aux >> 16) == bytes(add_offset_at(i + 1)) && fits(offset_at(i)) &&
          bytes(offset_at(i)) == (test->aux & 0xFFFF) + sizeof(Memvar)) {
        code[i]->aux |= (test->aux & 0xFFFF) << 16;  // the limit's slot
      }
    }
  }
  auto is_cmp = [](unsigned opcode) { return opcode >= OP_BINARY_EQ && opcode <= OP_BINARY_EQ_EQ; };
  for (size_t i = 0; i + 1 < n; ++i) {
    unsigned next = code[i + 1]->opcode;
    bool constant = code[i]->opcode == OP_READ_CONST_INTEGER;
    bool fusable = (constant && is_cmp(next) && is(i + 2, OP_COND_FALSE_OR_NULL_JUMP)) ||
                   (constant && (next == OP_BINARY_ADD || next == OP_BINARY_SUB)) ||
                   (is_cmp(code[i]->opcode) && next == OP_COND_FALSE_OR_NULL_JUMP);
    if (!fusable || !unshare_op(&code[i])) continue;
    if (code[i]->opcode == OP_READ_CONST_INTEGER && is_cmp(next) && is(i + 2, OP_COND_FALSE_OR_NULL_JUMP)) {
      code[i]->aux = next;
      code[i]->opcode = OP_FUSED_CONST_CMP_JUMP;
    } else if (code[i]->opcode == OP_READ_CONST_INTEGER && (next == OP_BINARY_ADD || next == OP_BINARY_SUB)) {
      code[i]->aux = next;
      code[i]->opcode = OP_FUSED_CONST_ADD_SUB;
    } else if (is_cmp(code[i]->opcode) && next == OP_COND_FALSE_OR_NULL_JUMP) {
      code[i]->aux = code[i]->opcode;
      code[i]->opcode = OP_FUSED_CMP_JUMP;
    }
  }
  // A name read goes to the program's slot of that name when it holds a LOCAL (as the variable
  // lookup finds it) and no table could have a field of the name.
  const local_offset_map& offsets = program->local_offsets();
  if (offsets.empty()) return;
  for (size_t i = 0; i < n; ++i) {
    if (code[i]->opcode != OP_READ_BY_NAME) continue;
    auto it = offsets.find(static_cast<const VmOpReadByName*>(code[i])->symbol);
    if (it == offsets.end() || !fits(it->second) || !unshare_op(&code[i])) continue;
    code[i]->aux = bytes(it->second);
    code[i]->opcode = OP_FUSED_READ_LOCAL_BY_NAME;
    if (is(i + 1, OP_READ_ADD_WRITE_LOCAL) && fits(add_offset_at(i + 1)) && i + 2 < n) {
      code[i]->aux |= bytes(add_offset_at(i + 1)) << 16;
      code[i]->opcode = OP_FUSED_ADD_LOCAL_BY_NAME;
    }
  }
  fuse_array_operations(code, n, offsets);
}

}  // namespace qzbase
