// Field and tag names: cleaning, cutting and numbering by uniqify.
#include <gtest/gtest.h>

#include "tables/uniqify.h"
#include "values/charset_registry.h"

namespace qzbase {
namespace {

struct Case {
  const char* name;
  std::vector<const char*> taken;
  size_t max_bytes;
  const char* expected;
  bool invalid, duplicate, too_long;
};

TEST(Uniqify, CleansCutsAndNumbers) {
  const Case cases[] = {
      {"amount", {}, 10, "amount", false, false, false},
      {"AMOUNT", {"Amount"}, 10, "AMOUNT2", false, true, false},
      {"amount", {"AMOUNT", "amount2"}, 10, "amount3", false, true, false},
      {"TWELVECHARSX", {}, 10, "TWELVECHAR", false, false, true},
      // The number replaces the end of a name that already fills the limit.
      {"ABCDEFGHIJ", {"abcdefghij"}, 10, "ABCDEFGHI2", false, true, false},
      {"ABCDEFGHIJ", {"abcdefghij", "ABCDEFGHI2", "ABCDEFGHI3", "ABCDEFGHI4", "ABCDEFGHI5", "ABCDEFGHI6",
                      "ABCDEFGHI7", "ABCDEFGHI8", "ABCDEFGHI9"},
       10, "ABCDEFGH10", false, true, false},
      {"first name", {}, 10, "first_name", true, false, false},
      {"1st", {}, 10, "_st", true, false, false},
      {"", {}, 10, "", true, false, false},
  };
  const Charset* cs = get_charset_by_codepage(1252, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    string_set_ci names;
    for (const char* t : c.taken) names.insert(String(t));
    bool invalid, duplicate, too_long;
    String out = uniqify(names, String(c.name), cs, c.max_bytes, &invalid, &duplicate, &too_long);
    EXPECT_EQ(out.get_charset(), cs);
    EXPECT_EQ(std::string(out.read(), out.size()), c.expected);
    EXPECT_EQ(invalid, c.invalid);
    EXPECT_EQ(duplicate, c.duplicate);
    EXPECT_EQ(too_long, c.too_long);
  }
}

TEST(Uniqify, CharactersTheTargetLacksBecomeUnderscores) {
  const Charset* cs = get_charset_by_codepage(1252, false);
  string_set_ci names;
  bool invalid, duplicate, too_long;
  String out = uniqify(names, String("prixé日"), cs, 10, &invalid, &duplicate, &too_long);
  EXPECT_TRUE(invalid);
  // The accented letter is in code page 1252 (0xE9); the ideograph is not.
  EXPECT_EQ(std::string(out.read(), out.size()), "prix\xE9_");
}

TEST(Uniqify, CutsWholeCharactersInUtf8) {
  string_set_ci names;
  bool invalid, duplicate, too_long;
  // Five two-byte letters in 9 bytes: four of them fit.
  String out = uniqify(names, String("ééééé"), Charset::utf8, 9, &invalid, &duplicate, &too_long);
  EXPECT_TRUE(too_long);
  EXPECT_FALSE(invalid);
  EXPECT_EQ(out.u8str(), "éééé");
}

}  // namespace
}  // namespace qzbase
