// The keyword codes are written twice: in the scanner's keyword table and in the grammar's %token
// list. The grammar's static_asserts pin only the ends of the range; this reads every %token line
// of the grammar source and checks it against the scanner's row of the same word.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "frontend/scanner.h"

using namespace qzbase;

namespace {

std::string ascii(const char32_t* w) {
  std::string s;
  for (; *w; ++w) s.push_back(static_cast<char>(*w));
  return s;
}

TEST(KeywordCodes, GrammarTokensMatchTheScannerTable) {
  std::ifstream in(QZ_TEST_SOURCE_DIR "/../runtime/frontend/grammar.y");
  ASSERT_TRUE(in) << "grammar.y not found";
  std::map<std::string, uint64_t> scanner;
  for (const scanner_keyword_st* row = scanner_keyword_table; row->word != nullptr; ++row)
    scanner[ascii(row->word)] = row->token;
  ASSERT_EQ(scanner.size(), kScannerKeywordCount);

  // Lines of the form: %token KW_NAME code "NAME"
  std::map<uint64_t, std::string> grammar;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string directive, kw, alias;
    uint64_t code = 0;
    if (!(fields >> directive >> kw >> code >> alias) || directive != "%token" || kw.rfind("KW_", 0) != 0) continue;
    const std::string name = kw.substr(3);
    EXPECT_TRUE(grammar.emplace(code, name).second) << "code " << code << " twice";
    if (code == QZ_TOKEN_KEYWORD_UNUSED) continue;  // a placeholder the scanner never returns
    auto it = scanner.find(name);
    if (it == scanner.end()) {
      ADD_FAILURE() << kw << " has no scanner row";
      continue;
    }
    EXPECT_EQ(it->second, code) << kw;
    EXPECT_EQ(alias, "\"" + name + "\"") << "the token's alias names its word";
  }
  // Every scanner row has its grammar token, and every code of the range is taken.
  EXPECT_EQ(grammar.size(), kScannerKeywordCount + 1);
  for (uint64_t c = QZ_TOKEN_KEYWORD_FIRST; c <= QZ_TOKEN_KEYWORD_LAST; ++c)
    EXPECT_TRUE(grammar.count(c)) << "no %token for code " << c;
}

}  // namespace
