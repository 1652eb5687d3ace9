// The keyword codes are written twice: in the scanner's keyword table and in the grammar's %token
// list. The grammar's static_asserts pin only the ends of the range; this reads every %token line
// of the grammar source and checks it against the scanner's row of the same word.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
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

  const std::regex token(R"(^%token\s+KW_(\w+)\s+(\d+)\s+\"([^\"]*)\")");
  std::map<uint64_t, std::string> grammar;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, token)) continue;
    uint64_t code = std::stoull(m[2]);
    EXPECT_TRUE(grammar.emplace(code, m[1]).second) << "code " << code << " twice";
    if (code == QZ_TOKEN_KEYWORD_UNUSED) continue;  // a placeholder the scanner never returns
    auto it = scanner.find(m[1]);
    if (it == scanner.end()) {
      ADD_FAILURE() << "KW_" << m[1] << " has no scanner row";
      continue;
    }
    EXPECT_EQ(it->second, code) << "KW_" << m[1];
    EXPECT_EQ(m[3].str(), m[1].str()) << "the token's alias names its word";
  }
  // Every scanner row has its grammar token, and every code of the range is taken.
  EXPECT_EQ(grammar.size(), kScannerKeywordCount + 1);
  for (uint64_t c = QZ_TOKEN_KEYWORD_FIRST; c <= QZ_TOKEN_KEYWORD_LAST; ++c)
    EXPECT_TRUE(grammar.count(c)) << "no %token for code " << c;
}

}  // namespace
