// Symbol table: fixed ids, case-insensitive names, resolve, Symbol, concurrent symbolize.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "values/charset_registry.h"
#include "vm/symtable.h"

namespace qzbase {
namespace {

std::string u8(const String& s) { return s.u8str(); }

TEST(Symtable, PredefinedIds) {
  Symtable t;
  EXPECT_EQ(t.symbolize("this"), 1u);
  EXPECT_EQ(t.symbolize("[]"), 6u);
  EXPECT_EQ(t.symbolize("destroy"), 4u);
  EXPECT_EQ(t.symbolize("Currency"), 100u);
  EXPECT_EQ(t.size(), predefined_symbol_count);
  // The constants the VM and the compiler use name the rows they stand for.
  const std::pair<symbol_id_type, const char*> constants[] = {
      {symbol_THIS, "THIS"}, {symbol_INIT, "INIT"}, {symbol_INDEXER, "[]"},
      {symbol_KEY, "KEY"},   {symbol_VALUE, "VALUE"}};
  for (const auto& [id, name] : constants) EXPECT_EQ(t.symbolize(name), id) << name;
}

TEST(Symtable, AllPredefinedRowsAreThere) {
  Symtable t;
  size_t rows = 0;
  std::set<symbol_id_type> ids;
  for (const predefined_symbol_st* row = predefined_symbols; row->name != nullptr; ++row) {
    ++rows;
    ids.insert(row->id);
    EXPECT_EQ(t.symbolize(row->name), row->id) << row->name;
    EXPECT_EQ(u8(t.resolve(row->id)), row->name);
    EXPECT_GE(row->id, 1u);
    EXPECT_LE(row->id, 100u);
  }
  EXPECT_EQ(rows, 97u);
  EXPECT_EQ(ids.size(), 97u);
  for (symbol_id_type unassigned : {9u, 10u, 65u}) EXPECT_EQ(ids.count(unassigned), 0u) << unassigned;
  EXPECT_EQ(t.size(), 97u);  // looking them up added nothing
}

TEST(Symtable, NewNamesFrom1024) {
  Symtable t;
  EXPECT_EQ(t.symbolize("first"), 1024u);
  EXPECT_EQ(t.symbolize("second"), 1025u);
  EXPECT_EQ(t.symbolize("FIRST"), 1024u);
  EXPECT_EQ(t.size(), 99u);
}

TEST(Symtable, CaseInsensitiveAndResolveUpper) {
  Symtable t;
  symbol_id_type foo = t.symbolize("Foo");
  EXPECT_EQ(t.symbolize("FOO"), foo);
  EXPECT_EQ(t.symbolize("foo"), foo);
  EXPECT_EQ(t.symbolize(String("fOo")), foo);
  EXPECT_EQ(u8(t.resolve(foo)), "FOO");
}

TEST(Symtable, StringAndCharFormsAgree) {
  Symtable t;
  symbol_id_type a = t.symbolize(String("myVar"));
  EXPECT_EQ(t.symbolize("MYVAR"), a);
  EXPECT_EQ(t.symbolize("myvar", 5), a);
}

TEST(Symtable, NamesTheCaseInsensitiveCollationCallsEqual) {
  Symtable t;
  // Non-ASCII letters fold with u_toupper: ä/Ä, and the dotless i upper-cases to I.
  symbol_id_type a = t.symbolize("größe");
  EXPECT_EQ(t.symbolize("GRÖßE"), a);
  EXPECT_EQ(u8(t.resolve(a)), "GRÖßE");
  String x("x\xC4\xB1");  // "xı"
  String y("XI");
  ASSERT_EQ(Collation::unicode_machine_ci->compare(x.read(), x.end(), x.get_charset(), y.read(), y.end(),
                                                  y.get_charset()),
            0);
  EXPECT_EQ(t.symbolize(x), t.symbolize(y));
}

TEST(Symtable, NamesInOtherCharsets) {
  Symtable t;
  symbol_id_type a = t.symbolize("café");
  String utf16 = String("CAFÉ");
  utf16.convert(Charset::utf16le, CON_NONE, 0);
  EXPECT_EQ(t.symbolize(utf16), a);
  symbol_id_type found = 0;
  EXPECT_TRUE(t.find(utf16, &found));
  EXPECT_EQ(found, a);
  EXPECT_FALSE(t.find(String("nothing here"), &found));
}

// ASCII bytes are their own UTF-8 only in charsets that store ASCII so: a UTF-16 name is all
// bytes below 128 too. Alternating charsets keeps the per-thread answer honest.
TEST(Symtable, AsciiNamesMeetTheirUtf8IdsInEveryCharset) {
  Symtable t;
  const Charset* cp1252 = get_charset_by_codepage(1252, false);
  ASSERT_NE(cp1252, nullptr);
  symbol_id_type amount = t.symbolize("amount");
  String wide("AMOUNT");
  wide.convert(Charset::utf16le, CON_NONE, 0);
  String latin("Amount");
  latin.convert(cp1252, CON_NONE, 0);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(t.symbolize(wide), amount);
    EXPECT_EQ(t.symbolize(latin), amount);
  }
  String accented("étage");
  accented.convert(cp1252, CON_NONE, 0);
  EXPECT_EQ(t.symbolize(accented), t.symbolize("ÉTAGE"));
}

TEST(Symtable, ResolveOfUnknownIdIsBroken) {
  Symtable t;
  EXPECT_THROW(t.resolve(9), assert_failed_exception);
  EXPECT_THROW(t.resolve(1024), assert_failed_exception);
  EXPECT_THROW(t.resolve(0), assert_failed_exception);
}

TEST(Symtable, FindDoesNotAdd) {
  Symtable t;
  symbol_id_type id = 0;
  EXPECT_FALSE(t.find(String("later"), &id));
  EXPECT_EQ(t.symbolize("later"), 1024u);
  EXPECT_TRUE(t.find(String("LATER"), &id));
  EXPECT_EQ(id, 1024u);
}

TEST(Symtable, EightThreadsGetOneIdPerName) {
  Symtable t;
  constexpr int kThreads = 8;
  constexpr int kNames = 2000;
  std::vector<std::string> names;
  for (int i = 0; i < kNames; ++i) names.push_back("name_" + std::to_string(i));
  std::vector<std::vector<symbol_id_type>> seen(kThreads, std::vector<symbol_id_type>(kNames));
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      std::vector<int> order(kNames);
      for (int i = 0; i < kNames; ++i) order[i] = i;
      std::mt19937 rng(k);
      std::shuffle(order.begin(), order.end(), rng);
      for (int i : order) {
        std::string name = names[i];
        if (k % 2) std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        seen[k][i] = k % 3 ? t.symbolize(name.c_str()) : t.symbolize(String(name.c_str()));
        String back = t.resolve(seen[k][i]);  // resolve under concurrent inserts
        (void)back;
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<symbol_id_type> distinct;
  for (int i = 0; i < kNames; ++i) {
    for (int k = 1; k < kThreads; ++k) ASSERT_EQ(seen[k][i], seen[0][i]) << names[i];
    distinct.insert(seen[0][i]);
    std::string upper = names[i];
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(u8(t.resolve(seen[0][i])), upper);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kNames));
  EXPECT_EQ(*distinct.begin(), 1024u);
  EXPECT_EQ(*distinct.rbegin(), 1024u + kNames - 1);
  EXPECT_EQ(t.size(), 97u + kNames);
}

TEST(Symbol, CarriesNameIdAndTable) {
  Symtable t;
  Symbol none;
  EXPECT_EQ(none.id, 0u);
  EXPECT_EQ(none.table, nullptr);
  EXPECT_EQ(none.name.size(), 0u);

  String latin("Kunde");
  latin.convert(Charset::utf16le, CON_NONE, 0);
  Symbol s(latin, &t);
  EXPECT_EQ(s.id, 1024u);
  EXPECT_EQ(s.table, &t);
  EXPECT_EQ(s.name.get_charset(), Charset::utf8);
  EXPECT_EQ(u8(s.name), "Kunde");

  std::unique_ptr<Symbol> copy(s.clone());
  EXPECT_EQ(copy->id, s.id);
  EXPECT_EQ(copy->table, &t);
  EXPECT_EQ(u8(copy->name), "Kunde");

  Symbol owned(new String("KUNDE"), &t);
  EXPECT_EQ(owned.id, s.id);

  const char32_t chars[] = {U'o', U'r', U'd', U'e', U'r', U's'};
  std::unique_ptr<Symbol> wide(Symbol::from_utf32(chars, 6, Charset::utf16le, &t));
  EXPECT_EQ(wide->id, t.symbolize("ORDERS"));
  EXPECT_EQ(u8(wide->name), "orders");
  EXPECT_EQ(wide->name.get_charset(), Charset::utf8);
}

}  // namespace
}  // namespace qzbase
