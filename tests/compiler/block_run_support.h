// block_run_support.h - building command lines and scripts with blocks, dumping and running them.
#pragma once

#include "compiler_support.h"

#include <memory>
#include <string>
#include <vector>

#include "capture_screen.h"
#include "compiler/build_input.h"
#include "compiler/expression_parts.h"

namespace qzbase::testing_compiler {

using testing_screen::CaptureScreen;

class CaptureRuntime {
 public:
  CaptureRuntime() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 256, 64)) {}
  ~CaptureRuntime() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  CaptureRuntime(const CaptureRuntime&) = delete;
  CaptureRuntime& operator=(const CaptureRuntime&) = delete;

  CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack;
};

class BlockRun : public ::testing::Test {
 public:
  // The text as a script (kind 11, frame slots) or a command text (kind 10, no slots); null with
  // the build messages' codes in `codes` when the build fails.
  std::unique_ptr<Program> build(const std::string& text, uint32_t kind = COMPILE_KIND_PROGRAM) {
    codes.clear();
    BuildInput input(rt.stack);
    // The runtime's built-in library, as a module's import would give it.
    Compiler scratch(rt.stack, kind);
    input.import_library(builtin_library_of(scratch));
    Program* program = nullptr;
    int error = error_of([&] {
      program = kind == COMPILE_KIND_COMMAND ? input.build_command(String(text.c_str()), nullptr)
                                             : input.build_script(String(text.c_str()), nullptr);
    });
    for (const auto& m : input.messages.records) codes.push_back(m.code);
    build_error = error;
    return std::unique_ptr<Program>(program);
  }

  std::string dump(const Program* program) {
    program_dump_options_st options;
    options.symbols = rt.stack->get_symtable();
    return dump_program(program, options);
  }

  // Builds and runs the text; returns what it printed, followed by "!N" when the run raised
  // RuntimeError N (or "!build" and the message codes when the build failed), and by "=value" for a returned string.
  std::string run(const std::string& text, uint32_t kind = COMPILE_KIND_PROGRAM) {
    rt.screen.out.clear();
    std::unique_ptr<Program> program = build(text, kind);
    if (program == nullptr) {
      std::string out = "!build";
      for (uint32_t code : codes) out += " " + std::to_string(code);
      return out;
    }
    Variant result;
    int error = error_of([&] { execute_program(rt.stack, 0, false, program.get(), &result); });
    std::string out = rt.screen.out;
    if (error != 0) out += "!" + std::to_string(error);
    if (result.tag == VT_STRING) out += "=" + result.string.u8str();
    result.release(rt.stack);
    return out;
  }

  CaptureRuntime rt;
  std::vector<uint32_t> codes;
  int build_error = 0;
};

}  // namespace qzbase::testing_compiler
