// module_pieces_test.cpp - a module text parsed piece by piece while it compiles gives the same
// module as the text parsed whole first: every language test program is built both ways and the
// module file images, the code with its statement numbers and line information, and the build
// messages must be identical.
#include "compiler_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "builtins/file_text.h"
#include "compiler/build_input.h"
#include "compiler/program_dump.h"
#include "temp_dir.h"
#include "vm/module.h"
#include "vm/module_file.h"
#include "vm/program.h"

namespace qzbase::testing_compiler {
namespace {

namespace fs = std::filesystem;
using testing_files::TempDir;

void describe_location(const document_location_st& l, std::string* out) {
  for (uint32_t v : {l.begin_char, l.begin_byte, l.begin_line, l.begin_column, l.end_char, l.end_byte, l.end_line,
                     l.end_column}) {
    *out += std::to_string(v) + ",";
  }
}

void describe_program(const Program* program, const Symtable* symbols, std::string* out) {
  if (program == nullptr) return;
  program_dump_options_st options;
  options.symbols = symbols;
  options.statements = true;
  options.header = true;
  *out += dump_program(program, options);
  const DebugInfo* debug = program->debug_info();
  if (debug == nullptr) return;
  describe_location(debug->span(), out);
  *out += "\n";
  for (const auto& [position, location] : debug->locations()) {
    *out += std::to_string(position - program->code()) + ":";
    describe_location(location, out);
    *out += "\n";
  }
  for (size_t line = 1; line <= debug->span().end_line; ++line) {
    code_position first = debug->find_opcode_for_line_no(line);
    if (first != nullptr) *out += "line " + std::to_string(line) + " @" + std::to_string(first - program->code()) + "\n";
  }
}

// Everything a build of the file gives, as text.
std::string build_record(const fs::path& file, size_t piece_bytes) {
  RuntimeFixture rt;
  std::string out;
  string_key_map<Module*> loaded;
  {
    BuildInput input(rt.stack);
    input.link_built_module = false;
    input.source_piece_bytes = piece_bytes;
    String name(file.c_str());
    String text = filetostr(rt.runtime, name, rt.runtime->codepage, true);
    Module* module = nullptr;
    int error = error_of([&] { module = input.build_module(name, text, &loaded); });
    out += "error " + std::to_string(error) + "\n";
    for (const build_message_record_st& message : input.messages.records) {
      out += "message " + std::to_string(message.code) + " ";
      describe_location(message.location, &out);
      describe_location(message.context_location, &out);
      out += message.file.native() + "\n";
    }
    if (module != nullptr) {
      Symtable* symbols = rt.stack->get_symtable();
      try {
        std::string image = module_file_image(module, symbols, 0);
        out += "image " + std::to_string(image.size()) + "\n" + image + "\n";
      } catch (...) {
        out += "image refused\n";
      }
      describe_program(module->main != nullptr ? module->main->program() : nullptr, symbols, &out);
      std::vector<std::pair<std::string, const Program*>> procedures;
      for (const auto& [symbol, function] : module->procedures) {
        procedures.emplace_back(function->program()->name().u8str(), function->program());
      }
      std::sort(procedures.begin(), procedures.end());
      for (const auto& [procedure, program] : procedures) describe_program(program, symbols, &out);
    }
  }
  for (auto& [key, module] : loaded) delete module;
  return out;
}

TEST(ModulePieces, LanguageTestsBuildAlikeWholeAndInPieces) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(QZ_TEST_SOURCE_DIR) / "lang")) {
    if (entry.is_regular_file() && entry.path().extension() == ".prg") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 20u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.native());
    std::string whole = build_record(file, 0);
    // One byte: a piece ends at nearly every line end.
    EXPECT_EQ(build_record(file, 1), whole);
    EXPECT_EQ(build_record(file, 4096), whole);
  }
}

// Texts whose pieces meet blocks, conditionals, continuations, TEXT blocks, macros and errors:
// built whole and in pieces, the results (messages included) agree.
TEST(ModulePieces, MixedTextsBuildAlike) {
  const char* texts[] = {
      "#define TWICE(x) ((x) * 2)\nLOCAL a\na = TWICE(2)\nIF a > 3\n  ? a\nELSE\n  ? -a\nENDIF\n"
      "FOR i = 1 TO 3\n  a = a + ;\n    i\nNEXT\nTEXT TO s NOSHOW\n#if x\nline <<a>>\nENDTEXT\n"
      "#ifdef TWICE\n? 'defined'\n#else\n? 'not'\n#endif\nRETURN f(a)\n"
      "FUNCTION f(n)\n  DO CASE\n  CASE n > 1\n    RETURN 1\n  OTHERWISE\n    RETURN 2\n  ENDCASE\nENDFUNC\n"
      "DEFINE CLASS c AS Custom\n  p = 1\n  FUNCTION m\n    RETURN this.p\n  ENDFUNC\nENDDEFINE\n",
      // Errors: a syntax error, a stray ENDIF, an unclosed FOR, a missing #endif.
      "a = 1\nb = = 2\nENDIF\nc = 3\nFOR i = 1 TO 2\n  ? i\n#if .T.\nd = 4\n",
      "x = 1\r\ny = 2\r\n* note ;\r\n  more\r\n? x + y",
  };
  TempDir dir;
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    fs::path file = dir.path / "mixed.prg";
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out << text;
    }
    std::string whole = build_record(file, 0);
    EXPECT_NE(whole.find("error "), std::string::npos);
    for (size_t piece_bytes : {size_t{1}, size_t{7}, size_t{64}}) {
      SCOPED_TRACE(piece_bytes);
      EXPECT_EQ(build_record(file, piece_bytes), whole);
    }
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
