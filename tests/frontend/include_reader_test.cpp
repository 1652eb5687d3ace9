// The preprocessor's default reader of included files: the whole file in the runtime's default
// charset with charset detection on, a byte-order mark recognised and cut off.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "frontend/preprocessor.h"
#include "vm/vm_stack.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;

TEST(IncludeReader, DefaultCharsetWithDetection) {
  NullScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  ASSERT_TRUE(runtime->set_codepage_by_name("windows-1252"));
  {
    VmStack stack(runtime, 256, 64);
    Preprocessor pp(&stack);
    testing_files::TempDir dir;

    String plain = pp.read_file(&stack, dir.write("plain.h", "#define A 1\n"));
    EXPECT_EQ(plain.get_charset(), runtime->codepage);
    EXPECT_EQ(std::string(plain.read(), plain.size()), "#define A 1\n");

    String marked = pp.read_file(&stack, dir.write("marked.h", "\xEF\xBB\xBF#define B \"K\xC3\xB6ln\"\n"));
    EXPECT_STREQ(marked.get_charset()->name(), "utf-8-bom");
    EXPECT_EQ(std::string(marked.read(), marked.size()), "#define B \"K\xC3\xB6ln\"\n");

    try {
      pp.read_file(&stack, dir.path / "gone.h");
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1);
      EXPECT_EQ(e.detail.u8str(), (dir.path / "gone.h").string());
    }
  }
  ReleaseRuntime(runtime);
}

}  // namespace
}  // namespace qzbase
