// parse_query_fuzz.cpp - arbitrary bytes as a query string (UTF-8) for http.parsequery: the pairs
// come out with every key once; only 11 and 9009 (bad percent-decoding) may come out, and 1001
// while the collection class is not available. Any other exception, a crash or a sanitizer report
// is a fault.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "builtins/web_functions.h"
#include "web_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzbase;
  using namespace qzbase::web_fuzz;
  VmStack* stack = shared_stack();
  String query(reinterpret_cast<const char*>(data), size, Charset::utf8);
  try {
    std::set<std::string> keys;
    http_parse_query(
        query,
        [](void* ctx, const String& key, const String&) {
          if (!static_cast<std::set<std::string>*>(ctx)->insert(std::string(key.read(), key.size())).second)
            std::abort();
        },
        &keys);
  } catch (const RuntimeError& e) {
    require_code(e, {11, 9009});
  }
  Variant text;
  text.set_string(query);
  try {
    Variant collection = call(stack, bi_http_parsequery, {&text});
    collection.release(stack);
  } catch (const RuntimeError& e) {
    require_code(e, {11, 9009, 1001});
  }
  text.release(stack);
  return 0;
}
