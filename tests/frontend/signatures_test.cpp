// Tests of function signatures: every signature string of piece-03's function,
// command and system-variable tables parses, and the iterator's rules.
#include <gtest/gtest.h>

#include <qzbase.h>

#include "frontend/signatures.h"

namespace qzbase {
namespace {

// Every signature string of piece-03 (argument and result signatures of the function table, the
// command table and the system-variable table), with the line of piece-03.md where it first appears.
struct spec_signature_st {
  const char* signature;
  int line;
};
const spec_signature_st piece03_signatures[] = {
    {"L", 122},
    {"I", 122},
    {"N", 122},
    {"Y", 122},
    {"D", 122},
    {"T", 122},
    {"C", 122},
    {"O", 122},
    {"A", 122},
    {".", 932},
    {"I?", 3271},
    {".?", 3271},
    {"C?|.?", 3409},
    {"C?", 3409},
    {"D?", 3411},
    {"C|C", 3412},
    {"|I", 3413},
    {"C?I?", 3414},
    {".?I?", 3415},
    {"|.", 3417},
    {"CI", 3418},
    {"CC|.", 3419},
    {"C?C?|C?", 3420},
    {"C?I?|I?", 3421},
    {".?|C?", 3422},
    {"C|L", 3435},
    {"C|.@", 3442},
    {".|L", 3443},
    {"A@|I", 3446},
    {"IC", 3447},
    {"IC.", 3448},
    {"IC|C?", 3449},
    {"I|C?C?A@", 3450},
    {"I|C", 3451},
    {"CI|.?+", 3457},
    {"IC?", 3458},
    {"LC", 3459},
    {"ICI?C?I|.?+", 3467},
    {"CCIC", 3468},
    {"CC+", 3474},
    {"CC?.?|.?$+", 3475},
    {"|.?+", 3477},
    {"..?", 3480},
    {"IA", 3481},
    {"I.?", 3484},
    {".?I", 3485},
    {"ICCC?C?", 3487},
    {"CC?I", 3488},
    {"CC", 3492},
    {"C.?.?", 3497},
    {"I.@*", 3501},
    {"I.?.?I?L?", 3503},
    {"I.", 3505},
    {"C?.?", 3510},
    {"I|C+", 3512},
    {"C?.?I", 3513},
    {"IC?.?", 3520},
    {"I?.?", 3521},
    {"II?.?", 3524},
    {"IC?.?C?C?", 3525},
    {"IC?I?", 3526},
    {"", 3614},
    {"C?C?|I?", 4199},
    {"C?|.+", 4200},
    {"I?|C", 4205},
    {"C?C?C?", 4206},
    {"C?+", 4210},
    {".?|II", 4277},
    {"C?I?|C?", 4279},
    {"N?", 4280},
    {"C?|C?", 4373},
    {"C?C?|.@*I.@", 4375},
    {"L?", 4375},
    {"C?C?C?|I.@", 4376},
    {"C?C?", 4377},
    {".+", 4432},
    {"C?.", 4435},
    {".?.?", 4489},
    {"N?N?", 4493},
    {".?.?+", 4495},
    {".?.?.?", 4496},
    {".L", 4497},
    {"I?I?|I?+", 4501},
    {"I?I?", 4503},
    {"Y?", 4506},
    {"NNN", 4508},
    {"NNI", 4509},
    {"|N", 4510},
    {".?|.?", 4562},
    {"|I?I?I?", 4606},
    {"|I?I?I?I?I?I?", 4607},
    {"T?", 4607},
    {"D?|I", 4613},
    {"T?|I", 4615},
    {"D|I", 4618},
    {"|N?", 4620},
    {"..|.", 4682},
    {"II?.*", 4736},
    {"A|I", 4737},
    {"AI|I", 4738},
    {"AII", 4739},
    {"A@I", 4740},
    {"A.@|III", 4741},
    {"A.|I", 4742},
    {".@*", 4744},
    {"A@", 4745},
    {".@", 4748},
    {"A@C", 4749},
    {".@C|IC+", 4750},
    {"C|IC", 4827},
    {"II", 4829},
    {"I|I", 4830},
    {"II|I", 4831},
    {"C|.", 5033},
    {"C.|.", 5034},
    {"C|.+", 5143},
    {".?C|LII", 5146},
    {"L?.?.?", 5147},
    {".*.?", 5148},
    {"C.@", 5154},
    {"C.@.@", 5156},
    {"CA@", 5157},
    {"C|.@C", 5274},
    {"C|.@.@C", 5275},
    {"C|ICI", 5277},
    {"C|I", 5390},
    {".@*|CCI", 5392},
    {"I|.+", 5545},
    {".@*|.", 5880},
    {"|.?", 5949},
    {"|C", 5951},
    {"|IC?", 5960},
    {"C?C?|.?+", 6021},
    {"C?C?C?|.?+", 6022},
    {"OC|.?", 6023},
    {"OC", 6024},
    {"OCI", 6026},
    {".@O|I", 6027},};

std::vector<function_signature_entry_st> walk(const function_signature_st& sig, size_t n) {
  function_signature_iter_st it;
  function_signature_iter_init(&it, &sig);
  std::vector<function_signature_entry_st> out;
  function_signature_entry_st e{};
  for (size_t i = 0; i < n && function_signature_iter_next(&it, &e); ++i) out.push_back(e);
  return out;
}

TEST(Signatures, EveryPiece03SignatureParses) {
  for (const auto& s : piece03_signatures) {
    function_signature_st sig;
    ASSERT_NO_THROW(parse_function_signature(s.signature, &sig)) << s.signature << " (line " << s.line << ")";
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

  // The examples of Part 4.140.
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
