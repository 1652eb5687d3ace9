// regular_expressions.h - ICU's regular expressions through its C interface, whose library is
// opened on first use (dynload/icu_i18n.cpp).
#pragma once

#include <unicode/uregex.h>

#include <cstdint>
#include <memory>

namespace qzbase {

struct RegexCloser {
  void operator()(URegularExpression* regex) const { uregex_close(regex); }
};
using Regex = std::unique_ptr<URegularExpression, RegexCloser>;

// The pattern of `length` UTF-16 units compiled with flags; null, with *status set, when ICU
// refuses it. ICU's C interface refuses an empty pattern, which its compiler takes: an empty group,
// which matches the same (none of the flags given here bears on it), stands in for it.
inline Regex compile_regex(const char16_t* units, int32_t length, uint32_t flags, UErrorCode* status) {
  static const char16_t kEmptyGroup[] = u"(?:)";
  if (length == 0) {
    units = kEmptyGroup;
    length = 4;
  }
  UParseError where;
  return Regex(uregex_open(units, length, flags, &where, status));
}

// A matcher of its own for a compiled pattern, over `length` units of text, which must outlive it
// (ICU reads the text where it lies). Null, with *status set, on failure.
inline Regex regex_matcher(const URegularExpression* compiled, const char16_t* text, int32_t length,
                           UErrorCode* status) {
  static const char16_t kNoText[] = u"";
  Regex matcher(uregex_clone(compiled, status));
  if (matcher) uregex_setText(matcher.get(), text != nullptr ? text : kNoText, length, status);
  return matcher;
}

}  // namespace qzbase
