// Julian dates: the known days, the validity rules, datetimes, a round trip over
// the whole range 1 .. 0xFFFFFFFF, and the mended faults (early years wrapped to huge day
// numbers; 32-bit overflow of unserial for large day numbers).
#include <qzbase.h>

#include <gtest/gtest.h>

#include "values/julian.h"

using namespace qzbase;

namespace {

uint32_t jd(int y, unsigned m, unsigned d) {
  date_st out{0xDEADBEEF};
  EXPECT_EQ(serial_julian_date(y, m, d, &out), 0) << y << "-" << m << "-" << d;
  return out.day;
}

int serial_error(int y, unsigned m, unsigned d) {
  date_st out{0xDEADBEEF};
  int r = serial_julian_date(y, m, d, &out);
  if (r != 0) {
    EXPECT_EQ(out.day, 0xDEADBEEFu) << "output must stay untouched";
  }
  return r;
}

bool is_leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : days[m - 1];
}

}  // namespace

TEST(Julian, KnownDays) {
  EXPECT_EQ(jd(1, 1, 1), 1721426u);
  EXPECT_EQ(jd(-1, 12, 31), 1721059u);
  EXPECT_EQ(jd(2000, 1, 1), 2451545u);
  EXPECT_EQ(jd(1970, 1, 1), 2440588u);
  EXPECT_EQ(jd(1582, 10, 15), 2299161u);
  EXPECT_EQ(jd(1582, 10, 14), 2299160u);  // no Julian-calendar gap
  EXPECT_EQ(jd(-4713, 11, 25), 1u);
  EXPECT_EQ(jd(2000, 3, 1) - jd(2000, 2, 28), 2u);
  EXPECT_EQ(jd(1900, 3, 1) - jd(1900, 2, 28), 1u);
  int y, m, d;
  unserial_julian_date(date_st{2451545}, &y, &m, &d);
  EXPECT_EQ(y, 2000);
  EXPECT_EQ(m, 1);
  EXPECT_EQ(d, 1);
  unserial_julian_date(date_st{2299161 - 1}, &y, &m, &d);
  EXPECT_EQ(y, 1582);
  EXPECT_EQ(m, 10);
  EXPECT_EQ(d, 14);
  unserial_julian_date(date_st{0}, &y, &m, &d);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(d, 0);
}

TEST(Julian, EmptyAndInvalid) {
  date_st out{7};
  EXPECT_EQ(serial_julian_date(0, 0, 0, &out), 0);
  EXPECT_EQ(out.day, 0u);
  EXPECT_EQ(serial_error(0, 0, 5), 2034);
  EXPECT_EQ(serial_error(0, 1, 1), 2034);
  EXPECT_EQ(serial_error(2000, 0, 1), 2034);
  EXPECT_EQ(serial_error(2000, 1, 0), 2034);
}

TEST(Julian, StartOfTheDayCount) {
  EXPECT_EQ(jd(-4712, 1, 1), 38u);
  EXPECT_EQ(jd(-4713, 12, 31), 37u);  // accepted by the month rule
  EXPECT_EQ(serial_error(-4713, 11, 24), 2034);  // day 0
  // Fault: the month-12 and day >= 25 rules let any earlier year through, and the negative day
  // number was stored as a huge unsigned one.
  EXPECT_EQ(serial_error(-5000, 12, 31), 2034);
  EXPECT_EQ(serial_error(-4714, 12, 25), 2034);
  EXPECT_EQ(serial_error(-4713, 10, 30), 2034);
  EXPECT_EQ(serial_error(-2000000000, 12, 31), 2034);
  EXPECT_EQ(serial_error(-4713, 1, 25), 2034);
}

TEST(Julian, EndOfTheDayCount) {
  int y, m, d;
  unserial_julian_date(date_st{0xFFFFFFFFu}, &y, &m, &d);
  // Fault: signed 32-bit steps read this day as negative and overflow.
  EXPECT_GT(y, 11000000);
  EXPECT_EQ(jd(y, m, d), 0xFFFFFFFFu);
  int ny = y, nm = m, nd = d + 1;
  if (nd > days_in_month(y, m)) {
    nd = 1;
    if (++nm > 12) {
      nm = 1;
      ++ny;
    }
  }
  EXPECT_EQ(serial_error(ny, nm, nd), 2034);
  EXPECT_EQ(serial_error(2000000000, 1, 1), 2034);
  EXPECT_EQ(serial_error(2000, 4000000000u, 1), 2034);
  EXPECT_EQ(serial_error(2000, 1, 4294967295u), 2034);
  unserial_julian_date(date_st{0x80000000u}, &y, &m, &d);
  EXPECT_GT(y, 5000000);
  EXPECT_EQ(jd(y, m, d), 0x80000000u);
}

TEST(Julian, Datetimes) {
  datetime_st t{};
  EXPECT_EQ(serial_julian_date(2000, 1, 1, 23, 59, 59, &t), 0);
  EXPECT_EQ(t.day, 2451545u);
  EXPECT_EQ(t.ms, 86399000);
  EXPECT_EQ(serial_julian_date(2000, 1, 1, 24, 0, 0, &t), 2034);
  EXPECT_EQ(serial_julian_date(2000, 1, 1, 0, 60, 0, &t), 2034);
  EXPECT_EQ(serial_julian_date(2000, 1, 1, 0, 0, 60, &t), 2034);
  EXPECT_EQ(serial_julian_date(0, 1, 1, 0, 0, 0, &t), 2034);
  EXPECT_EQ(serial_julian_date(0, 0, 0, 0, 0, 0, &t), 0);
  EXPECT_EQ(t.day, 0u);
  EXPECT_EQ(t.ms, 0);
  int y, mo, d, h, mi, s, ms;
  unserial_julian_date(datetime_st{2451545, 45296789}, &y, &mo, &d, &h, &mi, &s, &ms);
  EXPECT_EQ(y, 2000);
  EXPECT_EQ(mo, 1);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(h, 12);
  EXPECT_EQ(mi, 34);
  EXPECT_EQ(s, 56);
  EXPECT_EQ(ms, 789);
  unserial_julian_date(datetime_st{0, 0}, &y, &mo, &d, &h, &mi, &s, &ms);
  EXPECT_EQ(y + mo + d + h + mi + s + ms, 0);
}

// Every day from 1 to 4,000,000 (up to year 6239) in sequence, then a stride across the rest of
// the range and the last 100,000 days: unserial gives a valid calendar date, serial gives the day
// back, and consecutive days are consecutive calendar dates.
TEST(Julian, RoundTripOverTheWholeRange) {
  int py = 0, pm = 0, pd = 0;
  auto check = [&](uint32_t day, bool consecutive) {
    int y, m, d;
    unserial_julian_date(date_st{day}, &y, &m, &d);
    ASSERT_GE(m, 1) << day;
    ASSERT_LE(m, 12) << day;
    ASSERT_GE(d, 1) << day;
    ASSERT_LE(d, days_in_month(y, m)) << day;
    date_st back{0};
    if (y == 0) {
      // The formula's years are astronomical: year 0 (1 BC, days 1721060 .. 1721425) comes out of
      // unserial, but serial refuses year 0 (not a valid year).
      ASSERT_GE(day, 1721060u);
      ASSERT_LE(day, 1721425u);
      ASSERT_EQ(serial_julian_date(y, static_cast<unsigned>(m), static_cast<unsigned>(d), &back), 2034) << day;
    } else {
      ASSERT_EQ(serial_julian_date(y, static_cast<unsigned>(m), static_cast<unsigned>(d), &back), 0) << day;
      ASSERT_EQ(back.day, day);
    }
    if (consecutive) {
      const bool next_day = y == py && m == pm && d == pd + 1;
      const bool next_month = y == py && m == pm + 1 && d == 1 && pd == days_in_month(py, pm);
      const bool next_year = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
      ASSERT_TRUE(next_day || next_month || next_year) << day;
    }
    py = y;
    pm = m;
    pd = d;
  };
  for (uint32_t day = 1; day <= 4000000u; ++day) {
    check(day, day > 1);
    if (HasFatalFailure()) return;
  }
  for (uint64_t day = 4000000u; day <= 0xFFFFFFFFull; day += 7919) {
    check(static_cast<uint32_t>(day), false);
    if (HasFatalFailure()) return;
  }
  for (uint64_t day = 0xFFFFFFFFull - 100000; day <= 0xFFFFFFFFull; ++day) {
    check(static_cast<uint32_t>(day), day > 0xFFFFFFFFull - 100000);
    if (HasFatalFailure()) return;
  }
}
