// signatures.cpp - parsing and walking function signatures.
#include "vm/signatures.h"

#include <qzbase.h>

namespace qzbase {

namespace {

// The type code of a letter, or -1.
int letter_code(char c) {
  switch (c) {
    case '.':
      return SIGNATURE_ANY;
    case 'L':
      return SIGNATURE_LOGICAL;
    case 'I':
      return SIGNATURE_INTEGER;
    case 'N':
      return SIGNATURE_NUMERIC;
    case 'Y':
      return SIGNATURE_MONEY;
    case 'D':
      return SIGNATURE_DATE;
    case 'T':
      return SIGNATURE_DATETIME;
    case 'C':
      return SIGNATURE_STRING;
    case 'O':
      return SIGNATURE_OBJECT;
    case 'A':
      return SIGNATURE_ARRAY;
    default:
      return -1;
  }
}

}  // namespace

void parse_function_signature(const char* signature, function_signature_st* out) {
  QZ_TRACE;
  out->required_count = 0;
  out->repeatable = false;
  out->entry_count = out->entries.size();
  if (!signature) return;
  bool optional = false;
  const char* p = signature;
  while (*p) {
    if (*p == '|') {
      optional = true;
      ++p;
      continue;
    }
    int code = letter_code(*p);
    if (code < 0) throw_assert_failed();
    ++p;
    function_signature_entry_st entry{static_cast<uint32_t>(code), false, false, false};
    bool repeat = false;
    for (;; ++p) {
      char m = *p;
      if (m == '?') {
        entry.type |= kSignatureNullable;
      } else if (m == '@') {
        entry.by_reference = true;
      } else if (m == '$') {
        entry.by_reference = true;
        entry.rvalue_allowed = true;
      } else if (m == '*') {
        entry.default_read = true;
      } else if (m == '+') {
        repeat = true;
      } else {
        break;
      }
    }
    if (repeat) {
      if (*p != '\0') throw_assert_failed();  // the repeatable entry must be the last
      out->repeatable = true;
      out->repeat_entry = entry;
    }
    out->entries.push_back(entry);
    ++out->entry_count;
    if (!optional) ++out->required_count;
  }
}

void function_signature_iter_init(function_signature_iter_st* iter, const function_signature_st* signature) {
  QZ_TRACE;
  iter->index = 0;
  iter->signature = signature;
  iter->position = signature->entries.begin();
}

bool function_signature_iter_next(function_signature_iter_st* iter, function_signature_entry_st* out) {
  QZ_TRACE;
  if (iter->position != iter->signature->entries.end()) {
    *out = *iter->position;
    ++iter->position;
  } else if (iter->signature->repeatable) {
    *out = iter->signature->repeat_entry;
  } else {
    return false;
  }
  ++iter->index;
  return true;
}

bool function_signature_iter_done(const function_signature_iter_st* iter) {
  QZ_TRACE;
  return iter->index >= iter->signature->required_count;
}

}  // namespace qzbase
