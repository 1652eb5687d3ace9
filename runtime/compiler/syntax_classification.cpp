// syntax_classification.cpp - BuildInput::classify_syntax: the module road up to the end of
// parsing, reported as classified ranges for editors.
//
// Every location handed out is a range of the classified text. Tokens and messages that the
// preprocessor collected while reading an included file carry locations of that file; they are
// left out, since an editor would paint or mark an unrelated range of its own text with them.
// A built-in call inside a statement of a branch not taken is left out too: items are painted in
// list order, and the call would otherwise cover part of the statement's inactive range.
#include "compiler/syntax_classification.h"

#include <qzbase.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include "vm/library.h"
#include "compiler/build_input.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

void add_tokens(std::vector<syntax_info_st>& items, uint32_t syntax_class, const token_list_type& tokens,
                const char* document) {
  for (const token_st& token : tokens) {
    if (token.document == document) items.push_back(syntax_info_st{syntax_class, token.location});
  }
}

// The character ranges of the statements of skipped branches, in text order.
class InactiveRanges {
 public:
  explicit InactiveRanges(const std::list<syntax_item_st>& items) {
    for (const syntax_item_st& item : items) {
      if (item.syntax_class == SYNTAX_INACTIVE) ranges_.emplace_back(item.location.begin_char, item.location.end_char);
    }
    std::sort(ranges_.begin(), ranges_.end());
  }
  // True when the range lies inside one of them (the ranges of statements do not overlap).
  bool covers(const document_location_st& location) const {
    auto after = std::upper_bound(ranges_.begin(), ranges_.end(),
                                  std::make_pair(location.begin_char, UINT32_MAX));
    if (after == ranges_.begin()) return false;
    --after;
    return location.end_char <= after->second;
  }

 private:
  std::vector<std::pair<uint32_t, uint32_t>> ranges_;
};

}  // namespace

std::unique_ptr<syntax_result_st> BuildInput::classify_syntax(const String& text) {
  QZ_TRACE;
  ParseModuleResult parsed;
  parse_module(text, &parsed);
  // The tokens of the classified text point at its start; those of included files do not.
  const char* document = text.read();

  auto result = std::make_unique<syntax_result_st>();
  std::vector<syntax_info_st>& items = result->syntax_items;
  for (const syntax_item_st& item : parsed.syntax_items) {
    items.push_back(syntax_info_st{item.syntax_class, item.location});
  }
  Runtime* runtime = stack != nullptr ? stack->get_runtime() : nullptr;
  const Library* library = runtime != nullptr ? runtime->builtin_library() : nullptr;
  if (library != nullptr) {
    InactiveRanges inactive(parsed.syntax_items);
    for (const parsed_call_st& call : parsed.calls) {
      if (library->find_function(call.name) == nullptr || inactive.covers(call.location)) continue;
      items.push_back(syntax_info_st{SYNTAX_BUILTIN, call.location});
    }
  }
  add_tokens(items, SYNTAX_COMMENT, preprocessor->comments, document);
  add_tokens(items, SYNTAX_MACRO, preprocessor->expanded_references, document);
  add_tokens(items, SYNTAX_INACTIVE, preprocessor->discarded, document);

  result->error_locations.assign(parsed.error_locations.begin(), parsed.error_locations.end());
  for (const build_message_record_st& message : messages.records) {
    if (message.has_source) continue;  // a message of an included file
    result->message_locations.push_back(error_location_st{message.location, message.context_location});
  }
  return result;
}

}  // namespace qzbase
