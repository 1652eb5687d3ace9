// patterns.cpp - regular expressions: UMATCH and UREPLACE.
//
// Pattern, subject and replacement are taken as UTF-16 and run through ICU's matcher; the texts
// these functions give back are UTF-16LE. Flags: 1 ignores case, 2 lets "." match line ends, 4
// makes "^" and "$" match at every line; an unknown escape is always a pattern error (9007).
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "builtins/regular_expressions.h"
#include "builtins/text_arguments.h"
#include "builtins/text_functions.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

uint32_t matcher_flags(VmStack* stack, size_t argc) {
  uint32_t flags = UREGEX_ERROR_ON_UNKNOWN_ESCAPES;
  if (argc >= 4 && !is_null_argument(Param(stack, 4))) {
    int64_t bits = integer_argument(stack, 4);
    if (bits & 1) flags |= UREGEX_CASE_INSENSITIVE;
    if (bits & 2) flags |= UREGEX_DOTALL;
    if (bits & 4) flags |= UREGEX_MULTILINE;
  }
  return flags;
}

// Argument n as a UTF-16LE string.
String utf16_argument(VmStack* stack, size_t n) {
  String s = text_argument(stack, n);
  s.convert(Charset::utf16le, CON_NONE, 0);
  return s;
}

// The units of a UTF-16LE string, copied (a slice need not be aligned for char16_t).
icu::UnicodeString unicode_of(const String& s) {
  if (s.size() / 2 > static_cast<size_t>(INT32_MAX)) throw RuntimeError(11);  // beyond what ICU holds
  int32_t units = static_cast<int32_t>(s.size() / 2);
  icu::UnicodeString out;
  if (units == 0) return out;
  char16_t* buffer = out.getBuffer(units);
  if (buffer == nullptr) throw RuntimeError(11);
  std::memcpy(buffer, s.read(), static_cast<size_t>(units) * 2);
  out.releaseBuffer(units);
  return out;
}

// The compiled patterns last used on this thread, so that a loop does not compile its pattern on
// every call. Each thread has its own: nothing is shared, nothing is locked.
class PatternCache {
 public:
  const URegularExpression* get(const icu::UnicodeString& text, uint32_t flags) {
    for (Entry& e : entries_) {
      if (e.pattern && e.flags == flags && e.text == text) return e.pattern.get();
    }
    UErrorCode status = U_ZERO_ERROR;
    Regex pattern = compile_regex(text.getBuffer(), text.length(), flags, &status);
    if (U_FAILURE(status) || !pattern) throw RuntimeError(9007);
    Entry& slot = entries_[next_];
    next_ = (next_ + 1) % kEntries;
    slot.flags = flags;
    slot.text = text;
    slot.pattern = std::move(pattern);
    return slot.pattern.get();
  }

 private:
  static constexpr size_t kEntries = 8;
  struct Entry {
    uint32_t flags = 0;
    icu::UnicodeString text;
    Regex pattern;
  };
  Entry entries_[kEntries];
  size_t next_ = 0;
};

const URegularExpression* compiled_pattern(const icu::UnicodeString& text, uint32_t flags) {
  static thread_local PatternCache cache;
  return cache.get(text, flags);
}

// A matcher over subject, which must outlive it.
Regex matcher_for(const URegularExpression* pattern, const icu::UnicodeString& subject) {
  UErrorCode status = U_ZERO_ERROR;
  Regex m = regex_matcher(pattern, subject.getBuffer(), subject.length(), &status);
  if (U_FAILURE(status) || !m) throw RuntimeError(9007);
  return m;
}

// Appends to dest what UREPLACE puts for the current match (as the matcher's own appendReplacement
// with a UnicodeString does).
void append_replacement(URegularExpression* m, const icu::UnicodeString& replacement, icu::UnicodeString& dest,
                        UErrorCode* status) {
  UText replacement_text = UTEXT_INITIALIZER;
  utext_openConstUnicodeString(&replacement_text, &replacement, status);
  if (U_SUCCESS(*status)) {
    UText dest_text = UTEXT_INITIALIZER;
    utext_openUnicodeString(&dest_text, &dest, status);
    if (U_SUCCESS(*status)) {
      uregex_appendReplacementUText(m, &replacement_text, &dest_text, status);
      utext_close(&dest_text);
    }
    utext_close(&replacement_text);
  }
}

// Appends to dest the subject after the last match.
void append_tail(URegularExpression* m, icu::UnicodeString& dest) {
  UErrorCode status = U_ZERO_ERROR;
  UText dest_text = UTEXT_INITIALIZER;
  utext_openUnicodeString(&dest_text, &dest, &status);
  if (U_SUCCESS(status)) {
    uregex_appendTailUText(m, &dest_text, &status);
    utext_close(&dest_text);
  }
}

// A by-reference argument n that was passed; null otherwise.
Variant* output_argument(VmStack* stack, size_t argc, size_t n) {
  if (argc < n) return nullptr;
  Variant* v = Param(stack, n);
  return v->tag == VT_REFERENCE ? v->reference.target : nullptr;
}

// The units [begin, end) of a UTF-16LE text as its slice.
String units_slice(const String& s, int32_t begin, int32_t end) {
  return String(s, s.read() + 2 * static_cast<size_t>(begin), s.read() + 2 * static_cast<size_t>(end));
}

}  // namespace

// UMATCH(pattern, subject [, @groups [, flags [, @rest]]]): whether the pattern occurs in the
// subject. On a match, groups becomes an array of the whole match and each group (empty for a
// group that took no part), and rest the subject after the match.
void bi_umatch(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  uint32_t flags = matcher_flags(stack, argc);
  icu::UnicodeString pattern_text = unicode_of(utf16_argument(stack, 1));
  String subject = utf16_argument(stack, 2);
  icu::UnicodeString subject_text = unicode_of(subject);
  const URegularExpression* pattern = compiled_pattern(pattern_text, flags);
  Regex m = matcher_for(pattern, subject_text);
  UErrorCode status = U_ZERO_ERROR;
  bool found = uregex_findNext(m.get(), &status);
  if (U_FAILURE(status)) throw RuntimeError(9007);
  if (!found) {
    result->set_false();
    return;
  }
  if (Variant* groups = output_argument(stack, argc, 3)) {
    int32_t count = uregex_groupCount(m.get(), &status);
    if (U_FAILURE(status)) throw RuntimeError(9007);
    Array* array = groups->dimension(stack, static_cast<size_t>(count) + 1, 0);
    for (int32_t i = 0; i <= count; ++i) {
      int32_t begin = uregex_start(m.get(), i, &status);
      int32_t end = uregex_end(m.get(), i, &status);
      if (U_FAILURE(status)) throw RuntimeError(9007);
      Variant* element = array->write(stack, static_cast<size_t>(i) + 1);
      element->release(stack);
      element->set_string(begin < 0 ? String(0, Charset::utf16le) : units_slice(subject, begin, end));
    }
  }
  if (Variant* rest = output_argument(stack, argc, 5)) {
    int32_t end = uregex_end(m.get(), 0, &status);
    if (U_FAILURE(status)) throw RuntimeError(9007);
    String tail = units_slice(subject, end, subject_text.length());
    rest->release(stack);
    rest->set_string(tail);
  }
  result->set_true();
}

// UREPLACE(pattern, subject, replacement [, flags [, @count]]): every match replaced ("$n" names
// group n). A replacement the matcher refuses (a group the pattern lacks) is 9007, never a text
// replaced halfway.
void bi_ureplace(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 3, 3, result)) return;
  uint32_t flags = matcher_flags(stack, argc);
  icu::UnicodeString pattern_text = unicode_of(utf16_argument(stack, 1));
  icu::UnicodeString subject_text = unicode_of(utf16_argument(stack, 2));
  icu::UnicodeString replacement = unicode_of(utf16_argument(stack, 3));
  const URegularExpression* pattern = compiled_pattern(pattern_text, flags);
  Regex m = matcher_for(pattern, subject_text);
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString out;
  int64_t count = 0;
  while (uregex_findNext(m.get(), &status) && U_SUCCESS(status)) {
    append_replacement(m.get(), replacement, out, &status);
    if (U_FAILURE(status)) break;
    ++count;
  }
  if (U_FAILURE(status)) throw RuntimeError(9007);
  append_tail(m.get(), out);
  if (out.isBogus()) throw RuntimeError(11);
  String text = allocate_text(checked_text_size(static_cast<size_t>(out.length()), 2), Charset::utf16le);
  if (out.length() > 0) std::memcpy(text.write(), out.getBuffer(), static_cast<size_t>(out.length()) * 2);
  if (Variant* replaced = output_argument(stack, argc, 5)) {
    replaced->release(stack);
    replaced->set_integer(static_cast<long>(count));
  }
  result->set_string(text);
}

}  // namespace qzbase
