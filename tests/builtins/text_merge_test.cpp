// text_merge_test.cpp - TEXT blocks, the \ and \\ lines, SET TEXTMERGE and PRETEXT() at run time.
#include "builtins_support.h"

#include <memory>
#include <string>

#include "builtins/text_merge.h"
#include "compiler/build_input.h"
#include "vm/execute.h"

namespace qzbase::testing_builtins {
namespace {

class TextMerge : public ::testing::Test {
 public:
  // Builds the text as a script and runs it; its RETURN value as text ("" when it returns none).
  std::string run_script(const char* text) {
    BuildInput input(rt.stack);
    input.import_library(rt.runtime->builtin_library());
    std::unique_ptr<Program> program;
    try {
      program.reset(input.build_script(String(text), nullptr));
    } catch (const RuntimeError& e) {
      CaptureScreen s;
      format_build_error(input, String(text), &s);
      ADD_FAILURE() << "build " << e.code << s.err;
      return "";
    }
    Variant result;
    try {
      execute_program(rt.stack, 0, false, program.get(), &result);
    } catch (const RuntimeError& e) {
      ADD_FAILURE() << "run " << e.code << " " << e.detail.u8str();
      return "";
    }
    std::string out = result.tag == VT_STRING ? static_cast<String>(result).u8str() : std::string();
    result.release(rt.stack);
    return out;
  }
  RuntimeFixture rt;
};

TEST_F(TextMerge, Explore) {
  printf("[%s]\n", run_script("x = 5\nTEXT TO v NOSHOW\na <<x>>\n b\nENDTEXT\nRETURN v\n").c_str());
  printf("[%s]\n", run_script("x = 5\nTEXT TO v TEXTMERGE\na << x >>\n b\nENDTEXT\nRETURN v\n").c_str());
  printf("[%s]\n", run_script("x = .NULL.\nTEXT TO v TEXTMERGE\na << x >>\n b\nENDTEXT\nRETURN v\n").c_str());
  printf("[%s]\n", run_script("SET TEXTMERGE ON\nx = 5\n\\a << x >>\n\\\\ b\nRETURN ''\n").c_str());
  printf("[%s]\n", run_script("SET TEXTMERGE TO MEMVAR v\nSET TEXTMERGE ON NOSHOW\nx = 5\n\\a << x >>\n\\ b\nSET TEXTMERGE TO\nRETURN v\n").c_str());
  printf("screen [%s]\n", rt.screen.out.c_str());
}

}  // namespace
}  // namespace qzbase::testing_builtins
