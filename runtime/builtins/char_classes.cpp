// char_classes.cpp - the character-class tests of a text's first character (ISALPHA, ISDIGIT,
// ...) and PROPER.
#include <unicode/uchar.h>

#include <string>

#include "builtins/text_arguments.h"
#include "builtins/text_functions.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {

// The test of the first code point of argument 1 (decoded in the text's own charset); an empty
// text has no first character and tests false.
template <UBool (*Test)(UChar32)>
void first_cu_test(VmStack* stack, size_t argc, Variant* result) {
  if (null_result(stack, argc, 1, 1, result)) return;
  const String& s = text_argument(stack, 1);
  if (s.size() == 0) {
    result->set_false();
    return;
  }
  const char* p = s.read();
  char32_t c = s.get_charset()->next(&p, s.end());
  result->set_bool(Test(static_cast<UChar32>(c)) != 0);
}

}  // namespace

void bi_isalnum(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  first_cu_test<u_isalnum>(stack, argc, result);
}

void bi_isalpha(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  first_cu_test<u_isalpha>(stack, argc, result);
}

void bi_isdigit(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  first_cu_test<u_isdigit>(stack, argc, result);
}

void bi_isgraph(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  first_cu_test<u_isgraph>(stack, argc, result);
}

void bi_islower(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  first_cu_test<u_islower>(stack, argc, result);
}

void bi_isupper(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  first_cu_test<u_isupper>(stack, argc, result);
}

// PROPER(text): a letter that starts a word (the text's start, or after white space) in upper
// case, every other character in lower case; white space is kept. A word that starts with
// anything but a letter stays all lower case. The result is built at its own size, so a
// character whose case partner is longer in the text's charset (U+0250 and U+2C6F in UTF-8) is
// never cut.
void bi_proper(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  String s = text_argument(stack, 1);
  const Charset* cs = s.get_charset();
  bool word_start = true;
  auto proper_case = [&word_start](UChar32 c) {
    if (word_start && u_isalpha(c)) {
      word_start = false;
      return u_toupper(c);
    }
    if (u_isspace(c)) {
      word_start = true;
      return c;
    }
    word_start = false;
    return u_tolower(c);
  };
  if (is_binary_charset(cs)) {
    // Raw bytes: ASCII letters change case, every other byte stays.
    String out = allocate_text(s.size(), cs);
    char* w = s.size() ? out.write() : nullptr;
    for (size_t i = 0; i < s.size(); ++i) {
      auto b = static_cast<unsigned char>(s.read()[i]);
      w[i] = static_cast<char>(b < 0x80 ? proper_case(b) : (word_start = false, b));
    }
    result->set_string(out);
    return;
  }
  std::u32string mapped;
  mapped.reserve(s.size() / cs->min_bytes());
  const char* p = s.read();
  const char* end = s.end();
  while (p < end) mapped.push_back(static_cast<char32_t>(proper_case(static_cast<UChar32>(cs->next(&p, end)))));
  String out(reinterpret_cast<const char*>(mapped.data()), mapped.size() * 4, Charset::utf32le);
  out.convert(cs, CON_EXACT, 0);
  result->set_string(out);
}

}  // namespace qzbase
