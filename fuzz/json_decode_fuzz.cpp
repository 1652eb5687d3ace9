// json_decode_fuzz.cpp - arbitrary bytes as JSON text (UTF-8) for Json.Decode. Only the escape
// error 1001 may come out. A text that decodes is encoded again, and that text must decode
// (member names are kept as written, so a second encoding may differ where a name holds an
// escape). Any other exception, a crash or a sanitizer report is a fault.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "builtins/web_functions.h"
#include "web_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzbase;
  using namespace qzbase::web_fuzz;
  VmStack* stack = shared_stack();
  Variant text;
  text.set_string(String(reinterpret_cast<const char*>(data), size, Charset::utf8));
  try {
    Variant value = call(stack, bi_json_decode, {&text});
    if (value.tag != VT_NULL || (size >= 4 && std::memcmp(data, "null", 4) == 0)) {
      String once = json_encode(stack, &value);
      Variant again;
      if (!json_decode(stack, once, &again)) std::abort();
      again.release(stack);
    }
    value.release(stack);
  } catch (const RuntimeError& e) {
    require_code(e, {1001});
  }
  text.release(stack);
  return 0;
}
