// signatures.h - signatures of native functions, commands and system variables.
//
// A signature string has one entry per parameter: a type letter (. L I N Y D T C O A) with
// modifiers (? nullable, @ by reference, $ by reference when possible, * default read, + repeatable
// last entry); '|' marks the start of the optional parameters. Each string is parsed once when a
// library is loaded; the compiler and the virtual machine walk the result with the iterator.
#pragma once

#include <cstdint>
#include <list>

namespace qzbase {

// Type codes of the letters (the compiler's static type codes); '?' adds kSignatureNullable.
enum SignatureType : uint32_t {
  SIGNATURE_ANY = 0,       // .
  SIGNATURE_LOGICAL = 1,   // L
  SIGNATURE_INTEGER = 5,   // I
  SIGNATURE_NUMERIC = 6,   // N
  SIGNATURE_MONEY = 7,     // Y
  SIGNATURE_DATE = 8,      // D
  SIGNATURE_DATETIME = 9,  // T
  SIGNATURE_STRING = 10,   // C
  SIGNATURE_OBJECT = 11,   // O
  SIGNATURE_ARRAY = 13,    // A
};
constexpr uint32_t kSignatureNullable = 16;

struct function_signature_entry_st {
  uint32_t type;        // low four bits the letter's code, plus 16 for '?'
  bool by_reference;    // '@' or '$'
  bool rvalue_allowed;  // '$'
  bool default_read;    // '*'
};

struct function_signature_st {
  std::list<function_signature_entry_st> entries;  // one per letter, the repeatable one included
  uint64_t entry_count = 0;
  uint64_t required_count = 0;  // entries before '|'
  bool repeatable = false;      // the last entry carries '+'
  function_signature_entry_st repeat_entry{};
};

struct function_signature_iter_st {
  uint64_t index;  // entries handed out so far
  const function_signature_st* signature;
  std::list<function_signature_entry_st>::const_iterator position;
};

// Fills out (constructed by the caller with an empty list). A character that is not a type letter,
// '|' or a modifier, and a '+' entry that is not last, are broken invariants
// (assert_failed_exception).
void parse_function_signature(const char* signature, function_signature_st* out);

void function_signature_iter_init(function_signature_iter_st* iter, const function_signature_st* signature);
// The next entry, or the repeat entry again once the list is exhausted and the signature is
// repeatable; false (nothing written) when there is none.
bool function_signature_iter_next(function_signature_iter_st* iter, function_signature_entry_st* out);
// True once every required parameter has been handed out.
bool function_signature_iter_done(const function_signature_iter_st* iter);

}  // namespace qzbase
