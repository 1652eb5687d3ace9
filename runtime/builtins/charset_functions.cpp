// charset_functions.cpp - naming and converting character sets: CHARSET, CPCURRENT, CPCONVERT
// and STRCONV. Detection (DETECTCHARSET) shares its routine with the file readers
// (charset_detection.cpp).
#include "builtins/text_arguments.h"
#include "builtins/value_functions.h"
#include "values/charset_registry.h"
#include "values/string_internal.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// A character-set argument: a string names the set, anything else is a table-file code page.
const Charset* charset_argument(VmStack* stack, size_t n) {
  const Variant* v = argument_value(stack, n);
  const Charset* cs = nullptr;
  if (v->tag == VT_STRING) {
    cs = get_charset_by_name(v->string.u8str().c_str());
  } else {
    const int64_t codepage = integer_argument(stack, n);
    if (codepage >= INT32_MIN && codepage <= INT32_MAX) cs = get_charset_by_codepage(static_cast<int>(codepage), false);
  }
  if (cs == nullptr) throw RuntimeError(11);
  return cs;
}

}  // namespace

String convert_charset(const String& text, const Charset* source, const Charset* target) {
  QZ_TRACE;
  const char* begin = text.read();
  const char* end = text.end();
  if (source == target && text.get_charset() == target) return text;
  if (source == target || is_binary_charset(target)) return String(begin, text.size(), target);
  size_t size = 0;
  if (source->calculate(begin, end, target, &size, 0) != 0) throw RuntimeError(9011);
  String out = allocate_text(size, target);
  if (size == 0) return out;
  char* dst = out.write();
  char* const dst_end = dst + size;
  if (source->convert(&begin, end, &dst, dst_end, target, 0) != 0 || dst != dst_end) throw RuntimeError(9011);
  return out;
}

void bi_charset(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  const Charset* cs = text_argument(stack, 1).get_charset();
  std::string name = cs->name();
  // The flagged twin marks text of fields kept without code-page translation; binary text has
  // only the one instance, which is flagged.
  if (cs->is_flagged() && !is_binary_charset(cs)) name += "/nocptrans";
  result->set_string(String(name.data(), name.size(), Charset::ascii));
}

void bi_cpcurrent(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  const Charset* cs = runtime != nullptr ? runtime->codepage : nullptr;
  result->set_integer(cs != nullptr ? cs->record().xbase_codepage : 0);
}

void bi_cpconvert(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2 || argc > 3) throw RuntimeError(11);
  const String& text = text_argument(stack, argc);
  const Charset* source = argc == 3 ? charset_argument(stack, 1) : text.get_charset();
  const Charset* target = charset_argument(stack, argc == 3 ? 2 : 1);
  result->set_string(convert_charset(text, source, target));
}

void bi_strconv(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  if (integer_argument(stack, 2) != 15) throw RuntimeError(1001, String("strconv"));
  result->set_string(stringToEncodedHexBinary(text_argument(stack, 1)));
}

}  // namespace qzbase
