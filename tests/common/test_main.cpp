// Shared main of every test binary: pins the environment the tests depend on.
#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  setenv("LANG", "C.UTF-8", 1);
  setenv("LC_ALL", "C.UTF-8", 1);  // would override LANG
  setenv("TZ", "UTC", 1);
  tzset();
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault("en_US", &status);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  return RUN_ALL_TESTS();
}
