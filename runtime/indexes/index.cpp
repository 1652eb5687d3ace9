// index.cpp - a tag's key builders.
#include "indexes/index.h"

#include <algorithm>
#include <cstring>

#include "indexes/index_file.h"
#include "indexes/index_keys.h"
#include "tables/dbf_exceptions.h"
#include "values/string_internal.h"
#include "values/value_text.h"

namespace qzbase {

namespace {

constexpr double kMillisecondsPerDay = 86400000.0;

// The value as text: strings as they are, anything else in its plain text form.
String key_text(const Variant* value) {
  if (value->tag == VT_STRING) return value->string;
  return variant_to_string(*value);
}

}  // namespace

Index::Index(IndexFile* file, std::streampos header_offset, const Charset* charset)
    : file(file), header_offset(header_offset), charset(charset) {
  QZ_TRACE;
  if (this->charset == nullptr && file != nullptr) this->charset = file->charset;
}

Index::~Index() = default;

void Index::set_collation(const Collation* collation) {
  QZ_TRACE;
  collation_ = collation;
  pad_ = collation != nullptr ? collation->pad() : ' ';
}

void Index::choose_key_builder(int key_type, bool binary, bool nocptrans) {
  QZ_TRACE;
  key_builder builder = nullptr;
  const bool nullable = header.option(IDX_OPT_NULLABLE);
  switch (key_type) {
    case INDEX_KEY_LOGICAL: builder = &Index::create_logical_key; break;
    case INDEX_KEY_INTEGER: builder = &Index::create_int4_bigendian_key; break;
    case INDEX_KEY_NUMERIC: builder = &Index::create_float8_bigendian_key; break;
    case INDEX_KEY_CURRENCY: builder = &Index::create_currency8_bigendian_key; break;
    case INDEX_KEY_DATE: builder = &Index::create_date_key; break;
    case INDEX_KEY_DATETIME: builder = &Index::create_datetime_key; break;
    case INDEX_KEY_CHARACTER:
      if (binary) {
        builder = &Index::create_binary_key;
      } else if (nocptrans || nullable) {
        // A nullable character key holds the text's bytes, never collation weights.
        builder = &Index::create_char_nocptrans_key;
      } else {
        builder = &Index::create_char_key;
      }
      break;
    default: throw dbf_error_type_index_expression();
  }
  if (nullable) {
    inner_builder_ = builder;
    builder_ = &Index::create_nullable_key;
  } else {
    inner_builder_ = nullptr;
    builder_ = builder;
  }
}

size_t Index::create_key(const Variant* value, char* buffer, size_t length, bool pad) const {
  QZ_TRACE;
  QZ_ASSERT(builder_ != nullptr && length >= header.key_length);
  return (this->*builder_)(value, pad, buffer, header.key_length);
}

size_t Index::create_logical_key(const Variant* value, bool, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(length == 1);
  if (value->tag == VT_TRUE) {
    buffer[0] = 'T';
  } else if (value->tag == VT_FALSE) {
    buffer[0] = 'F';
  } else {
    throw RuntimeError(11);
  }
  return 1;
}

size_t Index::create_int4_bigendian_key(const Variant* value, bool, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(length == 4);
  if (value->tag == VT_INTEGER) {
    keyI4(value->integer, buffer, length);
  } else if (value->tag == VT_NUMERIC || value->tag == VT_MONEY) {
    keyI4(static_cast<integer_type_st>(*value), buffer, length);
  } else {
    throw RuntimeError(11);
  }
  return 4;
}

size_t Index::create_float8_bigendian_key(const Variant* value, bool, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(length == 8);
  if (value->tag == VT_NUMERIC) {
    keyN8(value->numeric.value, buffer, length);
  } else if (value->tag == VT_INTEGER) {
    keyN8(static_cast<double>(value->integer.value), buffer, length);
  } else {
    throw RuntimeError(11);
  }
  return 8;
}

size_t Index::create_currency8_bigendian_key(const Variant* value, bool, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(length == 8);
  if (value->tag != VT_MONEY) throw RuntimeError(11);
  keyY8(value->money, buffer, length);
  return 8;
}

size_t Index::create_date_key(const Variant* value, bool, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(length == 8);
  if (value->tag == VT_DATE) {
    keyN8(value->date.day, buffer, length);
  } else if (value->tag == VT_DATETIME) {
    keyN8(value->datetime.day, buffer, length);  // the day only
  } else {
    throw RuntimeError(11);
  }
  return 8;
}

size_t Index::create_datetime_key(const Variant* value, bool, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(length == 8);
  if (value->tag == VT_DATE) {
    keyN8(value->date.day, buffer, length);
  } else if (value->tag == VT_DATETIME) {
    keyN8(value->datetime.day + value->datetime.ms / kMillisecondsPerDay, buffer, length);
  } else {
    throw RuntimeError(11);
  }
  return 8;
}

size_t Index::create_char_key(const Variant* value, bool pad, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(collation_ != nullptr);
  return collation_->create_char_key(key_text(value), pad, buffer, length);
}

size_t Index::create_char_nocptrans_key(const Variant* value, bool pad, char* buffer, size_t length) const {
  QZ_TRACE;
  const String text = key_text(value);
  std::memset(buffer, ' ', length);
  const Charset* cs = text.get_charset();
  size_t n;
  if (charset == nullptr || is_binary_charset(cs) || (cs->csid() & 0xFFFF) == (charset->csid() & 0xFFFF)) {
    // Already in the table's encoding (or either instance of it): the bytes as they are.
    n = std::min(text.size(), length);
    if (n != 0) std::memcpy(buffer, text.read(), n);
  } else {
    // Text held in another character set is stored (and sought) in the table's, as its field
    // would hold it; the flagged twin shares the encoding. The conversion stops at the key's end.
    const char* src = text.read();
    char* dst = buffer;
    if (cs->convert(&src, text.end(), &dst, buffer + length, charset, 1) == 1) {
      throw dbf_error_cptrans_char_lost();
    }
    n = static_cast<size_t>(dst - buffer);
    std::memset(dst, ' ', length - n);  // a stopped conversion may have left bytes behind
  }
  return pad ? length : n;
}

size_t Index::create_binary_key(const Variant* value, bool pad, char* buffer, size_t length) const {
  QZ_TRACE;
  const String text = key_text(value);
  std::memset(buffer, 0, length);
  const size_t n = std::min(text.size(), length);
  if (n != 0) std::memcpy(buffer, text.read(), n);
  return pad ? length : n;
}

size_t Index::create_nullable_key(const Variant* value, bool pad, char* buffer, size_t length) const {
  QZ_TRACE;
  QZ_ASSERT(inner_builder_ != nullptr && length >= 1);
  if (value->tag == VT_NULL) {
    std::memset(buffer, 0, length);
    return length;
  }
  buffer[0] = static_cast<char>(0x80);
  return (this->*inner_builder_)(value, pad, buffer + 1, length - 1) + 1;
}

}  // namespace qzbase
