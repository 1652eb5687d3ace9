// Date and time display formats: patterns, empty pictures, the cache key (whole
// mark, both separators), the cache under several threads, and the Runtime's defaults.
#include <qzbase.h>

#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "values/date_format.h"
#include "host/runtime.h"
#include "values/julian.h"
#include "values/value_text.h"

using namespace qzbase;

namespace {

std::string text(const String& s) { return std::string(s.read(), s.size()); }

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

date_st day(int y, unsigned m, unsigned d) {
  date_st out{};
  serial_julian_date(y, m, d, &out);
  return out;
}

TEST(DateFormatTest, PatternsAndPictures) {
  DefaultLocale locale("en_US");
  Runtime rt(nullptr);
  struct {
    DateTimeFormat style;
    bool century;
    const char* mark;
    const char* pattern;
    const char* picture;
  } cases[] = {
      {DATE_GERMAN, true, ".", "dd.MM.yyyy", "__.__.____"},
      {DATE_AMERICAN, false, "/", "MM/dd/yy", "__/__/__"},
      {DATE_ANSI, true, ".", "yyyy.MM.dd", "____.__.__"},
      {DATE_BRITISH, true, "/", "dd/MM/yyyy", "__/__/____"},
      {DATE_ITALIAN, false, "-", "dd-MM-yy", "__-__-__"},
      {DATE_JAPAN, true, "/", "yyyy/MM/dd", "____/__/__"},
      {DATE_USA, true, "-", "MM-dd-yyyy", "__-__-____"},
      {DATE_MDY, false, "", "MMddyy", "______"},
      {DATE_TAIWAN, true, "/", "yyyy/MM/dd", "____/__/__"},
      {DATE_SHORT, false, "/", "MMM d, y", "__M __, ____"},
      {DATE_LONG, false, "/", "EEEE, MMMM d, y", "________, ________ __, ____"},
  };
  for (const auto& c : cases) {
    date_format_st f = rt.dateFormat(c.style, c.century, c.mark);
    EXPECT_EQ(text(date_format_pattern(f)), c.pattern) << c.style;
    EXPECT_EQ(text(f.empty), c.picture) << c.style;
  }
  date_format_st f = rt.dateTimeFormat(DATE_BRITISH, true, "/", 12, true, " ", ":");
  EXPECT_EQ(text(date_format_pattern(f)), "dd/MM/yyyy hh:mm:ss aa");
  EXPECT_EQ(text(f.empty), "__/__/____ __:__:__ AM");
  f = rt.dateTimeFormat(DATE_ANSI, false, ".", 24, false, ", ", ":");
  EXPECT_EQ(text(date_format_pattern(f)), "yy.MM.dd, HH:mm");
  EXPECT_EQ(text(f.empty), "__.__.__, __:__");
}

TEST(DateFormatTest, TaiwanUsesTheRocCalendar) {
  Runtime rt(nullptr);
  EXPECT_EQ(text(format_date_regional(day(2020, 1, 15), rt.dateFormat(DATE_TAIWAN, true, "/"))), "0109/01/15");
  EXPECT_EQ(text(format_date_regional(day(1912, 1, 1), rt.dateFormat(DATE_TAIWAN, false, "."))), "01.01.01");
}

TEST(DateFormatTest, CacheKeys) {
  Runtime rt(nullptr);
  date_format_st a = rt.dateFormat(DATE_GERMAN, true, ".");
  date_format_st b = rt.dateFormat(DATE_GERMAN, true, ".");
  EXPECT_EQ(a.format, b.format);  // the same combination: the same formatter
  EXPECT_NE(rt.dateFormat(DATE_GERMAN, false, ".").format, a.format);
  // The whole mark is the key (a fixed 8-byte key would read past a short mark).
  char mark1[] = {'.', 0, 'x', 'y', 'z', 'w', 'v', 'u'};
  char mark2[] = {'.', 0, 'q', 'q', 'q', 'q', 'q', 'q'};
  EXPECT_EQ(rt.dateFormat(DATE_GERMAN, true, mark1).format, rt.dateFormat(DATE_GERMAN, true, mark2).format);
  EXPECT_NE(rt.dateFormat(DATE_GERMAN, true, "..").format, a.format);
  // Both separators are part of the datetime key (else the first formatter would serve them all).
  date_format_st t1 = rt.dateTimeFormat(DATE_BRITISH, true, "/", 12, true, " ", ":");
  date_format_st t2 = rt.dateTimeFormat(DATE_BRITISH, true, "/", 12, true, " ", ":");
  date_format_st t3 = rt.dateTimeFormat(DATE_BRITISH, true, "/", 12, true, ", ", ":");
  date_format_st t4 = rt.dateTimeFormat(DATE_BRITISH, true, "/", 12, true, " ", ".");
  EXPECT_EQ(t1.format, t2.format);
  EXPECT_NE(t1.format, t3.format);
  EXPECT_NE(t1.format, t4.format);
  EXPECT_EQ(text(date_format_pattern(t3)), "dd/MM/yyyy, hh:mm:ss aa");
  EXPECT_EQ(text(date_format_pattern(t4)), "dd/MM/yyyy hh.mm.ss aa");
  EXPECT_EQ(rt.priv->datetime_formats.entries.size(), 3u);
}

TEST(DateFormatTest, OutOfRangeStyle) {
  Runtime rt(nullptr);
  try {
    rt.dateFormat(static_cast<DateTimeFormat>(14), true, ".");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_EQ(e.detail.size(), 0u);
  }
  EXPECT_THROW(rt.dateTimeFormat(static_cast<DateTimeFormat>(99), true, ".", 12, true, " ", ":"), RuntimeError);
}

TEST(DateFormatTest, EmptyPictureReplacements) {
  EXPECT_EQ(empty_date_picture(u" d.M.yyyy z "), u"__.M.____");
  EXPECT_EQ(empty_date_picture(u"y-MM-dd"), u"____-__-__");
  EXPECT_EQ(empty_datetime_picture(u"dd/MM/yy 'um' HH:mm:ss\u202Faa"), u"__/__/__ um __:__:__ AM");
  EXPECT_EQ(empty_datetime_picture(u"EEEE, MMMM d, y 'at' h:mm:ss a zzzz"), u"________, ________ __, ____ at h:__:__ a");
}

// Several threads build and use formatters of one Runtime at once: the cache is locked and each
// formatter is used under its entry's lock.
TEST(DateFormatTest, SharedCacheUnderThreads) {
  DefaultLocale locale("en_US");
  Runtime rt(nullptr);
  std::atomic<int> wrong{0};
  auto work = [&](int k) {
    const char* marks[] = {"/", ".", "-", "~"};
    for (int i = 0; i < 400; ++i) {
      const char* mark = marks[(i + k) % 4];
      date_format_st f = rt.dateFormat(DATE_ANSI, true, mark);
      std::string expected = std::string("2021") + mark + "03" + mark + "04";
      if (text(format_date_regional(day(2021, 3, 4), f)) != expected) ++wrong;
      date_format_st t = rt.dateTimeFormat(DATE_ANSI, true, mark, 24, (i & 1) != 0, " ", ":");
      datetime_st dt{day(2021, 3, 4).day, 3723000};
      std::string te = expected + " 01:02" + ((i & 1) ? ":03" : "");
      if (text(format_datetime_regional(dt, t)) != te) ++wrong;
    }
  };
  std::vector<std::thread> threads;
  for (int k = 0; k < 8; ++k) threads.emplace_back(work, k);
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(rt.priv->date_formats.entries.size(), 4u);
  EXPECT_EQ(rt.priv->datetime_formats.entries.size(), 8u);
}

TEST(RuntimeTest, Defaults) {
  Runtime rt(nullptr);
  EXPECT_EQ(rt.screen, nullptr);
  EXPECT_EQ(rt.codepage, nullptr);
  EXPECT_FALSE(rt.asserts);
  EXPECT_STREQ(rt.sys_point_text, ".");
  EXPECT_EQ(rt.sys_point, U'.');
  EXPECT_TRUE(rt.sys_point_ascii);
  EXPECT_EQ(rt.sys_separator, U',');
  EXPECT_EQ(rt.sys_decimals, 2u);
  EXPECT_EQ(rt.sys_date_format, DATE_AMERICAN);
  EXPECT_STREQ(rt.sys_mark, "/");
  EXPECT_FALSE(rt.sys_century);
  EXPECT_EQ(rt.sys_hours, 12u);
  EXPECT_TRUE(rt.sys_seconds);
  EXPECT_EQ(rt.sys_fdow, 1u);
  EXPECT_EQ(rt.fdow, 1u);
  ASSERT_NE(rt.priv, nullptr);
  EXPECT_EQ(rt.priv->argc, 0);
  EXPECT_EQ(rt.priv->argv, nullptr);
  EXPECT_EQ(rt.priv->main_stack, nullptr);
  EXPECT_EQ(rt.priv->vm.next_stack_id.load(), 1u);
  EXPECT_EQ(find_runtime_vm(&rt), &rt.priv->vm);  // the VM state is attached while it lives
  EXPECT_EQ(rt.priv->next_thread_id, 2u);
  EXPECT_EQ(rt.priv->builtin_library, nullptr);
}

TEST(RuntimeTest, DestructorClosesFormattersAndFreesArguments) {
  // The storage outlives the runtime, so its address stays valid to look up and cannot be reused
  // by another allocation before the registry is checked.
  void* storage = ::operator new(sizeof(Runtime), std::align_val_t{alignof(Runtime)});
  Runtime* rt = new (storage) Runtime(nullptr);
  rt->dateFormat(DATE_GERMAN, true, ".");
  rt->dateTimeFormat(DATE_LONG, true, ".", 24, true, " ", ":");
  rt->priv->argc = 2;
  rt->priv->argv = new char*[2]{new char[2]{'a', 0}, new char[2]{'b', 0}};
  rt->~Runtime();  // the sanitizer build reports anything left behind
  EXPECT_EQ(find_runtime_vm(static_cast<const Runtime*>(storage)), nullptr);
  ::operator delete(storage, std::align_val_t{alignof(Runtime)});
}

}  // namespace
