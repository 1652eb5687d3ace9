// Variant casts and text: to_string and to_string_regional tables, the implicit
// cast matrix, string_to_money, the checked conversions, and the mended faults (fcvt's static
// buffer, the 32-unit date buffer, large decimals).
#include <qzbase.h>

#include <gtest/gtest.h>
#include <unicode/ucal.h>
#include <unicode/uloc.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "fake_object.h"
#include "values/date_format.h"
#include "values/session_settings.h"
#include "values/julian.h"
#include "values/value_text.h"
#include "vm/vm_stack.h"
#include "runtime_errors.h"

using namespace qzbase;

namespace {

std::string text(const String& s) { return std::string(s.read(), s.size()); }

using testing_errors::error_code;

Variant integer(int64_t v) {
  Variant x;
  x.set_integer(static_cast<long>(v));
  return x;
}
Variant numeric(double v, uint64_t decimals) {
  Variant x;
  x.set(numeric_type_st{v, decimals});
  return x;
}
Variant money(money_wide raw) {
  Variant x;
  money_type_st m;
  m.value = raw;
  x.set(m);
  return x;
}
date_st make_date(int y, unsigned m, unsigned d) {
  date_st out{};
  EXPECT_EQ(serial_julian_date(y, m, d, &out), 0);
  return out;
}
Variant date(int y, unsigned m, unsigned d) {
  Variant x;
  x.set(make_date(y, m, d));
  return x;
}
Variant datetime(int y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s, int ms = 0) {
  datetime_st out{};
  EXPECT_EQ(serial_julian_date(y, mo, d, h, mi, s, &out), 0);
  out.ms += ms;
  Variant x;
  x.set(out);
  return x;
}
Variant boolean(int tag) {
  Variant x;
  if (tag == 0) x.set_false();
  if (tag == 1) x.set_null();
  if (tag == 2) x.set_true();
  return x;
}
Variant string_value(const char* s) {
  Variant x;
  x.set_string(String(s));
  return x;
}

// Sets the process's default ICU locale for the scope of a test.
struct DefaultLocale {
  std::string saved;
  explicit DefaultLocale(const char* locale) : saved(uloc_getDefault()) {
    UErrorCode st = U_ZERO_ERROR;
    uloc_setDefault(locale, &st);
  }
  ~DefaultLocale() {
    UErrorCode st = U_ZERO_ERROR;
    uloc_setDefault(saved.c_str(), &st);
  }
};

// ---------------------------------------------------------------------------------------------
// to_string
// ---------------------------------------------------------------------------------------------

struct FixedCase {
  const char* name;
  Variant value;
  bool trim;
  const char* expected;
};

TEST(ValueTextTest, ToStringTable) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<FixedCase> cases;
  cases.push_back({"false", boolean(0), false, "false"});
  cases.push_back({"null", boolean(1), false, "null"});
  cases.push_back({"true", boolean(2), false, "true"});
  cases.push_back({"integer -5", integer(-5), false, "-5"});
  cases.push_back({"integer 0", integer(0), false, "0"});
  cases.push_back({"integer max", integer(INT64_MAX), false, "9223372036854775807"});
  cases.push_back({"integer min", integer(INT64_MIN), false, "-9223372036854775808"});
  cases.push_back({"2.5 with 2 decimals", numeric(2.5, 2), false, "2.50"});
  cases.push_back({"3.0 with 2 decimals, trim", numeric(3.0, 2), true, "3"});
  cases.push_back({"2.5 with 2 decimals, trim", numeric(2.5, 2), true, "2.50"});
  cases.push_back({"3.0 with 0 decimals", numeric(3.0, 0), false, "3."});
  cases.push_back({"3.0 with 0 decimals, trim", numeric(3.0, 0), true, "3"});
  cases.push_back({"2.5 with 0 decimals rounds away", numeric(2.5, 0), false, "3."});
  cases.push_back({"-2.5 with 0 decimals rounds away", numeric(-2.5, 0), false, "-3."});
  // 1.005 is 1.00499999999999989... in binary: numeric_round gives 1.00.
  cases.push_back({"1.005 with 2 decimals", numeric(1.005, 2), false, "1.00"});
  cases.push_back({"1.125 with 2 decimals", numeric(1.125, 2), false, "1.13"});
  cases.push_back({"0 with 2 decimals", numeric(0.0, 2), false, "0.00"});
  cases.push_back({"0 free", numeric(0.0, free_decimals), false, "0.000000000000000"});
  cases.push_back({"0 free, trim", numeric(0.0, free_decimals), true, "0"});
  cases.push_back({"-0.0001 with 2 decimals", numeric(-0.0001, 2), false, "0.00"});
  cases.push_back({"-0.5 with 1 decimal", numeric(-0.5, 1), false, "-0.5"});
  cases.push_back({"0.000123 free", numeric(0.000123, free_decimals), false, "0.000123000000000"});
  cases.push_back({"-0.000123 free", numeric(-0.000123, free_decimals), false, "-0.000123000000000"});
  cases.push_back({"1/3 free", numeric(1.0 / 3.0, free_decimals), false, "0.333333333333333"});
  cases.push_back({"2/3 free, trim keeps", numeric(2.0 / 3.0, free_decimals), true, "0.666666666666667"});
  cases.push_back({"12.5 free", numeric(12.5, free_decimals), false, "12.500000000000000"});
  cases.push_back({"12.5 free, trim keeps the zeros", numeric(12.5, free_decimals), true, "12.500000000000000"});
  cases.push_back({"7 free, trim", numeric(7.0, free_decimals), true, "7"});
  // 16 significant digits: later positions print as 0.
  cases.push_back({"123456789.125 free", numeric(123456789.125, free_decimals), false, "123456789.125000000000000"});
  cases.push_back({"1e15 + 0.25 with 2 decimals", numeric(1e15 + 0.25, 2), false, "1000000000000000.00"});
  cases.push_back({"1234567890123456 free", numeric(1234567890123456.0, free_decimals), false,
                   "1234567890123456.000000000000000"});
  // log10 of 9999999999999998 rounds to 16: the %lE form.
  cases.push_back({"9999999999999998 free", numeric(9999999999999998.0, free_decimals), false, "1.000000E+16"});
  // fcvt_r gives 17 digits "10000000000000001"; the 17th position prints as 0.
  cases.push_back({"0.1 with 20 decimals", numeric(0.1, 20), false, "0.10000000000000000"});
  cases.push_back({"1e16 is %lE", numeric(1e16, free_decimals), false, "1.000000E+16"});
  cases.push_back({"1e-16 is %lE", numeric(1e-16, free_decimals), false, "1.000000E-16"});
  cases.push_back({"-1.5e20 is %lE", numeric(-1.5e20, 2), false, "-1.500000E+20"});
  cases.push_back({"1.234e-20 is %lE", numeric(1.234e-20, free_decimals), false, "1.234000E-20"});
  cases.push_back({"1e-15 is not %lE", numeric(1e-15, free_decimals), false, "0.000000000000001"});
  cases.push_back({"inf", numeric(inf, 2), false, "inf"});
  cases.push_back({"-inf", numeric(-inf, free_decimals), false, "-inf"});
  cases.push_back({"NaN", numeric(nan, free_decimals), false, "NaN"});
  cases.push_back({"money 1234.5", money(12345000), false, "1234.5000"});
  cases.push_back({"money -0.5", money(-5000), false, "-0.5000"});
  cases.push_back({"money 0", money(0), false, "0.0000"});
  cases.push_back({"money 0.0001", money(1), false, "0.0001"});
  cases.push_back({"money max", money(INT64_MAX), false, "922337203685477.5807"});
  cases.push_back({"money min", money(INT64_MIN), false, "-922337203685477.5808"});
  cases.push_back({"money 1234567.5 has no group separator", money(12345675000), false, "1234567.5000"});
  {
    Variant empty;
    empty.set(date_st{0});
    cases.push_back({"empty date", empty, false, "0000-00-00"});
  }
  cases.push_back({"date", date(2020, 1, 15), false, "2020-01-15"});
  cases.push_back({"date 1000-03-01", date(1000, 3, 1), false, "1000-03-01"});
  cases.push_back({"date -44-03-15", date(-44, 3, 15), false, "-0044-03-15"});
  {
    Variant empty;
    empty.set(datetime_st{0, 0});
    cases.push_back({"empty datetime", empty, false, "0000-00-00 00:00:00"});
  }
  cases.push_back({"datetime", datetime(2020, 1, 15, 10, 30, 45, 678), false, "2020-01-15 10:30:45"});
  cases.push_back({"datetime midnight", datetime(1999, 12, 31, 0, 0, 0), false, "1999-12-31 00:00:00"});
  cases.push_back({"datetime 23:59:59", datetime(2000, 2, 29, 23, 59, 59, 999), false, "2000-02-29 23:59:59"});
  cases.push_back({"string", string_value("héllo"), false, "héllo"});

  for (const FixedCase& c : cases) {
    EXPECT_EQ(text(variant_to_string(c.value, c.trim)), c.expected) << c.name;
  }
}

TEST(ValueTextTest, ToStringCharsetsAndSharing) {
  EXPECT_EQ(variant_to_string(integer(5)).get_charset(), Charset::ascii);
  EXPECT_EQ(variant_to_string(date(2020, 1, 1)).get_charset(), Charset::ascii);
  EXPECT_EQ(variant_to_string(datetime(2020, 1, 1, 1, 1, 1)).get_charset(), Charset::ascii);
  EXPECT_EQ(variant_to_string(numeric(1.5, 1)).get_charset(), Charset::utf8);
  EXPECT_EQ(variant_to_string(money(10000)).get_charset(), Charset::utf8);
  Variant s = string_value("shared");
  String t = variant_to_string(s);
  EXPECT_EQ(t.read(), s.string.read());  // the string itself, shared
}

TEST(ValueTextTest, ToStringArrayReferenceAndErrors) {
  Variant a;
  a.dimension(nullptr, 2, 0);
  EXPECT_EQ(text(variant_to_string(a)), "array");
  a.release(nullptr);

  Variant target = numeric(2.5, 2);
  Variant ref;
  target.ref(nullptr, &ref, nullptr);
  EXPECT_EQ(text(variant_to_string(ref)), "2.50");
  ref.release(nullptr);

  Variant bad;
  bad.tag = 8;
  EXPECT_EQ(error_code([&] { variant_to_string(bad); }), 1001);
  bad.tag = 9;
  EXPECT_EQ(error_code([&] { variant_to_string(bad); }), 1001);
  bad.tag = VT_FALSE;
}

class ValueTextObjectTest : public qzbase::testing_fakes::FakeObjectTest {};

TEST_F(ValueTextObjectTest, ObjectPrintsObjectThenNull) {
  qzbase::testing_fakes::FakeLog log;
  Variant v;
  v.set_new_object(new qzbase::testing_fakes::FakeObject(&log, "o"));
  EXPECT_EQ(text(variant_to_string(v)), "object");
  // A second handle keeps the control block while the object dies.
  Variant weak;
  std::memcpy(static_cast<void*>(&weak), &v, sizeof v);
  v.object.control->refs.fetch_add(1);
  v.release(nullptr);
  EXPECT_EQ(text(variant_to_string(weak)), "null");
  object_ptr_base::release_control(weak.object.control);
  weak.tag = VT_FALSE;
}

// Digits taken from fcvt's static buffer let threads formatting at once garble each other's text.
TEST(ValueTextTest, FormatNumericIsThreadSafe) {
  std::atomic<int> wrong{0};
  auto work = [&](double base, const char* expected) {
    for (int i = 0; i < 100000; ++i) {
      Variant v = numeric(base, 4);
      if (text(variant_to_string(v)) != expected) ++wrong;
    }
  };
  std::thread a(work, 1234.5678, "1234.5678");
  std::thread b(work, 8765.4321, "8765.4321");
  std::thread c(work, 0.0625, "0.0625");
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A fixed 128-byte text overran with large decimals: the capacity is now checked and
// the decimals are bounded by what fcvt_r gives (17).
TEST(ValueTextTest, LargeDecimalsAreBounded) {
  Variant v = numeric(1.5, 200);
  EXPECT_EQ(text(variant_to_string(v)), "1.50000000000000000");
  Variant w = numeric(-123456789012345.5, 200);
  EXPECT_EQ(text(variant_to_string(w)), "-123456789012345.50000000000000000");
  Variant big = numeric(0.5, free_decimals);
  SessionSettings s = default_session_settings();
  s.decimals = 100000;  // SET DECIMALS far beyond any double's digits
  Runtime rt(nullptr);
  EXPECT_EQ(text(variant_to_string_regional(big, s, &rt)), "0.50000000000000000");
  char small[4];
  EXPECT_THROW(format_numeric(2, small, sizeof small, U'.', 15, false, 1234.5), std::length_error);
  EXPECT_THROW(format_money(12345000, small, sizeof small, U'.', 0), std::length_error);
}

// ---------------------------------------------------------------------------------------------
// format_money
// ---------------------------------------------------------------------------------------------

TEST(ValueTextTest, FormatMoneyGroupsAndPoints) {
  char buf[64];
  struct {
    money_wide raw;
    char32_t point, separator;
    const char* expected;
  } cases[] = {
      {12345675000, U'.', U',', "1,234,567.5000"},
      {-12345675000, U',', U'.', "-1.234.567,5000"},
      {1230000, U'.', U',', "123.0000"},
      {1234560000, U'.', U',', "123,456.0000"},
      {0, U'.', U',', "0.0000"},
      {12345675000, U'\u00B7', U'\u2009', "1\u2009234\u2009567\u00B75000"},
  };
  for (const auto& c : cases) {
    size_t n = format_money(c.raw, buf, sizeof buf, c.point, c.separator);
    EXPECT_EQ(std::string(buf, n), c.expected);
  }
}

// ---------------------------------------------------------------------------------------------
// to_string_regional
// ---------------------------------------------------------------------------------------------

struct RegionalCase {
  const char* name;
  uint32_t style;
  bool century;
  const char* mark;
  uint32_t hours;
  bool seconds;
  Variant value;
  const char* expected;
};

SessionSettings settings_for(uint32_t style, bool century, const char* mark, uint32_t hours, bool seconds) {
  SessionSettings s = default_session_settings();
  s.date_format = style;
  s.century = century;
  std::strncpy(s.mark, mark, sizeof s.mark - 1);
  s.mark[sizeof s.mark - 1] = 0;
  s.hours = hours;
  s.seconds = seconds;
  return s;
}

TEST(ValueTextTest, RegionalNumbersUnderPointAndDecimals) {
  Runtime rt(nullptr);
  SessionSettings s = default_session_settings();
  std::strcpy(s.decimal_point, ",");
  s.decimal_point_code = U',';
  s.decimals = 5;
  VmStack stack;
  stack.session_settings = &s;
  struct {
    Variant value;
    bool trim;
    const char* expected;
  } cases[] = {
      {numeric(2.5, 2), false, "2,50"},
      {numeric(1.0 / 3.0, free_decimals), false, "0,33333"},
      {numeric(2.0, free_decimals), false, "2,00000"},
      {numeric(2.0, free_decimals), true, "2"},
      {numeric(0.000123, free_decimals), false, "0,00012"},
      {numeric(1e16, free_decimals), false, "1.000000E+16"},
      {money(12345000), false, "1234,5000"},
      {money(-5000), false, "-0,5000"},
      {integer(-7), false, "-7"},
      {boolean(2), false, "true"},
      {string_value("x"), false, "x"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(text(variant_to_string_regional(c.value, &stack, &rt, c.trim)), c.expected);
  }
  // A point that is not ASCII is written in UTF-8.
  s.decimal_point_code = U'\u00B7';
  EXPECT_EQ(text(variant_to_string_regional(numeric(2.5, 2), &stack, &rt)), "2\u00B750");
  EXPECT_EQ(text(variant_to_string_regional(money(15000), &stack, &rt)), "1\u00B75000");
  // A stack without a Runtime: numbers format, dates cannot.
  VmStack bare;
  EXPECT_EQ(text(variant_to_string_regional(numeric(2.5, 2), &bare)), "2.50");
  EXPECT_EQ(error_code([&] { variant_to_string_regional(date(2020, 1, 1), &bare); }), 1001);
  // A null stack reads the defaults (point ".", 2 decimals).
  EXPECT_EQ(text(variant_to_string_regional(numeric(1.0 / 3.0, free_decimals), nullptr, &rt)), "0.33");
}

TEST(ValueTextTest, RegionalDateTable) {
  DefaultLocale locale("en_US");
  Runtime rt(nullptr);
  Variant d = date(2020, 1, 15);
  Variant t = datetime(2020, 1, 15, 22, 5, 9);
  Variant am = datetime(2020, 1, 15, 9, 30, 0);
  Variant empty_d;
  empty_d.set(date_st{0});
  Variant empty_t;
  empty_t.set(datetime_st{0, 0});
  std::vector<RegionalCase> cases = {
      {"AMERICAN", DATE_AMERICAN, false, "/", 12, true, d, "01/15/20"},
      {"AMERICAN century", DATE_AMERICAN, true, "/", 12, true, d, "01/15/2020"},
      {"GERMAN", DATE_GERMAN, false, ".", 24, true, d, "15.01.20"},
      {"GERMAN century", DATE_GERMAN, true, ".", 24, true, d, "15.01.2020"},
      {"BRITISH", DATE_BRITISH, false, "/", 12, true, d, "15/01/20"},
      {"BRITISH century", DATE_BRITISH, true, "/", 12, true, d, "15/01/2020"},
      {"ANSI", DATE_ANSI, false, ".", 24, true, d, "20.01.15"},
      {"ANSI century", DATE_ANSI, true, ".", 24, true, d, "2020.01.15"},
      {"YMD", DATE_YMD, false, "/", 12, true, d, "20/01/15"},
      {"YMD century", DATE_YMD, true, "/", 12, true, d, "2020/01/15"},
      {"TAIWAN (roc year 109)", DATE_TAIWAN, true, "/", 24, true, d, "0109/01/15"},
      {"TAIWAN no century", DATE_TAIWAN, false, "/", 24, true, d, "09/01/15"},
      {"USA with a longer mark", DATE_USA, true, "--", 12, true, d, "01--15--2020"},
      {"SHORT (medium date of en_US)", DATE_SHORT, false, "/", 12, true, d, "Jan 15, 2020"},
      {"LONG (full date of en_US)", DATE_LONG, false, "/", 12, true, d, "Wednesday, January 15, 2020"},
      {"empty AMERICAN", DATE_AMERICAN, false, "/", 12, true, empty_d, "__/__/__"},
      {"empty GERMAN century", DATE_GERMAN, true, ".", 24, true, empty_d, "__.__.____"},
      {"empty ANSI century", DATE_ANSI, true, ".", 24, true, empty_d, "____.__.__"},
      // datetimes: HOURS 12/24, SECONDS on/off, separators ", " and ":"
      {"AMERICAN 12h seconds", DATE_AMERICAN, true, "/", 12, true, t, "01/15/2020, 10:05:09 PM"},
      {"AMERICAN 12h no seconds", DATE_AMERICAN, true, "/", 12, false, t, "01/15/2020, 10:05 PM"},
      {"AMERICAN 12h morning", DATE_AMERICAN, false, "/", 12, true, am, "01/15/20, 09:30:00 AM"},
      {"AMERICAN 24h seconds", DATE_AMERICAN, true, "/", 24, true, t, "01/15/2020, 22:05:09"},
      {"GERMAN 24h no seconds", DATE_GERMAN, true, ".", 24, false, t, "15.01.2020, 22:05"},
      {"BRITISH 12h", DATE_BRITISH, true, "/", 12, true, t, "15/01/2020, 10:05:09 PM"},
      {"ANSI 24h", DATE_ANSI, false, ".", 24, true, t, "20.01.15, 22:05:09"},
      {"YMD 24h", DATE_YMD, true, "/", 24, false, t, "2020/01/15, 22:05"},
      {"TAIWAN 24h", DATE_TAIWAN, true, "/", 24, true, t, "0109/01/15, 22:05:09"},
      {"SHORT datetime (U+202F becomes a blank)", DATE_SHORT, false, "/", 12, true, t, "Jan 15, 2020, 10:05:09 PM"},
      {"empty datetime AMERICAN 12h", DATE_AMERICAN, true, "/", 12, true, empty_t, "__/__/____, __:__:__ AM"},
      {"empty datetime GERMAN 24h", DATE_GERMAN, true, ".", 24, false, empty_t, "__.__.____, __:__"},
  };
  for (RegionalCase& c : cases) {
    SessionSettings s = settings_for(c.style, c.century, c.mark, c.hours, c.seconds);
    VmStack stack(&rt, 16, 16);  // the stack's Runtime gives the date formats
    SessionSettings* saved = stack.session_settings;
    stack.session_settings = &s;
    EXPECT_EQ(text(variant_to_string_regional(c.value, &stack)), c.expected) << c.name;
    stack.session_settings = saved;
  }
}

TEST(ValueTextTest, RegionalLongDatetimeUsesEnUs) {
  DefaultLocale locale("de_DE");
  Runtime rt(nullptr);
  SessionSettings s = settings_for(DATE_LONG, false, "/", 12, true);
  std::string shown = text(variant_to_string_regional(datetime(2020, 1, 15, 22, 5, 9), s, &rt));
  EXPECT_EQ(shown.rfind("Wednesday, January 15, 2020", 0), 0u) << shown;
  EXPECT_NE(shown.find("10:05:09 PM"), std::string::npos) << shown;
  // The date form follows the default locale.
  EXPECT_EQ(text(variant_to_string_regional(date(2020, 1, 15), s, &rt)), "Mittwoch, 15. Januar 2020");
}

// A fixed 32 UTF-16 units fails with 11 beyond; SET DATE LONG in pt_BR needs more for most
// dates.
TEST(ValueTextTest, LongDatesOfPtBrDoNotFail) {
  DefaultLocale locale("pt_BR");
  Runtime rt(nullptr);
  SessionSettings s = settings_for(DATE_LONG, false, "/", 12, true);
  std::string shown = text(variant_to_string_regional(date(2020, 9, 16), s, &rt));
  EXPECT_EQ(shown, "quarta-feira, 16 de setembro de 2020");
  std::u16string units;
  date_format_st f = rt.dateFormat(DATE_LONG, false, "/");
  ASSERT_GT(text(format_date_regional(make_date(2020, 9, 16), f)).size(), 32u);
  std::string dt = text(variant_to_string_regional(datetime(2020, 9, 16, 10, 0, 0), s, &rt));
  EXPECT_EQ(dt.rfind("Wednesday, September 16, 2020", 0), 0u) << dt;
}

// Dates before the Gregorian reform are shown proleptic, like the stored day numbers: the
// weekday of 1000-01-01 (proleptic Gregorian) is the one its Julian day number gives.
TEST(ValueTextTest, ProlepticDatesBefore1582) {
  DefaultLocale locale("en_US");
  Runtime rt(nullptr);
  date_st d = make_date(1000, 1, 1);
  static const char* const weekdays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
  std::string expected = std::string(weekdays[d.day % 7]) + ", January 1, 1000";
  EXPECT_EQ(text(format_date_regional(d, rt.dateFormat(DATE_LONG, true, "/"))), expected);
  EXPECT_EQ(text(format_date_regional(d, rt.dateFormat(DATE_GERMAN, true, "."))), "01.01.1000");
  EXPECT_EQ(text(format_date_regional(make_date(1582, 10, 10), rt.dateFormat(DATE_ANSI, true, "-"))),
            "1582-10-10");
}

// Each thread keeps its calendar; it is opened again when the default time zone changes.
TEST(ValueTextTest, RegionalDatetimeFollowsTheDefaultZone) {
  DefaultLocale locale("en_US");
  Runtime rt(nullptr);
  SessionSettings s = settings_for(DATE_LONG, false, "/", 12, true);
  Variant t = datetime(2020, 1, 15, 10, 5, 9);
  std::string utc = text(variant_to_string_regional(t, s, &rt));
  EXPECT_NE(utc.find("10:05:09 AM Coordinated Universal Time"), std::string::npos) << utc;
  UErrorCode st = U_ZERO_ERROR;
  ucal_setDefaultTimeZone(u"Europe/Berlin", &st);
  std::string berlin = text(variant_to_string_regional(t, s, &rt));
  st = U_ZERO_ERROR;
  ucal_setDefaultTimeZone(u"UTC", &st);
  EXPECT_NE(berlin.find("10:05:09 AM Central European Standard Time"), std::string::npos) << berlin;
  EXPECT_EQ(text(variant_to_string_regional(t, s, &rt)), utc);
}

TEST(ValueTextTest, RegionalDatesFromSeveralThreads) {
  DefaultLocale locale("en_US");
  Runtime rt(nullptr);
  std::atomic<int> wrong{0};
  auto work = [&](int k) {
    SessionSettings s = settings_for(k % 2 ? DATE_GERMAN : DATE_AMERICAN, true, k % 2 ? "." : "/", 24, true);
    Variant d = date(2000 + k, 2, 3);
    std::string expected = k % 2 ? "03.02." + std::to_string(2000 + k) : "02/03/" + std::to_string(2000 + k);
    for (int i = 0; i < 3000; ++i) {
      if (text(variant_to_string_regional(d, s, &rt)) != expected) ++wrong;
    }
  };
  std::vector<std::thread> threads;
  for (int k = 0; k < 6; ++k) threads.emplace_back(work, k);
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Implicit casts: the matrix as a table
// ---------------------------------------------------------------------------------------------

// Expected outcome per code 0..31 for each tag: '.' error 11, 'k' unchanged, or the tag letter
// of the converted value: 'I' integer, 'N' numeric, 'Y' money, 'D' date, 'T' datetime.
const char* const kExpectedMatrix[16] = {
    //          1111111111222222222233
    // 1234567890123456789012345678901
    "kk..............kk..............",  // 0 false
    "k...k...........kk..kkkkkkkkkk..",  // 1 null
    "kk..............kk..............",  // 2 true
    "k....kNY........k....kNY........",  // 3 integer
    "k....IkY........k....IkY........",  // 4 numeric
    "k....INk........k....INk........",  // 5 money
    "k.......kT......k.......kT......",  // 6 date
    "k.......Dk......k.......Dk......",  // 7 datetime
    "................................",  // 8 never
    "................................",  // 9 never
    "k.........k.....k.........k.....",  // 10 string
    "k..........k....k..........k....",  // 11 object
    "k............k..k............k..",  // 12 array
    "k...........k...k...........k...",  // 13 reference
    "................................",  // 14
    "................................",  // 15
};

Variant sample(unsigned tag, std::vector<Variant>* keep) {
  switch (tag) {
    case 0:
    case 1:
    case 2:
      return boolean(static_cast<int>(tag));
    case 3:
      return integer(42);
    case 4:
      return numeric(-12.75, 2);
    case 5:
      return money(125000);
    case 6:
      return date(2020, 1, 15);
    case 7:
      return datetime(2020, 1, 15, 10, 30, 0);
    case 10:
      return string_value("s");
    case 11: {
      Variant o;
      o.tag = VT_OBJECT;
      o.object = object_ptr_st{nullptr, nullptr};  // an empty object reference
      return o;
    }
    case 12: {
      Variant a;
      a.dimension(nullptr, 1, 0);
      return a;
    }
    case 13: {
      keep->push_back(integer(1));
      Variant r;
      keep->back().ref(nullptr, &r, nullptr);
      return r;
    }
    default:
      return Variant();
  }
}

TEST(ValueTextTest, ImplicitCastMatrixTable) {
  for (unsigned tag = 0; tag < 16; ++tag) {
    for (unsigned code = 0; code < 32; ++code) {
      char expected = kExpectedMatrix[tag][code];
      ImplicitCast kind = implicit_cast_kind(tag, code);
      EXPECT_EQ(kind == CAST_ERROR, expected == '.') << "tag " << tag << " code " << code;
      if (tag == 8 || tag == 9 || tag > 13) continue;
      std::vector<Variant> keep;
      keep.reserve(1);
      Variant v = sample(tag, &keep);
      int err = error_code([&] { variant_cast_implicitly(&v, code); });
      if (expected == '.') {
        EXPECT_EQ(err, 11) << "tag " << tag << " code " << code;
        EXPECT_EQ(v.tag, tag);
      } else if (expected == 'k') {
        EXPECT_EQ(err, 0);
        EXPECT_EQ(v.tag, tag) << "tag " << tag << " code " << code;
      } else {
        EXPECT_EQ(err, 0) << "tag " << tag << " code " << code;
        const std::string letters = "INYDT";
        EXPECT_EQ(v.tag, VT_INTEGER + letters.find(expected)) << "tag " << tag << " code " << code;
      }
      v.release(nullptr);
      for (Variant& k : keep) k.release(nullptr);
    }
  }
  Variant v = integer(1);
  v.tag = 32;
  EXPECT_THROW(variant_cast_implicitly(&v, 0), assert_failed_exception);
  v.tag = VT_INTEGER;
  EXPECT_THROW(variant_cast_implicitly(&v, 32), assert_failed_exception);
}

TEST(ValueTextTest, ImplicitCastValues) {
  Variant m = money(125000);  // 12.5
  variant_cast_implicitly(&m, DECLARED_NUMERIC);
  EXPECT_EQ(m.tag, VT_NUMERIC);
  EXPECT_EQ(m.numeric.value, 12.5);
  EXPECT_EQ(m.numeric.decimals, 4u);

  Variant d = date(2020, 1, 15);
  uint32_t day = d.date.day;
  variant_cast_implicitly(&d, DECLARED_DATETIME);
  EXPECT_EQ(d.tag, VT_DATETIME);
  EXPECT_EQ(d.datetime.day, day);
  EXPECT_EQ(d.datetime.ms, 0);

  Variant t = datetime(2020, 1, 15, 10, 0, 0);
  variant_cast_implicitly(&t, DECLARED_DATE | DECLARED_OR_NULL);
  EXPECT_EQ(t.tag, VT_DATE);
  EXPECT_EQ(t.date.day, day);

  Variant null = boolean(1);
  variant_cast_implicitly(&null, DECLARED_NUMERIC | DECLARED_OR_NULL);
  EXPECT_EQ(null.tag, VT_NULL);
  EXPECT_EQ(error_code([&] { variant_cast_implicitly(&null, DECLARED_NUMERIC); }), 11);

  Variant n = numeric(-12.75, 2);
  variant_cast_implicitly(&n, DECLARED_INTEGER);
  EXPECT_EQ(n.tag, VT_INTEGER);
  EXPECT_EQ(n.integer.value, -12);

  Variant n2 = numeric(-12.75678, 5);
  variant_cast_implicitly(&n2, DECLARED_MONEY);
  EXPECT_EQ(n2.tag, VT_MONEY);
  EXPECT_TRUE(n2.money.value == -127567);  // truncated

  Variant i = integer(7);
  variant_cast_implicitly(&i, DECLARED_MONEY);
  EXPECT_TRUE(i.money.value == 70000);
  variant_cast_implicitly(&i, DECLARED_INTEGER);
  EXPECT_EQ(i.integer.value, 7);
  variant_cast_implicitly(&i, DECLARED_NUMERIC);
  EXPECT_EQ(i.numeric.value, 7.0);
  EXPECT_EQ(i.numeric.decimals, 0u);

  Variant neg = money(-129999);
  variant_cast_implicitly(&neg, DECLARED_INTEGER);
  EXPECT_EQ(neg.integer.value, -12);  // truncated toward zero

  // Money range: 1988.
  Variant big = integer(INT64_MAX / 1000);
  EXPECT_EQ(error_code([&] { variant_cast_implicitly(&big, DECLARED_MONEY); }), 1988);
  Variant huge = numeric(1e30, free_decimals);
  EXPECT_EQ(error_code([&] { variant_cast_implicitly(&huge, DECLARED_MONEY); }), 1988);
  Variant nan = numeric(std::nan(""), free_decimals);
  EXPECT_EQ(error_code([&] { variant_cast_implicitly(&nan, DECLARED_MONEY); }), 1988);
}

// ---------------------------------------------------------------------------------------------
// string_to_money
// ---------------------------------------------------------------------------------------------

TEST(ValueTextTest, StringToMoneyTable) {
  struct {
    const char* text;
    char32_t point;
    int result;
    int64_t raw;  // when result is 0
  } cases[] = {
      {" -12.34567", U'.', 0, -123457},
      {" - 12.34567", U'.', 0, -123457},
      {"1,234.5", U'.', 0, 10000},
      {"12.5abc", U'.', 0, 125000},
      {"12", U'.', 0, 120000},
      {"12.", U'.', 0, 120000},
      {".5", U'.', 0, 5000},
      {"0.00005", U'.', 0, 1},
      {"0.00004", U'.', 0, 0},
      {"-0.00005", U'.', 0, -1},
      {"1.23456789", U'.', 0, 12346},
      {"1,5", U',', 0, 15000},
      {"1.5", U',', 0, 10000},
      {"", U'.', 0, 0},
      {"abc", U'.', 0, 0},
      {"   ", U'.', 0, 0},
      {"-", U'.', 0, 0},
      {"922337203685477.5807", U'.', 0, INT64_MAX},
      {"-922337203685477.5808", U'.', 0, INT64_MIN},
      {"922337203685477.5808", U'.', 1988, 0},
      {"99999999999999999999999999999999", U'.', 1988, 0},
  };
  for (const auto& c : cases) {
    money_type_st out;
    out.value = 777;
    int rc = string_to_money(c.text, std::strlen(c.text), Charset::utf8, &out, c.point, U',');
    EXPECT_EQ(rc, c.result) << c.text;
    if (c.result == 0) {
      EXPECT_TRUE(out.value == c.raw) << c.text << " gave " << static_cast<int64_t>(out.value);
    } else {
      EXPECT_TRUE(out.value == 777) << c.text;  // untouched
    }
  }
  // Other charsets decode through next.
  const char16_t u16[] = u"12,75";
  money_type_st out;
  EXPECT_EQ(string_to_money(reinterpret_cast<const char*>(u16), 10, Charset::utf16le, &out, U',', U'.'), 0);
  EXPECT_TRUE(out.value == 127500);
}

TEST(ValueTextTest, DecimalConversions) {
  numeric_type_st n;
  Decimal{12, 5, 2, false}.to_numeric(&n);  // 12.05
  EXPECT_EQ(n.value, 12.05);
  EXPECT_EQ(n.decimals, 2u);
  Decimal{3, 25, 3, true}.to_numeric(&n);  // -3.025
  EXPECT_EQ(n.value, -3.025);
  EXPECT_EQ(n.decimals, 3u);
  Decimal{0, 123456789012345678, 18, false}.to_numeric(&n);
  EXPECT_EQ(n.value, 0.123456789012345678);
  Decimal{9223372036854775807, 1, 30, true}.to_numeric(&n);  // the digits as written, rounded once
  EXPECT_EQ(n.value, -9223372036854775807.000000000000000000000000000001);
  EXPECT_EQ(n.decimals, 30u);
  money_type_st m;
  Decimal{12, 34567, 5, false}.to_money(&m);  // truncated to 12.3456
  EXPECT_TRUE(m.value == 123456);
  Decimal{1, 5, 1, true}.to_money(&m);
  EXPECT_TRUE(m.value == -15000);
  EXPECT_EQ(error_code([&] { Decimal{922337203685478, 0, 0, false}.to_money(&m); }), 1988);
}

// ---------------------------------------------------------------------------------------------
// Checked conversions
// ---------------------------------------------------------------------------------------------

TEST(ValueTextTest, ConversionOperatorsRaise107) {
  Variant s = string_value("x");
  Variant d = date(2020, 1, 1);
  EXPECT_EQ(error_code([&] { variant_to_bool(integer(1)); }), 107);
  EXPECT_EQ(error_code([&] { variant_to_numeric(s); }), 107);
  EXPECT_EQ(error_code([&] { variant_to_double(d); }), 107);
  EXPECT_EQ(error_code([&] { variant_to_money(boolean(2)); }), 107);
  EXPECT_EQ(error_code([&] { variant_to_date(datetime(2020, 1, 1, 0, 0, 0)); }), 107);
  EXPECT_EQ(error_code([&] { variant_to_datetime(d); }), 107);
  EXPECT_EQ(error_code([&] { variant_to_uint(s); }), 107);

  EXPECT_TRUE(variant_to_bool(boolean(2)));
  EXPECT_FALSE(variant_to_bool(boolean(0)));
  EXPECT_EQ(variant_to_numeric(integer(3)).value, 3.0);
  EXPECT_EQ(variant_to_numeric(integer(3)).decimals, 0u);
  EXPECT_EQ(variant_to_double(money(12345)), 1.2345);
  EXPECT_TRUE(variant_to_money(numeric(1.99999, 5)).value == 19999);
  EXPECT_TRUE(variant_to_money(integer(-2)).value == -20000);
  EXPECT_EQ(variant_to_uint(integer(-1)), 0xFFFFFFFFu);
  EXPECT_EQ(variant_to_ulong(integer(5)), 5ul);
  EXPECT_EQ(variant_to_date(d).day, d.date.day);
}

TEST(ValueTextTest, OutParameterCastsFollowOneReference) {
  Variant s = string_value("abc");
  Variant ref;
  s.ref(nullptr, &ref, nullptr);
  String out;
  variant_cast(ref, &out);
  EXPECT_EQ(text(out), "abc");
  String* p = nullptr;
  variant_cast(ref, &p);
  EXPECT_EQ(p, &s.string);
  ref.release(nullptr);

  Variant d = date(2020, 1, 15);
  datetime_st dt{};
  variant_cast(d, &dt);
  EXPECT_EQ(dt.day, d.date.day);
  EXPECT_EQ(dt.ms, 0);
  Variant t = datetime(2020, 1, 15, 1, 2, 3);
  date_st day{};
  variant_cast(t, &day);
  EXPECT_EQ(day.day, d.date.day);

  Array* arr = nullptr;
  EXPECT_EQ(error_code([&] { variant_cast(s, &arr); }), 11);
  EXPECT_EQ(error_code([&] { variant_cast(integer(1), &out); }), 11);
  EXPECT_EQ(error_code([&] { variant_cast(s, &day); }), 11);
  integer_type_st i;
  EXPECT_EQ(error_code([&] { variant_cast(s, &i); }), 107);
  variant_cast(numeric(-3.9, 1), &i);
  EXPECT_EQ(i.value, -3);
}

TEST(ValueTextTest, ConversionSteps) {
  EXPECT_TRUE(integer_to_money(5) == 50000);
  EXPECT_EQ(error_code([] { integer_to_money(INT64_MAX); }), 1988);
  EXPECT_TRUE(numeric_to_money_truncated(-1.23456) == -12345);
  EXPECT_EQ(money_to_int64(-129999), -12);
  EXPECT_EQ(money_to_int64_rounded(-125000), -13);
  EXPECT_EQ(money_to_int64_rounded(124999), 12);
  EXPECT_EQ(count_decimals(0.125), 3u);
  EXPECT_EQ(count_decimals(12.0), 0u);
  EXPECT_EQ(count_decimals(0.1), 1u);
  EXPECT_EQ(count_decimals(std::nan("")), 0u);
  EXPECT_EQ(count_decimals(HUGE_VAL), 0u);
}

}  // namespace
