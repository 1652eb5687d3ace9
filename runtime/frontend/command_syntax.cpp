// command_syntax.cpp - parsing command option grammars.
#include "frontend/command_syntax.h"

#include <cstring>

#include "values/tokenizer.h"

namespace qzbase {

size_t exact_string_hash::operator()(const String& s) const {
  QZ_TRACE;
  return Collation::unicode_machine->hash(s.read(), s.end(), s.get_charset());
}

bool exact_string_equal::operator()(const String& a, const String& b) const {
  QZ_TRACE;
  return Collation::unicode_machine->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                             b.get_charset()) == 0;
}

void parse_command_syntax(const char* grammar, std::list<command_syntax_item_st>* items) {
  QZ_TRACE;
  if (!grammar || !*grammar) return;
  token_list_type tokens;
  tokenize(grammar, grammar + std::strlen(grammar), Charset::ascii, &tokens);

  auto word = [](const token_st& t) { return String::create_from_scan_string(t.text()); };
  size_t i = 0;
  const size_t n = tokens.size();
  while (i < n) {
    const token_st& t = tokens[i];
    if (t.kind == ',') {
      ++i;
    } else if (t.kind == TOKEN_IDENTIFIER) {
      items->push_back(command_syntax_item_st{COMMAND_ITEM_VALUE, {}, word(t), true});
      ++i;
    } else if (t.kind == '+') {
      if (items->empty()) throw_assert_failed();
      items->back().kind = COMMAND_ITEM_REPEATABLE;
      ++i;
    } else if (t.kind == '(') {
      command_syntax_item_st group{COMMAND_ITEM_FLAGS, {}, String(), true};
      uint64_t bit = 0;
      ++i;
      for (;;) {
        if (i >= n || tokens[i].kind != TOKEN_IDENTIFIER) throw_assert_failed();
        group.flags.emplace(word(tokens[i]), bit);  // a repeated name keeps its first bit
        ++bit;
        ++i;
        if (i >= n) throw_assert_failed();
        if (tokens[i].kind == ')') {
          ++i;
          break;
        }
        if (tokens[i].kind != ',') throw_assert_failed();
        ++i;
      }
      items->push_back(std::move(group));
    } else {
      throw_assert_failed();
    }
  }
}

size_t command_syntax_fixed_argument_count(const std::list<command_syntax_item_st>& items) {
  QZ_TRACE;
  size_t count = 0;
  for (const command_syntax_item_st& item : items) {
    if (item.kind != COMMAND_ITEM_REPEATABLE) ++count;
  }
  return count;
}

}  // namespace qzbase
