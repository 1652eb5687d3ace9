// string_functions.cpp - the character built-ins: length and slices, search, trims, case,
// repetition, translation, single characters, padding, joining, shell quoting and the output
// buffer.
//
// Positions and lengths count characters of the text's own charset. Slices share the text's
// buffer; a fixed-width charset slices by byte arithmetic. Counts the program chooses are
// checked before anything is allocated: a negative count of LEFT, RIGHT, SPACE, REPLICATE, PADL
// and PADR gives an empty text (a size_t would make it huge), and a result that could never be
// held raises 11.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "builtins/entry_points.h"
#include "builtins/text_arguments.h"
#include "builtins/text_functions.h"
#include "platform/process.h"
#include "values/charset_registry.h"
#include "values/string_internal.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

bool is_null_argument(const Variant* v) {
  QZ_TRACE;
  if (v->tag == VT_REFERENCE) v = v->reference.target;
  return v->tag == VT_NULL || (v->tag == VT_OBJECT && v->is_empty_object_reference());
}

const String& text_argument(VmStack* stack, size_t n) {
  QZ_TRACE;
  const Variant* v = argument_value(stack, n);
  if (v->tag != VT_STRING) throw RuntimeError(11);
  return v->string;
}

size_t text_size_limit() {
  QZ_TRACE;
  // More bytes than the machine has memory could never be held; asking the allocator for them
  // is not even safe (lazily reserving allocators succeed, sanitizers abort).
  static const size_t limit = [] {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page = sysconf(_SC_PAGESIZE);
    size_t by_address = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max());
    size_t bytes = 0;
    if (pages <= 0 || page <= 0 ||
        __builtin_mul_overflow(static_cast<size_t>(pages), static_cast<size_t>(page), &bytes)) {
      return by_address;
    }
    return std::min(by_address, bytes);
  }();
  return limit;
}

size_t checked_text_size(size_t units, size_t unit_bytes) {
  QZ_TRACE;
  size_t total = 0;
  if (__builtin_mul_overflow(units, unit_bytes, &total) || total > text_size_limit()) throw RuntimeError(11);
  return total;
}

String allocate_text(size_t size, const Charset* cs) {
  QZ_TRACE;
  checked_text_size(size, 1);
  try {
    return String(size, cs);
  } catch (const std::bad_alloc&) {
    throw RuntimeError(11);
  }
}

namespace {

// An empty slice of s: an empty text in s's charset.
String empty_of(const String& s) { return String(s, s.read(), s.read()); }

const Charset* windows_1252() { return GetCharsetByWindowsCodepage(1252); }

// The extra string arguments of the trim functions, from `first` to argc; a value there that is
// not a string is 11.
struct TrimStrings {
  VmStack* stack;
  size_t first;
  size_t argc;
  size_t current;
};

const String* trim_string_at(TrimStrings* c) {
  if (c->current > c->argc) return nullptr;
  return &text_argument(c->stack, c->current);
}

const String* get_first_string_func(void* ctx) {
  auto* c = static_cast<TrimStrings*>(ctx);
  c->current = c->first;
  return trim_string_at(c);
}

const String* get_next_string_func(void* ctx) {
  auto* c = static_cast<TrimStrings*>(ctx);
  ++c->current;
  return trim_string_at(c);
}

enum TrimSide { TRIM_LEFT = 1, TRIM_RIGHT = 2, TRIM_BOTH = 3 };

// RTRIM, LTRIM and ALLTRIM. One argument trims blanks in place (no collation is involved);
// more remove the given strings, a numeric argument 2 choosing the collation (1: without regard
// to case) and the strings then starting at argument 3.
void trim(VmStack* stack, size_t argc, Variant* result, TrimSide side) {
  if (null_result(stack, argc, 1, 1, result)) return;
  String s = text_argument(stack, 1);
  if (argc == 1) {
    if (side & TRIM_LEFT) s.ltrim();
    if (side & TRIM_RIGHT) s.rtrim();
    result->set_string(s);
    return;
  }
  const Collation* collation = Collation::unicode_machine;
  TrimStrings strings{stack, 2, argc, 2};
  const Variant* second = argument_value(stack, 2);
  if (second->tag == VT_INTEGER || second->tag == VT_NUMERIC || second->tag == VT_MONEY) {
    if (integer_argument(stack, 2) == 1) collation = Collation::unicode_machine_ci;
    strings.first = 3;
  }
  if (side & TRIM_LEFT) s.ltrim(collation, get_first_string_func, get_next_string_func, &strings);
  if (side & TRIM_RIGHT) s.rtrim(collation, get_first_string_func, get_next_string_func, &strings);
  result->set_string(s);
}

// n copies of the bytes of piece into dst (the bytes doubling as they go).
void fill_copies(char* dst, const char* piece, size_t piece_size, size_t n) {
  size_t total = piece_size * n;
  if (total == 0) return;
  std::memcpy(dst, piece, piece_size);
  size_t done = piece_size;
  while (done < total) {
    size_t step = std::min(done, total - done);
    std::memcpy(dst + done, dst, step);
    done += step;
  }
}

// The characters of s as one slice each.
std::vector<const_string_st> characters_of(const String& s) {
  std::vector<const_string_st> out;
  const Charset* cs = s.get_charset();
  const char* p = s.read();
  const char* end = s.end();
  while (p < end) {
    const char* begin = p;
    cs->next(&p, end);
    out.push_back(const_string_st{begin, p, cs});
  }
  return out;
}

// PADL and PADR: the text cut or filled to n characters.
void pad(VmStack* stack, size_t argc, Variant* result, bool fill_left) {
  if (null_result(stack, argc, 2, 3, result)) return;
  const String& s = text_argument(stack, 1);
  int64_t n = integer_argument(stack, 2);
  if (n <= 0) {
    result->set_string(empty_of(s));
    return;
  }
  size_t length = s.length();
  if (length >= static_cast<uint64_t>(n)) {
    result->set_string(s.substr(0, static_cast<size_t>(n)));
    return;
  }
  const Charset* cs = s.get_charset();
  // The blank is written straight into UTF-8 and ASCII texts; other pads are converted.
  bool ascii_blank = argc < 3 && (is_utf8_charset(cs) || cs == Charset::ascii);
  String filler = argc >= 3 ? text_argument(stack, 3) : String(" ", 1, ascii_blank ? cs : Charset::ascii);
  if (filler.get_charset() != cs) filler.convert(cs, CON_NONE, 0);
  size_t filler_chars = filler.length();
  if (filler_chars == 0) {
    // Nothing can fill the gap.
    result->set_string(s);
    return;
  }
  size_t missing = static_cast<size_t>(n) - length;
  size_t copies = missing / filler_chars;
  size_t tail = filler.substr(0, missing % filler_chars).size();
  size_t fill_bytes = checked_text_size(copies, filler.size());
  size_t total = 0;
  if (__builtin_add_overflow(fill_bytes, tail, &total) || __builtin_add_overflow(total, s.size(), &total)) {
    throw RuntimeError(11);
  }
  String out = allocate_text(total, cs);
  char* w = total ? out.write() : nullptr;
  char* fill = fill_left ? w : w + s.size();
  fill_copies(fill, filler.read(), filler.size(), copies);
  if (tail) std::memcpy(fill + fill_bytes, filler.read(), tail);
  if (s.size()) std::memcpy(fill_left ? w + fill_bytes + tail : w, s.read(), s.size());
  result->set_string(out);
}

}  // namespace

// CONCAT(s1, ...): null when any argument is null; pieces in another character set are converted
// into the first one's.
void bi_concat(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, argc, result)) return;
  Concat text;
  for (size_t i = 1; i <= argc; ++i) text.append(text_argument(stack, i));
  result->set_string(text.to_string(true));
}

// AT(needle, haystack [, n]): the 1-based character position of the n-th occurrence, 0 when there
// is none. n below 1 is 11.
void bi_at(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 3, result)) return;
  long occurrence = 1;
  if (argc >= 3) {
    occurrence = static_cast<long>(integer_argument(stack, 3));
    if (occurrence < 1) throw RuntimeError(11);
  }
  const String& needle = text_argument(stack, 1);
  const String& haystack = text_argument(stack, 2);
  size_t position = 0;
  size_t begin = 0;
  size_t end = 0;
  long found = 0;
  if (haystack.strstr(needle, &position, &begin, &end, static_cast<size_t>(occurrence - 1))) {
    found = static_cast<long>(position) + 1;
  }
  result->set_integer(found);
}

// LEN(s): the number of characters.
void bi_len(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(static_cast<unsigned long>(text_argument(stack, 1).length()));
}

// SUBSTR(s, start [, length]): characters from a 1-based start, as a slice of s. A negative start
// or length is 39; start 0 gives an empty text.
void bi_substr(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 3, result)) return;
  const String& s = text_argument(stack, 1);
  int64_t start = integer_argument(stack, 2);
  if (start < 0) throw RuntimeError(39);
  size_t length = s.size() / s.get_charset()->min_bytes();
  if (argc >= 3) {
    int64_t n = integer_argument(stack, 3);
    if (n < 0) throw RuntimeError(39);
    length = static_cast<size_t>(n);
  }
  if (start == 0) {
    result->set_string(empty_of(s));
    return;
  }
  result->set_string(s.substr(static_cast<size_t>(start - 1), length));
}

// LEFT(s, n): the first n characters; nothing for n below 1.
void bi_left(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  const String& s = text_argument(stack, 1);
  int64_t n = integer_argument(stack, 2);
  result->set_string(n <= 0 ? empty_of(s) : s.substr(0, static_cast<size_t>(n)));
}

// RIGHT(s, n): the last n characters; the whole text when n reaches its length, nothing for n
// below 1.
void bi_right(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  const String& s = text_argument(stack, 1);
  int64_t n = integer_argument(stack, 2);
  if (n <= 0) {
    result->set_string(String(s, s.end(), s.end()));
    return;
  }
  size_t length = s.length();
  if (static_cast<uint64_t>(n) >= length) {
    result->set_string(s);
    return;
  }
  result->set_string(s.substr(length - static_cast<size_t>(n), static_cast<size_t>(n)));
}

void bi_rtrim(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  trim(stack, argc, result, TRIM_RIGHT);
}

void bi_ltrim(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  trim(stack, argc, result, TRIM_LEFT);
}

void bi_alltrim(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  trim(stack, argc, result, TRIM_BOTH);
}

void bi_upper(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_string(text_argument(stack, 1).upper());
}

void bi_lower(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_string(text_argument(stack, 1).lower());
}

// REPLICATE(s, n): the bytes of s n times, with a terminator of the charset's width after them;
// nothing for n below 1.
void bi_replicate(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  const String& s = text_argument(stack, 1);
  int64_t n = integer_argument(stack, 2);
  if (n <= 0 || s.size() == 0) {
    result->set_string(empty_of(s));
    return;
  }
  size_t size = checked_text_size(static_cast<uint64_t>(n), s.size());
  size_t terminator = s.get_charset()->min_bytes();
  String out = allocate_text(checked_text_size(1, size + terminator), s.get_charset());
  char* w = out.write();
  fill_copies(w, s.read(), s.size(), static_cast<size_t>(n));
  std::memset(w + size, 0, terminator);
  out.resize(size);
  result->set_string(out);
}

// SPACE(n [, charset]): n blanks in the runtime's default charset or the named one (9003 when
// unknown, 9011 when it has no blank); nothing for n below 1.
void bi_space(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  int64_t n = integer_argument(stack, 1);
  const Charset* cs = stack->get_runtime() != nullptr ? stack->get_runtime()->codepage : nullptr;
  if (argc >= 2) {
    String name = text_argument(stack, 2);
    cs = get_charset_by_name(name);
    if (cs == nullptr) throw RuntimeError(9003, name);
  }
  if (cs == nullptr) cs = Charset::ascii;
  String blank(" ", 1, Charset::ascii);
  try {
    blank.convert(cs, CON_NONE, 1);
  } catch (const cstran_chars_lost&) {
    throw RuntimeError(9011, String(cs->name()));
  } catch (const string_buffer_invalid_exception&) {
    throw RuntimeError(9011, String(cs->name()));
  }
  if (n <= 0 || blank.size() == 0) {
    result->set_string(String(0, cs));
    return;
  }
  size_t size = checked_text_size(static_cast<uint64_t>(n), blank.size());
  String out = allocate_text(size, cs);
  fill_copies(out.write(), blank.read(), blank.size(), static_cast<size_t>(n));
  result->set_string(out);
}

// CHRTRAN(s, from, to): each character of s found in from becomes the character of to at the
// same position, or goes when to is shorter.
void bi_chrtran(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 3, 3, result)) return;
  const String& s = text_argument(stack, 1);
  const String& from = text_argument(stack, 2);
  const String& to = text_argument(stack, 3);
  constexpr size_t kMaxCount = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (from.size() / from.get_charset()->min_bytes() > kMaxCount ||
      to.size() / to.get_charset()->min_bytes() > kMaxCount) {
    throw RuntimeError(39);
  }
  if (from.size() == 0) {
    result->set_string(s);
    return;
  }
  std::vector<const_string_st> search = characters_of(from);
  std::vector<const_string_st> replace = characters_of(to);
  replace.resize(search.size(), const_string_st{to.end(), to.end(), to.get_charset()});
  result->set_string(s.strmultitran(search.data(), search.size(), replace.data()));
}

// STRTRAN(s, find [, replacement]): every occurrence of find replaced (removed without a
// replacement).
void bi_strtran(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 3, result)) return;
  const String& s = text_argument(stack, 1);
  const String& find = text_argument(stack, 2);
  const_string_st search{find.read(), find.end(), find.get_charset()};
  const_string_st replacement{find.end(), find.end(), find.get_charset()};
  if (argc >= 3) {
    const String& r = text_argument(stack, 3);
    replacement = const_string_st{r.read(), r.end(), r.get_charset()};
  }
  // A growing replacement multiplies the size: refuse a result that could never be held before
  // any of it is built. The bound takes every character of s as an occurrence; only when it is
  // out of reach are the occurrences counted.
  if (find.size() > 0) {
    const Charset* cs = s.get_charset();
    // The bytes one replacement takes in s's charset (at most, when it must be converted).
    size_t replacement_bytes = static_cast<size_t>(replacement.end - replacement.begin);
    size_t growth = replacement_bytes;
    size_t bound = 0;
    if ((replacement.charset != cs &&
         __builtin_mul_overflow(replacement_bytes / replacement.charset->min_bytes(), cs->max_bytes(), &growth)) ||
        __builtin_mul_overflow(s.size() / cs->min_bytes(), growth, &bound) ||
        __builtin_add_overflow(bound, s.size(), &bound) || bound > text_size_limit()) {
      size_t hits = 0;
      size_t position = 0;
      s.scan(
          search, position,
          [](const String&, const char*, const char*, size_t, size_t, size_t, void* ctx) {
            ++*static_cast<size_t*>(ctx);
            return true;
          },
          &hits);
      size_t grown = checked_text_size(hits, growth);
      if (__builtin_add_overflow(grown, s.size(), &grown)) throw RuntimeError(11);
      checked_text_size(grown, 1);
    }
  }
  try {
    result->set_string(s.strmultitran(&search, 1, &replacement));
  } catch (const std::bad_alloc&) {
    throw RuntimeError(11);
  }
}

// ASC(s): the code page 1252 byte of the first character (the code page's substitute for one it
// lacks); 0 for an empty text.
void bi_asc(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String& s = text_argument(stack, 1);
  if (s.size() == 0) {
    result->set_integer(0);
    return;
  }
  char byte[2] = {0, 0};
  s.substr(0, 1).strcpy(byte, sizeof byte, windows_1252(), 0);
  result->set_integer(static_cast<int>(static_cast<unsigned char>(byte[0])));
}

// CHR(n): the byte n as a code page 1252 character; n outside 0 .. 255 is 39.
void bi_chr(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  int64_t n = integer_argument(stack, 1);
  if (n < 0 || n > 255) throw RuntimeError(39);
  char byte = static_cast<char>(static_cast<unsigned char>(n));
  result->set_string(String(&byte, 1, windows_1252()));
}

void bi_escapearg(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  result->set_string(quote_shell_argument(text_argument(stack, 1)));
}

void bi_padl(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  pad(stack, argc, result, true);
}

void bi_padr(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  pad(stack, argc, result, false);
}

// The output buffer of the screen: OB_START begins collecting what the program prints,
// OB_GET_CONTENT reads it, OB_END_FLUSH writes it out and OB_END_CLEAN drops it. The three
// commands yield false.
void bi_ob_start(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  stack->get_runtime()->get_screen()->ob_start();
}

void bi_ob_end_flush(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  stack->get_runtime()->get_screen()->ob_end_flush();
}

void bi_ob_end_clean(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  stack->get_runtime()->get_screen()->ob_end_clean();
}

void bi_ob_get_content(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  String text;
  stack->get_runtime()->get_screen()->ob_get(&text);
  result->set_string(text);
}

}  // namespace qzbase
