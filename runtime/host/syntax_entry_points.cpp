// syntax_entry_points.cpp - the exported pair through which editors classify a text.
//
// SyntaxClassifyString keeps the result under a handle until SyntaxFetchClassifications copies
// and frees it. Handles are numbers of a registry rather than addresses, so a stale, repeated or
// made-up handle is refused instead of freeing memory twice or reading freed memory.
#include <qzbase.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "compiler/build_input.h"
#include "compiler/syntax_classification.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

constexpr int kInvalidArgument = 11;

// Results not fetched yet, by handle; several host threads may classify at once.
struct SyntaxResultRegistry {
  std::mutex lock;
  long next_handle = 1;
  std::unordered_map<long, std::unique_ptr<syntax_result_st>> results;
};

SyntaxResultRegistry& registry() {
  static SyntaxResultRegistry instance;
  return instance;
}

bool fits_count(size_t n) { return n <= UINT_MAX; }

}  // namespace

int SyntaxClassifyString(Runtime* runtime, const char* text, size_t size, const Charset* cs, long* handle,
                         unsigned* classifications, unsigned* locations, unsigned* errors) {
  QZ_TRACE;
  if (runtime == nullptr || cs == nullptr || handle == nullptr || classifications == nullptr ||
      locations == nullptr || errors == nullptr || (text == nullptr && size != 0)) {
    return kInvalidArgument;
  }
  std::unique_ptr<syntax_result_st> result;
  try {
    VmStack stack(runtime, 512, 64);
    BuildInput input(&stack);
    result = input.classify_syntax(String(text, size, cs));
  } catch (const RuntimeError& e) {
    return e.code;
  }
  // The caller sizes its arrays from the counts: a count that does not fit would overrun them.
  if (!fits_count(result->syntax_items.size()) || !fits_count(result->error_locations.size()) ||
      !fits_count(result->message_locations.size())) {
    return kInvalidArgument;
  }
  const auto n_items = static_cast<unsigned>(result->syntax_items.size());
  const auto n_locations = static_cast<unsigned>(result->error_locations.size());
  const auto n_messages = static_cast<unsigned>(result->message_locations.size());
  SyntaxResultRegistry& r = registry();
  {
    std::lock_guard<std::mutex> guard(r.lock);
    long id = r.next_handle++;
    r.results.emplace(id, std::move(result));
    *handle = id;
  }
  *classifications = n_items;
  *locations = n_locations;
  *errors = n_messages;
  return 0;
}

int SyntaxFetchClassifications(long handle, syntax_info_st* classifications, document_location_st* locations,
                               error_location_st* errors) {
  QZ_TRACE;
  std::unique_ptr<syntax_result_st> result;
  {
    SyntaxResultRegistry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto found = r.results.find(handle);
    if (found == r.results.end()) return kInvalidArgument;
    const syntax_result_st& kept = *found->second;
    if ((classifications == nullptr && !kept.syntax_items.empty()) ||
        (locations == nullptr && !kept.error_locations.empty()) ||
        (errors == nullptr && !kept.message_locations.empty())) {
      return kInvalidArgument;
    }
    result = std::move(found->second);
    r.results.erase(found);
  }
  // A list that is empty may come with a null array.
  if (!result->syntax_items.empty()) std::copy(result->syntax_items.begin(), result->syntax_items.end(), classifications);
  if (!result->error_locations.empty()) {
    std::copy(result->error_locations.begin(), result->error_locations.end(), locations);
  }
  if (!result->message_locations.empty()) {
    std::copy(result->message_locations.begin(), result->message_locations.end(), errors);
  }
  return 0;
}

}  // namespace qzbase
