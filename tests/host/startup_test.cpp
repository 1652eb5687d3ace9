// What loading the library prepares before any Runtime exists.
#include <gtest/gtest.h>
#include <qzbase.h>

#include "platform/file_io.h"
#include "values/string_internal.h"

namespace qzbase {
namespace {

// Run on its own (as ctest runs each test), nothing but loading the library has touched the
// registries here.
TEST(Startup, RegistriesAreReadyAtLoad) {
  EXPECT_NE(Charset::utf8, nullptr);
  EXPECT_NE(Charset::binary, nullptr);
  EXPECT_NE(Collation::unicode_machine, nullptr);
  EXPECT_NE(Collation::unicode_machine_ci, nullptr);
}

TEST(Startup, EmptyStringsShareOneBuffer) {
  String a;
  String b(0, Charset::utf8);
  EXPECT_EQ(a.buffer(), &empty_string_buffer);
  EXPECT_EQ(b.buffer(), &empty_string_buffer);
  EXPECT_EQ(a.size(), 0u);
}

TEST(Startup, StandardStreamNames) {
  const auto& names = standard_stream_names();
  EXPECT_EQ(names.at("qz://stdin"), 1);
  EXPECT_EQ(names.at("qz://stdout"), 2);
  EXPECT_EQ(names.at("qz://stderr"), 3);
  EXPECT_EQ(names.count("QZ://STDOUT"), 0u);
  EXPECT_EQ(names.size(), 3u);
}

}  // namespace
}  // namespace qzbase
