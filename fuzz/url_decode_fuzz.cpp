// url_decode_fuzz.cpp - arbitrary bytes as percent-encoded text (UTF-8) for http.urldecode: only
// 11 (a character outside ASCII, a bad escape) and 9009 (bytes that are not UTF-8) may come out.
// Text that is UTF-8 goes through http.urlencode and back unchanged. Any other exception, a crash
// or a sanitizer report is a fault.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "builtins/web_functions.h"
#include "web_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzbase;
  using namespace qzbase::web_fuzz;
  VmStack* stack = shared_stack();
  const char* bytes = reinterpret_cast<const char*>(data);
  Variant text;
  text.set_string(String(bytes, size, Charset::utf8));
  try {
    Variant decoded = call(stack, bi_http_urldecode, {&text});
    decoded.release(stack);
  } catch (const RuntimeError& e) {
    require_code(e, {11, 9009});
  }
  size_t valid_bytes = 0, valid_chars = 0, invalid = 0, first = 0;
  Charset::utf8->verify(bytes, size, &valid_bytes, &valid_chars, &invalid, &first);
  if (invalid == 0 && valid_bytes == size) {
    Variant encoded = call(stack, bi_http_urlencode, {&text});
    Variant back = call(stack, bi_http_urldecode, {&encoded});
    if (back.tag != VT_STRING || back.string.size() != size || std::memcmp(back.string.read(), bytes, size) != 0)
      std::abort();
    back.release(stack);
    encoded.release(stack);
  }
  text.release(stack);
  return 0;
}
