// command_syntax.h - command option grammars.
//
// An option grammar lists a command's clauses in the order in which the built-in command expects
// its arguments: a name is a valued clause (one argument, null when absent), "(a,b,...)" a group of
// flags (one integer argument, the n-th flag bit n), a '+' after a name a repeatable clause (every
// value, each as one argument). The grammars themselves are the command table (syntax_tables.h).
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>
#include <unordered_map>

namespace qzbase {

// The hash and equality of Collation::unicode_machine (code points compared exactly), for flag names.
struct exact_string_hash {
  size_t operator()(const String& s) const;
};
struct exact_string_equal {
  bool operator()(const String& a, const String& b) const;
};

enum CommandSyntaxItemKind : uint8_t {
  COMMAND_ITEM_VALUE = 'N',       // a valued clause
  COMMAND_ITEM_FLAGS = 'B',       // a group of flags
  COMMAND_ITEM_REPEATABLE = '+',  // a repeatable valued clause
};

struct command_syntax_item_st {
  uint8_t kind;  // 'N', 'B' or '+'
  std::unordered_map<String, uint64_t, exact_string_hash, exact_string_equal> flags;  // 'B' only
  String name;    // empty for 'B'
  bool optional;  // always true from the grammar parser
};

// Appends the items of a grammar to the list (nothing is cached). A malformed grammar is a broken
// invariant (assert_failed_exception).
void parse_command_syntax(const char* grammar, std::list<command_syntax_item_st>* items);

// The number of arguments the items yield when no repeatable clause is given a value: one per
// valued clause and per flag group, none for a repeatable clause (which then yields one per value).
size_t command_syntax_fixed_argument_count(const std::list<command_syntax_item_st>& items);

}  // namespace qzbase
