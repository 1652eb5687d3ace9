// uniqify.cpp - field and tag names: cleaned, cut and numbered.
#include "tables/uniqify.h"

#include <cstdio>
#include <string>

namespace qzbase {

namespace {

// Whether the code point has a form in cs (a round trip through UTF-32 would substitute it).
bool representable(char32_t c, const Charset* cs) {
  if (cs == Charset::binary) return c < 0x80;
  size_t bytes = 0;
  const char* p = reinterpret_cast<const char*>(&c);
  return Charset::utf32le->calculate(p, p + 4, cs, &bytes, 1) == 0;
}

// Drops whole characters from the end until the text fits max_bytes; true when any was dropped.
bool cut_to(String* text, size_t max_bytes) {
  if (text->size() <= max_bytes) return false;
  const Charset* cs = text->get_charset();
  const char* begin = text->read();
  const char* end = text->end();
  while (end > begin && static_cast<size_t>(end - begin) > max_bytes) cs->prev(&end, begin);
  *text = String(*text, begin, end);
  return true;
}

}  // namespace

bool string_less_ci::operator()(const String& a, const String& b) const {
  QZ_TRACE;
  return a.cmp(b, Collation::unicode_machine_ci) < 0;
}

String uniqify(const string_set_ci& names, const String& name, const Charset* cs, size_t max_bytes, bool* invalid,
               bool* duplicate, bool* too_long) {
  QZ_TRACE;
  *invalid = false;
  *duplicate = false;
  *too_long = false;

  // Cleaned in UTF-32 first, so that a character the target lacks becomes '_' as well instead of
  // the converter's substitute.
  String symbol = String::symbolify(name, invalid, Charset::utf32le);
  {
    char32_t* chars = reinterpret_cast<char32_t*>(symbol.write());
    size_t count = symbol.size() / 4;
    for (size_t i = 0; i < count; ++i) {
      if (!representable(chars[i], cs)) {
        chars[i] = U'_';
        *invalid = true;
      }
    }
  }
  symbol.convert(cs, CON_NONE, 0);

  *too_long = cut_to(&symbol, max_bytes);

  String result = symbol;
  for (unsigned counter = 2; names.count(result) != 0; ++counter) {
    *duplicate = true;
    char digits[16];
    int n = std::snprintf(digits, sizeof digits, "%u", counter);
    String suffix(digits, static_cast<size_t>(n), Charset::ascii);
    suffix.convert(cs, CON_NONE, 0);
    if (suffix.size() > max_bytes) break;  // no room for any number: leave the name as it is
    String base = symbol;
    cut_to(&base, max_bytes - suffix.size());
    result = base;
    result.add(suffix);
  }
  return result;
}

}  // namespace qzbase
