// keyword_lines_test.cpp - every keyword alone on a line and every built-in command without
// arguments, built as a module and as a command line: each builds or records build messages,
// none breaks the front end (a NOTE line once crashed it: its statement is null).
#include "compiler_support.h"

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "builtins/library.h"
#include "compiler/build_input.h"
#include "frontend/scanner.h"
#include "temp_dir.h"
#include "vm/module.h"

namespace qzbase::testing_compiler {
namespace {

using testing_files::TempDir;

// The lines to build: each keyword, then each command row's name with blanks for underscores.
std::vector<std::string> lines_to_build(Runtime* runtime) {
  std::vector<std::string> lines;
  for (const scanner_keyword_st* row = scanner_keyword_table; row->word != nullptr; ++row) {
    std::string word;
    for (const char32_t* c = row->word; *c != 0; ++c) word += static_cast<char>(*c);
    lines.push_back(word);
  }
  for (const module_command_st* row = runtime->builtin_library()->description().commands; row->name != nullptr;
       ++row) {
    std::string words;
    for (const char* c = row->name; *c != 0; ++c) {
      words += *c == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    lines.push_back(words);
  }
  return lines;
}

class KeywordLines : public ::testing::Test {
 public:
  RuntimeFixture rt;
  TempDir dir;
};

// A failed build names why: at least one build message (never a bare error, never a broken
// invariant).
TEST_F(KeywordLines, EachBuildsOrRecordsMessages) {
  std::vector<std::string> lines = lines_to_build(rt.runtime);
  ASSERT_GT(lines.size(), kScannerKeywordCount);
  for (const std::string& line : lines) {
    for (const char* form : {"module", "command"}) {
      BuildInput input(rt.stack);
      input.import_library(rt.runtime->builtin_library());
      string_key_map<Module*> loaded;
      int error = error_of([&] {
        if (form[0] == 'm') {
          input.build_module(String(dir.path / "line.prg"), String((line + "\n").c_str()), &loaded);
        } else {
          delete input.build_command(String(line.c_str()), nullptr);
        }
      });
      for (auto& [name, module] : loaded) delete module;
      EXPECT_NE(error, -1) << form << ": " << line;
      if (error != 0) {
        EXPECT_FALSE(input.messages.empty()) << form << ": " << line << " failed with " << error;
      }
    }
  }
}

// A NOTE line is a comment as a whole, in any case and inside a block, as a module and typed.
TEST_F(KeywordLines, NoteLinesAreComments) {
  for (const char* text : {"NOTE x\n", "note lower case\n", "IF .T.\n  NOTE inside\nENDIF\n", "NOTE\n"}) {
    BuildInput module_input(rt.stack);
    module_input.import_library(rt.runtime->builtin_library());
    string_key_map<Module*> loaded;
    EXPECT_EQ(error_of([&] { module_input.build_module(String(dir.path / "note.prg"), String(text), &loaded); }), 0)
        << text;
    EXPECT_TRUE(module_input.messages.empty()) << text;
    for (auto& [name, module] : loaded) delete module;

    BuildInput command_input(rt.stack);
    command_input.import_library(rt.runtime->builtin_library());
    EXPECT_EQ(error_of([&] { delete command_input.build_command(String(text), nullptr); }), 0) << text;
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
