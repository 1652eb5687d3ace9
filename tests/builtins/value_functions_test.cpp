// The number, binary-conversion, date and character-set built-ins where the language tests
// cannot reach: the random engines' exact sequences and their use from several threads, the
// session's date settings and SET FDOW, ICU's names under another default locale, the weekday
// rule against Zeller's congruence, and the degenerate rates of the financial formulas.
#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "builtins/random_numbers.h"
#include "builtins/value_functions.h"
#include "builtins_support.h"
#include "tables/session_settings.h"
#include "values/charset_registry.h"
#include "values/julian.h"

namespace qzbase {
namespace {

using namespace testing_builtins;

Variant date_value(int y, int m, int d) {
  date_st date{0};
  EXPECT_EQ(serial_julian_date(y, static_cast<unsigned>(m), static_cast<unsigned>(d), &date), 0);
  Variant v;
  v.set(date);
  return v;
}

Variant datetime_value(int y, int mo, int d, int h, int mi, int s) {
  datetime_st dt{0, 0};
  EXPECT_EQ(serial_julian_date(y, static_cast<unsigned>(mo), static_cast<unsigned>(d), static_cast<unsigned>(h),
                               static_cast<unsigned>(mi), static_cast<unsigned>(s), &dt),
            0);
  Variant v;
  v.set(dt);
  return v;
}

Variant integer(long n) {
  Variant v;
  v.set_integer(n);
  return v;
}

Variant numeric(double value) {
  Variant v;
  v.set_float(value, free_decimals);
  return v;
}

std::string u8(const Variant& v) { return static_cast<String>(v).u8str(); }

// One value of the engine as the formula states it: two outputs a and b,
// ((a - 1) + (b - 1) x 2147483646) / 2147483646^2, a value of 1 or more made the largest below 1.
double formula_value(std::minstd_rand0& engine) {
  const double range = 2147483646.0;
  const double a = static_cast<double>(engine());
  const double b = static_cast<double>(engine());
  const double v = ((a - 1) + (b - 1) * range) / (range * range);
  return v >= 1.0 ? std::nextafter(1.0, 0.0) : v;
}

TEST(RandomNumbers, NeverSeededGivesTheFixedFirstValueAndState) {
  RandomNumbers engines;
  EXPECT_EQ(engines.next(), RandomNumbers::kFirstValue);
  std::minstd_rand0 expected(RandomNumbers::kFirstState);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(engines.next(), formula_value(expected)) << i;
}

TEST(RandomNumbers, SeedsWithinTheToleranceOfZeroDoNotSeed) {
  RandomNumbers engines;
  EXPECT_EQ(engines.next(1e-17), RandomNumbers::kFirstValue);
  const double second = engines.next(-1e-17);
  std::minstd_rand0 expected(RandomNumbers::kFirstState);
  EXPECT_EQ(second, formula_value(expected));
}

TEST(RandomNumbers, APositiveSeedSeedsFromTheHashOfTheDouble) {
  for (double seed : {1.0, 7.0, 0.5, 1e300, 4.5e-16}) {
    RandomNumbers engines;
    const uint32_t state = random_state_of_seed(seed);
    EXPECT_EQ(state, std::hash<double>{}(seed) % 2147483647u == 0 ? 1u : std::hash<double>{}(seed) % 2147483647u);
    std::minstd_rand0 expected(state);
    EXPECT_EQ(engines.next(seed), formula_value(expected)) << seed;
    EXPECT_EQ(engines.next(), formula_value(expected)) << seed;
    // The same seed again restarts the sequence.
    std::minstd_rand0 again(state);
    EXPECT_EQ(engines.next(seed), formula_value(again)) << seed;
  }
}

TEST(RandomNumbers, SystemSeedsAndTheSeparateEngineStayInTheUnitInterval) {
  RandomNumbers engines;
  for (int i = 0; i < 100; ++i) {
    const double r = engines.next(-1.0);
    const double s = engines.next_separate();
    EXPECT_GE(r, 0.0);
    EXPECT_LT(r, 1.0);
    EXPECT_GE(s, 0.0);
    EXPECT_LT(s, 1.0);
    const uint32_t state = random_state_from_system();
    EXPECT_GE(state, 1u);
    EXPECT_LT(state, 2147483647u);
  }
}

// Two threads, each on its own stack, drawing through RAND at once: run under a race detector
// this shows the shared engines are guarded.
TEST(RandomNumbers, TwoThreadsOnTheirOwnStacks) {
  RuntimeFixture f;
  constexpr int kCalls = 1000000;
  std::vector<std::thread> threads;
  std::vector<int> outside(2, 0);
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&f, &outside, t] {
      VmStack stack(f.runtime, 256, 64);
      Variant seed = numeric(t + 1.0);
      Variant first = call(&stack, bi_rand, {seed});
      for (int i = 0; i < kCalls; ++i) {
        Variant r = call(&stack, bi_rand, {});
        if (!(r.numeric.value >= 0 && r.numeric.value < 1)) ++outside[t];
        if (i % 1000 == 0) {
          Variant s = call(&stack, bi_srand, {});
          if (!(s.numeric.value >= 0 && s.numeric.value < 1)) ++outside[t];
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(outside[0], 0);
  EXPECT_EQ(outside[1], 0);
}

TEST(FinancialFormulas, ZeroAndVanishingRates) {
  EXPECT_DOUBLE_EQ(future_value(100, 0, 12), 1200);
  EXPECT_DOUBLE_EQ(future_value(100, 1e-300, 12), 1200);
  EXPECT_DOUBLE_EQ(future_value(100, -1e-300, -3), -300);
  EXPECT_NEAR(future_value(100, 0.01, 12), 1268.250301, 1e-6);
  EXPECT_DOUBLE_EQ(payment_per_period(1000, 0, 3), 1000.0 / 3);
  // The cents are rounded up before dividing.
  EXPECT_DOUBLE_EQ(payment_per_period(10.001, 0, 1), 10.01);
  EXPECT_DOUBLE_EQ(payment_per_period(1000, 1e-300, 4), 250);
  EXPECT_NEAR(payment_per_period(1000, 0.01, 12), 88.848789, 1e-6);
  for (double rate : {0.0, 0.01, 1e-300}) {
    try {
      payment_per_period(1000, rate, 0);
      FAIL() << rate;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 11) << rate;
    }
  }
}

// Zeller's congruence with floored division, h: 0 Saturday, 1 Sunday ... 6 Friday.
int zeller(int year, int month, int day) {
  if (month < 3) {
    month += 12;
    year -= 1;
  }
  auto floor_div = [](int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); };
  const int64_t k = year - 100 * floor_div(year, 100);
  const int64_t j = floor_div(year, 100);
  int64_t h = day + floor_div(13 * (month + 1), 5) + k + floor_div(k, 4) + floor_div(j, 4) + 5 * j;
  h %= 7;
  return static_cast<int>(h < 0 ? h + 7 : h);
}

TEST(DateFunctions, WeekdaysFollowZellersCongruence) {
  // From the first day numbers on, across the Gregorian change, to far future years.
  for (int64_t day = 1; day < 3000000; day += 997) {
    date_st d{static_cast<uint32_t>(day)};
    int y, m, dd;
    unserial_julian_date(d, &y, &m, &dd);
    const int h = zeller(y, m, dd);
    for (int first = 1; first <= 7; ++first) {
      const int expected = ((h - first) % 7 + 7) % 7 + 1;
      ASSERT_EQ(weekday_of(d, first), expected) << y << "-" << m << "-" << dd << " first " << first;
    }
  }
}

TEST(DateFunctions, FirstDayZeroIsTheRuntimesFirstDayOfTheWeek) {
  RuntimeFixture f;
  Variant sunday = date_value(2024, 3, 3);
  const uint32_t saved = f.runtime->fdow;
  f.runtime->fdow = 2;
  EXPECT_EQ(call(f.stack, bi_dow, {sunday, integer(0)}).integer.value, 7);
  f.runtime->fdow = 1;
  EXPECT_EQ(call(f.stack, bi_dow, {sunday, integer(0)}).integer.value, 1);
  f.runtime->fdow = saved;
}

TEST(DateFunctions, TextsFollowTheSessionsSettings) {
  RuntimeFixture f;
  SessionSettings* s = f.stack->session_settings;
  ASSERT_NE(s, nullptr);
  s->date_format = DATE_GERMAN;
  s->century = true;
  std::strcpy(s->mark, ".");
  s->hours = 24;
  s->seconds = false;
  Variant d = date_value(2024, 3, 5);
  Variant t = datetime_value(2024, 3, 5, 18, 7, 8);
  Variant r = call(f.stack, bi_dtoc, {d});
  EXPECT_EQ(u8(r), "05.03.2024");
  r.release(f.stack);
  r = call(f.stack, bi_ttoc, {t});
  EXPECT_EQ(u8(r), "05.03.2024, 18:07");
  r.release(f.stack);
  // The fixed forms ignore the session.
  r = call(f.stack, bi_dtoc, {d, integer(1)});
  EXPECT_EQ(u8(r), "20240305");
  r.release(f.stack);
  r = call(f.stack, bi_ttoc, {t, integer(1)});
  EXPECT_EQ(u8(r), "20240305180708");
  r.release(f.stack);
  r = call(f.stack, bi_ttoc, {t, integer(3)});
  EXPECT_EQ(u8(r), "2024-03-05T18:07:08");
  r.release(f.stack);
}

TEST(DateFunctions, NamesFollowIcusDefaultLocale) {
  RuntimeFixture f;
  const std::string saved = uloc_getDefault();
  Variant d = date_value(2024, 3, 5);
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault("de_DE", &status);
  ASSERT_TRUE(U_SUCCESS(status));
  Variant month = call(f.stack, bi_cmonth, {d});
  Variant weekday = call(f.stack, bi_cdow, {d});
  uloc_setDefault(saved.c_str(), &status);
  EXPECT_EQ(u8(month), "März");
  EXPECT_EQ(u8(weekday), "Dienstag");
  EXPECT_EQ(static_cast<String>(month).get_charset(), Charset::utf16le);
  month.release(f.stack);
  weekday.release(f.stack);
  month = call(f.stack, bi_cmonth, {d});
  EXPECT_EQ(u8(month), "March");
  month.release(f.stack);
}

TEST(DateFunctions, SecondsIsANumericWithThreeDecimals) {
  RuntimeFixture f;
  Variant r = call(f.stack, bi_seconds, {});
  ASSERT_EQ(r.tag, VT_NUMERIC);
  EXPECT_EQ(r.numeric.decimals, 3u);
  EXPECT_GE(r.numeric.value, 0);
  EXPECT_LT(r.numeric.value, 86400);
}

TEST(BinaryConversion, MoneyBeyondSixtyFourBitsIsRefused) {
  money_type_st m{};
  m.value = static_cast<__int128>(1) << 70;
  try {
    __bintoc_Y(m, false, false);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 11);
  }
  m.value = -1;
  String bytes = __bintoc_Y(m, false, true);
  ASSERT_EQ(bytes.size(), 8u);
  EXPECT_EQ(std::string(bytes.read(), 8), std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8));
  EXPECT_EQ(bytes.get_charset(), Charset::binary);
}

TEST(BinaryConversion, CreateBinaryKeepsTheBuffer) {
  RuntimeFixture f;
  Variant text;
  text.set_string(String("ab"));
  Variant r = call(f.stack, bi_createbinary, {text});
  const String& out = r.string;
  EXPECT_EQ(out.get_charset(), Charset::binary);
  EXPECT_EQ(out.buffer(), text.string.buffer());
  EXPECT_EQ(std::string(out.read(), out.size()), "ab");
  r.release(f.stack);
  text.release(f.stack);
}

TEST(CharsetFunctions, ConversionsBetweenSets) {
  String e_acute = String::fromBytes("\xC3\xA9", 2, Charset::utf8);
  String wide = convert_charset(e_acute, Charset::utf8, Charset::utf16le);
  EXPECT_EQ(std::string(wide.read(), wide.size()), std::string("\xE9\x00", 2));
  EXPECT_EQ(wide.get_charset(), Charset::utf16le);
  // The same set shares the text; binary only relabels the bytes.
  String same = convert_charset(e_acute, Charset::utf8, Charset::utf8);
  EXPECT_EQ(same.buffer(), e_acute.buffer());
  String raw = convert_charset(e_acute, Charset::utf8, Charset::binary);
  EXPECT_EQ(std::string(raw.read(), raw.size()), "\xC3\xA9");
  EXPECT_EQ(raw.get_charset(), Charset::binary);
  // Read as code page 437 whatever the tag says.
  String cp437 = convert_charset(String::fromBytes("\x82", 1, Charset::binary), get_charset_by_codepage(437, false),
                                 Charset::utf8);
  EXPECT_EQ(cp437.u8str(), "\xC3\xA9");
}

TEST(CharsetFunctions, CharsetNamesTheUntranslatedTwin) {
  RuntimeFixture f;
  const Charset* flagged = get_charset_by_codepage(1252, true);
  ASSERT_NE(flagged, nullptr);
  ASSERT_TRUE(flagged->is_flagged());
  Variant field;
  field.set_string(String::fromBytes("abc", 3, flagged));
  Variant r = call(f.stack, bi_charset, {field});
  EXPECT_EQ(u8(r), "windows-1252/nocptrans");
  r.release(f.stack);
  field.release(f.stack);
}

}  // namespace
}  // namespace qzbase
