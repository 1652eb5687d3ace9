// Tests of the command option grammars against the library's command signatures.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "frontend/command_syntax.h"
#include "vm/signatures.h"
#include "frontend/syntax_tables.h"

namespace qzbase {
namespace {

// The built-in library's command table: name and argument signature. "gather_name" is "IO", not
// "O": its option grammar "(memo),name" passes two arguments (the flag mask, then the object).
const std::pair<const char*, const char*> command_signatures[] = {
    {"add_columns", "CI|.?+"},
    {"append", "IC?"},
    {"assert", "LC"},
    {"browse", ""},
    {"begin_transaction", ""},
    {"cancel", ""},
    {"cd", "C"},
    {"clear", ""},
    {"continue", ""},
    {"copy_to", "CI"},
    {"create_table", "ICI?C?I|.?+"},
    {"declare", "CCIC"},
    {"delete_all_tags", ""},
    {"delete_file", "C"},
    {"delete_record", ""},
    {"delete_tag", "C"},
    {"display_structure", ""},
    {"drop_columns", "CC+"},
    {"do", "CC?.?|.?$+"},
    {"drop_table", "C"},
    {"echo", "|.?+"},
    {"echo_linefeed", "|.?+"},
    {"end_transaction", ""},
    {"error", "..?"},
    {"gather_from", "IA"},
    {"gather_memvar", "I"},
    {"gather_name", "IO"},  // not "O": two arguments
    {"go_bottom", "I.?"},
    {"go_record", ".?I"},
    {"go_top", "I.?"},
    {"index", "ICCC?C?"},
    {"locate", "CC?I"},
    {"mkdir", "C"},
    {"modify_command", "C"},
    {"pack", ""},
    {"private", "CC"},
    {"quit", ""},
    {"recall_record", ""},
    {"reindex", ""},
    {"rename_table", "CC"},
    {"replace", "C.?.?"},
    {"rollback", ""},
    {"run", "C"},
    {"scatter_memvar", "I"},
    {"scatter_name", "I.@*"},
    {"scatter_to", "I.@*"},
    {"seek", "I.?.?I?L?"},
    {"select", "."},
    {"set", "I."},
    {"set_century_to", "L"},
    {"set_datasession_to", "I?"},
    {"set_date_to", "C"},
    {"set_fdow_to", "I"},
    {"set_filter_to", "C?.?"},
    {"set_hours_to", "I"},
    {"set_library_to", "I|C+"},
    {"set_order_to", ".?.?I"},
    {"set_path_to", "I|C+"},
    {"set_point_to", "C"},
    {"set_procedure_to", "I|C+"},
    {"set_seconds_to", "L"},
    {"set_separator_to", "C"},
    {"set_sysformats_to", "L"},
    {"set_textmerge_to", "IC?.?"},
    {"skip", "I?.?"},
    {"textmerge", "|.?+"},
    {"throw", "."},
    {"unlock", "II?.?"},
    {"use", "IC?.?C?C?"},
    {"wait", "IC?I?"},
    {"zap", ""},};

std::string text(const String& s) { return std::string(s.read(), s.size()); }

std::list<command_syntax_item_st> parse(const char* grammar) {
  std::list<command_syntax_item_st> items;
  parse_command_syntax(grammar, &items);
  return items;
}

TEST(CommandSyntax, Empty) {
  EXPECT_TRUE(parse("").empty());
  EXPECT_TRUE(parse(nullptr).empty());
}

TEST(CommandSyntax, FlagGroupAndRepeatable) {
  auto items = parse("(additive),path+");
  ASSERT_EQ(items.size(), 2u);
  const auto& group = items.front();
  EXPECT_EQ(group.kind, 'B');
  EXPECT_EQ(group.name.size(), 0u);
  ASSERT_EQ(group.flags.size(), 1u);
  EXPECT_EQ(group.flags.at(String("additive")), 0u);
  EXPECT_TRUE(group.optional);
  EXPECT_EQ(items.back().kind, '+');
  EXPECT_EQ(text(items.back().name), "path");
  EXPECT_TRUE(items.back().flags.empty());
}

TEST(CommandSyntax, ValuedThenGroup) {
  auto items = parse("filename,(cdx)");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items.front().kind, 'N');
  EXPECT_EQ(text(items.front().name), "filename");
  EXPECT_EQ(items.back().kind, 'B');
  EXPECT_EQ(items.back().flags.at(String("cdx")), 0u);
}

TEST(CommandSyntax, FlagToAndValuedToMemvar) {
  auto items = parse("(on,off,show,noshow,additive,to),to_memvar,window");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items.front().flags.at(String("to")), 5u);
  EXPECT_EQ(items.front().flags.count(String("to_memvar")), 0u);
  EXPECT_EQ(items.front().flags.count(String("TO")), 0u);  // flag names compare exactly
  auto it = std::next(items.begin());
  EXPECT_EQ(it->kind, 'N');
  EXPECT_EQ(text(it->name), "to_memvar");
}

TEST(CommandSyntax, RepeatedFlagKeepsFirstBit) {
  auto items = parse("(a,b,a,c)");
  ASSERT_EQ(items.size(), 1u);
  const auto& flags = items.front().flags;
  EXPECT_EQ(flags.size(), 3u);
  EXPECT_EQ(flags.at(String("a")), 0u);
  EXPECT_EQ(flags.at(String("b")), 1u);
  EXPECT_EQ(flags.at(String("c")), 3u);
}

TEST(CommandSyntax, Locate) {
  auto items = parse(find_command(STMT_LOCATE)->grammar);
  ASSERT_EQ(items.size(), 3u);
  auto it = items.begin();
  EXPECT_EQ(text(it->name), "for");
  ++it;
  EXPECT_EQ(text(it->name), "while");
  ++it;
  EXPECT_EQ(it->flags.at(String("rest")), 0u);
  EXPECT_EQ(it->flags.at(String("nooptimize")), 1u);
}

TEST(CommandSyntax, MalformedGrammarsAreInvariantFailures) {
  for (const char* bad : {"(a", "(a;b)", "()", "(a,)", "+a", "a;b", "(a)(", "a b"}) {
    std::list<command_syntax_item_st> items;
    EXPECT_THROW(parse_command_syntax(bad, &items), assert_failed_exception) << bad;
  }
}

// For every command row, the grammar yields exactly the arguments the command's signature takes:
// one per valued clause and flag group (flag groups as integers), and a repeatable clause exactly
// where the signature's last entry repeats.
TEST(CommandSyntax, EveryGrammarMatchesItsCommandSignature) {
  std::map<std::string, const char*> signatures;
  for (const auto& [name, sig] : command_signatures) signatures[name] = sig;
  ASSERT_EQ(signatures.size(), 71u);

  for (const basic_command_st& row : command_table) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(signatures.count(row.name));
    function_signature_st sig;
    parse_function_signature(signatures[row.name], &sig);
    auto items = parse(row.grammar);

    size_t fixed = command_syntax_fixed_argument_count(items);
    bool repeatable_clause = !items.empty() && items.back().kind == '+';
    size_t signature_fixed = sig.entry_count - (sig.repeatable ? 1 : 0);
    EXPECT_EQ(fixed, signature_fixed);
    EXPECT_EQ(repeatable_clause, sig.repeatable);
    // Absent clauses pass null, so the statement always passes every fixed argument.
    EXPECT_GE(fixed, sig.required_count);

    auto entry = sig.entries.begin();
    for (const auto& item : items) {
      if (item.kind == '+') break;
      if (item.kind == 'B') {
        EXPECT_EQ(entry->type & 15u, 5u) << "a flag group is passed as an integer";
      }
      ++entry;
    }
  }
}

TEST(CommandSyntax, UncorrectedGatherNameWouldNotCompile) {
  function_signature_st sig;
  parse_function_signature("O", &sig);
  EXPECT_NE(command_syntax_fixed_argument_count(parse(find_command(STMT_GATHER_NAME)->grammar)),
            sig.entry_count);
}

}  // namespace
}  // namespace qzbase
