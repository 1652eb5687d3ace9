// words.cpp - words of a text (GETWORDCOUNT, GETWORDNUM) and digests of its bytes (HASH).
//
// A word is a non-empty run of text between occurrences of the delimiters; delimiters at either
// end or next to each other make no empty words. Without delimiters of its own a text is split at
// blanks, tabs and line ends (CR LF counting as one).
#include <cstring>
#include <limits>

#include "builtins/text_arguments.h"
#include "builtins/text_functions.h"
#include "values/checksum.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The predefined symbol __QZ__, which names the text hash among the HASH algorithms.
constexpr symbol_id_type kHashQz = 80;

// The digests by their predefined symbols.
struct Digest {
  symbol_id_type id;
  void (*function)(const String& s, unsigned char* out, size_t outsize);
  size_t size;
};
const Digest kDigests[] = {
    {85, sha256_string, 32},  // SHA2_256
    {86, sha384_string, 48},  // SHA2_384
    {87, sha512_string, 64},  // SHA2_512
    {88, sha1_string, 20},    // SHA1
    {89, md5_string, 16},     // MD5
};

// The scan state: the words seen so far, where the last delimiter ended, the word wanted (0: only
// count) and the word found.
struct WordScan {
  size_t count = 0;
  const char* last_end = nullptr;
  size_t wanted = 0;
  const char* word_begin = nullptr;
  const char* word_end = nullptr;
  bool found = false;

  // A run [begin, end) between delimiters; false once the wanted word is found.
  bool run(const char* begin, const char* end) {
    if (begin >= end) return true;
    ++count;
    if (count != wanted) return true;
    word_begin = begin;
    word_end = end;
    found = true;
    return false;
  }
};

bool count_words_callback(const String&, const char* hit_begin, const char* hit_end, size_t, size_t, size_t,
                          void* ctx) {
  auto* scan = static_cast<WordScan*>(ctx);
  bool go_on = scan->run(scan->last_end, hit_begin);
  scan->last_end = hit_end;
  return go_on;
}

// With wanted 0 the result is the number of words, otherwise the wanted word (a slice of text) or
// an empty text when there are fewer words.
void _getwordcount(const String& text, const const_string_st* delimiters, size_t count, Variant* result,
                   size_t wanted) {
  WordScan scan;
  scan.last_end = text.read();
  scan.wanted = wanted;
  size_t position = 0;
  text.scan(delimiters, count, position, count_words_callback, &scan);
  if (!scan.found) scan.run(scan.last_end, text.end());
  if (wanted == 0) {
    result->set_integer(static_cast<unsigned long>(scan.count));
  } else if (scan.found) {
    result->set_string(String(text, scan.word_begin, scan.word_end));
  } else {
    result->set_string(String(text, text.end(), text.end()));
  }
}

// The word delimiters of argument n when it is given, else blanks, tabs and line ends.
template <typename F>
void with_delimiters(VmStack* stack, size_t argc, size_t n, F use) {
  if (argc >= n) {
    const Variant* v = argument_value(stack, n);
    if (v->tag != VT_STRING) throw RuntimeError(11);
    const_string_st only{v->string.read(), v->string.end(), v->string.get_charset()};
    use(&only, 1);
    return;
  }
  const Charset* utf8 = Charset::utf8;
  static const char kText[] = " \t\r\n\n\r";
  const const_string_st defaults[6] = {
      {kText, kText + 1, utf8},         // blank
      {kText + 1, kText + 2, utf8},     // tab
      {kText + 2, kText + 4, utf8},     // CR LF, one delimiter
      {kText + 2, kText + 4, utf8},     // CR LF again
      {kText + 4, kText + 5, utf8},     // LF
      {kText + 5, kText + 6, utf8},     // CR
  };
  use(defaults, 6);
}

}  // namespace

// GETWORDCOUNT(text [, delimiters]).
void bi_getwordcount(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 2, result)) return;
  const Variant* text = argument_value(stack, 1);
  if (text->tag != VT_STRING) throw RuntimeError(11);
  with_delimiters(stack, argc, 2, [&](const const_string_st* delimiters, size_t count) {
    _getwordcount(text->string, delimiters, count, result, 0);
  });
}

// GETWORDNUM(text, n [, delimiters]): the n-th word; an empty text for n below 1 or beyond the
// words. n beyond 32 bits is 39.
void bi_getwordnum(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 3, result)) return;
  const Variant* text = argument_value(stack, 1);
  if (text->tag != VT_STRING) throw RuntimeError(11);
  int64_t n = integer_argument(stack, 2);
  if (n > std::numeric_limits<int32_t>::max() || n < std::numeric_limits<int32_t>::min()) throw RuntimeError(39);
  if (n < 1) {
    result->set_string(String(0, Charset::ascii));
    return;
  }
  with_delimiters(stack, argc, 3, [&](const const_string_st* delimiters, size_t count) {
    _getwordcount(text->string, delimiters, count, result, static_cast<size_t>(n));
  });
}

// HASH(text, algorithm): the digest of the bytes of text as stored, as a binary text. The
// algorithm is one of the names MD5, SHA1, SHA2_256, SHA2_384, SHA2_512 (any case) or __QZ__, the
// 32-bit text hash of the code-point collation in four little-endian bytes; any other name is 11.
void bi_hash(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  String text = text_argument(stack, 1);
  String name = text_argument(stack, 2);
  Symtable* symbols = stack->get_symtable();
  symbol_id_type id = 0;
  if (symbols == nullptr || !symbols->find(name, &id)) throw RuntimeError(11);
  unsigned char digest[64];
  size_t size = 0;
  if (id == kHashQz) {
    uint32_t h = Collation::unicode_machine->hash(text.read(), text.end(), text.get_charset());
    std::memcpy(digest, &h, sizeof h);
    size = sizeof h;
  } else {
    const Digest* digest_of = nullptr;
    for (const Digest& d : kDigests) {
      if (d.id == id) digest_of = &d;
    }
    if (digest_of == nullptr) throw RuntimeError(11);
    digest_of->function(text, digest, sizeof digest);
    size = digest_of->size;
  }
  result->set_string(String(reinterpret_cast<const char*>(digest), size, Charset::binary));
}

}  // namespace qzbase
