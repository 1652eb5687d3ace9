// Tests of float-to-text conversion and of the Ryu entry points over std::to_chars.
#include "external/fcvt/fcvt.h"

#include <gtest/gtest.h>
#include <qzbase.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "external/fcvt/ryu_printf.h"

using namespace qzbase;

namespace {

struct conv_st {
  std::string digits;
  int decpt = -12345;
  int sign = -12345;
  size_t len = 12345;
  bool at_buf = false;  // the result starts at buf[0] (a carry, or a special value)
};

conv_st run(bool f, double v, int nd, size_t bufsize = 512) {
  std::vector<char> buf(bufsize ? bufsize : 1, 'X');
  conv_st r;
  char* p = f ? fcvt_cross(buf.data(), bufsize, v, nd, &r.decpt, &r.sign, &r.len)
              : ecvt_cross(buf.data(), bufsize, v, nd, &r.decpt, &r.sign, &r.len);
  EXPECT_TRUE(p == buf.data() || p == buf.data() + 1);
  r.at_buf = p == buf.data();
  r.digits = p;
  EXPECT_EQ(std::strlen(p), r.len);
  return r;
}
conv_st ecvt(double v, int nd, size_t bufsize = 512) { return run(false, v, nd, bufsize); }
conv_st fcvt(double v, int nd, size_t bufsize = 512) { return run(true, v, nd, bufsize); }

// The field as written, with '#' for every byte left unwritten.
std::string field(bool retry, size_t width, size_t decimals, double v) {
  std::string dst(width + 4, '#');
  format_numeric_field(retry, dst.data(), width, decimals, v);
  EXPECT_EQ(dst.substr(width), "####") << "wrote past the field";
  return dst.substr(0, width);
}

int field_error(bool retry, size_t width, size_t decimals, double v) {
  std::string dst(width + 4, '#');
  try {
    format_numeric_field(retry, dst.data(), width, decimals, v);
  } catch (const RuntimeError& e) {
    EXPECT_EQ(dst, std::string(width + 4, '#')) << "wrote before failing";
    return e.code;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ecvt_cross / fcvt_cross: the edge table
// ---------------------------------------------------------------------------------------------

TEST(Fcvt, CarryIntoTheFirstDigit) {
  conv_st r = ecvt(0.99999, 3);
  EXPECT_EQ(r.digits, "100");
  EXPECT_EQ(r.decpt, 1);
  EXPECT_EQ(r.len, 3u);
  EXPECT_TRUE(r.at_buf);

  r = fcvt(0.99999, 3);
  EXPECT_EQ(r.digits, "1000");
  EXPECT_EQ(r.decpt, 1);
  EXPECT_EQ(r.len, 4u);

  r = fcvt(0.6, 0);
  EXPECT_EQ(r.digits, "1");
  EXPECT_EQ(r.decpt, 1);
  EXPECT_EQ(r.len, 1u);

  r = ecvt(9.9999999, 4);
  EXPECT_EQ(r.digits, "1000");
  EXPECT_EQ(r.decpt, 2);

  r = fcvt(999.9996, 3);
  EXPECT_EQ(r.digits, "1000000");
  EXPECT_EQ(r.decpt, 4);
  EXPECT_EQ(r.len, 7u);

  r = fcvt(0.006, 2);  // rounds up to 0.01
  EXPECT_EQ(r.digits, "1");
  EXPECT_EQ(r.decpt, -1);

  r = ecvt(-0.96, 1);
  EXPECT_EQ(r.digits, "1");
  EXPECT_EQ(r.decpt, 1);
  EXPECT_EQ(r.sign, 1);
}

TEST(Fcvt, RoundingWithoutCarryOut) {
  conv_st r = ecvt(1.25, 2);  // an exact half rounds up
  EXPECT_EQ(r.digits, "13");
  EXPECT_EQ(r.decpt, 1);
  EXPECT_FALSE(r.at_buf);
  r = ecvt(1.24, 2);
  EXPECT_EQ(r.digits, "12");
  r = ecvt(1299.7, 3);  // the carry runs through a nine
  EXPECT_EQ(r.digits, "130");
  EXPECT_EQ(r.decpt, 4);
  r = fcvt(3.14159, 2);
  EXPECT_EQ(r.digits, "314");
  EXPECT_EQ(r.decpt, 1);
  r = fcvt(123.456, 1);
  EXPECT_EQ(r.digits, "1235");
  EXPECT_EQ(r.decpt, 3);
  r = fcvt(0.05, 3);
  EXPECT_EQ(r.digits, "50");
  EXPECT_EQ(r.decpt, -1);
}

TEST(Fcvt, EmptyResultAndZero) {
  conv_st r = fcvt(0.0004, 2);
  EXPECT_EQ(r.digits, "");
  EXPECT_EQ(r.decpt, -2);
  EXPECT_EQ(r.len, 0u);

  r = ecvt(0.0, 3);
  EXPECT_EQ(r.digits, "000");
  EXPECT_EQ(r.decpt, 1);
  EXPECT_EQ(r.sign, 0);
  r = fcvt(0.0, 3);
  EXPECT_EQ(r.digits, "000");
  EXPECT_EQ(r.decpt, 0);
  r = ecvt(-0.0, 2);  // the sign bit counts
  EXPECT_EQ(r.digits, "00");
  EXPECT_EQ(r.sign, 1);
  r = fcvt(0.4, 0);
  EXPECT_EQ(r.digits, "");
  EXPECT_EQ(r.decpt, 0);
}

TEST(Fcvt, SignAndSpecialValues) {
  conv_st r = ecvt(-2.5, 2);
  EXPECT_EQ(r.digits, "25");
  EXPECT_EQ(r.sign, 1);
  EXPECT_EQ(r.decpt, 1);

  r = ecvt(-std::numeric_limits<double>::infinity(), 5);
  EXPECT_EQ(r.digits, "-inf");
  EXPECT_EQ(r.sign, 0);
  EXPECT_EQ(r.len, 4u);
  EXPECT_EQ(r.decpt, 0);
  EXPECT_TRUE(r.at_buf);
  r = fcvt(std::numeric_limits<double>::infinity(), 5);
  EXPECT_EQ(r.digits, "inf");
  EXPECT_EQ(r.len, 3u);
  r = ecvt(std::numeric_limits<double>::quiet_NaN(), 5);
  EXPECT_EQ(r.digits, "nan");
  r = ecvt(-std::numeric_limits<double>::quiet_NaN(), 5);
  EXPECT_EQ(r.digits, "-nan");
  EXPECT_EQ(r.sign, 0);
}

TEST(Fcvt, AtMostSixteenSignificantDigits) {
  conv_st r = ecvt(2.0, 20);
  EXPECT_EQ(r.digits, "2" + std::string(19, '0'));
  EXPECT_EQ(r.decpt, 1);
  EXPECT_EQ(r.len, 20u);

  r = ecvt(1.0 / 3.0, 20);
  EXPECT_EQ(r.digits, "3333333333333333" + std::string(4, '0'));
  EXPECT_EQ(r.decpt, 0);

  r = ecvt(2.0 / 3.0, 18);  // 0.66666666666666662966: the seventeenth digit is 2
  EXPECT_EQ(r.digits, "6666666666666666" + std::string(2, '0'));

  r = ecvt(1.0000000000000007, 18);  // 1.00000000000000066613: rounded at the sixteenth digit
  EXPECT_EQ(r.digits, "1000000000000001" + std::string(2, '0'));
  EXPECT_EQ(r.decpt, 1);

  r = fcvt(1234.5, 20);
  EXPECT_EQ(r.digits, "12345" + std::string(19, '0'));
  EXPECT_EQ(r.decpt, 4);
  EXPECT_EQ(r.len, 24u);

  r = ecvt(1234567890123456.0, 16);
  EXPECT_EQ(r.digits, "1234567890123456");
  EXPECT_EQ(r.decpt, 16);
  r = fcvt(1e20, 2);
  EXPECT_EQ(r.digits, "1" + std::string(22, '0'));
  EXPECT_EQ(r.decpt, 21);
}

TEST(Fcvt, ExtremeMagnitudes) {
  conv_st r = ecvt(1.7976931348623157e308, 17);
  EXPECT_EQ(r.digits.substr(0, 15), "179769313486231");
  EXPECT_EQ(r.decpt, 309);
  r = ecvt(1e308, 5);
  EXPECT_EQ(r.digits, "10000");
  EXPECT_EQ(r.decpt, 309);
  r = ecvt(2.2250738585072014e-308, 5);
  EXPECT_EQ(r.digits, "22251");
  EXPECT_EQ(r.decpt, -307);
  r = ecvt(4.9406564584124654e-324, 3);  // the smallest subnormal
  EXPECT_EQ(r.digits, "494");
  EXPECT_EQ(r.decpt, -323);
  r = ecvt(1e-5, 2);
  EXPECT_EQ(r.digits, "10");
  EXPECT_EQ(r.decpt, -4);
  r = ecvt(1000.0, 4);  // an exact power of ten
  EXPECT_EQ(r.digits, "1000");
  EXPECT_EQ(r.decpt, 4);
}

TEST(Fcvt, BufferSize) {
  std::vector<char> buf(8, 'X');
  int decpt, sign;
  size_t len;
  EXPECT_THROW(ecvt_cross(buf.data(), 4, 1.5, 3, &decpt, &sign, &len), std::exception);
  EXPECT_EQ(std::string(buf.data(), 8), "XXXXXXXX");  // nothing written
  const char* p = ecvt_cross(buf.data(), 5, 1.5, 3, &decpt, &sign, &len);
  EXPECT_STREQ(p, "150");
  // A carry result needs the same room: "100" at buf[0..3].
  p = ecvt_cross(buf.data(), 5, 0.99999, 3, &decpt, &sign, &len);
  EXPECT_STREQ(p, "100");
  EXPECT_THROW(fcvt_cross(buf.data(), 5, 12.5, 2, &decpt, &sign, &len), std::exception);
  p = fcvt_cross(buf.data(), 6, 12.5, 2, &decpt, &sign, &len);
  EXPECT_STREQ(p, "1250");
}

TEST(Fcvt, TruncInsignificantDigits) {
  uint32_t v = 123456;
  trunc_insignificant_digits(&v, 2);
  EXPECT_EQ(v, 123400u);
  v = 123456;
  trunc_insignificant_digits(&v, 0);
  EXPECT_EQ(v, 123456u);
  v = 123456;
  trunc_insignificant_digits(&v, 10);
  EXPECT_EQ(v, 0u);
  v = 4294967295u;
  trunc_insignificant_digits(&v, 1);
  EXPECT_EQ(v, 4294967290u);
}

// ---------------------------------------------------------------------------------------------
// format_numeric_field
// ---------------------------------------------------------------------------------------------

TEST(NumericField, Widths) {
  EXPECT_EQ(field(false, 6, 2, 3.14159), "  3.14");
  EXPECT_EQ(field(false, 6, 2, -3.14159), " -3.14");
  EXPECT_EQ(field(false, 10, 3, 42.0), "    42.000");
  EXPECT_EQ(field(false, 3, 0, 7.0), "  7");
  EXPECT_EQ(field(false, 3, 0, 123.0), "123");
  EXPECT_EQ(field(false, 3, 2, 0.5), ".50");
  EXPECT_EQ(field(false, 20, 4, 1234567.125), "        1234567.1250");
}

TEST(NumericField, LeadingZeroOfAFullFieldIsReplacedByAPadBlank) {
  // "0.50" fills width 4; without its "0" the text is one short and is padded on the left.
  EXPECT_EQ(field(false, 4, 2, 0.5), " .50");
  EXPECT_EQ(field(false, 6, 4, 0.1234), " .1234");
  EXPECT_EQ(field(false, 1, 0, 0.0), " ");
  EXPECT_EQ(field(true, 1, 0, 0.0), " ");
  EXPECT_EQ(field(false, 5, 2, 0.5), " 0.50");  // padded by printf: no "0" to drop
}

TEST(NumericField, ExcessDecimalsAreCutNotRounded) {
  EXPECT_EQ(field(false, 5, 2, 123.456), "123.4");  // "123.46": the 6 is cut
  EXPECT_EQ(field(false, 4, 2, 123.456), "123.");   // excess 2
  EXPECT_EQ(field(false, 3, 2, 123.456), "123");    // excess 3 = decimals + 1
  EXPECT_EQ(field(false, 2, 2, 0.129), ".1");       // ".13" with the 3 cut
}

// Values whose digits end within the decimals take a shorter way than the general conversion;
// both must give printf's text, digit for digit, on either side of every boundary.
TEST(NumericField, ShortDecimalExpansionsMatchPrintf) {
  const double values[] = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 0.25, 0.125, 0.375, 2.675, 1.005, 0.1, 0.3,
                           12345.75, -98765.25, 1e15, 1e15 + 0.5, 4503599627370495.5, 4503599627370496.0,
                           9007199254740991.0, 9007199254740992.0, 1e17, -1e17, 1234567.125, 5e-324,
                           0.0625, 0.03125, 99.99, 12499.9999, 3.0 / 4, 7.0 / 8, 1.0 / 3};
  for (double v : values) {
    for (size_t decimals = 0; decimals <= 6; ++decimals) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%30.*f", static_cast<int>(decimals), v);
      EXPECT_EQ(field(false, 30, decimals, v), expected) << v << " with " << decimals << " decimals";
    }
  }
  // Cut, rounded again and overflowing like the general path.
  EXPECT_EQ(field(false, 5, 2, 123.25), "123.2");
  EXPECT_EQ(field(false, 4, 2, 0.25), " .25");
  EXPECT_EQ(field(true, 4, 2, 123.75), "124.");
  EXPECT_EQ(field(false, 8, 0, -4096.0), "   -4096");
  EXPECT_EQ(field_error(false, 3, 1, 1234.5), 39);
}

TEST(NumericField, OverflowRaises39) {
  EXPECT_EQ(field_error(false, 5, 0, 1234567.0), 39);
  EXPECT_EQ(field_error(false, 2, 0, 123.0), 39);
  EXPECT_EQ(field_error(false, 2, 2, 123.456), 39);  // excess 4 > decimals + 1
  EXPECT_EQ(field_error(false, 5, 2, 1e300), 39);
  EXPECT_EQ(field_error(false, 3, 1, -123.4), 39);
  EXPECT_EQ(field_error(false, 5, 0, 12345.0), 0);
}

TEST(NumericField, RetryRounded) {
  // "123.60" kept as "123.": the point is the last kept character, so round(123.6) is written.
  EXPECT_EQ(field(true, 4, 2, 123.6), "124.");
  EXPECT_EQ(field(false, 4, 2, 123.6), "123.");
  // No point kept at all.
  EXPECT_EQ(field(true, 3, 2, 122.5), "123");
  EXPECT_EQ(field(false, 3, 2, 122.5), "122");
  EXPECT_EQ(field(true, 3, 2, -1.5), "-2.");
  // A point inside the text: no retry.
  EXPECT_EQ(field(true, 5, 1, 2.5), "  2.5");
  // The rounded value may no longer fit.
  EXPECT_EQ(field_error(true, 2, 1, 99.5), 39);
}

TEST(NumericField, WideFields) {
  std::string f = field(false, 120, 2, 1.5);
  EXPECT_EQ(f, std::string(116, ' ') + "1.50");
}

// ---------------------------------------------------------------------------------------------
// Ryu's d2fixed and d2exp (std::to_chars with a precision)
// ---------------------------------------------------------------------------------------------

TEST(Ryu, Fixed) {
  char buf[400];
  d2fixed_buffered(3.14159, 2, buf);
  EXPECT_STREQ(buf, "3.14");
  d2fixed_buffered(0.125, 2, buf);  // exact tie: to even
  EXPECT_STREQ(buf, "0.12");
  d2fixed_buffered(2.675, 2, buf);  // just below the half in binary
  EXPECT_STREQ(buf, "2.67");
  d2fixed_buffered(1e22, 0, buf);
  EXPECT_STREQ(buf, "10000000000000000000000");
  d2fixed_buffered(-0.0, 3, buf);
  EXPECT_STREQ(buf, "-0.000");
  d2fixed_buffered(0.1, 20, buf);
  EXPECT_STREQ(buf, "0.10000000000000000555");
  EXPECT_EQ(d2fixed_buffered_n(12.5, 0, buf), 2);
  EXPECT_EQ(std::string(buf, 2), "12");
  d2fixed_buffered(std::numeric_limits<double>::infinity(), 2, buf);
  EXPECT_STREQ(buf, "Infinity");
  d2fixed_buffered(-std::numeric_limits<double>::infinity(), 2, buf);
  EXPECT_STREQ(buf, "-Infinity");
  d2fixed_buffered(std::numeric_limits<double>::quiet_NaN(), 2, buf);
  EXPECT_STREQ(buf, "nan");
  int n = d2fixed_buffered_n(1.7976931348623157e308, 2, buf);
  EXPECT_EQ(n, 309 + 3);
}

TEST(Ryu, Exp) {
  char buf[400];
  d2exp_buffered(123456.0, 3, buf);
  EXPECT_STREQ(buf, "1.235e+05");
  d2exp_buffered(123456.0, 0, buf);
  EXPECT_STREQ(buf, "1e+05");
  d2exp_buffered(0.0, 3, buf);
  EXPECT_STREQ(buf, "0.000e+00");
  d2exp_buffered(-1.5e-7, 1, buf);
  EXPECT_STREQ(buf, "-1.5e-07");
  d2exp_buffered(5e-324, 2, buf);
  EXPECT_STREQ(buf, "4.94e-324");
  d2exp_buffered(1e100, 2, buf);
  EXPECT_STREQ(buf, "1.00e+100");
  EXPECT_EQ(d2exp_buffered_n(2.5, 0, buf), 5);
  EXPECT_EQ(std::string(buf, 5), "2e+00");
  d2exp_buffered(-std::numeric_limits<double>::infinity(), 2, buf);
  EXPECT_STREQ(buf, "-Infinity");
}
