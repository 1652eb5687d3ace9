// string_internal.h - internals of String shared with start-up code and tests.
#pragma once

#include <qzbase.h>

namespace qzbase {

// The one buffer of every empty string made by the sized constructor (and of String()). It is
// constant-initialized (no static-initialization-order issue): capacity 0, count 1 for the
// global's own reference, so it is never freed. Its count changes atomically like any other.
extern string_buffer_st empty_string_buffer;

// The most bytes one text may hold (terminators aside). A text doubled in a loop meets this bound
// with a clear error long before the machine runs out of memory.
constexpr size_t kMaxStringSize = size_t{1} << 30;
// Room a buffer may have beyond its text for terminators.
constexpr size_t kStringTerminatorRoom = 64;

// A fresh buffer of the given capacity (bytes from array new) with count 1. RuntimeError 1903 for
// more than kMaxStringSize + kStringTerminatorRoom bytes, std::bad_alloc when the memory cannot be
// had.
string_buffer_st* new_string_buffer(size_t capacity);

// True for text whose bytes are raw (the binary charset record, CSID 2, either instance).
inline bool is_binary_charset(const Charset* cs) { return (cs->csid() & 0xFFFF) == 2; }

// True for UTF-8 text (CSID 36, and 59 of its "-bom" twin): a byte below 0x80 is always one
// character, its own code point, so ASCII runs need no decoder call.
inline bool is_utf8_charset(const Charset* cs) {
  uint64_t id = cs->csid() & 0xFFFF;
  return id == 36 || id == 59;
}

}  // namespace qzbase

namespace qzbase {

// Copies that throw instead of overflowing dst.
void strcpy_checked(char* dst, size_t n, const char* src);
void memcpy_checked(void* dst, size_t dstsize, const void* src, size_t n);

// UTF-8 text of two upper-case hexadecimal digits per byte of s, high nibble first.
String stringToEncodedHexBinary(String s);

}  // namespace qzbase
