// line_information_test.cpp - the statement number and source location of every operation of a
// few built programs (TRY blocks, nested blocks, procedures and a class, line continuations,
// multibyte text, TEXT blocks, macros) and the first operation of every line, compared with the
// recorded answers in line_information/<name>.lines. The line information is stored compactly;
// this pins what it answers, operation by operation.
//
// To record the answers again (after a deliberate change of the code a program compiles to):
// QZ_RECORD_LINE_INFORMATION=1 test_compiler --gtest_filter='LineInformation.*'
#include "compiler_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "builtins/file_text.h"
#include "compiler/build_input.h"
#include "vm/module.h"
#include "vm/program.h"

namespace qzbase::testing_compiler {
namespace {

namespace fs = std::filesystem;

std::string location_text(const document_location_st& l) {
  std::string out;
  for (uint32_t v : {l.begin_char, l.begin_byte, l.begin_line, l.begin_column, l.end_char, l.end_byte, l.end_line,
                     l.end_column}) {
    out += std::to_string(v) + ",";
  }
  return out;
}

void describe(const Program* program, std::string* out) {
  if (program == nullptr) return;
  *out += "program " + program->name().u8str() + "\n";
  const DebugInfo* debug = program->debug_info();
  if (debug == nullptr) {
    *out += "no line information\n";
    return;
  }
  const auto locations = debug->locations();
  for (size_t i = 0; i < program->code_length(); ++i) {
    *out += std::to_string(i) + " op " + std::to_string(stored_opcode(program->op(i))) + " statement " +
            std::to_string(program->statement_of(i)) + " at ";
    auto it = locations.find(program->code() + i);
    *out += it == locations.end() ? std::string("-") : location_text(it->second);
    *out += "\n";
    // The lookup of one position (from the nearest full entry) agrees with the whole table.
    document_location_st one{};
    const bool found = debug->location_of(program->code() + i, &one);
    EXPECT_EQ(found, it != locations.end()) << i;
    if (found && it != locations.end()) {
      EXPECT_EQ(location_text(one), location_text(it->second)) << i;
    }
  }
  for (const auto& [number, position] : debug->statements()) {
    *out += "statement " + std::to_string(number) + " @" + std::to_string(position - program->code()) + "\n";
  }
  for (size_t line = 0; line <= debug->span().end_line + 1; ++line) {
    code_position first = debug->find_opcode_for_line_no(line);
    if (first != nullptr) *out += "line " + std::to_string(line) + " @" + std::to_string(first - program->code()) + "\n";
  }
  *out += "span " + location_text(debug->span()) + "\n";
}

// The line information of every program the file builds to, as text.
std::string line_information(const fs::path& file) {
  RuntimeFixture rt;
  std::string out;
  string_key_map<Module*> loaded;
  {
    BuildInput input(rt.stack);
    input.link_built_module = false;
    String name(file.c_str());
    String text = filetostr(rt.runtime, name, rt.runtime->codepage, true);
    Module* module = nullptr;
    int error = error_of([&] { module = input.build_module(name, text, &loaded); });
    out += "error " + std::to_string(error) + "\n";
    if (module != nullptr) {
      describe(module->main != nullptr ? module->main->program() : nullptr, &out);
      std::vector<std::pair<std::string, const Program*>> procedures;
      for (const auto& [symbol, function] : module->procedures) {
        procedures.emplace_back(function->program()->name().u8str(), function->program());
      }
      std::sort(procedures.begin(), procedures.end());
      for (const auto& [procedure, program] : procedures) describe(program, &out);
    }
  }
  for (auto& [key, module] : loaded) delete module;
  return out;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LineInformation, EveryOperationAnswersAsRecorded) {
  const fs::path dir = fs::path(QZ_TEST_SOURCE_DIR) / "compiler" / "line_information";
  const bool record = std::getenv("QZ_RECORD_LINE_INFORMATION") != nullptr;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".prg") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 4u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.native());
    const std::string got = line_information(file);
    fs::path expected_file = file;
    expected_file.replace_extension(".lines");
    if (record) {
      std::ofstream(expected_file, std::ios::binary | std::ios::trunc) << got;
      continue;
    }
    EXPECT_EQ(got, read_file(expected_file));
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
