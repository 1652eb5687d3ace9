// Tests of function signatures: every signature string of the built-in function,
// command and system-variable tables parses, and the iterator's rules.
#include <gtest/gtest.h>

#include <qzbase.h>

#include "vm/signatures.h"

namespace qzbase {
namespace {

// Every signature string of the library (argument and result signatures of the function table, the
// command table and the system-variable table), each once.
const char* const library_signatures[] = {
    "L", "I", "N", "Y", "D", "T", "C", "O", "A", ".", "I?", ".?", "C?|.?", "C?", "D?", "C|C", "|I",
    "C?I?", ".?I?", "|.", "CI", "CC|.", "C?C?|C?", "C?I?|I?", ".?|C?", "C|L", "C|.@", ".|L", "A@|I",
    "IC", "IC.", "IC|C?", "I|C?C?A@", "I|C", "CI|.?+", "IC?", "LC", "ICI?C?I|.?+", "CCIC", "CC+",
    "CC?.?|.?$+", "|.?+", "..?", "IA", "I.?", ".?I", "ICCC?C?", "CC?I", "CC", "C.?.?", "I.@*",
    "I.?.?I?L?", "I.", "C?.?", "I|C+", "C?.?I", "IC?.?", "I?.?", "II?.?", "IC?.?C?C?", "IC?I?", "",
    "C?C?|I?", "C?|.+", "I?|C", "C?C?C?", "C?+", ".?|II", "C?I?|C?", "N?", "C?|C?", "C?C?|.@*I.@",
    "L?", "C?C?C?|I.@", "C?C?", ".+", "C?.", ".?.?", "N?N?", ".?.?+", ".?.?.?", ".L", "I?I?|I?+",
    "I?I?", "Y?", "NNN", "NNI", "|N", ".?|.?", "|I?I?I?", "|I?I?I?I?I?I?", "T?", "D?|I", "T?|I",
    "D|I", "|N?", "..|.", "II?.*", "A|I", "AI|I", "AII", "A@I", "A.@|III", "A.|I", ".@*", "A@",
    ".@", "A@C", ".@C|IC+", "C|IC", "II", "I|I", "II|I", "C|.", "C.|.", "C|.+", ".?C|LII", "L?.?.?",
    ".*.?", "C.@", "C.@.@", "CA@", "C|.@C", "C|.@.@C", "C|ICI", "C|I", ".@*|CCI", "I|.+", ".@*|.",
    "|.?", "|C", "|IC?", "C?C?|.?+", "C?C?C?|.?+", "OC|.?", "OC", "OCI", ".@O|I",
};

std::vector<function_signature_entry_st> walk(const function_signature_st& sig, size_t n) {
  function_signature_iter_st it;
  function_signature_iter_init(&it, &sig);
  std::vector<function_signature_entry_st> out;
  function_signature_entry_st e{};
  for (size_t i = 0; i < n && function_signature_iter_next(&it, &e); ++i) out.push_back(e);
  return out;
}

TEST(Signatures, EveryLibrarySignatureParses) {
  for (const char* s : library_signatures) {
    function_signature_st sig;
    ASSERT_NO_THROW(parse_function_signature(s, &sig)) << s;
    EXPECT_EQ(sig.entry_count, sig.entries.size());
    EXPECT_LE(sig.required_count, sig.entry_count);
  }
}

TEST(Signatures, Empty) {
  function_signature_st sig;
  parse_function_signature("", &sig);
  EXPECT_EQ(sig.entry_count, 0u);
  EXPECT_EQ(sig.required_count, 0u);
  EXPECT_FALSE(sig.repeatable);
  function_signature_iter_st it;
  function_signature_iter_init(&it, &sig);
  EXPECT_TRUE(function_signature_iter_done(&it));
  function_signature_entry_st e{};
  EXPECT_FALSE(function_signature_iter_next(&it, &e));
  EXPECT_EQ(it.index, 0u);
}

TEST(Signatures, OptionalOnly) {
  function_signature_st sig;
  parse_function_signature("|.", &sig);
  EXPECT_EQ(sig.entry_count, 1u);
  EXPECT_EQ(sig.required_count, 0u);
  EXPECT_EQ(sig.entries.front().type, 0u);

  function_signature_st trailing;
  parse_function_signature("I|", &trailing);
  EXPECT_EQ(trailing.entry_count, 1u);
  EXPECT_EQ(trailing.required_count, 1u);
}

TEST(Signatures, RepeatableEntry) {
  function_signature_st sig;
  parse_function_signature("C?|.+", &sig);
  EXPECT_EQ(sig.entry_count, 2u);
  EXPECT_EQ(sig.required_count, 1u);
  EXPECT_TRUE(sig.repeatable);
  EXPECT_EQ(sig.repeat_entry.type, 0u);

  function_signature_iter_st it;
  function_signature_iter_init(&it, &sig);
  EXPECT_FALSE(function_signature_iter_done(&it));
  function_signature_entry_st e{};
  ASSERT_TRUE(function_signature_iter_next(&it, &e));
  EXPECT_EQ(e.type, 10u + 16u);
  EXPECT_TRUE(function_signature_iter_done(&it));  // done after the required count
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(function_signature_iter_next(&it, &e));
    EXPECT_EQ(e.type, 0u);
  }
  EXPECT_EQ(it.index, 11u);
  EXPECT_TRUE(function_signature_iter_done(&it));
}

TEST(Signatures, IteratorStopsWithoutRepeat) {
  function_signature_st sig;
  parse_function_signature("II?", &sig);
  auto entries = walk(sig, 5);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, 5u);
  EXPECT_EQ(entries[1].type, 21u);

  function_signature_iter_st it;
  function_signature_iter_init(&it, &sig);
  function_signature_entry_st e{};
  function_signature_iter_next(&it, &e);
  EXPECT_FALSE(function_signature_iter_done(&it));  // one of two required
  function_signature_iter_next(&it, &e);
  EXPECT_TRUE(function_signature_iter_done(&it));
  EXPECT_FALSE(function_signature_iter_next(&it, &e));
  EXPECT_EQ(it.index, 2u);
}

TEST(Signatures, Modifiers) {
  function_signature_st sig;
  parse_function_signature("A@|I", &sig);
  auto e = walk(sig, 2);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].type, 13u);
  EXPECT_TRUE(e[0].by_reference);
  EXPECT_FALSE(e[0].rvalue_allowed);
  EXPECT_EQ(e[1].type, 5u);
  EXPECT_EQ(sig.required_count, 1u);

  function_signature_st dollar;
  parse_function_signature(".?$", &dollar);
  EXPECT_TRUE(dollar.entries.front().by_reference);
  EXPECT_TRUE(dollar.entries.front().rvalue_allowed);
  EXPECT_EQ(dollar.entries.front().type, 16u);

  function_signature_st twice;
  parse_function_signature("C??", &twice);
  EXPECT_EQ(twice.entries.front().type, 26u);

  function_signature_st star;
  parse_function_signature("I.@*", &star);
  auto s = walk(star, 2);
  EXPECT_TRUE(s[1].default_read);
  EXPECT_TRUE(s[1].by_reference);
  EXPECT_FALSE(s[0].default_read);

  function_signature_st letters;
  parse_function_signature(".LINYDTCOA", &letters);
  const uint32_t codes[] = {0, 1, 5, 6, 7, 8, 9, 10, 11, 13};
  size_t i = 0;
  for (const auto& entry : letters.entries) EXPECT_EQ(entry.type, codes[i++]);
  EXPECT_EQ(letters.required_count, 10u);

  // Typical forms.
  function_signature_st a;
  parse_function_signature("I|C+", &a);
  EXPECT_EQ(a.required_count, 1u);
  EXPECT_TRUE(a.repeatable);
  EXPECT_EQ(a.repeat_entry.type, 10u);
  function_signature_st b;
  parse_function_signature("C?C?|.@*I.@", &b);
  EXPECT_EQ(b.entry_count, 5u);
  EXPECT_EQ(b.required_count, 2u);
  EXPECT_FALSE(b.repeatable);
  function_signature_st c;
  parse_function_signature("CC?.?|.?$+", &c);
  EXPECT_EQ(c.entry_count, 4u);
  EXPECT_EQ(c.required_count, 3u);
  EXPECT_TRUE(c.repeatable);
  EXPECT_TRUE(c.repeat_entry.rvalue_allowed);
  EXPECT_EQ(c.repeat_entry.type, 16u);
}

TEST(Signatures, BrokenSignaturesAreInvariantFailures) {
  for (const char* bad : {"X", "C+I", "I+|", "?", "c", "I C"}) {
    function_signature_st sig;
    EXPECT_THROW(parse_function_signature(bad, &sig), assert_failed_exception) << bad;
  }
}

}  // namespace
}  // namespace qzbase
