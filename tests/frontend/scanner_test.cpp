// Tests of the scanner, the keyword table and the literal builders.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "frontend/scanner.h"

namespace qzbase {

namespace {

// The grammar code of the first token of a UTF-8 text, as the parser would receive it.
int scan_first(const char* text, const Charset* cs = Charset::utf8) {
  token_list_type tokens;
  String source = String::fromBytes(text, Charset::utf8);
  if (cs != Charset::utf8) source.convert(cs, CON_NONE, 0);
  tokenize(source.read(), source.end(), source.get_charset(), &tokens);
  token_st start{};
  start.kind = QZ_TOKEN_START_STATEMENT;
  Scanner scanner(tokens.cbegin(), tokens.cend(), start);
  QZSTYPE value{};
  document_location_st location{};
  EXPECT_EQ(scanner.lex(&value, &location), QZ_TOKEN_START_STATEMENT);
  return scanner.lex(&value, &location);
}

scan_string_st ascii(const char* text) {
  return scan_string_st{text, text + std::strlen(text), Charset::ascii, std::strlen(text)};
}

scan_string_list_st fragments(std::initializer_list<const char*> texts) {
  scan_string_list_st list;
  for (const char* t : texts) list.push_back(ascii(t));
  return list;
}

std::string bytes_of(const String& s) { return std::string(s.read(), s.size()); }

// --- The keyword table ----------------------------------------------------------------------------

TEST(KeywordTable, RowsAndCodes) {
  std::set<uint64_t> codes;
  size_t by_min[6] = {};
  size_t n = 0;
  for (const scanner_keyword_st* row = scanner_keyword_table; row->word; ++row, ++n) {
    EXPECT_TRUE(codes.insert(row->token).second) << row->token;
    EXPECT_GE(row->token, 264u);
    EXPECT_LE(row->token, 495u);
    ASSERT_LE(row->min_length, 5u);
    ++by_min[row->min_length];
    for (const char32_t* c = row->word; *c; ++c) EXPECT_FALSE(*c >= U'a' && *c <= U'z');  // upper case
  }
  EXPECT_EQ(n, kScannerKeywordCount);
  EXPECT_EQ(codes.size(), 231u);
  EXPECT_EQ(codes.count(399), 0u);
  EXPECT_EQ(by_min[0], 172u);
  EXPECT_EQ(by_min[4], 52u);
  EXPECT_EQ(by_min[5], 7u);
}

TEST(Scanner, KeywordsAndAbbreviations) {
  EXPECT_EQ(scan_first("SELE"), 444);
  EXPECT_EQ(scan_first("selec"), 444);
  EXPECT_EQ(scan_first("Select"), 444);
  EXPECT_EQ(scan_first("SELECT"), 444);
  EXPECT_EQ(scan_first("SEL"), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scan_first("SELECTS"), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scan_first("TEXTM"), 464);
  EXPECT_EQ(scan_first("TEXT"), 463);
  EXPECT_EQ(scan_first("textmerge"), 464);
  EXPECT_EQ(scan_first("DATAS"), 312);
  EXPECT_EQ(scan_first("DATA"), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scan_first("date"), 313);
  EXPECT_EQ(scan_first("U16"), 477);
  EXPECT_EQ(scan_first("u8"), 476);
  EXPECT_EQ(scan_first("zap"), 495);
  EXPECT_EQ(scan_first("add"), 264);
  EXPECT_EQ(scan_first("ALIAS"), 270);
  EXPECT_EQ(scan_first("all"), 269);
  EXPECT_EQ(scan_first("dele"), 318);
  EXPECT_EQ(scan_first("DELET"), 318);
  EXPECT_EQ(scan_first("deleted"), 319);
  EXPECT_EQ(scan_first("DEL"), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scan_first("asse"), 276);
  EXPECT_EQ(scan_first("asserts"), 277);
  EXPECT_EQ(scan_first("lparam"), 388);
  EXPECT_EQ(scan_first("LPARA"), 388);
  EXPECT_EQ(scan_first("LPAR"), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scan_first("qzobj"), 358);
  EXPECT_EQ(scan_first("x"), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scan_first("_select"), QZ_TOKEN_IDENTIFIER);
  // Other charsets of the source text.
  EXPECT_EQ(scan_first("Sele", Charset::utf16le), 444);
  EXPECT_EQ(scan_first("textm", Charset::utf32le), 464);
}

TEST(Scanner, IsKeywordOnSlices) {
  auto code_of = [](const char* word) {
    int code = 0;
    return Scanner::is_keyword(word, word + std::strlen(word), Charset::ascii, &code) ? code : -1;
  };
  EXPECT_EQ(code_of("endde"), 330);
  EXPECT_EQ(code_of("endd"), -1);
  EXPECT_EQ(code_of("enddo"), 331);
  EXPECT_EQ(code_of("endf"), -1);
  EXPECT_EQ(code_of("endfo"), 332);
  EXPECT_EQ(code_of("ENDFU"), 333);
  EXPECT_EQ(code_of("endp"), 335);
  EXPECT_EQ(code_of(""), -1);
  EXPECT_EQ(code_of("SELECT "), -1);
}

TEST(Scanner, TokenCodesAndLocations) {
  token_list_type tokens;
  const char* text = "x 12\n0h1F 0x2A`+";
  tokenize(text, text + std::strlen(text), Charset::ascii, &tokens);
  token_st start{};
  start.kind = QZ_TOKEN_START_EXPRESSION;
  Scanner scanner(tokens.cbegin(), tokens.cend(), start);
  QZSTYPE value{};
  document_location_st location{1, 2, 3, 4, 5, 6, 7, 8};
  document_location_st untouched = location;
  EXPECT_EQ(scanner.lex(&value, &location), QZ_TOKEN_START_EXPRESSION);
  EXPECT_EQ(std::memcmp(&location, &untouched, sizeof location), 0);  // bootstrap writes nothing
  EXPECT_EQ(scanner.lexer, &Scanner::lex_token);

  EXPECT_EQ(scanner.lex(&value, &location), QZ_TOKEN_IDENTIFIER);
  document_location_st first{0, 0, 1, 1, 1, 1, 1, 2};
  EXPECT_EQ(std::memcmp(&location, &first, sizeof location), 0);
  EXPECT_EQ(value.text.begin, text);
  EXPECT_EQ(value.text.end, text + 1);
  EXPECT_EQ(value.text.charset, Charset::ascii);
  EXPECT_EQ(value.text.size, 1u);

  std::vector<int> codes;
  for (int code; (code = scanner.lex(&value, &location)) != 0;) codes.push_back(code);
  std::vector<int> expected = {32, QZ_TOKEN_NUMBER, 10, QZ_TOKEN_BINARY_STRING, 32, QZ_TOKEN_HEX_NUMBER,
                               QZ_TOKEN_OTHER_CHAR, '+'};
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(*scanner.get_position(), tokens.cend());
  // At the end: 0 again, arguments untouched.
  document_location_st before = location;
  EXPECT_EQ(scanner.lex(&value, &location), 0);
  EXPECT_EQ(std::memcmp(&location, &before, sizeof location), 0);
}

TEST(Scanner, LocationsCountCharactersAndBytes) {
  // A token after a two-byte character on the same line: begin_char and begin_byte differ by one.
  token_list_type tokens;
  const char* text = "\xC3\xA9 x";
  tokenize(text, text + std::strlen(text), Charset::utf8, &tokens);
  token_st start{};
  start.kind = QZ_TOKEN_START_OPERAND;
  Scanner scanner(tokens.cbegin(), tokens.cend(), start);
  QZSTYPE value{};
  document_location_st location{};
  scanner.lex(&value, &location);
  EXPECT_EQ(scanner.lex(&value, &location), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(scanner.lex(&value, &location), QZ_TOKEN_BLANK);
  EXPECT_EQ(scanner.lex(&value, &location), QZ_TOKEN_IDENTIFIER);
  EXPECT_EQ(location.begin_char, 2u);
  EXPECT_EQ(location.begin_byte, 3u);
  EXPECT_EQ(location.begin_column, 3u);
  EXPECT_EQ(location.end_column, 4u);
}

TEST(Scanner, UnsupportedTokenKind) {
  token_list_type tokens(1);
  tokens[0].kind = 1027;
  token_st start{};
  start.kind = QZ_TOKEN_START_STATEMENT;
  Scanner scanner(tokens.cbegin(), tokens.cend(), start);
  QZSTYPE value{};
  document_location_st location{};
  scanner.lex(&value, &location);
  EXPECT_THROW(scanner.lex(&value, &location), tokenizer_returned_unsupported_token_type_exception);
}

TEST(Scanner, KeywordMapIsSharedAcrossThreads) {
  std::vector<std::thread> threads;
  std::vector<int> results(8, 0);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&results, i] {
      int code = 0;
      const char* word = "Transact";
      results[i] = Scanner::is_keyword(word, word + 8, Charset::ascii, &code) ? code : -1;
    });
  }
  for (auto& t : threads) t.join();
  for (int r : results) EXPECT_EQ(r, 472);
}

// --- Integers --------------------------------------------------------------------------------------

TEST(Literals, Integers) {
  int64_t v = 0;
  EXPECT_TRUE(Scanner::create_integer(fragments({"9223372036854775807"}), v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::max());
  EXPECT_FALSE(Scanner::create_integer(fragments({"9223372036854775808"}), v));
  EXPECT_TRUE(Scanner::create_integer(fragments({"007"}), v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(Scanner::create_integer(fragments({"-", "007"}), v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(Scanner::create_integer(fragments({"-007"}), v));
  EXPECT_EQ(v, -7);
  v = 5;
  EXPECT_TRUE(Scanner::create_integer(fragments({"-0"}), v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(Scanner::create_integer(fragments({"000"}), v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(Scanner::create_integer(fragments({"-9223372036854775808"}), v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_FALSE(Scanner::create_integer(fragments({"-9223372036854775809"}), v));
  EXPECT_TRUE(Scanner::create_integer(fragments({"12", "", "34"}), v));  // digits from adjacent tokens
  EXPECT_EQ(v, 1234);
  EXPECT_TRUE(Scanner::create_integer(fragments({"00009223372036854775807"}), v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::max());

  const char* text = "0042.5";
  size_t length = 0, zeros = 0;
  EXPECT_TRUE(Scanner::atoi(text, length, zeros, v));
  EXPECT_EQ(v, 42);
  EXPECT_EQ(zeros, 2u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(*text, '.');  // a point ends the number
}

TEST(Literals, HexadecimalIntegers) {
  int64_t v = 0;
  EXPECT_TRUE(Scanner::create_integer_from_hex(fragments({"0x7FFFFFFFFFFFFFFF"}), v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::max());
  EXPECT_TRUE(Scanner::create_integer_from_hex(fragments({"0xFFFFFFFFFFFFFFFF"}), v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(Scanner::create_integer_from_hex(fragments({"0X8000000000000000"}), v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_FALSE(Scanner::create_integer_from_hex(fragments({"0x1FFFFFFFFFFFFFFFF"}), v));  // 17 digits
  EXPECT_TRUE(Scanner::create_integer_from_hex(fragments({"0x0FFFFFFFFFFFFFFFF"}), v));   // a leading 0 fits
  EXPECT_EQ(v, -1);
  EXPECT_FALSE(Scanner::create_integer_from_hex(fragments({"0x"}), v));
  EXPECT_TRUE(Scanner::create_integer_from_hex(fragments({"0xa"}), v));
  EXPECT_EQ(v, 10);
  EXPECT_FALSE(Scanner::create_integer_from_hex(fragments({"0x1", "g"}), v));  // trailing characters
}

// --- Numeric and money --------------------------------------------------------------------------------

TEST(Literals, Numerics) {
  numeric_type_st n{};
  EXPECT_TRUE(Scanner::create_numeric(fragments({".", "5"}), n));
  EXPECT_DOUBLE_EQ(n.value, 0.5);
  EXPECT_EQ(n.decimals, 1u);
  EXPECT_TRUE(Scanner::create_numeric(fragments({"12", "."}), n));
  EXPECT_DOUBLE_EQ(n.value, 12.0);
  EXPECT_EQ(n.decimals, 0u);
  EXPECT_TRUE(Scanner::create_numeric(fragments({"3", ".", "1400"}), n));
  EXPECT_DOUBLE_EQ(n.value, 3.14);
  EXPECT_EQ(n.decimals, 4u);
  EXPECT_TRUE(Scanner::create_numeric(fragments({"12", ".", "50"}), n));
  EXPECT_DOUBLE_EQ(n.value, 12.5);
  EXPECT_EQ(n.decimals, 2u);

  // 255 characters still convert; 256 and more are a literal error (false), not an exception.
  std::string digits(253, '1');
  std::string fraction = "5";
  EXPECT_TRUE(Scanner::create_numeric(fragments({digits.c_str(), ".", fraction.c_str()}), n));  // 255
  std::string longer(254, '1');
  numeric_type_st bad{7.0, 3};
  EXPECT_FALSE(Scanner::create_numeric(fragments({longer.c_str(), ".", fraction.c_str()}), bad));  // 256
  EXPECT_EQ(bad.value, 0.0);
  EXPECT_EQ(bad.decimals, 0u);
  std::string huge(1000, '9');
  EXPECT_FALSE(Scanner::create_numeric(fragments({huge.c_str(), "."}), bad));

  // The lower-level aton still throws copy_buffer_too_small.
  std::string text = longer + ".5";
  EXPECT_THROW(Scanner::aton(text.data(), text.data() + text.size(), '.'), copy_buffer_too_small);
  const char* comma = "1,25";
  numeric_type_st c = Scanner::aton(comma, comma + 4, ',');
  EXPECT_DOUBLE_EQ(c.value, 1.25);
  EXPECT_EQ(c.decimals, 2u);
}

TEST(Literals, Money) {
  money_type_st m{};
  ASSERT_TRUE(Scanner::create_money(fragments({"12", ".", "34"}), m));
  EXPECT_TRUE(m.value == 123400);
  ASSERT_TRUE(Scanner::create_money(String("5"), m));
  EXPECT_TRUE(m.value == 50000);
}

// --- Binary strings ---------------------------------------------------------------------------------

TEST(Literals, BinaryStrings) {
  struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"0hFF00", std::string("\xFF\x00", 2)},
      {"0hABC", std::string("\x0A\xBC", 2)},
      {"0h123", std::string("\x01\x23", 2)},
      {"0Hab", std::string("\xAB", 1)},
      {"0h", std::string()},
      {"0h7", std::string("\x07", 1)},
  };
  for (const auto& c : cases) {
    Const_String* s = Scanner::create_binary_const_string(document_location_st{1, 1, 1, 2, 3, 3, 1, 4}, ascii(c.text));
    EXPECT_EQ(s->kind, 3u);
    EXPECT_EQ(s->const_type, 10u);
    EXPECT_EQ(s->location.end_column, 4u);
    EXPECT_EQ(bytes_of(s->value), c.bytes) << c.text;
    EXPECT_EQ(s->value.get_charset(), Charset::binary);
    delete s;
  }
  // A UTF-16 source text.
  String wide("0h1f2");
  wide.convert(Charset::utf16le, CON_NONE, 0);
  scan_string_st w{wide.read(), wide.end(), Charset::utf16le, wide.size()};
  Const_String* s = Scanner::create_binary_const_string(document_location_st{}, w);
  EXPECT_EQ(bytes_of(s->value), std::string("\x01\xF2", 2));
  delete s;
}

// --- Text helpers -------------------------------------------------------------------------------------

TEST(Literals, TextHelpers) {
  scan_string_list_st* list = Scanner::scan_string_list_new(ascii("ab"));
  Scanner::scan_string_list_append(list, ascii(""));
  Scanner::scan_string_list_append_list(list, Scanner::scan_string_list_new(ascii("c"), ascii("de")));
  EXPECT_EQ(list->size(), 4u);
  EXPECT_EQ(bytes_of(Scanner::join_scan_strings(*list)), "abcde");
  Const_String* joined = Scanner::create_const_string_from_list(document_location_st{}, *list);
  EXPECT_EQ(bytes_of(joined->value), "abcde");
  delete joined;
  Scanner::scan_string_list_free(list);

  Const_String* one = Scanner::create_const_string(document_location_st{}, ascii("xyz"));
  EXPECT_EQ(bytes_of(one->value), "xyz");
  EXPECT_EQ(one->value.get_charset(), Charset::ascii);
  delete one;
  EXPECT_EQ(bytes_of(Scanner::scan_string_to_string(ascii("q"))), "q");
  EXPECT_EQ(Scanner::join_scan_strings(scan_string_list_st{}).size(), 0u);
}

// --- Macro lines ----------------------------------------------------------------------------------------

TEST(Scanner, MacroLines) {
  ptr_list<MacroItem>* result = reinterpret_cast<ptr_list<MacroItem>*>(1);
  auto* only_text = new std::list<macro_item_st>{{'S', ascii("USE ")}, {'S', ascii("t")}};
  EXPECT_EQ(Scanner::parse_macro_endl(document_location_st{}, only_text, &result), 10);
  EXPECT_EQ(result, nullptr);

  result = reinterpret_cast<ptr_list<MacroItem>*>(1);
  EXPECT_EQ(Scanner::parse_macro_endl(document_location_st{}, new std::list<macro_item_st>(), &result), 10);
  EXPECT_EQ(result, nullptr);

  auto* line = new std::list<macro_item_st>{{'S', ascii("USE")},  {'S', ascii(" ")}, {'V', ascii("table")},
                                            {'S', ascii("")},     {'V', ascii("x")}, {'S', ascii(" IN ")},
                                            {'S', ascii("2")}};
  ASSERT_EQ(Scanner::parse_macro_endl(document_location_st{}, line, &result), 0);
  ASSERT_NE(result, nullptr);
  std::vector<std::pair<uint32_t, std::string>> items;
  for (MacroItem* item : *result) items.emplace_back(item->kind, bytes_of(item->text));
  std::vector<std::pair<uint32_t, std::string>> expected = {
      {'S', "USE "}, {'V', "table"}, {'V', "x"}, {'S', " IN 2"}};
  EXPECT_EQ(items, expected);
  EXPECT_NE(dynamic_cast<VariableMacroItem*>(*std::next(result->begin())), nullptr);
  delete result;
}

// --- Source excerpts -------------------------------------------------------------------------------------

std::u32string utf32_of(const String& s) {
  EXPECT_EQ(s.get_charset(), Charset::utf32le);
  return std::u32string(reinterpret_cast<const char32_t*>(s.read()), s.size() / 4);
}

TEST(Scanner, CanonicalDocumentContent) {
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(String::fromBytes("A\nB", Charset::utf8))), U"A<0A>B");
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(String::fromBytes("\t x", Charset::utf8))), U"<09> x");
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(String::fromBytes("\xC2\x85", Charset::utf8))),
            U"<C2><85>");
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(String::fromBytes("\xC3\xA9\xE2\x82\xAC", Charset::utf8))),
            U"\u00E9\u20AC");
  // A format character (U+200B ZERO WIDTH SPACE is Cf) and a private-use character.
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(String::fromBytes("a\xE2\x80\x8B", Charset::utf8))),
            U"a<E2><80><8B>");
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(String::fromBytes("\xEE\x80\x80", Charset::utf8))),
            U"<EE><80><80>");
  // A UTF-16 input: the groups are the bytes of the character's UTF-16 encoding.
  String wide("\r");
  wide.convert(Charset::utf16le, CON_NONE, 0);
  EXPECT_EQ(utf32_of(Scanner::canoncializeDocumentContent(wide)), U"<0D><00>");
  EXPECT_EQ(Scanner::canoncializeDocumentContent(String::fromBytes("", Charset::utf8)).size(), 0u);
}

}  // namespace
}  // namespace qzbase
