// shared_ops.cpp - the table of shared operations, and the copies the fusion pass takes.
#include "vm/shared_ops.h"

#include <cstring>
#include <new>

namespace qzbase {

namespace {

// The shared opcodes by the shape of their operands.
#define QZ_SHARED_PLAIN(X)                                                                                   \
  X(OP_BINARY_ADD) X(OP_BINARY_SUB) X(OP_BINARY_MUL) X(OP_BINARY_DIV) X(OP_BINARY_POW) X(OP_BINARY_MOD)     \
  X(OP_BINARY_EQ) X(OP_BINARY_LT) X(OP_BINARY_LT_EQ) X(OP_BINARY_GT) X(OP_BINARY_GT_EQ) X(OP_BINARY_LT_GT)  \
  X(OP_BINARY_EQ_EQ) X(OP_CAST_TO_NOT_NULL) X(OP_COND_TRUE_OR_NULL_MERGE_2P) X(OP_ESP_ALLOC) X(OP_ESP_FREE) \
  X(OP_RETURN_VALUE) X(OP_RETURN_POINTER) X(OP_RETURN) X(OP_READ_CONST_TRUE) X(OP_READ_CONST_FALSE)         \
  X(OP_READ_CONST_NULL) X(OP_STORE) X(OP_UNARY_NOT) X(OP_UNARY_NEG) X(OP_TEST_TEXTMERGE_ON)
#define QZ_SHARED_SYMBOL(X)                                                                                  \
  X(OP_READ_MEMVAR_POINTER_BY_NAME_DEFAULT) X(OP_DEF_LOCAL) X(OP_DEF_PRIVATE_SYMBOL) X(OP_READ_BY_NAME)      \
  X(OP_READ_MEMVAR_BY_NAME) X(OP_READ_MEMVAR_BY_NAME_DEFAULT) X(OP_READ_FILE_OBJECT_OR_MEMVAR_BY_NAME)       \
  X(OP_READ_MEMVAR_POINTER_BY_NAME) X(OP_READ_ADD_WRITE) X(OP_WRITE_MEMVAR_BY_NAME)
#define QZ_SHARED_OFFSET(X)                                                                                  \
  X(OP_READ_LOCAL_MEMVAR_BY_OFFSET) X(OP_READ_LOCAL_MEMVAR_POINTER_BY_OFFSET) X(OP_READ_ADD_WRITE_LOCAL)    \
  X(OP_WRITE_MEMVAR_BY_OFFSET)
#define QZ_SHARED_OFFSET_SYMBOL(X) X(OP_DEF_LOCAL_OFFSET) X(OP_DEF_PUBLIC_OFFSET) X(OP_INIT_PARAMETER)
#define QZ_SHARED_SYMBOL_COUNT(X)                                                                            \
  X(OP_CALL_SPEC_DYNAMIC) X(OP_OBJECT_CALL) X(OP_OBJECT_CALL_POINTER) X(OP_READ_ARRAY_ITEM_BY_NAME)          \
  X(OP_OBJECT_READ_PROPERTY) X(OP_OBJECT_READ_PROPERTY_POINTER) X(OP_WRITE_ARRAY_BY_NAME)                    \
  X(OP_OBJECT_WRITE_PROPERTY)
#define QZ_SHARED_OFFSET_COUNT(X) X(OP_READ_MEMVAR_INDEX_LOCAL) X(OP_WRITE_ARRAY_BY_OFFSET)
#define QZ_SHARED_CAST(X)                                                                                    \
  X(OP_CAST_TO_BOOLEAN_IMPLICITLY) X(OP_CAST_TO_INTEGER_IMPLICITLY) X(OP_CAST_TO_NUMERIC_IMPLICITLY)        \
  X(OP_CAST_TO_MONEY_IMPLICITLY) X(OP_CAST_TO_DATE_IMPLICITLY) X(OP_CAST_TO_DATETIME_IMPLICITLY)            \
  X(OP_CAST_TO_STRING_IMPLICITLY) X(OP_CAST_TO_OBJECT_IMPLICITLY)

// What tells two operations of one opcode apart: at most two operand words.
struct op_key {
  unsigned opcode = 0;
  uint64_t a = 0;
  uint64_t b = 0;

  bool operator==(const op_key&) const = default;
};

uint64_t bits_of(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

double double_of(uint64_t u) {
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

// The key of a sharable operation as compiled (never a fused one); false for any other.
bool key_of(const VmOp* op, op_key* k) {
  k->opcode = op->opcode;
  switch (op->opcode) {
#define CASE(T) case T:
    QZ_SHARED_PLAIN(CASE)
    return true;
#undef CASE
#define CASE(T) \
  case T:       \
    k->a = static_cast<const VmOpSymbol<T>*>(op)->symbol; \
    return true;
    QZ_SHARED_SYMBOL(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    k->a = static_cast<const VmOpOffset<T>*>(op)->offset; \
    return true;
    QZ_SHARED_OFFSET(CASE)
#undef CASE
#define CASE(T)                                                  \
  case T:                                                        \
    k->a = static_cast<const VmOpOffsetSymbol<T>*>(op)->offset; \
    k->b = static_cast<const VmOpOffsetSymbol<T>*>(op)->symbol; \
    return true;
    QZ_SHARED_OFFSET_SYMBOL(CASE)
#undef CASE
#define CASE(T)                                                 \
  case T:                                                       \
    k->a = static_cast<const VmOpSymbolCount<T>*>(op)->symbol; \
    k->b = static_cast<const VmOpSymbolCount<T>*>(op)->count;  \
    return true;
    QZ_SHARED_SYMBOL_COUNT(CASE)
#undef CASE
#define CASE(T)                                                 \
  case T:                                                       \
    k->a = static_cast<const VmOpOffsetCount<T>*>(op)->offset; \
    k->b = static_cast<const VmOpOffsetCount<T>*>(op)->count;  \
    return true;
    QZ_SHARED_OFFSET_COUNT(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    k->a = static_cast<const VmOpCast<T>*>(op)->allow_null; \
    return true;
    QZ_SHARED_CAST(CASE)
#undef CASE
    case OP_CHECK_ARGUMENT: {
      auto* o = static_cast<const VmOpCheckArgument*>(op);
      k->a = o->expected_tag;
      k->b = static_cast<uint32_t>(o->flags);
      return true;
    }
    case OP_INIT_LOCAL_PARAMETERS: k->a = static_cast<const VmOpInitLocalParameters*>(op)->count; return true;
    case OP_MACRO: k->a = static_cast<const VmOpMacro*>(op)->mode; return true;
    case OP_READ_FIELD_BY_FIELD_NUM: k->a = static_cast<const VmOpReadFieldByFieldNum*>(op)->field; return true;
    case OP_READ_CONST_INTEGER: k->a = static_cast<uint64_t>(static_cast<const VmOpReadConstInteger*>(op)->value); return true;
    case OP_READ_CONST_NUMERIC: {
      // Bit for bit: 0.0 and -0.0 are different constants.
      auto* o = static_cast<const VmOpReadConstNumeric*>(op);
      k->a = bits_of(o->value.value);
      k->b = o->value.decimals;
      return true;
    }
    case OP_READ_CONST_DATE: k->a = static_cast<const VmOpReadConstDate*>(op)->value.day; return true;
    case OP_READ_CONST_DATETIME: {
      auto* o = static_cast<const VmOpReadConstDatetime*>(op);
      k->a = o->value.day;
      k->b = static_cast<uint32_t>(o->value.ms);
      return true;
    }
    default: return false;
  }
}

// A new operation of the key.
VmOp* op_of(const op_key& k) {
  switch (k.opcode) {
#define CASE(T) \
  case T:       \
    return new VmOpPlain<T>();
    QZ_SHARED_PLAIN(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    return new VmOpSymbol<T>(static_cast<symbol_id_type>(k.a));
    QZ_SHARED_SYMBOL(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    return new VmOpOffset<T>(k.a);
    QZ_SHARED_OFFSET(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    return new VmOpOffsetSymbol<T>(k.a, static_cast<symbol_id_type>(k.b));
    QZ_SHARED_OFFSET_SYMBOL(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    return new VmOpSymbolCount<T>(static_cast<symbol_id_type>(k.a), k.b);
    QZ_SHARED_SYMBOL_COUNT(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    return new VmOpOffsetCount<T>(k.a, k.b);
    QZ_SHARED_OFFSET_COUNT(CASE)
#undef CASE
#define CASE(T) \
  case T:       \
    return new VmOpCast<T>(static_cast<uint8_t>(k.a));
    QZ_SHARED_CAST(CASE)
#undef CASE
    case OP_CHECK_ARGUMENT:
      return new VmOpCheckArgument(static_cast<uint8_t>(k.a), static_cast<int32_t>(static_cast<uint32_t>(k.b)));
    case OP_INIT_LOCAL_PARAMETERS: return new VmOpInitLocalParameters(k.a);
    case OP_MACRO: return new VmOpMacro(k.a);
    case OP_READ_FIELD_BY_FIELD_NUM: return new VmOpReadFieldByFieldNum(k.a);
    case OP_READ_CONST_INTEGER: return new VmOpReadConstInteger(static_cast<int64_t>(k.a));
    case OP_READ_CONST_NUMERIC: return new VmOpReadConstNumeric(numeric_type_st{double_of(k.a), k.b});
    case OP_READ_CONST_DATE: return new VmOpReadConstDate(date_st{static_cast<uint32_t>(k.a)});
    case OP_READ_CONST_DATETIME:
      return new VmOpReadConstDatetime(datetime_st{static_cast<uint32_t>(k.a), static_cast<int32_t>(static_cast<uint32_t>(k.b))});
    default: return nullptr;
  }
}

size_t hash_of(const op_key& k) {
  uint64_t h = k.opcode * 0x9E3779B97F4A7C15ull;
  h ^= k.a + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= k.b + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
  h ^= h >> 31;
  return static_cast<size_t>(h);
}

}  // namespace

bool sharable_opcode(unsigned opcode) {
  switch (opcode) {
#define CASE(T) case T:
    QZ_SHARED_PLAIN(CASE)
    QZ_SHARED_SYMBOL(CASE)
    QZ_SHARED_OFFSET(CASE)
    QZ_SHARED_OFFSET_SYMBOL(CASE)
    QZ_SHARED_SYMBOL_COUNT(CASE)
    QZ_SHARED_OFFSET_COUNT(CASE)
    QZ_SHARED_CAST(CASE)
#undef CASE
    case OP_CHECK_ARGUMENT:
    case OP_INIT_LOCAL_PARAMETERS:
    case OP_MACRO:
    case OP_READ_FIELD_BY_FIELD_NUM:
    case OP_READ_CONST_INTEGER:
    case OP_READ_CONST_NUMERIC:
    case OP_READ_CONST_DATE:
    case OP_READ_CONST_DATETIME: return true;
    default: return false;
  }
}

SharedOps::~SharedOps() {
  for (VmOp* op : slots_) delete op;
}

bool SharedOps::grow() noexcept {
  try {
    std::vector<VmOp*> bigger(slots_.empty() ? 64 : slots_.size() * 2, nullptr);
    const size_t mask = bigger.size() - 1;
    for (VmOp* op : slots_) {
      if (op == nullptr) continue;
      op_key k;
      key_of(op, &k);
      size_t i = hash_of(k) & mask;
      while (bigger[i] != nullptr) i = (i + 1) & mask;
      bigger[i] = op;
    }
    slots_.swap(bigger);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

VmOp* SharedOps::intern(VmOp* op) noexcept {
  op_key k;
  if (op == nullptr || op->shared != 0 || !key_of(op, &k)) return op;
  if ((count_ + 1) * 4 > slots_.size() * 3 && !grow()) return op;
  const size_t mask = slots_.size() - 1;
  size_t i = hash_of(k) & mask;
  for (; slots_[i] != nullptr; i = (i + 1) & mask) {
    op_key found;
    key_of(slots_[i], &found);
    if (found == k) {
      delete op;
      return slots_[i];
    }
  }
  op->shared = 1;
  slots_[i] = op;
  ++count_;
  return op;
}

bool unshare_op(VmOp** slot) noexcept {
  VmOp* op = *slot;
  if (op->shared == 0) return true;
  op_key k;
  if (!key_of(op, &k)) return false;
  VmOp* copy = nullptr;
  try {
    copy = op_of(k);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (copy == nullptr) return false;
  *slot = copy;  // the shared one stays with its SharedOps
  return true;
}

}  // namespace qzbase
