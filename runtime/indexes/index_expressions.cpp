// index_expressions.cpp - a tag's key and FOR expressions: compiling and typing them, and
// computing a record's key and FOR value.
#include <algorithm>
#include <cstring>

#include "compiler/build_input.h"
#include "indexes/index.h"
#include "indexes/index_file.h"
#include "indexes/index_keys.h"
#include "tables/dbf_exceptions.h"
#include "tables/dbf_file.h"
#include "values/string_internal.h"
#include "vm/execute.h"

namespace qzbase {

namespace {

constexpr uint32_t kStaticNullable = 16;

// The first key length the static type allows; dbf_error_type_index_expression for any other.
size_t static_key_length(uint32_t code, int64_t width, const Collation* collation) {
  switch (code) {
    case 0:
    case INDEX_KEY_CHARACTER:
      // A memo or blob has no fixed width a key could hold.
      if (width == -2) throw dbf_error_type_index_expression();
      return width > 0 ? static_cast<size_t>(width) * (collation != nullptr ? collation->width_factor() : 1) : 0;
    case INDEX_KEY_LOGICAL: return 1;
    case INDEX_KEY_INTEGER: return 4;
    case INDEX_KEY_NUMERIC:
    case INDEX_KEY_CURRENCY:
    case INDEX_KEY_DATE:
    case INDEX_KEY_DATETIME: return 8;
    default: throw dbf_error_type_index_expression();
  }
}

// The value's key type given the static one (0: unknown); dbf_invalid_index_key_len when they
// disagree.
int value_key_type(const Variant& value, uint32_t code) {
  int type;
  switch (value.tag) {
    case VT_FALSE:
    case VT_TRUE: type = INDEX_KEY_LOGICAL; break;
    case VT_INTEGER: type = INDEX_KEY_INTEGER; break;
    case VT_NUMERIC: type = INDEX_KEY_NUMERIC; break;
    case VT_MONEY: type = INDEX_KEY_CURRENCY; break;
    case VT_DATE: type = INDEX_KEY_DATE; break;
    case VT_DATETIME: type = INDEX_KEY_DATETIME; break;
    case VT_STRING: type = INDEX_KEY_CHARACTER; break;
    default: throw dbf_error_type_index_expression();
  }
  if (code != 0 && static_cast<int>(code) != type) throw dbf_invalid_index_key_len();
  return type;
}

}  // namespace

void Index::analze_expression(VmStack* stack, DbfFile* dbf, const String& text, const Collation* collation,
                              IndexExpressionInfo* info) {
  QZ_TRACE;
  *info = IndexExpressionInfo();
  const Program* compiled = nullptr;
  build_expression_in_frame(stack, text, &compiled);
  info->program.reset(compiled);
  const compiler_type_info_st& st = compiled->type_info();
  const uint32_t code = st.type & ~kStaticNullable;
  if (code > INDEX_KEY_CHARACTER) throw dbf_error_type_index_expression();
  size_t length = static_key_length(code, st.width, collation);
  info->nullable = (st.type & kStaticNullable) != 0;

  ScopedValue value(stack);
  execute_expression(stack, compiled, &value.value);
  if (value.value.tag == VT_NULL) {
    info->key_type = static_cast<int>(code);
    info->nullable = true;
  } else {
    info->key_type = value_key_type(value.value, code);
    if (code == 0 && (info->key_type == INDEX_KEY_INTEGER || info->key_type == INDEX_KEY_NUMERIC)) {
      // Arithmetic has no static type, and what it yields depends on the record (0 / 4 is an
      // integer, 37 / 4 is not): such keys are numeric, so that no record's value is cut.
      info->key_type = INDEX_KEY_NUMERIC;
      info->untyped_number = true;
    }
    if (info->key_type != INDEX_KEY_CHARACTER) {
      // A known static type already agrees with the value; an unknown one takes the value's.
      length = static_key_length(static_cast<uint32_t>(info->key_type), -1, collation);
    } else {
      const size_t factor = collation != nullptr ? collation->width_factor() : 1;
      const size_t needed = value.value.string.length() * factor;
      if (length == 0 || needed > length) length = needed;
      const Charset* cs = value.value.string.get_charset();
      info->binary = is_binary_charset(cs);
      info->nocptrans = !info->binary && dbf != nullptr && cs == dbf->binary_charset();
    }
  }
  if (info->nullable) ++length;
  info->key_length = length;

  for (size_t i = 0; i < compiled->code_length(); ++i) {
    const VmOp* op = compiled->op(i);
    if (op == nullptr || stored_opcode(op) != OP_READ_FIELD_BY_FIELD_NUM) continue;
    const auto field = static_cast<uint16_t>(static_cast<const VmOpReadFieldByFieldNum*>(op)->field);
    if (std::find(info->fields.begin(), info->fields.end(), field) == info->fields.end()) info->fields.push_back(field);
  }
}

void Index::open(VmStack* stack, DbfFile* dbf) {
  QZ_TRACE;
  file->read_header(&header, header_offset);
  if (charset == nullptr && dbf != nullptr) charset = dbf->charset();
  key_info = IndexExpressionInfo();
  for_info = IndexExpressionInfo();
  if (stack == nullptr || dbf == nullptr || header.key_expression.is_empty()) {
    // Walking and seeking need no more than the order of the bytes.
    set_collation(header.option(IDX_OPT_MACHINE) || header.collation_name.is_empty() || dbf == nullptr
                      ? nullptr
                      : collation_for_group(dbf->charset(), header.collation_name));
    if (header.key_expression.is_empty()) choose_key_builder(INDEX_KEY_CHARACTER, false, false);
    return;
  }
  set_collation(collation_for_group(dbf->charset(), header.collation_name));
  try {
    analze_expression(stack, dbf, header.key_expression, collation_, &key_info);
  } catch (const dbf_invalid_index_key_len&) {
    key_info = IndexExpressionInfo();
    throw RuntimeError(112);
  }
  if (header.option(IDX_OPT_FOR) && !header.for_expression.is_empty()) {
    try {
      analze_expression(stack, dbf, header.for_expression, collation_, &for_info);
    } catch (const dbf_invalid_index_key_len&) {
      key_info = IndexExpressionInfo();
      for_info = IndexExpressionInfo();
      throw RuntimeError(112);
    }
    if (for_info.key_type != INDEX_KEY_LOGICAL) {
      key_info = IndexExpressionInfo();
      for_info = IndexExpressionInfo();
      throw RuntimeError(37);
    }
  }
  if (key_info.untyped_number) {
    // The stored key length tells which kind of number the tag was made with.
    const size_t stored = header.key_length - (header.option(IDX_OPT_NULLABLE) ? 1u : 0u);
    key_info.key_type = stored == 4 ? INDEX_KEY_INTEGER : INDEX_KEY_NUMERIC;
  }
  const int type = key_info.key_type;
  if (type != INDEX_KEY_LOGICAL && (type < INDEX_KEY_INTEGER || type > INDEX_KEY_CHARACTER)) {
    key_info = IndexExpressionInfo();
    for_info = IndexExpressionInfo();
    throw dbf_error_type_index_expression();
  }
  if (type != INDEX_KEY_CHARACTER) {
    // Keys of the other types have one width; a tag stored with another (its expression changed
    // or the file damaged elsewhere) could not be searched or kept.
    const size_t width = type == INDEX_KEY_LOGICAL ? 1u : type == INDEX_KEY_INTEGER ? 4u : 8u;
    if (header.key_length != width + (header.option(IDX_OPT_NULLABLE) ? 1u : 0u)) {
      key_info = IndexExpressionInfo();
      for_info = IndexExpressionInfo();
      throw RuntimeError(112);
    }
  }
  choose_key_builder(type, key_info.binary, key_info.nocptrans);
}

size_t Index::eval_key(VmStack* stack, char* buffer, size_t size) {
  QZ_TRACE;
  QZ_ASSERT(size >= header.key_length);
  if (key_info.program == nullptr) throw RuntimeError(1001, String("keys of index tags"));
  ScopedValue value(stack);
  execute_expression(stack, key_info.program.get(), &value.value);
  if (value.value.tag == VT_NULL && !header.option(IDX_OPT_NULLABLE)) throw dbf_error_index_cannot_store_null();
  const size_t n = create_key(&value.value, buffer, size, true);
  // A tag whose stored key length no longer fits its expression (a file changed or damaged
  // elsewhere) cannot take this key: an error the program can catch, and no tag is touched.
  if (n != header.key_length) throw dbf_invalid_index_key_len();
  return n;
}

bool Index::eval_filter(VmStack* stack) {
  QZ_TRACE;
  if (for_info.program == nullptr) return true;
  ScopedValue value(stack);
  execute_expression(stack, for_info.program.get(), &value.value);
  switch (value.value.tag) {
    case VT_TRUE: return true;
    case VT_FALSE:
    case VT_NULL: return false;
    default: throw RuntimeError(11);
  }
}

bool Index::key_is_expression() const {
  QZ_TRACE;
  const Program* p = key_info.program.get();
  if (p == nullptr) return true;
  return !(p->code_length() == 2 && stored_opcode(p->op(0)) == OP_READ_FIELD_BY_FIELD_NUM &&
           stored_opcode(p->op(1)) == OP_RETURN_VALUE);
}

}  // namespace qzbase
